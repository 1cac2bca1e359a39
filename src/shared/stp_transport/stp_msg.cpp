// STP packet header, framing and the outgoing / incoming message objects.
#include "shared/stp_transport/stp_msg.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kInitialOutSize = 108;

}  // namespace

bool STPMsg::checkHeader(int headerLength, int bodyLength) {
  if (headerLength < kSTPMinHeaderLength || headerLength > kSTPMaxHeaderLength) return false;
  if (headerLength % 4 != 0) return false;
  return bodyLength >= 0;
}

int STPMsg::packetSize(int headerLength, int bodyLength) {
  return (headerLength + bodyLength + 3) & ~3;
}

void STPMsg::peekLengths(const void *packet, int *headerLength, int *bodyLength) {
  const auto *p = static_cast<const unsigned char *>(packet);
  *headerLength = static_cast<int>(decode_uint32(p));
  *bodyLength = static_cast<int>(decode_uint32(p + 4));
}

// ---- STPOMsg -------------------------------------------------------------

STPOMsg::STPOMsg(int sourceRN, int destRN, int type, int id, int replyTo,
                 int flags, int token, int depth)
    : STPMsg(kInitialOutSize) {
  this->headerLength = kSTPHeaderLength;
  this->sourceRN = sourceRN;
  this->destRN = destRN;
  this->replyTo = replyTo;
  this->type = type;
  this->id = id;
  this->flags = flags;
  this->token = token;
  this->depth = depth;
  set_pos(kSTPHeaderLength);
}

void STPOMsg::finishMessage(int serial) {
  this->serial = serial;
  if (!finished) {
    put_uint32(0);  // pads to a multiple of 4, then the closing zero word
    bodyLength = get_pos() - kSTPHeaderLength;
    finished = true;
  }
  writeHeader();
}

void STPOMsg::writeHeader() {
  const int words[kSTPHeaderWords] = {headerLength, bodyLength, sourceRN, destRN,
                                      serial, replyTo, type, id, flags, token, depth};
  int offset = 0;
  for (int w : words) put_uint32_at(offset, static_cast<uint32_t>(w));
}

const unsigned char *STPOMsg::getContent(int *headerLength, int *bodyLength) const {
  *headerLength = this->headerLength;
  *bodyLength = this->bodyLength;
  return begin;
}

// ---- STPIMsg -------------------------------------------------------------

STPIMsg::STPIMsg(const void *packet, int headerLength, int bodyLength)
    : STPMsg(std::max(0, headerLength) + std::max(0, bodyLength) + 1) {
  if (headerLength < 0) headerLength = 0;
  if (bodyLength < 0) bodyLength = 0;
  int length = headerLength + bodyLength;
  if (packet && length > 0) std::memcpy(begin, packet, static_cast<size_t>(length));
  set_end_pos(length);  // the zero byte after the packet stays outside
  int *words[kSTPHeaderWords] = {&this->headerLength, &this->bodyLength, &sourceRN, &destRN,
                                 &serial, &replyTo, &type, &id, &flags, &token, &depth};
  int offset = 0;
  for (int i = 0; i < kSTPHeaderWords && offset + 4 <= headerLength; i++) {
    *words[i] = static_cast<int>(get_uint32_from(offset));
  }
  this->headerLength = headerLength;
  this->bodyLength = bodyLength;
  rewind();
}

void STPIMsg::rewind() {
  scopeStart = asciiRead = asciiScope = bodyStart();
  scopeEnd = bodyEnd();
  set_pos(bodyStart());
  set_end_pos(bodyEnd());
}
