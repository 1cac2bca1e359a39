// The idle notifier (timers, idlers and the socket pass, on a fake clock
// and, where the wait itself is under test, a recording fake of the
// readiness call; real sockets come from socketpair), the readiness wait
// over real descriptors, and the retry handler's time-outs.
#include <signal.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/libcxxutil/ut_select.h"

namespace {

using Log = std::vector<std::string>;
long long g_now = 0;
std::vector<int> g_waits;  // timeouts of the recorded waits

// A timer, idler and socket listener at once that logs every call as
// "name:what" and then runs the hook for that kind of call.
struct Probe : TimerListener, Idler, SocketListener {
  Probe(Log *l, std::string n, int readFd = -1) : log(l), name(std::move(n)), fd(readFd), read(readFd >= 0) {}
  void handleTimer(int now) override { note("timer@" + std::to_string(now), onTimer); }
  void handleIdle(IdleNotifier *) override { note("idle", onIdle); }
  bool isIdlerSafe() override { return safe; }
  bool hasFD() override { return fd >= 0; }
  int getFD() override { return fd; }
  bool wantsToRead() override { return read; }
  bool wantsToWrite() override { return write; }
  bool wantsToDequeueAndDispatch() override { return dispatch; }
  bool wantsToStop() override { return stop; }
  void handleRead() override {
    char buf[64];
    if (fd >= 0) (void)::read(fd, buf, sizeof buf);
    note("read", onRead);
  }
  void handleWrite() override { note("write", nullptr); }
  void handleDequeueAndDispatch() override { note("dispatch", onDispatch); }
  void handleStop() override { note("stop", onStop); }
  void note(const std::string &what, const std::function<void()> &then) {
    log->push_back(name + ":" + what);
    if (then) then();
  }
  Log *log;
  std::string name;
  int fd;
  bool read, write = false, dispatch = false, stop = false, safe = true;
  std::function<void()> onTimer, onIdle, onRead, onDispatch, onStop;
};

// A connected socket pair, closed at the end of the test.
struct SocketPair {
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
  ~SocketPair() {
    if (fd[0] >= 0) ::close(fd[0]);
    if (fd[1] >= 0) ::close(fd[1]);
  }
  void send(int end) { ASSERT_EQ(::write(fd[end], "x", 1), 1); }
  int fd[2];
};

class IdleNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000;
    g_waits.clear();
    ut_setClockForTesting([] { return g_now; });
    notifier = getIdleNotifier();
    ASSERT_NE(notifier, nullptr);
    baseline = notifier->getNumIdlers();
  }
  void TearDown() override {
    EXPECT_EQ(notifier->getNumIdlers(), baseline);  // every test unregisters what it registered
    ut_setClockForTesting(nullptr);
    IdleNotifier::setWaitFunction(nullptr);
  }
  // Records every wait and answers "nothing ready" without sleeping.
  static void recordWaits() {
    IdleNotifier::setWaitFunction([](ut_ready_item *, int, int timeoutMs) {
      g_waits.push_back(timeoutMs);
      return 0;
    });
  }
  Log take() { return std::exchange(log, {}); }

  IdleNotifier *notifier = nullptr;
  int baseline = 0;
  Log log;
};

