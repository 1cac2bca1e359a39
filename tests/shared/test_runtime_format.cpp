// Formatting engine: the places where it differs from the C library on
// purpose, gen_asprintf, the accessor-driven variant with roman numerals,
// float classification and GenFreer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime_test_support.h"
#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"

namespace {

std::string fmt(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = take(gen_avsprintf(format, args));
  va_end(args);
  return out;
}

TEST(FormatDeliberate, PointersPrintThirtyTwoBitsWithoutPrefix) {
  void *p = reinterpret_cast<void *>(static_cast<uintptr_t>(0x12345678abcdULL));
  EXPECT_EQ(fmt("%p", p), "5678abcd");
  EXPECT_EQ(fmt("%P", p), "5678ABCD");
  EXPECT_EQ(fmt("%#p", p), "0x5678abcd");
  EXPECT_EQ(fmt("%10p|", reinterpret_cast<void *>(0xffULL)), "        ff|");
  EXPECT_EQ(fmt("%p", static_cast<void *>(nullptr)), "0");
}

TEST(FormatDeliberate, UnknownConversionsPrintThemselvesAndTakeNoArgument) {
  EXPECT_EQ(fmt("%q %d", 5), "q 5");
  EXPECT_EQ(fmt("%5%|"), "%|");
  EXPECT_EQ(fmt("%zu", 7), "zu");   // z is no modifier here
  EXPECT_EQ(fmt("%hhd", 300), "hd");   // neither is hh
  EXPECT_EQ(fmt("abc %-5"), "abc ");   // a directive cut by the end
}

TEST(FormatDeliberate, NanInfinityAndNegativeZeroPrintWithoutSign) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(fmt("%f", -inf), "inf");
  EXPECT_EQ(fmt("%+e", inf), "inf");
  EXPECT_EQ(fmt("%E", inf), "inf");
  EXPECT_EQ(fmt("%g", -nan), "nan");
  EXPECT_EQ(fmt("%06f|", inf), "   inf|");
  EXPECT_EQ(fmt("%-6G|", nan), "nan   |");
  // Negative zero has no sign either.
  EXPECT_EQ(fmt("%f", -0.0), "0.000000");
  EXPECT_EQ(fmt("%.1e", -0.0), "0.0e+00");
  EXPECT_EQ(fmt("%.2f", -0.001), "-0.00");   // a negative value keeps its sign
}

TEST(FormatDeliberate, LongIsThirtyTwoBitsAndLongLongSixtyFour) {
  EXPECT_EQ(fmt("%ld", 0x100000005L), "5");
  EXPECT_EQ(fmt("%lx", 0xabcdef0012345678UL), "12345678");
  EXPECT_EQ(fmt("%lld", 0x100000005LL), "4294967301");
  EXPECT_EQ(fmt("%Lx", 0xabcdef0012345678ULL), "abcdef0012345678");
  EXPECT_EQ(fmt("%Lf", 2.5), "2.500000");   // L with floats still reads a double
}

TEST(FormatDeliberate, PaddingPrecisionAndNullStrings) {
  EXPECT_EQ(fmt("%08.3x", 255u), "000000ff");
  EXPECT_EQ(fmt("%08.3d", 255), "     255");   // d and i switch it off
  EXPECT_EQ(fmt("%05c", 'x'), "0000x");         // only strings pad with spaces
  EXPECT_EQ(fmt("%05s", "x"), "    x");
  // A null string is cut by the precision like any other.
  EXPECT_EQ(fmt("%s", static_cast<char *>(nullptr)), "(null)");
  EXPECT_EQ(fmt("%.3s", static_cast<char *>(nullptr)), "(nu");
  EXPECT_EQ(fmt("%8s", static_cast<char *>(nullptr)), "  (null)");
  // Spaces after the precision are skipped.
  EXPECT_EQ(fmt("%.2 f", 1.0), "1.00");
  EXPECT_EQ(fmt("%5.3 d|", 7), "  007|");
}

TEST(FormatDeliberate, CountStoresPerLengthModifier) {
  short s = -1;
  int i = -1;
  long long ll = -1;
  EXPECT_EQ(fmt("ab%hn", &s), "ab");
  EXPECT_EQ(s, 2);
  EXPECT_EQ(fmt("abc%n", &i), "abc");
  EXPECT_EQ(i, 3);
  EXPECT_EQ(fmt("abcd%lln", &ll), "abcd");
  EXPECT_EQ(ll, 4);
}

