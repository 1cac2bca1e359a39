// mt_float.cpp: the floating-point conversions e, E, f, g and G of the
// formatting engine, with its own decimal digit generation.
//
// Digits: the value is scaled into [1, 10) by the powers 1e100, 1e10 and 10
// (and their inverses) in long double, counting the decimal exponent; digits
// are taken eight at a time from the integer part, at most 56 of them
// (further positions print 0), and rounded half up at the last printed digit.
// The result can differ from an exact conversion in the last digit(s).
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "shared/indgen.h"
#include "shared/mt_format_spec.h"

namespace {

const int kMaxDigits = 56;

// value = d0.d1d2... * 10^exp; all digits '0' for zero.
struct Decimal {
  char digits[kMaxDigits];
  int exp = 0;

  char at(int index) const { return index >= 0 && index < kMaxDigits ? digits[index] : '0'; }
};

// Scales v (> 0) into [1, 10) and returns its decimal exponent.
int scale(long double &v) {
  int e = 0;
  while (v >= 1e100L) { v /= 1e100L; e += 100; }
  while (v >= 1e10L) { v /= 1e10L; e += 10; }
  while (v >= 10) { v /= 10; ++e; }
  while (v < 1e-100L) { v *= 1e100L; e -= 100; }
  while (v < 1e-10L) { v *= 1e10L; e -= 10; }
  while (v < 1) { v *= 10; --e; }
  if (v >= 10) { v /= 10; ++e; }   // a product rounded up to 10
  return e;
}

// Fills d with the digits of v, already scaled into [1, 10) with decimal
// exponent exp (v == 0 for zero). Only the first `wanted` digits and the
// rounding digit are extracted; the rest stay '0', which is what the
// conversions print there anyway.
void extract(long double v, int exp, long wanted, Decimal &d) {
  std::memset(d.digits, '0', kMaxDigits);
  d.exp = exp;
  if (v == 0) return;
  v *= 1e7L;
  const long chunks = wanted < 0 ? 1 : (wanted + 1 + 7) / 8;
  for (int chunk = 0; chunk < chunks && chunk < kMaxDigits / 8; ++chunk) {
    long double whole = std::floor(v);
    uint32_t c = whole >= 99999999.0L ? 99999999u : static_cast<uint32_t>(whole);
    for (int i = 7; i >= 0; --i) {
      d.digits[chunk * 8 + i] = static_cast<char>('0' + c % 10);
      c /= 10;
    }
    v = (v - whole) * 1e8L;
    if (v < 0) v = 0;
  }
}

// Keeps n significant digits, rounding half up with carry; n < 0 makes the
// value zero, n >= 56 keeps everything.
void round_to(Decimal &d, long n) {
  if (n >= kMaxDigits) return;
  if (n < 0) {
    std::memset(d.digits, '0', kMaxDigits);
    return;
  }
  const bool up = d.digits[n] >= '5';
  std::memset(d.digits + n, '0', static_cast<size_t>(kMaxDigits - n));
  if (!up) return;
  int i = n - 1;
  while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
  if (i >= 0) {
    ++d.digits[i];
  } else {
    d.digits[0] = '1';
    ++d.exp;
  }
}

// A growable text for one number; small numbers stay on the stack.
class NumberText {
 public:
  explicit NumberText(long need) {
    if (need > static_cast<long>(sizeof local_)) {
      heap_ = static_cast<char *>(gen_allocate(nullptr, static_cast<size_t>(need), 1));
    }
    p_ = heap_ ? heap_ : local_;
  }
  ~NumberText() { gen_free(heap_); }
  NumberText(const NumberText &) = delete;
  NumberText &operator=(const NumberText &) = delete;

  void add(char c) { p_[len_++] = c; }
  void add(const char *s) { while (*s) p_[len_++] = *s++; }
  char *data() { return p_; }
  int length() const { return len_; }
  void truncate(int n) { len_ = n; }

