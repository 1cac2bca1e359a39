// End to end: korvoctl processes reaching shared routers through the
// active-services file or launching them, routers starting the test
// provider program by activation, idle exit, a router killed with SIGKILL,
// and two clients starting at the same moment (an activated program that
// exits at once is tested with the router). Each test uses its own zone (so
// its own active-services record) inside the test's own TMPDIR, and a
// router directory holding a link to svc_router and a services file made
// for the test. Every wait is bounded; routers still running at the end are
// stopped. The access tests run routers and clients as a second uid.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "services/servicerouter_proxy/activeservices_manager.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

std::string binDir() {
  const char *dir = std::getenv("KORVO_BIN_DIR");
  if (dir && *dir) return dir;
  char self[PATH_MAX] = {};
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  return path.substr(0, path.rfind('/'));
}

std::string tempDir() {
  const char *tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

std::string unique(const std::string &stem) {
  static int counter = 0;
  return stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

std::string readFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A process that exists and is not a zombie. Routers and the programs they
// start are orphaned when their parent ends; the test process adopts them
// (it is a subreaper, see SetUp), so they are reaped here.
bool running(int pid) {
  if (pid <= 0) return false;
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) == pid) return false;
  if (::kill(pid, 0) != 0) return false;
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

bool waitGone(int pid, int ms) {
  long long end = nowMs() + ms;
  while (running(pid)) {
    if (nowMs() >= end) return false;
    ::usleep(20000);
  }
  return true;
}

struct CtlRun {
  int status = -1;  // exit status, -1 when killed or timed out
  std::string out;
  std::string err;
  long long ms = 0;
};

// Starts korvoctl with `args`; collect() waits at most `ms` for it.
class Korvoctl {
 public:
  explicit Korvoctl(const std::vector<std::string> &args) {
    std::string base = tempDir() + "/" + unique("korvoctl");
    outFile = base + ".out";
    errFile = base + ".err";
    std::string program = binDir() + "/korvoctl";
    started = nowMs();
    pid = ::fork();
    if (pid == 0) {
      int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char *> argv;
      argv.push_back(const_cast<char *>(program.c_str()));
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
  }
  CtlRun collect(int ms = 60000) {
    CtlRun r;
    long long end = nowMs() + ms;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (nowMs() >= end) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        status = -1;
        break;
      }
      ::usleep(5000);
    }
    r.ms = nowMs() - started;
    r.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(outFile);
    r.err = readFile(errFile);
    return r;
  }

 private:
  int pid = -1;
  long long started = 0;
  std::string outFile;
  std::string errFile;
};

CtlRun korvoctl(const std::vector<std::string> &args, int ms = 60000) {
  return Korvoctl(args).collect(ms);
}

// A router directory: a link to svc_router beside a services file that
// names the test provider for "Echo".
std::string makeRouterDir() {
  std::string dir = tempDir() + "/" + unique("routerdir");
  ::mkdir(dir.c_str(), 0755);
  ::mkdir((dir + "/config").c_str(), 0755);
  EXPECT_EQ(::symlink((binDir() + "/svc_router").c_str(), (dir + "/svc_router").c_str()), 0);
  std::string provider = binDir() + "/router_test_provider";
  std::ofstream f(dir + "/config/services.cfg");
  f << "echo_provider {\n  Program = \"" << provider
    << "\"\n  Args = { \"-provide\", \"Echo\" }\n  Services = \"Echo\"\n}\n";
  return dir;
}

// The pid in the record of `zone`, -1 when there is none.
int recordedPid(const std::string &zone) {
  char *file = ActiveServices_Manager::getActiveServiceRouterFilename(zone.c_str());
  ut_options_database db("Service Router");
  int pid = db.read_from_file_name(file) ? db.get_optional_int32_attribute("Pid", -1) : -1;
  gen_free(file);
  return pid;
}

bool recordExists(const std::string &zone) {
  char *file = ActiveServices_Manager::getActiveServiceRouterFilename(zone.c_str());
  bool exists = gen_access(file, 0) == 0;
  gen_free(file);
  return exists;
}

int recordedPort(const std::string &zone) {
  return ActiveServices_Manager::getActiveServiceRouter_Port(zone.c_str(), nullptr, nullptr);
}

class KorvoctlE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    zone = unique("zone");
    dir = makeRouterDir();
    log = tempDir() + "/" + unique("router") + ".log";
  }
  void TearDown() override {
    // A router this test caused and that is still running is stopped.
    int pid = recordedPid(zone);
    if (running(pid)) {
      ::kill(pid, SIGTERM);
      EXPECT_TRUE(waitGone(pid, 15000));
    }
    // Adopted programs that ended meanwhile.
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
  }
  std::vector<std::string> with(std::vector<std::string> args) const {
    std::vector<std::string> all = {"-sr_zone", zone, "-sr_dir", dir,
                                    "-sr_log_router_internal", log};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
  std::string zone;
  std::string dir;
  std::string log;
};

}  // namespace

