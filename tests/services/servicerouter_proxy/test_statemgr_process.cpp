// svc_statemgr as the router starts it: it connects back to the scripted
// router, registers, keeps serving through SIGINT, and ends with status 0
// once the router closes the connection; the launch check refuses a start
// without the router's options, and a router that cannot be reached ends it
// with status 1 and only the proxy's own message. Every wait is
// bounded; a child that outlives its test is killed.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scripted_router.h"

namespace srtest {
namespace {

std::string programPath() {
  const char *dir = std::getenv("KORVO_BIN_DIR");
  if (dir && *dir) return std::string(dir) + "/svc_statemgr";
  char self[PATH_MAX] = {};
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  return path.substr(0, path.rfind('/') + 1) + "svc_statemgr";
}

// The program under test, its stderr going to a pipe the test reads.
class Child {
 public:
  explicit Child(const std::vector<std::string> &args) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], 2);
      ::close(fds[0]);
      ::close(fds[1]);
      std::vector<char *> argv;
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(programPath().c_str(), argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    errFD = fds[0];
    ::fcntl(errFD, F_SETFL, ::fcntl(errFD, F_GETFL) | O_NONBLOCK);
  }
  ~Child() {
    if (pid > 0 && !ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (errFD >= 0) ::close(errFD);
  }
  bool running() {
    if (ended) return false;
    int st = 0;
    if (::waitpid(pid, &st, WNOHANG) == pid) {
      ended = true;
      status = st;
    }
    return !ended;
  }
  // Waits at most `ms` for the end; the exit status, or -1.
  int exitStatus(int ms = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (running() && std::chrono::steady_clock::now() < end) ::usleep(20000);
    readErr();
    if (running() || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }
  std::string readErr() {
    char buf[512];
    ssize_t n;
    while (errFD >= 0 && (n = ::read(errFD, buf, sizeof buf)) > 0) err.append(buf, static_cast<size_t>(n));
    return err;
  }

  pid_t pid = -1;
  int errFD = -1;
  bool ended = false;
  int status = 0;
  std::string err;
};

// True when every name of the comma-separated list is one of the program's
// services and they come in the program's module order.
bool inModuleOrder(const std::string &names) {
  static const std::vector<std::string> kOrder = {
      "BroadcastService.Config", "BroadcastService.File.Notify", "BroadcastService.File.Listen",
      "MRUService", "TWL_WindowRegisterService", "FileRegistry", "WhiteBoard",
      "Editor.Emacs", "Editor.Vi", "Editor.Other"};
  size_t next = 0;
  size_t start = 0;
  while (start < names.size()) {
    size_t comma = names.find(',', start);
    std::string name = names.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    while (next < kOrder.size() && kOrder[next] != name) ++next;
    if (next == kOrder.size()) return false;
    ++next;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

TEST(StateMgrProcessTest, RegistersServesThroughSigintAndExitsWhenTheRouterCloses) {
  RouterSide side;
  side.router->pluginIdToGive = 5;
  Child child({"svc_statemgr", "-connect_servicerouter", side.portText()});
  ASSERT_GT(child.pid, 0);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("PersistentService 0"); }, 10000))
      << child.readErr();
  // The names of the services built into the program, in the program's
  // fixed module order; no working directory (the router launched it
  // without a start cookie).
  const std::string &first = side.router->log.front();
  ASSERT_EQ(first.compare(0, 20, "RegisterServiceList "), 0) << first;
  EXPECT_TRUE(inModuleOrder(first.substr(20))) << first;
  EXPECT_EQ(side.router->count("SetWorkingDir"), 0);

  ASSERT_EQ(::kill(child.pid, SIGINT), 0);
  side.pumpFor(300);
  EXPECT_TRUE(child.running());
  // Still serving: a request for a service it does not have is refused.
  ServiceRouter_STRING_ARRAY none;
  side.router->send_ConnectionRequestedEvent(9, 500, 77, none);
  EXPECT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 500 77 0"); }, 10000));
  // No service was created, so the process never asks to leave by itself.
  EXPECT_EQ(side.router->count("RequestServiceRouterDisconnect"), 0);

  side.disconnect();
  EXPECT_EQ(child.exitStatus(), 0) << child.err;
  EXPECT_EQ(child.err, "");
}

// Without the router's connect options (or with one lacking its value) the
// program refuses to run; with one before the last word it passes the check
// and, nothing answering, ends with status 1 and only the proxy's message.
TEST(StateMgrProcessTest, LaunchCheckRefusesAStandaloneStartAndPassesWithTheConnectOption) {
  const std::string refusal = "svc_statemgr: fatal: svc_statemgr may not be run as a standalone program\n";
  const std::vector<std::vector<std::string>> refused = {
      {"svc_statemgr"},
      {"/some/dir/svc_statemgr", "-sr_debug_startup", "x"},  // the name is the path's base name
      {"svc_statemgr", "-connect_servicerouter"},
      {"svc_statemgr", "x", "-sr_connect_servicerouter_port"}};
  for (const std::vector<std::string> &args : refused) {
    Child child(args);
    EXPECT_EQ(child.exitStatus(), 1) << args.back();
    EXPECT_EQ(child.err, refusal) << args.back();
  }
  RefusedPort port;
  for (const char *option : {"-connect_servicerouter", "-sr_connect_servicerouter_port"}) {
    Child child({"svc_statemgr", "-x", option, std::to_string(port.port), "-y"});
    EXPECT_EQ(child.exitStatus(), 1) << option;
    EXPECT_EQ(child.err, "svc_statemgr: error: Unable to connect to ServiceRouter who launched us.\n")
        << option;
  }
}

}  // namespace
}  // namespace srtest
