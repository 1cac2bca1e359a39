// Tests of ut_string_list: links kept consistent through insert, erase and
// remove, sorting, copies and equality.
#include "shared/libcxxutil/ut_string_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// The list's contents read forwards, checked against a walk backwards and
// the count, so that a broken prev link or count shows up everywhere.
std::string contents(const ut_string_list &list) {
  std::string forward;
  int n = 0;
  for (const ut_string &s : list) {
    if (n++) forward += ',';
    forward += s.c_str();
  }
  EXPECT_EQ(n, list.count);
  std::string backward;
  int m = 0;
  for (ut_string_list_node *node = list.tail; node; node = node->prev) {
    backward = std::string(node->value.c_str()) + (m++ ? "," : "") + backward;
  }
  EXPECT_EQ(forward, backward);
  return forward;
}

TEST(UtStringList, PushInsertAndErase) {
  ut_string_list list;
  list.push_back("b");
  list.push_front("a");
  list.push_back(ut_string("d"));
  list.push_back_concat("e", nullptr);
  list.push_front_concat("<", "0");
  EXPECT_EQ(contents(list), "<0,a,b,d,e");

  ut_string_list_iterator d = list.find("d");
  ASSERT_FALSE(d.is_end());
  list.insert(d, "c");
  list.insert(list.end(), "f");
  EXPECT_EQ(contents(list), "<0,a,b,c,d,e,f");

  ut_string_list_iterator next = list.erase(list.begin());
  EXPECT_STREQ(next->c_str(), "a");
  ut_string_list_iterator last = list.find("f");
  EXPECT_TRUE(list.erase(last).is_end());
  EXPECT_TRUE(list.erase(list.end()).is_end());
  EXPECT_EQ(contents(list), "a,b,c,d,e");
  EXPECT_TRUE(list.find("zz").is_end());
}

TEST(UtStringList, RemoveTakesEveryEqualElement) {
  ut_string_list list;
  list.push_back("x");
  list.push_back("k");
  list.push_back("x");
  list.push_back("x");
  ut_string_list only;
  only.push_back("x");
  list.remove("x");
  EXPECT_EQ(contents(list), "k");
  // The value to remove lives in the list itself.
  only.remove(*only.begin());
  EXPECT_EQ(contents(only), "");
  EXPECT_EQ(only.head, nullptr);
  EXPECT_EQ(only.tail, nullptr);
}

TEST(UtStringList, SortAscendingByStrcmp) {
  ut_string_list list;
  for (const char *s : {"pear", "Apple", "fig", "apple", "", "fig", "banana"}) list.push_back(s);
  list.sort();
  EXPECT_EQ(contents(list), ",Apple,apple,banana,fig,fig,pear");
  ut_string_list one;
  one.push_back("solo");
  one.sort();
  EXPECT_EQ(contents(one), "solo");
}

TEST(UtStringList, CopiesAndEquality) {
  ut_string_list a;
  a.push_back("1");
  a.push_back("2");
  ut_string_list b(a);
  EXPECT_TRUE(a == b);
  b.push_back("3");
  EXPECT_TRUE(a != b);
  EXPECT_EQ(contents(a), "1,2");

  ut_string_list c;
  c.push_back("1");
  c.push_back("x");
  EXPECT_FALSE(a == c);  // same count, different element
  c = a;
  EXPECT_TRUE(c == a);

  a.append_list(a);  // appending a list to itself doubles it once
  EXPECT_EQ(contents(a), "1,2,1,2");

  std::unique_ptr<ut_string_list> copy(ut_string_list::copy_list(&a));
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(*copy == a);
  EXPECT_EQ(ut_string_list::copy_list(nullptr), nullptr);

  a.clear();
  EXPECT_EQ(contents(a), "");
  EXPECT_EQ(contents(*copy), "1,2,1,2");
}

}  // namespace
