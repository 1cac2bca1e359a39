// Packet bytes for tests: finished packets of outgoing messages, raw headers,
// incoming messages built from bytes, little-endian words, and a listener
// that records what it is handed.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "shared/stp_transport/stp_transport.h"

class STPOMsg;
class STPIMsg;

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// The finished packet of `m` (header and body).
Bytes packetBytes(const STPOMsg &m);
// The bytes of a finished ASCII packet "Msg n:<n>" with the given header.
Bytes asciiPacket(int src, int dst, int type, int id, int serial, int replyTo, int flags, int n,
                  int token = 0, int depth = 1);
// A header announcing the given lengths, the rest zero, `total` bytes long.
Bytes rawHeader(int headerLength, int bodyLength, size_t total);
// An incoming message with a 44-byte header and the given body.
std::unique_ptr<STPIMsg> packetWithBody(const Bytes &body);
// The receiver's view of `m` (finished with serial 2 when not yet).
std::unique_ptr<STPIMsg> receive(STPOMsg &m);
// Little-endian word; concatenation of byte pieces.
Bytes le(uint32_t w);
Bytes cat(std::initializer_list<Bytes> parts);
// Field "n" of a received ASCII message.
int numberOf(STPIMsg *msg);

// Records what it is handed; may classify messages as an endpoint would.
class RecordingListener : public ResponseListener {
 public:
  struct Seen {
    int type, id, serial, replyTo, n;
    bool flag;
  };
  std::vector<Seen> seen;
  std::function<void(STPIMsg *)> classifyAs;  // adds delivery flags; default: none
  std::function<void(STPIMsg *)> onTaken;     // runs after a message was recorded
  void classify(STPIMsg *msg) override;
  void handleResponse(STPIMsg *msg, bool flag) override;
  // Field "n" of every message taken, in order.
  std::vector<int> numbers() const;
};

}  // namespace testsupport
