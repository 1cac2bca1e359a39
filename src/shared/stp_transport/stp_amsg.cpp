// The ASCII body codec: the text writer and the two-cursor reader.
//
// The reader relies on one property of STPIMsg: the byte just past the body
// is zero. Every scanning loop here stops at a zero byte before it steps, so
// no malformed text can lead it past the body.
#include "shared/stp_transport/stp_amsg.h"

#include <cstring>

#include "shared/indgen.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

const char *skipSpaces(const char *p) {
  while (*p == ' ') p++;
  return p;
}

// The characters besides the zero byte that may not appear in a field name.
constexpr char kNotInNames[] = " :\"{}[]()";

// Characters that may appear in a field name: a table, as the scans of
// names run once per field of every message received.
struct NameChars {
  bool allowed[256];
  constexpr NameChars() : allowed() {
    for (int c = 0; c < 256; c++) allowed[c] = true;
    allowed[0] = false;
    for (int i = 0; kNotInNames[i]; i++) allowed[static_cast<unsigned char>(kNotInNames[i])] = false;
  }
};
constexpr NameChars kNameChars;

bool isNameChar(char c) { return kNameChars.allowed[static_cast<unsigned char>(c)]; }

// The end of the space-delimited word at `p`; *plain says whether all of
// it are name characters (such a word is a value without a name to every
// lookup).
const char *wordEnd(const char *p, bool *plain) {
  const char *q = p + std::strcspn(p, kNotInNames);  // the first character not in a name
  *plain = *q == ' ' || *q == '\0';
  return *plain ? q : strchrnul(q, ' ');
}

bool endsScope(char c) { return c == '\0' || c == '}' || c == ']'; }

// The quote that closes the string opening at `p` (backslash escapes
// honoured), or null when the text ends first.
const char *closingQuote(const char *p) {
  for (p++;;) {
    p += std::strcspn(p, "\"\\");  // to the next quote or backslash, by runs
    if (*p != '\\') return *p ? p : nullptr;
    if (!p[1]) return nullptr;
    p += 2;
  }
}

// Past the string opening at `p`, or at the end of the text when unclosed.
const char *skipString(const char *p) {
  const char *q = closingQuote(p);
  return q ? q + 1 : p + std::strlen(p);
}

// Past the bracket that closes the record or array opening at `p`. Nesting
// is counted, not recursed, so deep input cannot exhaust the stack.
const char *skipComposite(const char *p) {
  int depth = 0;
  while (*p) {
    char c = *p;
    if (c == '"') {
      p = skipString(p);
      continue;
    }
    p++;
    if (c == '{' || c == '[') {
      depth++;
    } else if ((c == '}' || c == ']') && --depth == 0) {
      break;
    }
  }
  return p;
}

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// Unsigned number with the base taken from its prefix: 0x hexadecimal,
// 0 octal, else decimal; an optional sign as the C library allows.
uint32_t parseUnsigned(const char *p) {
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digitValue(p[2]) < 16) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  uint32_t v = 0;
  for (int d; (d = digitValue(*p)) < base; p++) v = v * base + d;
  return negative ? 0u - v : v;
}

long long parseLarge(const char *p) {
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  uint64_t v = 0;
  for (int d; (d = digitValue(*p)) < base; p++) v = v * base + d;
  return static_cast<long long>(negative ? 0 - v : v);
}

// Writes "%x" of `v` into `out`; returns the number of characters.
int formatHex(char *out, uint32_t v, int minDigits) {
  char tmp[8];
  int n = 0;
  do {
    tmp[n++] = kHexDigits[v & 15];
    v >>= 4;
  } while (v);
  while (n < minDigits) tmp[n++] = '0';
  for (int i = 0; i < n; i++) out[i] = tmp[n - 1 - i];
  return n;
}

void warnUnspecifiedArray() { gen_warning("unspecified stp ascii array size"); }

const char kEmptyWord[] = "";

// The word at `p` and its length (*plain as for wordEnd); the empty word,
// length 0, where a scope ends.
const char *identAt(const char *p, int *len, bool *plain) {
  if (endsScope(*p)) {
    *len = 0;
    *plain = false;
    return kEmptyWord;
  }
  *len = static_cast<int>(wordEnd(p, plain) - p);
  return p;
}

