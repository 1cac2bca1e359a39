// libFuzzer target for the transport's read path: arbitrary bytes arrive on
// a socket pair and are framed, checked, forwarded, deferred and delivered
// exactly as bytes from a peer would be.
//
// Input layout: byte 0 chooses the write chunk size (1 + byte % 64) and,
// in its high bit, whether a synchronous request is "waiting" (message
// depth raised, so transaction-only messages get deferred); the rest is the
// byte stream. After the stream the peer closes the connection.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

// Reads a few fields the way endpoints do, and classifies odd ids as
// transaction-only, which the rules may defer.
class Reader : public ResponseListener {
 public:
  void classify(STPIMsg *msg) override {
    if (msg->id & 1) msg->flags |= STP_FLAG_TRANSACTION;
  }
  void handleResponse(STPIMsg *msg, bool) override {
    if (msg->type == STP_TYPE_BINARY) {
      STPBinaryIMsg r(msg);
      std::free(r.getS(1));
      r.get4(2);
    } else {
      STPAsciiIMsg r(msg);
      r.getNumber("n");
      std::free(r.getString("s"));
    }
  }
};

class ForwardNine : public ForwardingHandler {
 public:
  STPTransport *to = nullptr;
  STPTransport *getForwardingTransport(int destRN) override { return destRN == 9 ? to : nullptr; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const int chunk = 1 + (data[0] & 63);
  const bool waiting = (data[0] & 128) != 0;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 0;
  STPTransport *t = new STPTransport(1024);
  STPTransport *other = new STPTransport(1024);
  t->bindFD(sv[0], nullptr);
  Reader reader;
  ForwardNine forward;
  forward.to = other;
  t->setForwardingHandler(&forward);
  for (int type : {STP_TYPE_ENDPOINT, STP_TYPE_ASCII, STP_TYPE_BINARY, STP_TYPE_REPLY})
    t->registerMessageListener(1, 2, &reader, type);
  if (waiting) STPTransport::incrementStackDepth();

  for (size_t at = 1; at < size && !t->isDead(); at += chunk) {
    size_t n = size - at < static_cast<size_t>(chunk) ? size - at : chunk;
    if (::write(sv[1], data + at, n) != static_cast<ssize_t>(n)) break;
    t->handleRead(nullptr);
  }
  ::close(sv[1]);
  if (waiting) STPTransport::decrementStackDepth();
  t->handleDequeueAndDispatch(nullptr);  // what was deferred may go now
  t->serviceOnce(0, nullptr);             // reads the end of the stream
  t->dequeueAndDeliverMessage(1, 3, STP_TYPE_ASCII);
  t->unregisterMessageListener(&reader);
  t->setForwardingHandler(nullptr);
  t->delRef();
  other->delRef();
  return 0;
}
