// Finding or launching the router: a private router started with its
// options and reaped at shut-down (quietly, or reporting a death by signal
// or a hang), a shared router started under the active-services lock, an
// existing router found through the active-services file (and replaced when
// it does not answer, or when its process is gone), and the launch
// failures. The launched program is the stand-in srproxy_test_router_main.cpp.
// Also svc_statemgr's own launch check.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_process.h"
#include "scripted_router.h"
#include "services/servicerouter_proxy/activeservices_manager.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"

namespace srtest {
namespace {

const char kRouterDir[] = SRPROXY_TEST_ROUTER_DIR;

// Serves the proxy's router transport while it waits for a launched router.
class NotifierPump : public RetryHandler {
 public:
  explicit NotifierPump(int timeoutMs) : RetryHandler(kRetryMillisBase + timeoutMs) {}
  void idle() override { getIdleNotifier()->notifySocketActivity(20, true); }
};

// Waits at most 10 s for a child of this process to end; its wait status,
// or -1 when it did not end in time (it is then killed).
int reapChild(int pid) {
  int status = 0;
  for (int i = 0; i < 500; ++i, usleep(20000)) {
    int r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0) return -1;
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

class SRLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(servicerouter_proxy, nullptr);
    ::unlink(recordPath.c_str());
    setenv("SRPROXY_TEST_ROUTER_RECORD", recordPath.c_str(), 1);
    unsetenv("SRPROXY_TEST_ROUTER_MODE");
  }
  void TearDown() override {
    ServiceRouter_Proxy::shutdown(false);
    ActiveServices_Manager::removeActiveServiceRouterFile(nullptr, nullptr, kRouterDir);
    for (const std::string &pid : recorded(true)) reapChild(std::stoi(pid));
    unsetenv("SRPROXY_TEST_ROUTER_RECORD");
  }

  // startup() with connect-now set, so that it connects without factories.
  bool start(std::vector<std::string> options, RetryHandler *rh, bool mayLaunch = true) {
    options.insert(options.begin(), "prog");
    bool ok = startProxy(options, rh, true, mayLaunch);
    proxy = servicerouter_proxy;
    return ok;
  }

  // What the stand-in routers wrote: their pids, or their command lines.
  std::vector<std::string> recorded(bool pids) {
    std::vector<std::string> out;
    std::ifstream in(recordPath);
    for (std::string line; std::getline(in, line);)
      if ((line.compare(0, 4, "pid ") == 0) == pids) out.push_back(pids ? line.substr(4) : line);
    return out;
  }

  std::string recordPath = std::string(gen_default_temp_dir()) + "/srproxy_router_record.txt";
  ServiceRouter_Proxy *proxy = nullptr;
};

TEST_F(SRLaunchTest, PrivateRouterGetsItsOptionsAndIsLeftRunningByAQuietShutdown) {
  setenv("SRPROXY_TEST_ROUTER_MODE", "linger", 1);
  NotifierPump pump(10000);
  ASSERT_TRUE(start({"-sr_private", "-sr_dir", kRouterDir, "-sr_log_router", "r.log",
                     "-sr_log_router_internal", "i.log", "-sr_zone", "zq"}, &pump));
  EXPECT_EQ(proxy->getPluginId(), 61);
  std::vector<std::string> commands = recorded(false);
  ASSERT_EQ(commands.size(), 1u);
  std::string prefix = std::string(kRouterDir) + "/svc_router -connect_servicerouter ";
  ASSERT_EQ(commands[0].compare(0, prefix.size(), prefix), 0) << commands[0];
  std::string rest = commands[0].substr(prefix.size());
  EXPECT_GT(std::stoi(rest), 0);  // the port
  EXPECT_EQ(rest.substr(rest.find(' ')), " -log r.log -sr_log_internal i.log -not_shared -sr_zone zq");
  int pid = std::stoi(recorded(true).at(0));
  StderrCapture err;
  ServiceRouter_Proxy::shutdown(false);
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(kill(pid, 0), 0);  // still there: not killed
  int status = reapChild(pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A verbose shut-down reports a private router that ends by signal, and
// kills one that hangs after 4 s.
TEST_F(SRLaunchTest, VerboseShutdownReportsARouterEndedBySignalAndKillsOneThatHangs) {
  for (std::string mode : {"signal", "hang"}) {
    SCOPED_TRACE(mode);
    setenv("SRPROXY_TEST_ROUTER_MODE", mode.c_str(), 1);
    ::unlink(recordPath.c_str());
    NotifierPump pump(10000);
    ASSERT_TRUE(start({"-sr_private", "-sr_dir", kRouterDir}, &pump));
    int pid = std::stoi(recorded(true).at(0));
    std::string prefix = "korvo: svc_router (pid=" + std::to_string(pid) + ") ";
    StderrCapture err;
    ServiceRouter_Proxy::shutdown(true);
    if (mode == "signal") {
      EXPECT_EQ(err.text(), prefix + "exited with signal 15\n");
      EXPECT_EQ(kill(pid, 0), -1);  // reaped
    } else {
      EXPECT_EQ(err.text(), prefix + "took more than 4 seconds (4000 msecs) to shut down (ret=0, "
                                     "status=0), killing process.\n");
      int status = reapChild(pid);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    }
  }
}

TEST_F(SRLaunchTest, RunningRouterIsFoundThroughTheActiveServicesFile) {
  RouterSide side;
  ActiveServices_Manager record(side.port, nullptr, nullptr, kRouterDir);
  ASSERT_TRUE(record.wasWritten());
  RouterPump pump(&side, 5000);
  ASSERT_TRUE(start({"-sr_dir", kRouterDir}, &pump));
  EXPECT_EQ(proxy->getPluginId(), 42);
  EXPECT_TRUE(recorded(false).empty());  // nothing launched
  // Not launched by the router: the working directory is sent.
  EXPECT_TRUE(side.router->saw(std::string("SetWorkingDir ") + gen_getcwd()));
}

TEST_F(SRLaunchTest, SilentExistingRouterIsReplacedByANewOne) {
  RouterSide side;
  side.router->pluginIdToGive = -1;
  ActiveServices_Manager record(side.port, nullptr, nullptr, kRouterDir);
  MessageCapture capture;
  RouterPump pump(&side, 1500);
  ASSERT_TRUE(start({"-sr_dir", kRouterDir}, &pump));
  EXPECT_EQ(proxy->getPluginId(), 61);
  EXPECT_EQ(recorded(false).size(), 1u);
  bool warned = false;
  for (auto &m : capture.messages)
    warned |= m.second == "Unable to connect to existing service router, attempting to start our own...\n";
  EXPECT_TRUE(warned);
  // The stale record was deleted (the real router would write a new one).
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port(nullptr, nullptr, kRouterDir), 0);
}

// A record of a router whose process is gone leads to a new shared router,
// launched under the lock.
TEST_F(SRLaunchTest, RecordOfAGoneRouterLaunchesASharedOneUnderTheLock) {
  pid_t writer = fork();
  if (writer == 0) {
    ActiveServices_Manager record(1, nullptr, nullptr, kRouterDir);  // records the child's pid
    _exit(record.wasWritten() ? 0 : 1);
  }
  ASSERT_EQ(reapChild(writer), 0);
  NotifierPump pump(10000);
  ASSERT_TRUE(start({"-sr_dir", kRouterDir}, &pump));
  std::vector<std::string> commands = recorded(false);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].find("-not_shared"), std::string::npos);
  // The lock was given back: taking it does not wait.
  EXPECT_TRUE(ActiveServices_Manager::lockManagerFile(nullptr, nullptr, kRouterDir));
  ActiveServices_Manager::unlockManagerFile(nullptr, nullptr, kRouterDir);
}

