// indgen_signals.cpp: the signal traps installed by gen_init. Hang-up,
// interrupt, quit, terminate, broken pipe and the CPU-time limit end the
// process with status 2 after a short report.
//
// The handlers report through the library's message and exit functions; a
// signal that arrives while the process is already exiting ends it at once.
#include <cerrno>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <unistd.h>

#include "shared/indgen.h"
#include "shared/indgen_private.h"

namespace {

volatile sig_atomic_t g_signal;
volatile sig_atomic_t g_in_trap;
volatile sig_atomic_t g_pipe_count;

const int kSignalStatus = 2;

// A second signal during a report or the exit ends the process at once.
void enter_trap() {
  if (g_in_trap || gen_private_exit_in_progress()) _exit(kSignalStatus);
  g_in_trap = 1;
}

void on_halt(int sig) {
  g_signal = sig;
  enter_trap();
  std::fflush(stdout);
  if (sig == SIGINT) gen_errorexit(kSignalStatus, "Halted");
  else if (sig != SIGTERM) gen_errorexit(kSignalStatus, "Interrupt (%d)", sig);
  else gen_exit(kSignalStatus);
  g_in_trap = 0;   // only a test's exit hook returns here
}

void on_pipe(int sig) {
  g_signal = sig;
  if (g_pipe_count > 0) {
    // Writing the report broke the pipe again: leave quietly.
    close(1);
    close(2);
    _exit(kSignalStatus);
  }
  g_pipe_count = 1;
  gen_errorexit(kSignalStatus, "Halted by a SIGPIPE.");
}

void on_cpu_limit(int sig) {
  g_signal = sig;
  enter_trap();
  gen_errorexit(kSignalStatus, "Cpu Limit Exceeded");
  g_in_trap = 0;
}

void install(int sig, void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(sig, &sa, nullptr);
}

}  // namespace

void trapsetup(void) {
  install(SIGHUP, on_halt);
  install(SIGINT, on_halt);
  install(SIGQUIT, on_halt);
  install(SIGTERM, on_halt);
  install(SIGPIPE, on_pipe);
  install(SIGXCPU, on_cpu_limit);
}

int gen_caught_signal(void) { return static_cast<int>(g_signal); }

namespace {

bool sigpipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

GenPrivatePipeQuiet::GenPrivatePipeQuiet() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigprocmask(SIG_BLOCK, &pipe, &saved_);
  pendingBefore_ = sigpipePending();
}

GenPrivatePipeQuiet::~GenPrivatePipeQuiet() {
  if (!pendingBefore_ && sigpipePending()) {
    // Raised by one of our own writes: consume it while it is still blocked.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    timespec none{0, 0};
    int saved = errno;
    while (sigtimedwait(&pipe, nullptr, &none) < 0 && errno == EINTR) {
    }
    errno = saved;
  }
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
}
