// STPSpecClass receive path: request and reply through endpoints, a
// message deferred while a synchronous request waits (and the endpoint kept
// alive for it), command messages, and replies suppressed while sending is
// down. Dispatch by name for id -1 is checked through generated endpoints.
#include <gtest/gtest.h>

#include "specclass_testkit.h"

using namespace spectest;

namespace {

struct Negotiated : CalcPairTest {
  void SetUp() override {
    CalcPairTest::SetUp();
    // Distinct transaction origins, so the two sides' requests never look
    // like one transaction.
    tp.a->setDefaultToken(1);
    tp.b->setDefaultToken(2);
    ASSERT_TRUE(negotiatePair(client, server, tp.a, tp.b));
  }
};

TEST_F(Negotiated, RequestWithReplyThroughEndpoints) {
  PumpHandler rh({tp.a, tp.b});
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
  PumpHandler rh({tp.b, tp.a});
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
  PumpHandler rh({tp.a, tp.b});
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

// A reply the router would refuse is not sent; the asker gets an empty one
// at once (its fields read as 0) and the connection goes on.
TEST_F(Negotiated, ReplyTooBigForTheRouterBecomesAnEmptyReply) {
  PumpHandler rh({tp.a, tp.b});
  TStat st;
  int sum = -1;
  server->padAddReply = kSTPMaxPacketBytes;
  ASSERT_TRUE(client->send_Add(20, 22, &sum, &rh, &st)) << st.message;
  EXPECT_EQ(sum, 0);
  server->padAddReply = 0;
  ASSERT_TRUE(client->send_Add(20, 22, &sum, &rh, &st)) << st.message;
  EXPECT_EQ(sum, 42);
}

TEST_F(Negotiated, NoReplyIsSentWhileSendingIsDown) {
  server->markSendingAsDown();
  PumpHandler rh({tp.a, tp.b}, 200);
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
  PumpHandler rh({tp.a, tp.b}, 60000);
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
