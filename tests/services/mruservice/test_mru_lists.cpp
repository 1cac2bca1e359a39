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
  static void fill(const char *name, int n) {
    for (int i = n; i >= 1; --i) MRU_UpdateList(name, ("/f" + std::to_string(i)).c_str(), false);
  }
};

TEST_F(MRUListsTest, TenUpdatesKeepTheNineNewest) {
  for (int i = 1; i <= 10; ++i) MRU_UpdateList("Files", ("/f" + std::to_string(i)).c_str(), false);
  EXPECT_EQ(list("Files"),
            (Items{"/f10", "/f9", "/f8", "/f7", "/f6", "/f5", "/f4", "/f3", "/f2"}));
}

TEST_F(MRUListsTest, UpdateMovesAnExistingItemKeepingItsSpelling) {
  fill("Files", 5);  // /f1 .. /f5, /f1 newest
  MRU_UpdateList("Files", "/x/y", false);
  MRU_UpdateList("Files", "/f1", false);
  MRU_UpdateList("Files", "/f2", false);
  MRU_UpdateList("Files", "/f3", false);  // /x/y now at index 3
  ASSERT_EQ(list("Files")[3], "/x/y");
  ASSERT_TRUE(MRU_Save());
  MRU_UpdateList("FILES", "/X/Y", false);
  EXPECT_TRUE(MRU_IsModified());
  EXPECT_EQ(list("files"), (Items{"/x/y", "/f3", "/f2", "/f1", "/f4", "/f5"}));
}

TEST_F(MRUListsTest, TouchingTheNewestItemChangesNothing) {
  fill("Files", 3);
  ASSERT_TRUE(MRU_Save());
  MRU_UpdateList("Files", "/F1", false);
  EXPECT_FALSE(MRU_IsModified());
  RemoveStateFile("mrulist.ini");
  MRU_Save();
  EXPECT_EQ(ReadStateFile("mrulist.ini"), "<missing>");
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
}

TEST_F(MRUListsTest, InsertClampsTheSlotAndRespectsTheLimit) {
  fill("L", 4);
  EXPECT_TRUE(MRU_ModifyMRUList("L", MRU_Modify_Insert, 20, "/new"));
  EXPECT_EQ(list("L"), (Items{"/f1", "/f2", "/f3", "/f4", "/new"}));
  EXPECT_FALSE(MRU_ModifyMRUList("L", MRU_Modify_Insert, -1, "/bad"));

  fill("Full", 9);
  ASSERT_TRUE(MRU_Save());
  EXPECT_TRUE(MRU_ModifyMRUList("Full", MRU_Modify_Insert, 20, "/late"));
  EXPECT_FALSE(MRU_IsModified());
  EXPECT_EQ(list("Full").size(), 9u);
  EXPECT_EQ(list("Full").back(), "/f9");

  EXPECT_TRUE(MRU_ModifyMRUList("Full", MRU_Modify_Insert, 0, "/first"));
  Items full = list("Full");
  ASSERT_EQ(full.size(), 9u);
  EXPECT_EQ(full.front(), "/first");
  EXPECT_EQ(full.back(), "/f8");
  EXPECT_TRUE(MRU_ModifyMRUList("Full", MRU_Modify_Insert, 4, "/mid"));
  full = list("Full");
  EXPECT_EQ(full, (Items{"/first", "/f1", "/f2", "/f3", "/mid", "/f4", "/f5", "/f6", "/f7"}));
}

TEST_F(MRUListsTest, DeleteReplaceAndMoveToFront) {
  fill("L", 4);
  EXPECT_TRUE(MRU_ModifyMRUList("L", MRU_Modify_Delete, 1, nullptr));
  EXPECT_EQ(list("L"), (Items{"/f1", "/f3", "/f4"}));
  EXPECT_FALSE(MRU_ModifyMRUList("L", MRU_Modify_Delete, 3, nullptr));
  EXPECT_FALSE(MRU_ModifyMRUList("L", MRU_Modify_Delete, -2, nullptr));
  EXPECT_TRUE(MRU_ModifyMRUList("L", MRU_Modify_Replace, 2, "/r"));
  EXPECT_FALSE(MRU_ModifyMRUList("L", MRU_Modify_Replace, 3, "/r"));
  EXPECT_TRUE(MRU_ModifyMRUList("L", MRU_Modify_MoveToFront, 0, "/R"));
  EXPECT_TRUE(MRU_ModifyMRUList("L", MRU_Modify_MoveToFront, 0, "/added"));
  EXPECT_EQ(list("L"), (Items{"/added", "/r", "/f1", "/f3"}));
  EXPECT_FALSE(MRU_ModifyMRUList("L", 4, 0, "x"));
  EXPECT_FALSE(MRU_ModifyMRUList("L", -1, 0, "x"));
}

TEST_F(MRUListsTest, NoOperationCreatesAList) {
  for (int op = 0; op <= 3; ++op) EXPECT_FALSE(MRU_ModifyMRUList("Nope", op, 0, "x")) << op;
  EXPECT_TRUE(names().empty());
}

TEST_F(MRUListsTest, DeletingAWholeListRemovesItFromNamesAndFile) {
  MRU_UpdateList("Keep", "k", false);
  MRU_UpdateList("Gone", "g", false);
  EXPECT_TRUE(MRU_ModifyMRUList("GONE", MRU_Modify_Delete, -1, nullptr));
  EXPECT_EQ(names(), (Items{"Keep"}));
  ASSERT_TRUE(MRU_Save());
  EXPECT_EQ(ReadStateFile("mrulist.ini"), "[Keep]\nk\n\n");
}


TEST_F(MRUListsTest, ReadingSkipsStrayLinesAndSurplusItems) {
  std::string text = "orphan before any header\n\n   \t\n[ Lead ]\n";
  for (int i = 1; i <= 11; ++i) text += "  item" + std::to_string(i) + "\r\n";
  text += "[Open\n\titem\n[Lead]\nsecond\n";
  WriteStateFile("mrulist.ini", text);
  MRU_Init();
  EXPECT_EQ(names(), (Items{"Lead ", "Open", "Lead"}));  // duplicates are not merged
  Items lead = list("lead ");
  ASSERT_EQ(lead.size(), 9u);
  EXPECT_EQ(lead.front(), "item1");
  EXPECT_EQ(lead.back(), "item9");
  EXPECT_EQ(list("Open"), (Items{"item"}));
  EXPECT_EQ(list("LEAD"), (Items{"second"}));
}




}  // namespace
