// STPTransport connection set-up: the static socket helpers (connect,
// listen, accept, close), the state changes between idle, listening and
// bound, closing, and the cached addresses.
// Every socket this module hands out is non-blocking and close-on-exec, with
// SO_REUSEADDR and TCP_NODELAY, so children never inherit it and small
// packets are not delayed. One thread.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "shared/libcxxutil/ut_select.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

void setStat(TStat *stat, int code, const char *message) {
  if (stat) stat->set(code, message);
}

// Non-blocking, close-on-exec, address reuse and no send delay. The socket
// options fail harmlessly on descriptors that are not TCP sockets.
void configureSocket(int s) {
  int fl = ::fcntl(s, F_GETFL, 0);
  if (fl >= 0) ::fcntl(s, F_SETFL, fl | O_NONBLOCK);
  int fdfl = ::fcntl(s, F_GETFD, 0);
  if (fdfl >= 0) ::fcntl(s, F_SETFD, fdfl | FD_CLOEXEC);
  int on = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool resolveHost(const char *host, in_addr *out) {
  if (!host) return false;
  in_addr_t a = ::inet_addr(host);
  if (a != INADDR_NONE) {
    out->s_addr = a;
    return true;
  }
  struct hostent *he = ::gethostbyname(host);
  if (!he || he->h_addrtype != AF_INET || !he->h_addr_list[0]) return false;
  std::memcpy(out, he->h_addr_list[0], sizeof *out);
  return true;
}

// A blocking connect that a signal interrupted goes on in the background;
// wait for its outcome instead of failing. The readiness wait is bounded, so
// it is repeated until the attempt has an outcome (as long as the connect
// itself would have taken).
bool connectBlocking(int s, const sockaddr_in &addr) {
  if (::connect(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0) return true;
  if (errno != EINTR) return false;
  int n;
  do {
    n = ut_wait_fd(s, false, true, 1000, nullptr, nullptr);
  } while (n == 0);
  int err = 0;
  socklen_t len = sizeof err;
  return n > 0 && ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

std::string addressText(int sock, bool peer) {
  sockaddr_in addr;
  socklen_t len = sizeof addr;
  int rc = peer ? ::getpeername(sock, reinterpret_cast<sockaddr *>(&addr), &len)
                : ::getsockname(sock, reinterpret_cast<sockaddr *>(&addr), &len);
  if (rc != 0 || addr.sin_family != AF_INET) return std::string();
  return std::string(::inet_ntoa(addr.sin_addr));
}

}  // namespace

// ---------------------------------------------------------------------------
// Static socket helpers

int STPTransport::connectToServer(const char *host, int port, TStat *stat) {
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (!resolveHost(host, &addr.sin_addr)) {
    setStat(stat, kStatDown, "[connectToServer]: Unable to resolve host");
    return -1;
  }
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0 || !connectBlocking(s, addr)) {
    if (s >= 0) ::close(s);
    setStat(stat, kStatDown, "[connectToServer]: connect failed");
    return -1;
  }
  configureSocket(s);
  if (stat) stat->clear();
  return s;
}

int STPTransport::getListenSocket(int port, TStat *stat) {
  int p = port;
  return getListenSocket(&p, stat);
}

int STPTransport::getListenSocket(int *port, TStat *stat) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    setStat(stat, kStatDown, "[getListenSocket]: Could not bind to port");
    return -1;
  }
  configureSocket(s);
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(static_cast<uint16_t>(port ? *port : 0));
  if (::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    ::close(s);
    setStat(stat, kStatDown, "[getListenSocket]: Could not bind to port");
    return -1;
  }
  if (::listen(s, 5) != 0) {
    ::close(s);
    setStat(stat, kStatDown, "[getListenSocket]: Could not listen on socket");
    return -1;
  }
  socklen_t len = sizeof addr;
  if (port && ::getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
    *port = ntohs(addr.sin_port);
  if (stat) stat->clear();
  return s;
}

bool STPTransport::closeListenSocket(int sock, TStat *stat) {
  if (stat) stat->clear();
  if (sock < 0) return true;
  if (::close(sock) != 0) {
    std::fprintf(stderr, "close of socket %d failed with error: %d\n", sock, errno);
    return false;
  }
  return true;
}

int STPTransport::acceptClient(int lfd, bool closeListen, TStat *stat) {
  int s;
  do {
    s = ::accept(lfd, nullptr, nullptr);
  } while (s < 0 && errno == EINTR);
  if (s < 0) {
    setStat(stat, kStatDown, "[acceptClient]: Could not accept");
    return -1;
  }
  if (closeListen) closeListenSocket(lfd, nullptr);
  configureSocket(s);
  if (stat) stat->clear();
  return s;
}

