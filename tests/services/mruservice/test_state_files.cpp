// What the four state files share: byte-for-byte round trip, a failed save
// keeps the old file and the change, the file loads only once, pending
// changes are written at exit (fcdir.ini only on request) and a stale
// temporary left by an interrupted save is removed on load.
#include <gtest/gtest.h>

#include "services/mruservice/column_config.h"
#include "services/mruservice/fcdir_mem.h"
#include "services/mruservice/mru_lists.h"
#include "services/mruservice/state_file_support.h"
#include "services/mruservice/window_config.h"

namespace {

WindowConfigList *g_windows = nullptr;

struct StoreCase {
  const char *file;
  void (*init)();
  void (*exit)();
  bool (*save)();
  void (*discard)();  // drops unsaved changes so that exit writes nothing
  void (*touch)();    // marks the loaded round-trip text modified, changing nothing
  void (*write)();    // writes the store whole after `touch`
  void (*change)();   // a real change
  const char *roundTrip;
  const char *changed;  // the file after `change` on an empty store and exit
};

ColumnConfig_Info g_column{const_cast<char *>("x"), 11, -1, true};

const StoreCase kCases[] = {
    {"mrulist.ini", MRU_Init, MRU_Exit, MRU_Save, MRU_Free,
     [] {
       MRU_UpdateList("Files", "/a/b.c", false);  // already newest: no change
       MRU_ModifyMRUList("Projects", MRU_Modify_Insert, 0, "p1");
       MRU_ModifyMRUList("Projects", MRU_Modify_Delete, 0, nullptr);
     },
     [] { EXPECT_TRUE(MRU_Save()); },
     [] { MRU_UpdateList("A", "x", false); },
     "[Files]\n/a/b.c\n/x y/z \n\n[Projects]\n\n[Empty name]\np\n\n", "[A]\nx\n\n"},
    {"columns.ini", ColumnConfig_Init, ColumnConfig_Exit, ColumnConfig_Save, ColumnConfig_Free,
     [] {
       ColumnConfig_Array none{0, nullptr};
       ColumnConfig_UpdateColumnInfo("EMPTY", &none);  // changes nothing, still counts
     },
     [] { EXPECT_TRUE(ColumnConfig_Save()); },
     [] {
       ColumnConfig_Array one{1, &g_column};
       ColumnConfig_UpdateColumnInfo("A", &one);
     },
     "[Files]\nname1=File\nwidth1=16\nsort1=ascending\n"
     "name2=Size\nwidth2=0\nsort2=descending\nhidden2=true\nname3=\n\n[Empty]\n\n",
     "[A]\nname1=x\nwidth1=10\nsort1=descending\nhidden1=true\n\n"},
    {"windowpos.ini", WindowConfig_Init, WindowConfig_Exit, WindowConfig_Save,
     [] { windowConfigGlobal.modified = false; },
     [] { windowConfigGlobal.modified = true; }, WindowConfig_Exit,
     [] {
       int seq, first, prev, x, y, w, h;
       WindowConfig_CreateWindow(g_windows, "Editor", 1, &seq, &first, &prev, &x, &y, &w, &h);
       WindowConfig_UpdateSavedGeometry(g_windows, "Editor", 7, 2, 3, 4);
     },
     "[Editor]\nx=-5\ny=0\nwidth=640\nheight=480\n\n[Blank]\n\n[Half]\nwidth=32\n\n",
     "[Editor]\nx=7\ny=2\nwidth=3\nheight=4\n\n"},
    {"fcdir.ini", FCDirMem_Init, FCDirMem_Exit, FCDirMem_Save, [] {},
     [] { FCDirMem_Update(11, "/never-saved"); },  // loading counts as a change
     [] { EXPECT_TRUE(FCDirMem_Save()); },
     [] { FCDirMem_Update(0, "/src"); },
     "\n[File Choice Directories]\nEditFileDir=/a\nBuildFileDir=/b\nExecutableDir=/c\n"
     "EventFileDir=/d\nConfigFileDir=/e\nTargetFileDir=/f\nGeneralFileDir=/g\n"
     "PlacerFileDir=/h\nIntegrateFileDir=/i\nTraceFileDir=/j\nConnectionFileDir=/k\n\n",
     nullptr},  // written only on request
};

class StateFileTest : public ::testing::TestWithParam<StoreCase> {
 protected:
  const StoreCase &c = GetParam();
  void SetUp() override {
    g_windows = WindowConfig_AllocList();
    RemoveStateFile(c.file);
  }
  void TearDown() override {
    WindowConfig_FreeList(g_windows);
    c.discard();
    c.exit();
    RemoveStateFile(c.file);
  }
  // Writes the store into a fresh file and returns what was written.
  std::string saveFresh() {
    RemoveStateFile(c.file);
    c.write();
    return ReadStateFile(c.file);
  }
};

TEST_P(StateFileTest, RoundTripsByteForByte) {
  WriteStateFile(c.file, c.roundTrip);
  c.init();
  c.touch();
  EXPECT_EQ(saveFresh(), c.roundTrip);
}

TEST_P(StateFileTest, LoadsOnlyOnce) {
  WriteStateFile(c.file, c.roundTrip);
  c.init();
  WriteStateFile(c.file, "[Other]\n");
  c.init();
  c.touch();
  EXPECT_EQ(saveFresh(), c.roundTrip);
}

TEST_P(StateFileTest, FailedSaveKeepsTheOldFileAndTheChange) {
  WriteStateFile(c.file, c.roundTrip);
  c.init();
  c.change();
  BlockSaving(c.file);
  EXPECT_FALSE(c.save());
  EXPECT_EQ(ReadStateFile(c.file), c.roundTrip);
  rmdir((ConfigPath(c.file) + ".tmp").c_str());
  EXPECT_TRUE(c.save());
  EXPECT_NE(ReadStateFile(c.file), c.roundTrip);
}

TEST_P(StateFileTest, ExitWritesPendingChanges) {
  c.init();
  c.change();
  c.exit();
  EXPECT_EQ(ReadStateFile(c.file), c.changed ? c.changed : "<missing>");
}

TEST_P(StateFileTest, LoadingRemovesAStaleTemporaryAndKeepsTheFile) {
  WriteStateFile(c.file, "[Kept]\n");
  std::string temp = std::string(c.file) + ".tmp";
  WriteStateFile(temp.c_str(), "half a sav");
  c.init();
  EXPECT_EQ(ReadStateFile(temp.c_str()), "<missing>");
  EXPECT_EQ(ReadStateFile(c.file), "[Kept]\n");
}

INSTANTIATE_TEST_SUITE_P(Stores, StateFileTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) {
                           std::string n = info.param.file;
                           return n.substr(0, n.find('.'));
                         });

}  // namespace
