// Tests of ut_string: sharing and copy-on-write, the append fast path,
// default versus empty string, quoting, editing boundaries, queries and hash.
#include "shared/libcxxutil/ut_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(UtString, CopiesShareTextUntilOneIsChanged) {
  ut_string a("hello");
  ut_string b(a);
  EXPECT_EQ(a.c_str(), b.c_str());  // shared characters
  EXPECT_EQ(a.ref_count(), 2);
  b.append(" world");
  EXPECT_STREQ(a.c_str(), "hello");
  EXPECT_STREQ(b.c_str(), "hello world");
  EXPECT_EQ(a.ref_count(), 1);
  // A shared growable block with room is copied, not written in place.
  ut_string c(b);
  const char *before = b.c_str();
  c.append("!");
  EXPECT_EQ(b.c_str(), before);
  EXPECT_STREQ(b.c_str(), "hello world");
  EXPECT_STREQ(c.c_str(), "hello world!");
}

TEST(UtString, AppendReallocatesOnlyWhenRoomIsUsedUp) {
  ut_string s("abcd");
  s.append('e');  // first append makes a growable copy
  int reallocations = 0;
  const char *block = s.c_str();
  int capacity = s.capacity();
  EXPECT_GE(capacity, 2 * s.length());
  std::string expected = "abcde";
  for (int i = 0; i < 2000; ++i) {
    char c = static_cast<char>('a' + i % 26);
    bool room = s.length() + 1 <= s.capacity();
    s.append(c);
    expected += c;
    if (s.c_str() != block) {
      EXPECT_FALSE(room) << "moved while there was room, at " << i;
      EXPECT_GE(s.capacity(), 2 * s.length());
      ++reallocations;
      block = s.c_str();
    } else {
      EXPECT_TRUE(room) << "stayed in place without room, at " << i;
    }
    ASSERT_EQ(s.ref_count(), 1);
  }
  EXPECT_EQ(expected, s.c_str());
  EXPECT_EQ(s.length(), static_cast<int>(expected.size()));
  // Doubling: about log2(2000 / 5) reallocations, far fewer than appends.
  EXPECT_GT(reallocations, 3);
  EXPECT_LT(reallocations, 12);
}

TEST(UtString, DefaultAndEmptyAreEqualButOnlyNullIsDefault) {
  ut_string fromNull(static_cast<const char *>(nullptr));
  ut_string fromEmpty("");
  ut_string byDefault;
  EXPECT_TRUE(fromNull == fromEmpty);
  EXPECT_TRUE(fromNull.is_default());
  EXPECT_TRUE(byDefault.is_null());
  EXPECT_FALSE(fromEmpty.is_default());
  EXPECT_STREQ(fromNull.c_str(), "");
  EXPECT_EQ(fromEmpty.length(), 0);

  ut_string s("text");
  s = static_cast<const char *>(nullptr);
  EXPECT_TRUE(s.is_default());
  s = "";
  EXPECT_FALSE(s.is_default());
  s.assignn("abc", 0);
  EXPECT_FALSE(s.is_default());
  s.assignn(nullptr, 3);
  EXPECT_TRUE(s.is_default());
  s.assign_concat(nullptr, "");
  EXPECT_FALSE(s.is_default());
  EXPECT_STREQ(s.c_str(), "");
  s.clear();
  EXPECT_TRUE(s.is_default());
}

TEST(UtString, AppendIgnoresNullZeroAndNonPositiveLengths) {
  ut_string s;
  s.append(static_cast<const char *>(nullptr));
  s.append('\0');
  s.appendn("abc", 0);
  s.appendn("abc", -4);
  s.append("");
  EXPECT_TRUE(s.is_default());
  s.appendn("abcdef", 2);
  s.append(ut_string("cd"));
  EXPECT_STREQ(s.c_str(), "abcd");
  ut_string stops("ab\0cd", 5);  // a length never passes a zero byte
  EXPECT_STREQ(stops.c_str(), "ab");
  EXPECT_EQ(stops.length(), 2);
}

