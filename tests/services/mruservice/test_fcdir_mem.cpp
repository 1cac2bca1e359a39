// File-choice directories: keys in any case, the section rules of
// "fcdir.ini", the once-only InitDirs, the kind without a key.
#include <gtest/gtest.h>

#include "services/mruservice/fcdir_mem.h"
#include "services/mruservice/state_file_support.h"

namespace {

class FCDirMemTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveStateFile("fcdir.ini"); }
  void TearDown() override {
    FCDirMem_Exit();
    RemoveStateFile("fcdir.ini");
  }
  // The directories of `kinds`, "-" for none.
  static std::string get(std::initializer_list<int> kinds) {
    std::string out;
    for (int k : kinds) out += std::string(FCDirMem_Get(k) ? FCDirMem_Get(k) : "-") + " ";
    return out;
  }
};

// Only its own section counts, keys in any case; unknown keys and junk are
// skipped; kinds out of range read the general directory.
TEST_F(FCDirMemTest, LoadsOnlyItsSectionWithKeysInAnyCase) {
  WriteStateFile("fcdir.ini",
                 "EditFileDir=/before\n[Other]\nEditFileDir=/other\n"
                 "[file choice directories]\neditfiledir=/e\nTRACEFILEDIR=/t\nNoSuchDir=/n\n"
                 "junk\nGeneralFileDir=/g=1\n[Later]\nBuildFileDir=/late\n");
  FCDirMem_Init();
  EXPECT_EQ(get({0, 9, 6, 1, -1, 12}), "/e /t /g=1 - /g=1 /g=1 ");
  EXPECT_TRUE(FCDirMem_IsModified());  // loading counts as a change
}

// InitDirs acts once; updates out of range are ignored; nothing exists
// before Init, and a store without changes writes no file.
TEST_F(FCDirMemTest, InitDirsActsOnlyOnce) {
  FCDirMem_Update(0, "/x");
  EXPECT_EQ(get({0}), "- ");
  FCDirMem_Init();  // no file
  EXPECT_FALSE(FCDirMem_IsModified());
  EXPECT_TRUE(FCDirMem_Save());
  EXPECT_EQ(ReadStateFile("fcdir.ini"), "<missing>");
  char *first[] = {const_cast<char *>("/0"), nullptr, const_cast<char *>("/2")};
  char *second[] = {const_cast<char *>("/x")};
  FCDirMem_InitDirs(3, first);
  FCDirMem_InitDirs(1, second);
  EXPECT_EQ(get({0, 1, 2}), "/0 - /2 ");
  FCDirMem_Update(0, "/later");
  FCDirMem_Update(12, "/ignored");
  FCDirMem_Update(-1, "/ignored");
  EXPECT_EQ(get({0, 6}), "/later - ");
  EXPECT_EQ(FCDirMem_Find("connectionfiledir"), 10);
  EXPECT_EQ(FCDirMem_Find("Nothing") + FCDirMem_Find(nullptr), -2);
}

}  // namespace