TEST_F(IdleNotifierTest, TimersFireInDueOrderAndRescheduleAfterNow) {
  Probe a(&log, "a"), b(&log, "b"), late(&log, "late"), zero(&log, "zero");
  notifier->addTimerListener(&b, 100);
  notifier->addTimerListener(&late, 500);
  notifier->addTimerListener(&a, 100);
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), 100);
  g_now = 1099;
  notifier->notifyTimers();
  EXPECT_EQ(take(), Log{});
  g_now = 1100;
  notifier->notifyTimers();
  EXPECT_EQ(take(), (Log{"b:timer@1100", "a:timer@1100"}));  // equal due times: insertion order
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), 100);  // now + interval
  g_now = 1600;
  notifier->notifyTimers();
  EXPECT_EQ(take(), (Log{"b:timer@1600", "a:timer@1600", "late:timer@1600"}));
  notifier->addTimerListener(&zero, 0);  // interval zero: once per call
  notifier->addTimerListener(&a, 10);    // a second entry for the same listener
  notifier->notifyTimers();
  notifier->notifyTimers();
  EXPECT_EQ(take(), (Log{"zero:timer@1600", "zero:timer@1600"}));
  g_now = 5000;
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), 0);  // overdue
  for (Probe *p : {&a, &b, &late, &zero}) notifier->removeTimerListener(p);  // every entry
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), -1);
}

TEST_F(IdleNotifierTest, TimerHandlersMayRemoveAndAddTimers) {
  Probe self(&log, "self"), victim(&log, "victim"), added(&log, "added");
  self.onTimer = [&] {
    notifier->removeTimerListener(&self);
    notifier->removeTimerListener(&victim);
    notifier->addTimerListener(&added, 0);
  };
  notifier->addTimerListener(&self, 10);
  notifier->addTimerListener(&victim, 10);
  g_now = 1010;
  notifier->notifyTimers();
  // The victim was due too but was removed before its turn; the timer
  // added during the call was not counted in it.
  EXPECT_EQ(take(), (Log{"self:timer@1010"}));
  notifier->notifyTimers();
  EXPECT_EQ(take(), (Log{"added:timer@1010"}));
  notifier->removeTimerListener(&added);
}

TEST_F(IdleNotifierTest, TimesAcrossTheClockWrapCompareByDifference) {
  Probe t(&log, "t");
  g_now = 0x7ffffff0;  // 16 ms before the 32-bit clock turns negative
  notifier->addTimerListener(&t, 32);
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), 32);
  g_now = 0x80000005LL;
  notifier->notifyTimers();
  EXPECT_TRUE(log.empty());
  g_now = 0x80000010LL;
  notifier->notifyTimers();
  EXPECT_EQ(log.size(), 1u);
  notifier->removeTimerListener(&t);
}

TEST_F(IdleNotifierTest, IdlersRunOncePerCallAndMayRemoveEachOther) {
  Probe a(&log, "a"), b(&log, "b"), unsafe(&log, "unsafe"), added(&log, "added");
  unsafe.safe = false;
  notifier->addIdleListener(&unsafe);
  notifier->addIdleListener(&unsafe);  // a set: still one entry
  EXPECT_EQ(notifier->getNumIdlers(), baseline + 1);
  notifier->notifyIdle(true);  // safe only
  notifier->notifyIdle(false);
  EXPECT_EQ(take(), (Log{"unsafe:idle"}));
  notifier->removeIdleListener(&unsafe);
  // Whichever runs first removes the other: exactly one of the two runs,
  // and the idler added meanwhile waits for the next call.
  a.onIdle = [&] { notifier->removeIdleListener(&b), notifier->addIdleListener(&added); };
  b.onIdle = [&] { notifier->removeIdleListener(&a), notifier->addIdleListener(&added); };
  notifier->addIdleListener(&a);
  notifier->addIdleListener(&b);
  notifier->notifyIdle(false);
  Log first = take();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_NE(first[0], "added:idle");
  notifier->notifyIdle(false);
  Log second = take();
  EXPECT_EQ(second.size(), 2u);
  EXPECT_EQ(std::count(second.begin(), second.end(), "added:idle"), 1);
  for (Probe *p : {&a, &b, &added}) notifier->removeIdleListener(p);
}

