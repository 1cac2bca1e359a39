// Runtime library string and file-name helpers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime_test_support.h"
#include "shared/gen_holder.h"
#include "shared/indgen.h"

namespace {

TEST(Strings, CopiesAndJoins) {
  EXPECT_EQ(gen_copy(nullptr), nullptr);
  EXPECT_EQ(take(gen_copy("abc")), "abc");
  EXPECT_EQ(take(gen_copyn("abcdef", 3)), "abc");
  EXPECT_EQ(take(gen_copyn("ab", 10)), "ab");
  EXPECT_EQ(take(gen_copyn("ab", 0)), "");
  EXPECT_EQ(take(gen_concat("ab", nullptr)), "ab");
  EXPECT_EQ(take(gen_concat3("a", "b", "c")), "abc");
  EXPECT_EQ(take(gen_concat4("a", nullptr, "c", "d")), "acd");
  EXPECT_EQ(take(gen_concat5("1", "2", "3", "4", "5")), "12345");
  EXPECT_EQ(take(gen_fconcat(gen_copy("x"), "y")), "xy");
  EXPECT_EQ(take(gen_fconcat3(gen_copy("x"), "y", "z")), "xyz");
  EXPECT_EQ(take(gen_fconcat4(nullptr, "y", "z", "w")), "yzw");
}

TEST(Strings, ConcatWithSeparator) {
  EXPECT_EQ(take(gen_concat_sep("dir", '/', "file")), "dir/file");
  EXPECT_EQ(take(gen_concat_sep("a", 0, "b")), "ab");
  EXPECT_EQ(take(gen_concat_sep(nullptr, ',', "b")), "b");
  EXPECT_EQ(take(gen_concat_sep("a", ',', nullptr)), "a,");
}

TEST(Strings, CaseBlindEquality) {
  EXPECT_TRUE(gen_strequal("ABC", "abc"));
  EXPECT_TRUE(gen_strequal(nullptr, nullptr));
  EXPECT_FALSE(gen_strequal(nullptr, ""));
  EXPECT_FALSE(gen_strequal("abc", "abcd"));
  EXPECT_FALSE(gen_strequal("abcd", "abc"));
  EXPECT_FALSE(gen_strequal("\xc4", "\xe4"));   // only ASCII letters fold
  EXPECT_TRUE(gen_strnequal("HELLO world", "hello WORLD!", 11));
  EXPECT_FALSE(gen_strnequal("ab", "abc", 3));
  EXPECT_TRUE(gen_strnequal("ab", "ab", 5));
}

TEST(Strings, PrefixesAndSearch) {
  EXPECT_TRUE(gen_strprefix("-sr_debug", "-sr_"));
  EXPECT_FALSE(gen_strprefix("-SR_debug", "-sr_"));
  EXPECT_TRUE(gen_strcaseprefix("-SR_debug", "-sr_"));
  EXPECT_FALSE(gen_strcaseprefix("-s", "-sr_"));
  EXPECT_FALSE(gen_strprefix(nullptr, "a"));
  const char *hay = "find the needle";
  EXPECT_EQ(gen_strstr(hay, "needle"), hay + 9);
  EXPECT_EQ(gen_strstr(hay, nullptr), nullptr);
  EXPECT_EQ(gen_strtoul("0x1f", nullptr, 16), 31u);
  EXPECT_TRUE(gen_isalnum('z'));
  EXPECT_FALSE(gen_isalnum('_'));
  EXPECT_FALSE(gen_isalnum(0xe4));
  EXPECT_TRUE(gen_isspace('\r'));
  EXPECT_FALSE(gen_isspace('x'));
}

TEST(Strings, QuotingRoundTrips) {
  EXPECT_EQ(take(gen_quotify_string("say \"hi\" it's a\\b")), "\"say \\\"hi\\\" it\\'s a\\\\b\"");
  EXPECT_EQ(take(gen_dequotify_string("\"say \\\"hi\\\" it\\'s a\\\\b\"")), "say \"hi\" it's a\\b");
  EXPECT_EQ(take(gen_dequotify_string("'single'")), "single");
  EXPECT_EQ(take(gen_dequotify_string("")), "");
  EXPECT_EQ(take(gen_dequotify_string("\"")), "\"");
  EXPECT_EQ(take(gen_dequotify_string("a\\tb\\n\\101\\x42")), "a\tb\nAB");
  const char raw[] = "tab\there\nquote\" bell\a \x01 end\\";
  char *escaped = gen_escapify_string(raw);
  EXPECT_STREQ(escaped, "tab\\there\\nquote\\\" bell\\a \\001 end\\\\");
  EXPECT_EQ(take(gen_dequotify_string(escaped)), raw);
  gen_free(escaped);
}

TEST(Strings, BinaryToStringPutsTheLowHalfFirst) {
  const unsigned char bytes[] = {0x01, 0xab};
  EXPECT_EQ(take(gen_binary_to_string(bytes, 2)), "10ba");
  const unsigned char one = 0x1f;
  EXPECT_EQ(take(gen_binary_to_string(&one, 1)), "f1");
  EXPECT_EQ(take(gen_binary_to_string(bytes, 0)), "");
}

TEST(FileNames, Sconcat) {
  EXPECT_EQ(take(gen_sconcat("/a/", "b")), "/a/b");
  EXPECT_EQ(take(gen_sconcat("/a", "/c")), "/c");
  EXPECT_EQ(take(gen_sconcat("/a", "~/c")), "/a/~/c");
  EXPECT_EQ(take(gen_sconcat("", "x/y")), "x/y");
  EXPECT_EQ(take(gen_sconcat("", "")), ".");
  EXPECT_EQ(take(gen_sconcat(".", ".")), ".");
  EXPECT_EQ(take(gen_sconcat("/a/b", "../c/./d/")), "/a/c/d");
  EXPECT_EQ(take(gen_sconcat("a", "..")), ".");
}

TEST(FileNames, Dconcat) {
  EXPECT_EQ(take(gen_dconcat("/a", "~/c")), "~/c");
  EXPECT_EQ(take(gen_dconcat("/a", "")), "/a");
  EXPECT_EQ(take(gen_dconcat("/a", nullptr)), "/a");
  EXPECT_EQ(take(gen_dconcat("/a//", "b")), "/a/b");
}

std::string canonical(const char *name) {
  std::string s = name;
  gen_canonicalfilename(s.data());
  return s.c_str();
}

TEST(FileNames, Canonical) {
  EXPECT_EQ(canonical("/a/./b//c/"), "/a/b/c");
  EXPECT_EQ(canonical("a/b/../c"), "a/c");
  EXPECT_EQ(canonical("../../a/b/../../.."), "../../..");
  EXPECT_EQ(canonical("/.."), "/");
  EXPECT_EQ(canonical("/a/.."), "/");
  EXPECT_EQ(canonical("./"), "");
  EXPECT_EQ(canonical("x/y/z/../../w"), "x/w");
}

TEST(FileNames, BaseAndDirectory) {
  EXPECT_STREQ(gen_basename("/usr/bin/ls"), "ls");
  EXPECT_STREQ(gen_basename("ls"), "ls");
  EXPECT_STREQ(gen_basename("dir/"), "");
  EXPECT_EQ(take(gen_dirname("/x")), "/");
  EXPECT_EQ(gen_dirname("x"), nullptr);
  EXPECT_EQ(take(gen_dirname("a/b/c")), "a/b");
  EXPECT_TRUE(gen_absolutefilename("/a"));
  EXPECT_TRUE(gen_absolutefilename("~a"));
  EXPECT_FALSE(gen_absolutefilename("a/b"));
  EXPECT_FALSE(gen_absolutefilename(nullptr));
}

TEST(FileNames, ChangeSuffix) {
  EXPECT_EQ(take(gen_changesuffix("dir.d/name.txt", "cfg")), "dir.d/name.cfg");
  EXPECT_EQ(take(gen_changesuffix("name", "cfg")), "name.cfg");
  EXPECT_EQ(take(gen_changesuffix("dir.d/name", ".cfg")), "dir.d/name.cfg");
  EXPECT_EQ(take(gen_changesuffix("a.b.c", "x")), "a.b.x");
}

TEST(FileNames, ExpandHomeAndRealPath) {
  const char *home = gen_gethomedir();
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(take(gen_expand_filename("~/x")), std::string(home) + "/x");
  EXPECT_EQ(take(gen_expand_filename("~")), home);
  EXPECT_EQ(take(gen_expand_filename("~no_such_user_korvo/x")), "~no_such_user_korvo/x");
  EXPECT_EQ(take(gen_expand_filename("plain")), "plain");
  EXPECT_EQ(take(gen_realpath("/no/such/path/here")), "/no/such/path/here");
  EXPECT_EQ(take(gen_realpath("/")), "/");
}

// The array a reply carries: one fresh copy per element, null elements
// kept, nothing at all for an empty list. GenPtr frees what it holds (ASan
// reports a leak otherwise).
TEST(Strings, StringArrayCopiesForReplies) {
  EXPECT_EQ(gen_copy_string_array(std::vector<const char *>{}), nullptr);
  EXPECT_EQ(gen_copy_string_array(std::vector<std::string>{}), nullptr);
  const char *source[] = {"a", nullptr, ""};
  GenPtr<char *> array(gen_copy_string_array(std::vector<const char *>(source, source + 3)));
  std::vector<GenString> owned(array.get(), array.get() + 3);
  EXPECT_STREQ(owned[0].get(), "a");
  EXPECT_NE(owned[0].get(), source[0]);
  EXPECT_EQ(owned[1], nullptr);
  EXPECT_STREQ(owned[2].get(), "");
  GenPtr<char *> names(gen_copy_string_array(std::vector<std::string>{"x", "yz"}));
  EXPECT_EQ(take(names.get()[0]) + take(names.get()[1]), "xyz");
}

}  // namespace
