// The register over all connections, with plain entries standing in for
// connections: naming, listing order, ShowWindow routing by connection
// name, class and id (the walks over every window: the server tests).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/windowregister/windowregister_list.h"

namespace {

using Lines = std::vector<std::string>;

// A connection that records what would be sent to its client.
class FakeEntry : public WindowRegister_Entry {
 public:
  explicit FakeEntry(WindowRegister_List &list) : WindowRegister_Entry(list.nextConnectionName()) {}
  Lines got;
  void relayWindow(WindowRelayKind kind, const char *cls, const char *title,
                   unsigned long id) override {
    const char *k = kind == kWindowRelayShow ? "show" : kind == kWindowRelayIconify ? "iconify" : "close";
    got.push_back(std::string(k) + " " + (cls ? cls : "(null)") + " " + (title ? title : "(null)") +
                  " " + std::to_string(id));
  }
};

class WindowRegisterListTest : public ::testing::Test {
 protected:
  WindowRegister_List list;
  FakeEntry a{list}, b{list};
  void SetUp() override {
    list.add(&a);
    list.add(&b);
    a.getClassList().AddWindow("Ed", "a-ed-1", 1);
    a.getClassList().AddWindow("Ed", "a-ed-2", 2);
    a.getClassList().AddWindow("Sh", "a-sh-1", 1);
    b.getClassList().AddWindow("Ed", "b-ed-2", 2);
    b.getClassList().AddWindow("Sh", "b-sh-3", 3);
  }

  // "connection class title id" of every listed window.
  Lines listing() {
    WindowRegister__WindowInfoArray info;
    list.GetWindowInfo(&info);
    Lines out;
    for (int i = 0; i < info.count; ++i) {
      const WindowRegister__WindowInfo &w = info.winInfo[i];
      out.push_back(std::string(w.serviceName) + " " + w.className + " " + w.windowName + " " +
                    std::to_string(w.win));
    }
    WindowRegister__WindowInfoArray_free(&info);
    return out;
  }
};

// Connections are named by a hexadecimal counter; numbers are never given
// back.
TEST(WindowRegisterNames, CounterNamesInHexAndNeverReuses) {
  WindowRegister_List list;
  for (int i = 0; i < 11; ++i) gen_free(list.nextConnectionName());
  FakeEntry e(list);
  list.add(&e);
  EXPECT_TRUE(list.remove(&e));
  EXPECT_FALSE(list.remove(&e));
  FakeEntry f(list);
  EXPECT_EQ(std::string(e.getName()) + " " + f.getName(), "__twlWinReg0xb __twlWinReg0xc");
}

TEST_F(WindowRegisterListTest, ListingGoesConnectionByConnectionClassByClass) {
  EXPECT_EQ(list.GetWindowNumber(), 5);
  EXPECT_EQ(listing(), (Lines{"__twlWinReg0x0 Ed a-ed-1 1", "__twlWinReg0x0 Ed a-ed-2 2",
                              "__twlWinReg0x0 Sh a-sh-1 1", "__twlWinReg0x1 Ed b-ed-2 2",
                              "__twlWinReg0x1 Sh b-sh-3 3"}));
  list.CloseAllWindows();  // an empty register lists no array
  WindowRegister__WindowInfoArray info;
  info.count = 99;
  list.GetWindowInfo(&info);
  EXPECT_EQ(info.count, 0);
  EXPECT_EQ(info.winInfo, nullptr);
}

// ShowWindow routing: by connection name, class and id; without a name the
// first connection holding the window is asked, and with id 0 the first
// connection counts as done even without a match.
TEST_F(WindowRegisterListTest, ShowWindowRouting) {
  struct Case {
    const char *conn, *cls;
    unsigned long id;
    bool found;
    Lines a, b;
  } cases[] = {
      {"__twlWinReg0x0", "Ed", 0, true, {"show Ed a-ed-1 1", "show Ed a-ed-2 2"}, {}},
      {"__twlWinReg0x1", "Ed", 3, false, {}, {}},
      {"__twlWinReg0x7", nullptr, 3, false, {}, {}},  // no such connection
      {"", nullptr, 3, false, {}, {}},                // an empty name asks nobody
      {nullptr, "Sh", 3, true, {}, {"show Sh b-sh-3 3"}},
      {nullptr, "Ed", 2, true, {"show Ed a-ed-2 2"}, {}},  // both hold it: the earlier
      {nullptr, "Nothing", 0, true, {}, {}},
  };
  for (const Case &k : cases) {
    a.got.clear();
    b.got.clear();
    EXPECT_EQ(list.ShowWindow(k.conn, k.cls, k.id), k.found) << k.id;
    EXPECT_EQ(a.got, k.a) << (k.conn ? k.conn : "-") << " " << (k.cls ? k.cls : "-");
    EXPECT_EQ(b.got, k.b) << (k.conn ? k.conn : "-") << " " << (k.cls ? k.cls : "-");
  }
}

}  // namespace
