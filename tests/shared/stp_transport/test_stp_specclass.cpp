// STPSpecClass, the base of every endpoint: negotiation between endpoints
// whose tables differ, the send guards, the interface request, up/down
// marking, the receive path (request and reply, deferral while a
// synchronous request waits, command messages) and the synchronize time-out.
// The endpoints below use the base class the way the
// generated classes do: an ASCII "Calc" interface whose server and client
// have different views of each other's tables, and a binary "Bin" interface
// whose two sides know different field tags.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"
#include "support/stp_endpoint_pair.h"
#include "support/stp_packets.h"
#include "support/stp_stat.h"

using namespace testsupport;

namespace {

// What the server receives (its own table).
const STPMessageDesc kCalcServerMsgs[] = {{"Add", "a:%num% b:%num% | sum:%num% ", 0, 1},
                                          {"Extra", "x:%num% ", 1, 2},
                                          {"Ping", "text:%str% ", 2, 2},
                                          {"Txn", "n:%num% ", 3, 2 | 4}};
// The client's older copy of the server table: no Extra/Txn, a Zzz the
// server does not know, so the row ids differ from the server's.
const STPMessageDesc kCalcServerMsgsOld[] = {
    {"Add", "a:%num% b:%num% | sum:%num% ", 0, 1}, {"Ping", "text:%str% ", 1, 2}, {"Zzz", "", 2, 2}};
// What the client receives: Notify may only be delivered in its transaction.
const STPMessageDesc kCalcClientMsgs[] = {{"Notify", "n:%num% ", 0, 2 | 4}};

int gDestroyed = 0;  // endpoints freed, to see when delRef freed one
int gNotified = 0;   // Notify messages handled, by any client

struct CalcServer : STPSpecClass {
  CalcServer() { setInterface("Calc", "server", "1", 0, kCalcServerMsgs, 4, kCalcClientMsgs, 1, nullptr, 0); }
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
    if (id == 0 && ++adds && reply) reply->putNumber("sum", msg->getNumber("a") + msg->getNumber("b"));
    if (id == 0 && reply && padAddReply > 0)
      reply->putRawString(std::string(padAddReply, 'p').c_str(), padAddReply);
    if (id == 1) ++extras;
    if (id == 2) {
      char *text = msg->getString("text");
      pings.push_back(text ? text : "(null)");
      free(text);
    }
  }
  int handleCommandMessage(STPAsciiIMsg *, STPAsciiOMsg *, int, int action) override { return action * 2; }
  bool send_Notify(int n, TStat *stat) {  // client row 0, one way
    SendScope scope(this, nullptr, stat);
    if (!canSendRow(0, false, false, scope.stat())) return false;
    STPAsciiOMsg *m = newAsciiSend(0, false);
    m->putNumber("n", n);
    return completeOneWay(scope, m, false);
  }
};

struct CalcClient : STPSpecClass {
  CalcClient() { setInterface("Calc", "client", "1", 0, kCalcClientMsgs, 1, kCalcServerMsgsOld, 3, nullptr, 0); }
  ~CalcClient() override { ++gDestroyed; }
  int getDefaultLocalRN() override { return 1; }
  int getDefaultRemoteRN() override { return 2; }
  void handleAsciiMessage(STPAsciiIMsg *, STPAsciiOMsg *, int id) override { gNotified += id == 0; }
  bool send_Ping(const char *text, bool wait, RetryHandler *rh, TStat *stat) {  // peer row 1
    SendScope scope(this, rh, stat);
    if (!canSendRow(1, false, false, scope.stat())) return false;
    STPAsciiOMsg *m = newAsciiSend(1, false);
    m->putString("text", text);
    return completeOneWay(scope, m, wait);
  }
  bool send_Add(int a, int b, int *sum, RetryHandler *rh, TStat *stat) {  // peer row 0
    *sum = 0;
    SendScope scope(this, rh, stat);
    if (!canSendRow(0, true, false, scope.stat())) return false;
    STPAsciiOMsg *m = newAsciiSend(0, true);
    m->putNumber("a", a);
    m->putNumber("b", b);
    STPIMsg *rep = completeRequest(scope, m);
    if (!rep) return false;
    *sum = STPAsciiIMsg(rep).getNumber("sum");
    delete rep;
    return true;
  }
};

// The binary interface: the sides' tag lists differ.
const char *const kBinServerTags[] = {"a", "b", "name"};
const char *const kBinClientTags[] = {"a", "name", "z"};
const STPMessageDesc kBinServerMsgs[] = {{"Set", "a:%u4% b:%u4% name:%str% ", 0, 2}};

