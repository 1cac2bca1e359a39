// WhiteBoard group files: the file format, reading with its type rules,
// merging saves that keep what the file held, saves that change nothing
// writing nothing, malformed files, failed writes leaving the file as it
// was, and the process-exit save into the default file.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "services/whiteboard/whiteboard_group_file.h"
#include "services/whiteboard/whiteboard_image.h"
#include "shared/indgen.h"

namespace {

std::string readFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string &path, const std::string &text) {
  std::ofstream out(path);
  out << text;
}

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string joined(const ut_string_list &list) {
  std::string out;
  for (const ut_string &s : list) out += (out.empty() ? "" : ",") + std::string(s.c_str());
  return out;
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
  std::string dir;
  void SetUp() override {
    const char *tmp = getenv("TMPDIR");
    dir = std::string(tmp ? tmp : "/tmp") + "/wbfiles_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(dir.c_str(), 0755);
  }
  std::string path(const char *name) { return dir + "/" + name; }
};

TEST_F(WhiteBoardFileTest, DefaultFileLiesInTheWhiteBoardDirectory) {
  const char *wb = getWhiteBoardDirectory();
  ASSERT_NE(wb, nullptr);
  EXPECT_EQ(std::string(wb), std::string(getenv("HOME")) + "/.twl/WhiteBoard");
  EXPECT_TRUE(gen_isdir(wb));
  EXPECT_EQ(getWhiteBoardDirectory(), wb);  // remembered
  char *name = getGroupFilenameFromGroupName("GeneralConfiguration");
  char *full = getGroupPathFromGroupName("GeneralConfiguration");
  EXPECT_STREQ(name, "GeneralConfiguration.wbd");
  EXPECT_EQ(std::string(full), std::string(wb) + "/GeneralConfiguration.wbd");
  gen_free(name);
  gen_free(full);
  EXPECT_EQ(getGroupFilenameFromGroupName(nullptr), nullptr);
}

TEST_F(WhiteBoardFileTest, WrittenInTheNestedFormAndReadBack) {
  GroupServer g("G", true, nullptr);
  ut_string_list items;
  items.push_back("a");
  items.push_back("b");
  g.setBoolValue("flag", true, false);
  g.setInt32Value("count", 3, false);
  g.setStringValue("path", "/tmp", false);
  g.setStringListValue("items", items, false);
  g.setStringValue("ExtEditor_ViPath", "vi", false);
  g.setStringListValue("empty", ut_string_list(), false);
  std::string file = path("g.wbd");
  ASSERT_TRUE(g.internalSaveToFile(file.c_str()));
  EXPECT_EQ(readFile(file),
            "Bool {\n    flag = 1\n}\n"
            "Int32 {\n    count = 3\n}\n"
            "String {\n    \"ExtEditor_ViPath\" = \"vi\"\n    path = \"/tmp\"\n}\n"
            "StringList {\n    items = { \"a\", \"b\" }\n}\n");
  Group back("G");
  ASSERT_TRUE(back.loadFromFile(file.c_str()));
  bool b = false;
  int n = 0;
  ut_string s;
  ut_string_list l;
  EXPECT_TRUE(back.getBoolValue("flag", b) && b);
  EXPECT_TRUE(back.getInt32Value("count", n));
  EXPECT_EQ(n, 3);
  EXPECT_TRUE(back.getStringValue("path", s));
  EXPECT_STREQ(s.c_str(), "/tmp");
  EXPECT_TRUE(back.getStringListValue("items", l));
  EXPECT_EQ(joined(l), "a,b");
  EXPECT_FALSE(back.getStringListValue("empty", l));  // an empty list is not kept
  // No temporary file is left beside it.
  EXPECT_EQ(filesIn(dir), std::vector<std::string>{"g.wbd"});
}

TEST_F(WhiteBoardFileTest, SaveMergesIntoTheFileAndKeepsItsNames) {
  std::string file = path("m.wbd");
  writeFile(file, "Bool {\n    A = 0\n    B = 1\n}\nInt32 {\n    gone = 4\n}\n");
  GroupServer g("M", true, nullptr);
  g.setBoolValue("A", true, false);
  g.setInt32Value("gone", 5, false);
  g.deleteName("gone", WB_ANY, false);  // deleting does not reach the file
  ASSERT_TRUE(g.saveToFile(file.c_str()));
  Group back("M");
  ASSERT_TRUE(back.loadFromFile(file.c_str()));
  bool a = false, b = false;
  int gone = 0;
  EXPECT_TRUE(back.getBoolValue("A", a) && a);
  EXPECT_TRUE(back.getBoolValue("B", b) && b);
  EXPECT_TRUE(back.getInt32Value("gone", gone));
  EXPECT_EQ(gone, 4);
}

