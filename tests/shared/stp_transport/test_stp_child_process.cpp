// Tests of STPChildProcess with a real child (the helper program beside this
// test): a child that connects back, its working directory and added
// arguments, a missing program, a child that dies before connecting, a
// second launch, a time-out, and kill on delete.
#include "shared/stp_transport/stp_child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shared/stp_transport/stp_retry_handlers.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

// Waits by sleeping 10 ms per round, for at most `ms` milliseconds; needs no
// transport (unlike the STP handlers, which give up without one).
class SleepingRetryHandler : public RetryHandler {
 public:
  explicit SleepingRetryHandler(int ms) : RetryHandler(kRetryMillisBase + ms) {}
  void idle() override { usleep(10000); }
};

class ChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    std::string path = exe;
    helper_ = path.substr(0, path.rfind('/')) + "/stp_child_helper";
    transport_ = new STPTransport();
  }
  void TearDown() override { transport_->delRef(); }

  static bool alive(int pid) { return kill(pid, 0) == 0; }

  std::string helper_;
  STPTransport *transport_ = nullptr;
};

TEST_F(ChildProcessTest, ChildConnectsBackAndSecondLaunchIsRefused) {
  STPChildProcess child(true);
  child.setCommand((helper_ + " connect").c_str());
  child.setTransport(transport_);
  TimeoutSTPRetryHandler rh(transport_, 20000);
  TStat stat;
  ASSERT_TRUE(child.launch(&rh, &stat)) << stat.message;
  EXPECT_TRUE(child.isConnected());
  EXPECT_TRUE(transport_->isBound());
  EXPECT_FALSE(transport_->isListening());  // listening socket closed
  int pid = child.getPID();
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(alive(pid));

  EXPECT_FALSE(child.launch(&rh, &stat));
  EXPECT_EQ(stat.code, kStatBadState);
  EXPECT_STREQ(stat.message, "[launch]: Child is already launched.");
  EXPECT_EQ(child.getPID(), pid);

  // Closing our side lets the child end on its own; killChild waits for it.
  TStat ignored;
  transport_->closeConnection(&ignored);
  SleepingRetryHandler wait(10000);
  child.killChild(&wait);
  EXPECT_EQ(child.getPID(), 0);
  EXPECT_FALSE(alive(pid));
}

TEST_F(ChildProcessTest, ConnectionArgumentsWithoutHostnameAtPortArg) {
  STPChildProcess child(true);
  child.setCommand((helper_ + " connect").c_str());
  child.insertArgument("-connect_servicerouter", 1);
  child.setInsertHostname(false);
  child.setPortArg(2);
  child.setTransport(transport_);
  TStat stat;
  // Without a retry handler the launcher services the transport itself.
  ASSERT_TRUE(child.launch(nullptr, &stat)) << stat.message;
  EXPECT_TRUE(transport_->isBound());
}

// The child starts in the working directory given to the launcher, with an
// added argument after the connection arguments; the launcher's own working
// directory stays as it was.
TEST_F(ChildProcessTest, ChildStartsInItsWorkingDirectoryWithAddedArgument) {
  const char *tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/launchXXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  char *real = realpath(dir.c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  dir = real;
  free(real);
  char before[PATH_MAX];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);

  STPChildProcess child(true);
  child.setCommand(helper_.c_str());
  child.addArgument("cwd");
  child.addArgument(nullptr);  // ignored
  child.setWorkingDir(dir.c_str());
  child.setTransport(transport_);
  TimeoutSTPRetryHandler rh(transport_, 20000);
  TStat stat;
  ASSERT_TRUE(child.launch(&rh, &stat)) << stat.message;
  char after[PATH_MAX];
  ASSERT_NE(getcwd(after, sizeof after), nullptr);
  EXPECT_STREQ(after, before);
  std::string file = dir + "/cwd.txt";
  FILE *in = fopen(file.c_str(), "r");
  ASSERT_NE(in, nullptr) << "the helper did not run in " << dir;
  char seen[PATH_MAX] = {};
  ASSERT_NE(fgets(seen, sizeof seen, in), nullptr);
  fclose(in);
  EXPECT_EQ(std::string(seen), dir);
  unlink(file.c_str());
  rmdir(dir.c_str());
}

