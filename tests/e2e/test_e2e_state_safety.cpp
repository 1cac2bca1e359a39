// End to end through svc_router: the real svc_statemgr keeps the window
// geometry a client stored when a signal ends it, and when it is killed
// without any chance to save once its delayed save has written the file; a
// file name too big to keep is refused while the service goes on serving.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"

namespace {

using Lines = std::vector<std::string>;

std::string windowPosPath() { return std::string(std::getenv("HOME")) + "/.twl/windowpos.ini"; }

// The pid of the child of `parent` called `name`, or -1 (from /proc).
pid_t childNamed(pid_t parent, const std::string &name) {
  DIR *proc = opendir("/proc");
  pid_t found = -1;
  while (struct dirent *e = proc ? readdir(proc) : nullptr) {
    std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
    std::string pid, comm, state;
    long ppid = 0;
    if (stat >> pid >> comm >> state >> ppid && ppid == parent && comm == "(" + name + ")")
      found = std::atoi(pid.c_str());
  }
  if (proc) closedir(proc);
  return found;
}

// True once `pid` is gone (reaped by the router), within 10 s.
bool ended(pid_t pid) {
  return e2eEventually(10000, [pid] {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string skip, state;
    return !(stat >> skip >> skip >> state) || state == "Z";
  });
}

class StateSafetyE2E : public ::testing::Test {
 protected:
  // The file a previous case left is removed before the state manager
  // starts: loaded, it would make storing the same geometry no change, so
  // nothing would be saved.
  bool fresh = (std::remove(windowPosPath().c_str()), true);
  E2ERouter router{"svc_statemgr", {"MRUService", "FileRegistry"}};

  void SetUp() override { ASSERT_GT(router.port, 0) << "svc_router did not start"; }

  std::unique_ptr<E2EChild> client(const char *service) {
    std::vector<std::string> args{service};
    for (const std::string &o : router.clientOptions()) args.push_back(o);
    auto c = std::make_unique<E2EChild>(e2eBinDir() + "/e2e_script_client", args);
    EXPECT_EQ(c->readLine(30000), "ready");
    return c;
  }

  // Stores geometry for class "Editor" through a client and returns the
  // state manager's pid.
  pid_t storeGeometry() {
    auto c = client("mru");
    const std::string command = "geometry Editor 7 10 20 300 400";
    EXPECT_EQ(c->run(command).back(), "ok " + command);
    return childNamed(router.child.pid, "svc_statemgr");
  }

  static constexpr const char *kSaved = "[Editor]\nx=10\ny=20\nwidth=300\nheight=400\n\n";
};

// A stop signal sent at once, well inside the save delay: only the
// signal's own save can have written the file. SIGKILL is sent once the
// delayed save has written the file while the process runs (waited for
// rather than timed, so that a loaded machine cannot fail it); the kill
// then loses nothing.
class SignalSaves : public StateSafetyE2E, public ::testing::WithParamInterface<int> {};

TEST_P(SignalSaves, GeometryIsOnDiskWhenTheProcessEnds) {
  pid_t statemgr = storeGeometry();
  ASSERT_GT(statemgr, 0);
  if (GetParam() == SIGKILL) {
    ASSERT_TRUE(e2eEventually(10000, [] { return e2eReadFile(windowPosPath()) == kSaved; }));
  }
  ASSERT_EQ(kill(statemgr, GetParam()), 0);
  ASSERT_TRUE(ended(statemgr));
  EXPECT_EQ(e2eReadFile(windowPosPath()), kSaved);
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalSaves, ::testing::Values(SIGTERM, SIGHUP, SIGKILL),
                         [](const auto &info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(StateSafetyE2E, OversizedAddFileIsRefusedAndTheServiceStaysUp) {
  auto c = client("files");
  EXPECT_EQ(c->run("addbig T 2000000").back(), "ok addbig T 2000000");  // one-way: sent
  EXPECT_EQ(c->run("list T"), (Lines{"end 0", "ok list T"}));
  EXPECT_EQ(c->run("addbig T 1000").back(), "ok addbig T 1000");
  EXPECT_EQ(c->run("list T"), (Lines{"file " + std::string(1000, 'x'), "end 1", "ok list T"}));
  auto other = client("files");  // the process still takes new connections
  EXPECT_EQ(other->run("list T").size(), 3u);
}

}  // namespace
