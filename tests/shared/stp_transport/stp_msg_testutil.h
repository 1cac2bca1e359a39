// Helpers for the STP message tests: packet bytes as text and the receiving
// side of a finished outgoing message.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "shared/stp_transport/stp_msg.h"

// The finished packet of `m` (header and body).
inline std::vector<uint8_t> packetBytes(const STPOMsg &m) {
  int hl = 0, bl = 0;
  const unsigned char *p = m.getContent(&hl, &bl);
  return std::vector<uint8_t>(p, p + hl + bl);
}

// The body of a finished packet as text, up to the closing zero bytes.
inline std::string bodyText(const STPOMsg &m) {
  std::vector<uint8_t> b = packetBytes(m);
  std::string s(b.begin() + 44, b.end());
  return s.substr(0, s.find('\0'));
}

// What the receiver builds from the packet of `m` (finished with serial 2).
inline std::unique_ptr<STPIMsg> receive(STPOMsg &m) {
  if (!m.isFinished()) m.finishMessage(2);
  int hl = 0, bl = 0;
  const unsigned char *p = m.getContent(&hl, &bl);
  return std::make_unique<STPIMsg>(p, hl, bl);
}

// An incoming packet whose body is `body` (no closing word added), with a
// header of 44 bytes.
inline std::unique_ptr<STPIMsg> packetWithBody(const std::vector<uint8_t> &body) {
  std::vector<uint8_t> p(44, 0);
  p[0] = 44;
  p.insert(p.end(), body.begin(), body.end());
  return std::make_unique<STPIMsg>(p.data(), 44, static_cast<int>(body.size()));
}

inline std::unique_ptr<STPIMsg> packetWithText(const std::string &text) {
  return packetWithBody(std::vector<uint8_t>(text.begin(), text.end()));
}