void STPTransport::closeSocket(int sock) {
  if (::shutdown(sock, SHUT_RDWR) != 0 && errno != ENOTCONN)
    std::fprintf(stderr, "shutdown of socket %d failed with error: %d\n", sock, errno);
  if (::close(sock) != 0)
    std::fprintf(stderr, "close of socket %d failed with error: %d\n", sock, errno);
}

// ---------------------------------------------------------------------------
// State changes

bool STPTransport::checkIdleFor(const char *connectedText, const char *listeningText,
                                TStat *out) {
  if (bound) return fail(kStatBadState, connectedText, out);
  if (listening) return fail(kStatBadState, listeningText, out);
  return true;
}

bool STPTransport::connect(const char *host, int port, TStat *out) {
  stat.clear();
  if (!checkIdleFor("[connect]: Already connected", "[connect]: Already listening as server",
                    out))
    return false;
  int s = connectToServer(host, port, &stat);
  if (s < 0) return report(out);
  fd = s;
  bound = true;
  return report(out);
}

bool STPTransport::listen(int port, RetryHandler *rh, TStat *out) {
  stat.clear();
  if (!checkIdleFor("[listen]: Already connected", "[listen]: Already listening as server", out))
    return false;
  int s = getListenSocket(port, &stat);
  if (s < 0) return report(out);
  return listenOnFD(s, true, rh, out);
}

bool STPTransport::listenOnFD(int sock, bool closeListen, RetryHandler *rh, TStat *out) {
  if (!startListenOnFD(sock, out)) return false;
  addRef();
  bool accepted = false;
  bool patient = waitUntil(rh, [&]() {
    accepted = accepted || tryAccept(closeListen, nullptr);
    return accepted;
  });
  if (!accepted && stat.ok() && !patient) fail(kStatTimedOut, "[listenOnFD]: timed out waiting for client", nullptr);
  bool ok = report(out) && accepted;
  delRef();
  return ok;
}

bool STPTransport::startListenOnFD(int sock, TStat *out) {
  stat.clear();
  if (!checkIdleFor("[startListenOnFD]: Already connected",
                    "[startListenOnFD]: Already listening as server", out))
    return false;
  listenFD = sock;
  listening = true;
  acceptPending = false;
  return report(out);
}

bool STPTransport::tryAccept(bool closeListen, TStat *out) {
  stat.clear();
  if (bound) return fail(kStatBadState, "[tryAccept]: Already connected", out);
  if (!listening) return fail(kStatBadState, "[tryAccept]: Not listening as server", out);
  if (!acceptPending) {
    report(out);
    return false;
  }
  acceptPending = false;
  int s = acceptClient(listenFD, closeListen, &stat);
  if (s < 0) {
    // The client may have given up between readiness and accept.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) stat.clear();
    report(out);
    return false;
  }
  // A listening socket that was not closed stays the caller's.
  listening = false;
  listenFD = -1;
  fd = s;
  bound = true;
  return report(out);
}

bool STPTransport::bindFD(int sock, TStat *out) {
  stat.clear();
  if (bound) return fail(kStatBadState, "[bindFD]: Already bound", out);
  if (listening) return fail(kStatBadState, "[bindFD]: Already listening", out);
  configureSocket(sock);
  fd = sock;
  bound = true;
  return report(out);
}

void STPTransport::unbindFD() {
  fd = -1;
  bound = false;
  resetBuffers();
  dropQueue(responses);
  awaited.clear();
  messageCounter = 1;
}

bool STPTransport::listenAndService(int port, TStat *out) {
  if (!listen(port, nullptr, out)) return false;
  while (bound && serviceOnce(10000, nullptr)) {
  }
  return report(out);
}

bool STPTransport::bindAndService(int sock, TStat *out) {
  if (!bindFD(sock, out)) return false;
  while (bound && serviceOnce(10000, nullptr)) {
  }
  return report(out);
}

void STPTransport::closeConnection(TStat *out) {
  stat.clear();
  if (bound) {
    if (!loopback && fd >= 0) {
      if (closeOnShutdown) {
        if (::close(fd) != 0)
          std::fprintf(stderr, "close of socket %d failed with error: %d\n", fd, errno);
      } else {
        closeSocket(fd);
      }
    }
    unbindFD();
  }
  if (listening) {
    closeListenSocket(listenFD, nullptr);
    listening = false;
    listenFD = -1;
    acceptPending = false;
  }
  remoteAddr.clear();
  localAddr.clear();
  report(out);
}

int STPTransport::getFD() const {
  if (bound) return loopback ? -1 : fd;
  if (listening) return listenFD;
  return -1;
}

const char *STPTransport::getRemoteAddr() {
  if (remoteAddr.empty() && bound && !loopback) remoteAddr = addressText(fd, true);
  return remoteAddr.c_str();
}

const char *STPTransport::getLocalAddr() {
  if (localAddr.empty() && bound && !loopback) localAddr = addressText(fd, false);
  return localAddr.c_str();
}