TEST_F(KorvoctlE2E, WhereisStartLaunchesASharedRouterThatStartsTheProviderAndEndsWhenIdle) {
  ASSERT_EQ(recordedPort(zone), 0);
  CtlRun first = korvoctl(with({"whereis", "Echo", "--start"}));
  ASSERT_EQ(first.status, 0) << first.err << readFile(log);
  int provider = std::atoi(first.out.c_str());
  EXPECT_GT(provider, 0);
  EXPECT_EQ(first.out, std::to_string(provider) + "\n");
  int port = recordedPort(zone);
  int routerPid = recordedPid(zone);
  ASSERT_GT(port, 0);
  EXPECT_TRUE(running(routerPid));

  // Later clients find the same router through the record.
  CtlRun where = korvoctl(with({"location"}));
  EXPECT_EQ(where.status, 0) << where.err;
  EXPECT_EQ(where.out, "127.0.0.1 " + std::to_string(port) + "\n");
  CtlRun again = korvoctl(with({"whereis", "Echo"}));
  EXPECT_EQ(again.out, first.out);
  CtlRun cwd = korvoctl(with({"value", std::to_string(provider), "cwd"}));
  EXPECT_EQ(cwd.status, 0) << cwd.err;
  EXPECT_EQ(cwd.out.substr(0, 1), "/");
  CtlRun nobody = korvoctl(with({"whereis", "Nobody", "--start"}));
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.err.find("no process provides Nobody"), std::string::npos) << nobody.err;
  EXPECT_EQ(recordedPid(zone), routerPid) << "one router served every client";

  // Only the started provider is left: after the idle time (10 s) the
  // router closes its link, the provider ends with status 0 and the record
  // is removed.
  EXPECT_TRUE(waitGone(routerPid, 30000)) << readFile(log);
  EXPECT_FALSE(recordExists(zone));
  std::string text = readFile(log);
  EXPECT_NE(text.find("idle for 10000 ms: ending"), std::string::npos) << text;
  EXPECT_NE(text.find("echo_provider (pid "), std::string::npos) << text;
  EXPECT_NE(text.find(") exited with status 0"), std::string::npos) << text;
}

TEST_F(KorvoctlE2E, RouterKilledWithSigkillIsReplacedByTheNextClient) {
  CtlRun first = korvoctl(with({"location"}));
  ASSERT_EQ(first.status, 0) << first.err;
  int pid1 = recordedPid(zone);
  ASSERT_TRUE(running(pid1));
  ::kill(pid1, SIGKILL);
  ASSERT_TRUE(waitGone(pid1, 10000));
  // The record stays behind and reads as no router.
  EXPECT_TRUE(recordExists(zone));
  EXPECT_EQ(recordedPort(zone), 0);
  CtlRun second = korvoctl(with({"location"}));
  ASSERT_EQ(second.status, 0) << second.err;
  int pid2 = recordedPid(zone);
  EXPECT_NE(pid2, pid1);
  EXPECT_TRUE(running(pid2));
  EXPECT_EQ(second.out, "127.0.0.1 " + std::to_string(recordedPort(zone)) + "\n");
}

TEST_F(KorvoctlE2E, TwoClientsStartedAtTheSameMomentEndUpOnOneRouter) {
  Korvoctl a(with({"location"}));
  Korvoctl b(with({"location"}));
  CtlRun ra = a.collect();
  CtlRun rb = b.collect();
  ASSERT_EQ(ra.status, 0) << ra.err;
  ASSERT_EQ(rb.status, 0) << rb.err;
  EXPECT_EQ(ra.out, rb.out);
  EXPECT_EQ(ra.out, "127.0.0.1 " + std::to_string(recordedPort(zone)) + "\n");
  // One of them launched the router while holding the lock; the other waited
  // and found it.
  std::string text = readFile(log);
  EXPECT_EQ(text.find("listening on"), text.rfind("listening on")) << text;
}

TEST_F(KorvoctlE2E, UsageErrorsNeitherConnectNorLaunch) {
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"whereis"}, 2},          {{"whereis", "A", "B"}, 2}, {{"value", "x", "cwd"}, 2},
      {{"location", "extra"}, 2}, {{"frobnicate"}, 2},      {{}, 2},
      {{"--timeout", "0", "location"}, 2}, {{"whereis", "--help"}, 0}, {{"help", "value"}, 0},
  };
  for (const Case &c : cases) {
    CtlRun r = korvoctl(with(c.args));
    EXPECT_EQ(r.status, c.status) << r.err;
  }
  EXPECT_FALSE(recordExists(zone));
  CtlRun help = korvoctl({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("whereis SERVICE [--start]"), std::string::npos);
  EXPECT_NE(help.out.find("value PLUGIN NAME"), std::string::npos);
}

