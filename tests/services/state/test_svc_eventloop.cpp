// Tests of the state process's event loop and its exit: the exit decision,
// loop actions run over snapshots, sleep time precedence, cleanup order,
// the disconnect request with its 30000 ms repeat (a fake router link and a
// fake clock; the idle notifier's wait is replaced so that no pass sleeps),
// deletion at exit, and the signal dispositions (in child processes, so
// that the test runner keeps its own).
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "services/state/deleteable.h"
#include "services/state/svc_eventloop.h"
#include "services/state/svc_routerlink.h"
#include "services/state/svc_signals.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

long long g_now = 0;
std::vector<int> g_waits;
std::vector<std::string> g_log;

// An exit condition, loop action, cleanup action and sleep time at once,
// logging its name when run as an action.
struct Probe : ExitCondition, LoopAction, CleanupAction, SleepTime {
  explicit Probe(std::string n, bool global = false, int ms = 0)
      : ExitCondition(false), LoopAction(global), SleepTime(global && ms), name(std::move(n)), ms(ms) {}
  bool allowExit() override { return allow; }
  bool mustExit() override { return must; }
  void doLoopAction() override {
    g_log.push_back(name);
    if (then) then();
  }
  bool doCleanup() override {
    g_log.push_back(name);
    return false;
  }
  int getSleepTime() override { return ms; }
  std::string name;
  int ms;
  bool allow = false, must = false;
  std::function<void()> then;
};

// Alive for a fixed number of checks; records when a disconnect was asked.
struct FakeLink : Svc_RouterLink {
  bool isAlive() override { return aliveChecks-- > 0; }
  void requestDisconnect() override { requests.push_back(g_now); }
  bool createdAService() override { return created; }
  int aliveChecks = 0;
  bool created = true;
  std::vector<long long> requests;
};

bool yes() { return true; }
bool no() { return false; }
void funcA() { g_log.push_back("funcA"); }

class EventLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 100000;
    g_waits.clear();
    g_log.clear();
    ut_setClockForTesting([] { return g_now; });
    IdleNotifier::setWaitFunction([](ut_ready_item *, int, int ms) { return g_waits.push_back(ms), 0; });
    Svc_RouterLink::install(&link);
  }
  void TearDown() override {
    Svc_RouterLink::install(nullptr);
    IdleNotifier::setWaitFunction(nullptr);
    ut_setClockForTesting(nullptr);
  }
  FakeLink link;
};

TEST_F(EventLoopTest, ExitDecisionFollowsConditionsFunctionsAndCreatedServices) {
  Svc_EventLoop loop;
  EXPECT_TRUE(loop.shouldExit());  // nothing installed
  Probe refuses("r"), demands("d"), allows("a");
  demands.must = allows.allow = true;
  loop.installExitCondition(&refuses);
  EXPECT_FALSE(loop.shouldExit());
  loop.installExitCondition(&demands);  // later, but still seen
  EXPECT_TRUE(loop.shouldExit());
  EXPECT_TRUE(loop.uninstallExitCondition(&demands));
  EXPECT_TRUE(loop.uninstallExitCondition(&refuses));
  EXPECT_FALSE(loop.uninstallExitCondition(&refuses));
  loop.installExitCondition(&allows);
  loop.installExitConditionFunc(yes);
  loop.installExitConditionFunc(no);
  EXPECT_FALSE(loop.shouldExit());
  EXPECT_TRUE(loop.uninstallExitConditionFunc(no));
  EXPECT_FALSE(loop.uninstallExitConditionFunc(no));
  // Until a service was created the process keeps serving: no disconnect.
  loop.installExitConditionFunc(Svc_RouterLink::anyServiceCreated);
  link.created = false;
  link.aliveChecks = 3;
  loop.enterLoop();
  EXPECT_TRUE(link.requests.empty());
  link.created = true;
  EXPECT_TRUE(loop.shouldExit());
  Svc_RouterLink::install(nullptr);
  EXPECT_FALSE(Svc_RouterLink::anyServiceCreated());
  // Without a router link the loop returns at once.
  EXPECT_TRUE(loop.enterLoop());
}

