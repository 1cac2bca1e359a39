// The idle notifier (timers, idlers and the socket pass, on a fake clock
// and, where the wait itself is under test, a recording fake of the
// readiness call; real sockets come from socketpair), the readiness wait
// over real descriptors, and the retry handler's time-outs.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/libcxxutil/ut_select.h"
#include "shared/libcxxutil/ut_wake_pipe.h"

namespace {

using Log = std::vector<std::string>;
long long g_now = 0;
std::vector<int> g_waits;  // timeouts of the recorded waits

// A timer, idler and socket listener at once that logs every call as
// "name:what" and then runs the hook `on[what]`.
struct Probe : TimerListener, Idler, SocketListener {
  Probe(Log *l, std::string n, int readFd = -1) : log(l), name(std::move(n)), fd(readFd), read(readFd >= 0) {}
  void handleTimer(int now) override { note("timer", "@" + std::to_string(now)); }
  void handleIdle(IdleNotifier *) override { note("idle"); }
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
    note("read");
  }
  void handleWrite() override { note("write"); }
  void handleDequeueAndDispatch() override { note("dispatch"); }
  void handleStop() override { note("stop"); }
  void note(const std::string &what, const std::string &detail = "") {
    log->push_back(name + ":" + what + detail);
    if (on.count(what)) on[what]();
  }
  Log *log;
  std::string name;
  int fd;
  bool read, write = false, dispatch = false, stop = false, safe = true;
  std::map<std::string, std::function<void()>> on;
};

// A connected socket pair, closed at the end of the test.
struct SocketPair {
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
  ~SocketPair() {
    for (int f : fd)
      if (f >= 0) ::close(f);
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
    ASSERT_NE(n = getIdleNotifier(), nullptr);
    baseline = n->getNumIdlers();
  }
  void TearDown() override {
    EXPECT_EQ(n->getNumIdlers(), baseline);  // every test unregisters what it registered
    ut_setClockForTesting(nullptr);
    IdleNotifier::setWaitFunction(nullptr);
  }
  // Records every wait and answers "nothing ready" without sleeping.
  static void recordWaits() {
    IdleNotifier::setWaitFunction([](ut_ready_item *, int, int ms) { return g_waits.push_back(ms), 0; });
  }
  Log take(bool sorted = false) {
    if (sorted) std::sort(log.begin(), log.end());
    return std::exchange(log, {});
  }
  void timersAt(long long now) { g_now = now, n->notifyTimers(); }

  IdleNotifier *n = nullptr;
  int baseline = 0;
  Log log;
};

TEST_F(IdleNotifierTest, TimersFireInDueOrderRescheduleAfterNowAndCompareAcrossTheWrap) {
  Probe a(&log, "a"), b(&log, "b"), late(&log, "late"), zero(&log, "zero"), w(&log, "w");
  for (auto [p, ms] : {std::pair{&b, 100}, {&late, 500}, {&a, 100}}) n->addTimerListener(p, ms);
  EXPECT_EQ(n->getTimeBeforeNextTimer(), 100);
  timersAt(1099);
  EXPECT_EQ(take(), Log{});
  timersAt(1100);
  EXPECT_EQ(take(), (Log{"b:timer@1100", "a:timer@1100"}));  // equal due times: insertion order
  EXPECT_EQ(n->getTimeBeforeNextTimer(), 100);  // now + interval
  timersAt(1600);
  EXPECT_EQ(take(), (Log{"b:timer@1600", "a:timer@1600", "late:timer@1600"}));
  n->addTimerListener(&zero, 0);  // interval zero: once per call
  n->addTimerListener(&a, 10);    // a second entry for the same listener
  n->notifyTimers(), n->notifyTimers();
  EXPECT_EQ(take(), (Log{"zero:timer@1600", "zero:timer@1600"}));
  g_now = 5000;
  EXPECT_EQ(n->getTimeBeforeNextTimer(), 0);  // overdue
  for (Probe *p : {&a, &b, &late, &zero}) n->removeTimerListener(p);  // every entry
  EXPECT_EQ(n->getTimeBeforeNextTimer(), -1);
  g_now = 0x7ffffff0;  // 16 ms before the 32-bit clock turns negative
  n->addTimerListener(&w, 32);
  EXPECT_EQ(n->getTimeBeforeNextTimer(), 32);
  timersAt(0x80000005LL);
  EXPECT_TRUE(log.empty());
  timersAt(0x80000010LL);
  EXPECT_EQ(take(), (Log{"w:timer@-2147483632"}));
  n->removeTimerListener(&w);
}

