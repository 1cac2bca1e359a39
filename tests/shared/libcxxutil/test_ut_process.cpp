// Process utilities: splitting command lines, editing argument vectors,
// starting a real child (the helper program beside this test) with and
// without LD_LIBRARY_PATH, and the scoped working-directory change.
#include "shared/libcxxutil/ut_process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "shared/runtime_test_support.h"

namespace {

using Words = std::vector<std::string>;

Words words_of(char **argv, int argc) {
  Words words(argv, argv + argc);
  EXPECT_EQ(argv[argc], nullptr);
  return words;
}

Words split(const char *line, bool dash = false) {
  int argc = -1;
  char **argv = makeArgv(line, &argc, dash);
  Words words = words_of(argv, argc);
  freeArgv(argv);
  return words;
}

std::string cwd() { return std::filesystem::current_path(); }

TEST(MakeArgv, QuotesGroupWordsAndOuterQuotesGo) {
  struct Case {
    const char *line;
    bool dash;
    Words words;
  } cases[] = {
      {"a \"b c\" 'd'", false, {"a", "b c", "d"}}, {"  x\t\ty  ", false, {"x", "y"}},
      {"x\"y z\"w", false, {"x\"y z\"w"}},  // inner quotes stay
      // The apostrophe closes what the double quote opened, so the blank
      // after it separates, and the later double quote opens a group to the end.
      {"\"it's here\" next", false, {"\"it's", "here\" next"}}, {"\"it is\"", false, {"it is"}},
      {"'a'\"b\"", false, {"'a'\"b\""}},  // a different quote at each end
      {"\"\" '", false, {"", "'"}},       // one quote alone stays
      {"", false, {}}, {" \t ", false, {}}, {nullptr, false, {}}, {"vi x", true, {"-vi", "x"}}, {"", true, {}},
  };
  for (const Case &c : cases) EXPECT_EQ(split(c.line, c.dash), c.words) << (c.line ? c.line : "(null)");
}

TEST(ArgvEditing, CopyAndInsert) {
  int argc = 0;
  char **argv = makeArgv("prog a b", &argc, false);
  char **copy = copyArgv(argv, argc);
  ASSERT_NE(copy[0], argv[0]);  // deep copy
  freeArgv(argv);
  insertArg(&copy, &argc, 1, "localhost");
  insertArg(&copy, &argc, argc, "last");
  insertArg(&copy, &argc, 0, "first");
  insertArg(&copy, &argc, argc + 1, "out");  // outside: ignored
  insertArg(&copy, &argc, -1, "out");
  insertArg(&copy, &argc, 0, nullptr);
  EXPECT_EQ(words_of(copy, argc), (Words{"first", "prog", "localhost", "a", "b", "last"}));
  freeArgv(copy);
  freeArgv(nullptr);
  int none = 0;
  char **empty = copyArgv(nullptr, 3);
  insertArg(&empty, &none, 0, "only");
  EXPECT_EQ(words_of(empty, none), (Words{"only"}));
  freeArgv(empty);
}

class SystemCall : public ::testing::Test {
 protected:
  void SetUp() override {
    binDir_ = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    helper_ = binDir_ + "/ut_process_child_helper";
    outFile_ = dir_.path("out");
  }
  // Starts argv through systemcall (or spawnProgram) and waits for the
  // child; returns its exit status (-1 when it did not exit normally).
  int run(Words args, bool dash, bool spawn = false) {
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pid = 0;
    if (spawn) pid = spawnProgram(argv.data(), dash);
    else EXPECT_TRUE(systemcall(argv.data(), &pid, dash));
    if (pid <= 0) return -2;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The lines the helper wrote: name, LD_LIBRARY_PATH, working directory.
  Words report() {
    Words lines;
    std::string all = TempDir::read(outFile_);
    for (size_t at = 0, nl; (nl = all.find('\n', at)) != std::string::npos; at = nl + 1)
      lines.push_back(all.substr(at, nl - at));
    std::filesystem::remove(outFile_);
    return lines;
  }

  TempDir dir_;
  std::string binDir_, helper_, outFile_;
};

// The child sees the program directory added to LD_LIBRARY_PATH (the
// parent's own value untouched) and, with the dash flag, runs under the
// dashed name, also when that name is found on the search path.
TEST_F(SystemCall, ChildGetsProgramDirectoryOnLibraryPathAndItsName) {
  struct Case {
    const char *libPath;  // null: unset
    std::string program;
    bool dash, spawn;
    std::string childLibPath;
  } cases[] = {
      {nullptr, helper_, false, false, binDir_},
      {"/lib", helper_, false, false, "/lib:" + binDir_},
      {nullptr, "-" + helper_, true, false, binDir_},
      {nullptr, "-ut_process_child_helper", true, false, binDir_},
      {nullptr, "-" + helper_, true, true, binDir_},
  };
  EnvGuard path("PATH", (binDir_ + ":" + (getenv("PATH") ? getenv("PATH") : "")).c_str());
  for (const Case &c : cases) {
    EnvGuard lib("LD_LIBRARY_PATH", c.libPath);
    EXPECT_EQ(run({c.program, outFile_}, c.dash, c.spawn), 0) << c.program;
    EXPECT_EQ(report(), (Words{c.program, c.childLibPath, cwd()})) << c.program;
    if (c.libPath) EXPECT_STREQ(getenv("LD_LIBRARY_PATH"), c.libPath);
    else EXPECT_EQ(getenv("LD_LIBRARY_PATH"), nullptr);
  }
}

TEST_F(SystemCall, MissingProgramFailsInTheChildOrBeforeForking) {
  EXPECT_EQ(run({binDir_ + "/no_such_program_here", outFile_}, false), 2);  // the child ends with 2
  EXPECT_EQ(run({"no_such_program_on_path_either"}, false), 2);
  EXPECT_EQ(run({binDir_ + "/no_such_program_here"}, false, true), -2);  // spawnProgram checks first
  EXPECT_EQ(run({"no_such_program_on_path_either"}, false, true), -2);
}

TEST_F(SystemCall, CwdChangerMovesTheChildAndComesBack) {
  const std::string before = cwd(), sub = dir_.path("sub");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  {
    CwdChanger c(sub.c_str());
    EXPECT_FALSE(c.Failed());
    EXPECT_EQ(run({helper_, outFile_}, false), 0);
  }
  EXPECT_EQ(cwd(), before);
  EXPECT_EQ(report().at(2), std::filesystem::canonical(sub).string());
  {
    CwdChanger c("~");
    EXPECT_FALSE(c.Failed());
    EXPECT_EQ(cwd(), std::filesystem::canonical(getenv("HOME")).string());
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
