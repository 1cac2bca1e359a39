// Tests of the idle notifier: timers, idlers and the socket pass, with a
// fake clock and, where the wait itself is under test, a recording fake of
// the readiness call. Real sockets come from socketpair.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

long long g_now = 0;
long long fakeClock() { return g_now; }

// Records every wait and answers "nothing ready" without sleeping.
std::vector<int> g_wait_timeouts;
std::vector<int> g_wait_counts;
int recordingWait(ut_ready_item *items, int count, int timeoutMs) {
  g_wait_timeouts.push_back(timeoutMs);
  g_wait_counts.push_back(count);
  return 0;
}

class IdleNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000;
    g_wait_timeouts.clear();
    g_wait_counts.clear();
    ut_setClockForTesting(fakeClock);
    notifier = getIdleNotifier();
    ASSERT_NE(notifier, nullptr);
    baseline = notifier->getNumIdlers();
  }
  void TearDown() override {
    // Every test unregisters what it registered.
    EXPECT_EQ(notifier->getNumIdlers(), baseline);
    ut_setClockForTesting(nullptr);
    IdleNotifier::setWaitFunction(nullptr);
  }

  IdleNotifier *notifier = nullptr;
  int baseline = 0;
  std::vector<std::string> log;
};

// ---- fakes ----

struct LogTimer : TimerListener {
  LogTimer(std::vector<std::string> *l, std::string n) : log(l), name(std::move(n)) {}
  void handleTimer(int now) override {
    log->push_back(name + "@" + std::to_string(now));
    if (onFire) onFire();
  }
  std::vector<std::string> *log;
  std::string name;
  std::function<void()> onFire;
};

struct LogIdler : Idler {
  LogIdler(std::vector<std::string> *l, std::string n, bool s = true)
      : log(l), name(std::move(n)), safe(s) {}
  void handleIdle(IdleNotifier *) override {
    log->push_back(name);
    if (onIdle) onIdle();
  }
  bool isIdlerSafe() override { return safe; }
  std::vector<std::string> *log;
  std::string name;
  bool safe;
  std::function<void()> onIdle;
};

struct LogListener : SocketListener {
  // With a descriptor, the listener wants to read from it.
  LogListener(std::vector<std::string> *l, std::string n, int readFd = -1)
      : log(l), name(std::move(n)), fd(readFd), read(readFd >= 0) {}
  bool hasFD() override { return fd >= 0; }
  int getFD() override { return fd; }
  bool wantsToRead() override { return read; }
  bool wantsToWrite() override { return write; }
  bool wantsToDequeueAndDispatch() override { return dispatch; }
  bool wantsToStop() override { return stop; }
  void handleRead() override {
    if (fd >= 0) {
      char buf[64];
      (void)::read(fd, buf, sizeof buf);
    }
    note("read", onRead);
  }
  void handleWrite() override { note("write", onWrite); }
  void handleDequeueAndDispatch() override { note("dispatch", onDispatch); }
  void handleStop() override { note("stop", onStop); }
  void note(const char *what, const std::function<void()> &then) {
    log->push_back(name + ":" + what);
    if (then) then();
  }
  std::vector<std::string> *log;
  std::string name;
  int fd = -1;
  bool read = false, write = false, dispatch = false, stop = false;
  std::function<void()> onRead, onWrite, onDispatch, onStop;
};

// A connected socket pair, closed at the end of the test.
struct SocketPair {
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
  ~SocketPair() {
    ::close(fd[0]);
    ::close(fd[1]);
  }
  void send(int end) { ASSERT_EQ(::write(fd[end], "x", 1), 1); }
  int fd[2];
};

using Log = std::vector<std::string>;

// ---- timers ----

TEST_F(IdleNotifierTest, TimersWithEqualDueTimesFireInInsertionOrder) {
  LogTimer a(&log, "a"), b(&log, "b"), c(&log, "c"), late(&log, "late");
  notifier->addTimerListener(&b, 100);
  notifier->addTimerListener(&late, 500);
  notifier->addTimerListener(&a, 100);
  notifier->addTimerListener(&c, 100);
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), 100);

  g_now = 1099;
  notifier->notifyTimers();
  EXPECT_TRUE(log.empty());
  g_now = 1100;
  notifier->notifyTimers();
  EXPECT_EQ(log, (Log{"b@1100", "a@1100", "c@1100"}));
  // Re-scheduled at now + interval, behind "late" (due 1500): the next due
  // entry is 100 ms away.
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), 100);
  g_now = 1600;
  log.clear();
  notifier->notifyTimers();
  EXPECT_EQ(log, (Log{"b@1600", "a@1600", "c@1600", "late@1600"}));

  notifier->removeTimerListener(&a);
  notifier->removeTimerListener(&b);
  notifier->removeTimerListener(&c);
  notifier->removeTimerListener(&late);
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), -1);
}

TEST_F(IdleNotifierTest, TimerWithIntervalZeroFiresOncePerCall) {
  LogTimer zero(&log, "zero"), later(&log, "later");
  notifier->addTimerListener(&zero, 0);
  notifier->addTimerListener(&later, 50);
  notifier->notifyTimers();
  EXPECT_EQ(log, (Log{"zero@1000"}));
  notifier->notifyTimers();
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), 0);
  notifier->removeTimerListener(&zero);
  notifier->removeTimerListener(&later);
}

