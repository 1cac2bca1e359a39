// MRU lists: order and the nine-item limit, moves to the front, letter
// case, the edit operations, and reading malformed and surplus lines of
// "mrulist.ini".
#include <gtest/gtest.h>

#include "services/mruservice/mru_lists.h"
#include "services/mruservice/state_file_support.h"

namespace {

using Items = std::vector<std::string>;

class MRUListsTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveStateFile("mrulist.ini"); }
  void TearDown() override {
    MRU_Free();  // drop whatever is left without writing it
    MRU_Exit();
    RemoveStateFile("mrulist.ini");
  }
  static Items list(const char *name) {
    char **items = nullptr;
    int count = -1;
    MRU_GetMRUList(name, &items, &count);
    return TakeStrings(items, count);
  }
  static Items names() {
    char **names = nullptr;
    int count = -1;
    MRU_GetAllMRUListNames(&names, &count);
    return TakeStrings(names, count);
  }
  // /f1 .. /fn, /f1 newest.
  static void fill(const char *name, int n) {
    for (int i = n; i >= 1; --i) MRU_UpdateList(name, ("/f" + std::to_string(i)).c_str(), false);
  }
  // "1" per call that succeeded, "0" per call that did not.
  static std::string bits(std::initializer_list<bool> results) {
    std::string out;
    for (bool r : results) out += r ? '1' : '0';
    return out;
  }
};

// Ten updates keep the nine newest; an update moves an existing item to
// the front keeping its spelling (names and items ignore letter case);
// touching the newest item changes nothing, not even the modified flag.
TEST_F(MRUListsTest, UpdatesKeepTheNineNewestAndMoveExistingItems) {
  fill("Files", 10);
  EXPECT_EQ(list("Files"), (Items{"/f1", "/f2", "/f3", "/f4", "/f5", "/f6", "/f7", "/f8", "/f9"}));
  ASSERT_TRUE(MRU_Save());
  MRU_UpdateList("FILES", "/F1", false);
  EXPECT_FALSE(MRU_IsModified());
  MRU_UpdateList("files", "/F4", false);
  EXPECT_TRUE(MRU_IsModified());
  EXPECT_EQ(list("files"), (Items{"/f4", "/f1", "/f2", "/f3", "/f5", "/f6", "/f7", "/f8", "/f9"}));
}

TEST_F(MRUListsTest, NewListsGoAtTheHeadAndMissingListsAreEmpty) {
  EXPECT_TRUE(names().empty());
  MRU_UpdateList("A", "1", false);
  MRU_UpdateList("B", "2", false);
  MRU_UpdateList("a", "3", false);
  EXPECT_EQ(names(), (Items{"B", "A"}));
  char **items = reinterpret_cast<char **>(1);
  int count = -1;
  MRU_GetMRUList("C", &items, &count);
  EXPECT_EQ(items, nullptr);
  EXPECT_EQ(count, 0);
  // No operation creates a list.
  EXPECT_EQ(bits({MRU_ModifyMRUList("Nope", 0, 0, "x"), MRU_ModifyMRUList("Nope", 1, 0, "x"),
                  MRU_ModifyMRUList("Nope", 2, 0, "x"), MRU_ModifyMRUList("Nope", 3, 0, "x")}),
            "0000");
  EXPECT_EQ(names(), (Items{"B", "A"}));
}

// Insert clamps a large slot to the end, refuses a negative one, and on a
// full list drops the last item (or the inserted one, when it would be
// last: no change at all).
TEST_F(MRUListsTest, InsertClampsTheSlotAndRespectsTheLimit) {
  fill("L", 4);
  EXPECT_EQ(bits({MRU_ModifyMRUList("L", MRU_Modify_Insert, 20, "/new"),
                  MRU_ModifyMRUList("L", MRU_Modify_Insert, -1, "/bad")}),
            "10");
  EXPECT_EQ(list("L"), (Items{"/f1", "/f2", "/f3", "/f4", "/new"}));
  fill("Full", 9);
  ASSERT_TRUE(MRU_Save());
  EXPECT_TRUE(MRU_ModifyMRUList("Full", MRU_Modify_Insert, 20, "/late"));
  EXPECT_FALSE(MRU_IsModified());
  EXPECT_TRUE(MRU_ModifyMRUList("Full", MRU_Modify_Insert, 0, "/first"));
  EXPECT_TRUE(MRU_ModifyMRUList("Full", MRU_Modify_Insert, 4, "/mid"));
  EXPECT_EQ(list("Full"), (Items{"/first", "/f1", "/f2", "/f3", "/mid", "/f4", "/f5", "/f6", "/f7"}));
}

TEST_F(MRUListsTest, DeleteReplaceMoveToFrontAndWholeListDeletion) {
  fill("L", 4);
  MRU_UpdateList("Gone", "g", false);
  EXPECT_EQ(bits({MRU_ModifyMRUList("L", MRU_Modify_Delete, 1, nullptr),
                  MRU_ModifyMRUList("L", MRU_Modify_Delete, 3, nullptr),
                  MRU_ModifyMRUList("L", MRU_Modify_Delete, -2, nullptr),
                  MRU_ModifyMRUList("L", MRU_Modify_Replace, 2, "/r"),
                  MRU_ModifyMRUList("L", MRU_Modify_Replace, 3, "/r"),
                  MRU_ModifyMRUList("L", MRU_Modify_MoveToFront, 0, "/R"),
                  MRU_ModifyMRUList("L", MRU_Modify_MoveToFront, 0, "/added"),
                  MRU_ModifyMRUList("L", 4, 0, "x"), MRU_ModifyMRUList("L", -1, 0, "x"),
                  MRU_ModifyMRUList("GONE", MRU_Modify_Delete, -1, nullptr)}),
            "1001011001");
  EXPECT_EQ(list("L"), (Items{"/added", "/r", "/f1", "/f3"}));
  EXPECT_EQ(names(), (Items{"L"}));
  ASSERT_TRUE(MRU_Save());
  EXPECT_EQ(ReadStateFile("mrulist.ini"), "[L]\n/added\n/r\n/f1\n/f3\n\n");
}

// Lines before a header, blank lines and surplus items are skipped; an
// unclosed header still names a list; duplicate headers are not merged.
TEST_F(MRUListsTest, ReadingSkipsStrayLinesAndSurplusItems) {
  std::string text = "orphan before any header\n\n   \t\n[ Lead ]\n";
  for (int i = 1; i <= 11; ++i) text += "  item" + std::to_string(i) + "\r\n";
  text += "[Open\n\titem\n[Lead]\nsecond\n";
  WriteStateFile("mrulist.ini", text);
  MRU_Init();
  EXPECT_EQ(names(), (Items{"Lead ", "Open", "Lead"}));
  Items lead = list("lead ");
  ASSERT_EQ(lead.size(), 9u);
  EXPECT_EQ(lead.front() + lead.back(), "item1item9");
  EXPECT_EQ(list("Open"), (Items{"item"}));
  EXPECT_EQ(list("LEAD"), (Items{"second"}));
}

}  // namespace
