// The early save of the state files: it writes what an exit would write once
// the delay after the first change has passed, once for a burst of changes,
// and never "fcdir.ini". Time is a fake clock.
#include <gtest/gtest.h>

#include "services/mruservice/state_file_support.h"
#include "services/mruservice/statefile_saver.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

long long g_now = 1000000;
long long fakeClock() { return g_now; }

class EarlySaveTest : public ::testing::Test {
 protected:
  WindowConfigList *windows = WindowConfig_AllocList();

  void SetUp() override {
    ut_setClockForTesting(fakeClock);
    StartStateStores();
    StateFileSaver_Enable(1500);
  }
  void TearDown() override {
    StateFileSaver_Disable();
    WindowConfig_FreeList(windows);
    StopStateStores();
    for (const char *f : {"mrulist.ini", "columns.ini", "windowpos.ini", "fcdir.ini"})
      RemoveStateFile(f);
    ut_setClockForTesting(nullptr);
  }

  // Moves the clock and fires what is due.
  static void advance(int ms) {
    g_now += ms;
    getIdleNotifier()->notifyTimers();
  }

  void changeGeometry(int x) {
    int seq, first, prev, gx, gy, gw, gh;
    WindowConfig_CreateWindow(windows, "Editor", 1, &seq, &first, &prev, &gx, &gy, &gw, &gh);
    WindowConfig_UpdateSavedGeometry(windows, "Editor", x, 2, 3, 4);
  }
};

TEST_F(EarlySaveTest, ABurstOfChangesIsWrittenOnceAfterTheDelay) {
  EXPECT_FALSE(StateFileSaver_IsArmed());
  changeGeometry(1);
  MRU_UpdateList("Files", "/a.c", false);
  FCDirMem_Update(0, "/src");
  advance(1000);
  changeGeometry(7);  // rides with the save already due
  EXPECT_EQ(ReadStateFile("windowpos.ini"), "<missing>");
  advance(600);
  EXPECT_EQ(ReadStateFile("windowpos.ini"), "[Editor]\nx=7\ny=2\nwidth=3\nheight=4\n\n");
  EXPECT_EQ(ReadStateFile("mrulist.ini"), "[Files]\n/a.c\n\n");
  EXPECT_EQ(ReadStateFile("fcdir.ini"), "<missing>");  // only SaveFCDir writes it
  EXPECT_FALSE(StateFileSaver_IsArmed());
  EXPECT_FALSE(MRU_IsModified());
}

TEST_F(EarlySaveTest, AFailedSaveIsTriedAgainAndNoChangeWritesNothing) {
  advance(5000);
  EXPECT_EQ(ReadStateFile("windowpos.ini"), "<missing>");  // nothing changed yet
  changeGeometry(5);
  BlockSaving("windowpos.ini");
  advance(1500);
  EXPECT_EQ(ReadStateFile("windowpos.ini"), "<missing>");
  EXPECT_TRUE(StateFileSaver_IsArmed());
  RemoveStateFile("windowpos.ini");  // unblocks
  advance(1500);
  EXPECT_EQ(ReadStateFile("windowpos.ini"), "[Editor]\nx=5\ny=2\nwidth=3\nheight=4\n\n");
}

}  // namespace
