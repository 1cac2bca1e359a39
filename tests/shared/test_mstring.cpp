// MString: appends, capacity, peeling and the null-argument messages.
#include <gtest/gtest.h>

#include <string>

#include "runtime_test_support.h"
#include "shared/mstring.h"

namespace {

TEST(MStringTest, AppendsGrowTheStringAndPeelHandsItOver) {
  MString *s = MString_new(0);
  EXPECT_EQ(MString_append(s, "hello"), 5);
  EXPECT_EQ(MString_appendn(s, ", world!", 7), 7);
  EXPECT_EQ(MString_appendn(s, "ab\0cd", 5), 2);
  EXPECT_EQ(MString_appendn(s, "x", 0), 0);
  EXPECT_EQ(MString_appendf(s, " %d-%s", 42, "z"), 5);
  EXPECT_STREQ(s->data, "hello, worldab 42-z");
  EXPECT_EQ(MString_len(s), 19);
  EXPECT_GE(s->capacity, 20);
  EXPECT_EQ(take(MString_copy(s)), "hello, worldab 42-z");
  std::string big(5000, 'q');
  EXPECT_EQ(MString_appendf(s, "%s!", big.c_str()), 5001);
  EXPECT_EQ(std::string(s->data), "hello, worldab 42-z" + big + "!");
  EXPECT_EQ(take(MString_peel(s)), "hello, worldab 42-z" + big + "!");
}

TEST(MStringTest, EnsureCapacityDoublesOnlyWhenNeeded) {
  MString *s = MString_new(10);
  EXPECT_EQ(MString_ensureCapacity(s, 4), 10);
  EXPECT_EQ(MString_ensureCapacity(s, 10), 10);
  EXPECT_EQ(s->capacity, 20);
  EXPECT_EQ(MString_ensureCapacity(s, 12), 20);
  MString_delete(s);
}

TEST(MStringTest, PeelHandsOverTheText) {
  MString *s = MString_new(100);
  MString_append(s, "abc");
  char *text = MString_peel(s);
  EXPECT_STREQ(text, "abc");
  gen_free(text);
}

TEST(MStringTest, TrailingWhiteSpaceStopsAtTheFirstCharacter) {
  MString *s = MString_new(4);
  MString_append(s, "ab \t\n ");
  MString_removeTrailingWhiteSpace(s);
  EXPECT_STREQ(s->data, "ab");
  EXPECT_EQ(s->length, 2);
  MString *blank = MString_new(4);
  MString_append(blank, "   ");
  MString_removeTrailingWhiteSpace(blank);
  EXPECT_STREQ(blank->data, " ");
  MString_delete(s);
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
  std::vector<std::string> texts;
  for (const auto &m : capture.messages) {
    EXPECT_EQ(m.first, GEN_LEVEL_ERROR);
    texts.push_back(m.second);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "[MString_append]: cannot operate on NULL",
                       "[MString_append]: cannot operate on NULL",
                       "[MString_appendn]: cannot operate on NULL",
                       "[MString_appendf]: cannot operate on NULL",
                       "[MString_appendf]: cannot operate on NULL",
                       "[MString_peel]: cannot operate on NULL MString",
                       "[MString_copy]: cannot operate on NULL MString",
                       "[MString_ensureCapacity]: cannot operate on NULL MString",
                       "[MString_delete]: cannot operate on NULL MString",
                   }));
}

}  // namespace
