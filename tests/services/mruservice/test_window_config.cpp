// Window classes: sequence numbers and first/previous windows, destroying,
// saved geometry shared between connections, and "windowpos.ini".
#include <gtest/gtest.h>

#include <climits>

#include "services/mruservice/state_file_support.h"
#include "services/mruservice/window_config.h"
#include "shared/runtime_test_support.h"

namespace {

struct Created {
  int sequence, first, prev, x, y, width, height;
};

class WindowConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveStateFile("windowpos.ini"); }
  void TearDown() override {
    WindowConfig_FreeList(a);
    WindowConfig_FreeList(b);
    windowConfigGlobal.modified = false;  // nothing to write
    WindowConfig_Exit();
    RemoveStateFile("windowpos.ini");
  }

  static Created create(WindowConfigList *list, const char *cls, int window) {
    Created c{};
    WindowConfig_CreateWindow(list, cls, window, &c.sequence, &c.first, &c.prev, &c.x, &c.y,
                              &c.width, &c.height);
    return c;
  }
  static std::vector<int> saved(WindowConfigList *list, const char *cls) {
    int f, x, y, w, h;
    WindowConfig_GetSavedGeometry(list, cls, &f, &x, &y, &w, &h);
    return {f, x, y, w, h};
  }

  WindowConfigList *a = WindowConfig_AllocList();
  WindowConfigList *b = WindowConfig_AllocList();
};

TEST_F(WindowConfigTest, SequencesFirstAndPreviousWindows) {
  Created c7 = create(a, "Editor", 7), c8 = create(a, "editor", 8), c9 = create(a, "EDITOR", 9);
  EXPECT_EQ((std::vector<int>{c7.sequence, c8.sequence, c9.sequence}), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ((std::vector<int>{c7.first, c8.first, c9.first}), (std::vector<int>{7, 7, 7}));
  EXPECT_EQ((std::vector<int>{c7.prev, c8.prev, c9.prev}), (std::vector<int>{0, 7, 8}));
  bool needToSave = false;
  WindowConfig_DestroyWindow(a, "Editor", 7, &needToSave);
  EXPECT_TRUE(needToSave);
  Created c10 = create(a, "Editor", 10);
  EXPECT_EQ(c10.sequence, 3);
  EXPECT_EQ(c10.first, 0);
  EXPECT_EQ(c10.prev, 9);
  WindowConfig_DestroyWindow(a, "Editor", 9, &needToSave);
  EXPECT_FALSE(needToSave);
  WindowConfig_DestroyWindow(a, "Editor", 99, &needToSave);
  EXPECT_FALSE(needToSave);
  WindowConfig_DestroyWindow(a, "Other", 8, &needToSave);
  EXPECT_FALSE(needToSave);
}

TEST_F(WindowConfigTest, SequencesRestartWhenAClassEmpties) {
  create(a, "C", 1);
  create(a, "C", 2);
  bool needToSave;
  WindowConfig_DestroyWindow(a, "C", 2, &needToSave);
  WindowConfig_DestroyWindow(a, "C", 1, &needToSave);
  Created again = create(a, "C", 3);
  EXPECT_EQ(again.sequence, 0);
  EXPECT_EQ(again.first, 3);
}

TEST_F(WindowConfigTest, DuplicateWindowIsReportedAndReusesItsRecord) {
  create(a, "C", 1);
  create(a, "C", 2);
  int seq, first, prev, x, y, w, h;
  EXPECT_FALSE(WindowConfig_CreateWindow(a, "C", 1, &seq, &first, &prev, &x, &y, &w, &h));
  EXPECT_EQ(seq, 0);
  EXPECT_EQ(prev, 0);
  EXPECT_EQ(create(a, "C", 3).sequence, 2);
}

TEST_F(WindowConfigTest, GeometryIsSharedThroughTheSavedList) {
  EXPECT_EQ(saved(a, "Main"), (std::vector<int>{0, -1, -1, -1, -1}));
  create(a, "Main", 5);
  WindowConfig_UpdateSavedGeometry(a, "main", -5, 20, 300, 400);
  EXPECT_EQ(saved(a, "Main"), (std::vector<int>{5, 0, 20, 300, 400}));
  // The other connection sees the saved values, without a first window.
  EXPECT_EQ(saved(b, "MAIN"), (std::vector<int>{0, 0, 20, 300, 400}));
  Created inherited = create(b, "Main", 1);
  EXPECT_EQ((std::vector<int>{inherited.x, inherited.y, inherited.width, inherited.height}),
            (std::vector<int>{1, 21, 301, 401}));  // stored form
  EXPECT_EQ(inherited.sequence, 0);  // numbered per connection
}

TEST_F(WindowConfigTest, UpdateForAClassTheConnectionNeverCreatedIsRefused) {
  EXPECT_FALSE(WindowConfig_UpdateSavedGeometry(a, "Stranger", 1, 2, 3, 4));
  EXPECT_EQ(saved(a, "Stranger"), (std::vector<int>{0, -1, -1, -1, -1}));
}

TEST_F(WindowConfigTest, LargestGeometryDoesNotWrapInItsStoredForm) {
  create(a, "Big", 1);
  EXPECT_TRUE(WindowConfig_UpdateSavedGeometry(a, "Big", INT_MAX, INT_MAX, INT_MAX, INT_MAX));
  EXPECT_EQ(saved(a, "Big"), (std::vector<int>{1, INT_MAX - 1, INT_MAX - 1, INT_MAX - 1,
                                               INT_MAX - 1}));
}


TEST_F(WindowConfigTest, MalformedLinesAreSkipped) {
  WriteStateFile("windowpos.ini", "x=1\n[W]\nx\nX=3\nleft=4\nwidth = 9\nHEIGHT=abc\n");
  WindowConfig_Init();
  // "width " is not the key width; "abc" reads as 0.
  EXPECT_EQ(saved(a, "W"), (std::vector<int>{0, 3, -1, -1, 0}));
}

TEST_F(WindowConfigTest, NumbersAreCutToWhatTheStoredFormHolds) {
  WriteStateFile("windowpos.ini",
                 "[W]\nx=2147483647\ny=-2147483648\nwidth=99999999999\nheight=-99999999999\n");
  WindowConfig_Init();
  EXPECT_EQ(saved(a, "W"), (std::vector<int>{0, 2147483646, INT_MIN, 2147483646, INT_MIN}));
}


}  // namespace