TEST_F(IdleNotifierTest, ListenersRemovedOrAddedDuringAPassAreNotCalledInIt) {
  SocketPair pair;
  Probe self(&log, "self", pair.fd[0]), other(&log, "other"), added(&log, "added");
  self.write = other.write = added.write = true;
  other.fd = added.fd = pair.fd[1];
  self.onRead = [&] {
    notifier->removeSocketListener(&self);
    notifier->addSocketListener(&added);
  };
  notifier->addSocketListener(&self);
  notifier->addSocketListener(&self);  // a set
  notifier->addSocketListener(&other);
  notifier->notifySocketActivity(0, true);
  EXPECT_EQ(take(), (Log{"self:write", "other:write"}));  // nothing to read yet
  pair.send(1);
  notifier->notifySocketActivity(0, true);
  EXPECT_EQ(take(), (Log{"self:read", "other:write"}));  // no write for the removed one
  notifier->notifySocketActivity(0, true);
  std::sort(log.begin(), log.end());
  EXPECT_EQ(take(), (Log{"added:write", "other:write"}));
  for (Probe *p : {&self, &other, &added}) notifier->removeSocketListener(p);  // self: unknown, ignored
}

TEST_F(IdleNotifierTest, NestedPassDoesNotLetOuterPassCallARemovedListener) {
  SocketPair a, b;
  Probe outer(&log, "outer", a.fd[0]), inner(&log, "inner", b.fd[0]);
  outer.onRead = [&] {
    outer.read = false;  // a blocking wait inside a handler
    notifier->notifySocketActivity(0, true);
  };
  inner.onRead = [&] { notifier->removeSocketListener(&inner); };
  notifier->addSocketListener(&outer);
  notifier->addSocketListener(&inner);
  a.send(1);
  b.send(1);
  notifier->notifySocketActivity(0, true);
  EXPECT_EQ(std::count(log.begin(), log.end(), "inner:read"), 1);  // by whichever pass comes first
  EXPECT_EQ(std::count(log.begin(), log.end(), "outer:read"), 1);
  notifier->removeSocketListener(&outer);
}

TEST_F(IdleNotifierTest, WaitIsShortenedToTheNextTimerAndSkippedWhenWorkIsPending) {
  recordWaits();
  Probe loop(&log, "loop"), disp(&log, "disp"), t(&log, "t");
  notifier->notifySocketActivity(1000, true);  // nothing registered: the full timeout
  notifier->addTimerListener(&t, 250);
  notifier->notifySocketActivity(1000, true);
  g_now += 300;  // overdue: no wait at all
  notifier->notifySocketActivity(1000, true);
  notifier->removeTimerListener(&t);
  loop.read = true;  // a loopback transport: no descriptor, handled without waiting
  notifier->addSocketListener(&loop);
  notifier->notifySocketActivity(1000, true);
  notifier->removeSocketListener(&loop);
  disp.dispatch = true;  // a dispatch request forces a zero wait; stop is asked after the handlers
  disp.onDispatch = [&] { disp.stop = true; };
  disp.onStop = [&] { notifier->removeSocketListener(&disp); };
  notifier->addSocketListener(&disp);
  notifier->notifySocketActivity(1000, true);
  EXPECT_EQ(g_waits, (std::vector<int>{1000, 250, 0, 0, 0}));
  EXPECT_EQ(take(), (Log{"loop:read", "disp:dispatch", "disp:stop"}));
}

TEST_F(IdleNotifierTest, ReadinessRecordedWithoutProcessingIsHandledFirstNextTime) {
  SocketPair pair;
  Probe l(&log, "l", pair.fd[0]), a(&log, "a"), b(&log, "b");
  a.read = b.read = true;  // no descriptor: flagged without a wait
  for (Probe *p : {&a, &l, &b}) notifier->addSocketListener(p);
  pair.send(1);
  notifier->notifySocketActivity(5, false);
  EXPECT_TRUE(log.empty());
  a.read = b.read = false;
  notifier->removeSocketListener(&a);  // the pending flags of the others stay theirs
  recordWaits();
  notifier->notifySocketActivity(1000, true);  // handles the pending flags, does not wait
  std::sort(log.begin(), log.end());
  EXPECT_EQ(take(), (Log{"b:read", "l:read"}));
  EXPECT_TRUE(g_waits.empty());
  b.read = true;  // pending flags without processing: the call returns without waiting
  notifier->notifySocketActivity(5, false);
  notifier->notifySocketActivity(1000, false);
  EXPECT_EQ(g_waits, (std::vector<int>{0}));
  notifier->removeSocketListener(&l);
  notifier->removeSocketListener(&b);
}