TEST_F(KorvoctlE2E, ValueOfAPluginThatDoesNotExistFails) {
  CtlRun r = korvoctl(with({"value", "9999", "cwd"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("plugin 9999 has no value for cwd"), std::string::npos) << r.err;
}

// The real state manager, started by activation from the default services
// file beside the programs: every service that file names is found at the
// same plugin, and when the router ends after the idle time, the state
// manager ends with status 0.
TEST(KorvoctlStateManager, ActivatedFromTheDefaultServicesFileAndEndsWithTheRouter) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::string zone = unique("zone");
  std::string log = tempDir() + "/" + unique("router") + ".log";
  const char *services[] = {"WhiteBoard", "MRUService", "TWL_WindowRegisterService",
                            "FileRegistry", "BroadcastService.Config",
                            "BroadcastService.File.Notify", "BroadcastService.File.Listen",
                            "Editor.Emacs", "Editor.Vi", "Editor.Other"};
  std::string provider;
  for (const char *service : services) {
    CtlRun r = korvoctl({"-sr_zone", zone, "-sr_log_router_internal", log, "whereis", service,
                         "--start"});
    ASSERT_EQ(r.status, 0) << service << ": " << r.err << readFile(log);
    if (provider.empty()) provider = r.out;
    EXPECT_EQ(r.out, provider) << service << " is provided by another process";
  }
  int routerPid = recordedPid(zone);
  EXPECT_TRUE(waitGone(routerPid, 40000)) << readFile(log);
  std::string text = readFile(log);
  EXPECT_NE(text.find("started svc_statemgr"), std::string::npos) << text;
  EXPECT_EQ(text.find("started svc_statemgr"), text.rfind("started svc_statemgr")) << text;
  EXPECT_NE(text.find("svc_statemgr (pid "), std::string::npos) << text;
  EXPECT_NE(text.find(") exited with status 0"), std::string::npos) << text;
  EXPECT_FALSE(recordExists(zone));
  int status = 0;
  while (::waitpid(-1, &status, WNOHANG) > 0) {
  }
}

// ---------------------------------------------------------------------------
// Only the user reaches the user's router, and clients only use their own
// user's router. Needs root, to run the other side as another uid.

namespace {

constexpr uid_t kOtherUid = 54321;

// Runs `body` in a child process with the real and effective uid (and gid)
// `uid`; returns the child's exit status, -1 when it did not exit.
int asUser(uid_t uid, const std::function<int()> &body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Connects to 127.0.0.1:port and tells what came back within 5 s:
// 0 closed without a byte, 1 bytes (the router negotiating), 2 nothing,
// 3 no connection.
int probeRouter(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return 3;
  pollfd p{s, POLLIN, 0};
  if (::poll(&p, 1, 5000) <= 0) return 2;
  char c;
  return ::read(s, &c, 1) > 0 ? 1 : 0;
}

// A svc_router started by hand as `uid`; stopped with the object.
struct OwnedRouter {
  explicit OwnedRouter(uid_t uid) {
    errFile = tempDir() + "/" + unique("access_router") + ".err";
    int out[2];
    if (::pipe(out) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out[1], 1);
      ::dup2(err, 2);
      if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(100);
      std::string program = binDir() + "/svc_router";
      ::execl(program.c_str(), program.c_str(), "-not_shared", "-idle_exit", "0", nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    std::string banner;
    char buf[256];
    long long end = nowMs() + 5000;
    while (banner.find('\n') == std::string::npos && nowMs() < end) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      banner.append(buf, static_cast<size_t>(n));
    }
    ::close(out[0]);
    size_t at = banner.find(" port ");
    if (at != std::string::npos) port = std::atoi(banner.c_str() + at + 6);
  }
  ~OwnedRouter() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    waitGone(pid, 10000);
  }
  pid_t pid = -1;
  int port = 0;
  std::string errFile;
};

}  // namespace

TEST(AccessE2E, RoutersAndClientsServeOnlyTheirOwnUser) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  OwnedRouter mine(::getuid());
  OwnedRouter theirs(kOtherUid);
  ASSERT_GT(mine.port, 0) << readFile(mine.errFile);
  ASSERT_GT(theirs.port, 0) << readFile(theirs.errFile);
  struct Case {
    const char *what;
    uid_t client;
    const OwnedRouter *router;
    int probe;        // what a raw connection sees
    int ctlStatus;    // korvoctl location through that router
  } cases[] = {
      {"own router", ::getuid(), &mine, 1, 0},
      {"another user at my router", kOtherUid, &mine, 0, 0},
      {"my client at another user's router", ::getuid(), &theirs, 0, 1},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    int port = k.router->port;
    EXPECT_EQ(asUser(k.client, [port] { return probeRouter(port); }), k.probe);
    if (k.client != ::getuid()) continue;
    CtlRun ctl = korvoctl({"-sr_connect_servicerouter_port", std::to_string(port), "location"});
    EXPECT_EQ(ctl.status, k.ctlStatus) << ctl.err;
    if (k.ctlStatus != 0) {
      // That router may already have closed its end (it refuses this user
      // too); either way the client does not use it.
      EXPECT_NE(ctl.err.find("service router at port " + std::to_string(port)),
                std::string::npos)
          << ctl.err;
      EXPECT_NE(ctl.err.find(": not used."), std::string::npos) << ctl.err;
    }
  }
  EXPECT_NE(readFile(mine.errFile).find("refused a connection from uid 54321"),
            std::string::npos)
      << readFile(mine.errFile);
}
