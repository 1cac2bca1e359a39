// End to end: korvoctl processes reaching shared routers through the
// active-services file or launching them, routers starting the test
// provider program by activation, idle exit, and two clients starting at
// the same moment (a router record left by a killed router, and an
// activated program that exits at once, are tested at the unit level).
// Each test uses its own zone (so
// its own active-services record) inside the test's own TMPDIR, and a
// router directory holding a link to svc_router and a services file made
// for the test. Every wait is bounded; routers still running at the end are
// stopped. The access tests run routers and clients as a second uid.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "services/servicerouter_proxy/activeservices_manager.h"
#include "shared/gen_holder.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

using Lines = std::vector<std::string>;

// A process that exists and is not a zombie. Routers and the programs they
// start are orphaned when their parent ends; the test process adopts them
// (it is a subreaper, see SetUp), so they are reaped here.
bool running(int pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, WNOHANG) == pid || ::kill(pid, 0) != 0) return false;
  std::string stat = e2eReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

bool waitGone(int pid, int ms) { return e2eEventually(ms, [pid] { return !running(pid); }); }

E2ERun korvoctl(const Lines &args) { return e2eKorvoctl(args); }
std::string readFile(const std::string &path) { return e2eReadFile(path); }

// Each test has its own zone, so its own active-services record.
std::string uniqueZone() {
  static int counter = 0;
  return "zone_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

// A router directory: a link to svc_router beside a services file that
// names the test provider for "Echo".
std::string makeRouterDir() {
  std::string dir = e2eTempPath("routerdir");
  ::mkdir(dir.c_str(), 0755);
  ::mkdir((dir + "/config").c_str(), 0755);
  EXPECT_EQ(::symlink((e2eBinDir() + "/svc_router").c_str(), (dir + "/svc_router").c_str()), 0);
  std::ofstream(dir + "/config/services.cfg")
      << "echo_provider {\n  Program = \"" << e2eBinDir() << "/router_test_provider"
      << "\"\n  Args = { \"-provide\", \"Echo\" }\n  Services = \"Echo\"\n}\n";
  return dir;
}

std::string recordFile(const std::string &zone) {
  return GenString(ActiveServices_Manager::getActiveServiceRouterFilename(zone.c_str())).get();
}

// The pid in the record of `zone`, -1 when there is none.
int recordedPid(const std::string &zone) {
  ut_options_database db("Service Router");
  return db.read_from_file_name(recordFile(zone).c_str())
             ? db.get_optional_int32_attribute("Pid", -1)
             : -1;
}

bool recordExists(const std::string &zone) { return gen_access(recordFile(zone).c_str(), 0) == 0; }

// Adopted programs that ended meanwhile.
void reapAdopted() {
  for (int status = 0; ::waitpid(-1, &status, WNOHANG) > 0;) {
  }
}

int recordedPort(const std::string &zone) {
  return ActiveServices_Manager::getActiveServiceRouter_Port(zone.c_str(), nullptr, nullptr);
}

class KorvoctlE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    zone = uniqueZone();
    dir = makeRouterDir();
    log = e2eTempPath("router") + ".log";
  }
  void TearDown() override {
    // A router this test caused and that is still running is stopped.
    int pid = recordedPid(zone);
    if (running(pid)) {
      ::kill(pid, SIGTERM);
      EXPECT_TRUE(waitGone(pid, 15000));
    }
    reapAdopted();
  }
  Lines with(Lines args) const {
    Lines all = {"-sr_zone", zone, "-sr_dir", dir, "-sr_log_router_internal", log};
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
  E2ERun first = korvoctl(with({"whereis", "Echo", "--start"}));
  ASSERT_EQ(first.status, 0) << first.err << readFile(log);
  ASSERT_EQ(first.out.size(), 1u);
  int provider = std::atoi(first.out[0].c_str());
  EXPECT_EQ(first.out[0], std::to_string(provider));
  int port = recordedPort(zone);
  int routerPid = recordedPid(zone);
  ASSERT_GT(port, 0);
  EXPECT_TRUE(running(routerPid));

  // Later clients find the same router through the record.
  E2ERun where = korvoctl(with({"location"}));
  EXPECT_EQ(where.status, 0) << where.err;
  EXPECT_EQ(where.out, Lines{"127.0.0.1 " + std::to_string(port)});
  EXPECT_EQ(korvoctl(with({"whereis", "Echo"})).out, first.out);
  E2ERun cwd = korvoctl(with({"value", std::to_string(provider), "cwd"}));
  EXPECT_EQ(cwd.status, 0) << cwd.err;
  EXPECT_EQ(cwd.out.size() == 1 ? cwd.out[0].substr(0, 1) : "", "/");
  for (auto [args, error] : {std::pair<Lines, std::string>{{"whereis", "Nobody", "--start"},
                                                           "no process provides Nobody"},
                             {{"value", "9999", "cwd"}, "plugin 9999 has no value for cwd"}}) {
    E2ERun r = korvoctl(with(args));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(error), std::string::npos) << r.err;
  }
  EXPECT_EQ(recordedPid(zone), routerPid) << "one router served every client";

  // Only the started provider is left: after the idle time (10 s) the
  // router closes its link, the provider ends with status 0 and the record
  // is removed.
  EXPECT_TRUE(waitGone(routerPid, 30000)) << readFile(log);
  EXPECT_FALSE(recordExists(zone));
  std::string text = readFile(log);
  for (const char *logged : {"idle for 10000 ms: ending", "echo_provider (pid ",
                             ") exited with status 0"})
    EXPECT_NE(text.find(logged), std::string::npos) << text;
}