TEST_F(IdleNotifierTest, OverdueTimerReportsZeroWaitAndRemovalTakesEveryEntry) {
  LogTimer t(&log, "t");
  notifier->addTimerListener(&t, 10);
  notifier->addTimerListener(&t, 20);
  g_now = 5000;
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), 0);
  notifier->removeTimerListener(&t);
  EXPECT_EQ(notifier->getTimeBeforeNextTimer(), -1);
  notifier->notifyTimers();
  EXPECT_TRUE(log.empty());
}

TEST_F(IdleNotifierTest, TimerHandlersMayRemoveAndAddTimers) {
  LogTimer self(&log, "self"), victim(&log, "victim"), added(&log, "added");
  self.onFire = [&] {
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
  EXPECT_EQ(log, (Log{"self@1010"}));
  notifier->notifyTimers();
  EXPECT_EQ(log, (Log{"self@1010", "added@1010"}));
  notifier->removeTimerListener(&added);
}

TEST_F(IdleNotifierTest, TimesAcrossTheClockWrapCompareByDifference) {
  LogTimer t(&log, "t");
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

// ---- idlers ----

TEST_F(IdleNotifierTest, IdlersRunOncePerCallAndSafeOnlySkipsUnsafeOnes) {
  LogIdler safe(&log, "safe"), unsafe(&log, "unsafe", false);
  notifier->addIdleListener(&safe);
  notifier->addIdleListener(&safe);  // a set: still one entry
  notifier->addIdleListener(&unsafe);
  EXPECT_EQ(notifier->getNumIdlers(), baseline + 2);

  notifier->notifyIdle(false);
  std::sort(log.begin(), log.end());
  EXPECT_EQ(log, (Log{"safe", "unsafe"}));
  log.clear();
  notifier->notifyIdle(true);
  EXPECT_EQ(log, (Log{"safe"}));

  notifier->removeIdleListener(&safe);
  notifier->removeIdleListener(&unsafe);
}

TEST_F(IdleNotifierTest, IdlerRemovedDuringCallIsSkippedAndAddedOneWaits) {
  LogIdler a(&log, "a"), b(&log, "b"), added(&log, "added");
  // Whichever runs first removes the other: exactly one of the two runs.
  a.onIdle = [&] {
    notifier->removeIdleListener(&b);
    notifier->addIdleListener(&added);
  };
  b.onIdle = [&] {
    notifier->removeIdleListener(&a);
    notifier->addIdleListener(&added);
  };
  notifier->addIdleListener(&a);
  notifier->addIdleListener(&b);
  notifier->notifyIdle(false);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0], "added");
  log.clear();
  notifier->notifyIdle(false);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_NE(std::find(log.begin(), log.end(), "added"), log.end());

  notifier->removeIdleListener(&a);
  notifier->removeIdleListener(&b);
  notifier->removeIdleListener(&added);
}

// ---- socket pass ----

TEST_F(IdleNotifierTest, ReadableSocketIsHandledInOnePassAndListenersAreASet) {
  SocketPair pair;
  LogListener l(&log, "l", pair.fd[0]);
  notifier->addSocketListener(&l);
  notifier->addSocketListener(&l);
  EXPECT_EQ(notifier->getNumIdlers(), baseline + 1);
  notifier->notifySocketActivity(0, true);
  EXPECT_TRUE(log.empty());
  pair.send(1);
  notifier->notifySocketActivity(0, true);
  EXPECT_EQ(log, (Log{"l:read"}));
  notifier->removeSocketListener(&l);
  notifier->removeSocketListener(&l);  // unknown now: ignored
  EXPECT_EQ(notifier->getNumIdlers(), baseline);
}

TEST_F(IdleNotifierTest, ListenerRemovingItselfInReadGetsNoFurtherCalls) {
  SocketPair pair;
  LogListener self(&log, "self", pair.fd[0]), other(&log, "other");
  self.write = true;  // write is ready as well
  self.onRead = [&] { notifier->removeSocketListener(&self); };
  other.fd = pair.fd[1];
  other.write = true;
  notifier->addSocketListener(&self);
  notifier->addSocketListener(&other);
  pair.send(1);
  notifier->notifySocketActivity(0, true);
  EXPECT_EQ(log, (Log{"self:read", "other:write"}));
  // Compacted: only "other" is left.
  EXPECT_EQ(notifier->getNumIdlers(), baseline + 1);
  log.clear();
  notifier->notifySocketActivity(0, true);
  EXPECT_EQ(log, (Log{"other:write"}));
  notifier->removeSocketListener(&other);
}

