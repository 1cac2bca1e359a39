// STPTransport input and output: one service round (serviceOnce), one wait
// over several transports (serviceFirst), writing the write buffer, reading
// into the read buffer (from the socket, or from the loopback peer's write
// buffer), and cutting the read bytes into packets that are forwarded or
// delivered.
//
// Reading never waits for a whole packet: partial packets stay buffered and
// `needMore` says that nothing can be cut until more bytes arrive. A packet
// is consumed from the buffer before it is delivered, so a listener that
// services the transport again (a nested wait) continues with the next one.
//
// Every public entry that may deliver (serviceOnce, serviceFirst, handleRead,
// handleDequeueAndDispatch) holds the transport once for its whole pass; the
// private steps below it take no holds of their own. Waits for readiness go
// through ut_select. One thread.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "shared/libcxxutil/ut_select.h"
#include "shared/stp_transport/stp_msg.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

// Below this much free space after the pending bytes the read buffer grows.
constexpr int kReadReserve = 1024;
// A drained read buffer larger than this many times its initial size shrinks.
constexpr int kShrinkFactor = 10;
// Fewer bytes than this are not worth a dispatch pass of their own.
constexpr int kDispatchThreshold = 40;
// One read pass takes at most this much from the socket. Reading what is
// there before dispatching lets one pass route or handle a whole burst, so
// that what it sends on leaves in one write per destination; the bound keeps
// one busy peer from holding the loop.
constexpr int kReadPerPass = 1 << 20;

long long roundUp4(long long n) { return (n + 3) & ~3LL; }

// Whether a packet of these lengths can be collected at all: the read
// buffer grows to twice what it holds plus its initial size, and that must
// stay an int. A larger announcement can only come from a broken or hostile
// peer; collecting its bytes would overflow the buffer size.
bool fitsReadBuffer(int headerLength, int bodyLength, int initialSize) {
  long long size = roundUp4(static_cast<long long>(headerLength) + bodyLength);
  return size <= (static_cast<long long>(INT_MAX) - initialSize - kReadReserve) / 2;
}

