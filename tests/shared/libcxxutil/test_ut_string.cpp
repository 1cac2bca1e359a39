// ut_string, ut_char_buffer and ut_string_list: sharing and copy-on-write,
// default versus empty string, quoting, the editing boundaries, queries,
// the hash, and list links kept consistent through every edit.
#include "shared/libcxxutil/ut_string.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shared/libcxxutil/ut_char_buffer.h"
#include "shared/libcxxutil/ut_string_list.h"

namespace {

// The text, or "<default>" for the shared default string.
std::string text(const ut_string &s) { return s.is_default() ? "<default>" : s.c_str(); }

// The string `start` after `edit`; a second reference checks that every
// edit copies first.
std::string edited(const char *start, const std::function<void(ut_string &)> &edit) {
  ut_string s(start), keep(s);
  edit(s);
  EXPECT_STREQ(keep.c_str(), start ? start : "");
  EXPECT_EQ(s.length(), static_cast<int>(std::strlen(s.c_str())));
  return text(s);
}

// A heap string (peel) as text, freed.
std::string peeled(char *p) {
  std::string out = p;
  std::free(p);
  return out;
}

TEST(UtString, EditsAndTheirBoundaries) {
  using S = ut_string &;
  const ut_string abc("abcdef");
  const std::pair<std::string, const char *> cases[] = {
      {edited("hello", [](S s) { s.append(" world"); }), "hello world"}, {edited("ab", [](S s) { s.append(s); }), "abab"},
      {edited("ab", [](S s) { s.append('c'), s.append(s.c_str() + 1); }), "abcbc"},
      {edited(nullptr, [](S s) { s.append(nullptr), s.append('\0'), s.appendn("abc", -4), s.append(""); }), "<default>"},
      {edited(nullptr, [](S s) { s.appendn("abcdef", 2), s.append(ut_string("cd")); }), "abcd"},
      {text(ut_string("ab\0cd", 5)), "ab"},  // a length never passes a zero byte
      {edited("text", [](S s) { s = static_cast<const char *>(nullptr); }), "<default>"},
      {edited("text", [](S s) { s = ""; }), ""}, {edited("text", [](S s) { s.assignn("abc", 0); }), ""},
      {edited("text", [](S s) { s.assignn(nullptr, 3); }), "<default>"},
      {edited("text", [](S s) { s.assign_concat(nullptr, ""); }), ""},
      {edited("text", [](S s) { s.assign_concat("foo", nullptr); }), "foo"},
      {edited("text", [](S s) { s.clear(); }), "<default>"},
      {edited(nullptr, [](S s) { s.appendq("say \"hi\" \\o/"); }), "\"say \\\"hi\\\" \\\\o/\""},
      {edited(nullptr, [](S s) { s.appende("a b"); }), "\"a b\""},
      {edited(nullptr, [](S s) { s.appende("a\\b"); }), "a\\b"},  // no quoting needed: kept single
      {edited(nullptr, [](S s) { s.appende("it's a\\b"); }), "\"it's a\\\\b\""},
      {edited(nullptr, [](S s) { s.appendnq("x y z", 3), s.appendne("pq rs", 2); }), "\"x y\"pq"},
      {edited("hello", [](S s) { s.change_char(0, 'j'), s.change_char(9, 'x'); }), "jello"},
      {edited("hello", [](S s) { s.change_char(2, '\0'), s.append("ts"); }), "hets"},
      {edited("abcdef", [](S s) { s.erase(6, 1), s.erase(-1, 2), s.erase(2, 0); }), "abcdef"},
      {edited("abcdef", [](S s) { s.erase(4, 100), s.erase(0, 1); }), "bcd"},
      {edited("abcdef", [](S s) { s.replace(7, 1, "X"); }), "abcdef"},  // outside 0 ... length
      {edited("abcdef", [](S s) { s.replace(6, 3, "XY"); }), "abcdefXY"},
      {edited("abcdef", [](S s) { s.replace(1, 2, "1234"); }), "a1234def"},
      {edited("abcdef", [](S s) { s.replace(2, 100, nullptr), s.replace(0, 0, ">"); }), ">ab"},
      {text(abc.substr(2, 2)) + text(abc.substr(4, 100)), "cdef"}, {text(abc.substr(6, 1)), "<default>"},
      {text(abc.substr(-1, 1)) + text(abc.substr(1, 0)) + text(ut_string("").substr(0)), "<default><default><default>"},
      {text(ut_string("foo") + ut_string("bar")) + text("<" + ut_string("foo")) + text(ut_string("foo") + ">"),
       "foobar<foofoo>"},
      {text(ut_string() + ut_string()), ""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
}

TEST(UtString, CopiesShareTextUntilOneIsChanged) {
  ut_string a("hello"), b(a);
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_EQ(a.ref_count(), 2);
  EXPECT_EQ(a.substr(0, 5).c_str(), a.c_str());  // the whole string: shared, not copied
  b.append(" world");
  ut_string c(b);  // a shared growable block with room is copied, not written in place
  c.append("!");
  EXPECT_EQ(b.swap_char(4, '!') + b.swap_char(11, 'x') + b.swap_char(-1, 'x'), 'o');  // the terminator is outside
  EXPECT_EQ(text(a) + "|" + text(b) + "|" + text(c), "hello|hell! world|hello world!");
  std::string expected = c.c_str();
  for (int i = 0; i < 2000; ++i) c.append(static_cast<char>('a' + i % 26)), expected += static_cast<char>('a' + i % 26);
  EXPECT_EQ(expected, c.c_str());
}

TEST(UtString, QueriesCompareCopyAndHash) {
  ut_string s("abcabc");
  const std::pair<int, int> cases[] = {
      {s.find('c'), 2}, {s.find('c', 3), 5}, {s.find('z'), -1}, {s.find('a', 6), -1}, {s.find("ca"), 2},
      {s.find("bc", 2), 4}, {s.find("bcx"), -1}, {s.find(static_cast<const char *>(nullptr)), -1},
      {ut_string("abc").compare("abd") < 0, 1}, {ut_string("b").compare("abc") > 0, 1},
      {ut_string("abc").compare("abc"), 0}, {ut_string("ab").compare("abc") < 0, 1},
      {ut_string("\xe9t").compare("a") < 0, 1},  // signed chars: a byte above 127 sorts first
      {ut_string(static_cast<const char *>(nullptr)) == ut_string(""), 1}, {ut_string("a") != ut_string("b"), 1},
      {ut_string::hash("abc", 100000), 26499}, {ut_string::hash("abc", 101), 26499 % 101},  // (97*16 + 98)*16 + 99
      {ut_string::hash("printf", 1 << 30), 125371814}, {ut_string::hash("abcdefgh", 1 << 30), 144358056},
      {ut_string::hash("", 17), 0},
      {ut_string::hash(nullptr, 17), 0}, {ut_string::hash("abc", 0), 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(ut_string("abc").copy(buf, 2, 1), 2);
  EXPECT_EQ(std::string(buf, 3), "bcx");
  EXPECT_EQ(ut_string("abc").copy(buf, 1, 4), 0);
  EXPECT_EQ(ut_string("abc").copy(buf, -1) + ut_string("abc").copy(buf + 4, 10, 2), 6);
  EXPECT_EQ(std::string(buf) + (buf + 4), "abcc");
}

TEST(UtCharBuffer, EditsCountFromTheCurrentStartQuotingTrimmingAndZeroBytes) {
  ut_char_buffer buf("xxabcdef");
  buf.remove_first_chars(2);
  EXPECT_EQ(text(buf.substr(1, 2)) + text(buf.substr(3)) + text(buf.substr(6)) + text(buf.substr(0, 0)),
            "bcdef<default><default>");
  EXPECT_EQ((std::vector<int>{buf.find('c'), buf.find("de"), buf.find('c', 3), buf.find("xx")}),
            (std::vector<int>{2, 3, -1, -1}));
  char out[8] = {};
  EXPECT_EQ(buf.copy(out, -1, 4), 3);
  EXPECT_STREQ(out, "ef");
  ut_char_buffer copy(buf), assigned(ut_string("str"));  // a copy of a buffer with a dropped front
  assigned = buf;
  assigned.remove_first_chars(3);
  EXPECT_EQ(peeled(assigned.peel()), "def");  // moves the text to the front of its block
  buf.erase(1, 2), buf.erase(2, -1), buf.erase(2, 1);  // the last two outside
  buf.add_char('z');  // the freed tail is zero: no stale bytes
  EXPECT_STREQ(buf.c_str(), "adz");
  copy = copy.c_str() + 2;  // assignment from its own text
  copy.add_strn("x\0yz", 4), copy.add_strn(nullptr, 3), copy.add_str(ut_string("!"));
  copy.add_str(copy.c_str());  // its own text, across a reallocation
  EXPECT_EQ(peeled(copy.peel()), "cdefx!cdefx!");
  EXPECT_TRUE(copy.is_empty());  // usable after peel
  copy.ensure_capacity(64);
  for (int i = 0; i < 500; ++i)  // a queue: add at the back, consume at the front
    copy.add_str("0123456789"), copy.remove_first_chars(i % 2 ? 15 : 5);
  EXPECT_TRUE(copy.is_empty() && copy.get_first_char() == 0);

  ut_char_buffer q;
  q.add_strq("a\"b\\c"), q.add_strnq(" xyz", 3), q.add_stre("plain\\"), q.add_stre("two words"), q.add_streq("it's");
  q.add_strf("|%d %-4s|", 42, "s"), q.add_strf(nullptr);
  EXPECT_STREQ(q.c_str(), "\"a\\\"b\\\\c\"\" xy\"plain\\\"two words\"\"it's\"|42 s   |");
  const int before = q.length();
  q.add_strf("[%s]", std::string(3000, 'q').c_str());
  EXPECT_EQ(q.get_last_char(), ']');
  EXPECT_EQ(q.length(), before + 3002);
  ut_char_buffer t(" \t ab c\t \t");
  t.remove_initial_spaces_and_tabs(), t.remove_trailing_spaces_and_tabs();
  EXPECT_EQ(std::string(1, t.get_first_char()) + t.get_second_char() + t.get_last_char(), "abc");
  t.remove_last_char(), t.remove_first_char(), t.remove_first_char();
  EXPECT_EQ(t.get_second_char(), 0);
  t.remove_last_char(), t.remove_last_char();  // the second on an empty buffer: nothing
  EXPECT_TRUE(t.is_empty() && t.get_last_char() == 0);
  ut_char_buffer z("ab");
  z.add_extra_null_char(), z.add_str("cd");
  ut_char_buffer zcopy(z);
  EXPECT_EQ(std::string(zcopy.c_str(), zcopy.length()), std::string("ab\0cd", 5));
  EXPECT_EQ(z.find('\0'), 2);
  EXPECT_EQ(std::string(ut_char_buffer("abcdef", 4).c_str()) + ut_char_buffer("abc", -1).c_str(), "abcd");
}

// The list read forwards, checked against a walk backwards and the count.
std::string contents(const ut_string_list &list) {
  std::string forward, backward;
  int n = 0;
  for (const ut_string &s : list) forward += (n++ ? "," : "") + std::string(s.c_str());
  for (ut_string_list_node *node = list.tail; node; node = node->prev)
    backward = std::string(node->value.c_str()) + (node == list.tail ? "" : ",") + backward;
  EXPECT_TRUE(n == list.count && forward == backward && (list.head == nullptr) == (list.tail == nullptr));
  return forward;
}

TEST(UtStringList, EditsKeepTheLinksConsistent) {
  ut_string_list list, only, other;
  list.push_back("b"), list.push_front("a"), list.push_back(ut_string("x"));
  list.push_back_concat("e", nullptr), list.push_front_concat("<", "0");
  list.insert(list.find("x"), "c"), list.insert(list.end(), "x");
  EXPECT_EQ(contents(list), "<0,a,b,c,x,e,x");
  EXPECT_TRUE(list.find("zz").is_end());
  EXPECT_STREQ(list.erase(list.begin())->c_str(), "a");
  EXPECT_FALSE(list.erase(list.find("x")).is_end());
  EXPECT_TRUE(list.erase(list.end()).is_end());
  list.push_front("x"), list.remove("x");
  EXPECT_EQ(contents(list), "a,b,c,e");
  only.push_back("x");
  only.remove(*only.begin());  // the value to remove lives in the list itself
  EXPECT_EQ(contents(only), "");
  for (const char *s : {"pear", "Apple", "fig", "apple", "", "fig"}) only.push_back(s);
  only.sort();
  EXPECT_EQ(contents(only), ",Apple,apple,fig,fig,pear");
  ut_string_list copy(only);
  EXPECT_TRUE(copy == only);
  copy.push_back("3"), other.push_back("1");
  EXPECT_TRUE(copy != only && !(other == list));
  other = list;
  other.append_list(other);  // appending a list to itself doubles it once
  std::unique_ptr<ut_string_list> dup(ut_string_list::copy_list(&other));
  other.clear();
  EXPECT_EQ(contents(*dup) + contents(other), "a,b,c,e,a,b,c,e");
  EXPECT_EQ(ut_string_list::copy_list(nullptr), nullptr);
}

}  // namespace
