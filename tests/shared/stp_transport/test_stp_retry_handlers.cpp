// STP retry handlers: what ends their waits (transport state, time-out,
// endpoint down) and what a round of idle() does.
#include <gtest/gtest.h>

#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/stp_transport/stp_retry_handlers.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"
#include "support/stp_sockets.h"

using namespace testsupport;

namespace {

long long fakeNow = 0;
long long fakeClock() { return fakeNow; }

struct Endpoint : STPSpecClass {
  int getDefaultLocalRN() override { return 1; }
  int getDefaultRemoteRN() override { return 2; }
};

struct Ticker : TimerListener {
  int fired = 0;
  void handleTimer(int) override { ++fired; }
};

struct RetryHandlers : ::testing::Test {
  SocketPair pair;
  TransportRef t;
  void SetUp() override { ASSERT_TRUE(t->bindFD(pair.mine, nullptr)); }
};

TEST(STPRetryHandler, WithoutTransportGivesUpAfterTheFirstRound) {
  STPRetryHandler h;
  h.beginOp();
  long long before = ut_getTimeMillis64();
  h.idle();  // only passes a little time
  EXPECT_GE(ut_getTimeMillis64() - before, 40);
  EXPECT_FALSE(h.retryOp());
}

TEST_F(RetryHandlers, GivesUpOnceItsTransportIsClosed) {
  STPRetryHandler h(t.t);
  h.beginOp();
  EXPECT_TRUE(h.retryOp());
  pair.closeRaw();
  h.idle();  // services the transport: reads the end of stream
  EXPECT_EQ(t->getStat().code, kStatPeerClosed);
  EXPECT_FALSE(h.retryOp());
}

TEST_F(RetryHandlers, TimeoutHandlerEndsAfterExactlyTheGivenMilliseconds) {
  fakeNow = 5000000;
  ut_setClockForTesting(fakeClock);
  TimeoutSTPRetryHandler h(t.t, 500), zero(t.t, 0);
  h.beginOp();
  zero.beginOp();
  fakeNow += 499;
  EXPECT_TRUE(h.retryOp());
  fakeNow += 1;
  EXPECT_FALSE(h.retryOp());
  EXPECT_FALSE(zero.retryOp());
  ut_setClockForTesting(nullptr);
}

TEST_F(RetryHandlers, IdleConnHandlerRunsTheNotifierAndStopsWhenTheEndpointIsDown) {
  Endpoint *ep = new Endpoint;
  ep->setTransport(t.t);
  Ticker ticker;
  IdleNotifier *n = getIdleNotifier();
  ASSERT_NE(n, nullptr);
  n->addTimerListener(&ticker, 0);
  {
    IdleConnRetryHandler h(ep, 1000, 10);
    EXPECT_EQ(h.getTransport(), t.t);
    h.beginOp();
    h.idle();
    EXPECT_EQ(ticker.fired, 1);
    EXPECT_TRUE(h.retryOp());
    ep->markAsDown();
    EXPECT_FALSE(h.retryOp());
    h.completedOp();
  }
  n->removeTimerListener(&ticker);
  ep->setTransport(nullptr);
  ep->delRef();
}

}  // namespace