struct ReportsNotifier : DeleteAble {
  ~ReportsNotifier() override { std::fprintf(stderr, getIdleNotifier() ? "notifier alive\n" : "notifier gone\n"); }
};

TEST(IdleNotifierExitTest, NotifierIsDeletedAtKey99AndStaysGone) {
  EXPECT_EXIT(
      {
        getIdleNotifier();
        delete_at_exit(new ReportsNotifier, 50.0f);
        delete_at_exit(new ReportsNotifier, 100.0f);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "notifier alive\nnotifier gone\n");
}

// ---- the readiness wait over real descriptors ----

ut_ready_item item(int fd, bool read, bool write) { return ut_ready_item{fd, read, write, false, false, false, false}; }

TEST(WaitReady, ReadinessOfEachKindPeerClosedAndBadDescriptors) {
  SocketPair p;
  ut_ready_item items[2] = {item(p.fd[0], true, false), item(p.fd[1], true, true)};
  items[0].got_read = true;  // stale result from an earlier call
  EXPECT_EQ(ut_wait_ready(items, 2, 0), 1);  // only fd[1] can write
  EXPECT_FALSE(items[0].got_read || items[1].got_read);
  EXPECT_TRUE(items[1].got_write);
  ASSERT_EQ(::write(p.fd[1], "ab", 2), 2);
  items[1].want_write = false;
  EXPECT_EQ(ut_wait_ready(items, 2, 1000), 1);
  EXPECT_TRUE(items[0].got_read);
  EXPECT_FALSE(items[0].got_write || items[1].got_read);
  bool readable = false, writable = true;
  EXPECT_EQ(ut_wait_fd(p.fd[0], true, false, 0, &readable, &writable), 1);  // one descriptor
  EXPECT_TRUE(readable && !writable);
  EXPECT_EQ(ut_wait_ready(nullptr, 0, -5), 0);  // negative: no wait

  SocketPair q;
  ::close(q.fd[1]);
  q.fd[1] = -1;
  int closed = ::dup(q.fd[0]);
  ::close(closed);  // a descriptor number that is not open
  ut_ready_item gone[2] = {item(q.fd[0], true, false), item(closed, true, true)};
  EXPECT_EQ(ut_wait_ready(gone, 2, 1000), 2);
  EXPECT_TRUE(gone[0].got_read && gone[1].got_read && gone[1].got_write);  // the read will see end of file

  rlimit lim{};
  const int high = FD_SETSIZE + 100;
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur <= static_cast<rlim_t>(high)) return;
  ASSERT_EQ(::dup2(p.fd[0], high), high);  // beyond FD_SETSIZE
  ut_ready_item far[1] = {item(high, true, false)};
  EXPECT_EQ(ut_wait_ready(far, 1, 1000), 1);
  ::close(high);
}

