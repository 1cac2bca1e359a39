// Hand-written endpoints for the STPSpecClass tests, written the way the
// generated classes use the base class: an ASCII "Calc" interface (server
// and client roles, with deliberately different views of each other's
// tables) and a binary "Bin" interface whose two sides know different
// field tags.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"
#include "stp_test_pump.h"

namespace spectest {

// --- the ASCII "Calc" interface ---
// What the server receives (its own table).
inline const STPMessageDesc kCalcServerMsgs[] = {
    {"Add", "a:%num% b:%num% | sum:%num% ", 0, 1},
    {"Extra", "x:%num% ", 1, 2},
    {"Ping", "text:%str% ", 2, 2},
    {"Txn", "n:%num% ", 3, 2 | 4},
};
// The client's older copy of the server table: no Extra/Txn, a Zzz the
// server does not know, so the row ids differ from the server's.
inline const STPMessageDesc kCalcServerMsgsOld[] = {
    {"Add", "a:%num% b:%num% | sum:%num% ", 0, 1},
    {"Ping", "text:%str% ", 1, 2},
    {"Zzz", "", 2, 2},
};
// What the client receives: Notify may only be delivered in its transaction.
inline const STPMessageDesc kCalcClientMsgs[] = {
    {"Notify", "n:%num% ", 0, 2 | 4},
};

// Counts instances destroyed, so tests can see when delRef freed one.
inline int gDestroyed = 0;

class CalcServer : public STPSpecClass {
 public:
  CalcServer() {
    setInterface("Calc", "server", "1", 0, kCalcServerMsgs, 4, kCalcClientMsgs, 1, nullptr, 0);
  }
  ~CalcServer() override { ++gDestroyed; }
  int getDefaultLocalRN() override { return 2; }
  int getDefaultRemoteRN() override { return 1; }

  std::vector<std::string> pings;
  int adds = 0, extras = 0, downHooks = 0;
  int padAddReply = 0;  // raw bytes appended to each Add reply

  void hasBeenMarkedDown() override { ++downHooks; }

  void handleAsciiMessage(STPAsciiIMsg *msg, STPAsciiOMsg *reply, int id) override {
    int len = 0;
    msg->getIdent(&len);  // the message name
    if (id == 0) {
      ++adds;
      int a = msg->getNumber("a"), b = msg->getNumber("b");
      if (reply) reply->putNumber("sum", a + b);
      if (reply && padAddReply > 0) reply->putRawString(std::string(padAddReply, 'p').c_str(), padAddReply);
    } else if (id == 1) {
      ++extras;
    } else if (id == 2) {
      char *text = msg->getString("text");
      pings.push_back(text ? text : "(null)");
      free(text);
    }
  }
  int handleCommandMessage(STPAsciiIMsg *, STPAsciiOMsg *, int, int action) override {
    return action * 2;
  }

  // Sends Notify (client row 0) one way.
  bool send_Notify(int n, TStat *stat) {
    SendScope scope(this, nullptr, stat);
    if (!canSendRow(0, false, false, scope.stat())) return false;
    STPAsciiOMsg *m = newAsciiSend(0, false);
    m->putNumber("n", n);
    return completeOneWay(scope, m, false);
  }
};

inline int gNotified = 0;  // Notify messages handled, by any client

class CalcClient : public STPSpecClass {
 public:
  CalcClient() {
    setInterface("Calc", "client", "1", 0, kCalcClientMsgs, 1, kCalcServerMsgsOld, 3, nullptr, 0);
  }
  ~CalcClient() override { ++gDestroyed; }
  int getDefaultLocalRN() override { return 1; }
  int getDefaultRemoteRN() override { return 2; }

  void handleAsciiMessage(STPAsciiIMsg *, STPAsciiOMsg *, int id) override {
    if (id == 0) ++gNotified;
  }

