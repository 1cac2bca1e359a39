// Channel waits that end without the peer's part: a start the peer never
// answers, a start after the own close, and a close that is never taken off
// the write buffer. The peer is the other side of a loopback pair, which
// takes bytes only when the test services it.
#include <gtest/gtest.h>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_channels.h"
#include "stp_test_pump.h"

using spectest::PumpHandler;

namespace {

struct ChannelWaits : ::testing::Test {
  STPTransport *a = nullptr;
  STPTransport *b = nullptr;
  STPChannel *ch = nullptr;

  // A channel (1, 2) on a whose create the peer has already answered.
  void SetUp() override {
    ASSERT_TRUE(STPTransport::createLoopbackPair(&a, &b));
    STPAsciiOMsg *create = b->createAsciiMessage(2, 1, STP_TYPE_CHANNEL, 1, 0);
    ASSERT_NE(b->enqueueMessage(create), 0);
    delete create;
    ASSERT_TRUE(a->handleRead(nullptr));
    PumpHandler rh({b, a});
    TStat st;
    ch = a->createChannel(1, 2, &rh, &st);
    ASSERT_NE(ch, nullptr) << st.message;
  }
  void TearDown() override {
    delete ch;
    a->delRef();
    b->delRef();
  }
};

TEST_F(ChannelWaits, StartThePeerNeverAnswersTimesOut) {
  PumpHandler brief({b, a}, 100);
  TStat st;
  EXPECT_FALSE(ch->startChannel(&brief, &st));
  EXPECT_EQ(st.code, kStatTimedOut);
  EXPECT_STREQ(st.message, "[startChannel]: reached timeout while waiting to receive start");
  EXPECT_TRUE(ch->wasStartSent());
  EXPECT_FALSE(ch->isChannelStarted());
  EXPECT_EQ(ch->getStat().code, kStatTimedOut);
}

TEST_F(ChannelWaits, StartAfterTheOwnCloseIsRefused) {
  PumpHandler rh({b, a});
  TStat st;
  ASSERT_TRUE(ch->closeChannel(&rh, &st)) << st.message;
  EXPECT_FALSE(ch->startChannel(&rh, &st));
  EXPECT_EQ(st.code, kStatBadState);
  EXPECT_STREQ(st.message, "[startChannel]: Channel close already sent.");
  EXPECT_FALSE(ch->wasStartSent());
}

TEST_F(ChannelWaits, CloseThatStaysInTheWriteBufferTimesOut) {
  PumpHandler onlyHere({a}, 100);  // the peer takes nothing
  TStat st;
  EXPECT_FALSE(ch->closeChannel(&onlyHere, &st));
  EXPECT_EQ(st.code, kStatTimedOut);
  EXPECT_STREQ(st.message, "[closeChannel]: reached timeout while waiting to transmit close");
  EXPECT_TRUE(ch->wasCloseSent());
  // The close is queued once: deleting the channel adds no second one.
  int queued = a->getWriteBufferUsed();
  EXPECT_GT(queued, 0);
  delete ch;
  ch = nullptr;
  EXPECT_EQ(a->getWriteBufferUsed(), queued);
}

}  // namespace
