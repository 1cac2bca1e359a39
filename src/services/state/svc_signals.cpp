// svc_signals: SIGCHLD reaping and the ignored terminal signals.
#include "services/state/svc_signals.h"

#include <sys/wait.h>

#include <cerrno>
#include <csignal>

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
