// WhiteBoard group files: the file format, reading with its type rules,
// merging saves that keep what the file held, saves that change nothing
// writing nothing, malformed files, failed writes leaving the file as it
// was, stale temporaries, and the process-exit save into the default file.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "services/whiteboard/wb_test_support.h"
#include "services/whiteboard/whiteboard_group_file.h"
#include "services/whiteboard/whiteboard_image.h"
#include "shared/indgen.h"

namespace {

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> filesIn(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (struct dirent *e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class WhiteBoardFileTest : public ::testing::Test {
 protected:
  std::string dir = wbTempDir() + "/wbfiles_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name();
  void SetUp() override { mkdir(dir.c_str(), 0755); }
  std::string path(const char *name) { return dir + "/" + name; }
  // `g` after loading `text` from a file.
  std::string loaded(Group &g, const std::string &text) {
    testsupport::writeFile(path("in.wbd"), text);
    EXPECT_TRUE(g.loadFromFile(path("in.wbd").c_str()));
    return wbDump(g);
  }
};

TEST_F(WhiteBoardFileTest, WrittenInTheNestedFormAndReadBack) {
  GroupServer g("G", true, nullptr);
  g.setBoolValue("flag", true, false);
  g.setInt32Value("count", 3, false);
  g.setStringValue("path", "/tmp", false);
  g.setStringListValue("items", wbList({"a", "b"}), false);
  g.setStringValue("ExtEditor_ViPath", "vi", false);
  g.setStringListValue("empty", ut_string_list(), false);  // an empty list is not kept
  std::string file = path("g.wbd");
  ASSERT_TRUE(g.internalSaveToFile(file.c_str()));
  EXPECT_EQ(testsupport::readFile(file),
            "Bool {\n    flag = 1\n}\n"
            "Int32 {\n    count = 3\n}\n"
            "String {\n    \"ExtEditor_ViPath\" = \"vi\"\n    path = \"/tmp\"\n}\n"
            "StringList {\n    items = { \"a\", \"b\" }\n}\n");
  Group back("G");
  ASSERT_TRUE(back.loadFromFile(file.c_str()));
  EXPECT_EQ(wbDump(back), "b.flag=1 i.count=3 s.ExtEditor_ViPath=vi s.path=/tmp l.items=a,b");
  EXPECT_EQ(filesIn(dir), std::vector<std::string>{"g.wbd"});  // no temporary left beside it
}

TEST_F(WhiteBoardFileTest, SaveMergesIntoTheFileAndKeepsItsNames) {
  std::string file = path("m.wbd");
  testsupport::writeFile(file, "Bool {\n    A = 0\n    B = 1\n}\nInt32 {\n    gone = 4\n}\n");
  GroupServer g("M", true, nullptr);
  g.setBoolValue("A", true, false);
  g.setInt32Value("gone", 5, false);
  g.deleteName("gone", WB_ANY, false);  // deleting does not reach the file
  ASSERT_TRUE(g.saveToFile(file.c_str()));
  Group back("M");
  ASSERT_TRUE(back.loadFromFile(file.c_str()));
  EXPECT_EQ(wbDump(back), "b.A=1 b.B=1 i.gone=4");
}

TEST_F(WhiteBoardFileTest, SaveThatChangesNothingDoesNotTouchTheFile) {
  std::string file = path("same.wbd");
  GroupServer g("S", true, file.c_str());
  g.setInt32Value("n", 1, false);
  ASSERT_TRUE(g.saveToFile(nullptr));  // the group's own file
  struct stat before, after;
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  chmod(dir.c_str(), 0555);  // a write now could not even make its temporary
  EXPECT_TRUE(g.saveToFile(nullptr));
  chmod(dir.c_str(), 0755);
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  // A group without values creates no file.
  GroupServer e("E", true, nullptr);
  EXPECT_TRUE(e.saveToFile(path("e.wbd").c_str()));
  EXPECT_TRUE(e.internalSaveToFile(path("e.wbd").c_str()));
  EXPECT_FALSE(exists(path("e.wbd")));
  EXPECT_FALSE(e.internalSaveToFile(nullptr));
  EXPECT_FALSE(e.loadFromFile(nullptr));
}

// Each tree reads its own type: a Bool other than 0/1 or a string is
// skipped, a string Int32 reads as -1, a number String as "", a single
// string as a one-item list; unknown trees are ignored and names not in
// the file stay. A broken or missing file counts as empty.
TEST_F(WhiteBoardFileTest, LoadingAppliesTheTypeRulesAndSurvivesBrokenFiles) {
  Group g("T");
  g.setInt32Value("kept", 9, false);
  EXPECT_EQ(loaded(g, "Bool {\n    seven = 7\n    yes = 1\n    text = \"1\"\n}\n"
                      "Int32 {\n    word = \"abc\"\n    neg = -2\n}\n"
                      "String {\n    num = 12\n}\n"
                      "StringList {\n    one = \"x\"\n    num = 3\n}\n"
                      "Other {\n    ignored = 1\n}\n"),
            "b.yes=1 i.kept=9 i.neg=-2 i.word=-1 s.num= l.num= l.one=x");
  Group b("B");
  b.setInt32Value("n", 1, false);
  EXPECT_TRUE(b.loadFromFile(path("missing.wbd").c_str()));
  EXPECT_EQ(loaded(b, "Int32 {\n    n = 5\n    = oops {{{\n"), "i.n=1");
  EXPECT_EQ(loaded(b, std::string("\0\xff\xfe garbage", 12)), "i.n=1");
}

TEST_F(WhiteBoardFileTest, FailedWriteLeavesTheStoredFileAsItWas) {
  std::string file = path("keep.wbd");
  testsupport::writeFile(file, "Int32 {\n    n = 1\n}\n");
  GroupServer g("K", true, nullptr);
  g.setInt32Value("n", 2, false);
  // The target's place is taken by a directory: the rename fails and the
  // temporary file is removed again.
  std::string blocked = path("blocked.wbd");
  mkdir(blocked.c_str(), 0755);
  EXPECT_FALSE(g.saveToFile(blocked.c_str()));
  EXPECT_TRUE(gen_isdir(blocked.c_str()));
  EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"blocked.wbd", "keep.wbd"}));
  // A directory that cannot be written: no temporary, and the direct
  // write fails too; the file keeps its content.
  chmod(dir.c_str(), 0555);
  chmod(file.c_str(), 0444);
  bool saved = g.saveToFile(file.c_str());
  chmod(file.c_str(), 0644);
  chmod(dir.c_str(), 0755);
  if (geteuid() != 0) {  // root writes through any mode bits
    EXPECT_FALSE(saved);
    EXPECT_EQ(testsupport::readFile(file), "Int32 {\n    n = 1\n}\n");
  }
}

