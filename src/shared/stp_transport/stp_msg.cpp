// STP packet header, framing and the outgoing / incoming message objects.
#include "shared/stp_transport/stp_msg.h"

#include <algorithm>
#include <cstring>
#include <new>

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
    contentEnd_ = get_pos();
    put_uint32(0);  // pads to a multiple of 4, then the closing zero word
    bodyLength = get_pos() - kSTPHeaderLength;
    finished = true;
  }
  writeHeader();
}

// The buffer always holds at least the 44 header bytes (it starts at 108
// and the cursor starts at 44), so the words are stored in place: this runs
// once per queued packet, for every subscriber of a broadcast.
void STPOMsg::writeHeader() {
  const int words[kSTPHeaderWords] = {headerLength, bodyLength, sourceRN, destRN,
                                      serial, replyTo, type, id, flags, token, depth};
  unsigned char *p = begin;
  for (int w : words) {
    auto v = static_cast<uint32_t>(w);
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
    p += 4;
  }
}

const unsigned char *STPOMsg::getContent(int *headerLength, int *bodyLength) const {
  *headerLength = this->headerLength;
  *bodyLength = this->bodyLength;
  return begin;
}

// ---- STPIMsg -------------------------------------------------------------

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSpareMessages = 0;
#else
constexpr int kSpareMessages = 16;
#endif

// Freed message blocks of this thread, all of sizeof(STPIMsg) bytes.
struct SpareMessages {
  void *blocks[kSpareMessages > 0 ? kSpareMessages : 1];
  int count = 0;
  ~SpareMessages() {
    while (count > 0) ::operator delete(blocks[--count]);
  }
};
thread_local SpareMessages spares;

}  // namespace

void *STPIMsg::operator new(std::size_t size) {
  if (size == sizeof(STPIMsg) && spares.count > 0) return spares.blocks[--spares.count];
  return ::operator new(size);
}

void STPIMsg::operator delete(void *block, std::size_t size) {
  if (size == sizeof(STPIMsg) && spares.count < kSpareMessages) {
    spares.blocks[spares.count++] = block;
    return;
  }
  ::operator delete(block);
}

STPIMsg::STPIMsg(const void *packet, int headerLength, int bodyLength)
    : STPMsg(std::max(0, headerLength) + std::max(0, bodyLength) + 1) {
  if (headerLength < 0) headerLength = 0;
  if (bodyLength < 0) bodyLength = 0;
  int length = headerLength + bodyLength;
  if (packet && length > 0) std::memcpy(begin, packet, static_cast<size_t>(length));
  set_end_pos(length);  // the zero byte after the packet stays outside
  int *words[kSTPHeaderWords] = {&this->headerLength, &this->bodyLength, &sourceRN, &destRN,
                                 &serial, &replyTo, &type, &id, &flags, &token, &depth};
  // The words are whole and at offsets 0, 4, ... of the copy just made.
  for (int i = 0; i < kSTPHeaderWords && 4 * i + 4 <= headerLength; i++) {
    *words[i] = static_cast<int>(decode_uint32(begin + 4 * i));
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
