// Runtime library string and file-name helpers, and MString.
#include <gtest/gtest.h>

#include <string>

#include "runtime_test_support.h"
#include "shared/indgen.h"
#include "shared/mstring.h"

namespace {

struct Case {
  std::string got;
  const char *want;
};

void check(std::initializer_list<Case> cases) {
  int i = 0;
  for (const Case &c : cases) EXPECT_EQ(c.got, c.want) << "case " << i++;
}

std::string canonical(const char *name) {
  std::string s = name;
  gen_canonicalfilename(s.data());
  return s.c_str();
}

TEST(Strings, CopiesJoinsAndQuoting) {
  const unsigned char bytes[] = {0x01, 0xab};
  const char raw[] = "tab\there\nquote\" bell\a \x01 end\\";
  check({{take(gen_copy("abc")), "abc"}, {take(gen_copyn("abcdef", 3)), "abc"}, {take(gen_copyn("ab", 10)), "ab"},
         {take(gen_copyn("ab", 0)), ""}, {take(gen_concat("ab", nullptr)), "ab"},
         {take(gen_concat3("a", "b", "c")), "abc"}, {take(gen_concat4("a", nullptr, "c", "d")), "acd"},
         {take(gen_concat5("1", "2", "3", "4", "5")), "12345"}, {take(gen_fconcat(gen_copy("x"), "y")), "xy"},
         {take(gen_fconcat3(gen_copy("x"), "y", "z")), "xyz"}, {take(gen_fconcat4(nullptr, "y", "z", "w")), "yzw"},
         {take(gen_concat_sep("dir", '/', "file")), "dir/file"}, {take(gen_concat_sep("a", 0, "b")), "ab"},
         {take(gen_concat_sep(nullptr, ',', "b")), "b"}, {take(gen_concat_sep("a", ',', nullptr)), "a,"},
         {take(gen_quotify_string("say \"hi\" it's a\\b")), "\"say \\\"hi\\\" it\\'s a\\\\b\""},
         {take(gen_dequotify_string("\"say \\\"hi\\\" it\\'s a\\\\b\"")), "say \"hi\" it's a\\b"},
         {take(gen_dequotify_string("'single'")), "single"}, {take(gen_dequotify_string("")), ""},
         {take(gen_dequotify_string("\"")), "\""}, {take(gen_dequotify_string("a\\tb\\n\\101\\x42")), "a\tb\nAB"},
         {take(gen_escapify_string(raw)), "tab\\there\\nquote\\\" bell\\a \\001 end\\\\"},
         {take(gen_dequotify_string("tab\\there\\nquote\\\" bell\\a \\001 end\\\\")), raw},
         {take(gen_binary_to_string(bytes, 2)), "10ba"}, {take(gen_binary_to_string(bytes, 0)), ""}});
  EXPECT_EQ(gen_copy(nullptr), nullptr);
}

TEST(Strings, ComparisonsAndSearch) {
  const char *hay = "find the needle";
  struct {
    bool got, want;
  } cases[] = {
      {gen_strequal("ABC", "abc"), true}, {gen_strequal(nullptr, nullptr), true},
      {gen_strequal(nullptr, ""), false}, {gen_strequal("abc", "abcd"), false}, {gen_strequal("abcd", "abc"), false},
      {gen_strequal("\xc4", "\xe4"), false},  // only ASCII letters fold
      {gen_strnequal("HELLO world", "hello WORLD!", 11), true}, {gen_strnequal("ab", "abc", 3), false},
      {gen_strnequal("ab", "ab", 5), true}, {gen_strprefix("-sr_debug", "-sr_"), true},
      {gen_strprefix("-SR_debug", "-sr_"), false}, {gen_strcaseprefix("-SR_debug", "-sr_"), true},
      {gen_strcaseprefix("-s", "-sr_"), false}, {gen_strprefix(nullptr, "a"), false},
      {gen_strstr(hay, "needle") == hay + 9, true}, {gen_strstr(hay, nullptr) == nullptr, true},
      {gen_strtoul("0x1f", nullptr, 16) == 31u, true}, {gen_isalnum('z'), true}, {gen_isalnum('_'), false},
      {gen_isalnum(0xe4), false}, {gen_isspace('\r'), true}, {gen_isspace('x'), false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
}

TEST(FileNames, JoinCanonicalBaseAndSuffix) {
  check({{take(gen_sconcat("/a/", "b")), "/a/b"}, {take(gen_sconcat("/a", "/c")), "/c"},
         {take(gen_sconcat("/a", "~/c")), "/a/~/c"}, {take(gen_sconcat("", "x/y")), "x/y"},
         {take(gen_sconcat("", "")), "."}, {take(gen_sconcat(".", ".")), "."},
         {take(gen_sconcat("/a/b", "../c/./d/")), "/a/c/d"}, {take(gen_sconcat("a", "..")), "."},
         {take(gen_dconcat("/a", "~/c")), "~/c"}, {take(gen_dconcat("/a", "")), "/a"},
         {take(gen_dconcat("/a", nullptr)), "/a"}, {take(gen_dconcat("/a//", "b")), "/a/b"},
         {canonical("/a/./b//c/"), "/a/b/c"}, {canonical("a/b/../c"), "a/c"},
         {canonical("../../a/b/../../.."), "../../.."}, {canonical("/.."), "/"}, {canonical("/a/.."), "/"},
         {canonical("./"), ""}, {canonical("x/y/z/../../w"), "x/w"}, {gen_basename("/usr/bin/ls"), "ls"},
         {gen_basename("ls"), "ls"}, {gen_basename("dir/"), ""}, {take(gen_dirname("/x")), "/"},
         {take(gen_dirname("a/b/c")), "a/b"},
         {take(gen_changesuffix("dir.d/name.txt", "cfg")), "dir.d/name.cfg"},
         {take(gen_changesuffix("name", "cfg")), "name.cfg"},
         {take(gen_changesuffix("dir.d/name", ".cfg")), "dir.d/name.cfg"},
         {take(gen_changesuffix("a.b.c", "x")), "a.b.x"},
         {take(gen_expand_filename("~no_such_user_korvo/x")), "~no_such_user_korvo/x"},
         {take(gen_expand_filename("plain")), "plain"}, {take(gen_realpath("/no/such/path/here")), "/no/such/path/here"},
         {take(gen_realpath("/")), "/"}});
  EXPECT_TRUE(gen_absolutefilename("/a") && gen_absolutefilename("~a"));
  EXPECT_FALSE(gen_absolutefilename("a/b") || gen_absolutefilename(nullptr));
  EXPECT_EQ(gen_dirname("x"), nullptr);
  const char *home = gen_gethomedir();
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(take(gen_expand_filename("~/x")), std::string(home) + "/x");
  EXPECT_EQ(take(gen_expand_filename("~")), home);
}

TEST(MStringTest, AppendsGrowTheStringAndPeelHandsItOver) {
  MString *s = MString_new(0);
  EXPECT_EQ(MString_append(s, "hello"), 5);
  EXPECT_EQ(MString_appendn(s, ", world!", 7), 7);
  EXPECT_EQ(MString_appendn(s, "ab\0cd", 5), 2);
  EXPECT_EQ(MString_appendn(s, "x", 0), 0);
  EXPECT_EQ(MString_appendf(s, " %d-%s", 42, "z"), 5);
  EXPECT_EQ(MString_len(s), 19);
  EXPECT_EQ(take(MString_copy(s)), "hello, worldab 42-z");
  std::string big(5000, 'q');
  EXPECT_EQ(MString_appendf(s, "%s!", big.c_str()), 5001);
  EXPECT_EQ(MString_ensureCapacity(s, 10), s->capacity);
  EXPECT_EQ(take(MString_peel(s)), "hello, worldab 42-z" + big + "!");
  MString *t = MString_new(4);
  MString_append(t, "ab \t\n ");
  EXPECT_EQ(MString_ensureCapacity(t, 100), 100);  // grows, keeping the text
  EXPECT_GT(t->capacity, 100);
  MString_removeTrailingWhiteSpace(t);
  EXPECT_EQ(std::string(t->data, t->length), "ab");
  MString_delete(t);
  MString *blank = MString_new(4);
  MString_append(blank, "   ");
  MString_removeTrailingWhiteSpace(blank);  // stops at the first character
  EXPECT_STREQ(blank->data, " ");
  MString_delete(blank);
}

TEST(MStringTest, NullArgumentsAreReported) {
  MessageCapture capture;
  MString *s = MString_new(4);
  EXPECT_EQ(MString_append(nullptr, "x"), -1);
  EXPECT_EQ(MString_append(s, nullptr), -1);
  EXPECT_EQ(MString_appendn(nullptr, "x", 1), -1);
  EXPECT_EQ(MString_appendf(nullptr, "x"), -1);
  EXPECT_EQ(MString_appendf(s, nullptr), -1);
  EXPECT_EQ(MString_peel(nullptr), nullptr);
  EXPECT_EQ(MString_copy(nullptr), nullptr);
  EXPECT_EQ(MString_ensureCapacity(nullptr, 5), 0);
  MString_delete(nullptr);
  MString_delete(s);
  std::string want;
  for (const char *f : {"append", "append", "appendn", "appendf", "appendf"})
    want += std::string("error: [MString_") + f + "]: cannot operate on NULL\n";
  for (const char *f : {"peel", "copy", "ensureCapacity", "delete"})
    want += std::string("error: [MString_") + f + "]: cannot operate on NULL MString\n";
  EXPECT_EQ(capture.all(), want);
}

}  // namespace
