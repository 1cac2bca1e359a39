// string_parser (numbers with base detection, identifiers, string constants
// with C escapes, blank and comment scanning) and ut_macro_map. The client
// interface is exercised through the preprocessor and file-parser tests.
#include "shared/libcxxutil/string_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shared/libcxxutil/ut_macro_map.h"

namespace {

std::string decode(const std::string &text) {
  std::string buf(text);
  int n = string_parser::decode_string_constant(buf.data(), buf.data());
  return buf.substr(0, static_cast<size_t>(n));
}

TEST(StringParser, NumbersDetectTheirBase) {
  struct Case {
    const char *text;
    int32_t value;
    const char *rest;  // null: no number
  } cases[] = {
      {"123 x", 123, " x"}, {"0x1F", 31, ""}, {"0XfFz", 255, "z"}, {"017", 15, ""},
      {"089", 0, "89"},  // octal stops at the first digit that is not octal
      {"0xg", 0, "xg"},  // "0x" without digits is 0 followed by "x"
      {"0", 0, ""}, {"0xFFFFFFFF", -1, ""}, {"4294967297", 1, ""},  // modulo 2^32
      {"x1", -12345, nullptr},
  };
  for (const Case &c : cases) {
    int32_t v = -12345;
    const char *end = string_parser::parse_number(c.text, &v);
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_STREQ(end, c.rest) << c.text;
  }
  EXPECT_FALSE(string_parser::starts_number("-1"));
  EXPECT_TRUE(string_parser::starts_hex_number("0x0"));
  EXPECT_FALSE(string_parser::starts_hex_number("0x"));
  int32_t v = 0;
  EXPECT_STREQ(string_parser::parse_hex_number("0xa0;", &v), ";");
  EXPECT_EQ(v, 160);
}

TEST(StringParser, IdentifiersStringsBlanksAndComments) {
  ut_string s;
  EXPECT_STREQ(string_parser::parse_C_identifier("_a1b.c", s), ".c");
  EXPECT_STREQ(s.c_str(), "_a1b");
  EXPECT_EQ(string_parser::parse_C_identifier("1ab", s), nullptr);
  EXPECT_STREQ(string_parser::parse_OD_identifier("usr/lib_2.x", s), ".x");
  EXPECT_STREQ(s.c_str(), "usr/lib_2");
  EXPECT_STREQ(string_parser::parse_OD_identifier("10K=", s), "=");
  EXPECT_EQ(string_parser::parse_OD_identifier("-a", s), nullptr);
  EXPECT_TRUE(string_parser::starts_OD_identifier("/x") && !string_parser::starts_C_identifier("/x"));
  const char *text = R"("a\"b" rest)";
  EXPECT_STREQ(string_parser::parse_string_constant(text, s), " rest");
  EXPECT_STREQ(s.c_str(), "a\"b");
  EXPECT_EQ(string_parser::parse_string_constant("x", s), nullptr);
  EXPECT_STREQ(string_parser::skip_string_constant(text), " rest");
  EXPECT_STREQ(string_parser::skip_string_constant(R"("open\")"), "");
  EXPECT_STREQ(string_parser::skip_whitespace(" \t x "), "x ");
  const char *t = "value \t ", *blank = "   ";
  EXPECT_EQ(string_parser::skip_to_trailing_whitespace(t) - t, 5);
  EXPECT_EQ(string_parser::skip_to_trailing_whitespace(blank), blank);
  EXPECT_STREQ(string_parser::skip_to_trailing_comment(R"(a "b # c" # d)"), "# d");
  EXPECT_STREQ(string_parser::skip_to_trailing_comment(R"(a "b \" # c")"), "");
}

TEST(StringParser, StringConstantsDecodeCEscapes) {
  const std::pair<const char *, std::string> cases[] = {
      {R"("a\\b\"c\'d\?")", "a\\b\"c'd?"}, {R"("\a\b\f\n\r\t\v")", "\a\b\f\n\r\t\v"},
      {R"("\x41\x4a\x4g")", "AJ\x04g"},   {R"("\101\060\0")", std::string("A0\0", 3)},
      {R"("\0101")", "\b1"},  // at most three octal digits
      {R"("\4\60\q\$")", "460q$"},  // only 0 to 3 start an octal escape
      {R"("abc)", "abc"}, {R"("ab"cd)", "ab"},  // unterminated; ends at the quote
  };
  for (const auto &[text, want] : cases) EXPECT_EQ(decode(text), want) << text;
  for (char c : std::string("\a\b\f\n\r\t\v\\\"")) {
    char e = string_parser::string_escape_char_for_char(c);
    EXPECT_EQ(decode(std::string("\"\\") + e + "\""), std::string(1, c)) << int(c);
  }
  EXPECT_EQ(string_parser::string_escape_char_for_char('x') + string_parser::string_escape_char_for_char('$'), 0);
}

std::string text(const ut_string *value) { return value ? std::string(value->c_str()) : "<undefined>"; }

TEST(MacroMap, NameFormsReplacementCopiesAndBareMacros) {
  ut_macro_map m, other;
  const char *line = "NAME=value";
  m.insert(line, 4, "v1", true);
  m.insert("NAME", "v2");  // replaces value and flag
  bool flag = true;
  EXPECT_EQ(text(m.find("NAME", &flag)) + text(m.find(ut_string("NAME"))) + text(m.find(line, 4)) +
                text(m.find(line, 3)) + text(m.find("name")),
            "v2v2v2<undefined><undefined>");  // names compare exactly
  EXPECT_FALSE(flag);
  for (const char *bad : {static_cast<const char *>(nullptr), ""}) m.insert(bad, "x");
  m.insert("N", 0, "x");
  m.insert("BARE", nullptr);  // defined, with the empty default text
  ASSERT_NE(m.find("BARE"), nullptr);
  EXPECT_TRUE(m.find("BARE")->is_default());
  EXPECT_EQ(m.size(), 2);
  other.insert(ut_string("BARE"), ut_string("o"), true);
  other.insert("Z", "z");
  m.insert(other);
  m.insert(m);  // itself: nothing changes
  other.insert("Z", "changed");  // the copy is independent of the source
  EXPECT_EQ(text(m.find("BARE", &flag)) + text(m.find("Z")), "oz");
  EXPECT_TRUE(flag);
  std::string order;
  for (const auto &entry : m) order += entry.first + std::string(",");
  EXPECT_EQ(order, "BARE,NAME,Z,");
  EXPECT_TRUE(m.remove(line, 4) && m.remove(ut_string("Z")));
  EXPECT_FALSE(m.remove("NAME") || m.remove(static_cast<const char *>(nullptr)));
}

}  // namespace
