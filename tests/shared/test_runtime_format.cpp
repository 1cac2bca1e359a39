// Formatting engine: the places where it differs from the C library on
// purpose, rounding, failing output functions, the accessor-driven variant
// with roman numerals, and GenFreer.
#include <gtest/gtest.h>

#include <cstdint>
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

template <class A>
struct Case {
  const char *format;
  A arg;
  const char *want;
};

template <class A>
void check(std::initializer_list<Case<A>> cases) {
  for (const Case<A> &c : cases) EXPECT_EQ(fmt(c.format, c.arg), c.want) << c.format;
}

const double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::numeric_limits<double>::quiet_NaN();
char *const kNull = nullptr;

TEST(Format, IntegerDirectives) {
  check<int>({{"%q %d", 5, "q 5"},  // unknown conversions print themselves, take nothing
              {"%zu", 7, "zu"}, {"%hhd", 300, "hd"}, {"%5%|", 0, "%|"}, {"abc %-5", 0, "abc "},
              {"%08.3d", 255, "     255"},  // d and i switch zero padding off
              {"%05c", 'x', "0000x"}, {"%5.3 d|", 7, "  007|"}, {"%-4d|", 7, "7   |"},
              {"%#x", 255, "0xff"}, {"%+d", 5, "+5"}});
  check<unsigned>({{"%08.3x", 255u, "000000ff"}});
  // long is 32 bits, long long and L 64.
  check<long>({{"%ld", 0x100000005L, "5"}, {"%lx", static_cast<long>(0xabcdef0012345678UL), "12345678"}});
  check<long long>({{"%lld", 0x100000005LL, "4294967301"}, {"%Lx", 0x7bcdef0012345678LL, "7bcdef0012345678"},
                    {"%lld", INT64_MIN, "-9223372036854775808"}});
}

TEST(Format, FloatDirectives) {
  check<double>({{"%f", -kInf, "inf"}, {"%+e", kInf, "inf"}, {"%E", kInf, "inf"},  // no sign, lower case
                 {"%g", -kNan, "nan"}, {"%06f|", kInf, "   inf|"}, {"%-6G|", kNan, "nan   |"},
                 {"%f", -0.0, "0.000000"}, {"%.1e", -0.0, "0.0e+00"}, {"%.2f", -0.001, "-0.00"},
                 {"%Lf", 2.5, "2.500000"}, {"%.2 f", 1.0, "1.00"}, {"%08.3f", -3.14159, "-003.142"},
                 {"%g", 0.0001, "0.0001"}, {"%g", 0.00001, "1e-05"}, {"%e", 12345.678, "1.234568e+04"},
                 {"%.2e", 9.999, "1.00e+01"}, {"%.0f", 0.6, "1"}, {"%.1f", 0.05, "0.1"},  // half up
                 {"%.3g", 99950.0, "1e+05"}, {"%#.3g", 1.0, "1.00"}, {"%#.0f", 2.0, "2."},
                 {"%.3e", 1e-310, "1.000e-310"}});
  // Digits beyond the 56th are printed as zeros.
  std::string s = fmt("%.0f", 1e300);
  ASSERT_EQ(s.size(), 301u);
  EXPECT_EQ(s.substr(0, 15), "100000000000000");
  EXPECT_EQ(s.substr(56), std::string(245, '0'));
}

