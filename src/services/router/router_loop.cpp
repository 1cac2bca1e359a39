// The router's main loop: accepting plugins, signals, idle exit, the end.
#include "services/router/router_loop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "services/router/router_core.h"
#include "services/router/router_log.h"
#include "services/router/router_plugin.h"
#include "services/router/router_transport.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_peer_uid.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/libcxxutil/ut_wake_pipe.h"

namespace {

// How long the end waits for the links' queued output.
constexpr int kFinishFlushMs = 2000;
// Poller keys beside the plugin links, which are watched under their
// plugin ids (1 and up).
constexpr uint64_t kAcceptKey = 0;
constexpr uint64_t kSignalKey = ~0ULL;

volatile sig_atomic_t g_stopSignal = 0;
volatile sig_atomic_t g_stopCount = 0;
// Set by SIGCHLD: only then does a pass ask the kernel for ended children
// (a waitpid per pass was a fourth syscall on every forwarded packet).
// Starts set, so that the first pass looks once.
volatile sig_atomic_t g_childEnded = 1;
int g_wakeFd = -1;

extern "C" void onStopSignal(int sig) {
  g_stopSignal = sig;
  g_stopCount = g_stopCount + 1;
  ut_WakePipe::wake(g_wakeFd);
}

extern "C" void onChildSignal(int) {
  g_childEnded = 1;
  ut_WakePipe::wake(g_wakeFd);
}

void setCloexecNonblock(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
  ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD, 0) | FD_CLOEXEC);
}

void install(int sig, void (*handler)(int)) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(sig, &sa, nullptr);
}

// A listening TCP socket on 127.0.0.1; *port 0 picks a free port and
// receives the port bound. -1 with *error set on failure.
int listenLoopback(int *port, std::string *error) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) {
    *error = std::string("cannot create a socket: ") + std::strerror(errno);
    return -1;
  }
  int on = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(*port));
  socklen_t len = sizeof addr;
  if (::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(s, 128) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    *error = "cannot listen on 127.0.0.1 port " + std::to_string(*port) + ": " +
             std::strerror(errno);
    ::close(s);
    return -1;
  }
  setCloexecNonblock(s);
  *port = ntohs(addr.sin_port);
  return s;
}

}  // namespace

// Accepts every pending plugin connection when the listening socket is
// readable. Before a byte is read the kernel is asked who owns the other
// end: connections of another user are closed at once. Out of descriptors,
// it stops accepting for a moment instead of spinning on a socket that
// stays readable.
class Router_Acceptor {
 public:
  Router_Acceptor(Router_Core *c, Router_Log *l, int listenFd) : core(c), log(l), fd(listenFd) {}
  ~Router_Acceptor() { ::close(fd); }
  int getFD() const { return fd; }
  bool wantsToRead() { return !paused(); }
  Router_Poller::Watch watch;  // what the loop's poller watches for
  // Milliseconds until accepting resumes after running out of descriptors
  // (-1: not paused).
  int msUntilResume(long long now) const {
    return now < resumeAt ? static_cast<int>(resumeAt - now) : -1;
  }
  void handleRead() {
    while (!paused()) {
      int s = ::accept(fd, nullptr, nullptr);
      if (s < 0) {
        if (errno == EMFILE || errno == ENFILE) outOfDescriptors();
        return;  // EAGAIN, or a client that gave up
      }
      if (!fromThisUser(s)) continue;
      descriptorsLogged = false;
      Router_Transport *t = new Router_Transport();
      TStat st;
      if (t->bindFD(s, &st)) {
        core->addPlugin(t);
      } else {
        ::close(s);
        t->delRef();
      }
    }
  }

 private:
  // How long accepting pauses when no descriptor is left.
  static constexpr int kDescriptorPauseMs = 250;

  // Out of descriptors a moment ago. The clock is only read during a pause,
  // not on every pass.
  bool paused() {
    if (resumeAt == 0) return false;
    if (ut_getTimeMillis64() < resumeAt) return true;
    resumeAt = 0;
    return false;
  }

  void outOfDescriptors() {
    resumeAt = ut_getTimeMillis64() + kDescriptorPauseMs;
    if (descriptorsLogged) return;
    descriptorsLogged = true;
    log->warn("out of file descriptors: not accepting connections for now");
  }

  // Closes `s` (and logs it) unless its other end belongs to this user.
  // The question itself needs a descriptor; without one the connection is
  // closed as at the descriptor limit.
  bool fromThisUser(int s) {
    const char *why = "";
    long long uid = ut_peerSocketUid(s, &why);
    int err = errno;
    if (uid >= 0 && uid == static_cast<long long>(::getuid())) return true;
    ::close(s);
    if (uid >= 0)
      log->warn("refused a connection from uid %lld: only uid %d is served", uid,
                static_cast<int>(::getuid()));
    else if (err == EMFILE || err == ENFILE)
      outOfDescriptors();
    else
      log->warn("refused a connection whose owner could not be found (%s)", why);
    return false;
  }

  Router_Core *core;
  Router_Log *log;
  int fd;
  long long resumeAt = 0;  // 0: not paused
  bool descriptorsLogged = false;
};

Router_Loop::Router_Loop(Router_Core *c, const Router_Options &o, Router_Log *l)
    : core(c), options(o), log(l) {}

Router_Loop::~Router_Loop() {
  delete acceptor;
  g_wakeFd = -1;
  delete signals;
}

