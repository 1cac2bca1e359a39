// Socket pairs, transport pairs and forked peers for tests.
#include "stp_sockets.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "shared/stp_transport/stp_transport.h"

namespace testsupport {

TransportRef::TransportRef(int bufferSize) : t(new STPTransport(bufferSize)) {}
TransportRef::~TransportRef() { t->delRef(); }

SocketPair::SocketPair() {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
    mine = sv[0];
    raw = sv[1];
  }
}

SocketPair::~SocketPair() {
  if (raw >= 0) ::close(raw);
}

void SocketPair::writeRaw(const std::vector<uint8_t> &bytes, size_t from, size_t count) {
  if (count > bytes.size() - from) count = bytes.size() - from;
  for (size_t done = 0; done < count;) {
    ssize_t n = ::write(raw, bytes.data() + from + done, count - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void SocketPair::closeRaw() {
  ::close(raw);
  raw = -1;
}

std::vector<uint8_t> SocketPair::readRaw(int ms) {
  std::vector<uint8_t> out;
  struct pollfd p = {raw, POLLIN, 0};
  while (::poll(&p, 1, ms) > 0) {
    uint8_t buf[65536];
    ssize_t n = ::read(raw, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
    ms = 20;  // the rest of what was already sent
  }
  return out;
}

TransportPair::TransportPair() {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) abort();
  for (int s : sv) fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
  a = new STPTransport(32768);
  b = new STPTransport(32768);
  a->bindFD(sv[0], nullptr);
  b->bindFD(sv[1], nullptr);
}

TransportPair::~TransportPair() {
  a->delRef();
  b->delRef();
}

bool serviceUntil(STPTransport *t, const std::function<bool()> &pred, int ms) {
  long long end = ut_getTimeMillis64() + ms;
  while (!pred() && ut_getTimeMillis64() < end)
    if (!t->serviceOnce(20, nullptr)) break;
  return pred();
}

ForkedPeer::ForkedPeer(const std::function<bool(STPTransport *)> &body) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(sv[0]);
    auto *t = new STPTransport(32768);
    t->bindFD(sv[1], nullptr);
    ::_exit(body(t) ? 0 : 1);
  }
  ::close(sv[1]);
  if (pid_ < 0) {
    ::close(sv[0]);
    return;
  }
  t_ = new STPTransport(32768);
  t_->bindFD(sv[0], nullptr);
}

ForkedPeer::~ForkedPeer() {
  if (pid_ > 0) exitedOk();
  if (t_) t_->delRef();
}

bool ForkedPeer::exitedOk() {
  if (pid_ <= 0) return ok_;
  int status = -1, done = 0;
  for (int i = 0; i < 1500 && (done = ::waitpid(pid_, &status, WNOHANG)) == 0; ++i) ::usleep(10000);
  if (done == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
  ok_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  pid_ = -1;
  return ok_;
}

}  // namespace testsupport