TEST_F(IdleNotifierTest, TimerHandlersMayRemoveAndAddTimers) {
  Probe self(&log, "self"), victim(&log, "victim"), added(&log, "added");
  self.on["timer"] = [&] {
    n->removeTimerListener(&self), n->removeTimerListener(&victim), n->addTimerListener(&added, 0);
  };
  for (Probe *p : {&self, &victim}) n->addTimerListener(p, 10);
  timersAt(1010);
  // The victim was due too but was removed before its turn; the timer
  // added during the call was not counted in it.
  EXPECT_EQ(take(), (Log{"self:timer@1010"}));
  n->notifyTimers();
  EXPECT_EQ(take(), (Log{"added:timer@1010"}));
  n->removeTimerListener(&added);
}

TEST_F(IdleNotifierTest, IdlersRunOncePerCallAndMayRemoveEachOther) {
  Probe a(&log, "a"), b(&log, "b"), unsafe(&log, "unsafe"), added(&log, "added");
  unsafe.safe = false;
  n->addIdleListener(&unsafe);
  n->addIdleListener(&unsafe);  // a set: still one entry
  EXPECT_EQ(n->getNumIdlers(), baseline + 1);
  n->notifyIdle(true), n->notifyIdle(false);  // safe only, then all
  EXPECT_EQ(take(), (Log{"unsafe:idle"}));
  n->removeIdleListener(&unsafe);
  // Whichever runs first removes the other: exactly one of the two runs,
  // and the idler added meanwhile waits for the next call.
  a.on["idle"] = [&] { n->removeIdleListener(&b), n->addIdleListener(&added); };
  b.on["idle"] = [&] { n->removeIdleListener(&a), n->addIdleListener(&added); };
  n->addIdleListener(&a), n->addIdleListener(&b);
  n->notifyIdle(false);
  Log first = take();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_NE(first[0], "added:idle");
  n->notifyIdle(false);
  Log second = take();
  EXPECT_EQ(second.size(), 2u);
  EXPECT_EQ(std::count(second.begin(), second.end(), "added:idle"), 1);
  for (Probe *p : {&a, &b, &added}) n->removeIdleListener(p);
}

TEST_F(IdleNotifierTest, ListenersRemovedOrAddedDuringAPassAreNotCalledInIt) {
  SocketPair pair;
  Probe self(&log, "self", pair.fd[0]), other(&log, "other"), added(&log, "added");
  self.write = other.write = added.write = true;
  other.fd = added.fd = pair.fd[1];
  self.on["read"] = [&] { n->removeSocketListener(&self), n->addSocketListener(&added); };
  for (Probe *p : {&self, &self, &other}) n->addSocketListener(p);  // a set
  n->notifySocketActivity(0, true);
  EXPECT_EQ(take(), (Log{"self:write", "other:write"}));  // nothing to read yet
  pair.send(1);
  n->notifySocketActivity(0, true);
  EXPECT_EQ(take(), (Log{"self:read", "other:write"}));  // no write for the removed one
  n->notifySocketActivity(0, true);
  EXPECT_EQ(take(true), (Log{"added:write", "other:write"}));
  for (Probe *p : {&self, &other, &added}) n->removeSocketListener(p);  // self: unknown, ignored
}

