// STPSpecClass, the base of every endpoint: negotiation between endpoints
// whose tables differ, the send guards, the interface request, up/down
// marking, the receive path (request and reply, deferral while a
// synchronous request waits, command messages) and the synchronize barrier
// between two processes. The endpoints below are written the way the
// generated classes use the base class: an ASCII "Calc" interface (server
// and client with deliberately different views of each other's tables) and
// a binary "Bin" interface whose two sides know different field tags.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"
#include "support/stp_endpoint_pair.h"

using namespace testsupport;

namespace {


// --- the ASCII "Calc" interface ---
// What the server receives (its own table).
const STPMessageDesc kCalcServerMsgs[] = {
    {"Add", "a:%num% b:%num% | sum:%num% ", 0, 1},
    {"Extra", "x:%num% ", 1, 2},
    {"Ping", "text:%str% ", 2, 2},
    {"Txn", "n:%num% ", 3, 2 | 4},
};
// The client's older copy of the server table: no Extra/Txn, a Zzz the
// server does not know, so the row ids differ from the server's.
const STPMessageDesc kCalcServerMsgsOld[] = {
    {"Add", "a:%num% b:%num% | sum:%num% ", 0, 1},
    {"Ping", "text:%str% ", 1, 2},
    {"Zzz", "", 2, 2},
};
// What the client receives: Notify may only be delivered in its transaction.
const STPMessageDesc kCalcClientMsgs[] = {
    {"Notify", "n:%num% ", 0, 2 | 4},
};

// Counts instances destroyed, so tests can see when delRef freed one.
int gDestroyed = 0;

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

  void hasBeenMarkedDown() override { ++downHooks; }

