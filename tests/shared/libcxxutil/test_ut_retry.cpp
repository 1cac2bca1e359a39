// RetryHandler base: time-out options, conditions, the process deadline and
// the wrapping clock, all on a fake clock so that nothing sleeps.
#include <gtest/gtest.h>

#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

long long fakeNow = 0;
long long fakeClock() { return fakeNow; }

class Waiter : public RetryHandler {
 public:
  using RetryHandler::RetryHandler;
  int rounds = 0;
  void idle() override { ++rounds; }
};

class Flag : public RetryCondition {
 public:
  bool ok = true;
  int asked = 0;
  bool mayRetry() override {
    ++asked;
    return ok;
  }
};

class RetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 1000000;
    ut_setClockForTesting(fakeClock);
    RetryHandler::setMaxRunTime(-1);
  }
  void TearDown() override {
    RetryHandler::setMaxRunTime(-1);
    ut_setClockForTesting(nullptr);
  }
  // Milliseconds after beginOp at which retryOp first says no (-1: not
  // within `limit`).
  static long long giveUpAfter(RetryHandler &h, long long limit = 10000000) {
    h.beginOp();
    long long start = fakeNow;
    for (long long step = 0; step <= limit; step += 50) {
      fakeNow = start + step;
      if (!h.retryOp()) return step;
    }
    return -1;
  }
};

TEST_F(RetryTest, TimeoutOptions) {
  Waiter byDefault(-1);
  EXPECT_EQ(giveUpAfter(byDefault), 15000);
  Waiter twice(2);
  EXPECT_EQ(giveUpAfter(twice), 30000);
  Waiter millis(1000000 + 500);
  EXPECT_EQ(giveUpAfter(millis), 500);
  // Options that are not valid fall back to the default.
  EXPECT_EQ(RetryHandler::timeoutForOption(0), 15000);
  EXPECT_EQ(RetryHandler::timeoutForOption(-7), 15000);
  // A huge multiple does not overflow into a negative time-out.
  EXPECT_GT(RetryHandler::timeoutForOption(1000000), 0);
}

TEST_F(RetryTest, NoOptionNeverTimesOutButConditionsStopIt) {
  Waiter h;
  EXPECT_EQ(h.getTimeout(), -1);
  EXPECT_EQ(giveUpAfter(h, 100000), -1);
  EXPECT_EQ(h.getStartTime(), -1);
  Flag a, b;
  h.addRetryCondition(&a);
  h.addRetryCondition(&b);
  EXPECT_TRUE(h.retryOp());
  b.ok = false;
  EXPECT_FALSE(h.retryOp());
  a.ok = false;
  int bAsked = b.asked;
  EXPECT_FALSE(h.retryOp());
  EXPECT_EQ(b.asked, bAsked);  // the first veto ends the questioning
  EXPECT_TRUE(h.removeRetryCondition(&a));
  EXPECT_FALSE(h.removeRetryCondition(&a));
  EXPECT_TRUE(h.removeRetryCondition(&b));
  EXPECT_TRUE(h.retryOp());
}

TEST_F(RetryTest, ProcessDeadline) {
  EXPECT_FALSE(RetryHandler::isTimeToDie());
  RetryHandler::setMaxRunTime(ut_getTimeMillis() - 1);
  EXPECT_TRUE(RetryHandler::isTimeToDie());
  Waiter timed(-1);
  timed.beginOp();
  EXPECT_FALSE(timed.retryOp());
  // Only handlers with a time-out look at the deadline.
  Waiter untimed;
  untimed.beginOp();
  EXPECT_TRUE(untimed.retryOp());
  RetryHandler::setMaxRunTime(ut_getTimeMillis() + 100);
  EXPECT_FALSE(RetryHandler::isTimeToDie());
  EXPECT_EQ(giveUpAfter(timed), 150);
}

TEST_F(RetryTest, ElapsedTimeSurvivesTheClockWrap) {
  fakeNow = 0xFFFFFFFFLL - 100;  // the 32-bit clock wraps 100 ms later
  Waiter h(1000000 + 300);
  EXPECT_EQ(giveUpAfter(h), 300);
  EXPECT_EQ(ut_getTimeMillis64(), fakeNow);
  EXPECT_EQ(ut_getTimeMillis(), static_cast<int>(static_cast<unsigned>(fakeNow)));
}

TEST(RetryClock, WallClockMoves) {
  long long a = ut_getTimeMillis64();
  EXPECT_GT(a, 1000000000000LL);  // after 2001
  EXPECT_GE(ut_getTimeMillis64(), a);
}

}  // namespace
