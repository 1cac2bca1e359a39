// The ASCII body codec: named fields as text.
//
// A body is the message name and a space, then fields `name:value`. Values:
// numbers "0x%x " (32-bit, unsigned), large numbers "0x%x%08x ", strings in
// double quotes with backslash escapes ("null " for a null string), bare and
// quoted identifiers, records "{ ... } " and arrays "(0xN )[ ... ] " (or
// "[ ... ] " without a count). The only separator is the space character.
//
// The writer is an STPOMsg subclass. The reader is a view over an STPIMsg
// (it does not own it) or over a private copy of a plain text; its two
// cursors live in the STPIMsg. Reading never runs past the body: absent or
// malformed values read as 0, null or an empty word. One thread.
#pragma once

#include <memory>
#include <vector>

#include "shared/stp_transport/stp_msg.h"

class STPAsciiOMsg : public STPOMsg {
public:
  // A message whose body starts empty, or with `prefix` and a space when a
  // prefix is given.
  STPAsciiOMsg(int sourceRN, int destRN, int type, int id, int replyTo,
               int flags, int token, int depth, const char *prefix = nullptr);
  ~STPAsciiOMsg() override = default;

  // Raw characters; nothing for a null or empty string.
  void putRawString(const char *s);
  void putRawString(const char *s, int len);
  // "{ " or "name:{ ", and "} ".
  void putStartStruct();
  void putStartStruct(const char *name);
  void putEndStruct();
  // "(0xN )[ " or "name:(0xN )[ "; a negative count writes only "[ ".
  void putStartArray(int count);
  void putStartArray(const char *name, int count);
  void putEndArray();
  // "0x%x " of the value as unsigned 32 bits, optionally after "name:".
  void putNumber(int value);
  void putNumber(const char *name, int value);
  // "0x%x%08x " of the high and low words.
  void putLargeNumber(long long value);
  void putLargeNumber(const char *name, long long value);
  // Quoted with \\, \" and \n escapes; "null " for null.
  void putString(const char *s);
  void putString(const char *name, const char *s);
  // The raw characters and a space (must not contain a space).
  void putIdent(const char *ident);
  void putIdent(const char *name, const char *ident);
  // The raw characters in double quotes, no escaping, and a space.
  void putQuotedIdent(const char *ident);
  void putQuotedIdent(const char *name, const char *ident);

  // The body text written so far, zero-terminated; valid until the next put.
  const char *getAsciiContent();

private:
  void putName(const char *name);
  void putHex(uint32_t v);
};

// Saves the enclosing scope while a record or array is read.
struct STPAsciiIMsgParamState {
  int savedScope = 0; // enclosing scope cursor
  int start = 0;      // where the record or array value begins
};

class STPAsciiIMsg {
public:
  // Reads `msg` (not owned; it must outlive this view). The cursors are
  // those stored in `msg`: fresh messages start at the body start.
  explicit STPAsciiIMsg(STPIMsg *msg);
  // Reads a copy of a zero-terminated text that did not come in a packet.
  explicit STPAsciiIMsg(const char *text);
  ~STPAsciiIMsg();

  STPAsciiIMsg(const STPAsciiIMsg &) = delete;
  STPAsciiIMsg &operator=(const STPAsciiIMsg &) = delete;

  STPIMsg *getMsg() const { return msg; }

  // The value of field `name` of the current record (after spaces), or null.
  // Fields read in written order cost one step each; any order works.
  const char *findTag(const char *name);
  // Position after the value starting at `p` and its trailing spaces (never
  // past the end of the text).
  const char *skipValue(const char *p) const;

  // Unsigned number, base from its prefix (0x hex, 0 octal, else decimal);
  // absent: 0.
  int getNumber();
  int getNumber(const char *name);
  // Optional sign, then 0x + hex digits or decimal digits, in 64 bits.
  long long getLargeNumber();
  long long getLargeNumber(const char *name);
  // A new heap string with escapes undone (free() it), or null for "null",
  // a non-string value, an unterminated string or an absent field.
  char *getString();
  char *getString(const char *name);
  // The same string kept by this reader: valid while the reader lives, not
  // to be freed. Short strings cost no allocation.
  char *getScopedString(const char *name);
  // The next space-delimited word: pointer into the message, length in *len
  // (not zero-terminated). Absent: an empty word (*len 0). peekIdent does
  // not consume.
  const char *peekIdent(int *len);
  const char *getIdent(int *len);
  const char *getIdent(const char *name, int *len);
  // The characters between double quotes (no escapes); absent: *len 0.
  const char *getQuotedIdent(int *len);
  const char *getQuotedIdent(const char *name, int *len);

  // Enter a record; false when absent (the rest of it then reads as absent).
  bool getStartStruct(STPAsciiIMsgParamState &state);
  bool getStartStruct(STPAsciiIMsgParamState &state, const char *name);
  // Leave it: the enclosing scope returns, the read cursor goes past "}".
  void getEndStruct(STPAsciiIMsgParamState &state);
  // Enter an array; returns its element count (0 when absent, when written
  // without a count, or when the count cannot be true for this text).
  int getStartArray(STPAsciiIMsgParamState &state);
  int getStartArray(STPAsciiIMsgParamState &state, const char *name);
  void getEndArray(STPAsciiIMsgParamState &state);

  // The text from the read cursor on.
  const char *getRemainder() const;
  // The whole body text.
  const char *getAsciiContent() const;

private:
  STPIMsg *msg;
  STPIMsg *owned = nullptr; // the copy made for a plain text
  const char *base;         // packet start: the cursors are offsets from here
  const char *text;         // body start
  const char *limit;        // body end (a zero byte lies there)
  const char *valueEnd = nullptr; // end of the value findTag found last
  // Where getScopedString keeps its strings: the first ones here, the rest
  // in heap blocks freed with the reader.
  static constexpr int kScratchSize = 256;
  char scratch[kScratchSize];
  int scratchUsed = 0;
  std::vector<std::unique_ptr<char[]>> spilled;

  const char *at(int offset) const { return base + offset; }
  int off(const char *p) const { return static_cast<int>(p - base); }
  const char *readPos(); // read cursor after spaces
  void setRead(const char *p);
  const char *valueAt(const char *name); // findTag or the read cursor
  // The string value at v (opening quote) consumed: its closing quote, or
  // null when it is no string or never closed.
  const char *takeString(const char *v);
  bool enter(STPAsciiIMsgParamState &state, const char *value, const char *open);
  void leave(STPAsciiIMsgParamState &state, char close);
};
