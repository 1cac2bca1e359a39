// EndpointPair: two generated endpoints connected through two transports
// over a socket pair, negotiated, with a retry handler that services both
// transports (so one thread can send a request on one side and answer it on
// the other). Each side logs into its own StringLogs.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/stp_transport/stp_transport.h"
#include "tools/string_log.h"

// Waits by servicing both transports; gives up after 3 s.
class PumpBoth : public RetryHandler {
 public:
  PumpBoth() : RetryHandler(kRetryMillisBase + 3000) {}
  STPTransport *a = nullptr;
  STPTransport *b = nullptr;
  void idle() override {
    TStat st;
    if (a && !a->isDead()) a->serviceOnce(1, &st);
    if (b && !b->isDead()) b->serviceOnce(1, &st);
  }
  // Services both sides until cond() holds or about 2000 rounds passed.
  template <class F>
  bool until(F cond) {
    for (int i = 0; i < 2000 && !cond(); ++i) idle();
    return cond();
  }
};

template <class A, class B>
struct EndpointPair {
  STPTransport *ta = nullptr;
  STPTransport *tb = nullptr;
  A *a = nullptr;
  B *b = nullptr;
  int fds[2] = {-1, -1};
  PumpBoth pump;
  StringLog aSend, aRecv, bSend, bRecv;
  bool negotiated = false;

  EndpointPair() {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    for (int fd : fds) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    TStat st;
    ta = new STPTransport(32768);
    tb = new STPTransport(32768);
    ta->bindFD(fds[0], &st);
    tb->bindFD(fds[1], &st);
    pump.a = ta;
    pump.b = tb;
    a = new A;
    b = new B;
    a->setTransport(ta, 0, 0);
    b->setTransport(tb, 0, 0);
    a->setSendLogging(&aSend);
    a->setRecvLogging(&aRecv);
    b->setSendLogging(&bSend);
    b->setRecvLogging(&bRecv);
    negotiated = a->sendNegotiate(true, nullptr, &st) && b->negotiate(&pump, &st) && a->awaitNegotiate(&pump, &st);
  }
  ~EndpointPair() {
    if (a) a->delRef();
    if (b) b->delRef();
    if (ta) ta->delRef();
    if (tb) tb->delRef();
  }
  void clearLogs() {
    aSend.clear();
    aRecv.clear();
    bSend.clear();
    bRecv.clear();
  }
};