TEST_F(IdleNotifierTest, ListenerAddedInsideAHandlerIsServedNextPass) {
  SocketPair pair;
  LogListener first(&log, "first", pair.fd[0]), added(&log, "added");
  first.onRead = [&] { notifier->addSocketListener(&added); };
  added.fd = pair.fd[1];
  added.write = true;
  notifier->addSocketListener(&first);
  pair.send(1);
  notifier->notifySocketActivity(0, true);
  EXPECT_EQ(log, (Log{"first:read"}));
  log.clear();
  notifier->notifySocketActivity(0, true);
  EXPECT_EQ(log, (Log{"added:write"}));
  notifier->removeSocketListener(&first);
  notifier->removeSocketListener(&added);
}

TEST_F(IdleNotifierTest, NestedPassDoesNotLetOuterPassCallARemovedListener) {
  SocketPair a, b;
  LogListener outer(&log, "outer", a.fd[0]), inner(&log, "inner", b.fd[0]);
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
  // Inner is handled once, by whichever pass reaches it first.
  EXPECT_EQ(std::count(log.begin(), log.end(), "inner:read"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "outer:read"), 1);
  EXPECT_EQ(notifier->getNumIdlers(), baseline + 1);
  notifier->removeSocketListener(&outer);
}

TEST_F(IdleNotifierTest, ListenerWithoutDescriptorIsHandledWithoutWaiting) {
  IdleNotifier::setWaitFunction(recordingWait);
  LogListener loop(&log, "loop");
  loop.read = true;  // a loopback transport: no descriptor
  notifier->addSocketListener(&loop);
  notifier->notifySocketActivity(1000, true);
  ASSERT_EQ(g_wait_timeouts.size(), 1u);
  EXPECT_EQ(g_wait_timeouts[0], 0);
  EXPECT_EQ(g_wait_counts[0], 0);
  EXPECT_EQ(log, (Log{"loop:read"}));
  notifier->removeSocketListener(&loop);
}

TEST_F(IdleNotifierTest, DispatchRequestForcesZeroWaitAndStopIsAskedAfterHandlers) {
  IdleNotifier::setWaitFunction(recordingWait);
  LogListener l(&log, "l");
  l.dispatch = true;
  l.onDispatch = [&] { l.stop = true; };
  l.onStop = [&] { notifier->removeSocketListener(&l); };
  notifier->addSocketListener(&l);
  notifier->notifySocketActivity(1000, true);
  EXPECT_EQ(g_wait_timeouts, (std::vector<int>{0}));
  EXPECT_EQ(log, (Log{"l:dispatch", "l:stop"}));
  EXPECT_EQ(notifier->getNumIdlers(), baseline);
}

TEST_F(IdleNotifierTest, WaitIsTheTimeoutShortenedToTheNextTimer) {
  IdleNotifier::setWaitFunction(recordingWait);
  // Nothing registered: one wait of the full timeout.
  notifier->notifySocketActivity(1000, true);
  LogTimer t(&log, "t");
  notifier->addTimerListener(&t, 250);
  notifier->notifySocketActivity(1000, true);
  g_now += 300;  // overdue: no wait at all
  notifier->notifySocketActivity(1000, true);
  EXPECT_EQ(g_wait_timeouts, (std::vector<int>{1000, 250, 0}));
  notifier->removeTimerListener(&t);
}

TEST_F(IdleNotifierTest, ReadinessRecordedWithoutProcessingIsHandledFirstNextTime) {
  SocketPair pair;
  LogListener l(&log, "l", pair.fd[0]);
  notifier->addSocketListener(&l);
  pair.send(1);
  notifier->notifySocketActivity(5, false);
  EXPECT_TRUE(log.empty());
  // Pending flags: the processing call handles them and does not wait.
  IdleNotifier::setWaitFunction(recordingWait);
  notifier->notifySocketActivity(1000, true);
  EXPECT_EQ(log, (Log{"l:read"}));
  EXPECT_TRUE(g_wait_timeouts.empty());
  // Without processing and with flags pending, the wait would be zero: the
  // call returns without waiting.
  l.fd = -1;  // a read that needs no descriptor is flagged at once
  notifier->notifySocketActivity(5, false);
  notifier->notifySocketActivity(1000, false);
  EXPECT_EQ(g_wait_timeouts, (std::vector<int>{0}));
  notifier->removeSocketListener(&l);
}

TEST_F(IdleNotifierTest, CompactionMovesTheLastEntryWithItsFlags) {
  LogListener a(&log, "a"), b(&log, "b"), c(&log, "c");
  for (LogListener *l : {&a, &b, &c}) {
    l->read = true;  // no descriptor: flagged without a wait
    notifier->addSocketListener(l);
  }
  notifier->notifySocketActivity(5, false);
  for (LogListener *l : {&a, &b, &c}) l->read = false;
  notifier->removeSocketListener(&a);  // c moves into a's slot
  IdleNotifier::setWaitFunction(recordingWait);
  notifier->notifySocketActivity(1000, true);
  EXPECT_EQ(log, (Log{"c:read", "b:read"}));
  EXPECT_TRUE(g_wait_timeouts.empty());
  notifier->removeSocketListener(&b);
  notifier->removeSocketListener(&c);
}

// ---- lifetime ----

struct ReportsNotifier : DeleteAble {
  ~ReportsNotifier() override {
    std::fprintf(stderr, getIdleNotifier() ? "notifier alive\n" : "notifier gone\n");
  }
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

}  // namespace
