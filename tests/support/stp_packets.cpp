// Packet helpers for tests.
#include "stp_packets.h"

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_msg.h"

namespace testsupport {

Bytes packetBytes(const STPOMsg &m) {
  int hl = 0, bl = 0;
  const unsigned char *p = m.getContent(&hl, &bl);
  return Bytes(p, p + hl + bl);
}

Bytes asciiPacket(int src, int dst, int type, int id, int serial, int replyTo, int flags, int n,
                  int token, int depth) {
  STPAsciiOMsg m(src, dst, type, id, replyTo, flags, token, depth);
  m.putIdent("Msg");
  m.putNumber("n", n);
  m.finishMessage(serial);
  return packetBytes(m);
}

Bytes rawHeader(int headerLength, int bodyLength, size_t total) {
  Bytes v = cat({le(headerLength), le(bodyLength)});
  v.resize(total, 0);
  return v;
}

std::unique_ptr<STPIMsg> packetWithBody(const Bytes &body) {
  Bytes p = cat({rawHeader(44, static_cast<int>(body.size()), 44), body});
  return std::make_unique<STPIMsg>(p.data(), 44, static_cast<int>(body.size()));
}

std::unique_ptr<STPIMsg> receive(STPOMsg &m) {
  if (!m.isFinished()) m.finishMessage(2);
  int hl = 0, bl = 0;
  const unsigned char *p = m.getContent(&hl, &bl);
  return std::make_unique<STPIMsg>(p, hl, bl);
}

Bytes le(uint32_t w) {
  return {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
          static_cast<uint8_t>(w >> 24)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes r;
  for (const Bytes &p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

int numberOf(STPIMsg *msg) {
  STPAsciiIMsg r(msg);
  return r.getNumber("n");
}

void RecordingListener::classify(STPIMsg *msg) {
  if (classifyAs) classifyAs(msg);
}

void RecordingListener::handleResponse(STPIMsg *msg, bool flag) {
  seen.push_back({msg->type, msg->id, msg->serial, msg->replyTo, numberOf(msg), flag});
  if (onTaken) onTaken(msg);
}

std::vector<int> RecordingListener::numbers() const {
  std::vector<int> v;
  for (const Seen &s : seen) v.push_back(s.n);
  return v;
}

}  // namespace testsupport