TEST(FormatEngine, DocumentedExamples) {
  EXPECT_EQ(fmt("%5.2s", "abc"), "   ab");
  EXPECT_EQ(fmt("%-4d|", 7), "7   |");
  EXPECT_EQ(fmt("%08.3f", -3.14159), "-003.142");
  EXPECT_EQ(fmt("%#x", 255), "0xff");
  EXPECT_EQ(fmt("%+d", 5), "+5");
  EXPECT_EQ(fmt("%g", 0.0001), "0.0001");
  EXPECT_EQ(fmt("%g", 0.00001), "1e-05");
  EXPECT_EQ(fmt("%e", 12345.678), "1.234568e+04");
  EXPECT_EQ(fmt("%lld", INT64_MIN), "-9223372036854775808");
}

TEST(FormatEngine, FloatRoundingCarriesIntoTheExponent) {
  EXPECT_EQ(fmt("%.2e", 9.999), "1.00e+01");
  EXPECT_EQ(fmt("%.0f", 0.6), "1");
  EXPECT_EQ(fmt("%.1f", 0.05), "0.1");   // half up
  EXPECT_EQ(fmt("%.3g", 99950.0), "1e+05");
  EXPECT_EQ(fmt("%#.3g", 1.0), "1.00");
  EXPECT_EQ(fmt("%#.0f", 2.0), "2.");
  EXPECT_EQ(fmt("%.3e", 1e-310), "1.000e-310");   // subnormal
}

TEST(FormatEngine, DigitsBeyondFiftySixArePrintedAsZeros) {
  std::string s = fmt("%.0f", 1e300);
  ASSERT_EQ(s.size(), 301u);
  EXPECT_EQ(s.substr(0, 15), "100000000000000");
  EXPECT_EQ(s.substr(56), std::string(245, '0'));
}

// An output function that refuses after a number of characters.
struct Limited {
  int left;
  std::string text;
};

int limited_out(void *target, const char *chars, int count) {
  auto *l = static_cast<Limited *>(target);
  if (count > l->left) return -1;
  l->left -= count;
  l->text.append(chars, static_cast<size_t>(count));
  return count;
}

int call_engine(Limited *l, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = MT_Vsprintf(format, args, l, limited_out);
  va_end(args);
  return n;
}

TEST(FormatEngine, FailedOutputStopsTheEngine) {
  Limited l{5, ""};
  EXPECT_EQ(call_engine(&l, "abc%sdef%d", "xyz", 1), -1);
  EXPECT_EQ(l.text, "abc");
  Limited ok{100, ""};
  EXPECT_EQ(call_engine(&ok, "abc%sdef%d", "xyz", 12), 11);
  Limited nul{100, ""};
  EXPECT_EQ(call_engine(&nul, nullptr), 6);
  EXPECT_EQ(nul.text, "(null)");
}

TEST(GenAsprintf, LongOutputCrossesTheFirstChunk) {
  std::string big(5000, 'x');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(fmt("%s", big.c_str()), big);
  // Pieces that end exactly at and just beyond the 1024-byte chunk.
  std::string a(1023, 'a');
  EXPECT_EQ(fmt("%s%c%s", a.c_str(), 'b', "cd"), a + "bcd");
  std::string literal(3000, '-');
  EXPECT_EQ(fmt((literal + "%d" + literal).c_str(), 42), literal + "42" + literal);
}

TEST(GenAsprintf, NullFormatIsReported) {
  MessageCapture capture;
  EXPECT_EQ(gen_asprintf(nullptr), nullptr);
  ASSERT_EQ(capture.messages.size(), 1u);
  EXPECT_EQ(capture.messages[0].first, GEN_LEVEL_ERROR);
  EXPECT_EQ(capture.messages[0].second, "[gen_asprintf]: Format was NULL (illegal).");
}

TEST(GenAsprintf, NullArgumentListIsReported) {
#if defined(__x86_64__)
  // Only where va_list is a pointer can a null list be passed at all.
  MessageCapture capture;
  EXPECT_EQ(gen_avsprintf("x", nullptr), nullptr);
  EXPECT_EQ(capture.lastText(), "[gen_asprintf]: vlist was NULL (illegal).");
#else
  GTEST_SKIP() << "va_list is not a pointer type here";
#endif
}

// ---------------------------------------------------------------------------
// MT_VsprintfTargetString.

struct Args {
  std::vector<int64_t> ints;
  std::vector<const char *> strings;
  std::vector<double> doubles;
  size_t nextInt = 0, nextString = 0, nextDouble = 0;
  int released = 0;
  std::vector<int> sizes;
  std::string out;
};