struct BinServer : STPSpecClass {
  explicit BinServer(int ifaceFlags = 0) {
    setInterface("Bin", "server", "1", ifaceFlags, kBinServerMsgs, 1, nullptr, 0, kBinServerTags, 3);
  }
  int getDefaultLocalRN() override { return 2; }
  int getDefaultRemoteRN() override { return 1; }
  int a = -1, b = -1;
  std::string name = "(unset)";
  void handleBinaryMessage(STPBinaryIMsg *msg, STPBinaryOMsg *, int) override {
    a = msg->get4(getMappedTag(0));
    b = msg->get4(getMappedTag(1));
    char *s = msg->getS(getMappedTag(2));
    name = s ? s : "(null)";
    free(s);
  }
};
// A server that allows messages its peer did not announce.
struct OpenBinServer : BinServer {
  OpenBinServer() : BinServer(1) {}
};

struct BinClient : STPSpecClass {
  BinClient() { setInterface("Bin", "client", "1", 0, nullptr, 0, kBinServerMsgs, 1, kBinClientTags, 3); }
  int getDefaultLocalRN() override { return 1; }
  int getDefaultRemoteRN() override { return 2; }
  bool send_Set(int a, const char *name, int z, TStat *stat) {  // own tags: a 0, name 1, z 2
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
struct Calc : ::testing::Test {
  EndpointPair<CalcClient, CalcServer> p;
  CalcClient *&client = p.a;
  CalcServer *&server = p.b;
  TransportPair &tp = p.tp;
  TStat st;
};

// The same, negotiated, with distinct transaction origins so the two sides'
// requests never look like one transaction.
struct Negotiated : Calc {
  void SetUp() override {
    tp.a->setDefaultToken(1);
    tp.b->setDefaultToken(2);
    ASSERT_TRUE(p.negotiate());
  }
};

TEST_F(Calc, NegotiationUpdatesPeerRowsAndKeepsExtraPeerMessages) {
  ASSERT_TRUE(p.negotiate());
  EXPECT_EQ(std::string(client->getPeerRole()) + client->getPeerVstamp() + server->getPeerRole(), "server1client");
  // Ping is row 1 here but message 2 on the server; Zzz was not announced
  // and keeps its static id.
  const STPMessageDesc *rows = client->getPeerMessages();
  EXPECT_EQ(std::vector<int>({rows[0].id, rows[1].id, rows[2].id}), std::vector<int>({0, 2, 2}));
  ASSERT_EQ(client->getExtraPeerMessageCount(), 2);
  const STPMessageDesc *txn = client->getSendableMessageDesc("Txn");
  ASSERT_NE(txn, nullptr);
  EXPECT_EQ(txn->id * 10 + txn->flags, 36);
  EXPECT_EQ(client->getSendableMessageDesc("Extra")->id, 1);
  EXPECT_EQ(client->getSendableMessageDesc("Zzz"), &rows[2]);
  EXPECT_TRUE(!client->getSendableMessageDesc("Nope") && !client->getSendableMessageDesc(""));
  // The translated id reaches the right handler.
  ASSERT_TRUE(client->send_Ping("hello", true, &p.pump, &st)) << st.message;
  EXPECT_TRUE(p.pump.until([&] { return !server->pings.empty(); }));
  EXPECT_EQ(server->pings, std::vector<std::string>{"hello"});
}

// Counts that lie, a record never closed, a body cut short.
TEST_F(Calc, MalformedNegotiationBodiesReadAsAbsent) {
  for (const char *body : {"name:x tags:(0x7fffffff )[ a b ", "name:y msgs:(0x3 )[ { id:0x5 name:Ping flags:0x2 ",
                           "msgs:(0x2 )[ { name: } { id:0x1 name:New flags:", ""}) {
    std::unique_ptr<STPAsciiOMsg> m(tp.a->createAsciiMessage(1, 2, STP_TYPE_ENDPOINT, 1, STP_FLAG_ASYNC));
    m->putRawString(body);
    ASSERT_NE(tp.a->enqueueMessage(m.get()), 0);
  }
  p.pump.until([&] { return tp.a->getWriteBufferUsed() + tp.b->getReadBufferUsed() == 0; });
  EXPECT_TRUE(server->isNegotiated());
  EXPECT_TRUE(tp.b->getStat().ok());
  EXPECT_STREQ(server->getPeerRole(), "");  // the last, empty body
  EXPECT_EQ(server->getPeerVstamp(), nullptr);
  EXPECT_EQ(server->getPeerMessages()[0].id, 0);  // Notify was never announced
}

TEST_F(Calc, NegotiationWaitsAndSendGuardsRefuse) {
  EXPECT_FALSE(client->send_Ping("x", false, nullptr, &st));  // queues nothing
  EXPECT_EQ(statText(st), "3 Attempted send before negotiation is complete.");
  EXPECT_EQ(tp.a->getWriteBufferUsed(), 0);
  Pump rh({tp.a, tp.b}, 100);
  EXPECT_FALSE(client->synchronize(nullptr, &st));
  EXPECT_EQ(st.code, 3);  // not negotiated yet
  EXPECT_FALSE(client->awaitNegotiate(&rh, &st));
  EXPECT_EQ(statText(st), "7 awaitNegotiate: timed out waiting for reply.");
  EXPECT_EQ(client->getCallerCount(), 0);
  ASSERT_TRUE(client->negotiate_local(nullptr, nullptr));
  EXPECT_TRUE(client->canSendMessage(true, true, &st));
  EXPECT_FALSE(client->canSendMessage(false, false, &st));
  EXPECT_EQ(statText(st), "8 [send]: sending a message the other side does not support");
  client->markReceivingAsDown();
  EXPECT_TRUE(client->canSendMessage(false, true, &st));
  EXPECT_FALSE(client->canSendMessage(true, true, &st));
  EXPECT_EQ(statText(st), "1 [send]: virtual connection is down");
  EXPECT_FALSE(client->awaitNegotiate(&rh, &st));
  EXPECT_EQ(statText(st), "1 [awaitTags]: virtual connection is down");
  client->markSendingAsDown();
  EXPECT_FALSE(client->canSendMessage(false, true, &st));
  EXPECT_FALSE(client->sendNegotiate(true, nullptr, &st));
  EXPECT_EQ(statText(st), "1 [sendNegotiate]: virtual connection is down");
  client->setTransport(nullptr);
  EXPECT_FALSE(client->sendNegotiate(true, nullptr, &st));
  EXPECT_EQ(statText(st), "3 [sendNegotiate]: cannot send with NULL transport");
  EXPECT_FALSE(client->awaitNegotiate(nullptr, &st));
  EXPECT_EQ(statText(st), "3 [awaitTags]: cannot receive tags on NULL transport");
}

TEST_F(Calc, MarkAsDownCallsTheHookOnce) {
  server->markAsDown();
  server->markAsDown();
  CalcServer *half = new CalcServer;
  half->markSendingAsDown();
  half->markAsDown();  // one direction was still up
  EXPECT_EQ(server->downHooks * 10 + half->downHooks, 11);
  EXPECT_TRUE(server->isDown());
  half->delRef();
}

// Synchronize waits for the peer's own call: without one it times out.
TEST_F(Negotiated, SynchronizeTimesOutAndRequestInterfaceFillsPeerAndExtraSpecs) {
  Pump rh({tp.a, tp.b}, 100);
  EXPECT_FALSE(client->synchronize(&rh, &st));
  EXPECT_EQ(statText(st), "7 awaitNegotiate: timed out waiting for reply.");
  EXPECT_EQ(client->getCallerCount(), 0);
  ASSERT_TRUE(client->request_interface(&p.pump, &st)) << st.message;
  EXPECT_TRUE(client->isInterfaceReceived());
  std::string specs;
  for (const char *name : {"Ping", "Extra", "Txn", "Zzz"}) specs += client->getSendableMessageDesc(name)->spec + std::string("|");
  EXPECT_EQ(specs, "text:%str% |x:%num% |n:%num% ||");
}

TEST(SpecClassLocal, NegotiateLocalMakesIdentityMaps) {
  BinClient *c = new BinClient;
  EXPECT_EQ(c->getMappedTag(1), -1);
  ASSERT_TRUE(c->negotiate_local(nullptr, nullptr));
  EXPECT_TRUE(c->isNegotiated());
  EXPECT_EQ(std::vector<int>({c->getMappedTag(0), c->getMappedTag(1), c->getMappedTag(2), c->getMappedTag(3)}),
            std::vector<int>({0, 1, 2, -1}));
  EXPECT_EQ(c->getPeerMessages()[0].id, 0);
  EXPECT_EQ(c->getMessageId("Set"), -1);  // own table is empty
  EXPECT_STREQ(c->getCommandName(0), "");
  c->delRef();
}

TEST(SpecClassBinary, TagsThePeerLacksReadAsZeroOthersAreTranslated) {
  EndpointPair<BinClient, BinServer> pair;
  ASSERT_TRUE(pair.negotiate());
  BinClient *c = pair.a;
  BinServer *s = pair.b;
  // a, b (unknown to the client), name; z is unknown to the server.
  EXPECT_EQ(std::vector<int>({s->getMappedTag(0), s->getMappedTag(1), s->getMappedTag(2), c->getMappedTag(2)}),
            std::vector<int>({0, -1, 1, -1}));
  TStat st;
  ASSERT_TRUE(c->send_Set(7, "hi", 5, &st)) << st.message;
  EXPECT_TRUE(pair.pump.until([&] { return s->a != -1; }));
  EXPECT_EQ(std::to_string(s->a) + std::to_string(s->b) + s->name, "70hi");
  EXPECT_FALSE(c->canSendMessage(false, false, &st));  // unannounced: refused
  EndpointPair<BinClient, OpenBinServer> open;  // unless the peer allows it
  ASSERT_TRUE(open.negotiate());
  EXPECT_EQ(open.a->getPeerFlags(), 1);
  EXPECT_TRUE(open.a->canSendMessage(false, false, &st));
}

// A reply too big for the router is not sent: the asker gets an empty one
// at once (its fields read as 0) and the connection goes on.
TEST_F(Negotiated, RequestWithReplyThroughEndpoints) {
  const struct {
    int pad, sum;
  } cases[] = {{0, 42}, {kSTPMaxPacketBytes, 0}, {0, 42}};
  for (const auto &c : cases) {
    server->padAddReply = c.pad;
    int sum = -1;
    ASSERT_TRUE(client->send_Add(20, 22, &sum, &p.pump, &st)) << st.message;
    EXPECT_EQ(sum, c.sum);
  }
  EXPECT_EQ(server->adds, 3);
  EXPECT_EQ(client->getCallerCount() + server->getCallerCount() + STPTransport::getMessageDepth() +
                tp.a->getTokenStackSize() + tp.b->getTokenStackSize(),
            0);
}

// While the client waits for its reply, the server sends an unrelated
// message that may only be delivered inside its own transaction.
struct Deferred : Negotiated {
  void SetUp() override {
    Negotiated::SetUp();
    gNotified = 0;
    p.pump.onIdle = [&]() { EXPECT_TRUE(server->send_Notify(9, nullptr)); };
    int sum = 0;
    ASSERT_TRUE(client->send_Add(1, 2, &sum, &p.pump, &st)) << st.message;
    EXPECT_EQ(sum * 10 + gNotified, 30);
    EXPECT_EQ(tp.a->getDeferredCount(), 1);
    ASSERT_EQ(client->getRefCount(), 2);  // the outside one and the deferred one
    EXPECT_EQ(client->getDeferredCount(), 1);
  }
};

TEST_F(Deferred, MessageArrivingDuringASyncRequestIsDeferredAndKeepsTheEndpoint) {
  int destroyedBefore = gDestroyed;
  client->delRef();  // the last outside reference goes
  client = nullptr;
  EXPECT_EQ(gDestroyed, destroyedBefore);
  tp.a->serviceOnce(10, nullptr);  // now depth is 0: the message is delivered
  EXPECT_EQ(gNotified, 1);
  EXPECT_EQ(gDestroyed, destroyedBefore + 1);
}

// Leaving the transport ends the reference its deferred message held; the
// message stays queued and, with no endpoint left for it, goes unclaimed.
TEST_F(Deferred, EndpointLeavingTheTransportIsNoLongerKeptByItsDeferredMessage) {
  client->setTransport(nullptr);
  EXPECT_EQ(client->getRefCount() * 10 + client->getDeferredCount(), 10);
  tp.a->serviceOnce(10, nullptr);
  EXPECT_EQ(tp.a->getDeferredCount() * 10 + tp.a->getUnclaimedCount(), 1);
}

TEST_F(Negotiated, CommandMessageRepliesWithRet) {
  std::unique_ptr<STPAsciiOMsg> m(tp.a->createAsciiMessage(1, 2, STP_TYPE_COMMAND, 0, STP_FLAG_REPLY));
  m->putIdent("Add");
  m->putNumber("__action", 21);
  int serial = tp.a->sendMessage(m.get(), &p.pump, &st);
  std::unique_ptr<STPIMsg> reply(serial ? tp.a->awaitResponse(serial, &p.pump, &st) : nullptr);
  ASSERT_NE(reply, nullptr) << st.message;
  EXPECT_EQ(STPAsciiIMsg(reply.get()).getNumber("__ret"), 42);
}

// The server never answers while its sending is down; a client marked down
// while it waits ends the wait through its retry condition, long before the
// handler's own time-out, and removes that condition again.
TEST_F(Negotiated, NoReplyWhileSendingIsDownAndDownEndpointEndsTheWait) {
  server->markSendingAsDown();
  Pump brief({tp.a, tp.b}, 200);
  int sum = -1;
  EXPECT_FALSE(client->send_Add(1, 1, &sum, &brief, &st));
  EXPECT_EQ(server->adds * 10 + sum, 10);
  EXPECT_EQ(statText(st), "7 [awaitResponse]: reached timeout while waiting to receive response");
  Pump rh({tp.a, tp.b}, 60000);
  rh.onIdle = [&]() { client->markAsDown(); };
  EXPECT_FALSE(client->send_Add(1, 1, &sum, &rh, &st));
  EXPECT_LT(rh.rounds, 5);
  EXPECT_EQ(st.code, 7);
  rh.beginOp();
  EXPECT_TRUE(rh.retryOp());
}

}  // namespace