// Only what a save's temporary file looks like goes: "<group>.wbd_" and six
// characters, and only a plain file.
TEST_F(WhiteBoardFileTest, StaleTemporaryFilesAreRemovedAtStartUp) {
  std::string wb = getWhiteBoardDirectory();
  const struct {
    const char *name;
    bool removed;
  } cases[] = {{"Crashed.wbd_a1B2c3", true}, {"Other.wbd_XXXXXX", true},
               {"Kept.wbd", false},          {"Kept.wbd_short", false},
               {"Kept.txt_a1B2c3", false},   {".wbd_a1B2c3", false}};
  for (const auto &c : cases) testsupport::writeFile(wb + "/" + c.name, "x");
  mkdir((wb + "/Dir.wbd_a1B2c3").c_str(), 0755);  // not a file: left alone
  EXPECT_EQ(WhiteBoard_RemoveStaleTempFiles(), 2);
  for (const auto &c : cases) {
    EXPECT_EQ(exists(wb + "/" + c.name), !c.removed) << c.name;
    std::remove((wb + "/" + c.name).c_str());
  }
  EXPECT_TRUE(gen_isdir((wb + "/Dir.wbd_a1B2c3").c_str()));
  rmdir((wb + "/Dir.wbd_a1B2c3").c_str());
}

// The default file of a group is "<group>.wbd" in ~/.twl/WhiteBoard.
TEST_F(WhiteBoardFileTest, StoreSavesDiskGroupsIntoTheirDefaultFileAtTheEnd) {
  std::string own = path("own.wbd");
  char *defaultPath = getGroupPathFromGroupName("EndSaved");
  char *otherPath = getGroupPathFromGroupName("NotOnDisk");
  ASSERT_NE(defaultPath, nullptr);
  EXPECT_EQ(std::string(defaultPath), std::string(getenv("HOME")) + "/.twl/WhiteBoard/EndSaved.wbd");
  EXPECT_EQ(getGroupFilenameFromGroupName(nullptr), nullptr);
  unlink(defaultPath);
  {
    WhiteBoard_Image image;
    image.setupGroup("EndSaved", false, true, own.c_str(), nullptr);
    image.setupGroup("NotOnDisk", false, false, nullptr, nullptr);
    image.setInt32Value("EndSaved", "n", 6, nullptr);
    image.setInt32Value("NotOnDisk", "n", 6, nullptr);
    EXPECT_TRUE(image.saveGroupToFile("EndSaved", nullptr));  // its own file
    EXPECT_TRUE(exists(own));
    EXPECT_FALSE(exists(defaultPath));
  }
  // At the end: the default file, even though the group has its own.
  EXPECT_EQ(testsupport::readFile(defaultPath), "Int32 {\n    n = 6\n}\n");
  EXPECT_FALSE(exists(otherPath));
  gen_free(defaultPath);
  gen_free(otherPath);
}

}  // namespace