 private:
  char local_[400];
  char *heap_ = nullptr;
  char *p_;
  int len_ = 0;
};

const char *decimal_point() {
  const struct lconv *lc = std::localeconv();
  return lc && lc->decimal_point && *lc->decimal_point ? lc->decimal_point : ".";
}

// Fixed notation with prec fraction digits of an already rounded value.
void put_fixed(NumberText &t, const Decimal &d, int prec, bool alternate, const char *point) {
  if (d.exp < 0) {
    t.add('0');
  } else {
    for (int k = d.exp; k >= 0; --k) t.add(d.at(d.exp - k));
  }
  if (prec > 0 || alternate) t.add(point);
  for (int k = 1; k <= prec; ++k) t.add(d.at(d.exp + k));
}

// Exponent notation with prec fraction digits of an already rounded value.
void put_exponent(NumberText &t, const Decimal &d, int prec, bool alternate, bool upper,
                  const char *point) {
  t.add(d.digits[0]);
  if (prec > 0 || alternate) t.add(point);
  for (int k = 1; k <= prec; ++k) t.add(d.at(k));
  t.add(upper ? 'E' : 'e');
  int e = d.digits[0] == '0' ? 0 : d.exp;
  t.add(e < 0 ? '-' : '+');
  unsigned mag = static_cast<unsigned>(e < 0 ? -e : e);
  char buf[8];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  if (n < 2) buf[n++] = '0';
  while (n > 0) t.add(buf[--n]);
}

// Without '#', %g drops trailing zeros of the fraction and then the point.
void strip_fraction_zeros(NumberText &t, const char *point) {
  const int plen = static_cast<int>(std::strlen(point));
  char *s = t.data();
  int len = t.length();
  int dot = -1;
  for (int i = 0; i + plen <= len; ++i) {
    if (std::memcmp(s + i, point, static_cast<size_t>(plen)) == 0) {
      dot = i;
      break;
    }
  }
  if (dot < 0) return;
  int exp_at = dot;
  while (exp_at < len && s[exp_at] != 'e' && s[exp_at] != 'E') ++exp_at;
  int end = exp_at;
  while (end > dot + plen && s[end - 1] == '0') --end;
  if (end == dot + plen) end = dot;
  std::memmove(s + end, s + exp_at, static_cast<size_t>(len - exp_at));
  t.truncate(end + (len - exp_at));
}

}  // namespace

void MT_format_float(MT_Sink &sink, const MT_Spec &spec, double value) {
  if (std::isnan(value) || std::isinf(value)) {
    MT_Spec text = spec;
    text.isString = true;
    text.precision = -1;
    MT_strout(sink, text, nullptr, 0, 0, std::isnan(value) ? "nan" : "inf", 3);
    return;
  }
  char sign = 0;
  if (value < 0) sign = '-';
  else if (spec.plus) sign = '+';
  else if (spec.space) sign = ' ';

  long double v = std::fabs(static_cast<long double>(value));
  const int exp = v == 0 ? 0 : scale(v);
  const char *point = decimal_point();
  const char conv = spec.conv;
  int prec = spec.precision < 0 ? 6 : spec.precision;
  long need = 16 + static_cast<long>(prec) + static_cast<long>(std::strlen(point));
  Decimal d;
  if (conv == 'f') {
    extract(v, exp, static_cast<long>(exp) + 1 + prec, d);
    round_to(d, static_cast<long>(d.exp) + 1 + prec);
    need += d.exp > 0 ? d.exp : 0;
    NumberText t(need);
    put_fixed(t, d, prec, spec.alternate, point);
    MT_strout(sink, spec, &sign, sign ? 1 : 0, 0, t.data(), t.length());
  } else if (conv == 'e' || conv == 'E') {
    extract(v, exp, static_cast<long>(prec) + 1, d);
    round_to(d, static_cast<long>(prec) + 1);
    NumberText t(need);
    put_exponent(t, d, prec, spec.alternate, conv == 'E', point);
    MT_strout(sink, spec, &sign, sign ? 1 : 0, 0, t.data(), t.length());
  } else {
    if (prec == 0) prec = 1;
    extract(v, exp, prec, d);
    round_to(d, prec);
    const int x = d.digits[0] == '0' ? 1 : d.exp + 1;
    NumberText t(need + (x > 0 ? x : 0));
    if (x > -4 && x <= prec) put_fixed(t, d, prec - x, spec.alternate, point);
    else put_exponent(t, d, prec - 1, spec.alternate, conv == 'G', point);
    if (!spec.alternate) strip_fraction_zeros(t, point);
    MT_strout(sink, spec, &sign, sign ? 1 : 0, 0, t.data(), t.length());
  }
}