  void handleAsciiMessage(STPAsciiIMsg *msg, STPAsciiOMsg *reply, int id) override {
    int len = 0;
    msg->getIdent(&len);  // the message name
    if (id == 0) {
      ++adds;
      int a = msg->getNumber("a"), b = msg->getNumber("b");
      if (reply) reply->putNumber("sum", a + b);
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

int gNotified = 0;  // Notify messages handled, by any client

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
const char *const kBinServerTags[] = {"a", "b", "name"};
const char *const kBinClientTags[] = {"a", "name", "z"};
const STPMessageDesc kBinServerMsgs[] = {{"Set", "a:%u4% b:%u4% name:%str% ", 0, 2}};

class BinServer : public STPSpecClass {
 public:
  explicit BinServer(int ifaceFlags = 0) {
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


// A Calc client (on tp.a) and server (on tp.b), not yet negotiated.
struct CalcPairTest : ::testing::Test {
  EndpointPair<CalcClient, CalcServer> p;
  CalcClient *&client = p.a;
  CalcServer *&server = p.b;
  TransportPair &tp = p.tp;
};


using CalcFixture = CalcPairTest;

TEST_F(CalcFixture, SendBeforeNegotiationIsRefusedAndQueuesNothing) {
  TStat st;
  EXPECT_FALSE(client->send_Ping("x", false, nullptr, &st));
  EXPECT_EQ(st.code, 3);
  EXPECT_STREQ(st.message, "Attempted send before negotiation is complete.");
  int type = 0, id = 0;
  EXPECT_FALSE(tp.a->getLastMessageID(&type, &id));
  EXPECT_EQ(tp.a->getWriteBufferUsed(), 0);
}

TEST_F(CalcFixture, NegotiationUpdatesPeerRowsAndKeepsExtraPeerMessages) {
  ASSERT_TRUE(p.negotiate());
  EXPECT_STREQ(client->getPeerRole(), "server");
  EXPECT_STREQ(client->getPeerVstamp(), "1");
  EXPECT_STREQ(server->getPeerRole(), "client");
  // Ping is row 1 here but message 2 on the server; Zzz was not announced
  // and keeps its static id.
  const STPMessageDesc *rows = client->getPeerMessages();
  EXPECT_EQ(rows[0].id, 0);
  EXPECT_EQ(rows[1].id, 2);
  EXPECT_EQ(rows[2].id, 2);
  ASSERT_EQ(client->getExtraPeerMessageCount(), 2);
  const STPMessageDesc *extra = client->getSendableMessageDesc("Txn");
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(extra->id, 3);
  EXPECT_EQ(extra->flags, 6);
  EXPECT_EQ(client->getSendableMessageDesc("Extra")->id, 1);
  EXPECT_EQ(client->getSendableMessageDesc("Zzz"), &rows[2]);
  EXPECT_EQ(client->getSendableMessageDesc("Nope"), nullptr);
  EXPECT_EQ(client->getSendableMessageDesc(""), nullptr);

  // The translated id reaches the right handler.
  Pump rh({tp.a, tp.b});
  TStat st;
  ASSERT_TRUE(client->send_Ping("hello", true, &rh, &st)) << st.message;
  for (int i = 0; i < 50 && server->pings.empty(); ++i) tp.b->serviceOnce(10, nullptr);
  ASSERT_EQ(server->pings.size(), 1u);
  EXPECT_EQ(server->pings[0], "hello");
  EXPECT_EQ(server->extras, 0);
}

// Takes the body text of every packet registered for.
struct BodyRecorder : ResponseListener {
  std::vector<std::string> bodies;
  std::vector<int> flags;
  bool handleResponse(STPIMsg *msg, bool) override {
    STPAsciiIMsg view(msg);
    bodies.push_back(view.getAsciiContent());
    flags.push_back(msg->flags);
    return true;
  }
};

TEST_F(CalcFixture, NegotiationBodyOnTheWire) {
  server->setTransport(nullptr);
  BodyRecorder rec;
  tp.b->registerMessageListener(1, 2, &rec, STP_TYPE_ENDPOINT);
  TStat st;
  ASSERT_TRUE(client->sendNegotiate(true, nullptr, &st)) << st.message;
  for (int i = 0; i < 50 && rec.bodies.empty(); ++i) tp.b->serviceOnce(10, nullptr);
  ASSERT_EQ(rec.bodies.size(), 1u);
  EXPECT_EQ(rec.bodies[0],
            "name:client vstamp:\"1\" flags:0x0 tags:(0x0 )[ ] "
            "msgs:(0x1 )[ { id:0x0 name:Notify flags:0x6 } ] ");
  EXPECT_EQ(rec.flags[0], STP_FLAG_ASYNC);
  tp.b->unregisterMessageListener(&rec);
}

TEST_F(CalcFixture, MalformedNegotiationBodiesReadAsAbsent) {
  // Counts that lie, a record never closed, a body cut short.
  const char *bodies[] = {
      "name:x tags:(0x7fffffff )[ a b ",
      "name:y msgs:(0x3 )[ { id:0x5 name:Ping flags:0x2 ",
      "msgs:(0x2 )[ { name: } { id:0x1 name:New flags:",
      "",
  };
  for (const char *body : bodies) {
    STPAsciiOMsg *m = tp.a->createAsciiMessage(1, 2, STP_TYPE_ENDPOINT, 1, STP_FLAG_ASYNC);
    m->putRawString(body);
    ASSERT_NE(tp.a->enqueueMessage(m), 0);
    delete m;
  }
  for (int i = 0; i < 50 && tp.a->getWriteBufferUsed() + tp.b->getReadBufferUsed() > 0; ++i) {
    tp.a->serviceOnce(1, nullptr);
    tp.b->serviceOnce(1, nullptr);
  }
  EXPECT_TRUE(server->isNegotiated());
  EXPECT_TRUE(tp.b->getStat().ok());
  EXPECT_STREQ(server->getPeerRole(), "");  // the last, empty body
  EXPECT_EQ(server->getPeerVstamp(), nullptr);
  EXPECT_EQ(server->getPeerMessages()[0].id, 0);  // Notify was never announced
}

TEST_F(CalcFixture, NegotiationThatArrivedBeforeTheListenerIsStillHandled) {
  // A third endpoint joins late: its peer's negotiation is already queued.
  server->setTransport(nullptr);
  TStat st;
  ASSERT_TRUE(client->sendNegotiate(true, nullptr, &st));
  for (int i = 0; i < 50 && tp.b->getUnclaimedCount() == 0; ++i) tp.b->serviceOnce(10, nullptr);
  ASSERT_EQ(tp.b->getUnclaimedCount(), 1);
  server->setTransport(tp.b);
  Pump rh({tp.a, tp.b});
  ASSERT_TRUE(server->awaitNegotiate(&rh, &st)) << st.message;
  EXPECT_TRUE(server->isNegotiated());
  EXPECT_EQ(tp.b->getUnclaimedCount(), 0);
  EXPECT_EQ(server->getCallerCount(), 0);
}

TEST_F(CalcFixture, AwaitNegotiateTimesOutAndRefusesWithoutTransportOrWhenDown) {
  Pump rh({tp.a, tp.b}, 100);
  TStat st;
  EXPECT_FALSE(client->awaitNegotiate(&rh, &st));
  EXPECT_EQ(st.code, 7);
  EXPECT_STREQ(st.message, "awaitNegotiate: timed out waiting for reply.");
  EXPECT_EQ(client->getCallerCount(), 0);

  client->markReceivingAsDown();
  EXPECT_FALSE(client->awaitNegotiate(&rh, &st));
  EXPECT_EQ(st.code, 1);
  EXPECT_STREQ(st.message, "[awaitTags]: virtual connection is down");
  client->markSendingAsDown();
  EXPECT_FALSE(client->sendNegotiate(true, nullptr, &st));
  EXPECT_STREQ(st.message, "[sendNegotiate]: virtual connection is down");
  client->setTransport(nullptr);
  EXPECT_FALSE(client->sendNegotiate(true, nullptr, &st));
  EXPECT_EQ(st.code, 3);
  EXPECT_STREQ(st.message, "[sendNegotiate]: cannot send with NULL transport");
  EXPECT_FALSE(client->awaitNegotiate(nullptr, &st));
  EXPECT_STREQ(st.message, "[awaitTags]: cannot receive tags on NULL transport");
}

TEST_F(CalcFixture, SendGuardsFollowTheDirectionsAndPeerSupport) {
  ASSERT_TRUE(client->negotiate_local(nullptr, nullptr));
  TStat st;
  EXPECT_TRUE(client->canSendMessage(true, true, &st));
  EXPECT_FALSE(client->canSendMessage(false, false, &st));
  EXPECT_EQ(st.code, 8);
  EXPECT_STREQ(st.message, "[send]: sending a message the other side does not support");
  client->markReceivingAsDown();
  EXPECT_TRUE(client->canSendMessage(false, true, &st));
  EXPECT_FALSE(client->canSendMessage(true, true, &st));
  EXPECT_EQ(st.code, 1);
  EXPECT_STREQ(st.message, "[send]: virtual connection is down");
  client->markSendingAsDown();
  EXPECT_FALSE(client->canSendMessage(false, true, &st));
  EXPECT_EQ(st.code, 1);
}

TEST_F(CalcFixture, MarkAsDownCallsTheHookOnce) {
  server->markAsDown();
  server->markAsDown();
  EXPECT_TRUE(server->isDown());
  EXPECT_EQ(server->downHooks, 1);
  CalcServer *half = new CalcServer;
  half->markSendingAsDown();
  half->markAsDown();  // one direction was still up
  EXPECT_EQ(half->downHooks, 1);
  half->delRef();
}

TEST_F(CalcFixture, SynchronizeWithoutThePeerTimesOut) {
  TStat st;
  EXPECT_FALSE(client->synchronize(nullptr, &st));
  EXPECT_EQ(st.code, 3);  // not negotiated yet
  ASSERT_TRUE(p.negotiate());
  Pump rh({tp.a, tp.b}, 100);
  EXPECT_FALSE(client->synchronize(&rh, &st));
  EXPECT_EQ(st.code, 7);
  EXPECT_STREQ(st.message, "awaitNegotiate: timed out waiting for reply.");
  EXPECT_EQ(client->getCallerCount(), 0);
}

TEST_F(CalcFixture, RequestInterfaceFillsPeerAndExtraSpecs) {
  ASSERT_TRUE(p.negotiate());
  Pump rh({tp.a, tp.b});
  TStat st;
  ASSERT_TRUE(client->request_interface(&rh, &st)) << st.message;
  EXPECT_TRUE(client->isInterfaceReceived());
  EXPECT_STREQ(client->getSendableMessageDesc("Ping")->spec, "text:%str% ");
  EXPECT_STREQ(client->getSendableMessageDesc("Extra")->spec, "x:%num% ");
  EXPECT_STREQ(client->getSendableMessageDesc("Txn")->spec, "n:%num% ");
  EXPECT_STREQ(client->getSendableMessageDesc("Zzz")->spec, "");
}

TEST(SpecClassLocal, NegotiateLocalMakesIdentityMaps) {
  BinClient *c = new BinClient;
  EXPECT_EQ(c->getMappedTag(1), -1);
  ASSERT_TRUE(c->negotiate_local(nullptr, nullptr));
  EXPECT_TRUE(c->isNegotiated());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(c->getMappedTag(i), i);
  EXPECT_EQ(c->getMappedTag(3), -1);
  EXPECT_EQ(c->getPeerMessages()[0].id, 0);
  EXPECT_EQ(c->getMessageId("Set"), -1);  // own table is empty
  EXPECT_STREQ(c->getCommandName(0), "");
  c->delRef();
}

// A Bin server that allows messages its peer did not announce.
struct OpenBinServer : BinServer {
  OpenBinServer() : BinServer(1) {}
};

TEST(SpecClassBinary, TagsThePeerLacksReadAsZeroOthersAreTranslated) {
  EndpointPair<BinClient, BinServer> pair;
  ASSERT_TRUE(pair.negotiate());
  BinClient *c = pair.a;
  BinServer *s = pair.b;
  EXPECT_EQ(s->getMappedTag(0), 0);   // a
  EXPECT_EQ(s->getMappedTag(1), -1);  // b: unknown to the client
  EXPECT_EQ(s->getMappedTag(2), 1);   // name
  EXPECT_EQ(c->getMappedTag(2), -1);  // z: unknown to the server
  TStat st;
  ASSERT_TRUE(c->send_Set(7, "hi", 5, &st)) << st.message;
  EXPECT_TRUE(pair.pump.until([&] { return s->a != -1; }));
  EXPECT_EQ(s->a, 7);
  EXPECT_EQ(s->b, 0);
  EXPECT_EQ(s->name, "hi");
  EXPECT_FALSE(c->canSendMessage(false, false, &st));  // unannounced: refused
}

TEST(SpecClassBinary, PeerFlagBitOneAllowsUnannouncedMessages) {
  EndpointPair<BinClient, OpenBinServer> pair;
  ASSERT_TRUE(pair.negotiate());
  EXPECT_EQ(pair.a->getPeerFlags(), 1);
  TStat st;
  EXPECT_TRUE(pair.a->canSendMessage(false, false, &st));
}

// Both sides of a real connection call synchronize; the child is the server.
TEST(SpecClassProcesses, SynchronizeIsABarrierBetweenTwoProcesses) {
  ForkedPeer peer([](STPTransport *t) {
    CalcServer *s = new CalcServer;
    s->setTransport(t);
    TimeoutSTPRetryHandler rh(t, 5000);
    TStat st;
    bool ok = s->negotiate(&rh, &st) && s->synchronize(&rh, &st);
    if (!ok) fprintf(stderr, "child: %d %s\n", st.code, st.message);
    return ok;
  });
  STPTransport *t = peer.transport();
  ASSERT_NE(t, nullptr);
  CalcClient *c = new CalcClient;
  c->setTransport(t);
  TimeoutSTPRetryHandler rh(t, 5000);
  TStat st;
  EXPECT_TRUE(c->negotiate(&rh, &st)) << st.message;
  EXPECT_TRUE(c->synchronize(&rh, &st)) << st.message;
  EXPECT_TRUE(peer.exitedOk());
  c->delRef();
}


struct Negotiated : CalcPairTest {
  void SetUp() override {
    // Distinct transaction origins, so the two sides' requests never look
    // like one transaction.
    tp.a->setDefaultToken(1);
    tp.b->setDefaultToken(2);
    ASSERT_TRUE(p.negotiate());
  }
};

TEST_F(Negotiated, RequestWithReplyThroughEndpoints) {
  Pump rh({tp.a, tp.b});
  TStat st;
  int sum = 0;
  ASSERT_TRUE(client->send_Add(20, 22, &sum, &rh, &st)) << st.message;
  EXPECT_EQ(sum, 42);
  EXPECT_EQ(server->adds, 1);
  EXPECT_EQ(client->getCallerCount(), 0);
  EXPECT_EQ(server->getCallerCount(), 0);
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  EXPECT_EQ(tp.a->getTokenStackSize(), 0);
  EXPECT_EQ(tp.b->getTokenStackSize(), 0);
}

TEST_F(Negotiated, MessageArrivingDuringASyncRequestIsDeferredAndKeepsTheEndpoint) {
  gNotified = 0;
  int destroyedBefore = gDestroyed;
  Pump rh({tp.b, tp.a});
  // While the client waits for its reply, the server sends an unrelated
  // message that may only be delivered inside its own transaction.
  rh.onIdle = [&]() { EXPECT_TRUE(server->send_Notify(9, nullptr)); };
  TStat st;
  int sum = 0;
  ASSERT_TRUE(client->send_Add(1, 2, &sum, &rh, &st)) << st.message;
  EXPECT_EQ(sum, 3);
  EXPECT_EQ(gNotified, 0);
  EXPECT_EQ(client->getDeferredCount(), 1);
  EXPECT_EQ(tp.a->getDeferredCount(), 1);
  EXPECT_EQ(client->getRefCount(), 2);  // the outside one and the deferred one

  client->delRef();  // the last outside reference goes
  EXPECT_EQ(gDestroyed, destroyedBefore);
  TStat round;
  tp.a->serviceOnce(10, &round);  // now depth is 0: the message is delivered
  EXPECT_EQ(gNotified, 1);
  EXPECT_EQ(gDestroyed, destroyedBefore + 1);
  EXPECT_EQ(tp.a->getDeferredCount(), 0);
  client = nullptr;
}

TEST_F(Negotiated, CommandMessageRepliesWithRet) {
  STPAsciiOMsg *m = tp.a->createAsciiMessage(1, 2, STP_TYPE_COMMAND, 0, STP_FLAG_REPLY);
  m->putIdent("Add");
  m->putNumber("__action", 21);
  Pump rh({tp.a, tp.b});
  TStat st;
  int serial = tp.a->sendMessage(m, &rh, &st);
  delete m;
  ASSERT_NE(serial, 0) << st.message;
  STPIMsg *reply = tp.a->awaitResponse(serial, &rh, &st);
  ASSERT_NE(reply, nullptr) << st.message;
  STPAsciiIMsg r(reply);
  EXPECT_EQ(r.getNumber("__ret"), 42);
  delete reply;
}

TEST_F(Negotiated, NoReplyIsSentWhileSendingIsDown) {
  server->markSendingAsDown();
  Pump rh({tp.a, tp.b}, 200);
  TStat st;
  int sum = -1;
  EXPECT_FALSE(client->send_Add(1, 1, &sum, &rh, &st));
  EXPECT_EQ(server->adds, 1);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(st.code, 7);
  EXPECT_STREQ(st.message, "[awaitResponse]: reached timeout while waiting to receive response");
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
}

TEST_F(Negotiated, EndpointMarkedDownEndsTheSendersWaitThroughItsCondition) {
  // The server never answers (sending down); the client is marked down
  // while it waits, so its retry condition ends the wait long before the
  // handler's own time-out.
  server->markSendingAsDown();
  Pump rh({tp.a, tp.b}, 60000);
  rh.onIdle = [&]() { client->markAsDown(); };
  TStat st;
  int sum = 0;
  EXPECT_FALSE(client->send_Add(1, 1, &sum, &rh, &st));
  EXPECT_LT(rh.rounds, 5);
  EXPECT_EQ(st.code, 7);
  // The condition was removed again: the down endpoint no longer vetoes
  // waits of this handler.
  rh.beginOp();
  EXPECT_TRUE(rh.retryOp());
}

}  // namespace