TEST_F(IdleNotifierTest, NestedPassDoesNotLetOuterPassCallARemovedListener) {
  SocketPair a, b;
  Probe outer(&log, "outer", a.fd[0]), inner(&log, "inner", b.fd[0]);
  outer.on["read"] = [&] { outer.read = false, n->notifySocketActivity(0, true); };  // a blocking wait in a handler
  inner.on["read"] = [&] { n->removeSocketListener(&inner); };
  n->addSocketListener(&outer), n->addSocketListener(&inner);
  a.send(1), b.send(1);
  n->notifySocketActivity(0, true);
  EXPECT_EQ(take(true), (Log{"inner:read", "outer:read"}));  // inner by whichever pass comes first
  n->removeSocketListener(&outer);
}

TEST_F(IdleNotifierTest, WaitIsShortenedToTheNextTimerAndSkippedWhenWorkIsPending) {
  recordWaits();
  Probe loop(&log, "loop"), disp(&log, "disp"), t(&log, "t");
  n->notifySocketActivity(1000, true);  // nothing registered: the full timeout
  n->addTimerListener(&t, 250);
  n->notifySocketActivity(1000, true);
  g_now += 300;  // overdue: no wait at all
  n->notifySocketActivity(1000, true);
  n->removeTimerListener(&t);
  loop.read = true;  // a loopback transport: no descriptor, handled without waiting
  n->addSocketListener(&loop);
  n->notifySocketActivity(1000, true);
  n->removeSocketListener(&loop);
  disp.dispatch = true;  // a dispatch request forces a zero wait; stop is asked after the handlers
  disp.on["dispatch"] = [&] { disp.stop = true; };
  disp.on["stop"] = [&] { n->removeSocketListener(&disp); };
  n->addSocketListener(&disp);
  n->notifySocketActivity(1000, true);
  EXPECT_EQ(g_waits, (std::vector<int>{1000, 250, 0, 0, 0}));
  EXPECT_EQ(take(), (Log{"loop:read", "disp:dispatch", "disp:stop"}));
}

