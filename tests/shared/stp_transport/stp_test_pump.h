// Test helpers shared by the endpoint and channel tests: a retry handler
// that services several transports with a bounded time-out, and two
// transports bound to the ends of a socket pair.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
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

}  // namespace spectest
