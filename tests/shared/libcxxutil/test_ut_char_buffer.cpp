// Tests of ut_char_buffer: growth, dropping characters at the front, peel,
// quoting, formatting, trimming and the substr/erase/copy boundaries.
#include "shared/libcxxutil/ut_char_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(UtCharBuffer, RemoveFirstCharsStopsAtTheEndAndPeelLeavesItUsable) {
  ut_char_buffer buf("abcdef");
  buf.remove_first_chars(3);
  EXPECT_STREQ(buf.c_str(), "def");
  EXPECT_EQ(buf.length(), 3);
  char *block = buf.peel();
  EXPECT_STREQ(block, "def");
  std::free(block);
  EXPECT_TRUE(buf.is_empty());  // the buffer is usable afterwards
  buf.add_str("again");
  buf.remove_first_chars(10);  // never passes the end
  EXPECT_TRUE(buf.is_empty());
  EXPECT_EQ(buf.get_first_char(), 0);
  buf.add_str("xy");
  EXPECT_STREQ(buf.c_str(), "xy");
}

TEST(UtCharBuffer, GrowsFromEightBytesKeepingContent) {
  ut_char_buffer buf;
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    buf.add_char(static_cast<char>('a' + i % 26));
    expected += static_cast<char>('a' + i % 26);
  }
  EXPECT_EQ(expected, buf.c_str());
  EXPECT_EQ(buf.length(), 1000);
  buf.add_char('\0');  // ignored
  EXPECT_EQ(buf.length(), 1000);
}

TEST(UtCharBuffer, FrontDropAndRefillReusesBlock) {
  ut_char_buffer buf;
  buf.ensure_capacity(64);
  int capacity = buf.capacity();
  EXPECT_GE(capacity, 64);
  // A queue pattern: add at the back, consume at the front.
  for (int i = 0; i < 500; ++i) {
    buf.add_str("0123456789");
    buf.remove_first_chars(10);
  }
  EXPECT_TRUE(buf.is_empty());
  EXPECT_EQ(buf.capacity(), capacity);
}

TEST(UtCharBuffer, ExtraNullCharCountsAsContent) {
  ut_char_buffer buf("ab");
  buf.add_extra_null_char();
  buf.add_str("cd");
  EXPECT_EQ(buf.length(), 5);
  EXPECT_EQ(std::memcmp(buf.c_str(), "ab\0cd", 6), 0);
  EXPECT_EQ(buf.find('\0'), 2);
  ut_char_buffer copy(buf);
  EXPECT_EQ(copy.length(), 5);
  EXPECT_EQ(std::memcmp(copy.c_str(), "ab\0cd", 6), 0);
}

TEST(UtCharBuffer, ConstructionAndAssignment) {
  EXPECT_STREQ(ut_char_buffer(static_cast<const char *>(nullptr)).c_str(), "");
  EXPECT_STREQ(ut_char_buffer("abcdef", 4).c_str(), "abcd");
  EXPECT_STREQ(ut_char_buffer("abc", -1).c_str(), "");
  EXPECT_STREQ(ut_char_buffer(ut_string("str")).c_str(), "str");
  ut_char_buffer dropped("xxhello");
  dropped.remove_first_chars(2);
  ut_char_buffer copy(dropped);
  EXPECT_STREQ(copy.c_str(), "hello");
  copy = static_cast<const char *>(nullptr);
  EXPECT_STREQ(copy.c_str(), "");
  copy = dropped;
  EXPECT_STREQ(copy.c_str(), "hello");
  copy = copy.c_str() + 2;  // assignment from its own text
  EXPECT_STREQ(copy.c_str(), "llo");
}

TEST(UtCharBuffer, AddVariants) {
  ut_char_buffer buf;
  buf.add_strn("abcdef", 3);
  buf.add_strn("x\0yz", 4);  // stops at the zero byte
  buf.add_strn(nullptr, 3);
  buf.add_str(ut_string("!"));
  EXPECT_STREQ(buf.c_str(), "abcx!");
  buf.add_str(buf.c_str());  // its own text, across a reallocation
  EXPECT_STREQ(buf.c_str(), "abcx!abcx!");

  ut_char_buffer q;
  q.add_strq("a\"b\\c");
  q.add_char(' ');
  q.add_strnq("xyz", 2);
  q.add_char(' ');
  q.add_stre("plain\\");
  q.add_char(' ');
  q.add_stre("two words");
  q.add_char(' ');
  q.add_streq("it's");
  EXPECT_STREQ(q.c_str(), "\"a\\\"b\\\\c\" \"xy\" plain\\ \"two words\" \"it's\"");
}

TEST(UtCharBuffer, FormattedAdd) {
  ut_char_buffer buf("n=");
  buf.add_strf("%d, s=%s, pad=%-4d|", 42, "str", 7);
  EXPECT_STREQ(buf.c_str(), "n=42, s=str, pad=7   |");
  std::string longText(3000, 'q');
  buf.add_strf("[%s]", longText.c_str());
  EXPECT_EQ(buf.length(), 22 + 3002);
  EXPECT_EQ(buf.get_last_char(), ']');
  buf.add_strf(nullptr);
  EXPECT_EQ(buf.length(), 22 + 3002);
}

TEST(UtCharBuffer, CharAccessAndTrimming) {
  ut_char_buffer buf(" \t ab c\t \t");
  buf.remove_initial_spaces_and_tabs();
  buf.remove_trailing_spaces_and_tabs();
  EXPECT_STREQ(buf.c_str(), "ab c");
  EXPECT_EQ(buf.get_first_char(), 'a');
  EXPECT_EQ(buf.get_second_char(), 'b');
  EXPECT_EQ(buf.get_last_char(), 'c');
  buf.remove_last_char();
  buf.remove_first_char();
  EXPECT_STREQ(buf.c_str(), "b ");
  buf.remove_first_char();
  EXPECT_EQ(buf.get_second_char(), 0);
  buf.remove_last_char();
  buf.remove_last_char();  // on an empty buffer: nothing
  EXPECT_EQ(buf.get_last_char(), 0);
  EXPECT_TRUE(buf.is_empty());
  ut_char_buffer blanks(" \t ");
  blanks.remove_initial_spaces_and_tabs();
  EXPECT_TRUE(blanks.is_empty());
}

TEST(UtCharBuffer, SubstrEraseCopyFindCountFromStart) {
  ut_char_buffer buf("--abcdef");
  buf.remove_first_chars(2);
  EXPECT_STREQ(buf.substr(1, 2).c_str(), "bc");
  EXPECT_STREQ(buf.substr(3).c_str(), "def");
  EXPECT_TRUE(buf.substr(6).is_default());
  EXPECT_TRUE(buf.substr(0, 0).is_default());
  EXPECT_EQ(buf.find('c'), 2);
  EXPECT_EQ(buf.find('c', 3), -1);
  EXPECT_EQ(buf.find("de"), 3);
  EXPECT_EQ(buf.find("--"), -1);

  char out[8] = {};
  EXPECT_EQ(buf.copy(out, -1, 4), 3);
  EXPECT_STREQ(out, "ef");

  buf.erase(1, 2);
  EXPECT_STREQ(buf.c_str(), "adef");
  buf.erase(2, -1);
  EXPECT_STREQ(buf.c_str(), "ad");
  buf.erase(2, 1);  // outside
  buf.erase(0, 0);
  EXPECT_STREQ(buf.c_str(), "ad");
  EXPECT_EQ(buf.length(), 2);
  // The freed tail is zero: adding after an erase leaves no stale bytes.
  buf.add_char('z');
  EXPECT_STREQ(buf.c_str(), "adz");
}

}  // namespace
