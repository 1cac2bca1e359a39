// svc_signals: SIGCHLD reaping, the ignored terminal signals, and the stop
// signals that let the event loop save before the process ends.
#include "services/state/svc_signals.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_wake_pipe.h"

namespace {

constexpr int kStopStatus = 2;
constexpr int kStopSignals[] = {SIGHUP, SIGQUIT, SIGTERM, SIGPIPE};

volatile sig_atomic_t g_stop_signal = 0;
int g_wake_write = -1;

// Only async-signal-safe calls: a store to a sig_atomic_t and a write to a
// non-blocking pipe (a full pipe already holds a wake-up).
void stopSigHandler(int sig) {
  if (g_stop_signal != 0) return;
  g_stop_signal = sig;
  ut_WakePipe::wake(g_wake_write);
}

// The wake-up pipe: being readable ends the socket wait; the loop itself
// looks at Svc_StopSignal(). Made once, kept for the life of the process.
ut_WakePipe *g_wake_pipe = nullptr;

bool makeWakePipe() {
  if (!g_wake_pipe) g_wake_pipe = new ut_WakePipe();
  g_wake_write = g_wake_pipe->writeFd();
  return g_wake_pipe->ok();
}

}  // namespace

void childDiedSigHandler(int) {
  int saved = errno;  // the interrupted code may be about to read errno
  ::waitpid(-1, nullptr, WNOHANG);
  std::signal(SIGCHLD, childDiedSigHandler);
  ::waitpid(-1, nullptr, WNOHANG);
  errno = saved;
}

void Svc_SetSignalDispositions() {
  std::signal(SIGCHLD, childDiedSigHandler);
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGTSTP, SIG_IGN);
  std::signal(SIGTTIN, SIG_IGN);
  std::signal(SIGTTOU, SIG_IGN);
}

bool Svc_InstallStopSignals() {
  if (!makeWakePipe()) return false;
  struct sigaction sa = {};
  sa.sa_handler = stopSigHandler;
  sigemptyset(&sa.sa_mask);
  for (int sig : kStopSignals) sigaddset(&sa.sa_mask, sig);
  sa.sa_flags = SA_RESTART;
  for (int sig : kStopSignals) ::sigaction(sig, &sa, nullptr);
  return true;
}

int Svc_StopSignal() { return static_cast<int>(g_stop_signal); }

void Svc_ExitAfterStopSignal(int signal) {
  if (signal == SIGPIPE) gen_errorexit(kStopStatus, "Halted by a SIGPIPE.");
  else if (signal == SIGTERM) gen_exit(kStopStatus);
  else gen_errorexit(kStopStatus, "Interrupt (%d)", signal);
}
