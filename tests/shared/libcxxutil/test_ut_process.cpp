// Tests of the process utilities: splitting command lines, editing argument
// vectors, starting a real child (the helper program beside this test) with
// and without LD_LIBRARY_PATH, and the scoped working-directory change.
#include "shared/libcxxutil/ut_process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> words_of(char **argv, int argc) {
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) words.emplace_back(argv[i]);
  EXPECT_EQ(argv[argc], nullptr);
  return words;
}

std::vector<std::string> split(const char *line, bool dash = false) {
  int argc = -1;
  char **argv = makeArgv(line, &argc, dash);
  std::vector<std::string> words = words_of(argv, argc);
  freeArgv(argv);
  return words;
}

using Words = std::vector<std::string>;

std::string cwd() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? buf : "";
}

TEST(MakeArgv, QuotesGroupWordsAndOuterQuotesGo) {
  EXPECT_EQ(split("a \"b c\" 'd'"), (Words{"a", "b c", "d"}));
  EXPECT_EQ(split("  x\t\ty  "), (Words{"x", "y"}));
  // Inner quotes stay; the two quote kinds toggle the same state.
  EXPECT_EQ(split("x\"y z\"w"), (Words{"x\"y z\"w"}));
  // The apostrophe closes what the double quote opened, so the blank after
  // it separates, and the later double quote opens a group to the end.
  EXPECT_EQ(split("\"it's here\" next"), (Words{"\"it's", "here\" next"}));
  EXPECT_EQ(split("\"it is\""), (Words{"it is"}));
  EXPECT_EQ(split("'a'\"b\""), (Words{"'a'\"b\""}));  // different quote at each end
  EXPECT_EQ(split("\"\" '"), (Words{"", "'"}));       // one quote alone stays
}

TEST(MakeArgv, EmptyLinesAndDashFlag) {
  EXPECT_TRUE(split("").empty());
  EXPECT_TRUE(split(" \t ").empty());
  EXPECT_TRUE(split(nullptr).empty());
  EXPECT_EQ(split("vi x", true), (Words{"-vi", "x"}));
  EXPECT_TRUE(split("", true).empty());
}

TEST(ArgvEditing, CopyAndInsert) {
  int argc = 0;
  char **argv = makeArgv("prog a b", &argc, false);
  char **copy = copyArgv(argv, argc);
  ASSERT_NE(copy[0], argv[0]);  // deep copy
  EXPECT_EQ(words_of(copy, argc), (Words{"prog", "a", "b"}));

  insertArg(&copy, &argc, 1, "localhost");
  insertArg(&copy, &argc, 2, "4242");
  insertArg(&copy, &argc, argc, "last");
  insertArg(&copy, &argc, 0, "first");
  EXPECT_EQ(words_of(copy, argc), (Words{"first", "prog", "localhost", "4242", "a", "b", "last"}));
  insertArg(&copy, &argc, argc + 1, "out");
  insertArg(&copy, &argc, -1, "out");
  insertArg(&copy, &argc, 0, nullptr);
  EXPECT_EQ(argc, 7);
  EXPECT_EQ(copy[7], nullptr);
  freeArgv(copy);
  freeArgv(argv);
  freeArgv(nullptr);

  int none = 0;
  char **empty = copyArgv(nullptr, 3);
  EXPECT_EQ(empty[0], nullptr);
  insertArg(&empty, &none, 0, "only");
  EXPECT_EQ(words_of(empty, none), (Words{"only"}));
  freeArgv(empty);
}

class SystemCall : public ::testing::Test {
 protected:
  void SetUp() override {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    binDir_ = exe;
    binDir_ = binDir_.substr(0, binDir_.rfind('/'));
    helper_ = binDir_ + "/ut_process_child_helper";
    const char *tmp = getenv("TMPDIR");
    outFile_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/ut_process_out." +
               std::to_string(getpid());
    unlink(outFile_.c_str());
    const char *lib = getenv("LD_LIBRARY_PATH");
    hadLib_ = lib != nullptr;
    if (lib) savedLib_ = lib;
  }

  void TearDown() override {
    if (hadLib_) {
      setenv("LD_LIBRARY_PATH", savedLib_.c_str(), 1);
    } else {
      unsetenv("LD_LIBRARY_PATH");
    }
    unlink(outFile_.c_str());
  }

