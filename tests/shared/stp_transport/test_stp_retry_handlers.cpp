// STP retry handlers: what ends their waits (no transport, transport closed,
// exact time-out) and what a round of idle() does.
#include <gtest/gtest.h>

#include "shared/stp_transport/stp_retry_handlers.h"
#include "shared/stp_transport/stp_transport.h"
#include "support/stp_sockets.h"

using namespace testsupport;

namespace {

long long fakeNow = 0;
long long fakeClock() { return fakeNow; }

struct RetryHandlers : ::testing::Test {
  SocketPair pair;
  TransportRef t;
  void SetUp() override { ASSERT_TRUE(t->bindFD(pair.mine, nullptr)); }
};

TEST_F(RetryHandlers, TransportStateAndExactTimeOutEndTheWait) {
  fakeNow = 5000000;
  ut_setClockForTesting(fakeClock);
  TimeoutSTPRetryHandler timed(t.t, 500), zero(t.t, 0);
  timed.beginOp();
  zero.beginOp();
  fakeNow += 499;
  bool before = timed.retryOp();
  fakeNow += 1;
  bool at = timed.retryOp(), zeroRetries = zero.retryOp();
  ut_setClockForTesting(nullptr);
  EXPECT_TRUE(before && !at && !zeroRetries);
  STPRetryHandler none, h(t.t);
  none.beginOp();
  h.beginOp();
  none.idle();  // without a transport only a little time passes
  EXPECT_FALSE(none.retryOp());
  EXPECT_TRUE(h.retryOp());
  pair.closeRaw();
  h.idle();  // services the transport: reads the end of stream
  EXPECT_EQ(t->getStat().code, kStatPeerClosed);
  EXPECT_FALSE(h.retryOp());
}

}  // namespace