int64_t acc_int(void *c, int size) {
  auto *a = static_cast<Args *>(c);
  a->sizes.push_back(size);
  return a->ints.at(a->nextInt++);
}
int64_t acc_int64(void *c) {
  auto *a = static_cast<Args *>(c);
  a->sizes.push_back(8);
  return a->ints.at(a->nextInt++);
}
const void *acc_pointer(void *c) {
  auto *a = static_cast<Args *>(c);
  return reinterpret_cast<const void *>(static_cast<uintptr_t>(a->ints.at(a->nextInt++)));
}
double acc_double(void *c) {
  auto *a = static_cast<Args *>(c);
  return a->doubles.at(a->nextDouble++);
}
long double acc_long_double(void *c) { return acc_double(c); }
const char *acc_string(void *c) {
  auto *a = static_cast<Args *>(c);
  return a->strings.at(a->nextString++);
}
void acc_release(void *c, const char *) { ++static_cast<Args *>(c)->released; }
int acc_out(void *c, const char *chars, int count) {
  static_cast<Args *>(c)->out.append(chars, static_cast<size_t>(count));
  return count;
}

const MT_ArgAccessors kAccessors = {acc_int, acc_int64, acc_pointer, acc_double, acc_long_double,
                                    acc_string, acc_release};

std::string target_format(const char *format, Args &a) {
  int n = MT_VsprintfTargetString(format, &a, acc_out, &kAccessors);
  EXPECT_EQ(n, static_cast<int>(a.out.size()));
  return a.out;
}

TEST(TargetString, RomanNumerals) {
  Args a;
  a.ints = {1, 4, 9, 14, 40, 90, 400, 1994, 3999};
  EXPECT_EQ(target_format("%r %r %r %r %r %r %r %r %R", a), "i iv ix xiv xl xc cd mcmxciv MMMCMXCIX");
  Args b;
  b.ints = {0, 4000, -5, 12};
  EXPECT_EQ(target_format("%r %R %r %-6R|", b), "0 4000 -5 XII   |");
}

TEST(TargetString, ArgumentsComeFromTheAccessors) {
  Args a;
  a.ints = {-7, 65535, 0x100000000LL, 'z'};
  a.strings = {"str", nullptr};
  a.doubles = {2.5};
  EXPECT_EQ(target_format("%d %hu %lld %c %s %s %.1f", a), "-7 65535 4294967296 z str (null) 2.5");
  EXPECT_EQ(a.released, 2);
  EXPECT_EQ(a.sizes, (std::vector<int>{4, 2, 8, 4}));
}

TEST(TargetString, CountConversionIsRefusedButConsumesItsArgument) {
  MessageCapture capture;
  Args a;
  a.ints = {1234, 5};
  EXPECT_EQ(target_format("a%nb%d", a), "ab5");
  EXPECT_EQ(capture.lastText(), "%n format is not supported");
}

TEST(FloatClassification, NanCountsAsNotFinite) {
  const double nan = std::nan("");
  const double inf = HUGE_VAL;
  EXPECT_TRUE(gen_isnan(nan));
  EXPECT_FALSE(gen_isnan(inf));
  EXPECT_TRUE(gen_isnanf(std::nanf("")));
  EXPECT_TRUE(gen_isnanl(std::nanl("")));
  EXPECT_TRUE(gen_isinf(inf));
  EXPECT_TRUE(gen_isinf(nan));
  EXPECT_FALSE(gen_isinf(1.0));
  EXPECT_TRUE(gen_finite(1e308));
  EXPECT_FALSE(gen_finite(-inf));
  EXPECT_FALSE(gen_finitef(HUGE_VALF));
}

TEST(GenFreerTest, FreesMarkedBlocksExceptCancelled) {
  char *kept = gen_copy("kept");
  {
    GenFreer freer;
    freer.mark(gen_copy("one"));
    EXPECT_EQ(freer.mark(kept), kept);
    freer.mark(gen_copy("three"));
    freer.mark(static_cast<void *>(nullptr));
    freer.cancel(kept);
  }
  // The cancelled block is still ours (a double free would show under ASan).
  EXPECT_STREQ(kept, "kept");
  gen_free(kept);
}

TEST(GenFreerTest, StringArraysWithCountOrNullEnd) {
  GenFreer freer;
  char **counted = static_cast<char **>(gen_calloc(2, sizeof(char *)));
  counted[0] = gen_copy("a");
  counted[1] = gen_copy("b");
  EXPECT_EQ(freer.markStringArray(counted, 2), counted);
  char **terminated = static_cast<char **>(gen_calloc(3, sizeof(char *)));
  terminated[0] = gen_copy("x");
  terminated[1] = gen_copy("y");
  freer.markStringArray(terminated, -1);
  GenFreer none;
  char *c = none.mark(gen_copy("cancelled"));
  none.cancelAll();
  gen_free(c);
}

}  // namespace
