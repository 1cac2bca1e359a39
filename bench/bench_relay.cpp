// The raw TCP relay and router set-up shared by the service benchmarks:
// loopback sockets with TCP_NODELAY, a forked sink and a forked relay that
// copies bytes both ways, and the router client start-up.
#include "bench_relay.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "services/servicerouter_proxy/servicerouter_proxy.h"

namespace {

pid_t sinkPid = 0, relayPid = 0;
int relayPort = 0;

void noDelay(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int listenLocal(int *port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) return -1;
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

int connectLocal(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  noDelay(fd);
  return fd;
}

// Accepts connections, reads each one's 3-int set-up and hands it to `serve`.
[[noreturn]] void sinkProcess(int lfd, BenchSinkServe serve) {
  for (;;) {
    int fd = ::accept(lfd, nullptr, nullptr);
    if (fd < 0) ::_exit(0);
    noDelay(fd);
    int cfg[3];
    if (benchReadFull(fd, reinterpret_cast<char *>(cfg), sizeof cfg)) serve(fd, cfg);
    ::close(fd);
  }
}

// For each client, connects to the sink and copies bytes both ways until
// either side closes.
[[noreturn]] void relayProcess(int lfd, int sinkPort) {
  std::vector<char> buf(65536);
  for (;;) {
    int a = ::accept(lfd, nullptr, nullptr);
    if (a < 0) ::_exit(0);
    noDelay(a);
    int b = connectLocal(sinkPort);
    pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    for (bool open = b >= 0; open;) {
      if (::poll(p, 2, -1) < 0) break;
      for (int i = 0; i < 2 && open; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = ::read(p[i].fd, buf.data(), buf.size());
        open = n > 0 && benchWriteFull(p[1 - i].fd, buf.data(), n);
      }
    }
    ::close(a);
    if (b >= 0) ::close(b);
  }
}

std::string binDir(const char *argv0) {
  if (const char *d = std::getenv("KORVO_BIN_DIR")) return d;
  std::string self = argv0;
  size_t slash = self.rfind('/');
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

}  // namespace

bool benchReadFull(int fd, char *buf, long n) {
  for (long got = 0; got < n;) {
    ssize_t r = ::read(fd, buf + got, static_cast<size_t>(std::min(n - got, 1L << 20)));
    if (r <= 0) return false;
    got += r;
  }
  return true;
}

bool benchWriteFull(int fd, const char *buf, long n) {
  for (long done = 0; done < n;) {
    ssize_t w = ::send(fd, buf + done, static_cast<size_t>(n - done), MSG_NOSIGNAL);
    if (w <= 0) return false;
    done += w;
  }
  return true;
}

void benchStartRelay(BenchSinkServe serve) {
  int sinkPort = 0;
  int sfd = listenLocal(&sinkPort);
  if ((sinkPid = ::fork()) == 0) sinkProcess(sfd, serve);
  ::close(sfd);
  int rfd = listenLocal(&relayPort);
  if ((relayPid = ::fork()) == 0) relayProcess(rfd, sinkPort);
  ::close(rfd);
}

void benchStopRelay() {
  for (pid_t p : {relayPid, sinkPid}) {
    if (p <= 0) continue;
    ::kill(p, SIGKILL);
    ::waitpid(p, nullptr, 0);
  }
  relayPid = sinkPid = 0;
}

int benchRelayConnection(const int cfg[3]) {
  int fd = connectLocal(relayPort);
  if (fd >= 0 && !benchWriteFull(fd, reinterpret_cast<const char *>(cfg), 3 * sizeof(int))) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::unique_ptr<E2ERouter> benchStartRouterClient(const char *prog, const char *argv0, const char *host,
                                                  const std::vector<std::string> &services) {
  ::setenv("KORVO_BIN_DIR", binDir(argv0).c_str(), 1);
  auto router = std::make_unique<E2ERouter>(host, services);
  if (router->port <= 0) {
    std::fprintf(stderr, "%s: svc_router did not start\n", prog);
    return nullptr;
  }
  std::string portText = std::to_string(router->port);
  char opt[] = "-sr_connect_servicerouter_port";
  char *srArgv[] = {const_cast<char *>(argv0), opt, portText.data(), nullptr};
  int srArgc = 3;
  if (!ServiceRouter_Proxy::startup(false, &srArgc, srArgv, nullptr, false, nullptr, true, false)) {
    std::fprintf(stderr, "%s: could not connect to svc_router\n", prog);
    return nullptr;
  }
  return router;
}
