// Tests of the program entry run as a real process: the launch check refuses
// a start without the router's connect options (stderr text and status 1)
// and lets a start with them pass.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The folder of the programs: KORVO_BIN_DIR (set by CTest), else the folder
// of this test program, which the build puts beside svc_statemgr.
std::string programPath() {
  const char *dir = std::getenv("KORVO_BIN_DIR");
  if (dir && *dir) return std::string(dir) + "/svc_statemgr";
  char self[PATH_MAX] = {};
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  return path.substr(0, path.rfind('/') + 1) + "svc_statemgr";
}

struct ProgramRun {
  int status = -1;  // exit status, or -1 when it did not exit normally
  bool killed = false;  // still running at the deadline
  std::string err;
};

// Runs the program with `args` as its whole argument vector (args[0] is
// what the program sees as its own path) and collects its stderr. A program
// still running after `deadlineMs` is killed.
ProgramRun runProgram(const std::vector<std::string> &args, int deadlineMs = 10000) {
  ProgramRun run;
  int pipefd[2];
  if (::pipe(pipefd) != 0) return run;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipefd[1], 2);
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::string path = programPath();
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipefd[1]);
  int wstatus = 0;
  pid_t done = 0;
  for (int waited = 0; waited < deadlineMs && done == 0; waited += 10) {
    done = ::waitpid(pid, &wstatus, WNOHANG);
    if (done == 0) ::usleep(10000);
  }
  if (done == 0) {
    run.killed = true;
    ::kill(pid, SIGKILL);
    done = ::waitpid(pid, &wstatus, 0);
  }
  char buf[512];
  ssize_t n;
  while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) run.err.append(buf, static_cast<size_t>(n));
  ::close(pipefd[0]);
  if (done == pid && WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
  return run;
}

const char kRefusal[] = "svc_statemgr: fatal: svc_statemgr may not be run as a standalone program\n";

TEST(LaunchCheckTest, RefusesWithoutRouterOptions) {
  ProgramRun none = runProgram({"svc_statemgr"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, kRefusal);

  ProgramRun other = runProgram({"/some/dir/svc_statemgr", "-sr_debug_startup", "x"});
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.err, kRefusal);  // the name is the base name of the path
}

TEST(LaunchCheckTest, RefusesAnOptionWithoutItsValue) {
  ProgramRun last = runProgram({"svc_statemgr", "-connect_servicerouter"});
  EXPECT_EQ(last.status, 1);
  EXPECT_EQ(last.err, kRefusal);

  ProgramRun later = runProgram({"svc_statemgr", "x", "-sr_connect_servicerouter_port"});
  EXPECT_EQ(later.status, 1);
  EXPECT_EQ(later.err, kRefusal);
}

// A TCP port on 127.0.0.1 that refuses connections while the object lives.
struct RefusedPort {
  RefusedPort() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = std::to_string(ntohs(a.sin_port));
  }
  ~RefusedPort() { ::close(fd); }
  int fd;
  std::string port;
};

// Past the launch check the process connects to the router named on its
// command line; here nothing answers, so it ends with status 1 and the
// router client's reason instead of the refusal.
TEST(LaunchCheckTest, PassesWithAnOptionBeforeTheLastWord) {
  RefusedPort refused;
  for (const char *option : {"-connect_servicerouter", "-sr_connect_servicerouter_host",
                             "-sr_connect_servicerouter_port"}) {
    ProgramRun run = runProgram({"svc_statemgr", "-x", option, refused.port, "-y"});
    EXPECT_EQ(run.err.find("standalone"), std::string::npos) << option << ": " << run.err;
    EXPECT_NE(run.err.find("Unable to connect to ServiceRouter who launched us."), std::string::npos)
        << option << ": " << run.err;
    EXPECT_EQ(run.status, 1) << option;
  }
  // The program path is examined too: only the last word is skipped. The
  // router options are read from the second word on, so this process was
  // not launched by a router: it either serves without a router (until
  // killed here) or fails to start one from a folder without it.
  ProgramRun first =
      runProgram({"-connect_servicerouter", refused.port, "-sr_dir", "/nonexistent"}, 1000);
  EXPECT_EQ(first.err.find("standalone"), std::string::npos) << first.err;
  EXPECT_TRUE(first.killed || first.status == 1) << first.err;
}

}  // namespace
