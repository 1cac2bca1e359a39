// Finding or launching the router: a private router started with its
// options and reaped at shut-down (quietly, or reporting a death by signal),
// a shared router started under the active-services lock, an existing
// router found through the active-services file (and replaced when it does
// not answer, or when its process is gone), and the launch failures. The
// launched program is the stand-in router srproxy_test_router_main.cpp.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "services/servicerouter_proxy/activeservices_manager.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"
#include "srproxy_test_support.h"

namespace srtest {
namespace {

const char kRouterDir[] = SRPROXY_TEST_ROUTER_DIR;

// Runs the idle notifier: serves the proxy's router transport while it
// waits for a launched router (a separate process).
class NotifierPump : public RetryHandler {
 public:
  explicit NotifierPump(int timeoutMs) : RetryHandler(kRetryMillisBase + timeoutMs) {}
  void idle() override { getIdleNotifier()->notifySocketActivity(20, true); }
};

// Waits (bounded) for a child of this process to end; its wait status, or
// -1 when it did not end in time (it is then killed).
int reapChild(int pid, int ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    int r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0) return -1;
    usleep(20000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

class SRLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(servicerouter_proxy, nullptr);
    recordPath = std::string(gen_default_temp_dir()) + "/srproxy_router_record.txt";
    ::unlink(recordPath.c_str());
    setenv("SRPROXY_TEST_ROUTER_RECORD", recordPath.c_str(), 1);
    unsetenv("SRPROXY_TEST_ROUTER_MODE");
  }
  void TearDown() override {
    ServiceRouter_Proxy::shutdown(false);
    ActiveServices_Manager::removeActiveServiceRouterFile(nullptr, nullptr, kRouterDir);
    for (int pid : recordedPids()) reapChild(pid);
    unsetenv("SRPROXY_TEST_ROUTER_RECORD");
    unsetenv("SRPROXY_TEST_ROUTER_MODE");
  }

  // startup() with connect-now set, so that it connects without factories.
  bool start(std::vector<std::string> options, RetryHandler *rh, bool mayLaunch = true) {
    words = {"prog"};
    words.insert(words.end(), options.begin(), options.end());
    argv.clear();
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(words.size());
    bool ok = ServiceRouter_Proxy::startup(false, &argc, argv.data(), nullptr, false, rh, true,
                                           mayLaunch);
    proxy = servicerouter_proxy;
    return ok;
  }

  // Lines the stand-in router wrote: its command lines ("pid" lines apart).
  std::vector<std::string> recordedCommands() {
    std::vector<std::string> out;
    std::ifstream in(recordPath);
    for (std::string line; std::getline(in, line);)
      if (line.compare(0, 4, "pid ") != 0) out.push_back(line);
    return out;
  }
  std::vector<int> recordedPids() {
    std::vector<int> out;
    std::ifstream in(recordPath);
    for (std::string line; std::getline(in, line);)
      if (line.compare(0, 4, "pid ") == 0) out.push_back(std::atoi(line.c_str() + 4));
    return out;
  }

