// The WhiteBoard store without a transport: group set/get/delete rules per
// type, group set-up, fan-out to the other subscribers (including a
// subscriber that goes away while a change is passed on), snapshots and
// the size limits.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "services/support/service_limits.h"
#include "services/whiteboard/wb_test_support.h"
#include "services/whiteboard/whiteboard_image.h"
#include "services/whiteboard/whiteboard_records.h"

namespace {

using Lines = std::vector<std::string>;

// "1" per call that reported a change, "0" per call that did not.
std::string bits(std::initializer_list<bool> results) {
  std::string out;
  for (bool r : results) out += r ? '1' : '0';
  return out;
}

// Records what the store sends it; `onSend` runs after each record.
class FakeSubscriber : public WhiteBoard_Subscriber {
 public:
  Lines got;
  std::function<void()> onSend;

  void sendSetValue(const BoolValueInfo &i, WhiteBoard_Encoded &) override {
    note("bool", i._group, i._name, i._value ? "1" : "0");
  }
  void sendSetValue(const Int32ValueInfo &i, WhiteBoard_Encoded &) override {
    note("int", i._group, i._name, std::to_string(i._value));
  }
  void sendSetValue(const StringValueInfo &i, WhiteBoard_Encoded &) override {
    note("str", i._group, i._name, wbStr(i._value));
  }
  void sendSetValue(const StringListValueInfo &i, WhiteBoard_Encoded &) override {
    note("list", i._group, i._name, wbJoined(i._value));
  }
  void sendDeleteEvent(const char *group, const char *name, int type, WhiteBoard_Encoded &) override {
    note("delete", group, name, std::to_string(type));
  }