TEST_F(ChildProcessTest, MissingProgramCouldNotStart) {
  STPChildProcess child(true);
  child.setCommand("/no/such/dir/program connect");
  child.setTransport(transport_);
  TimeoutSTPRetryHandler rh(transport_, 5000);
  TStat stat;
  EXPECT_FALSE(child.launch(&rh, &stat));
  EXPECT_EQ(stat.code, kStatChildFailed);
  EXPECT_STREQ(stat.message, "[launch]: Program could not start (not found?).");
  EXPECT_EQ(child.getPID(), 0);
  EXPECT_TRUE(transport_->isDead());  // not left listening
}

TEST_F(ChildProcessTest, ChildThatDiesBeforeConnecting) {
  STPChildProcess child(false);
  child.setCommand((helper_ + " exit").c_str());
  child.setTransport(transport_);
  TimeoutSTPRetryHandler rh(transport_, 20000);
  TStat stat;
  EXPECT_FALSE(child.launch(&rh, &stat));
  EXPECT_EQ(stat.code, kStatChildFailed);
  // The exit is normally seen while waiting for the connection; a child that
  // is faster than the first check is reported as dying upon launch.
  EXPECT_TRUE(std::string(stat.message) == "[launch]: Program died before connecting." ||
              std::string(stat.message) == "[launch]: Program died upon launch.")
      << stat.message;
  EXPECT_EQ(child.getPID(), 0);
  // A new launch is allowed afterwards, on a transport that is idle again.
  child.setCommand((helper_ + " connect").c_str());
  EXPECT_TRUE(child.launch(&rh, &stat)) << stat.message;
  child.killChild(nullptr);
}

TEST_F(ChildProcessTest, TimeOutLeavesChildRunningUntilKillOnDelete) {
  int pid = 0;
  {
    STPChildProcess child(true);
    child.setCommand((helper_ + " sleep").c_str());
    child.setTransport(transport_);
    TimeoutSTPRetryHandler rh(transport_, 300);
    TStat stat;
    EXPECT_FALSE(child.launch(&rh, &stat));
    EXPECT_EQ(stat.code, kStatTimedOut);
    EXPECT_STREQ(stat.message, "[launch]: Timed out while waiting for child to connect.");
    pid = child.getPID();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(alive(pid));
  }
  EXPECT_FALSE(alive(pid));  // killed and reaped by the destructor
}

TEST_F(ChildProcessTest, RefusalsBeforeStarting) {
  STPChildProcess child(true);
  TStat stat;
  child.setCommand("prog");
  EXPECT_FALSE(child.launch(nullptr, &stat));
  EXPECT_EQ(stat.code, kStatBadState);
  EXPECT_STREQ(stat.message, "[launch]: transport required to launch STPChildProcess.");

  STPChildProcess empty(true);
  empty.setTransport(transport_);
  EXPECT_FALSE(empty.launch(nullptr, &stat));
  EXPECT_STREQ(stat.message, "[launch]: command required to launch STPChildProcess.");
  empty.setCommand("   ");
  EXPECT_FALSE(empty.launch(nullptr, &stat));
  EXPECT_STREQ(stat.message, "[launch]: command required to launch STPChildProcess.");
  EXPECT_TRUE(transport_->isDead());
}

TEST(KillPID, ZeroDoesNothingAndRunningChildIsAwaitedNotKilled) {
  STPChildProcess::killPID(0, nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    usleep(200000);
    _exit(0);
  }
  // Waits through the handler until the child ends by itself, then reaps it.
  long long start = ut_getTimeMillis64();
  SleepingRetryHandler wait(10000);
  STPChildProcess::killPID(pid, &wait);
  EXPECT_GE(ut_getTimeMillis64() - start, 150);
  errno = 0;
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

TEST(KillPID, WithoutHandlerKillsAtOnce) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sleep(60);
    _exit(0);
  }
  long long start = ut_getTimeMillis64();
  STPChildProcess::killPID(pid, nullptr);
  EXPECT_LT(ut_getTimeMillis64() - start, 5000);
  errno = 0;
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

}  // namespace
