// mt_vsprintf.cpp: the directive parser and the integer, character, string
// and roman-numeral conversions of the formatting engine, for both argument
// sources (a va_list, or accessor functions).
//
// The parser is one template instantiated per argument source, so the
// va_list path pays no indirect call per argument.
#include "shared/mt_vsprintf.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "shared/indgen.h"
#include "shared/mt_format_spec.h"

namespace {

const char kDigits[] = "0123456789abcdef0123456789ABCDEFivxlcdmIVXLCDM";
const int kUpperHex = 16;
const int kLowerRoman = 32;
const int kUpperRoman = 39;

// Arguments from a va_list. Lengths: h short, l 32 bits (read as long so
// that both int and long arguments are safe), ll/L 64 bits.
class VaArgs {
 public:
  explicit VaArgs(va_list args) { va_copy(ap_, args); }
  ~VaArgs() { va_end(ap_); }
  VaArgs(const VaArgs &) = delete;
  VaArgs &operator=(const VaArgs &) = delete;

  int64_t getSigned(MT_Length len) {
    switch (len) {
      case MT_LEN_SHORT: return static_cast<short>(va_arg(ap_, int));
      case MT_LEN_LONG: return static_cast<int32_t>(va_arg(ap_, long));
      case MT_LEN_LONGLONG: return va_arg(ap_, long long);
      default: return va_arg(ap_, int);
    }
  }
  uint64_t getUnsigned(MT_Length len) {
    switch (len) {
      case MT_LEN_SHORT: return static_cast<unsigned short>(va_arg(ap_, unsigned));
      case MT_LEN_LONG: return static_cast<uint32_t>(va_arg(ap_, unsigned long));
      case MT_LEN_LONGLONG: return va_arg(ap_, unsigned long long);
      default: return va_arg(ap_, unsigned);
    }
  }
  int getChar() { return va_arg(ap_, int); }
  const void *getPointer() { return va_arg(ap_, void *); }
  double getDouble(MT_Length) { return va_arg(ap_, double); }
  const char *getString() { return va_arg(ap_, const char *); }
  void releaseString(const char *) {}
  // %n: va_list callers may store the count.
  bool storesCount() const { return true; }
  bool romans() const { return false; }

 private:
  va_list ap_;
};

// Arguments through the caller's accessor functions.
class AccessorArgs {
 public:
  AccessorArgs(void *context, const MT_ArgAccessors *acc) : ctx_(context), acc_(acc) {}

  int64_t getSigned(MT_Length len) {
    switch (len) {
      case MT_LEN_SHORT: return static_cast<int16_t>(acc_->getInt(ctx_, 2));
      case MT_LEN_LONGLONG: return acc_->getInt64(ctx_);
      default: return static_cast<int32_t>(acc_->getInt(ctx_, 4));
    }
  }
  uint64_t getUnsigned(MT_Length len) {
    switch (len) {
      case MT_LEN_SHORT: return static_cast<uint16_t>(acc_->getInt(ctx_, 2));
      case MT_LEN_LONGLONG: return static_cast<uint64_t>(acc_->getInt64(ctx_));
      default: return static_cast<uint32_t>(acc_->getInt(ctx_, 4));
    }
  }
  int getChar() { return static_cast<int>(acc_->getInt(ctx_, 4)); }
  const void *getPointer() { return acc_->getPointer(ctx_); }
  double getDouble(MT_Length len) {
    if (len == MT_LEN_LONGLONG) return static_cast<double>(acc_->getLongDouble(ctx_));
    return acc_->getDouble(ctx_);
  }
  const char *getString() { return acc_->getString(ctx_); }
  void releaseString(const char *s) { acc_->releaseString(ctx_, s); }
  bool storesCount() const { return false; }
  bool romans() const { return true; }

