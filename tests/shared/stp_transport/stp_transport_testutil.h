// Helpers for the transport tests: raw packet bytes, a recording listener,
// a transport bound to one end of a socket pair, bounded waits.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_msg.h"
#include "shared/stp_transport/stp_transport.h"

namespace stptest {

inline void putWord(std::vector<uint8_t> &v, size_t at, uint32_t w) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(w >> (8 * i));
}

// The bytes of a finished ASCII packet with one number field "n".
inline std::vector<uint8_t> asciiPacket(int src, int dst, int type, int id, int serial,
                                        int replyTo, int flags, int n, int token = 0,
                                        int depth = 1) {
  STPAsciiOMsg m(src, dst, type, id, replyTo, flags, token, depth);
  m.putIdent("Msg");
  m.putNumber("n", n);
  m.finishMessage(serial);
  int hl = 0, bl = 0;
  const unsigned char *p = m.getContent(&hl, &bl);
  return std::vector<uint8_t>(p, p + hl + bl);
}

// A bare header with the given lengths (the rest zero) and `extra` bytes.
inline std::vector<uint8_t> rawHeader(int headerLength, int bodyLength, size_t total) {
  std::vector<uint8_t> v(total, 0);
  putWord(v, 0, static_cast<uint32_t>(headerLength));
  putWord(v, 4, static_cast<uint32_t>(bodyLength));
  return v;
}

// Reads field "n" of a received ASCII message.
inline int numberOf(STPIMsg *msg) {
  STPAsciiIMsg r(msg);
  return r.getNumber("n");
}

// Records what it is handed; may refuse (defer) messages.
class RecordingListener : public ResponseListener {
 public:
  struct Seen {
    int type, id, serial, replyTo, n;
    bool flag;
  };
  std::vector<Seen> seen;
  // Decides whether to take a message; default: always.
  std::function<bool(STPIMsg *)> accept;
  // Called after a message was recorded.
  std::function<void(STPIMsg *)> onTaken;

  bool handleResponse(STPIMsg *msg, bool flag) override {
    if (accept && !accept(msg)) return false;
    seen.push_back({msg->type, msg->id, msg->serial, msg->replyTo, numberOf(msg), flag});
    if (onTaken) onTaken(msg);
    return true;
  }
  std::vector<int> numbers() const {
    std::vector<int> v;
    for (const Seen &s : seen) v.push_back(s.n);
    return v;
  }
};

// Owns one reference on a transport.
struct TransportRef {
  STPTransport *t;
  explicit TransportRef(int size = 32768) : t(new STPTransport(size)) {}
  ~TransportRef() {
    if (t) t->delRef();
  }
  STPTransport *operator->() const { return t; }
  TransportRef(const TransportRef &) = delete;
  TransportRef &operator=(const TransportRef &) = delete;
};

// A connected pair of stream sockets; the test keeps `raw`, the transport
// gets `mine`.
struct SocketPair {
  int mine = -1;
  int raw = -1;
  SocketPair() {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
      mine = sv[0];
      raw = sv[1];
    }
  }
  ~SocketPair() {
    if (raw >= 0) ::close(raw);
  }
  void writeRaw(const std::vector<uint8_t> &bytes, size_t from = 0, size_t count = SIZE_MAX) {
    if (count > bytes.size() - from) count = bytes.size() - from;
    size_t done = 0;
    while (done < count) {
      ssize_t n = ::write(raw, bytes.data() + from + done, count - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  void closeRaw() {
    ::close(raw);
    raw = -1;
  }
  // Everything readable on the raw end within `ms`.
  std::vector<uint8_t> readRaw(int ms = 200) {
    std::vector<uint8_t> out;
    struct pollfd p = {raw, POLLIN, 0};
    while (::poll(&p, 1, ms) > 0) {
      uint8_t buf[65536];
      ssize_t n = ::read(raw, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
      ms = 20;
    }
    return out;
  }
};

// Services `t` until pred() holds or `ms` passed; returns pred().
inline bool serviceUntil(STPTransport *t, const std::function<bool()> &pred, int ms = 3000) {
  long long end = ut_getTimeMillis64() + ms;
  while (!pred() && ut_getTimeMillis64() < end) {
    if (!t->serviceOnce(20, nullptr)) break;
  }
  return pred();
}

}  // namespace stptest
