// EndpointPair: two endpoints (STPSpecClass or generated classes) on the two
// transports of a socket pair, with a Pump servicing both, so one thread can
// drive a conversation between them.
#pragma once

#include "shared/stp_transport/stp_transport.h"
#include "stp_pump.h"
#include "stp_sockets.h"

namespace testsupport {

// Both endpoints send their negotiation, then both wait through `rh`.
template <class X, class Y>
bool negotiatePair(X *x, Y *y, RetryHandler *rh) {
  TStat st;
  return x->sendNegotiate(true, nullptr, &st) && y->sendNegotiate(true, nullptr, &st) &&
         x->awaitNegotiate(rh, &st) && y->awaitNegotiate(rh, &st);
}

// `a` on tp.a and `b` on tp.b, not yet negotiated. Holds one reference on
// each endpoint; a test that releases one itself sets the pointer to null.
template <class A, class B>
struct EndpointPair {
  TransportPair tp;
  A *a = new A;
  B *b = new B;
  Pump pump{{tp.a, tp.b}};
  EndpointPair() {
    a->setTransport(tp.a, 0, 0);
    b->setTransport(tp.b, 0, 0);
  }
  ~EndpointPair() {
    if (a) a->delRef();
    if (b) b->delRef();
  }
  EndpointPair(const EndpointPair &) = delete;
  EndpointPair &operator=(const EndpointPair &) = delete;
  bool negotiate() { return negotiatePair(a, b, &pump); }
};

}  // namespace testsupport