 private:
  void *ctx_;
  const MT_ArgAccessors *acc_;
};

// Digits of u in the given base, written backwards ending at end; returns
// the first digit. digits selects the lower or upper half of the table.
char *to_digits(uint64_t u, unsigned base, const char *digits, char *end) {
  char *p = end;
  if (base == 10) {
    while (u != 0) {
      *--p = static_cast<char>('0' + u % 10);
      u /= 10;
    }
    return p;
  }
  const unsigned shift = base == 16 ? 4 : 3;
  while (u != 0) {
    *--p = digits[u & (base - 1)];
    u >>= shift;
  }
  return p;
}

// Lower- or upper-case roman numerals for 1..3999, written forwards.
int to_roman(unsigned v, bool upper, char *out) {
  const char *set = kDigits + (upper ? kUpperRoman : kLowerRoman);   // i v x l c d m
  // Each decimal position uses its one, five and ten letters.
  static const char *const kPatterns[10] = {"", "a", "aa", "aaa", "ab", "b", "ba", "baa", "baaa", "ac"};
  int n = 0;
  for (int i = 0; i < static_cast<int>(v / 1000); ++i) out[n++] = set[6];
  unsigned rest = v % 1000;
  const unsigned scale[3] = {100, 10, 1};
  for (int pos = 0; pos < 3; ++pos) {
    const char *letters = set + 4 - 2 * pos;   // c d m, x l c, i v x
    for (const char *p = kPatterns[(rest / scale[pos]) % 10]; *p; ++p) {
      out[n++] = letters[*p == 'a' ? 0 : (*p == 'b' ? 1 : 2)];
    }
  }
  return n;
}

// Integer conversions d i u o x X p P (and r R in accessor mode).
void format_integer(MT_Sink &sink, MT_Spec spec, uint64_t magnitude, bool negative) {
  char buf[80];
  char *end = buf + sizeof buf;
  char prefix[2];
  int plen = 0;
  const char conv = spec.conv;
  if (conv == 'd' || conv == 'i' || conv == 'r' || conv == 'R') {
    if (negative) prefix[plen++] = '-';
    else if (spec.plus) prefix[plen++] = '+';
    else if (spec.space) prefix[plen++] = ' ';
    if (spec.precision >= 0) spec.zero = false;
  }
  if ((conv == 'r' || conv == 'R') && !negative && magnitude >= 1 && magnitude <= 3999) {
    int n = to_roman(static_cast<unsigned>(magnitude), conv == 'R', buf);
    MT_strout(sink, spec, prefix, plen, 0, buf, n);
    return;
  }
  const bool upper = conv == 'X' || conv == 'P';
  const unsigned base = (conv == 'o') ? 8 : (conv == 'x' || conv == 'X' || conv == 'p' || conv == 'P') ? 16 : 10;
  char *digits = to_digits(magnitude, base, kDigits + (upper ? kUpperHex : 0), end);
  int ndigits = static_cast<int>(end - digits);
  // Without a precision at least one digit is written, so 0 prints "0".
  const int minDigits = spec.precision < 0 ? 1 : spec.precision;
  int nzeros = minDigits > ndigits ? minDigits - ndigits : 0;
  if (spec.alternate && base == 8 && nzeros == 0 && (ndigits == 0 || *digits != '0')) nzeros = 1;
  if (spec.alternate && base == 16 && magnitude != 0) {
    prefix[plen++] = '0';
    prefix[plen++] = upper ? 'X' : 'x';
  }
  MT_strout(sink, spec, prefix, plen, nzeros, digits, ndigits);
}

void format_string(MT_Sink &sink, const MT_Spec &spec, const char *s) {
  if (!s) s = "(null)";
  int len;
  if (spec.precision >= 0) {
    const void *nul = std::memchr(s, 0, static_cast<size_t>(spec.precision));
    len = nul ? static_cast<int>(static_cast<const char *>(nul) - s) : spec.precision;
  } else {
    len = static_cast<int>(std::strlen(s));
  }
  MT_strout(sink, spec, nullptr, 0, 0, s, len);
}

// Reads decimal digits at *p (saturating at INT_MAX).
int read_number(const char *&p) {
  int n = 0;
  while (*p >= '0' && *p <= '9') {
    int d = *p++ - '0';
    n = n > (INT_MAX - d) / 10 ? INT_MAX : n * 10 + d;
  }
  return n;
}

// Parses flags, width, precision and length of one directive; p points
// after the '%' and is left on the conversion character.
template <class Args>
void parse_directive(const char *&p, Args &args, MT_Spec &spec) {
  for (;; ++p) {
    switch (*p) {
      case '-': spec.left = true; continue;
      case '+': spec.plus = true; continue;
      case '0': spec.zero = true; continue;
      case ' ': spec.space = true; continue;
      case '#': spec.alternate = true; continue;
      default: break;
    }
    break;
  }
  if (*p == '*') {
    ++p;
    int64_t w = args.getSigned(MT_LEN_NONE);
    if (w < 0) {
      spec.left = true;
      w = -w;
    }
    spec.width = w > INT_MAX ? INT_MAX : static_cast<int>(w);
  } else if (*p >= '0' && *p <= '9') {
    spec.width = read_number(p);
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      ++p;
      int64_t pr = args.getSigned(MT_LEN_NONE);
      spec.precision = pr < 0 ? -1 : static_cast<int>(pr);
    } else {
      spec.precision = read_number(p);
    }
  }
  while (*p == ' ') ++p;
  if (*p == 'h') {
    spec.length = MT_LEN_SHORT;
    ++p;
  } else if (*p == 'L') {
    spec.length = MT_LEN_LONGLONG;
    ++p;
  } else if (*p == 'l') {
    ++p;
    spec.length = MT_LEN_LONG;
    if (*p == 'l') {
      spec.length = MT_LEN_LONGLONG;
      ++p;
    }
  }
}