  std::string recordPath;
  std::vector<std::string> words;
  std::vector<char *> argv;
  ServiceRouter_Proxy *proxy = nullptr;
};

TEST_F(SRLaunchTest, PrivateRouterGetsItsOptionsAndIsLeftRunningByAQuietShutdown) {
  setenv("SRPROXY_TEST_ROUTER_MODE", "linger", 1);
  NotifierPump pump(10000);
  ASSERT_TRUE(start({"-sr_private", "-sr_dir", kRouterDir, "-sr_log_router", "r.log",
                     "-sr_log_router_internal", "i.log", "-sr_zone", "zq"},
                    &pump));
  EXPECT_EQ(proxy->getPluginId(), 61);
  std::vector<std::string> commands = recordedCommands();
  ASSERT_EQ(commands.size(), 1u);
  std::string prefix = std::string(kRouterDir) + "/svc_router -connect_servicerouter ";
  ASSERT_EQ(commands[0].compare(0, prefix.size(), prefix), 0) << commands[0];
  std::string rest = commands[0].substr(prefix.size());
  std::string port = rest.substr(0, rest.find(' '));
  EXPECT_GT(std::atoi(port.c_str()), 0);
  EXPECT_EQ(rest.substr(port.size()), " -log r.log -sr_log_internal i.log -not_shared -sr_zone zq");

  std::vector<int> pids = recordedPids();
  ASSERT_EQ(pids.size(), 1u);
  StderrCapture err;
  ServiceRouter_Proxy::shutdown(false);
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(kill(pids[0], 0), 0);  // still there: not killed
  int status = reapChild(pids[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A private stand-in router in `mode` ends by signal or hangs; a verbose
// shut-down reports either, killing the one that hangs after 4 s.
TEST_F(SRLaunchTest, VerboseShutdownReportsARouterEndedBySignalAndKillsOneThatHangs) {
  for (const char *mode : {"signal", "hang"}) {
    setenv("SRPROXY_TEST_ROUTER_MODE", mode, 1);
    ::unlink(recordPath.c_str());
    NotifierPump pump(10000);
    ASSERT_TRUE(start({"-sr_private", "-sr_dir", kRouterDir}, &pump)) << mode;
    std::vector<int> pids = recordedPids();
    ASSERT_EQ(pids.size(), 1u) << mode;
    std::string prefix = "korvo: svc_router (pid=" + std::to_string(pids[0]) + ") ";
    StderrCapture err;
    ServiceRouter_Proxy::shutdown(true);
    if (std::string(mode) == "signal") {
      EXPECT_EQ(err.text(), prefix + "exited with signal 15\n");
      EXPECT_EQ(kill(pids[0], 0), -1);  // reaped
    } else {
      EXPECT_EQ(err.text(), prefix + "took more than 4 seconds (4000 msecs) to shut down (ret=0, "
                                     "status=0), killing process.\n");
      int status = reapChild(pids[0]);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    }
  }
}

TEST_F(SRLaunchTest, SharedRouterIsLaunchedUnderTheLock) {
  NotifierPump pump(10000);
  ASSERT_TRUE(start({"-sr_dir", kRouterDir}, &pump));
  std::vector<std::string> commands = recordedCommands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].find("-not_shared"), std::string::npos);
  // The lock was given back: taking it does not wait.
  EXPECT_TRUE(ActiveServices_Manager::lockManagerFile(nullptr, nullptr, kRouterDir));
  ActiveServices_Manager::unlockManagerFile(nullptr, nullptr, kRouterDir);
}

TEST_F(SRLaunchTest, RunningRouterIsFoundThroughTheActiveServicesFile) {
  RouterSide side;
  ActiveServices_Manager record(side.port, nullptr, nullptr, kRouterDir);
  ASSERT_TRUE(record.wasWritten());
  RouterPump pump(&side, 5000);
  ASSERT_TRUE(start({"-sr_dir", kRouterDir}, &pump));
  EXPECT_EQ(proxy->getPluginId(), 42);
  EXPECT_TRUE(recordedCommands().empty());  // nothing launched
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
  EXPECT_EQ(recordedCommands().size(), 1u);
  bool warned = false;
  for (auto &m : capture.messages)
    warned |= m.second == "Unable to connect to existing service router, attempting to start our own...\n";
  EXPECT_TRUE(warned);
  // The stale record was deleted (the real router would write a new one).
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port(nullptr, nullptr, kRouterDir), 0);
}

TEST_F(SRLaunchTest, RecordOfAGoneRouterLaunchesANewOne) {
  pid_t writer = fork();
  if (writer == 0) {
    ActiveServices_Manager record(1, nullptr, nullptr, kRouterDir);  // records the child's pid
    _exit(record.wasWritten() ? 0 : 1);
  }
  int status = reapChild(writer);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  NotifierPump pump(10000);
  ASSERT_TRUE(start({"-sr_dir", kRouterDir}, &pump));
  EXPECT_EQ(recordedCommands().size(), 1u);
}

TEST_F(SRLaunchTest, LaunchFailuresAreReported) {
  MessageCapture capture;
  NotifierPump pump(2000);
  char *tmp = gen_realpath(gen_default_temp_dir());  // no svc_router there
  std::string empty = tmp;
  gen_free(tmp);
  EXPECT_FALSE(start({"-sr_private", "-sr_dir", empty}, &pump));
  ASSERT_FALSE(capture.messages.empty());
  EXPECT_EQ(capture.messages.back().second, "Unable to launch private service router.\n");
  ServiceRouter_Proxy::shutdown(false);

  capture.messages.clear();
  EXPECT_FALSE(start({"-sr_dir", empty}, &pump));
  ASSERT_FALSE(capture.messages.empty());
  EXPECT_EQ(capture.messages.back().second, "Unable to launch service router.\n");
  ServiceRouter_Proxy::shutdown(false);

  // Without permission to launch, nothing is tried and nothing is said.
  capture.messages.clear();
  EXPECT_FALSE(start({"-sr_private", "-sr_dir", kRouterDir}, &pump, false));
  ServiceRouter_Proxy::shutdown(false);
  EXPECT_FALSE(start({"-sr_new", "-sr_dir", kRouterDir}, &pump, false));
  EXPECT_TRUE(capture.messages.empty());
  EXPECT_TRUE(recordedCommands().empty());
}

}  // namespace
}  // namespace srtest