TEST(Format, PointersAndStrings) {
  // Pointers print 32 bits without a prefix.
  check<void *>({{"%p", reinterpret_cast<void *>(0x12345678abcdULL), "5678abcd"},
                 {"%P", reinterpret_cast<void *>(0x12345678abcdULL), "5678ABCD"},
                 {"%#p", reinterpret_cast<void *>(0x12345678abcdULL), "0x5678abcd"},
                 {"%10p|", reinterpret_cast<void *>(0xffULL), "        ff|"}, {"%p", nullptr, "0"}});
  check<const char *>({{"%05s", "x", "    x"}, {"%5.2s", "abc", "   ab"}, {"%s", kNull, "(null)"},
                       {"%.3s", kNull, "(nu"}, {"%8s", kNull, "  (null)"}});
  short s = -1;
  int i = -1;
  long long ll = -1;
  EXPECT_EQ(fmt("ab%hn|abc%n|abcd%lln", &s, &i, &ll), "ab|abc|abcd");
  EXPECT_EQ(s, 2);
  EXPECT_EQ(i, 6);
  EXPECT_EQ(ll, 11);
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

TEST(Format, FailedOutputStopsTheEngine) {
  Limited l{5, ""}, ok{100, ""}, nul{100, ""};
  EXPECT_EQ(call_engine(&l, "abc%sdef%d", "xyz", 1), -1);
  EXPECT_EQ(l.text, "abc");
  EXPECT_EQ(call_engine(&ok, "abc%sdef%d", "xyz", 12), 11);
  EXPECT_EQ(call_engine(&nul, nullptr), 6);
  EXPECT_EQ(nul.text, "(null)");
}

TEST(GenAsprintf, NullFormatOrArgumentListIsReported) {
  MessageCapture capture;
  EXPECT_EQ(gen_asprintf(nullptr), nullptr);
  EXPECT_EQ(capture.all(), "error: [gen_asprintf]: Format was NULL (illegal).\n");
#if defined(__x86_64__)
  // Only where va_list is a pointer can a null list be passed at all.
  EXPECT_EQ(gen_avsprintf("x", nullptr), nullptr);
  EXPECT_EQ(capture.lastText(), "[gen_asprintf]: vlist was NULL (illegal).");
#endif
}

// MT_VsprintfTargetString takes its arguments from accessor functions.
struct Args {
  explicit Args(std::vector<int64_t> i, std::vector<const char *> s = {}, std::vector<double> d = {})
      : ints(i), strings(s), doubles(d) {}
  std::vector<int64_t> ints;
  std::vector<const char *> strings;
  std::vector<double> doubles;
  size_t nextInt = 0, nextString = 0, nextDouble = 0;
  int released = 0;
  std::vector<int> sizes;  // of the integers taken
  std::string out;
};
Args &of(void *c) { return *static_cast<Args *>(c); }
int64_t takeInt(void *c, int size) {
  of(c).sizes.push_back(size);
  return of(c).ints.at(of(c).nextInt++);
}

const MT_ArgAccessors kAccessors = {
    takeInt, [](void *c) { return takeInt(c, 8); },
    [](void *c) { return reinterpret_cast<const void *>(static_cast<uintptr_t>(takeInt(c, 0))); },
    [](void *c) { return of(c).doubles.at(of(c).nextDouble++); },
    [](void *c) -> long double { return of(c).doubles.at(of(c).nextDouble++); },
    [](void *c) { return of(c).strings.at(of(c).nextString++); }, [](void *c, const char *) { ++of(c).released; }};

std::string target_format(const char *format, Args &a) {
  auto out = [](void *c, const char *chars, int count) {
    of(c).out.append(chars, static_cast<size_t>(count));
    return count;
  };
  int n = MT_VsprintfTargetString(format, &a, out, &kAccessors);
  EXPECT_EQ(n, static_cast<int>(a.out.size()));
  return a.out;
}

TEST(TargetString, RomanNumeralsAndArgumentsFromTheAccessors) {
  Args roman({1, 4, 9, 14, 40, 90, 400, 1994, 3999, 0, 4000, -5, 12});
  EXPECT_EQ(target_format("%r %r %r %r %r %r %r %r %R|%r %R %r %-6R|", roman),
            "i iv ix xiv xl xc cd mcmxciv MMMCMXCIX|0 4000 -5 XII   |");
  Args a({-7, 65535, 0x100000000LL, 'z'}, {"str", nullptr}, {2.5});
  EXPECT_EQ(target_format("%d %hu %lld %c %s %s %.1f", a), "-7 65535 4294967296 z str (null) 2.5");
  EXPECT_EQ(a.released, 2);
  EXPECT_EQ(a.sizes, (std::vector<int>{4, 2, 8, 4}));
  // %n is refused but consumes its argument.
  MessageCapture capture;
  Args n({1234, 5});
  EXPECT_EQ(target_format("a%nb%d", n), "ab5");
  EXPECT_EQ(capture.lastText(), "%n format is not supported");
}

// What GenFreer frees twice or leaks shows under the sanitizers.
TEST(GenFreerTest, FreesMarkedBlocksAndArraysExceptCancelled) {
  char *kept = gen_copy("kept");
  {
    GenFreer freer;
    freer.mark(gen_copy("one"));
    EXPECT_EQ(freer.mark(kept), kept);
    freer.mark(static_cast<void *>(nullptr));
    freer.cancel(kept);
    char **counted = static_cast<char **>(gen_calloc(2, sizeof(char *)));
    counted[0] = gen_copy("a");
    counted[1] = gen_copy("b");
    EXPECT_EQ(freer.markStringArray(counted, 2), counted);
    char **terminated = static_cast<char **>(gen_calloc(3, sizeof(char *)));
    terminated[0] = gen_copy("x");
    freer.markStringArray(terminated, -1);
  }
  EXPECT_STREQ(kept, "kept");
  GenFreer none;
  none.mark(kept);
  none.cancelAll();
  gen_free(kept);
}

}  // namespace
