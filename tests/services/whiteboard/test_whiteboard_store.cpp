// The WhiteBoard store without a transport: group set/get/delete rules per
// type, group set-up, fan-out to the other subscribers (including a
// subscriber that goes away while a change is passed on) and snapshots.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "services/support/service_limits.h"
#include "services/whiteboard/whiteboard_image.h"
#include "services/whiteboard/whiteboard_records.h"

namespace {

using Lines = std::vector<std::string>;

std::string str(const char *s) { return s ? s : "(null)"; }

std::string joined(const ut_string_list &list) {
  std::string out;
  for (const ut_string &s : list) out += (out.empty() ? "" : ",") + std::string(s.c_str());
  return out;
}

ut_string_list listOf(std::initializer_list<const char *> items) {
  ut_string_list list;
  for (const char *s : items) list.push_back(s);
  return list;
}

// Records what the store sends it; `onSend` runs after each record.
class FakeSubscriber : public WhiteBoard_Subscriber {
 public:
  explicit FakeSubscriber(const char *tag) : tag(tag) {}
  std::string tag;
  Lines got;
  std::function<void()> onSend;

  void sendSetValue(const BoolValueInfo &i, WhiteBoard_Encoded &) override {
    note("bool", i._group, i._name, i._value ? "1" : "0");
  }
  void sendSetValue(const Int32ValueInfo &i, WhiteBoard_Encoded &) override {
    note("int", i._group, i._name, std::to_string(i._value));
  }
  void sendSetValue(const StringValueInfo &i, WhiteBoard_Encoded &) override {
    note("str", i._group, i._name, str(i._value));
  }
  void sendSetValue(const StringListValueInfo &i, WhiteBoard_Encoded &) override {
    note("list", i._group, i._name, joined(i._value));
  }
  void sendDeleteEvent(const char *group, const char *name, int type, WhiteBoard_Encoded &) override {
    note("delete", group, name, std::to_string(type));
  }

