// Window classes: sequence numbers and first/previous windows, destroying,
// saved geometry shared between connections, and "windowpos.ini".
#include <gtest/gtest.h>

#include <climits>

#include "services/mruservice/state_file_support.h"
#include "services/mruservice/window_config.h"

namespace {

using Ints = std::vector<int>;

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
  // sequence, first, previous, x, y, width, height.
  static Ints create(WindowConfigList *list, const char *cls, int window) {
    Ints r(7);
    WindowConfig_CreateWindow(list, cls, window, &r[0], &r[1], &r[2], &r[3], &r[4], &r[5], &r[6]);
    return r;
  }
  static bool destroy(WindowConfigList *list, const char *cls, int window) {
    bool needToSave = false;
    WindowConfig_DestroyWindow(list, cls, window, &needToSave);
    return needToSave;
  }
  // first window, x, y, width, height.
  static Ints saved(WindowConfigList *list, const char *cls) {
    Ints r(5);
    WindowConfig_GetSavedGeometry(list, cls, &r[0], &r[1], &r[2], &r[3], &r[4]);
    return r;
  }
  Ints loaded(const char *text) {
    windowConfigGlobal.modified = false;
    WindowConfig_Exit();
    WriteStateFile("windowpos.ini", text);
    WindowConfig_Init();
    return saved(a, "W");
  }

  WindowConfigList *a = WindowConfig_AllocList();
  WindowConfigList *b = WindowConfig_AllocList();
};

// Sequence numbers count up per class (any case) and restart when the class
// empties; only destroying the first window asks for a save; a duplicate
// window is reported and reuses its record.
TEST_F(WindowConfigTest, SequencesFirstAndPreviousWindows) {
  EXPECT_EQ(create(a, "Editor", 7), (Ints{0, 7, 0, 0, 0, 0, 0}));
  EXPECT_EQ(create(a, "editor", 8), (Ints{1, 7, 7, 0, 0, 0, 0}));
  EXPECT_EQ(create(a, "EDITOR", 9), (Ints{2, 7, 8, 0, 0, 0, 0}));
  EXPECT_TRUE(destroy(a, "Editor", 7));
  EXPECT_EQ(create(a, "Editor", 10), (Ints{3, 0, 9, 0, 0, 0, 0}));
  EXPECT_FALSE(destroy(a, "Editor", 9) || destroy(a, "Editor", 99) || destroy(a, "Other", 8));
  int seq, first, prev, x, y, w, h;
  EXPECT_FALSE(WindowConfig_CreateWindow(a, "Editor", 8, &seq, &first, &prev, &x, &y, &w, &h));
  EXPECT_EQ((Ints{seq, prev}), (Ints{1, 0}));  // 8 is the class's first record now
  destroy(a, "Editor", 8);
  destroy(a, "Editor", 10);
  EXPECT_EQ(create(a, "Editor", 3), (Ints{0, 3, 0, 0, 0, 0, 0}));
}

// The other connection sees the saved values without a first window, and a
// class entry it creates inherits them in their stored form; a class the
// connection never created is refused; the largest values do not wrap.
TEST_F(WindowConfigTest, GeometryIsSharedThroughTheSavedList) {
  EXPECT_EQ(saved(a, "Main"), (Ints{0, -1, -1, -1, -1}));
  create(a, "Main", 5);
  WindowConfig_UpdateSavedGeometry(a, "main", -5, 20, 300, 400);
  EXPECT_EQ(saved(a, "Main"), (Ints{5, 0, 20, 300, 400}));
  EXPECT_EQ(saved(b, "MAIN"), (Ints{0, 0, 20, 300, 400}));
  EXPECT_EQ(create(b, "Main", 1), (Ints{0, 1, 0, 1, 21, 301, 401}));
  EXPECT_FALSE(WindowConfig_UpdateSavedGeometry(a, "Stranger", 1, 2, 3, 4));
  EXPECT_EQ(saved(a, "Stranger"), (Ints{0, -1, -1, -1, -1}));
  EXPECT_TRUE(WindowConfig_UpdateSavedGeometry(a, "Main", INT_MAX, INT_MAX, INT_MAX, INT_MAX));
  EXPECT_EQ(saved(a, "Main"), (Ints{5, INT_MAX - 1, INT_MAX - 1, INT_MAX - 1, INT_MAX - 1}));
}

// Malformed lines are skipped ("width " is not the key width; "abc" reads
// as 0); numbers are cut to what the stored form holds.
TEST_F(WindowConfigTest, ReadingSkipsMalformedLinesAndCutsNumbers) {
  EXPECT_EQ(loaded("x=1\n[W]\nx\nX=3\nleft=4\nwidth = 9\nHEIGHT=abc\n"), (Ints{0, 3, -1, -1, 0}));
  EXPECT_EQ(loaded("[W]\nx=2147483647\ny=-2147483648\nwidth=99999999999\nheight=-99999999999\n"),
            (Ints{0, 2147483646, INT_MIN, 2147483646, INT_MIN}));
}

}  // namespace
