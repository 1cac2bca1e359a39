// The configuration store and the broadcast list, without sockets.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "services/configservice/config_array.h"
#include "services/support/broadcast_list.h"
#include "services/support/service_limits.h"

namespace {

// The stored lines in array order, "index=line" ("null" for a null line).
std::vector<std::string> contents(const ConfigService_ConfigArray &a) {
  std::vector<std::string> out;
  for (int i = 0; i < a.size(); ++i) {
    const char *l = a.at(i).configLine;
    out.push_back(std::to_string(a.at(i).index) + "=" + (l ? l : "null"));
  }
  return out;
}

// Entries stay sorted by index whatever the insertion order (also across
// the array's growth); the same index replaces the line, also with the
// stored string itself; any index and empty or null lines are accepted.
TEST(ConfigArray, KeepsEntriesSortedByIndexAndSameIndexReplacesTheLine) {
  ConfigService_ConfigArray a;
  EXPECT_TRUE(a.lines().empty());
  a.addConfig(5, "five");
  a.addConfig(1, "one");
  a.addConfig(3, "three");
  EXPECT_EQ(contents(a), (std::vector<std::string>{"1=one", "3=three", "5=five"}));
  EXPECT_EQ(a.lines().size(), 3u);
  EXPECT_EQ(a.find(4), -1);
  a.addConfig(3, "THREE");
  a.addConfig(3, a.at(a.find(3)).configLine);
  a.addConfig(INT_MAX, "max");
  a.addConfig(-7, "");
  a.addConfig(INT_MIN, nullptr);
  a.addConfig(INT_MIN, "min");
  a.addConfig(INT_MIN, nullptr);
  EXPECT_EQ(contents(a), (std::vector<std::string>{std::to_string(INT_MIN) + "=null", "-7=", "1=one",
                                                   "3=THREE", "5=five", std::to_string(INT_MAX) + "=max"}));
  a.clear();
  EXPECT_EQ(a.size(), 0);
  // Interleaved insertions across several growth steps keep the order.
  for (int i = 0; i < 45; ++i) a.addConfig((i * 37) % 45, std::to_string((i * 37) % 45).c_str());
  ASSERT_EQ(a.size(), 45);
  for (int i = 0; i < 45; ++i) EXPECT_EQ(std::to_string(a.at(i).index) + a.at(i).configLine, std::to_string(i) + std::to_string(i));
}

struct Item {
  int refs = 1;
  void addRef() { ++refs; }
  void delRef() { --refs; }
};

TEST(BroadcastList, KeepsOrderOnceEachAndForgetsRemoved) {
  BroadcastList<Item> list;
  Item a, b, c;
  std::string results;
  for (bool r : {list.add(&a), list.add(&b), list.add(&a), list.add(&c), list.remove(&b),
                 list.remove(&b), list.contains(&b), list.contains(&c)})
    results += r ? '1' : '0';
  EXPECT_EQ(results, "11011001");
  ASSERT_EQ(list.size(), 2);
  EXPECT_EQ(list.at(1), &c);
  EXPECT_TRUE(list.remove(&a));
  EXPECT_TRUE(list.remove(&c));
  EXPECT_TRUE(list.add(&b));  // usable again after emptying
  EXPECT_EQ(list.size(), 1);
  list.remove(&b);
}

TEST(BroadcastList, SnapshotHoldsReferencesAndIgnoresLaterChanges) {
  BroadcastList<Item> list;
  Item a, b, late;
  list.add(&a);
  list.add(&b);
  std::vector<Item *> seen;
  {
    BroadcastSnapshot<Item> snap(list);
    EXPECT_EQ((std::vector<int>{a.refs, b.refs}), (std::vector<int>{2, 2}));
    snap.forEach([&](Item *i) {
      seen.push_back(i);
      if (i == &a) {
        list.remove(&b);  // taken out meanwhile: still visited, still alive
        list.add(&late);  // added meanwhile: hears only later fan-outs
      }
    });
  }
  EXPECT_EQ(seen, (std::vector<Item *>{&a, &b}));
  EXPECT_EQ((std::vector<int>{a.refs, b.refs, late.refs}), (std::vector<int>{1, 1, 1}));
  list.remove(&a);
  list.remove(&late);
}

// Lines count their bytes plus the item overhead; replacing a line counts
// only the new one; a line over the string limit, or one past the store
// limit, does not fit.
TEST(ConfigStore, CountsWhatItHoldsAndRefusesPastTheLimits) {
  ConfigService_ConfigArray a;
  a.addConfig(1, "abc");
  a.addConfig(1, "abcdef");
  a.addConfig(2, nullptr);
  EXPECT_EQ(a.bytes(), ServiceLimits_Cost("abcdef") + ServiceLimits_Cost(size_t{0}));
  std::string tooLong(kServiceMaxStringBytes + 1, 'x');
  EXPECT_FALSE(a.fits(3, tooLong.c_str()));
  std::string big(kServiceMaxStringBytes, 'y');
  int index = 10;
  while (a.fits(index, big.c_str()) && index < 100) a.addConfig(index++, big.c_str());
  EXPECT_EQ(index - 10, 15);
  EXPECT_TRUE(a.fits(10, big.c_str()));  // a replacement
  a.clear();
  EXPECT_EQ(a.bytes(), 0u);
}

}  // namespace
