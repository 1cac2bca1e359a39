// Tests of the process's signal dispositions, in child processes so that the
// test runner keeps its own.
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

// True once waitpid says `pid` is no child of ours any more (reaped by the
// handler), checking for up to two seconds.
bool reapedByHandler(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    errno = 0;
    pid_t r = ::waitpid(pid, nullptr, WNOHANG);
    if (r == -1 && errno == ECHILD) return true;
    if (r == pid) return false;  // a zombie the handler left behind
    timespec ts{0, 10 * 1000 * 1000};
    ::nanosleep(&ts, nullptr);
  }
  return false;
}

// Runs in the child: sets the dispositions, checks them, survives SIGINT.
void ignoresTerminalSignals() {
  Svc_SetSignalDispositions();
  bool ok = ignored(SIGINT) && ignored(SIGTSTP) && ignored(SIGTTIN) && ignored(SIGTTOU);
  ::raise(SIGINT);
  std::_Exit(ok ? 0 : 1);
}

// Runs in the child: two grandchildren end while SIGCHLD is held, so one
// delivery has to reap both.
void reapsTwoChildren() {
  Svc_SetSignalDispositions();
  sigset_t block;
  sigset_t old;
  sigemptyset(&block);
  sigaddset(&block, SIGCHLD);
  sigprocmask(SIG_BLOCK, &block, &old);
  pid_t a = ::fork();
  if (a == 0) ::_exit(0);
  pid_t b = ::fork();
  if (b == 0) ::_exit(0);
  timespec ts{0, 100 * 1000 * 1000};
  ::nanosleep(&ts, nullptr);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  bool ok = a > 0 && b > 0 && reapedByHandler(a) && reapedByHandler(b);
  std::_Exit(ok ? 0 : 1);
}

// A router link that stays alive for ever: only a stop signal ends the loop.
class AliveLink : public Svc_RouterLink {
 public:
  bool isAlive() override { return true; }
  void requestDisconnect() override {}
  bool createdAService() override { return false; }
};

// Runs in the child: a warning into a closed stderr raises no SIGPIPE; the
// first stop signal is kept and ends the loop; later ones change nothing.
void stopSignalsAreNotedAndEndTheLoop() {
  gen_init("stoptest", 0, 0);
  bool ok = Svc_InstallStopSignals();
  int fds[2];
  ok = ok && ::pipe(fds) == 0 && ::dup2(fds[1], 2) == 2;
  ::close(fds[0]);
  gen_warning("nobody reads this");
  ok = ok && Svc_StopSignal() == 0;
  ::raise(SIGHUP);
  ::raise(SIGTERM);
  ok = ok && Svc_StopSignal() == SIGHUP;
  AliveLink link;
  Svc_RouterLink::install(&link);
  Svc_EventLoop loop;
  loop.enterLoop();  // returns at once instead of serving for ever
  Svc_RouterLink::install(nullptr);
  std::_Exit(ok ? 0 : 1);
}

TEST(SignalDispositionsTest, StopSignalsAreNotedAndEndTheLoopWhileAClosedStderrIsHarmless) {
  EXPECT_EXIT(stopSignalsAreNotedAndEndTheLoop(), ::testing::ExitedWithCode(0), "");
}

TEST(SignalDispositionsTest, TerminalSignalsAreIgnoredAndInterruptDoesNotStop) {
  EXPECT_EXIT(ignoresTerminalSignals(), ::testing::ExitedWithCode(0), "");
}

TEST(SignalDispositionsTest, TwoChildrenEndingTogetherAreBothReaped) {
  EXPECT_EXIT(reapsTwoChildren(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