TEST(EventLoopGlobalTest, GlobalConditionsAreCopiedAtConstruction) {
  // The global list has no uninstall: run in a child process.
  EXPECT_EXIT(
      {
        Svc_EventLoop before;
        Probe refuses("r");
        Svc_EventLoop::installGlobalExitCondition(&refuses);
        Svc_EventLoop after;
        std::exit(before.shouldExit() && !after.shouldExit() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(EventLoopTest, ActionsRunLocalObjectsThenFunctionsThenGlobalsOverSnapshots) {
  Probe first("first"), second("second"), added("added");
  Svc_EventLoop loop;
  {
    Probe global("global", true);
    // "first" removes "second" and adds "added": both take effect with the
    // next pass.
    first.then = [&] {
      loop.uninstallLoopAction(&second);
      loop.installLoopAction(&added);
    };
    loop.installLoopAction(&first);
    loop.installLoopAction(&second);
    loop.installLoopActionFunc(funcA);
    loop.loopAction();
    first.then = nullptr;
    EXPECT_TRUE(loop.uninstallLoopActionFunc(funcA));
    loop.loopAction();
  }
  loop.loopAction();  // the global action left when destroyed
  EXPECT_EQ(g_log, (std::vector<std::string>{"first", "second", "funcA", "global", "first",
                                             "added", "global", "first", "added"}));
}

TEST_F(EventLoopTest, SleepTimePrecedenceCleanupOrder) {
  {
    Svc_EventLoop loop;
    loop.loopAction();  // nothing installed anywhere: the default wait
    {
      Probe global("g", true, 500), local("l", false, 20);
      EXPECT_EQ(loop.calculateSleepTime(), 500);
      loop.setLocalSleepTimeFunc([] { return 77; });
      EXPECT_EQ(loop.calculateSleepTime(), 77);
      loop.setLocalSleepTime(&local);
      loop.loopAction();
      loop.setLocalSleepTime(nullptr);
      loop.setLocalSleepTimeFunc(nullptr);
      EXPECT_EQ(loop.calculateSleepTime(), 500);
    }
    EXPECT_EQ(Svc_EventLoop::getGlobalSleepTime(), nullptr);  // cleared when destroyed
    EXPECT_EQ(g_waits, (std::vector<int>{1000, 20}));
    // Cleanup objects run before functions, in installation order.
    static Probe a("a"), b("b");
    loop.installCleanupActionFunc([] { return g_log.push_back("func"), true; });
    loop.installCleanupAction(&a);
    loop.installCleanupAction(&b);
    loop.installCleanupAction(&a);  // duplicates run twice
    g_log.clear();
  }
  EXPECT_EQ(g_log, (std::vector<std::string>{"a", "b", "a", "func"}));
}

// Once the conditions agree the router is asked to disconnect; while they
// keep agreeing the request repeats only after 30000 ms, and agreement that
// was withdrawn and given again asks again at once. The loop ends with the
// router connection whatever the conditions. Each pass advances the fake
// clock by `step` and sets the condition from `agree`.
TEST_F(EventLoopTest, DisconnectRequestRepeatsAfter30000msOrAfterWithdrawnAgreement) {
  struct Case {
    long long step;
    std::vector<bool> agree;
    std::vector<long long> requests;
  } cases[] = {
      // 110000 asks; 140000 is not yet past the deadline; 150000 asks again.
      {10000, std::vector<bool>(8, true), {110000, 150000}},
      {1000, {true, false, true, true}, {101000, 103000}},
      {1000, {false, false, false}, {}},
  };
  for (const Case &k : cases) {
    g_now = 100000;
    g_waits.clear();
    link.requests.clear();
    Probe script("pass");
    size_t pass = 0;
    script.then = [&] {
      g_now += k.step;
      script.allow = pass < k.agree.size() && k.agree[pass];
      ++pass;
    };
    Svc_EventLoop loop;
    loop.installExitCondition(&script);
    loop.installLoopAction(&script);
    link.aliveChecks = static_cast<int>(k.agree.size());
    EXPECT_TRUE(loop.enterLoop());
    EXPECT_EQ(pass, k.agree.size());
    EXPECT_EQ(link.requests, k.requests) << k.step;
    EXPECT_EQ(g_waits, std::vector<int>(k.agree.size(), 1000));  // the default sleep time
  }
}

TEST(DeleteAtExitTest, DeletesInAscendingKeyOrderAndEqualKeysInRegistrationOrder) {
  struct Named : DeleteAble {
    Named(const char *n, bool late = false) : name(n), late(late) {}
    ~Named() override {
      std::fprintf(stderr, "del:%s\n", name);
      if (late) delete_at_exit(new Named("late"), 0.0f);  // registered while exiting
    }
    const char *name;
    bool late;
  };
  EXPECT_EXIT(
      {
        delete_at_exit(new Named("5a"), 5.0f);
        delete_at_exit(new Named("1"), 1.0f);
        delete_at_exit(nullptr, 2.0f);  // ignored
        delete_at_exit(new Named("5b"), 5.0f);
        delete_at_exit(new Named("3", true), 3.0f);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^del:1\ndel:3\ndel:late\ndel:5a\ndel:5b\n$");
}

bool ignored(int sig) {
  struct sigaction sa {};
  return ::sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN;
}

// True once waitpid says `pid` is no child of ours any more (reaped by the
// handler), checking for up to two seconds.
bool reapedByHandler(pid_t pid) {
  for (int i = 0; i < 200; ++i, usleep(10000)) {
    errno = 0;
    pid_t r = ::waitpid(pid, nullptr, WNOHANG);
    if (r == -1 && errno == ECHILD) return true;
    if (r == pid) return false;  // a zombie the handler left behind
  }
  return false;
}

// Terminal signals are ignored (an interrupt does not stop the process);
// two children ending while SIGCHLD is held are both reaped by one
// delivery; a warning into a closed stderr raises no SIGPIPE; the first
// stop signal is kept and ends the loop, later ones change nothing. The
// result is the number of the first check that failed.
int signalChecks() {
  gen_init("stoptest", 0, 0);
  Svc_SetSignalDispositions();
  if (!(ignored(SIGINT) && ignored(SIGTSTP) && ignored(SIGTTIN) && ignored(SIGTTOU))) return 1;
  ::raise(SIGINT);
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGCHLD);
  sigprocmask(SIG_BLOCK, &block, &old);
  pid_t a = ::fork();
  if (a == 0) ::_exit(0);
  pid_t b = ::fork();
  if (b == 0) ::_exit(0);
  usleep(100000);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (!(a > 0 && b > 0 && reapedByHandler(a) && reapedByHandler(b))) return 2;
  int fds[2];
  if (!Svc_InstallStopSignals() || ::pipe(fds) != 0 || ::dup2(fds[1], 2) != 2) return 3;
  ::close(fds[0]);
  gen_warning("nobody reads this");
  if (Svc_StopSignal() != 0) return 4;
  ::raise(SIGHUP);
  ::raise(SIGTERM);
  if (Svc_StopSignal() != SIGHUP) return 5;
  FakeLink link;
  link.aliveChecks = 1 << 30;  // only the stop signal ends the loop
  Svc_RouterLink::install(&link);
  Svc_EventLoop loop;
  loop.enterLoop();
  return 0;
}

TEST(SignalDispositionsTest, TerminalSignalsChildrenClosedStderrAndStopSignals) {
  EXPECT_EXIT(std::_Exit(signalChecks()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