  // Starts argv through systemcall and waits for the child; returns its exit
  // status (-1 when it did not exit normally).
  int run(std::vector<std::string> args, bool dash) {
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pid = 0;
    EXPECT_TRUE(systemcall(argv.data(), &pid, dash));
    EXPECT_GT(pid, 0);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The lines the helper wrote: name, LD_LIBRARY_PATH, working directory.
  std::vector<std::string> report() {
    std::ifstream in(outFile_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string binDir_, helper_, outFile_, savedLib_;
  bool hadLib_ = false;
};

// The child sees the program directory added to LD_LIBRARY_PATH (the parent's
// own value untouched) and, with the dash flag, runs under the dashed name,
// also when that name is found on the search path.
TEST_F(SystemCall, ChildGetsProgramDirectoryOnLibraryPathAndItsName) {
  struct Case {
    const char *libPath;  // null: unset
    std::string program;
    bool dash;
    std::string childLibPath;
  } cases[] = {
      {nullptr, helper_, false, binDir_},
      {"/lib", helper_, false, "/lib:" + binDir_},
      {nullptr, "-" + helper_, true, binDir_},
      {nullptr, "-ut_process_child_helper", true, binDir_},
  };
  std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (binDir_ + ":" + savedPath).c_str(), 1);
  for (const Case &c : cases) {
    if (c.libPath) setenv("LD_LIBRARY_PATH", c.libPath, 1);
    else unsetenv("LD_LIBRARY_PATH");
    EXPECT_EQ(run({c.program, outFile_}, c.dash), 0) << c.program;
    std::vector<std::string> lines = report();
    ASSERT_EQ(lines.size(), 3u) << c.program;
    EXPECT_EQ(lines[0], c.program);
    EXPECT_EQ(lines[1], c.childLibPath);
    if (c.libPath) EXPECT_STREQ(getenv("LD_LIBRARY_PATH"), c.libPath);
    else EXPECT_EQ(getenv("LD_LIBRARY_PATH"), nullptr);
  }
  setenv("PATH", savedPath.c_str(), 1);
}

TEST_F(SystemCall, MissingProgramEndsChildWithStatusTwo) {
  EXPECT_EQ(run({binDir_ + "/no_such_program_here", outFile_}, false), 2);
  EXPECT_EQ(run({"no_such_program_on_path_either"}, false), 2);
}

TEST_F(SystemCall, SpawnProgramChecksTheProgramBeforeForking) {
  std::string missing = binDir_ + "/no_such_program_here";
  std::vector<char *> argv = {missing.data(), nullptr};
  EXPECT_EQ(spawnProgram(argv.data(), false), 0);
  std::string bare = "no_such_program_on_path_either";
  argv[0] = bare.data();
  EXPECT_EQ(spawnProgram(argv.data(), false), 0);

  std::string dashed = "-" + helper_;
  std::vector<char *> good = {dashed.data(), outFile_.data(), nullptr};
  int pid = spawnProgram(good.data(), true);
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<std::string> lines = report();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], dashed);
}

TEST_F(SystemCall, ChildStartsInChangedDirectoryAndParentReturns) {
  const std::string before = cwd();
  std::string dir = outFile_ + ".dir";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  {
    CwdChanger cwd(dir.c_str());
    EXPECT_FALSE(cwd.Failed());
    EXPECT_EQ(run({helper_, outFile_}, false), 0);
  }
  EXPECT_EQ(cwd(), before);
  std::vector<std::string> lines = report();
  ASSERT_EQ(lines.size(), 3u);
  char real[PATH_MAX];
  ASSERT_NE(realpath(dir.c_str(), real), nullptr);
  EXPECT_EQ(lines[2], real);
  rmdir(dir.c_str());
}

TEST(CwdChangerTest, TildeExpandsMissingDirectoryFailsNullChangesNothing) {
  const char *home = getenv("HOME");
  ASSERT_NE(home, nullptr);
  char realHome[PATH_MAX];
  ASSERT_NE(realpath(home, realHome), nullptr);
  const std::string before = cwd();
  {
    CwdChanger c("~");
    EXPECT_FALSE(c.Failed());
    EXPECT_EQ(cwd(), realHome);
  }
  EXPECT_EQ(cwd(), before);
  {
    CwdChanger c("/no/such/directory/anywhere");
    EXPECT_TRUE(c.Failed());
    EXPECT_EQ(cwd(), before);
  }
  {
    CwdChanger none(nullptr);
    EXPECT_FALSE(none.Failed());
  }
  EXPECT_EQ(cwd(), before);
}

}  // namespace