  // Peer rows of the old server table: 0 Add, 1 Ping, 2 Zzz.
  bool send_Ping(const char *text, bool wait, RetryHandler *rh, TStat *stat) {
    SendScope scope(this, rh, stat);
    if (!canSendRow(1, false, false, scope.stat())) return false;
    STPAsciiOMsg *m = newAsciiSend(1, false);
    m->putString("text", text);
    return completeOneWay(scope, m, wait);
  }
  bool send_Add(int a, int b, int *sum, RetryHandler *rh, TStat *stat) {
    *sum = 0;
    SendScope scope(this, rh, stat);
    if (!canSendRow(0, true, false, scope.stat())) return false;
    STPAsciiOMsg *m = newAsciiSend(0, true);
    m->putNumber("a", a);
    m->putNumber("b", b);
    STPIMsg *rep = completeRequest(scope, m);
    if (!rep) return false;
    STPAsciiIMsg r(rep);
    *sum = r.getNumber("sum");
    delete rep;
    return true;
  }
};

// --- the binary "Bin" interface: the sides' tag lists differ ---
inline const char *const kBinServerTags[] = {"a", "b", "name"};
inline const char *const kBinClientTags[] = {"a", "name", "z"};
inline const STPMessageDesc kBinServerMsgs[] = {{"Set", "a:%u4% b:%u4% name:%str% ", 0, 2}};

class BinServer : public STPSpecClass {
 public:
  explicit BinServer(int ifaceFlags) {
    setInterface("Bin", "server", "1", ifaceFlags, kBinServerMsgs, 1, nullptr, 0, kBinServerTags,
                 3);
  }
  int getDefaultLocalRN() override { return 2; }
  int getDefaultRemoteRN() override { return 1; }
  int a = -1, b = -1;
  std::string name = "(unset)";
  void handleBinaryMessage(STPBinaryIMsg *msg, STPBinaryOMsg *, int id) override {
    if (id != 0) return;
    a = msg->get4(getMappedTag(0));
    b = msg->get4(getMappedTag(1));
    char *s = msg->getS(getMappedTag(2));
    name = s ? s : "(null)";
    free(s);
  }
};

class BinClient : public STPSpecClass {
 public:
  BinClient() {
    setInterface("Bin", "client", "1", 0, nullptr, 0, kBinServerMsgs, 1, kBinClientTags, 3);
  }
  int getDefaultLocalRN() override { return 1; }
  int getDefaultRemoteRN() override { return 2; }
  // Fields with the client's own tag numbers: a 0, name 1, z 2.
  bool send_Set(int a, const char *name, int z, TStat *stat) {
    SendScope scope(this, nullptr, stat);
    if (!canSendRow(0, false, true, scope.stat())) return false;
    STPBinaryOMsg *m = newBinarySend(0, false);
    m->put4(0, a);
    m->putS(1, name);
    m->put4(2, z);
    return completeOneWay(scope, m, false);
  }
};

// Both endpoints send their negotiation, then both wait (servicing both).
inline bool negotiatePair(STPSpecClass *x, STPSpecClass *y, STPTransport *tx, STPTransport *ty) {
  PumpHandler rh({tx, ty});
  TStat st;
  return x->sendNegotiate(true, nullptr, &st) && y->sendNegotiate(true, nullptr, &st) &&
         x->awaitNegotiate(&rh, &st) && y->awaitNegotiate(&rh, &st);
}

// A Calc client (on tp.a) and server (on tp.b), not yet negotiated. The
// fixture owns one reference to each; a test that releases one itself sets
// the pointer to null.
struct CalcPairTest : ::testing::Test {
  TransportPair tp;  // a: client side, b: server side
  CalcClient *client = new CalcClient;
  CalcServer *server = new CalcServer;
  void SetUp() override {
    client->setTransport(tp.a);
    server->setTransport(tp.b);
  }
  void TearDown() override {
    if (client) client->delRef();
    if (server) server->delRef();
  }
};

}  // namespace spectest