// send() without SIGPIPE; write() for descriptors that are not sockets.
ssize_t writeSome(int fd, const char *data, int length) {
  ssize_t n;
  do {
    n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::write(fd, data, length);
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t readSome(int fd, char *data, int length) {
  ssize_t n;
  do {
    n = ::read(fd, data, length);
  } while (n < 0 && errno == EINTR);
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Service rounds

bool STPTransport::serviceOnce(int timeoutMs, TStat *out) {
  stat.clear();
  if (!bound && !listening) {
    closeConnection(nullptr);
    return fail(kStatDown, "[serviceOnce]: not bound and not listening.", out);
  }
  STPTransportHold hold(this);
  if (bound && loopback) {
    readPass();
    return report(out);
  }
  // Work that needs no socket goes first; then only look, do not sleep.
  if (bound && _dont_deliver == 0 && wantsToDequeueAndDispatch()) {
    dispatchPass();
    timeoutMs = 0;
    if (!stat.ok() || isDead()) return report(out);
  }
  const bool watchWrite = wantsToWrite();
  bool readable = false;
  bool writable = false;
  int n = ut_wait_fd(bound ? fd : listenFD, true, watchWrite, timeoutMs, &readable, &writable);
  if (n < 0) {
    closeConnection(nullptr);
    return fail(kStatDown, "[serviceOnce]: select error, closing connection", out);
  }
  if (n > 0) handleReady(readable, writable);
  return report(out);
}

// Errors and hang-ups count as ready: the read or write that follows finds
// them.
void STPTransport::handleReady(bool readable, bool writable) {
  if (writable) handleWrite(nullptr);
  if (stat.ok() && !isDead() && readable) readPass();
}

bool STPTransport::serviceFirst(int timeoutMs, STPTransport *const *transports, int count,
                                TStat *out) {
  if (out) out->clear();
  for (int i = 0; i < count; ++i) {
    if (transports[i]->isDead()) {
      if (out) out->set(kStatDown, "[serviceFirst]: not bound and not listening.");
      return false;
    }
  }
  // One hold per member for the pass, on a copy of the set: handlers run
  // meanwhile may change the caller's.
  std::vector<STPTransport *> held(transports, transports + count);
  for (STPTransport *t : held) t->addRef();
  std::vector<ut_ready_item> items(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    STPTransport *t = held[i];
    if (t->bound && _dont_deliver == 0 && t->wantsToDequeueAndDispatch()) {
      t->dispatchPass();
      timeoutMs = 0;
    }
    items[i] = ut_ready_item{t->bound ? t->fd : t->listenFD, true, t->wantsToWrite(), false,
                             false, false, false};
    if (t->loopback || t->isDead()) {
      // No descriptor to wait on; a loopback peer's bytes are read at once.
      items[i].fd = -1;
      if (t->wantsToRead()) timeoutMs = 0;
    }
  }
  int n = ut_wait_ready(items.data(), count, timeoutMs);
  if (n < 0 && out) out->set(kStatDown, "[serviceFirst]: select error");
  for (int i = 0; n >= 0 && i < count; ++i) {
    STPTransport *t = held[i];
    if (t->loopback && t->bound) {
      if (t->wantsToRead()) t->readPass();
    } else if (n > 0) {
      t->handleReady(items[i].got_read, items[i].got_write);
    }
    if (!t->stat.ok() && out && out->ok()) *out = t->stat;
  }
  for (STPTransport *t : held) t->delRef();
  return n >= 0 && (!out || out->ok());
}

// ---------------------------------------------------------------------------
// Writing

bool STPTransport::handleWrite(TStat *out) {
  stat.clear();
  if (!bound || loopback || wbuf.used == 0) return report(out);
  ssize_t n = writeSome(fd, wbuf.data + wbuf.start, wbuf.used);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return report(out);
    closeConnection(nullptr);
    return fail(kStatDown, "[handleWrite]: write failed, dropping connection", out);
  }
  if (n == 0) {
    closeConnection(nullptr);
    return fail(kStatPeerClosed, "[handleWrite]: peer has closed connection", out);
  }
  if (n < wbuf.used) {
    wbuf.start += static_cast<int>(n);
    wbuf.used -= static_cast<int>(n);
    return report(out);
  }
  wbuf.clear();  // all written: a grown buffer goes back to its initial size
  return report(out);
}

// ---------------------------------------------------------------------------
// Reading

bool STPTransport::wantsToRead() const {
  if (loopback) return bound && peerUsed && *peerUsed > 0;
  return bound || listening;
}

bool STPTransport::wantsToDequeueAndDispatch() const {
  if (isDead() || _dont_deliver > 0) return false;
  if (rbuf.used >= kDispatchThreshold && !needMore) return true;
  for (const DeferredMsg &d : deferred) {
    if (shouldDeliverMessage(d.msg)) return true;
  }
  return false;
}

bool STPTransport::handleRead(TStat *out) {
  STPTransportHold hold(this);
  readPass();
  return report(out);
}

// handleRead without a hold of its own: the caller holds the transport.
// Reads and dispatches in turns until the socket has nothing more or the
// pass took kReadPerPass bytes; the buffer then need not grow to hold a
// whole burst. What the listeners queued for the peer meanwhile (replies,
// one-way answers) is written at the end, in one write: waiting for the
// next wait to report the socket writable cost a poll per answer.
// Forwarding transports are written by their owner once per loop pass.
void STPTransport::readPass() {
  stat.clear();
  if (listening) {
    acceptPending = true;
    return;
  }
  if (!bound) return;
  if (loopback) {
    readLoopbackPeer();
    dispatchPass();
    return;
  }
  readTurns();
  if (stat.ok() && !forwardingHandler && dataInWriteBuffer()) handleWrite(nullptr);
}

void STPTransport::readTurns() {
  for (int taken = 0; taken < kReadPerPass;) {
    int n = readSocket();
    if (n < 0) return;
    dispatchPass();
    if (n == 0 || !stat.ok() || !bound) return;
    if (forwardingHandler && !forwardingHandler->keepReading(this)) return;
    taken += n;
  }
}

// One read from the socket behind the pending bytes: the number of bytes
// when it filled the room (more may be waiting), 0 when the socket had no
// more, -1 when the connection was closed (the status says why).
int STPTransport::readSocket() {
  if (rbuf.capacity <= rbuf.start + rbuf.used + kReadReserve)
    rbuf.regrow(2 * rbuf.used + rbuf.initialSize);
  int room = rbuf.capacity - rbuf.start - rbuf.used;
  ssize_t n = readSome(fd, rbuf.data + rbuf.start + rbuf.used, room);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    closeConnection(nullptr);
    fail(kStatDown, "[handleRead]: read failed, closing connection", nullptr);
    return -1;
  }
  if (n == 0) {
    closeConnection(nullptr);
    fail(kStatPeerClosed, "[handleRead]: peer has closed connection", nullptr);
    return -1;
  }
  needMore = false;
  rbuf.used += static_cast<int>(n);
  return n == room ? static_cast<int>(n) : 0;
}

// Takes every byte waiting in the loopback peer's write buffer.
void STPTransport::readLoopbackPeer() {
  if (!peerUsed || !peerStart || !peerData || *peerUsed <= 0) return;
  int incoming = *peerUsed;
  if (rbuf.capacity < rbuf.start + rbuf.used + incoming)
    rbuf.regrow(2 * rbuf.used + rbuf.initialSize + incoming);
  std::memcpy(rbuf.data + rbuf.start + rbuf.used, *peerData + *peerStart, incoming);
  rbuf.used += incoming;
  *peerUsed = 0;
  *peerStart = 0;
  needMore = false;
}

bool STPTransport::handleDequeueAndDispatch(TStat *out) {
  STPTransportHold hold(this);
  dispatchPass();
  return report(out);
}

void STPTransport::dispatchPass() {
  deliverDeferred();
  dispatchPackets();
}

// Cuts whole packets off the front of the read buffer and forwards or
// delivers each. False when an invalid header closed the connection.
bool STPTransport::dispatchPackets() {
  while (rbuf.used > 0 && !needMore) {
    if (skipRemaining > 0) {
      skipBuffered();
      continue;
    }
    if (rbuf.used < 8) {
      needMore = true;
      break;
    }
    int headerLength = 0;
    int bodyLength = 0;
    STPMsg::peekLengths(rbuf.data + rbuf.start, &headerLength, &bodyLength);
    if (!STPMsg::checkHeader(headerLength, bodyLength)) {
      closeConnection(nullptr);
      fail(kStatDown, "[handleRead]: remote host sent invalid packet", nullptr);
      return false;
    }
    long long size = roundUp4(static_cast<long long>(headerLength) + bodyLength);
    if (packetLimit > 0 && size > packetLimit) {
      skipRemaining = size;
      ++skippedPackets;
      continue;
    }
    if (!fitsReadBuffer(headerLength, bodyLength, rbuf.initialSize)) {
      closeConnection(nullptr);
      fail(kStatDown, "[handleRead]: remote host sent invalid packet", nullptr);
      return false;
    }
    if (rbuf.used < size) {
      needMore = true;
      break;
    }
    const char *packet = rbuf.data + rbuf.start;
    int destRN = static_cast<int>(ut_network_buffer::decode_uint32(packet + 12));
    int sourceRN = static_cast<int>(ut_network_buffer::decode_uint32(packet + 8));
    if (forwardPacket(packet, static_cast<int>(size), sourceRN, destRN)) {
      rbuf.start += static_cast<int>(size);
      rbuf.used -= static_cast<int>(size);
      continue;
    }
    STPIMsg *msg = new STPIMsg(packet, headerLength, bodyLength);
    rbuf.start += static_cast<int>(size);
    rbuf.used -= static_cast<int>(size);
    deliver(msg);
  }
  if (rbuf.used == 0) {
    rbuf.start = 0;
    needMore = false;
    if (rbuf.capacity > kShrinkFactor * rbuf.initialSize) rbuf.clear();
  }
  return true;
}

// Drops the buffered bytes of a packet being skipped.
void STPTransport::skipBuffered() {
  long long n = skipRemaining < rbuf.used ? skipRemaining : rbuf.used;
  rbuf.start += static_cast<int>(n);
  rbuf.used -= static_cast<int>(n);
  skipRemaining -= n;
}

// Passes a packet on unchanged when the forwarding handler names a
// transport for its destination.
bool STPTransport::forwardPacket(const char *packet, int size, int sourceRN, int destRN) {
  if (!forwardingHandler) return false;
  STPTransport *to = forwardingHandler->getForwardingTransportFrom(sourceRN, destRN);
  if (!to) return false;
  to->appendToWriteBuffer(packet, size);
  return true;
}
