// STP packets: the header words, framing rules and the message objects.
//
// A packet is a header of eleven little-endian 32-bit words (44 bytes when
// sent) followed by a body that ends with one zero word. On the stream a
// packet occupies headerLength + bodyLength bytes rounded up to a multiple of
// 4. STPOMsg builds an outgoing packet; STPIMsg holds a received one. The
// body codecs (stp_amsg.h, stp_bmsg.h) read and write the body: the outgoing
// codecs are STPOMsg subclasses, the incoming ones are light reader views
// over an STPIMsg (the same received object can be read either way).
// One thread; no locking.
#pragma once

#include <cstddef>

#include "shared/libcxxutil/ut_network_buffer.h"

// Packet types (header word 6).
enum STPPacketType {
  STP_TYPE_REPLY = -1,    // reply to the packet whose serial is in replyTo
  STP_TYPE_NOOP = 4,      // discarded on receipt
  STP_TYPE_SYNC = 5,      // sync packet
  STP_TYPE_CHANNEL = 6,   // channel control (id 1 create, 2 start, 3 close)
  STP_TYPE_ENDPOINT = 12, // endpoint control (id 1 negotiate, 2 get interface, 3 synchronize)
  STP_TYPE_COMMAND = 13,  // ASCII command message
  STP_TYPE_ASCII = 14,    // ASCII service message
  STP_TYPE_BINARY = 15,   // binary service message
};

// Header flag bits (header word 8).
enum STPHeaderFlag {
  STP_FLAG_REPLY = 1,        // a reply is expected
  STP_FLAG_ASYNC = 2,        // one-way: no reply
  STP_FLAG_TRANSACTION = 4,  // receiver: deliver only inside its transaction
  STP_FLAG_DESC4 = 8,        // sender: the descriptor carries flag 4
  STP_FLAG_SAFE = 16,        // receiver: safe to deliver at any time
  STP_FLAG_ONLY_SAFE = 64,   // peer: while handling, only safe or same-transaction messages
};

constexpr int kSTPHeaderWords = 11;
constexpr int kSTPHeaderLength = 44;     // bytes of a header this program sends
constexpr int kSTPMinHeaderLength = 32;  // smallest header a receiver accepts
constexpr int kSTPMaxHeaderLength = 128; // largest header a receiver accepts
// The largest packet (bytes on the stream) this program queues: the service
// router passes on no bigger one, so a sender must never produce them.
constexpr int kSTPMaxPacketBytes = 64 * 1024 * 1024;

// The base of both message directions: the byte buffer plus the header words
// as host integers. Header words are plain data; the transport and the
// endpoint read and adjust them directly.
class STPMsg : public ut_network_buffer {
public:
  int headerLength = 0; // bytes in the header (44 when sent)
  int bodyLength = 0;   // bytes after the header, padding and closing word included
  int sourceRN = 0;     // sender's local routing number
  int destRN = 0;       // receiver's routing number
  int serial = 0;       // per-connection serial, never 0 once queued
  int replyTo = 0;      // 0, or the serial of the request a reply answers
  int type = 0;         // STPPacketType
  int id = 0;           // message number within the type (-1 in a reply)
  int flags = 0;        // STPHeaderFlag bits
  int token = 0;        // transaction origin (high 16 bits) and number (low 16)
  int depth = 0;        // transaction nesting depth (low 16 bits significant)

  explicit STPMsg(int size) : ut_network_buffer(size) {}
  STPMsg(const void *data, int length) : ut_network_buffer(data, length) {}
  ~STPMsg() override = default;

  // The receiver's header check: false when the header length is below 32,
  // above 128 or not a multiple of 4, or when the body length is negative.
  static bool checkHeader(int headerLength, int bodyLength);
  // Bytes a packet occupies on the stream: header + body rounded up to 4.
  static int packetSize(int headerLength, int bodyLength);
  // Reads headerLength and bodyLength from the first 8 bytes of a packet.
  static void peekLengths(const void *packet, int *headerLength, int *bodyLength);
};

// An outgoing packet. The body is written from offset 44; the header is
// filled in by finishMessage when the transport queues the packet.
class STPOMsg : public STPMsg {
public:
  // Buffer of 108 bytes, cursor at offset 44.
  STPOMsg(int sourceRN, int destRN, int type, int id, int replyTo, int flags,
          int token, int depth);
  ~STPOMsg() override = default;

  // Stores `serial`, pads the body to a multiple of 4 and appends the closing
  // zero word, then writes the eleven header words (headerLength 44,
  // bodyLength = cursor offset - 44) into the first 44 bytes. Calling it again
  // changes only the header: the body, its padding and bodyLength stay as
  // they are, and the first 44 bytes are rewritten from the header fields
  // as they are now (the new serial, and routing numbers, id, flags, token
  // or depth changed meanwhile). That is what lets one encoded body be
  // queued to many peers. Nothing may be put into a finished message.
  void finishMessage(int serial);
  // End of the body as written, before finishMessage added the padding and
  // the closing word (the cursor while the message is not finished).
  int contentEnd() const { return finished ? contentEnd_ : get_pos(); }
  // The packet bytes (valid while the message lives and is not written to)
  // and the two lengths; meaningful after finishMessage.
  const unsigned char *getContent(int *headerLength, int *bodyLength) const;
  bool isFinished() const { return finished; }
  // Bytes the packet will occupy once finished, with the cursor at `pos`:
  // the body padded to 4 plus the closing word.
  static long long finishedSize(int pos) { return ((static_cast<long long>(pos) + 3) & ~3LL) + 4; }

private:
  bool finished = false;
  int contentEnd_ = 0;  // cursor when finished first
  void writeHeader();
};

// A received packet: a private copy of `headerLength + bodyLength` bytes of
// `packet` (the caller guarantees they are readable; the transport checked
// the lengths with checkHeader). Up to eleven header words are decoded (fewer
// when the header is shorter, the rest stay 0); the body starts at
// headerLength. The copy is followed by one zero byte, so a body that lacks
// its closing word still ends in a terminator for the text reader.
class STPIMsg : public STPMsg {
public:
  STPIMsg(const void *packet, int headerLength, int bodyLength);
  ~STPIMsg() override = default;

  // One message is made and deleted per packet received: a few freed
  // blocks are kept per thread for the next ones instead of going back to
  // the heap (not in sanitized builds, which must see every block's life).
  static void *operator new(std::size_t size);
  static void operator delete(void *block, std::size_t size);

  int bodyStart() const { return headerLength; }
  int bodyEnd() const { return headerLength + bodyLength; }
  // Restores every reading position to the start of the body.
  void rewind();

private:
  friend class STPAsciiIMsg;
  friend class STPBinaryIMsg;
  // Binary reader: the current scope [scopeStart, scopeEnd).
  int scopeStart = 0;
  int scopeEnd = 0;
  // ASCII reader: the read cursor and the scope cursor (offsets).
  int asciiRead = 0;
  int asciiScope = 0;
};
