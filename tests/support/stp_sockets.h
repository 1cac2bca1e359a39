// Connections for tests: a transport bound to one end of a socket pair with
// the test writing raw bytes on the other, two transports bound to the ends
// of one socket pair, and a peer run in a forked process.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class STPTransport;

namespace testsupport {

// Owns one reference on a new (idle) transport.
struct TransportRef {
  STPTransport *t;
  explicit TransportRef(int bufferSize = 32768);
  ~TransportRef();
  STPTransport *operator->() const { return t; }
  TransportRef(const TransportRef &) = delete;
  TransportRef &operator=(const TransportRef &) = delete;
};

// A connected pair of stream sockets: `mine` is for a transport to adopt
// (bindFD), `raw` stays with the test, which plays the peer byte by byte.
struct SocketPair {
  int mine = -1;
  int raw = -1;
  SocketPair();
  ~SocketPair();  // closes `raw` (a transport closes `mine`)
  SocketPair(const SocketPair &) = delete;
  SocketPair &operator=(const SocketPair &) = delete;
  // Writes `count` bytes of `bytes` from `from` (all by default).
  void writeRaw(const std::vector<uint8_t> &bytes, size_t from = 0, size_t count = SIZE_MAX);
  void closeRaw();
  // Everything readable on the raw end within `ms`.
  std::vector<uint8_t> readRaw(int ms = 200);
};

// Two transports bound to the ends of one non-blocking socket pair; the
// object holds one reference on each.
struct TransportPair {
  STPTransport *a = nullptr;
  STPTransport *b = nullptr;
  TransportPair();
  ~TransportPair();
  TransportPair(const TransportPair &) = delete;
  TransportPair &operator=(const TransportPair &) = delete;
};

// Services `t` until pred() holds or `ms` passed; returns pred().
bool serviceUntil(STPTransport *t, const std::function<bool()> &pred, int ms = 3000);

// A peer in a forked child, connected through a socket pair. The child binds
// a transport to its end, runs `body` on it and exits with status 0 when
// body returned true, 1 otherwise. The parent's end is bound to transport(),
// which this object owns (one reference).
class ForkedPeer {
 public:
  explicit ForkedPeer(const std::function<bool(STPTransport *)> &body);
  ~ForkedPeer();
  ForkedPeer(const ForkedPeer &) = delete;
  ForkedPeer &operator=(const ForkedPeer &) = delete;
  // The parent's end; null when the socket pair or the fork failed.
  STPTransport *transport() const { return t_; }
  // Waits up to 15 s for the child to end, then kills it; true when it
  // exited with status 0. Later calls give the first answer.
  bool exitedOk();

 private:
  pid_t pid_ = -1;
  STPTransport *t_ = nullptr;
  bool ok_ = false;
};

}  // namespace testsupport
