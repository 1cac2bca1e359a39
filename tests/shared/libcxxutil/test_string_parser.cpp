// string_parser: numbers with base detection, identifiers, string
// constants with C escapes, comment and blank scanning.
#include "shared/libcxxutil/string_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int32_t number(const char *text, std::string *rest = nullptr) {
  int32_t v = -12345;
  const char *end = string_parser::parse_number(text, &v);
  if (rest) *rest = end ? end : "(null)";
  return v;
}

std::string decode(const char *text) {
  std::string buf(text);
  int n = string_parser::decode_string_constant(buf.data(), buf.data());
  return buf.substr(0, static_cast<size_t>(n));
}

TEST(StringParser, NumbersDetectTheirBase) {
  std::string rest;
  EXPECT_EQ(number("123 x", &rest), 123);
  EXPECT_EQ(rest, " x");
  EXPECT_EQ(number("0x1F", &rest), 31);
  EXPECT_EQ(number("0XfFz", &rest), 255);
  EXPECT_EQ(rest, "z");
  EXPECT_EQ(number("017", &rest), 15);
  // An octal number stops at the first digit that is not octal.
  EXPECT_EQ(number("089", &rest), 0);
  EXPECT_EQ(rest, "89");
  // "0x" without hexadecimal digits is the number 0 followed by "x".
  EXPECT_EQ(number("0xg", &rest), 0);
  EXPECT_EQ(rest, "xg");
  EXPECT_EQ(number("0", &rest), 0);
  EXPECT_EQ(rest, "");
  // Values wrap modulo 2^32.
  EXPECT_EQ(number("0xFFFFFFFF"), -1);
  EXPECT_EQ(number("4294967297"), 1);
  EXPECT_EQ(string_parser::parse_number("x1", nullptr), nullptr);
  EXPECT_FALSE(string_parser::starts_number("-1"));
  EXPECT_TRUE(string_parser::starts_hex_number("0x0"));
  EXPECT_FALSE(string_parser::starts_hex_number("0x"));
  int32_t v = 0;
  EXPECT_STREQ(string_parser::parse_hex_number("0xa0;", &v), ";");
  EXPECT_EQ(v, 160);
}

TEST(StringParser, IdentifiersOfBothKinds) {
  ut_string s;
  EXPECT_STREQ(string_parser::parse_C_identifier("_a1b.c", s), ".c");
  EXPECT_STREQ(s.c_str(), "_a1b");
  EXPECT_EQ(string_parser::parse_C_identifier("1ab", s), nullptr);
  EXPECT_STREQ(string_parser::parse_OD_identifier("usr/lib_2.x", s), ".x");
  EXPECT_STREQ(s.c_str(), "usr/lib_2");
  EXPECT_STREQ(string_parser::parse_OD_identifier("10K=", s), "=");
  EXPECT_EQ(string_parser::parse_OD_identifier("-a", s), nullptr);
  EXPECT_TRUE(string_parser::starts_OD_identifier("/x"));
  EXPECT_FALSE(string_parser::starts_C_identifier("/x"));
}

TEST(StringParser, StringConstantsDecodeCEscapes) {
  EXPECT_EQ(decode(R"("a\\b\"c\'d\?")"), "a\\b\"c'd?");
  EXPECT_EQ(decode(R"("\a\b\f\n\r\t\v")"), "\a\b\f\n\r\t\v");
  EXPECT_EQ(decode(R"("\x41\x4a\x4g")"), "AJ\x04g");
  EXPECT_EQ(decode(R"("\101\060\0")"), std::string("A0\0", 3));
  EXPECT_EQ(decode(R"("\0101")"), "\b1");  // at most three octal digits
  // \4 and \6 start no octal escape (only 0 to 3 do): they stand for
  // themselves.
  EXPECT_EQ(decode(R"("\4\60\q\$")"), "460q$");
  EXPECT_EQ(decode(R"("abc)"), "abc");  // unterminated
  EXPECT_EQ(decode(R"("ab"cd)"), "ab");

  const char *text = R"("a\"b" rest)";
  EXPECT_STREQ(string_parser::skip_string_constant(text), " rest");
  EXPECT_STREQ(string_parser::skip_string_constant(R"("open\")"), "");
  ut_string s;
  EXPECT_STREQ(string_parser::parse_string_constant(text, s), " rest");
  EXPECT_STREQ(s.c_str(), "a\"b");
  EXPECT_EQ(string_parser::parse_string_constant("x", s), nullptr);
}

TEST(StringParser, EscapeLettersRoundTripThroughDecoding) {
  for (char c : std::string("\a\b\f\n\r\t\v\\\"")) {
    char e = string_parser::string_escape_char_for_char(c);
    ASSERT_NE(e, 0) << int(c);
    EXPECT_EQ(decode((std::string("\"\\") + e + "\"").c_str()), std::string(1, c));
  }
  EXPECT_EQ(string_parser::string_escape_char_for_char('x'), 0);
  EXPECT_EQ(string_parser::string_escape_char_for_char('$'), 0);
}

TEST(StringParser, BlanksAndComments) {
  EXPECT_STREQ(string_parser::skip_whitespace(" \t x "), "x ");
  const char *t = "value \t ";
  EXPECT_EQ(string_parser::skip_to_trailing_whitespace(t) - t, 5);
  const char *blank = "   ";
  EXPECT_EQ(string_parser::skip_to_trailing_whitespace(blank), blank);
  EXPECT_STREQ(string_parser::skip_to_trailing_comment(R"(a "b # c" # d)"), "# d");
  EXPECT_STREQ(string_parser::skip_to_trailing_comment(R"(a "b \" # c")"), "");
}

}  // namespace
