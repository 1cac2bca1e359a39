// STPSpecClass: negotiation between endpoints whose tables differ, the send
// guards, the interface request, up/down marking and the synchronize
// barrier between two processes.
#include <gtest/gtest.h>

#include <cstdio>

#include "specclass_testkit.h"

using namespace spectest;

namespace {

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
  ASSERT_TRUE(negotiatePair(client, server, tp.a, tp.b));
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
  PumpHandler rh({tp.a, tp.b});
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
  PumpHandler rh({tp.a, tp.b});
  ASSERT_TRUE(server->awaitNegotiate(&rh, &st)) << st.message;
  EXPECT_TRUE(server->isNegotiated());
  EXPECT_EQ(tp.b->getUnclaimedCount(), 0);
  EXPECT_EQ(server->getCallerCount(), 0);
}

TEST_F(CalcFixture, AwaitNegotiateTimesOutAndRefusesWithoutTransportOrWhenDown) {
  PumpHandler rh({tp.a, tp.b}, 100);
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
  ASSERT_TRUE(negotiatePair(client, server, tp.a, tp.b));
  PumpHandler rh({tp.a, tp.b}, 100);
  EXPECT_FALSE(client->synchronize(&rh, &st));
  EXPECT_EQ(st.code, 7);
  EXPECT_STREQ(st.message, "awaitNegotiate: timed out waiting for reply.");
  EXPECT_EQ(client->getCallerCount(), 0);
}

TEST_F(CalcFixture, RequestInterfaceFillsPeerAndExtraSpecs) {
  ASSERT_TRUE(negotiatePair(client, server, tp.a, tp.b));
  PumpHandler rh({tp.a, tp.b});
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

// A Bin client (on tp.a) and server (on tp.b) with the given interface
// flags, negotiated; the pair owns one reference to each endpoint.
struct BinPair {
  TransportPair tp;
  BinClient *c = new BinClient;
  BinServer *s;
  explicit BinPair(int serverFlags) : s(new BinServer(serverFlags)) {
    c->setTransport(tp.a);
    s->setTransport(tp.b);
    negotiated = negotiatePair(c, s, tp.a, tp.b);
  }
  ~BinPair() {
    c->delRef();
    s->delRef();
  }
  bool negotiated = false;
};

TEST(SpecClassBinary, TagsThePeerLacksReadAsZeroOthersAreTranslated) {
  BinPair pair(0);
  ASSERT_TRUE(pair.negotiated);
  BinClient *c = pair.c;
  BinServer *s = pair.s;
  EXPECT_EQ(s->getMappedTag(0), 0);   // a
  EXPECT_EQ(s->getMappedTag(1), -1);  // b: unknown to the client
  EXPECT_EQ(s->getMappedTag(2), 1);   // name
  EXPECT_EQ(c->getMappedTag(2), -1);  // z: unknown to the server
  TStat st;
  ASSERT_TRUE(c->send_Set(7, "hi", 5, &st)) << st.message;
  for (int i = 0; i < 100 && s->a == -1; ++i) {
    pair.tp.a->serviceOnce(1, nullptr);
    pair.tp.b->serviceOnce(10, nullptr);
  }
  EXPECT_EQ(s->a, 7);
  EXPECT_EQ(s->b, 0);
  EXPECT_EQ(s->name, "hi");
}

TEST(SpecClassBinary, PeerFlagBitOneAllowsUnannouncedMessages) {
  BinPair pair(1);
  ASSERT_TRUE(pair.negotiated);
  EXPECT_EQ(pair.c->getPeerFlags(), 1);
  TStat st;
  EXPECT_TRUE(pair.c->canSendMessage(false, false, &st));
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

}  // namespace
