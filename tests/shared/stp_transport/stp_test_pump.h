// Test helpers shared by the endpoint and channel tests: a retry handler
// that services several transports with a bounded time-out, two transports
// bound to the ends of a socket pair, and a peer run by a forked process.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "shared/stp_transport/stp_transport.h"

namespace spectest {

// Services every transport once per round; gives up after `ms`. onIdle runs
// once, at the start of the first round (to act "while a caller waits").
class PumpHandler : public RetryHandler {
 public:
  PumpHandler(std::vector<STPTransport *> ts, int ms = 3000)
      : RetryHandler(kRetryMillisBase + ms), ts_(std::move(ts)) {}
  std::function<void()> onIdle;
  int rounds = 0;
  void idle() override {
    ++rounds;
    if (onIdle) {
      auto f = onIdle;
      onIdle = nullptr;
      f();
    }
    for (STPTransport *t : ts_)
      if (!t->isDead()) t->serviceOnce(1, nullptr);
  }

 private:
  std::vector<STPTransport *> ts_;
};

// Two transports bound to the ends of a socket pair; each holds the one
// reference the test owns.
struct TransportPair {
  STPTransport *a = nullptr;
  STPTransport *b = nullptr;
  TransportPair() {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) abort();
    for (int s : sv) fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
    a = new STPTransport(32768);
    b = new STPTransport(32768);
    a->bindFD(sv[0], nullptr);
    b->bindFD(sv[1], nullptr);
  }
  ~TransportPair() {
    a->delRef();
    b->delRef();
  }
};

// A peer in a forked child process, connected through a socket pair. The
// child binds a transport to its end, runs `body` on it and exits with
// status 0 when body returned true, 1 otherwise. The parent's end is bound
// to transport(), which this object owns (one reference).
class ForkedPeer {
 public:
  explicit ForkedPeer(const std::function<bool(STPTransport *)> &body) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(sv[0]);
      STPTransport *t = new STPTransport(32768);
      t->bindFD(sv[1], nullptr);
      _exit(body(t) ? 0 : 1);
    }
    close(sv[1]);
    if (pid_ < 0) {
      close(sv[0]);
      return;
    }
    t_ = new STPTransport(32768);
    t_->bindFD(sv[0], nullptr);
  }
  ~ForkedPeer() {
    if (pid_ > 0) exitedOk();
    if (t_) t_->delRef();
  }
  ForkedPeer(const ForkedPeer &) = delete;
  ForkedPeer &operator=(const ForkedPeer &) = delete;

  // The parent's end; null when the socket pair or the fork failed.
  STPTransport *transport() const { return t_; }

  // Waits up to 15 s for the child to end, then kills it; true when it
  // exited with status 0. Later calls give the first answer.
  bool exitedOk() {
    if (pid_ > 0) {
      int status = -1, done = 0;
      for (int i = 0; i < 1500 && (done = waitpid(pid_, &status, WNOHANG)) == 0; ++i)
        usleep(10000);
      if (done == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      ok_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      pid_ = -1;
    }
    return ok_;
  }

 private:
  pid_t pid_ = -1;
  STPTransport *t_ = nullptr;
  bool ok_ = false;
};

}  // namespace spectest