// %n: stores the count so far (va_list mode), or is refused.
template <class Args>
void store_count(Args &args, const MT_Spec &spec, long count) {
  void *where = const_cast<void *>(args.getPointer());
  if (!args.storesCount()) {
    gen_error("%%n format is not supported");
    return;
  }
  if (!where) return;
  if (spec.length == MT_LEN_SHORT) *static_cast<short *>(where) = static_cast<short>(count);
  else if (spec.length == MT_LEN_LONGLONG) *static_cast<long long *>(where) = count;
  else *static_cast<int *>(where) = static_cast<int>(count);
}

// Runs one conversion; returns false for a character that is not one, so
// that the caller prints it as itself.
template <class Args>
bool convert(MT_Sink &sink, Args &args, MT_Spec &spec) {
  switch (spec.conv) {
    case 'd':
    case 'i': {
      int64_t v = args.getSigned(spec.length);
      uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
      format_integer(sink, spec, mag, v < 0);
      return true;
    }
    case 'r':
    case 'R': {
      if (!args.romans()) return false;
      int64_t v = args.getSigned(spec.length);
      uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
      format_integer(sink, spec, mag, v < 0);
      return true;
    }
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      format_integer(sink, spec, args.getUnsigned(spec.length), false);
      return true;
    case 'p':
    case 'P': {
      auto bits = reinterpret_cast<uintptr_t>(args.getPointer());
      format_integer(sink, spec, static_cast<uint32_t>(bits), false);
      return true;
    }
    case 'c': {
      char c = static_cast<char>(args.getChar());
      MT_strout(sink, spec, nullptr, 0, 0, &c, 1);
      return true;
    }
    case 's': {
      spec.isString = true;
      const char *s = args.getString();
      format_string(sink, spec, s);
      args.releaseString(s);
      return true;
    }
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
      MT_format_float(sink, spec, args.getDouble(spec.length));
      return true;
    case 'n':
      store_count(args, spec, sink.total());
      return true;
    default:
      return false;
  }
}

template <class Args>
int run(const char *format, Args &args, MT_Sink &sink) {
  const char *p = format ? format : "(null)";
  while (!sink.failed()) {
    const char *q = std::strchr(p, '%');
    if (!q) {
      sink.put(p, static_cast<int>(std::strlen(p)));
      break;
    }
    sink.put(p, static_cast<int>(q - p));
    p = q + 1;
    MT_Spec spec;
    parse_directive(p, args, spec);
    spec.conv = *p;
    if (spec.conv == 0) break;
    ++p;
    if (!convert(sink, args, spec)) sink.put(&spec.conv, 1);
  }
  if (sink.failed()) return -1;
  return sink.total() > INT_MAX ? INT_MAX : static_cast<int>(sink.total());
}

}  // namespace

void MT_Sink::fill(char c, int count) {
  static const char kSpaces[] = "                                                                ";
  static const char kZeros[] = "0000000000000000000000000000000000000000000000000000000000000000";
  const char *src = c == '0' ? kZeros : kSpaces;
  const int chunk = static_cast<int>(sizeof kSpaces) - 1;
  while (count > 0 && !failed_) {
    int n = count < chunk ? count : chunk;
    put(src, n);
    count -= n;
  }
}

void MT_strout(MT_Sink &sink, const MT_Spec &spec, const char *prefix, int plen, int nzeros,
               const char *body, int blen) {
  const long len = static_cast<long>(plen) + nzeros + blen;
  const long pad = spec.width > len ? spec.width - len : 0;
  if (pad > 0 && !spec.left && !(spec.zero && !spec.isString)) sink.fill(' ', static_cast<int>(pad));
  sink.put(prefix, plen);
  if (pad > 0 && !spec.left && spec.zero && !spec.isString) sink.fill('0', static_cast<int>(pad));
  sink.fill('0', nzeros);
  sink.put(body, blen);
  if (pad > 0 && spec.left) sink.fill(' ', static_cast<int>(pad));
}

int MT_Vsprintf(const char *format, va_list args, void *target, MT_OutputFunc out) {
  VaArgs source(args);
  MT_Sink sink(target, out);
  return run(format, source, sink);
}

int MT_VsprintfTargetString(const char *format, void *context, MT_OutputFunc out,
                            const MT_ArgAccessors *accessors) {
  if (!accessors || !out) return -1;
  AccessorArgs source(context, accessors);
  MT_Sink sink(context, out);
  return run(format, source, sink);
}