// Undoes the escapes of the string between the quotes v and close into out
// (room for close - v bytes): copied by runs between escapes.
void unescapeString(const char *v, const char *close, char *out) {
  for (const char *p = v + 1; p < close;) {
    const char *escape = static_cast<const char *>(std::memchr(p, '\\', static_cast<size_t>(close - p)));
    const char *runEnd = escape ? escape : close;
    std::memcpy(out, p, static_cast<size_t>(runEnd - p));
    out += runEnd - p;
    if (!escape) break;
    // closingQuote never stops right after a lone backslash: one follows.
    *out++ = escape[1] == 'n' ? '\n' : escape[1];
    p = escape + 2;
  }
  *out = '\0';
}

}  // namespace

// ---- writer --------------------------------------------------------------

STPAsciiOMsg::STPAsciiOMsg(int sourceRN, int destRN, int type, int id, int replyTo,
                           int flags, int token, int depth, const char *prefix)
    : STPOMsg(sourceRN, destRN, type, id, replyTo, flags, token, depth) {
  if (prefix) {
    put_raw_string(prefix);
    put_uint8(' ');
  }
}

void STPAsciiOMsg::putRawString(const char *s) { put_raw_string(s); }

void STPAsciiOMsg::putRawString(const char *s, int len) { put_raw_bytes(s, len); }

void STPAsciiOMsg::putName(const char *name) {
  put_raw_string(name);
  put_uint8(':');
}

void STPAsciiOMsg::putHex(uint32_t v) {
  char buf[16] = {'0', 'x'};
  int n = 2 + formatHex(buf + 2, v, 1);
  buf[n++] = ' ';
  put_raw_bytes(buf, n);
}

void STPAsciiOMsg::putStartStruct() { put_raw_bytes("{ ", 2); }

void STPAsciiOMsg::putStartStruct(const char *name) {
  putName(name);
  putStartStruct();
}

void STPAsciiOMsg::putEndStruct() { put_raw_bytes("} ", 2); }

void STPAsciiOMsg::putStartArray(int count) {
  if (count >= 0) {
    put_uint8('(');
    putHex(static_cast<uint32_t>(count));
    put_uint8(')');
  }
  put_raw_bytes("[ ", 2);
}

void STPAsciiOMsg::putStartArray(const char *name, int count) {
  putName(name);
  putStartArray(count);
}

void STPAsciiOMsg::putEndArray() { put_raw_bytes("] ", 2); }

void STPAsciiOMsg::putNumber(int value) { putHex(static_cast<uint32_t>(value)); }

void STPAsciiOMsg::putNumber(const char *name, int value) {
  putName(name);
  putNumber(value);
}

void STPAsciiOMsg::putLargeNumber(long long value) {
  auto v = static_cast<uint64_t>(value);
  char buf[32] = {'0', 'x'};
  int n = 2 + formatHex(buf + 2, static_cast<uint32_t>(v >> 32), 1);
  n += formatHex(buf + n, static_cast<uint32_t>(v), 8);
  buf[n++] = ' ';
  put_raw_bytes(buf, n);
}

void STPAsciiOMsg::putLargeNumber(const char *name, long long value) {
  putName(name);
  putLargeNumber(value);
}

void STPAsciiOMsg::putString(const char *s) {
  if (!s) {
    put_raw_bytes("null ", 5);
    return;
  }
  static const char kEscaped[] = "\"\\\n";
  size_t len = 3;  // two quotes and the space
  for (const char *p = s;;) {  // runs without escapes are measured, not walked
    size_t run = std::strcspn(p, kEscaped);
    len += run;
    if (!p[run]) break;
    len += 2;
    p += run + 1;
  }
  ensure(static_cast<int>(len));
  *next++ = '"';
  for (const char *p = s;;) {
    size_t run = std::strcspn(p, kEscaped);
    std::memcpy(next, p, run);
    next += run;
    p += run;
    if (!*p) break;
    *next++ = '\\';
    *next++ = *p == '\n' ? 'n' : *p;
    p++;
  }
  *next++ = '"';
  *next++ = ' ';
}

void STPAsciiOMsg::putString(const char *name, const char *s) {
  putName(name);
  putString(s);
}

void STPAsciiOMsg::putIdent(const char *ident) {
  put_raw_string(ident);
  put_uint8(' ');
}

void STPAsciiOMsg::putIdent(const char *name, const char *ident) {
  putName(name);
  putIdent(ident);
}

void STPAsciiOMsg::putQuotedIdent(const char *ident) {
  put_uint8('"');
  put_raw_string(ident);
  put_raw_bytes("\" ", 2);
}

void STPAsciiOMsg::putQuotedIdent(const char *name, const char *ident) {
  putName(name);
  putQuotedIdent(ident);
}