TEST_F(WhiteBoardFileTest, SaveThatChangesNothingDoesNotTouchTheFile) {
  std::string file = path("same.wbd");
  GroupServer g("S", true, file.c_str());
  g.setInt32Value("n", 1, false);
  ASSERT_TRUE(g.saveToFile(nullptr));  // the group's own file
  struct stat before;
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  chmod(dir.c_str(), 0555);  // a write now could not even make its temporary
  EXPECT_TRUE(g.saveToFile(nullptr));
  chmod(dir.c_str(), 0755);
  struct stat after;
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST_F(WhiteBoardFileTest, GroupWithoutValuesCreatesNoFile) {
  GroupServer g("E", true, nullptr);
  std::string file = path("e.wbd");
  EXPECT_TRUE(g.saveToFile(file.c_str()));
  EXPECT_TRUE(g.internalSaveToFile(file.c_str()));
  EXPECT_FALSE(exists(file));
  EXPECT_FALSE(g.internalSaveToFile(nullptr));
  EXPECT_FALSE(g.loadFromFile(nullptr));
}

TEST_F(WhiteBoardFileTest, LoadingAppliesTheTypeRulesOfEachTree) {
  std::string file = path("t.wbd");
  writeFile(file,
            "Bool {\n    seven = 7\n    yes = 1\n    text = \"1\"\n}\n"
            "Int32 {\n    word = \"abc\"\n    neg = -2\n}\n"
            "String {\n    num = 12\n}\n"
            "StringList {\n    one = \"x\"\n    num = 3\n}\n"
            "Other {\n    ignored = 1\n}\n");
  Group g("T");
  g.setInt32Value("kept", 9, false);
  ASSERT_TRUE(g.loadFromFile(file.c_str()));
  bool b = false;
  int n = 0;
  ut_string s("x");
  ut_string_list l;
  EXPECT_FALSE(g.getBoolValue("seven", b));
  EXPECT_FALSE(g.getBoolValue("text", b));  // a string reads as -1: skipped
  EXPECT_TRUE(g.getBoolValue("yes", b) && b);
  EXPECT_TRUE(g.getInt32Value("word", n));
  EXPECT_EQ(n, -1);
  EXPECT_TRUE(g.getInt32Value("neg", n));
  EXPECT_EQ(n, -2);
  EXPECT_TRUE(g.getStringValue("num", s));
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_TRUE(g.getStringListValue("one", l));
  EXPECT_EQ(joined(l), "x");
  EXPECT_TRUE(g.getStringListValue("num", l));
  EXPECT_EQ(l.size(), 0);
  EXPECT_TRUE(g.getInt32Value("kept", n));  // names not in the file stay
  EXPECT_EQ(n, 9);
  EXPECT_FALSE(g.getInt32Value("ignored", n));
}

TEST_F(WhiteBoardFileTest, MalformedOrMissingFileCountsAsEmpty) {
  Group g("B");
  g.setInt32Value("n", 1, false);
  EXPECT_TRUE(g.loadFromFile(path("missing.wbd").c_str()));
  std::string file = path("bad.wbd");
  writeFile(file, "Int32 {\n    n = 5\n    = oops {{{\n");
  EXPECT_TRUE(g.loadFromFile(file.c_str()));
  int n = 0;
  EXPECT_TRUE(g.getInt32Value("n", n));
  EXPECT_EQ(n, 1);  // nothing of the broken file is taken
  writeFile(file, std::string("\0\xff\xfe garbage", 12));
  EXPECT_TRUE(g.loadFromFile(file.c_str()));
  EXPECT_EQ(g.int32Values().size(), 1u);
}

TEST_F(WhiteBoardFileTest, FailedWriteLeavesTheStoredFileAsItWas) {
  std::string file = path("keep.wbd");
  writeFile(file, "Int32 {\n    n = 1\n}\n");
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
    EXPECT_EQ(readFile(file), "Int32 {\n    n = 1\n}\n");
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
  for (const auto &c : cases) writeFile(wb + "/" + c.name, "x");
  mkdir((wb + "/Dir.wbd_a1B2c3").c_str(), 0755);  // not a file: left alone
  EXPECT_EQ(WhiteBoard_RemoveStaleTempFiles(), 2);
  for (const auto &c : cases) {
    EXPECT_EQ(exists(wb + "/" + c.name), !c.removed) << c.name;
    std::remove((wb + "/" + c.name).c_str());
  }
  EXPECT_TRUE(gen_isdir((wb + "/Dir.wbd_a1B2c3").c_str()));
  rmdir((wb + "/Dir.wbd_a1B2c3").c_str());
}

TEST_F(WhiteBoardFileTest, StoreSavesDiskGroupsIntoTheirDefaultFileAtTheEnd) {
  std::string own = path("own.wbd");
  char *defaultPath = getGroupPathFromGroupName("EndSaved");
  char *otherPath = getGroupPathFromGroupName("NotOnDisk");
  ASSERT_NE(defaultPath, nullptr);
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
  EXPECT_EQ(readFile(defaultPath), "Int32 {\n    n = 6\n}\n");
  EXPECT_FALSE(exists(otherPath));
  gen_free(defaultPath);
  gen_free(otherPath);
}

}  // namespace
