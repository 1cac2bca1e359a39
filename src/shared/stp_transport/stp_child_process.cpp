// STPChildProcess: launch a program that connects back over STP. The launch
// is a small state machine: startLaunch (listen, start the child, adopt the
// listening socket), then tryLaunch rounds until the child connected or
// died; launch() drives the rounds through a retry handler or by servicing
// the transport itself.
#include "shared/stp_transport/stp_child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_process.h"
#include "shared/stp_transport/stp_retry_handlers.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

// Keeps the child waitable: with this handler (instead of SIG_IGN or a
// reaper) nobody collects the child's exit status behind the launcher.
void ignore_child_status(int) {}

// True when the child has exited (it is reaped here) or is not our child.
bool child_has_exited(int pid) {
  int status = 0;
  pid_t r = waitpid(pid, &status, WNOHANG);
  return r == pid || (r < 0 && errno == ECHILD);
}

bool fail(TStat *stat, int code, const char *message) {
  stat->set(code, message);
  return false;
}

}  // namespace

STPChildProcess::STPChildProcess(bool killOnDelete) : killOnDelete(killOnDelete) {}

STPChildProcess::~STPChildProcess() {
  transport = nullptr;  // not owned: it may already be gone
  if (killOnDelete) killChild(nullptr);
  if (listenFD >= 0) close(listenFD);
  restoreSignalHandler();
  freeArgv(argv);
  gen_free(workingDir);
}

void STPChildProcess::setCommand(const char *command) {
  if (!command) return;
  freeArgv(argv);
  argv = makeArgv(command, &argc, false);
}

void STPChildProcess::setCommand(char *const *args, int count) {
  freeArgv(argv);
  argc = args && count > 0 ? count : 0;
  argv = copyArgv(args, argc);
}

void STPChildProcess::addArgument(const char *arg) { insertArgument(arg, argc); }

void STPChildProcess::insertArgument(const char *arg, int position) {
  if (!arg) return;
  if (!argv) argv = copyArgv(nullptr, 0);
  insertArg(&argv, &argc, position, arg);
}

void STPChildProcess::setWorkingDir(const char *dir) {
  gen_free(workingDir);
  workingDir = gen_copy(dir);
}

bool STPChildProcess::launch(RetryHandler *rh, TStat *stat) {
  TStat local;
  if (!stat) stat = &local;
  stat->clear();
  if (!transport) return fail(stat, kStatBadState, "[launch]: transport required to launch STPChildProcess.");
  if (!argv || argc == 0 || !argv[0] || !argv[0][0]) {
    return fail(stat, kStatBadState, "[launch]: command required to launch STPChildProcess.");
  }
  if (pid != 0) return fail(stat, kStatBadState, "[launch]: Child is already launched.");

  if (rh) rh->beginOp();
  startLaunch(stat);
  while (stat->ok()) {
    if (tryLaunch(stat)) break;
    if (!stat->ok()) break;
    if (rh) {
      rh->idle();
      *stat = transport->getStat();
      if (stat->ok() && !rh->retryOp()) {
        stat->set(kStatTimedOut, "[launch]: Timed out while waiting for child to connect.");
      }
    } else {
      transport->serviceOnce(4000, stat);
    }
  }
  if (rh) rh->completedOp();
  return stat->ok() && connected;
}

bool STPChildProcess::startLaunch(TStat *stat) {
  connected = false;
  int port = 0;
  int fd = STPTransport::getListenSocket(&port, stat);
  if (fd < 0) {
    if (stat->ok()) stat->set(kStatDown, "[launch]: could not open a listening socket.");
    return false;
  }
  listenFD = fd;

  int n = argc;
  char **args = copyArgv(argv, n);
  char portText[16];
  std::snprintf(portText, sizeof portText, "%d", port);
  if (insertHostname) {
    insertArg(&args, &n, portArg, "localhost");
    insertArg(&args, &n, portArg + 1, portText);
  } else {
    insertArg(&args, &n, portArg, portText);
  }

  struct sigaction sa {};
  sa.sa_handler = ignore_child_status;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  handlerInstalled = sigaction(SIGCHLD, &sa, &savedChildHandler) == 0;

  {
    CwdChanger cwd(workingDir);
    pid = spawnProgram(args, false);
  }
  freeArgv(args);

  launching = true;
  if (pid == 0) {
    abortLaunch();
    return fail(stat, kStatChildFailed, "[launch]: Program could not start (not found?).");
  }
  if (child_has_exited(pid)) {
    pid = 0;
    abortLaunch();
    return fail(stat, kStatChildFailed, "[launch]: Program died upon launch.");
  }
  if (!transport->startListenOnFD(fd, stat)) {
    if (stat->ok()) stat->set(kStatDown, "[launch]: could not listen for the child.");
    abortLaunch();
    return false;
  }
  listenFD = -1;  // the transport owns it now
  return true;
}

bool STPChildProcess::tryLaunch(TStat *stat) {
  if (!launching) return fail(stat, kStatBadState, "[launch]: No launch is in progress.");
  if (!transport) return fail(stat, kStatBadState, "[launch]: Transport is required.");
  if (connected) return true;
  if (child_has_exited(pid)) {
    pid = 0;
    abortLaunch();
    return fail(stat, kStatChildFailed, "[launch]: Program died before connecting.");
  }
  if (transport->tryAccept(true, stat)) {
    connected = true;
    restoreSignalHandler();
    return true;
  }
  if (!stat->ok()) abortLaunch();
  return false;
}

void STPChildProcess::abortLaunch() {
  if (pid != 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = 0;
  }
  if (listenFD >= 0) {
    close(listenFD);
    listenFD = -1;
  } else if (transport && transport->isListening() && !transport->isBound()) {
    TStat ignored;
    transport->closeConnection(&ignored);
  }
  restoreSignalHandler();
  launching = false;
}

void STPChildProcess::restoreSignalHandler() {
  if (!handlerInstalled) return;
  sigaction(SIGCHLD, &savedChildHandler, nullptr);
  handlerInstalled = false;
}

void STPChildProcess::killChild(RetryHandler *rh) {
  killPID(pid, rh);
  pid = 0;
  if (launching && !connected) abortLaunch();  // a launch that timed out
}

void STPChildProcess::killPID(int pid, RetryHandler *rh) {
  if (pid == 0) return;
  STPRetryHandler giveUpAtOnce;
  RetryHandler *h = rh ? rh : &giveUpAtOnce;
  h->beginOp();
  for (;;) {
    if (child_has_exited(pid)) break;
    if (!h->retryOp()) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);  // prompt after SIGKILL; ECHILD when not ours
      break;
    }
    h->idle();
  }
  h->completedOp();
}
