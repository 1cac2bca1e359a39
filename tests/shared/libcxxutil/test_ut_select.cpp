// Tests of the readiness wait over real descriptors: readiness of each kind,
// hang-up and bad descriptors, descriptors beyond FD_SETSIZE, and a wait cut
// short by a signal.
#include <signal.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "shared/libcxxutil/ut_select.h"

namespace {

ut_ready_item item(int fd, bool read, bool write) {
  return ut_ready_item{fd, read, write, false, false, false, false};
}

class WaitReadyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
  void TearDown() override {
    if (fd[0] >= 0) ::close(fd[0]);
    if (fd[1] >= 0) ::close(fd[1]);
  }
  int fd[2] = {-1, -1};
};

TEST_F(WaitReadyTest, ReportsReadAndWriteReadinessSeparately) {
  ut_ready_item items[2] = {item(fd[0], true, false), item(fd[1], true, true)};
  EXPECT_EQ(ut_wait_ready(items, 2, 0), 1);  // only fd[1] can write
  EXPECT_FALSE(items[0].got_read);
  EXPECT_FALSE(items[1].got_read);
  EXPECT_TRUE(items[1].got_write);

  ASSERT_EQ(::write(fd[1], "ab", 2), 2);
  items[1].want_write = false;
  EXPECT_EQ(ut_wait_ready(items, 2, 1000), 1);
  EXPECT_TRUE(items[0].got_read);
  EXPECT_FALSE(items[0].got_write);  // not asked for
  EXPECT_FALSE(items[1].got_read);
}

TEST_F(WaitReadyTest, PeerClosedAndBadDescriptorCountAsReady) {
  ::close(fd[1]);
  fd[1] = -1;
  int closed = ::dup(fd[0]);
  ASSERT_GE(closed, 0);
  ::close(closed);  // now a descriptor number that is not open
  ut_ready_item items[2] = {item(fd[0], true, false), item(closed, true, true)};
  EXPECT_EQ(ut_wait_ready(items, 2, 1000), 2);
  EXPECT_TRUE(items[0].got_read);  // the read will see end of file
  EXPECT_TRUE(items[1].got_read);
  EXPECT_TRUE(items[1].got_write);
}

TEST_F(WaitReadyTest, DescriptorAboveFdSetSizeIsWaitedOn) {
  rlimit lim{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &lim), 0);
  const int high = FD_SETSIZE + 100;
  if (lim.rlim_cur <= static_cast<rlim_t>(high)) GTEST_SKIP() << "descriptor limit too low";
  ASSERT_EQ(::dup2(fd[0], high), high);
  ASSERT_EQ(::write(fd[1], "x", 1), 1);
  ut_ready_item items[1] = {item(high, true, false)};
  EXPECT_EQ(ut_wait_ready(items, 1, 1000), 1);
  EXPECT_TRUE(items[0].got_read);
  ::close(high);
}

TEST_F(WaitReadyTest, TimesOutWithNothingReady) {
  ut_ready_item items[1] = {item(fd[0], true, false)};
  items[0].got_read = true;  // stale result from an earlier call
  EXPECT_EQ(ut_wait_ready(items, 1, 10), 0);
  EXPECT_FALSE(items[0].got_read);
  EXPECT_EQ(ut_wait_ready(nullptr, 0, -5), 0);  // negative: no wait
}

void onAlarm(int) {}

TEST_F(WaitReadyTest, SignalEndsTheWaitWithoutAnError) {
  struct sigaction sa {};
  sa.sa_handler = onAlarm;  // no SA_RESTART: the wait is interrupted
  struct sigaction old {};
  ASSERT_EQ(::sigaction(SIGALRM, &sa, &old), 0);
  itimerval timer{};
  timer.it_value.tv_usec = 20 * 1000;
  ASSERT_EQ(::setitimer(ITIMER_REAL, &timer, nullptr), 0);

  ut_ready_item items[1] = {item(fd[0], true, false)};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ut_wait_ready(items, 1, 5000), 0);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::seconds(4));
  EXPECT_FALSE(items[0].got_read);
  ::sigaction(SIGALRM, &old, nullptr);
}

}  // namespace