TEST_F(IdleNotifierTest, ReadinessRecordedWithoutProcessingIsHandledFirstNextTime) {
  SocketPair pair;
  Probe l(&log, "l", pair.fd[0]), a(&log, "a"), b(&log, "b");
  a.read = b.read = true;  // no descriptor: flagged without a wait
  for (Probe *p : {&a, &l, &b}) n->addSocketListener(p);
  pair.send(1);
  n->notifySocketActivity(5, false);
  EXPECT_TRUE(log.empty());
  a.read = b.read = false;
  n->removeSocketListener(&a);  // the pending flags of the others stay theirs
  recordWaits();
  n->notifySocketActivity(1000, true);  // handles the pending flags, does not wait
  EXPECT_EQ(take(true), (Log{"b:read", "l:read"}));
  EXPECT_TRUE(g_waits.empty());
  b.read = true;  // pending flags without processing: the call returns without waiting
  n->notifySocketActivity(5, false), n->notifySocketActivity(1000, false);
  EXPECT_EQ(g_waits, (std::vector<int>{0}));
  n->removeSocketListener(&l), n->removeSocketListener(&b);
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

// Unregistered, the first pass would sleep its whole time-out and see nothing.
TEST(WakePipe, PokesEndTheWaitAndAreDrainedInOnePass) {
  ut_WakePipe pipe;
  ASSERT_TRUE(pipe.ok());
  pipe.poke();
  pipe.poke();
  getIdleNotifier()->notifySocketActivity(5000, true);
  EXPECT_EQ(pipe.wakes(), 1);
  getIdleNotifier()->notifySocketActivity(0, true);
  EXPECT_EQ(pipe.wakes(), 1);
  EXPECT_NE(::fcntl(pipe.writeFd(), F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(::fcntl(pipe.writeFd(), F_GETFL) & O_NONBLOCK, 0);
}

TEST(WaitReady, ReadinessOfEachKindPeerClosedAndBadDescriptors) {
  SocketPair p;
  ut_ready_item items[2] = {item(p.fd[0], true, false), item(p.fd[1], true, true)};
  items[0].got_read = true;  // stale result from an earlier call
  EXPECT_EQ(ut_wait_ready(items, 2, 0), 1);  // only fd[1] can write
  EXPECT_FALSE(items[0].got_read || items[1].got_read || !items[1].got_write);
  ASSERT_EQ(::write(p.fd[1], "ab", 2), 2);
  items[1].want_write = false;
  EXPECT_EQ(ut_wait_ready(items, 2, 1000), 1);
  EXPECT_FALSE(!items[0].got_read || items[0].got_write || items[1].got_read);
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

// Milliseconds after beginOp at which retryOp first says no (-1: never
// within 100 s).
long long giveUpAfter(RetryHandler &h) {
  h.beginOp();
  for (long long step = 0, start = g_now; step <= 100000; step += 50)
    if (g_now = start + step; !h.retryOp()) return step;
  return -1;
}

TEST(Retry, TimeoutOptionsDeadlineClockWrapAndConditions) {
  ut_setClockForTesting([] { return g_now; });
  struct Case {
    int option;  // -1: default, n > 0: n times the default, 1000000 + n: n ms, 0: none
    long long startAt, giveUp;
  } cases[] = {{-1, 1000000, 15000}, {2, 1000000, 30000}, {1000000 + 500, 1000000, 500},
               {1000000 + 300, 0xFFFFFFFFLL - 100, 300}, {0, 1000000, -1}};  // the 32-bit clock wraps meanwhile
  for (const Case &c : cases) {
    g_now = c.startAt;
    Waiter timed(c.option), untimed;
    EXPECT_EQ(giveUpAfter(c.option ? timed : untimed), c.giveUp) << c.option;
  }
  EXPECT_EQ(ut_getTimeMillis(), static_cast<int>(static_cast<unsigned>(g_now)));
  EXPECT_EQ(std::pair(RetryHandler::timeoutForOption(0), RetryHandler::timeoutForOption(-7)),
            std::pair(15000, 15000));  // not valid: the default
  EXPECT_GT(RetryHandler::timeoutForOption(1000000), 0);  // a huge multiple does not overflow

  g_now = 1000000;
  EXPECT_FALSE(RetryHandler::isTimeToDie());
  RetryHandler::setMaxRunTime(ut_getTimeMillis() - 1);
  EXPECT_TRUE(RetryHandler::isTimeToDie());
  Waiter timed(-1), h;
  timed.beginOp(), h.beginOp();
  EXPECT_FALSE(timed.retryOp());
  EXPECT_TRUE(h.retryOp());  // only handlers with a time-out look at the deadline
  RetryHandler::setMaxRunTime(ut_getTimeMillis() + 100);
  EXPECT_EQ(giveUpAfter(timed), 150);
  RetryHandler::setMaxRunTime(-1);

  Flag a, b;
  h.addRetryCondition(&a), h.addRetryCondition(&b);
  EXPECT_TRUE(h.retryOp());
  b.ok = false;
  EXPECT_FALSE(h.retryOp());
  a.ok = false;
  const int bAsked = b.asked;
  EXPECT_FALSE(h.retryOp());
  EXPECT_EQ(b.asked, bAsked);  // the first veto ends the questioning
  EXPECT_TRUE(h.removeRetryCondition(&a) && !h.removeRetryCondition(&a) && h.removeRetryCondition(&b));
  EXPECT_TRUE(h.retryOp());
  ut_setClockForTesting(nullptr);
  const long long wall = ut_getTimeMillis64();
  EXPECT_GT(wall, 1000000000000LL);  // the wall clock: after 2001
  EXPECT_GE(ut_getTimeMillis64(), wall);
}

}  // namespace