 private:
  void note(const char *what, const char *g, const char *n, const std::string &v) {
    got.push_back(std::string(what) + " " + str(g) + " " + str(n) + " " + v);
    if (onSend) onSend();
  }
};

TEST(WhiteBoardGroup, SetReportsOnlyRealChangesPerType) {
  Group g("G");
  EXPECT_STREQ(g.getGroupName(), "G");
  EXPECT_TRUE(g.setBoolValue("a", false, false));
  EXPECT_FALSE(g.setBoolValue("a", false, false));
  EXPECT_TRUE(g.setBoolValue("a", true, false));
  EXPECT_TRUE(g.setInt32Value("a", -1, false));
  EXPECT_FALSE(g.setInt32Value("a", -1, false));
  EXPECT_TRUE(g.setStringValue("a", "x", false));
  EXPECT_FALSE(g.setStringValue("a", ut_string("x"), false));  // compared by content
  EXPECT_TRUE(g.setStringValue("a", "y", false));
  EXPECT_TRUE(g.setStringListValue("a", listOf({"p", "q"}), false));
  EXPECT_FALSE(g.setStringListValue("a", listOf({"p", "q"}), false));
  EXPECT_TRUE(g.setStringListValue("a", listOf({"q", "p"}), false));
  EXPECT_TRUE(g.setStringListValue("b", ut_string_list(), false));
  EXPECT_FALSE(g.setStringListValue("b", ut_string_list(), false));
  // One name, four independent values.
  bool b = false;
  int i = 0;
  ut_string s;
  ut_string_list l;
  ASSERT_TRUE(g.getBoolValue("a", b) && g.getInt32Value("a", i) && g.getStringValue("a", s) &&
              g.getStringListValue("a", l));
  EXPECT_TRUE(b);
  EXPECT_EQ(i, -1);
  EXPECT_STREQ(s.c_str(), "y");
  EXPECT_EQ(joined(l), "q,p");
}

TEST(WhiteBoardGroup, MissingNamesLeaveTheOutValueAlone) {
  Group g("G");
  g.setBoolValue("onlyBool", true, false);
  int i = 42;
  ut_string s("keep");
  EXPECT_FALSE(g.getInt32Value("onlyBool", i));
  EXPECT_FALSE(g.getStringValue("nothing", s));
  EXPECT_EQ(i, 42);
  EXPECT_STREQ(s.c_str(), "keep");
  // Names that could never be written to a file are refused.
  EXPECT_FALSE(g.setBoolValue(nullptr, true, false));
  EXPECT_FALSE(g.setInt32Value("", 1, false));
  EXPECT_TRUE(g.isEmpty() == false);
  EXPECT_EQ(g.boolValues().size(), 1u);
}

TEST(WhiteBoardGroup, DeleteByTypeAndAll) {
  Group g("G");
  g.setBoolValue("n", true, false);
  g.setInt32Value("n", 1, false);
  g.setStringValue("n", "s", false);
  g.setStringListValue("n", listOf({"x"}), false);
  EXPECT_FALSE(g.deleteName("n", static_cast<WhiteBoard_Type>(7), false));
  EXPECT_TRUE(g.deleteName("n", WB_INT32, false));
  EXPECT_FALSE(g.deleteName("n", WB_INT32, false));
  int i = 0;
  EXPECT_FALSE(g.getInt32Value("n", i));
  bool b = false;
  EXPECT_TRUE(g.getBoolValue("n", b));
  EXPECT_TRUE(g.deleteName("n", WB_ANY, false));
  EXPECT_TRUE(g.isEmpty());
  EXPECT_FALSE(g.deleteName("n", WB_ANY, false));
  EXPECT_FALSE(g.deleteName(nullptr, WB_ANY, false));
}

TEST(WhiteBoardGroup, MergeReportsWhetherAnythingChanged) {
  Group a("G"), b("G");
  a.setBoolValue("x", true, false);
  a.setStringListValue("l", listOf({"1"}), false);
  b.setBoolValue("x", true, false);
  b.setInt32Value("only", 5, false);
  EXPECT_TRUE(b.mergeChangesFromGroup(a));   // l is new to b
  EXPECT_FALSE(b.mergeChangesFromGroup(a));  // nothing new the second time
  int i = 0;
  EXPECT_TRUE(b.getInt32Value("only", i));  // merging never removes
  EXPECT_EQ(i, 5);
}

class WhiteBoardImageTest : public ::testing::Test {
 protected:
  WhiteBoard_Image image;
  FakeSubscriber a{"A"}, b{"B"}, c{"C"};
};

// Changes go to every other broadcast subscriber, once per registration,
// each type as its own record; an unchanged value is passed on all the same.
TEST_F(WhiteBoardImageTest, ChangesGoToEveryOtherSubscriberOncePerRegistration) {
  ASSERT_TRUE(image.setupGroup("G", true, false, nullptr, &a));
  ASSERT_TRUE(image.setupGroup("G", true, false, nullptr, &b));
  ASSERT_TRUE(image.setupGroup("G", true, false, nullptr, &b));
  ASSERT_TRUE(image.setupGroup("G", false, false, nullptr, &c));  // not subscribed
  EXPECT_EQ(image.countSubscriptions("G"), 3);
  EXPECT_TRUE(image.setInt32Value("G", "n", 7, &a));
  EXPECT_TRUE(image.setInt32Value("G", "n", 7, &a));
  image.setBoolValue("G", "f", true, &a);
  image.setStringValue("G", "s", nullptr, &a);
  image.setStringListValue("G", "l", listOf({"a", "b"}), &a);
  image.setStringListValue("G", "e", ut_string_list(), &a);
  EXPECT_TRUE(a.got.empty());
  EXPECT_TRUE(c.got.empty());
  Lines once{"int G n 7", "int G n 7", "bool G f 1", "str G s (null)", "list G l a,b", "list G e "};
  Lines twice;
  for (const std::string &l : once) twice.insert(twice.end(), {l, l});
  EXPECT_EQ(b.got, twice);
  ut_string s("untouched");
  EXPECT_TRUE(image.getStringValue("G", "s", s));
  EXPECT_STREQ(s.c_str(), "");
  // The sender may be none; a subscriber that leaves hears nothing more.
  image.removeReferences(&b);
  EXPECT_EQ(image.countSubscriptions("G"), 1);
  EXPECT_TRUE(image.setInt32Value("G", "n", 8, nullptr));
  EXPECT_EQ(a.got, Lines{"int G n 8"});
  EXPECT_EQ(b.got.size(), twice.size());
}

TEST_F(WhiteBoardImageTest, UnregisteredGroupsDropChanges) {
  EXPECT_FALSE(image.setBoolValue("G", "x", true, &a));
  image.setupGroup("G", false, false, nullptr, &b);  // any connection registers it
  EXPECT_TRUE(image.setBoolValue("G", "x", true, &a));
  bool v = false;
  EXPECT_TRUE(image.getBoolValue("G", "x", v));
  EXPECT_FALSE(image.getBoolValue("H", "x", v));
  // Bad group or value names are dropped, never stored.
  EXPECT_FALSE(image.setupGroup(nullptr, true, true, nullptr, &a));
  EXPECT_FALSE(image.setupGroup("", true, true, nullptr, &a));
  EXPECT_FALSE(image.setInt32Value(nullptr, "x", 1, &a));
  EXPECT_FALSE(image.setInt32Value("G", nullptr, 1, &a));
  EXPECT_FALSE(image.saveGroupToFile("H", nullptr));
  EXPECT_EQ(image.numGroups(), 1);
}

TEST_F(WhiteBoardImageTest, DeleteSendsOnlyWhenSomethingWasRemoved) {
  image.setupGroup("G", true, false, nullptr, &a);
  image.setupGroup("G", true, false, nullptr, &b);
  EXPECT_FALSE(image.deleteName("G", "nothing", WB_ANY, &a));
  EXPECT_TRUE(b.got.empty());
  image.setBoolValue("G", "n", true, &a);
  image.setStringValue("G", "n", "s", &a);
  b.got.clear();
  EXPECT_TRUE(image.deleteName("G", "n", WB_ANY, &a));
  EXPECT_EQ(b.got, Lines{"delete G n 0"});
  EXPECT_TRUE(a.got.empty());
  bool v;
  ut_string s;
  EXPECT_FALSE(image.getBoolValue("G", "n", v));
  EXPECT_FALSE(image.getStringValue("G", "n", s));
  EXPECT_FALSE(image.deleteName("H", "n", WB_ANY, &a));
}

TEST_F(WhiteBoardImageTest, SubscriberLeavingDuringFanOutIsSkippedOthersStillServed) {
  FakeSubscriber d{"D"};
  for (FakeSubscriber *s : {&a, &b, &c, &d}) image.setupGroup("G", true, false, nullptr, s);
  // b's connection ends while b is being sent to, and takes c with it (as a
  // dropped transport would); d must still hear the change.
  b.onSend = [&] {
    image.removeReferences(&b);
    image.removeReferences(&c);
  };
  image.setInt32Value("G", "n", 1, &a);
  EXPECT_EQ(b.got.size(), 1u);
  EXPECT_TRUE(c.got.empty());
  EXPECT_EQ(d.got, Lines{"int G n 1"});
  EXPECT_EQ(image.countSubscriptions("G"), 2);  // a and d
  // Removal during one fan-out does not hide c from later ones once it is
  // subscribed again.
  b.onSend = nullptr;
  image.setupGroup("G", true, false, nullptr, &c);
  image.setInt32Value("G", "n", 2, &a);
  EXPECT_EQ(c.got, Lines{"int G n 2"});
}

TEST_F(WhiteBoardImageTest, SetupKeepsDiskFlagAndFileOnlyWhenAskedWithDisk) {
  image.setupGroup("G", false, false, nullptr, &a);
  GroupServer *g = image.getGroup("G");
  ASSERT_NE(g, nullptr);
  EXPECT_FALSE(g->shouldSaveToFile());
  image.setupGroup("G", false, false, "/ignored", &a);
  EXPECT_EQ(g->getFilename(), nullptr);
  image.setupGroup("G", false, true, "/f1", &a);
  EXPECT_TRUE(g->shouldSaveToFile());
  EXPECT_STREQ(g->getFilename(), "/f1");
  image.setupGroup("G", false, true, nullptr, &a);  // no name: keeps /f1
  EXPECT_STREQ(g->getFilename(), "/f1");
  image.setupGroup("G", false, false, nullptr, &a);  // disk, once set, stays
  EXPECT_TRUE(g->shouldSaveToFile());
  EXPECT_EQ(image.getGroup("G"), g);
}

TEST_F(WhiteBoardImageTest, SnapshotsAreOrderedByGroupThenName) {
  image.setupGroup("B", false, false, nullptr, &a);
  image.setupGroup("A", false, false, nullptr, &a);
  image.setInt32Value("B", "z", 1, &a);
  image.setInt32Value("B", "a", 2, &a);
  image.setInt32Value("A", "m", 3, &a);
  image.setStringListValue("A", "l", listOf({"x"}), &a);
  // The values of one type over the groups a snapshot covers, in order.
  auto ints = [&](const char *only) {
    std::vector<Int32ValueInfo> records;
    for (const GroupServer *g : image.groups(only)) g->buildInt32Changes(records);
    Lines seen;
    for (const Int32ValueInfo &r : records)
      seen.push_back(std::string(r._group) + "." + r._name + "=" + std::to_string(r._value));
    WB_FreeRecords(records);
    return seen;
  };
  EXPECT_EQ(ints(nullptr), (Lines{"A.m=3", "B.a=2", "B.z=1"}));
  EXPECT_EQ(ints("B"), (Lines{"B.a=2", "B.z=1"}));
  EXPECT_TRUE(image.groups("missing").empty());
  std::vector<StringListValueInfo> lists;
  for (const GroupServer *g : image.groups(nullptr)) g->buildStringListChanges(lists);
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(joined(lists[0]._value), "x");
  WB_FreeRecords(lists);
}

}  // namespace