const char *STPAsciiOMsg::getAsciiContent() {
  ensure(1);
  *next = '\0';  // terminate without counting the zero as body
  return reinterpret_cast<const char *>(begin + kSTPHeaderLength);
}

// ---- reader --------------------------------------------------------------

STPAsciiIMsg::STPAsciiIMsg(STPIMsg *msg) : msg(msg) {
  base = reinterpret_cast<const char *>(msg->get_begin());
  text = base + msg->bodyStart();
  limit = base + msg->bodyEnd();
}

STPAsciiIMsg::STPAsciiIMsg(const char *plain) {
  int len = plain ? static_cast<int>(std::strlen(plain)) : 0;
  owned = new STPIMsg(plain, 0, len);
  msg = owned;
  base = reinterpret_cast<const char *>(msg->get_begin());
  text = base;
  limit = base + len;
}

STPAsciiIMsg::~STPAsciiIMsg() { delete owned; }

const char *STPAsciiIMsg::skipValue(const char *p) const {
  if (*p == '(') {
    while (*p && *p != ')') p++;
    if (*p) p++;
    p = skipSpaces(p);
  }
  if (*p == '"') {
    p = skipString(p);
  } else if (*p == '{' || *p == '[') {
    p = skipComposite(p);
  } else {
    while (*p != ' ' && !endsScope(*p)) p++;
  }
  return skipSpaces(p);
}

const char *STPAsciiIMsg::findTag(const char *name) {
  valueEnd = nullptr;
  if (!name) return nullptr;
  size_t n = std::strlen(name);
  const char *p = at(msg->asciiScope);
  bool skippedField = false;  // only skipped *fields* make a lookup out of order
  for (;;) {
    p = skipSpaces(p);
    if (endsScope(*p)) return nullptr;
    const char *q = p;
    while (isNameChar(*q)) q++;
    if (*q != ':' || q == p) {  // an unnamed value, such as the message name
      const char *after = skipValue(p);
      if (after == p) return nullptr;
      p = after;
      continue;
    }
    const char *value = skipSpaces(q + 1);
    const char *after = skipValue(value);
    if (static_cast<size_t>(q - p) == n && std::memcmp(p, name, n) == 0) {
      if (!skippedField) msg->asciiScope = off(after);
      valueEnd = after;
      return value;
    }
    skippedField = true;
    p = after;
  }
}

const char *STPAsciiIMsg::readPos() { return skipSpaces(at(msg->asciiRead)); }

void STPAsciiIMsg::setRead(const char *p) { msg->asciiRead = off(p); }

// The value a read starts at: the named field, or the next value at the read
// cursor. Null when absent; valueEnd then says where the value ends.
const char *STPAsciiIMsg::valueAt(const char *name) {
  if (name) return findTag(name);
  const char *p = readPos();
  if (endsScope(*p)) return nullptr;
  valueEnd = skipValue(p);
  return p;
}

int STPAsciiIMsg::getNumber() { return getNumber(nullptr); }

int STPAsciiIMsg::getNumber(const char *name) {
  const char *v = valueAt(name);
  if (!v) return 0;
  setRead(valueEnd);
  return static_cast<int>(parseUnsigned(v));
}

long long STPAsciiIMsg::getLargeNumber() { return getLargeNumber(nullptr); }

long long STPAsciiIMsg::getLargeNumber(const char *name) {
  const char *v = valueAt(name);
  if (!v) return 0;
  setRead(valueEnd);
  return parseLarge(v);
}

char *STPAsciiIMsg::getString() { return getString(nullptr); }

const char *STPAsciiIMsg::takeString(const char *v) {
  if (!v) return nullptr;
  setRead(valueEnd);
  if (*v != '"') return nullptr;  // "null" or not a string
  const char *close = closingQuote(v);
  if (!close) setRead(v + std::strlen(v));  // never closed: the rest is not trusted
  return close;
}

char *STPAsciiIMsg::getString(const char *name) {
  const char *v = valueAt(name);
  const char *close = takeString(v);
  if (!close) return nullptr;
  auto *s = static_cast<char *>(gen_calloc(static_cast<size_t>(close - v), 1));
  unescapeString(v, close, s);
  return s;
}

char *STPAsciiIMsg::getScopedString(const char *name) {
  const char *v = valueAt(name);
  const char *close = takeString(v);
  if (!close) return nullptr;
  int size = static_cast<int>(close - v);  // the text, one byte for the zero
  char *s;
  if (size <= kScratchSize - scratchUsed) {
    s = scratch + scratchUsed;
    scratchUsed += size;
  } else {
    spilled.emplace_back(new char[static_cast<size_t>(size)]);
    s = spilled.back().get();
  }
  unescapeString(v, close, s);
  return s;
}