 private:
  void note(const char *what, const char *g, const char *n, const std::string &v) {
    got.push_back(std::string(what) + " " + wbStr(g) + " " + wbStr(n) + " " + v);
    if (onSend) onSend();
  }
};

// One name holds four independent values; only real changes count, lists
// and strings compare by content, names that could not be written to a
// file are refused, and deletion goes by type.
TEST(WhiteBoardGroup, SetAndDeleteReportOnlyRealChangesPerType) {
  Group g("G");
  EXPECT_EQ(bits({g.setBoolValue("a", false, false), g.setBoolValue("a", false, false),
                  g.setBoolValue("a", true, false), g.setInt32Value("a", -1, false),
                  g.setInt32Value("a", -1, false), g.setStringValue("a", "x", false),
                  g.setStringValue("a", ut_string("x"), false), g.setStringValue("a", "y", false),
                  g.setStringListValue("a", wbList({"p", "q"}), false),
                  g.setStringListValue("a", wbList({"p", "q"}), false),
                  g.setStringListValue("a", wbList({"q", "p"}), false),
                  g.setStringListValue("b", ut_string_list(), false),
                  g.setStringListValue("b", ut_string_list(), false),
                  g.setBoolValue(nullptr, true, false), g.setInt32Value("", 1, false)}),
            "101101011011000");
  EXPECT_EQ(wbDump(g), "b.a=1 i.a=-1 s.a=y l.a=q,p l.b=");
  int i = 42;
  EXPECT_FALSE(g.getInt32Value("b", i));  // a missing value leaves the out value alone
  EXPECT_EQ(i, 42);
  EXPECT_EQ(bits({g.deleteName("a", static_cast<WhiteBoard_Type>(7), false),
                  g.deleteName("a", WB_INT32, false), g.deleteName("a", WB_INT32, false),
                  g.deleteName(nullptr, WB_ANY, false), g.isEmpty()}),
            "01000");
  EXPECT_EQ(wbDump(g), "b.a=1 s.a=y l.a=q,p l.b=");
  EXPECT_EQ(bits({g.deleteName("a", WB_ANY, false), g.deleteName("a", WB_ANY, false),
                  g.deleteName("b", WB_ANY, false), g.isEmpty()}),
            "1011");
}

TEST(WhiteBoardGroup, MergeReportsWhetherAnythingChangedAndNeverRemoves) {
  Group a("G"), b("G");
  a.setBoolValue("x", true, false);
  a.setStringListValue("l", wbList({"1"}), false);
  a.setStringValue("s", "v", false);
  b.setBoolValue("x", true, false);
  b.setInt32Value("only", 5, false);
  EXPECT_TRUE(b.mergeChangesFromGroup(a));
  EXPECT_FALSE(b.mergeChangesFromGroup(a));
  EXPECT_EQ(wbDump(b), "b.x=1 i.only=5 s.s=v l.l=1");
  EXPECT_STREQ(b.getGroupName(), "G");
}

class WhiteBoardImageTest : public ::testing::Test {
 protected:
  WhiteBoard_Image image;
  FakeSubscriber a, b, c;
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
  image.setStringListValue("G", "l", wbList({"a", "b"}), &a);
  EXPECT_TRUE(a.got.empty());
  EXPECT_TRUE(c.got.empty());
  Lines twice;
  for (const char *l : {"int G n 7", "int G n 7", "bool G f 1", "str G s (null)", "list G l a,b"})
    twice.insert(twice.end(), {l, l});
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

TEST_F(WhiteBoardImageTest, UnregisteredGroupsAndBadNamesStoreNothing) {
  EXPECT_FALSE(image.setBoolValue("G", "x", true, &a));
  image.setupGroup("G", false, false, nullptr, &b);  // any connection registers it
  EXPECT_TRUE(image.setBoolValue("G", "x", true, &a));
  image.setStringValue("G", "s", "v", &a);
  image.setStringListValue("G", "l", wbList({"v"}), &a);
  bool v = false;
  int i = 0;
  ut_string s;
  ut_string_list l;
  EXPECT_EQ(bits({image.getBoolValue("G", "x", v), image.getBoolValue("G", "s", v),
                  image.getBoolValue("H", "x", v), image.getInt32Value("G", "x", i),
                  image.getStringValue("G", "s", s), image.getStringValue("G", "x", s),
                  image.getStringListValue("G", "l", l), image.getStringListValue("G", "x", l)}),
            "10001010");
  EXPECT_EQ(bits({image.setupGroup(nullptr, true, true, nullptr, &a),
                  image.setupGroup("", true, true, nullptr, &a),
                  image.setInt32Value(nullptr, "x", 1, &a), image.setInt32Value("G", nullptr, 1, &a),
                  image.saveGroupToFile("H", nullptr), image.deleteName("H", "n", WB_ANY, &a)}),
            "000000");
  EXPECT_EQ(image.numGroups(), 1);
}

TEST_F(WhiteBoardImageTest, DeleteSendsOnlyWhenSomethingWasRemoved) {
  image.setupGroup("G", true, false, nullptr, &a);
  image.setupGroup("G", true, false, nullptr, &b);
  EXPECT_FALSE(image.deleteName("G", "nothing", WB_ANY, &a));
  image.setBoolValue("G", "n", true, &a);
  image.setStringValue("G", "n", "s", &a);
  b.got.clear();
  EXPECT_TRUE(image.deleteName("G", "n", WB_ANY, &a));
  EXPECT_EQ(b.got, Lines{"delete G n 0"});
  EXPECT_TRUE(a.got.empty());
  EXPECT_EQ(wbDump(*image.getGroup("G")), "");
}

TEST_F(WhiteBoardImageTest, SubscriberLeavingDuringFanOutIsSkippedOthersStillServed) {
  FakeSubscriber d;
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
  auto state = [&] { return std::to_string(g->shouldSaveToFile()) + wbStr(g->getFilename()); };
  EXPECT_EQ(state(), "0(null)");
  image.setupGroup("G", false, false, "/ignored", &a);
  EXPECT_EQ(state(), "0(null)");
  image.setupGroup("G", false, true, "/f1", &a);
  EXPECT_EQ(state(), "1/f1");
  image.setupGroup("G", false, true, nullptr, &a);  // no name: keeps /f1
  image.setupGroup("G", false, false, nullptr, &a);  // disk, once set, stays
  EXPECT_EQ(state(), "1/f1");
  EXPECT_EQ(image.getGroup("G"), g);
}

TEST_F(WhiteBoardImageTest, SnapshotsAreOrderedByGroupThenName) {
  image.setupGroup("B", false, false, nullptr, &a);
  image.setupGroup("A", false, false, nullptr, &a);
  image.setInt32Value("B", "z", 1, &a);
  image.setInt32Value("B", "a", 2, &a);
  image.setInt32Value("A", "m", 3, &a);
  image.setStringListValue("A", "l", wbList({"x"}), &a);
  auto ints = [&](const char *only) {
    std::vector<Int32ValueInfo> records;
    for (const GroupServer *g : image.groups(only)) g->buildInt32Changes(records);
    std::string seen;
    for (const Int32ValueInfo &r : records)
      seen += std::string(r._group) + "." + r._name + "=" + std::to_string(r._value) + " ";
    WB_FreeRecords(records);
    return seen;
  };
  EXPECT_EQ(ints(nullptr), "A.m=3 B.a=2 B.z=1 ");
  EXPECT_EQ(ints("B"), "B.a=2 B.z=1 ");
  EXPECT_TRUE(image.groups("missing").empty());
  std::vector<StringListValueInfo> lists;
  for (const GroupServer *g : image.groups(nullptr)) g->buildStringListChanges(lists);
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(wbJoined(lists[0]._value), "x");
  WB_FreeRecords(lists);
}

// The store counts groups and values, replacing a value counts only the
// new one, deleting gives it back; strings over the 1 MiB limit and values
// past the 16 MiB store limit are refused before anything is stored.
TEST_F(WhiteBoardImageTest, CountsWhatItHoldsAndRefusesPastTheLimits) {
  ASSERT_TRUE(image.setupGroup("G", false, false, nullptr, &a));
  const size_t empty = image.bytes();
  EXPECT_EQ(empty, ServiceLimits_Cost("G"));
  image.setStringValue("G", "s", "abc", &a);
  image.setStringValue("G", "s", "abcdef", &a);
  image.setBoolValue("G", "s", true, &a);
  image.setStringListValue("G", "l", wbList({"x", "yz"}), &a);
  EXPECT_EQ(image.bytes(), empty + ServiceLimits_Cost("s") + 6 + ServiceLimits_Cost("s") +
                               ServiceLimits_Cost("l") + ServiceLimits_Cost("x") +
                               ServiceLimits_Cost("yz"));
  image.deleteName("G", "s", WB_ANY, &a);
  image.deleteName("G", "l", WB_STRINGLIST, &a);
  EXPECT_EQ(image.bytes(), empty);

  std::string tooLong(kServiceMaxStringBytes + 1, 'x');
  EXPECT_EQ(bits({image.fitsGroup(tooLong.c_str(), nullptr), image.fitsGroup("H", tooLong.c_str()),
                  image.fitsStringValue("G", "s", tooLong.c_str()),
                  image.fitsStringListValue("G", "l", wbList({"ok", tooLong.c_str()}))}),
            "0000");
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