TEST_F(SRLaunchTest, LaunchFailuresAreReported) {
  MessageCapture capture;
  NotifierPump pump(2000);
  const std::string empty = take(gen_realpath(gen_default_temp_dir()));  // no svc_router there
  struct Case {
    std::vector<std::string> options;
    bool mayLaunch;
    const char *said;  // the last message, or null for none
  } cases[] = {
      {{"-sr_private", "-sr_dir", empty}, true, "Unable to launch private service router.\n"},
      {{"-sr_dir", empty}, true, "Unable to launch service router.\n"},
      // Without permission to launch, nothing is tried and nothing is said.
      {{"-sr_private", "-sr_dir", kRouterDir}, false, nullptr},
      {{"-sr_new", "-sr_dir", kRouterDir}, false, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options[0]);
    capture.clear();
    EXPECT_FALSE(start(c.options, &pump, c.mayLaunch));
    EXPECT_EQ(capture.messages.empty() ? "" : capture.messages.back().second, c.said ? c.said : "");
    ServiceRouter_Proxy::shutdown(false);
  }
  EXPECT_TRUE(recorded(false).empty());
}

// svc_statemgr's launch check: without the router's connect options (or
// with one lacking its value) it refuses to run; with one before the last
// word it passes and, nothing answering, ends with status 1 and only the
// proxy's message. (Serving under a router is the end-to-end tests' part.)
const std::string kErrFile = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/statemgr.err";

TEST(StateMgrProcessTest, LaunchCheckRefusesAStandaloneStart) {
  RouterSide closed;
  closed.closeListener();
  const std::string refusal = "svc_statemgr: fatal: svc_statemgr may not be run as a standalone program\n";
  const std::string unreachable = "svc_statemgr: error: Unable to connect to ServiceRouter who launched us.\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, refusal}, {{"-sr_debug_startup", "x"}, refusal}, {{"-connect_servicerouter"}, refusal},
      {{"x", "-sr_connect_servicerouter_port"}, refusal},
      {{"-x", "-connect_servicerouter", closed.portText(), "-y"}, unreachable},
      {{"-x", "-sr_connect_servicerouter_port", closed.portText(), "-y"}, unreachable}};
  for (const auto &[args, said] : cases) {
    SCOPED_TRACE(args.size());
    E2EChild child(e2eBinDir() + "/svc_statemgr", args, kErrFile);
    EXPECT_EQ(child.waitExit(10000), 1);
    EXPECT_EQ(e2eReadFile(kErrFile), said);
  }
}

}  // namespace
}  // namespace srtest