TEST_F(KorvoctlE2E, TwoClientsStartedAtTheSameMomentEndUpOnOneRouter) {
  E2EKorvoctl a(with({"location"}));
  E2EKorvoctl b(with({"location"}));
  E2ERun ra = a.collect(), rb = b.collect();
  ASSERT_EQ(ra.status, 0) << ra.err;
  ASSERT_EQ(rb.status, 0) << rb.err;
  EXPECT_EQ(ra.out, rb.out);
  EXPECT_EQ(ra.out, Lines{"127.0.0.1 " + std::to_string(recordedPort(zone))});
  // One of them launched the router while holding the lock; the other waited
  // and found it.
  std::string text = readFile(log);
  EXPECT_EQ(text.find("listening on"), text.rfind("listening on")) << text;
}

TEST_F(KorvoctlE2E, UsageErrorsNeitherConnectNorLaunch) {
  struct Case {
    Lines args;
    int status;
  } cases[] = {
      {{"whereis"}, 2},          {{"whereis", "A", "B"}, 2}, {{"value", "x", "cwd"}, 2},
      {{"location", "extra"}, 2}, {{"frobnicate"}, 2},      {{}, 2},
      {{"--timeout", "0", "location"}, 2}, {{"whereis", "--help"}, 0}, {{"help", "value"}, 0},
  };
  for (const Case &c : cases) {
    E2ERun r = korvoctl(with(c.args));
    EXPECT_EQ(r.status, c.status) << r.err;
  }
  EXPECT_FALSE(recordExists(zone));
  E2ERun help = korvoctl({"--help"});
  EXPECT_EQ(help.status, 0);
  std::string text;
  for (const std::string &l : help.out) text += l + "\n";
  for (const char *synopsis : {"whereis SERVICE [--start]", "value PLUGIN NAME"})
    EXPECT_NE(text.find(synopsis), std::string::npos) << text;
}

// The real state manager, started by activation from the default services
// file beside the programs: every service that file names is found at the
// same plugin, and when the router ends after the idle time, the state
// manager ends with status 0.
TEST(KorvoctlStateManager, ActivatedFromTheDefaultServicesFileAndEndsWithTheRouter) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::string zone = uniqueZone();
  std::string log = e2eTempPath("router") + ".log";
  const char *services[] = {"WhiteBoard", "MRUService", "TWL_WindowRegisterService",
                            "FileRegistry", "BroadcastService.Config",
                            "BroadcastService.File.Notify", "BroadcastService.File.Listen",
                            "Editor.Emacs", "Editor.Vi", "Editor.Other"};
  Lines provider;
  for (const char *service : services) {
    E2ERun r = korvoctl({"-sr_zone", zone, "-sr_log_router_internal", log, "whereis", service,
                         "--start"});
    ASSERT_EQ(r.status, 0) << service << ": " << r.err << readFile(log);
    if (provider.empty()) provider = r.out;
    EXPECT_EQ(r.out, provider) << service << " is provided by another process";
  }
  int routerPid = recordedPid(zone);
  EXPECT_TRUE(waitGone(routerPid, 40000)) << readFile(log);
  std::string text = readFile(log);
  EXPECT_EQ(text.find("started svc_statemgr"), text.rfind("started svc_statemgr")) << text;
  for (const char *logged : {"started svc_statemgr", "svc_statemgr (pid ", ") exited with status 0"})
    EXPECT_NE(text.find(logged), std::string::npos) << text;
  EXPECT_FALSE(recordExists(zone));
  reapAdopted();
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
  if (pid == 0) ::_exit(::setgid(uid) != 0 || ::setuid(uid) != 0 ? 100 : body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Connects to 127.0.0.1:port and tells what came back within 5 s:
// 0 closed without a byte, 1 bytes (the router negotiating), 2 nothing,
// 3 no connection.
int probeRouter(int port) {
  int s = e2eConnectLoopback(port);
  if (s < 0) return 3;
  pollfd p{s, POLLIN, 0};
  if (::poll(&p, 1, 5000) <= 0) return 2;
  char c;
  return ::read(s, &c, 1) > 0 ? 1 : 0;
}

// A svc_router started by hand as `uid`, its errors in `errFile`.
struct OwnedRouter {
  explicit OwnedRouter(int uid)
      : errFile(e2eTempPath("access_router") + ".err"),
        router({"-not_shared", "-idle_exit", "0"}, E2EChildOptions{errFile, "", uid}) {}
  std::string errFile;
  E2ERouter router;
};

}  // namespace

TEST(AccessE2E, RoutersAndClientsServeOnlyTheirOwnUser) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  OwnedRouter mine(static_cast<int>(::getuid()));
  OwnedRouter theirs(kOtherUid);
  ASSERT_GT(mine.router.port, 0) << readFile(mine.errFile);
  ASSERT_GT(theirs.router.port, 0) << readFile(theirs.errFile);
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
    int port = k.router->router.port;
    EXPECT_EQ(asUser(k.client, [port] { return probeRouter(port); }), k.probe);
    if (k.client != ::getuid()) continue;
    E2ERun ctl = e2eKorvoctl(k.router->router, {"location"});
    EXPECT_EQ(ctl.status, k.ctlStatus) << ctl.err;
    if (k.ctlStatus != 0) {
      // That router may already have closed its end (it refuses this user
      // too); either way the client does not use it.
      for (std::string text : {"service router at port " + std::to_string(port), std::string(": not used.")})
        EXPECT_NE(ctl.err.find(text), std::string::npos) << ctl.err;
    }
  }
  std::string refusals = readFile(mine.errFile);
  EXPECT_NE(refusals.find("refused a connection from uid 54321"), std::string::npos) << refusals;
}