namespace {

// The store counts groups and values, replacing a value counts only the
// new one, deleting gives it back; strings over the limit and values past
// the store limit are refused before anything is stored.
TEST_F(WhiteBoardImageTest, CountsWhatItHoldsAndRefusesPastTheLimits) {
  ASSERT_TRUE(image.setupGroup("G", false, false, nullptr, &a));
  const size_t empty = image.bytes();
  EXPECT_EQ(empty, ServiceLimits_Cost("G"));
  image.setStringValue("G", "s", "abc", &a);
  image.setStringValue("G", "s", "abcdef", &a);
  image.setBoolValue("G", "s", true, &a);
  image.setStringListValue("G", "l", listOf({"x", "yz"}), &a);
  EXPECT_EQ(image.bytes(), empty + ServiceLimits_Cost("s") + 6 + ServiceLimits_Cost("s") +
                               ServiceLimits_Cost("l") + ServiceLimits_Cost("x") +
                               ServiceLimits_Cost("yz"));
  image.deleteName("G", "s", WB_ANY, &a);
  image.deleteName("G", "l", WB_STRINGLIST, &a);
  EXPECT_EQ(image.bytes(), empty);

  std::string tooLong(kServiceMaxStringBytes + 1, 'x');
  EXPECT_FALSE(image.fitsGroup(tooLong.c_str(), nullptr));
  EXPECT_FALSE(image.fitsGroup("H", tooLong.c_str()));
  EXPECT_FALSE(image.fitsStringValue("G", "s", tooLong.c_str()));
  EXPECT_FALSE(image.fitsStringListValue("G", "l", listOf({"ok", tooLong.c_str()})));
  std::string big(kServiceMaxStringBytes, 'y');
  int stored = 0;
  while (image.fitsStringValue("G", std::to_string(stored).c_str(), big.c_str()) && stored < 100)
    image.setStringValue("G", std::to_string(stored++).c_str(), big.c_str(), &a);
  EXPECT_EQ(stored, 15);
  EXPECT_TRUE(image.fitsStringValue("G", "0", big.c_str()));  // a replacement
  EXPECT_TRUE(image.fitsInt32Value("G", "n"));
  EXPECT_FALSE(image.fitsBoolValue("G", std::string(kServiceMaxStringBytes, 'n').c_str()));
}

}  // namespace
