// Tests of the process's signal dispositions, in a child process so that
// the test runner keeps its own. The child's exit status names the first
// check that failed.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include <gtest/gtest.h>

#include "services/state/svc_eventloop.h"
#include "services/state/svc_routerlink.h"
#include "services/state/svc_signals.h"
#include "shared/indgen.h"

namespace {

bool ignored(int sig) {
  struct sigaction sa {};
  return ::sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN;
}

void sleepMs(int ms) {
  timespec ts{0, ms * 1000L * 1000L};
  ::nanosleep(&ts, nullptr);
}

// True once waitpid says `pid` is no child of ours any more (reaped by the
// handler), checking for up to two seconds.
bool reapedByHandler(pid_t pid) {
  for (int i = 0; i < 200; ++i, sleepMs(10)) {
    errno = 0;
    pid_t r = ::waitpid(pid, nullptr, WNOHANG);
    if (r == -1 && errno == ECHILD) return true;
    if (r == pid) return false;  // a zombie the handler left behind
  }
  return false;
}

// A router link that stays alive for ever: only a stop signal ends the loop.
struct AliveLink : Svc_RouterLink {
  bool isAlive() override { return true; }
  void requestDisconnect() override {}
  bool createdAService() override { return false; }
};

// Terminal signals are ignored (an interrupt does not stop the process);
// two children ending while SIGCHLD is held are both reaped by one
// delivery; a warning into a closed stderr raises no SIGPIPE; the first
// stop signal is kept and ends the loop, later ones change nothing.
int signalChecks() {
  gen_init("stoptest", 0, 0);
  Svc_SetSignalDispositions();
  if (!(ignored(SIGINT) && ignored(SIGTSTP) && ignored(SIGTTIN) && ignored(SIGTTOU))) return 1;
  ::raise(SIGINT);
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGCHLD);
  sigprocmask(SIG_BLOCK, &block, &old);
  pid_t a = ::fork();
  if (a == 0) ::_exit(0);
  pid_t b = ::fork();
  if (b == 0) ::_exit(0);
  sleepMs(100);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (!(a > 0 && b > 0 && reapedByHandler(a) && reapedByHandler(b))) return 2;
  if (!Svc_InstallStopSignals()) return 3;
  int fds[2];
  if (::pipe(fds) != 0 || ::dup2(fds[1], 2) != 2) return 4;
  ::close(fds[0]);
  gen_warning("nobody reads this");
  if (Svc_StopSignal() != 0) return 5;
  ::raise(SIGHUP);
  ::raise(SIGTERM);
  if (Svc_StopSignal() != SIGHUP) return 6;
  AliveLink link;
  Svc_RouterLink::install(&link);
  Svc_EventLoop loop;
  loop.enterLoop();  // returns at once instead of serving for ever
  Svc_RouterLink::install(nullptr);
  return 0;
}

TEST(SignalDispositionsTest, TerminalSignalsChildrenClosedStderrAndStopSignals) {
  EXPECT_EXIT(std::_Exit(signalChecks()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
