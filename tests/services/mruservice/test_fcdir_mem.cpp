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
  static std::string get(int kind) {
    const char *dir = FCDirMem_Get(kind);
    return dir ? dir : "(null)";
  }
};

TEST_F(FCDirMemTest, LoadsOnlyItsSectionWithKeysInAnyCase) {
  WriteStateFile("fcdir.ini",
                 "EditFileDir=/before\n[Other]\nEditFileDir=/other\n"
                 "[file choice directories]\neditfiledir=/e\nTRACEFILEDIR=/t\nNoSuchDir=/n\n"
                 "junk\nGeneralFileDir=/g=1\n[Later]\nBuildFileDir=/late\n");
  FCDirMem_Init();
  EXPECT_EQ(get(0), "/e");
  EXPECT_EQ(get(9), "/t");
  EXPECT_EQ(get(6), "/g=1");
  EXPECT_EQ(get(1), "(null)");
  EXPECT_EQ(get(-1), "/g=1");
  EXPECT_EQ(get(12), "/g=1");
  EXPECT_TRUE(FCDirMem_IsModified());  // loading counts as a change
  RemoveStateFile("fcdir.ini");
  EXPECT_TRUE(FCDirMem_Save());
  EXPECT_EQ(ReadStateFile("fcdir.ini"),
            "\n[File Choice Directories]\nEditFileDir=/e\nGeneralFileDir=/g=1\n"
            "TraceFileDir=/t\n\n");
}


TEST_F(FCDirMemTest, InitDirsActsOnlyOnce) {
  FCDirMem_Init();
  char *first[] = {const_cast<char *>("/0"), nullptr, const_cast<char *>("/2")};
  char *second[] = {const_cast<char *>("/x")};
  FCDirMem_InitDirs(3, first);
  FCDirMem_InitDirs(1, second);
  EXPECT_EQ(get(0), "/0");
  EXPECT_EQ(get(1), "(null)");
  EXPECT_EQ(get(2), "/2");
  FCDirMem_Update(0, "/later");
  FCDirMem_Update(12, "/ignored");
  FCDirMem_Update(-1, "/ignored");
  EXPECT_EQ(get(0), "/later");
  EXPECT_EQ(get(6), "(null)");
}

TEST_F(FCDirMemTest, NothingBeforeInitAndNoSaveWithoutChanges) {
  FCDirMem_Update(0, "/x");
  EXPECT_EQ(FCDirMem_Get(0), nullptr);
  FCDirMem_Init();  // no file
  EXPECT_FALSE(FCDirMem_IsModified());
  EXPECT_TRUE(FCDirMem_Save());
  EXPECT_EQ(ReadStateFile("fcdir.ini"), "<missing>");
  EXPECT_EQ(FCDirMem_Find("connectionfiledir"), 10);
  EXPECT_EQ(FCDirMem_Find("Nothing"), -1);
  EXPECT_EQ(FCDirMem_Find(nullptr), -1);
}



}  // namespace
