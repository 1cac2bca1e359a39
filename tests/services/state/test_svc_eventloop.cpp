// Tests of the event loop: the exit decision, loop actions and their
// snapshots, sleep time precedence, cleanup order, and the disconnect
// request with its 30000 ms repeat, driven by a fake router link and a fake
// clock. The idle notifier's wait is replaced so that no pass sleeps.
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "services/state/svc_eventloop.h"
#include "services/state/svc_routerlink.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

using Log = std::vector<std::string>;

long long g_now = 0;
long long fakeClock() { return g_now; }
std::vector<int> g_waits;
int recordingWait(ut_ready_item *, int, int timeoutMs) {
  g_waits.push_back(timeoutMs);
  return 0;
}
Log *g_log = nullptr;

struct Condition : ExitCondition {
  Condition(bool allow, bool must, bool global = false) : ExitCondition(global), allow(allow), must(must) {}
  bool allowExit() override { return allow; }
  bool mustExit() override { return must; }
  bool allow, must;
};

// Alive for a fixed number of checks; records when a disconnect was asked.
struct FakeLink : Svc_RouterLink {
  bool isAlive() override { return alive_checks-- > 0; }
  void requestDisconnect() override { requests.push_back(g_now); }
  bool createdAService() override { return created; }
  int alive_checks = 0;
  bool created = true;
  std::vector<long long> requests;
};

// Logs its name; `then` runs after that.
struct NamedAction : LoopAction {
  NamedAction(std::string n, bool global = false) : LoopAction(global), name(std::move(n)) {}
  void doLoopAction() override {
    g_log->push_back(name);
    if (then) then();
  }
  std::string name;
  std::function<void()> then;
};

struct NamedCleanup : CleanupAction {
  explicit NamedCleanup(std::string n) : name(std::move(n)) {}
  bool doCleanup() override {
    g_log->push_back(name);
    return false;
  }
  std::string name;
};

struct FixedSleep : SleepTime {
  FixedSleep(int ms, bool global = false) : SleepTime(global), ms(ms) {}
  int getSleepTime() override { return ms; }
  int ms;
};

void funcA() { g_log->push_back("funcA"); }
bool cleanupFunc() {
  g_log->push_back("cleanupFunc");
  return true;
}
bool yes() { return true; }
bool no() { return false; }
int sleep77() { return 77; }

class EventLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 100000;
    g_waits.clear();
    g_log = &log;
    ut_setClockForTesting(fakeClock);
    IdleNotifier::setWaitFunction(recordingWait);
    Svc_RouterLink::install(&link);
  }
  void TearDown() override {
    Svc_RouterLink::install(nullptr);
    IdleNotifier::setWaitFunction(nullptr);
    ut_setClockForTesting(nullptr);
    g_log = nullptr;
  }
  Log log;
  FakeLink link;
};

TEST_F(EventLoopTest, ExitDecisionFollowsConditionsFunctionsAndCreatedServices) {
  Svc_EventLoop loop;
  EXPECT_TRUE(loop.shouldExit());  // nothing installed
  Condition refuses(false, false), demands(false, true), allows(true, false);
  loop.installExitCondition(&refuses);
  EXPECT_FALSE(loop.shouldExit());
  loop.installExitCondition(&demands);  // later, but still seen
  EXPECT_TRUE(loop.shouldExit());
  EXPECT_TRUE(loop.uninstallExitCondition(&demands));
  EXPECT_TRUE(loop.uninstallExitCondition(&refuses));
  EXPECT_FALSE(loop.uninstallExitCondition(&refuses));
  loop.installExitCondition(&allows);
  loop.installExitConditionFunc(yes);
  EXPECT_TRUE(loop.shouldExit());
  loop.installExitConditionFunc(no);
  EXPECT_FALSE(loop.shouldExit());
  EXPECT_TRUE(loop.uninstallExitConditionFunc(no));
  EXPECT_FALSE(loop.uninstallExitConditionFunc(no));
  EXPECT_TRUE(loop.shouldExit());
  // Until a service was created the process keeps serving: no disconnect.
  loop.installExitConditionFunc(Svc_RouterLink::anyServiceCreated);
  link.created = false;
  EXPECT_FALSE(loop.shouldExit());
  link.alive_checks = 3;
  loop.enterLoop();
  EXPECT_TRUE(link.requests.empty());
  link.created = true;
  EXPECT_TRUE(loop.shouldExit());
  Svc_RouterLink::install(nullptr);
  EXPECT_FALSE(Svc_RouterLink::anyServiceCreated());
}