const char *STPAsciiIMsg::peekIdent(int *len) {
  bool plain = false;
  return identAt(readPos(), len, &plain);
}

const char *STPAsciiIMsg::getIdent(int *len) {
  bool plain = false;
  const char *p = identAt(readPos(), len, &plain);
  if (*len == 0) return p;
  const char *after = skipSpaces(p + *len);
  // A plain word at the lookup cursor (the message name) is one that every
  // lookup steps over: later lookups start after it.
  if (plain && skipSpaces(at(msg->asciiScope)) == p) msg->asciiScope = off(after);
  setRead(after);
  return p;
}

const char *STPAsciiIMsg::getIdent(const char *name, int *len) {
  const char *v = findTag(name);
  *len = 0;
  if (!v) return kEmptyWord;
  const char *q = v;
  while (*q && *q != ' ') q++;
  *len = static_cast<int>(q - v);
  setRead(skipSpaces(q));
  return v;
}

const char *STPAsciiIMsg::getQuotedIdent(int *len) { return getQuotedIdent(nullptr, len); }

const char *STPAsciiIMsg::getQuotedIdent(const char *name, int *len) {
  const char *v = valueAt(name);
  *len = 0;
  if (!v || *v != '"') return kEmptyWord;
  const char *q = v + 1;
  while (*q && *q != '"') q++;
  if (!*q) {  // never closed: the rest of the text is not trusted
    setRead(q);
    return kEmptyWord;
  }
  *len = static_cast<int>(q - v - 1);
  setRead(skipSpaces(q + 1));
  return v + 1;
}

// Enters the record or array whose opening bracket is at `open` (null when
// the value is absent or not of that kind).
bool STPAsciiIMsg::enter(STPAsciiIMsgParamState &state, const char *value, const char *open) {
  state.savedScope = msg->asciiScope;
  if (!value || !open) {
    state.start = -1;
    msg->asciiRead = msg->asciiScope = off(limit);
    return false;
  }
  state.start = off(value);
  msg->asciiRead = msg->asciiScope = off(skipSpaces(open + 1));
  return true;
}

void STPAsciiIMsg::leave(STPAsciiIMsgParamState &state, char close) {
  msg->asciiScope = state.savedScope;
  if (state.start < 0) return;  // absent: the read cursor stays at the end
  const char *p = readPos();
  if (*p == close) {
    setRead(skipSpaces(p + 1));
  } else {  // fields left unread, or never closed
    setRead(skipValue(at(state.start)));
  }
}

bool STPAsciiIMsg::getStartStruct(STPAsciiIMsgParamState &state) {
  return getStartStruct(state, nullptr);
}

bool STPAsciiIMsg::getStartStruct(STPAsciiIMsgParamState &state, const char *name) {
  const char *v = valueAt(name);
  return enter(state, v, v && *v == '{' ? v : nullptr);
}

void STPAsciiIMsg::getEndStruct(STPAsciiIMsgParamState &state) { leave(state, '}'); }

int STPAsciiIMsg::getStartArray(STPAsciiIMsgParamState &state) {
  return getStartArray(state, nullptr);
}

int STPAsciiIMsg::getStartArray(STPAsciiIMsgParamState &state, const char *name) {
  const char *v = valueAt(name);
  const char *p = v;
  bool counted = p && *p == '(';
  long long count = 0;
  if (counted) {
    count = static_cast<int>(parseUnsigned(skipSpaces(p + 1)));
    while (*p && *p != ')') p++;
    p = skipSpaces(*p ? p + 1 : p);
  }
  if (!enter(state, v, p && *p == '[' ? p : nullptr)) return 0;
  const char *inside = readPos();
  if (!counted) {
    if (*inside != ']') warnUnspecifiedArray();
    return 0;
  }
  // Every element takes at least two characters: a negative or larger count
  // is a lie, and the elements are then skipped rather than trusted.
  if (count < 0 || count > (limit - inside) / 2) return 0;
  return static_cast<int>(count);
}

void STPAsciiIMsg::getEndArray(STPAsciiIMsgParamState &state) { leave(state, ']'); }

const char *STPAsciiIMsg::getRemainder() const { return at(msg->asciiRead); }

const char *STPAsciiIMsg::getAsciiContent() const { return text; }
