// STPChildProcess with a real child (the helper program beside this test):
// a child that connects back, its working directory and arguments, a
// missing program, a child that dies before connecting, a second launch, a
// time-out and kill on delete.
#include "shared/stp_transport/stp_child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shared/stp_transport/stp_retry_handlers.h"
#include "shared/stp_transport/stp_transport.h"
#include "support/stp_sockets.h"
#include "support/stp_stat.h"

using testsupport::statText;
using testsupport::TransportRef;

namespace {

// Sleeps 10 ms per round for at most `ms`; needs no transport.
struct SleepingRetryHandler : RetryHandler {
  explicit SleepingRetryHandler(int ms) : RetryHandler(kRetryMillisBase + ms) {}
  void idle() override { usleep(10000); }
};

bool alive(int pid) { return kill(pid, 0) == 0; }

struct ChildProcessTest : ::testing::Test {
  std::string helper;
  TransportRef transport;
  TStat stat;
  void SetUp() override {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    helper = std::string(exe, n);
    helper = helper.substr(0, helper.rfind('/')) + "/stp_child_helper";
  }
  // Launches `args` (after the helper's path) with a bounded wait.
  bool launch(STPChildProcess &child, const std::string &args, int ms = 20000) {
    child.setCommand((helper + args).c_str());
    child.setTransport(transport.t);
    TimeoutSTPRetryHandler rh(transport.t, ms);
    return child.launch(&rh, &stat);
  }
};

TEST_F(ChildProcessTest, ChildConnectsBackAndSecondLaunchIsRefused) {
  STPChildProcess child(true);
  ASSERT_TRUE(launch(child, " connect")) << stat.message;
  EXPECT_TRUE(child.isConnected() && transport->isBound() && !transport->isListening());
  int pid = child.getPID();
  ASSERT_TRUE(pid > 0 && alive(pid));
  EXPECT_FALSE(launch(child, " connect"));
  EXPECT_EQ(statText(stat), "3 [launch]: Child is already launched.");
  EXPECT_EQ(child.getPID(), pid);
  // Closing our side lets the child end on its own; killChild waits for it.
  transport->closeConnection(nullptr);
  SleepingRetryHandler wait(10000);
  child.killChild(&wait);
  EXPECT_TRUE(child.getPID() == 0 && !alive(pid));
}

// The child starts in its working directory, with the connection arguments
// where it was told (no host name, port after an inserted flag) and an added
// argument after them; the launcher's own directory stays. Without a retry
// handler the launcher services the transport itself.
TEST_F(ChildProcessTest, ChildStartsInItsWorkingDirectoryWithAddedArgument) {
  std::string dir = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/launchXXXXXX";
  char real[PATH_MAX], before[PATH_MAX], after[PATH_MAX], seen[PATH_MAX] = {};
  ASSERT_TRUE(mkdtemp(dir.data()) && realpath(dir.c_str(), real) && getcwd(before, sizeof before));
  STPChildProcess child(true);
  child.setCommand(helper.c_str());
  child.insertArgument("-connect_servicerouter", 1);
  child.setInsertHostname(false);
  child.setPortArg(2);
  child.addArgument("cwd");
  child.addArgument(nullptr);  // ignored
  child.setWorkingDir(real);
  child.setTransport(transport.t);
  ASSERT_TRUE(child.launch(nullptr, &stat)) << stat.message;
  EXPECT_STREQ(getcwd(after, sizeof after), before);
  std::string file = std::string(real) + "/cwd.txt";
  FILE *in = fopen(file.c_str(), "r");
  ASSERT_NE(in, nullptr) << "the helper did not run in " << real;
  EXPECT_STREQ(fgets(seen, sizeof seen, in), real);
  fclose(in);
  unlink(file.c_str());
  rmdir(real);
}

TEST_F(ChildProcessTest, LaunchFailures) {
  STPChildProcess missing(true);
  missing.setCommand("/no/such/dir/program connect");
  missing.setTransport(transport.t);
  EXPECT_FALSE(missing.launch(nullptr, &stat));
  EXPECT_EQ(statText(stat), "4 [launch]: Program could not start (not found?).");
  EXPECT_TRUE(missing.getPID() == 0 && transport->isDead());  // not left listening

  STPChildProcess dies(false);
  EXPECT_FALSE(launch(dies, " exit"));
  // Normally seen while waiting; a child faster than the first check is
  // reported as dying upon launch.
  EXPECT_TRUE(statText(stat) == "4 [launch]: Program died before connecting." ||
              statText(stat) == "4 [launch]: Program died upon launch.")
      << stat.message;
  EXPECT_EQ(dies.getPID(), 0);
  EXPECT_TRUE(launch(dies, " connect")) << stat.message;  // a new launch is allowed
  dies.killChild(nullptr);

  STPChildProcess none(true);
  none.setCommand("prog");
  EXPECT_FALSE(none.launch(nullptr, &stat));
  EXPECT_STREQ(stat.message, "[launch]: transport required to launch STPChildProcess.");
  for (const char *command : {static_cast<const char *>(nullptr), "", "   "}) {
    STPChildProcess empty(true);
    if (command) empty.setCommand(command);
    empty.setTransport(transport.t);
    EXPECT_FALSE(empty.launch(nullptr, &stat));
    EXPECT_EQ(statText(stat), "3 [launch]: command required to launch STPChildProcess.");
  }
}

TEST_F(ChildProcessTest, TimeOutLeavesChildRunningUntilKillOnDelete) {
  int pid = 0;
  {
    STPChildProcess child(true);
    EXPECT_FALSE(launch(child, " sleep", 300));
    EXPECT_EQ(statText(stat), "7 [launch]: Timed out while waiting for child to connect.");
    pid = child.getPID();
    ASSERT_TRUE(pid > 0 && alive(pid));
  }
  EXPECT_FALSE(alive(pid));  // killed and reaped by the destructor
}

}  // namespace