TEST(EventLoopGlobalTest, GlobalConditionsAreCopiedAtConstruction) {
  // The global list has no uninstall: run in a child process.
  EXPECT_EXIT(
      {
        Svc_EventLoop before;
        Condition refuses(false, false, true);  // installs itself globally
        Svc_EventLoop after;
        Condition demands(false, true);
        Svc_EventLoop::installGlobalExitCondition(&demands);
        Svc_EventLoop last;
        std::exit(before.shouldExit() && !after.shouldExit() && last.shouldExit() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(EventLoopTest, ActionsRunLocalObjectsThenFunctionsThenGlobalsOverSnapshots) {
  NamedAction first("first"), second("second"), added("added");
  Svc_EventLoop loop;
  {
    NamedAction global("global", true);
    // "first" removes "second" and adds "added": both changes take effect
    // with the next pass.
    first.then = [&] {
      loop.uninstallLoopAction(&second);
      loop.installLoopAction(&added);
    };
    loop.installLoopAction(&first);
    loop.installLoopAction(&second);
    loop.installLoopActionFunc(funcA);
    loop.loopAction();
    EXPECT_EQ(log, (Log{"first", "second", "funcA", "global"}));
    log.clear();
    first.then = nullptr;
    EXPECT_TRUE(loop.uninstallLoopActionFunc(funcA));
    EXPECT_FALSE(loop.uninstallLoopActionFunc(funcA));
    loop.loopAction();
    EXPECT_EQ(log, (Log{"first", "added", "global"}));
  }
  log.clear();
  loop.loopAction();  // the global action left when destroyed
  EXPECT_EQ(log, (Log{"first", "added"}));
}

TEST_F(EventLoopTest, SleepTimePrecedenceAndDefault) {
  Svc_EventLoop loop;
  loop.loopAction();  // nothing installed anywhere: the default wait
  {
    FixedSleep global(500, true);
    EXPECT_EQ(loop.calculateSleepTime(), 500);
    loop.setLocalSleepTimeFunc(sleep77);
    EXPECT_EQ(loop.calculateSleepTime(), 77);
    FixedSleep local(20);
    loop.setLocalSleepTime(&local);
    EXPECT_EQ(loop.calculateSleepTime(), 20);
    loop.loopAction();
    loop.setLocalSleepTime(nullptr);
    loop.setLocalSleepTimeFunc(nullptr);
    EXPECT_EQ(loop.calculateSleepTime(), 500);
  }
  // The global sleep time cleared itself when destroyed.
  EXPECT_EQ(Svc_EventLoop::getGlobalSleepTime(), nullptr);
  EXPECT_EQ(loop.calculateSleepTime(), 1000);
  EXPECT_EQ(g_waits, (std::vector<int>{1000, 20}));
}

TEST_F(EventLoopTest, DestructionRunsCleanupObjectsThenFunctionsInOrder) {
  NamedCleanup a("a"), b("b");
  {
    Svc_EventLoop loop;
    loop.installCleanupActionFunc(cleanupFunc);
    loop.installCleanupAction(&a);
    loop.installCleanupAction(&b);
    loop.installCleanupAction(&a);  // duplicates run twice
    EXPECT_TRUE(log.empty());
  }
  EXPECT_EQ(log, (Log{"a", "b", "a", "cleanupFunc"}));
}

// Once the conditions agree the router is asked to disconnect; while they
// keep agreeing the request repeats only after 30000 ms, and agreement that
// was withdrawn and given again asks again at once. Each pass advances the
// fake clock by `step` and sets the condition from `agree`.
TEST_F(EventLoopTest, DisconnectRequestRepeatsAfter30000msOrAfterWithdrawnAgreement) {
  struct Case {
    long long step;
    std::vector<bool> agree;
    std::vector<long long> requests;
  } cases[] = {
      // 110000 asks; 140000 is not yet past the deadline; 150000 asks again.
      {10000, std::vector<bool>(8, true), {110000, 150000}},
      {1000, {true, false, true, true}, {101000, 103000}},
  };
  for (const Case &k : cases) {
    g_now = 100000;
    link.requests.clear();
    Condition c(false, false);
    size_t pass = 0;
    NamedAction script("pass");
    script.then = [&] {
      g_now += k.step;
      c.allow = pass < k.agree.size() && k.agree[pass];
      ++pass;
    };
    Svc_EventLoop loop;
    loop.installExitCondition(&c);
    loop.installLoopAction(&script);
    link.alive_checks = static_cast<int>(k.agree.size());
    EXPECT_TRUE(loop.enterLoop());
    EXPECT_EQ(pass, k.agree.size());
    EXPECT_EQ(link.requests, k.requests) << k.step;
  }
}

// The loop ends when the router connection goes, whatever the conditions,
// and at once without a router link.
TEST_F(EventLoopTest, LoopEndsWithTheRouterConnection) {
  Condition refuses(false, false);
  NamedAction pass("pass");
  Svc_EventLoop loop;
  loop.installExitCondition(&refuses);
  loop.installLoopAction(&pass);
  link.alive_checks = 3;
  EXPECT_TRUE(loop.enterLoop());
  EXPECT_EQ(log.size(), 3u);
  EXPECT_TRUE(link.requests.empty());
  EXPECT_EQ(g_waits, (std::vector<int>{1000, 1000, 1000}));  // the default sleep time
  Svc_RouterLink::install(nullptr);
  EXPECT_TRUE(loop.enterLoop());
  EXPECT_EQ(log.size(), 3u);
}

}  // namespace