TEST(UtString, AppendOwnTextToItself) {
  ut_string s("ab");
  s.append(s);
  EXPECT_STREQ(s.c_str(), "abab");
  s.append(s.c_str() + 1);  // in place: source lies before the write position
  EXPECT_STREQ(s.c_str(), "ababbab");
}

TEST(UtString, QuotedAppends) {
  ut_string s;
  s.appendq("say \"hi\" \\o/");
  EXPECT_STREQ(s.c_str(), "\"say \\\"hi\\\" \\\\o/\"");

  ut_string e;
  e.appende("a b");
  EXPECT_STREQ(e.c_str(), "\"a b\"");
  ut_string plain;
  plain.appende("ab");
  EXPECT_STREQ(plain.c_str(), "ab");
  ut_string slash;
  slash.appende("a\\b");  // no quoting needed: backslash kept single
  EXPECT_STREQ(slash.c_str(), "a\\b");
  ut_string both;
  both.appende("it's a\\b");
  EXPECT_STREQ(both.c_str(), "\"it's a\\\\b\"");
  ut_string n;
  n.appendnq("x y z", 3);
  EXPECT_STREQ(n.c_str(), "\"x y\"");
  n.appendne("pq rs", 2);
  EXPECT_STREQ(n.c_str(), "\"x y\"pq");
}

TEST(UtString, ChangeAndSwapCharCopyOnWrite) {
  ut_string a("hello");
  ut_string b(a);
  b.change_char(0, 'j');
  EXPECT_STREQ(a.c_str(), "hello");
  EXPECT_STREQ(b.c_str(), "jello");
  EXPECT_EQ(b.swap_char(4, '!'), 'o');
  EXPECT_EQ(b.swap_char(5, 'x'), 0);   // the terminator is outside the text
  EXPECT_EQ(b.swap_char(-1, 'x'), 0);
  EXPECT_STREQ(b.c_str(), "jell!");
  b.change_char(2, '\0');
  EXPECT_STREQ(b.c_str(), "je");
  EXPECT_EQ(b.length(), 2);
  b.append("ts");
  EXPECT_STREQ(b.c_str(), "jets");
}

TEST(UtString, EraseBoundaries) {
  ut_string s("abcdef");
  ut_string keep(s);
  s.erase(6, 1);   // pos == length: outside
  s.erase(-1, 2);
  s.erase(2, 0);
  EXPECT_STREQ(s.c_str(), "abcdef");
  s.erase(4, 100);  // clipped to the end
  EXPECT_STREQ(s.c_str(), "abcd");
  s.erase(0, 1);
  EXPECT_STREQ(s.c_str(), "bcd");
  EXPECT_EQ(s.length(), 3);
  EXPECT_STREQ(keep.c_str(), "abcdef");
}

TEST(UtString, ReplaceBoundaries) {
  ut_string s("abcdef");
  s.replace(7, 1, "X");  // outside 0 ... length
  EXPECT_STREQ(s.c_str(), "abcdef");
  s.replace(6, 3, "XY");  // at the end: append
  EXPECT_STREQ(s.c_str(), "abcdefXY");
  s.replace(1, 2, "1234");
  EXPECT_STREQ(s.c_str(), "a1234defXY");
  s.replace(5, 100, nullptr);
  EXPECT_STREQ(s.c_str(), "a1234");
  s.replace(0, 0, ">");
  EXPECT_STREQ(s.c_str(), ">a1234");
  EXPECT_EQ(s.length(), 6);
}