bool Router_Loop::listen(int wanted, std::string *error) {
  // Reading the pipe only empties it: the loop looks at the flags and
  // reaps children every pass. The loop's own poller watches it.
  signals = new ut_WakePipe(nullptr);
  g_wakeFd = signals->writeFd();
  if (!signals->ok()) {
    *error = "cannot create the signal pipe";
    return false;
  }
  if (!poller.ok()) {
    *error = std::string("cannot create the readiness set: ") + std::strerror(errno);
    return false;
  }
  install(SIGTERM, onStopSignal);
  install(SIGINT, onStopSignal);
  install(SIGHUP, onStopSignal);
  install(SIGCHLD, onChildSignal);
  ::signal(SIGPIPE, SIG_IGN);
  port = wanted;
  int fd = listenLoopback(&port, error);
  if (fd < 0) return false;
  acceptor = new Router_Acceptor(core, log, fd);
  core->setListenPort(port);
  return true;
}

bool Router_Loop::connectBack(int connectPort, std::string *error) {
  Router_Transport *t = new Router_Transport();
  TStat st;
  if (!t->connect("127.0.0.1", connectPort, &st)) {
    *error = "cannot connect to the launching process at 127.0.0.1 port " +
             std::to_string(connectPort) + ": " + st.message;
    t->delRef();
    return false;
  }
  core->addPlugin(t);
  return true;
}

int Router_Loop::stopSignal() const { return g_stopSignal; }

void Router_Loop::reapChildren() {
  if (!g_childEnded) return;
  // Cleared before reaping: a child ending meanwhile sets it again.
  g_childEnded = 0;
  for (;;) {
    int status = 0;
    pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid <= 0) return;
    core->childExited(pid, status);
  }
}

// The wait until the next deadline (-1: none, the wait ends with an event
// alone): a wait with a time-out costs a kernel timer, on every pass.
int Router_Loop::passTimeout(long long now, long long idleSince) const {
  long long timeout = core->msUntilNextDeadline(now);
  auto sooner = [&timeout](long long ms) {
    if (ms >= 0 && (timeout < 0 || ms < timeout)) timeout = ms;
  };
  sooner(acceptor ? acceptor->msUntilResume(now) : -1);
  if (idleSince >= 0 && options.idleExitMs > 0)
    sooner(std::max(0LL, idleSince + options.idleExitMs - now));
  return static_cast<int>(timeout);
}

// One wait on every socket the loop watches, then what became ready: new
// connections, the signal pipe, plugin links; then packets links hold
// without a socket event, and what all of it queued is written.
void Router_Loop::onePass(int timeoutMs) {
  if (acceptor)
    poller.watch(acceptor->watch, acceptor->getFD(), acceptor->wantsToRead(), false, kAcceptKey);
  poller.watch(signalWatch, signals ? signals->getFD() : -1, true, false, kSignalKey);
  bool queued = core->watchLinks(poller);
  core->newPass();
  int n = poller.wait(queued ? 0 : timeoutMs);
  for (int i = 0; i < n; ++i) {
    uint64_t key = poller.key(i);
    if (key == kAcceptKey) {
      if (acceptor && poller.readable(i)) acceptor->handleRead();
    } else if (key == kSignalKey) {
      if (signals) signals->handleRead();
    } else {
      core->linkReady(static_cast<int>(key), poller.readable(i), poller.writable(i));
    }
  }
  if (queued) core->dispatchQueued();
  core->endPass();
}

// Each pass: children that ended, limits and deadlines, links to remove,
// the idle clock, then one wait on every socket. Limits, clean-up and the
// idle clock act on whole milliseconds, so a busy loop does them once per
// millisecond; the wait's time-out is worked out on every pass, so that a
// deadline set meanwhile is never late.
void Router_Loop::run() {
  long long idleSince = -1;
  long long checkedAt = -1;
  core->newPass();
  while (g_stopSignal == 0) {
    // The time the previous pass read after its wait, or a fresh one.
    long long now = core->passNow();
    reapChildren();
    if (now != checkedAt) {
      checkedAt = now;
      core->checkLimits(now);
      core->collect(now);
      if (!core->isIdle()) {
        idleSince = -1;
      } else if (idleSince < 0) {
        idleSince = now;
      } else if (options.idleExitMs > 0 && now - idleSince >= options.idleExitMs) {
        log->note("idle for %d ms: ending", options.idleExitMs);
        return;
      }
    }
    onePass(passTimeout(now, idleSince));
  }
  log->note("signal %d: ending", static_cast<int>(g_stopSignal));
}

void Router_Loop::closeLinks() {
  delete acceptor;
  acceptor = nullptr;
  long long start = ut_getTimeMillis64();
  core->beginShutdown(start, kFinishFlushMs);
  while (!core->allClosed() && ut_getTimeMillis64() - start <= kFinishFlushMs + 100) {
    core->collect(ut_getTimeMillis64());
    if (!core->allClosed()) onePass(20);
  }
  core->collect(ut_getTimeMillis64() + kFinishFlushMs + 1);
}

void Router_Loop::waitForChildren(int childWaitMs) {
  int stopsBefore = g_stopCount;
  long long waitStart = ut_getTimeMillis64();
  for (;;) {
    reapChildren();
    if (core->launcher().empty() || g_stopCount > stopsBefore) break;
    if (ut_getTimeMillis64() - waitStart >= childWaitMs) {
      log->note("%d started programs still running",
                static_cast<int>(core->launcher().all().size()));
      break;
    }
    onePass(50);
  }
}
