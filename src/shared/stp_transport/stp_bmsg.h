// The binary body codec: tagged fields.
//
// A field is a 32-bit tag word, (tag number << 8) + type code, followed by
// its value; the body ends with a zero word. The low 4 bits of the type code
// give the value size, or 0 when a 32-bit length word follows the tag word:
//   0x10 string (length strlen + 1, bytes with terminator; 0 for null)
//   0x21 / 0x22 / 0x24 / 0x28  1-, 2-, 4-, 8-byte integer (8: high word first)
//   0x34 / 0x38  32- / 64-bit float
//   0x40 record, 0x50 array: length of the contents, then the contents
// The writer is an STPOMsg subclass; the reader is a view over an STPIMsg
// that keeps its scope in the message. Reads never leave the current value:
// an absent, truncated or oversized field reads as 0 or null. One thread.
#pragma once

#include "shared/stp_transport/stp_msg.h"

enum STPBinaryType {
  STP_BT_STRING = 0x10,
  STP_BT_INT1 = 0x21,
  STP_BT_INT2 = 0x22,
  STP_BT_INT4 = 0x24,
  STP_BT_INT8 = 0x28,
  STP_BT_FLOAT = 0x34,
  STP_BT_DOUBLE = 0x38,
  STP_BT_RECORD = 0x40,
  STP_BT_ARRAY = 0x50,
};

// Holds the offset just after a record's or array's reserved length word.
struct STPBinaryOMsgParamState {
  int offset = 0;
};

class STPBinaryOMsg : public STPOMsg {
public:
  STPBinaryOMsg(int sourceRN, int destRN, int type, int id, int replyTo,
                int flags, int token, int depth);
  ~STPBinaryOMsg() override = default;

  void putS(int tag, const char *s);  // null writes length 0
  void put1(int tag, int value);
  void put2(int tag, int value);
  void put4(int tag, int value);
  void put8(int tag, long long value);
  void putF(int tag, float value);
  void putD(int tag, double value);
  // An array field whose contents are the raw elements.
  void putArray(int tag, const void *data, int count, int width);
  // An array field whose contents are a 32-bit count and the elements.
  void putDArray(int tag, const void *data, int count, int width);

  // Start a record / array field (tag 0 when omitted): the length word is
  // reserved as 0 and patched by the matching end operation.
  void putStartStruct(STPBinaryOMsgParamState &state, int tag = 0);
  void putEndStruct(STPBinaryOMsgParamState &state);
  void putStartArray(STPBinaryOMsgParamState &state, int tag = 0);
  void putEndArray(STPBinaryOMsgParamState &state);

private:
  void putTag(int tag, int typeCode);
  void startComposite(STPBinaryOMsgParamState &state, int tag, int typeCode);
  void endComposite(STPBinaryOMsgParamState &state);
};

// Saves the enclosing scope (start and end offsets) while a record or array
// is read.
struct STPBinaryIMsgParamState {
  int savedStart = 0;
  int savedEnd = 0;
};

class STPBinaryIMsg {
public:
  // Reads `msg` (not owned; it must outlive this view).
  explicit STPBinaryIMsg(STPIMsg *msg) : msg(msg) {}

  STPIMsg *getMsg() const { return msg; }

  // Finds field `tag` in the current scope and limits reading to its value.
  // Fields read in written order advance the scope, so repeated fields with
  // one tag number come back in order. Tag -1 (a field the peer does not
  // know) and absent fields return false and leave nothing to read.
  bool findTag(int tag);
  // findTag, returning the field's type code (0 when absent). The value can
  // then be read with the buffer operations of getMsg().
  int getStartSimpleTag(int tag);

  char *getS(int tag);        // new heap copy (free() it), or null
  const char *getCS(int tag); // points into the message, or null
  int get1(int tag);
  int get2(int tag);
  int get4(int tag);
  long long get8(int tag);
  float getF(int tag);
  double getD(int tag);
  // Fills `count` elements of `width` bytes from an array field; elements
  // that are absent are zero. Returns false when the field is absent.
  bool getArray(int tag, void *out, int count, int width);
  // An array field holding a count and elements: a new zeroed heap array of
  // count * width bytes (free() it), *count set; null and 0 when absent,
  // empty or when the count does not fit the field.
  void *getDArray(int tag, int *count, int width);

  // Enter a record / array field: its contents become the scope. False when
  // absent; the scope is then empty until the matching end operation, which
  // restores the enclosing scope.
  bool getStartStruct(STPBinaryIMsgParamState &state, int tag = 0);
  void getEndStruct(STPBinaryIMsgParamState &state);
  bool getStartArray(STPBinaryIMsgParamState &state, int tag = 0);
  void getEndArray(STPBinaryIMsgParamState &state);

private:
  STPIMsg *msg;

  bool enter(STPBinaryIMsgParamState &state, int tag);
  void leave(STPBinaryIMsgParamState &state);
  int foundType = 0;
};