TEST(UtString, SubstrBoundaries) {
  ut_string s("abcdef");
  EXPECT_STREQ(s.substr(2, 2).c_str(), "cd");
  EXPECT_STREQ(s.substr(2).c_str(), "cdef");
  EXPECT_STREQ(s.substr(4, 100).c_str(), "ef");
  EXPECT_TRUE(s.substr(6, 1).is_default());
  EXPECT_TRUE(s.substr(-1, 1).is_default());
  EXPECT_TRUE(s.substr(1, 0).is_default());
  ut_string whole = s.substr(0, 6);
  EXPECT_EQ(whole.c_str(), s.c_str());  // shared, not copied
  EXPECT_EQ(s.ref_count(), 2);
  EXPECT_TRUE(ut_string("").substr(0).is_default());
}

TEST(UtString, CopyIntoBuffer) {
  ut_string s("abc");
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(s.copy(buf, -1), 4);
  EXPECT_STREQ(buf, "abc");
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(s.copy(buf, 2, 1), 2);
  EXPECT_EQ(buf[0], 'b');
  EXPECT_EQ(buf[1], 'c');
  EXPECT_EQ(buf[2], 'x');
  EXPECT_EQ(s.copy(buf, 10, 2), 2);  // "c" and the terminator
  EXPECT_STREQ(buf, "c");
  EXPECT_EQ(s.copy(buf, 1, 4), 0);
}

TEST(UtString, FindAndCompare) {
  ut_string s("abcabc");
  EXPECT_EQ(s.find('c'), 2);
  EXPECT_EQ(s.find('c', 3), 5);
  EXPECT_EQ(s.find('z'), -1);
  EXPECT_EQ(s.find('a', 6), -1);
  EXPECT_EQ(s.find("ca"), 2);
  EXPECT_EQ(s.find("bc", 2), 4);
  EXPECT_EQ(s.find("bcx"), -1);
  EXPECT_EQ(s.find(static_cast<const char *>(nullptr)), -1);

  EXPECT_LT(ut_string("abc").compare("abd"), 0);
  EXPECT_GT(ut_string("b").compare("abc"), 0);
  EXPECT_EQ(ut_string("abc").compare("abc"), 0);
  EXPECT_LT(ut_string("ab").compare("abc"), 0);
  // The first characters compare as signed chars: a byte above 127 sorts
  // before plain ASCII.
  EXPECT_LT(ut_string("\xe9t").compare("a"), 0);
  EXPECT_TRUE(ut_string("a") < ut_string("b"));
  EXPECT_TRUE(ut_string("a") != ut_string("b"));
  EXPECT_TRUE(ut_string("same") == ut_string("same"));
}

TEST(UtString, Concatenation) {
  ut_string a("foo");
  EXPECT_STREQ((a + ut_string("bar")).c_str(), "foobar");
  EXPECT_STREQ(("<" + a).c_str(), "<foo");
  EXPECT_STREQ((a + ">").c_str(), "foo>");
  ut_string none = ut_string() + ut_string();
  EXPECT_STREQ(none.c_str(), "");
  EXPECT_FALSE(none.is_default());
  ut_string concat;
  concat.assign_concat("foo", nullptr);
  EXPECT_STREQ(concat.c_str(), "foo");
}

TEST(UtString, ElfHash) {
  EXPECT_EQ(ut_string::hash("a", 1000), 97);
  EXPECT_EQ(ut_string::hash("ab", 100000), 1650);   // 97*16 + 98
  EXPECT_EQ(ut_string::hash("abc", 100000), 26499);  // 1650*16 + 99
  EXPECT_EQ(ut_string::hash("abc", 101), 26499 % 101);
  // Long enough for the top four bits to fold back.
  EXPECT_EQ(ut_string::hash("abcdefgh", 1 << 30), 144358056);
  EXPECT_EQ(ut_string::hash("printf", 1 << 30), 125371814);
  EXPECT_EQ(ut_string::hash("", 17), 0);
  EXPECT_EQ(ut_string::hash(nullptr, 17), 0);
  EXPECT_EQ(ut_string::hash("abc", 0), 0);
}

}  // namespace