TEST(WaitReady, SignalEndsTheWaitWithoutAnError) {
  SocketPair p;
  struct sigaction sa {}, old{};
  sa.sa_handler = [](int) {};  // no SA_RESTART: the wait is interrupted
  ASSERT_EQ(::sigaction(SIGALRM, &sa, &old), 0);
  itimerval timer{};
  timer.it_value.tv_usec = 20 * 1000;
  ASSERT_EQ(::setitimer(ITIMER_REAL, &timer, nullptr), 0);
  ut_ready_item items[1] = {item(p.fd[0], true, false)};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ut_wait_ready(items, 1, 5000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  ::sigaction(SIGALRM, &old, nullptr);
}

// ---- the retry handler on the fake clock ----

struct Waiter : RetryHandler {
  using RetryHandler::RetryHandler;
  void idle() override {}
};

struct Flag : RetryCondition {
  bool ok = true;
  int asked = 0;
  bool mayRetry() override { return ++asked, ok; }
};

class RetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000000;
    ut_setClockForTesting([] { return g_now; });
    RetryHandler::setMaxRunTime(-1);
  }
  void TearDown() override {
    RetryHandler::setMaxRunTime(-1);
    ut_setClockForTesting(nullptr);
  }
  // Milliseconds after beginOp at which retryOp first says no (-1: not
  // within `limit`).
  static long long giveUpAfter(RetryHandler &h, long long limit = 100000) {
    h.beginOp();
    const long long start = g_now;
    for (long long step = 0; step <= limit; step += 50) {
      g_now = start + step;
      if (!h.retryOp()) return step;
    }
    return -1;
  }
};

TEST_F(RetryTest, TimeoutOptionsDeadlineAndClockWrap) {
  struct Case {
    int option;  // -1: default, n > 0: n times the default, 1000000 + n: n ms
    long long startAt, giveUp;
  } cases[] = {{-1, 1000000, 15000}, {2, 1000000, 30000}, {1000000 + 500, 1000000, 500},
               {1000000 + 300, 0xFFFFFFFFLL - 100, 300}};  // the 32-bit clock wraps meanwhile
  for (const Case &c : cases) {
    g_now = c.startAt;
    Waiter h(c.option);
    EXPECT_EQ(giveUpAfter(h), c.giveUp) << c.option;
  }
  EXPECT_EQ(ut_getTimeMillis(), static_cast<int>(static_cast<unsigned>(g_now)));
  EXPECT_EQ(RetryHandler::timeoutForOption(0), 15000);  // not valid: the default
  EXPECT_EQ(RetryHandler::timeoutForOption(-7), 15000);
  EXPECT_GT(RetryHandler::timeoutForOption(1000000), 0);  // a huge multiple does not overflow

  g_now = 1000000;
  EXPECT_FALSE(RetryHandler::isTimeToDie());
  RetryHandler::setMaxRunTime(ut_getTimeMillis() - 1);
  EXPECT_TRUE(RetryHandler::isTimeToDie());
  Waiter timed(-1), untimed;
  timed.beginOp();
  untimed.beginOp();
  EXPECT_FALSE(timed.retryOp());
  EXPECT_TRUE(untimed.retryOp());  // only handlers with a time-out look at the deadline
  RetryHandler::setMaxRunTime(ut_getTimeMillis() + 100);
  EXPECT_EQ(giveUpAfter(timed), 150);
}

TEST_F(RetryTest, NoOptionNeverTimesOutButConditionsStopIt) {
  Waiter h;
  EXPECT_EQ(giveUpAfter(h), -1);
  Flag a, b;
  h.addRetryCondition(&a);
  h.addRetryCondition(&b);
  EXPECT_TRUE(h.retryOp());
  b.ok = false;
  EXPECT_FALSE(h.retryOp());
  a.ok = false;
  const int bAsked = b.asked;
  EXPECT_FALSE(h.retryOp());
  EXPECT_EQ(b.asked, bAsked);  // the first veto ends the questioning
  EXPECT_TRUE(h.removeRetryCondition(&a));
  EXPECT_FALSE(h.removeRetryCondition(&a));
  EXPECT_TRUE(h.removeRetryCondition(&b));
  EXPECT_TRUE(h.retryOp());
  ut_setClockForTesting(nullptr);
  const long long wall = ut_getTimeMillis64();
  EXPECT_GT(wall, 1000000000000LL);  // the wall clock: after 2001
  EXPECT_GE(ut_getTimeMillis64(), wall);
}

}  // namespace
