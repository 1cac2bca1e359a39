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

// The words of an argument vector, which must end in null; frees it.
Words take_argv(char **argv, int argc) {
  Words words(argv, argv + argc);
  EXPECT_EQ(argv[argc], nullptr);
  freeArgv(argv);
  return words;
}

std::string cwd() { return std::filesystem::current_path(); }

TEST(Argv, SplittingQuotesCopyingAndInserting) {
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
  for (const Case &c : cases) {
    int argc = -1;
    char **argv = makeArgv(c.line, &argc, c.dash);
    EXPECT_EQ(take_argv(argv, argc), c.words) << (c.line ? c.line : "(null)");
  }
  int argc = 0;
  char **argv = makeArgv("prog a b", &argc, false), **copy = copyArgv(argv, argc);
  ASSERT_NE(copy[0], argv[0]);  // deep copy
  freeArgv(argv);
  const std::pair<int, const char *> inserts[] = {{1, "localhost"}, {4, "last"}, {0, "first"},
                                                  {7, "out"}, {-1, "out"}, {0, nullptr}};  // the last three ignored
  for (auto [at, arg] : inserts) insertArg(&copy, &argc, at, arg);
  EXPECT_EQ(take_argv(copy, argc), (Words{"first", "prog", "localhost", "a", "b", "last"}));
  freeArgv(nullptr);
  int none = 0;
  char **empty = copyArgv(nullptr, 3);
  insertArg(&empty, &none, 0, "only");
  EXPECT_EQ(take_argv(empty, none), (Words{"only"}));
}

class SystemCall : public ::testing::Test {
 protected:
  // Starts `args` through systemcall (or spawnProgram) and waits for the
  // child; returns its exit status (-1 when it did not exit normally, -2
  // when none started).
  int run(Words args, bool dash, bool spawn = false) {
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pid = 0, status = 0;
    if (spawn) pid = spawnProgram(argv.data(), dash);
    else EXPECT_TRUE(systemcall(argv.data(), &pid, dash));
    if (pid <= 0) return -2;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The lines the helper wrote: name, LD_LIBRARY_PATH, working directory.
  Words report() {
    Words lines;
    std::string all = TempDir::read(out), line;
    for (char ch : all) ch == '\n' ? (lines.push_back(line), line.clear()) : line.push_back(ch);
    std::filesystem::remove(out);
    return lines;
  }

  TempDir dir;
  std::string bin = std::filesystem::read_symlink("/proc/self/exe").parent_path(),
              helper = bin + "/ut_process_child_helper", out = dir.path("out");
};

// The child sees the program directory added to LD_LIBRARY_PATH (the
// parent's own value untouched) and, with the dash flag, runs under the
// dashed name, also when that name is found on the search path. A missing
// program ends the child with 2, or is refused by spawnProgram before it
// forks.
TEST_F(SystemCall, ChildGetsProgramDirectoryOnLibraryPathAndItsName) {
  struct Case {
    const char *libPath;  // null: unset
    std::string program;
    bool dash, spawn;
    std::string childLibPath;
  } cases[] = {
      {nullptr, helper, false, false, bin}, {"/lib", helper, false, false, "/lib:" + bin},
      {nullptr, "-" + helper, true, false, bin}, {nullptr, "-ut_process_child_helper", true, false, bin},
      {nullptr, "-" + helper, true, true, bin},
  };
  EnvGuard path("PATH", (bin + ":" + (getenv("PATH") ? getenv("PATH") : "")).c_str());
  for (const Case &c : cases) {
    EnvGuard lib("LD_LIBRARY_PATH", c.libPath);
    EXPECT_EQ(run({c.program, out}, c.dash, c.spawn), 0) << c.program;
    EXPECT_EQ(report(), (Words{c.program, c.childLibPath, cwd()})) << c.program;
    EXPECT_STREQ(getenv("LD_LIBRARY_PATH"), c.libPath);
  }
  for (bool spawn : {false, true})
    for (std::string missing : {bin + "/no_such_program_here", std::string("no_such_program_on_path_either")})
      EXPECT_EQ(run({missing, out}, false, spawn), spawn ? -2 : 2) << missing;
}

TEST_F(SystemCall, CwdChangerMovesTheChildAndComesBack) {
  const std::string before = cwd(), sub = dir.path("sub");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  const std::pair<const char *, std::string> cases[] = {{sub.c_str(), std::filesystem::canonical(sub)},
                                                        {"~", std::filesystem::canonical(getenv("HOME"))},
                                                        {"/no/such/directory/anywhere", ""},  // fails: stays
                                                        {nullptr, before}};
  for (auto &[to, inside] : cases) {
    {
      CwdChanger c(to);
      EXPECT_EQ(c.Failed(), inside.empty()) << (to ? to : "(null)");
      EXPECT_EQ(run({helper, out}, false), 0);
      EXPECT_EQ(report().at(2), inside.empty() ? before : inside);
    }
    EXPECT_EQ(cwd(), before);
  }
}

}  // namespace
