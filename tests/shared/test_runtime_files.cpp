// Runtime library files, directories, temporary directory, configuration
// directories, program search and environment helpers. Everything happens
// under the test's own TMPDIR and HOME.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "runtime_test_support.h"
#include "shared/indgen.h"

namespace {

// A fresh directory under TMPDIR for one test, removed afterwards.
class FilesTest : public testing::Test {
 protected:
  void SetUp() override {
    const char *tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/rtXXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  void write(const std::string &name, const std::string &text, mode_t mode = 0644) const {
    FILE *f = std::fopen(path(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    chmod(path(name).c_str(), mode);
  }
  std::string dir_;
};

TEST_F(FilesTest, GetlineEndsLinesAtLineFeedOrCarriageReturn) {
  write("lines", "one\r\ntwo\rXthree\n\nlast");
  FILE *f = gen_fopen(path("lines").c_str(), "r");
  ASSERT_NE(f, nullptr);
  char *buffer = nullptr;
  int size = 0;
  std::vector<std::string> lines;
  while (gen_getline(f, &buffer, &size)) lines.push_back(buffer);
  std::fclose(f);
  gen_free(buffer);
  // A carriage return also consumes the character after it.
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "", "last"}));
}

TEST_F(FilesTest, GetlineGrowsInStepsOf250) {
  write("long", std::string(600, 'x') + "\nshort\n");
  FILE *f = gen_fopen(path("long").c_str(), "r");
  char *buffer = nullptr;
  int size = 0;
  ASSERT_NE(gen_getline(f, &buffer, &size), nullptr);
  EXPECT_EQ(std::string(buffer), std::string(600, 'x'));
  EXPECT_EQ(size, 750);
  ASSERT_NE(gen_getline(f, &buffer, &size), nullptr);
  EXPECT_STREQ(buffer, "short");
  EXPECT_EQ(gen_getline(f, &buffer, &size), nullptr);
  std::fclose(f);
  gen_free(buffer);
}

TEST_F(FilesTest, DirectoriesAndRenames) {
  EXPECT_EQ(gen_createdir(path("d").c_str(), 0755), 0);
  EXPECT_TRUE(gen_isdir(path("d").c_str()));
  EXPECT_EQ(gen_createdir(path("d").c_str(), 0755), 0);   // already a directory
  write("f", "x");
  EXPECT_EQ(gen_createdir(path("f").c_str(), 0755), -1);
  EXPECT_EQ(gen_createdir_recursive(path("p/q/r").c_str(), 0755), 0);
  EXPECT_TRUE(gen_isdir(path("p/q/r").c_str()));
  EXPECT_EQ(gen_createdir_recursive(path("f/sub").c_str(), 0755), -1);
  // Existing parents, doubled and trailing slashes.
  EXPECT_EQ(gen_createdir_recursive(path("p/q//s/t/").c_str(), 0755), 0);
  EXPECT_TRUE(gen_isdir(path("p/q/s/t").c_str()));
  EXPECT_EQ(gen_createdir_recursive(path("p/q/s/t").c_str(), 0755), 0);
  EXPECT_EQ(gen_createdir_recursive("", 0755), -1);
  EXPECT_EQ(gen_createdir_recursive(nullptr, 0755), -1);

  write("g", "new");
  EXPECT_EQ(gen_renamefile(path("g").c_str(), path("f").c_str()), 0);
  EXPECT_NE(gen_access(path("g").c_str(), F_OK), 0);
  EXPECT_EQ(gen_renamefile(path("f").c_str(), path("d").c_str()), -1);
  EXPECT_EQ(gen_renamefile(path("d").c_str(), path("h").c_str()), -1);
  EXPECT_EQ(gen_removefile(path("f").c_str()), 0);
  EXPECT_EQ(gen_removefile(path("p/q/r").c_str()), 0);
  EXPECT_FALSE(gen_isdir(path("p/q/r").c_str()));
}

TEST_F(FilesTest, SystemCallWrappersRefuseNullNames) {
  struct stat st;
  EXPECT_EQ(gen_fopen(nullptr, "r"), nullptr);
  EXPECT_EQ(gen_open(nullptr, 0), -1);
  EXPECT_EQ(gen_stat(nullptr, &st), -1);
  EXPECT_EQ(gen_access(nullptr, F_OK), -1);
  write("s", "12345");
  EXPECT_EQ(gen_sys_stat(path("s").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 5);
  std::string templ = path("tmpXXXXXX");
  int fd = gen_mkstemp(templ.data());
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(gen_unlink(templ.c_str()), 0);
}

TEST_F(FilesTest, TemporaryDirectoryOrder) {
  std::string preferred = path("pref");
  ASSERT_EQ(mkdir(preferred.c_str(), 0755), 0);
  {
    EnvGuard env("TMPDIR", dir_.c_str());
    gen_forget_temp_dir();
    EXPECT_EQ(std::string(gen_default_temp_dir(preferred.c_str())), dir_);
    // Cached: a later change is not seen.
    EnvGuard env2("TMPDIR", "/no/such/dir");
    EXPECT_EQ(std::string(gen_default_temp_dir(nullptr)), dir_);
  }
  {
    EnvGuard env("TMPDIR", path("missing").c_str());
    gen_forget_temp_dir();
    EXPECT_EQ(std::string(gen_default_temp_dir(preferred.c_str())), preferred);
  }
  {
    EnvGuard env("TMPDIR", "");
    gen_forget_temp_dir();
    std::string fallback = gen_default_temp_dir(path("missing").c_str());
    bool varTmpUsable = access("/var/tmp/", R_OK | W_OK) == 0;
    EXPECT_EQ(fallback, varTmpUsable ? "/var/tmp/" : "/tmp");
  }
  gen_forget_temp_dir();
}

TEST_F(FilesTest, UserConfigDirectoryIsCreatedOnRequest) {
  gen_cleanupconfigdirs();
  EnvGuard home("HOME", dir_.c_str());
  gen_setuserconfigdir((dir_ + "/.twl").c_str());   // the cached home may differ
  const char *message = "unset";
  EXPECT_EQ(std::string(gen_getuserconfigdir(false, &message)), dir_ + "/.twl");
  EXPECT_EQ(message, nullptr);
  EXPECT_FALSE(gen_isdir(path(".twl").c_str()));
  gen_getuserconfigdir(true, &message);
  EXPECT_EQ(message, nullptr);
  EXPECT_TRUE(gen_isdir(path(".twl").c_str()));
  struct stat st;
  ASSERT_EQ(stat(path(".twl").c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0755u & ~mask);

  write("blocker", "file");
  gen_setuserconfigdir(path("blocker/.twl").c_str());
  gen_getuserconfigdir(true, &message);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(std::string(message), "Couldn't create user config directory: " + path("blocker/.twl"));
  gen_setuserconfigdir("");   // ignored
  EXPECT_EQ(std::string(gen_getuserconfigdir(false, nullptr)), path("blocker/.twl"));
  gen_cleanupconfigdirs();
}

TEST_F(FilesTest, ConfigFileNameChoosesOverrideThenTwlThenBase) {
  const std::string d = dir_;
  // Nothing exists: twl.cfg unless the base name is wanted.
  EXPECT_EQ(take(gen_createconfigfilename(d.c_str(), "editor.ini", false, true)), d + "/twl.cfg");
  EXPECT_EQ(take(gen_createconfigfilename(d.c_str(), "editor.ini", true, true)), d + "/editor.cfg");
  write("twl.cfg", "x");
  EXPECT_EQ(take(gen_createconfigfilename(d.c_str(), "editor.ini", true, true)), d + "/twl.cfg");
  ASSERT_EQ(mkdir(path("override").c_str(), 0755), 0);
  write("override/editor.cfg", "y");
  EXPECT_EQ(take(gen_createconfigfilename(d.c_str(), "editor", true, true)),
            d + "/override/editor.cfg");
  EXPECT_EQ(take(gen_createconfigfilename(d.c_str(), "editor", true, false)), d + "/twl.cfg");
}

TEST_F(FilesTest, SearchThroughConfigDirectories) {
  // A fake program whose site directories are beside it.
  ASSERT_EQ(gen_createdir_recursive(path("inst/bin").c_str(), 0755), 0);
  write("inst/bin/prog", "#!/bin/sh\n", 0755);
  ASSERT_EQ(gen_createdir_recursive(path("inst/bin/config").c_str(), 0755), 0);
  ASSERT_EQ(gen_createdir_recursive(path("inst/bin/defaults").c_str(), 0755), 0);
  ASSERT_EQ(gen_createdir_recursive(path("user").c_str(), 0755), 0);
  write("inst/bin/defaults/a.cfg", "default");
  write("inst/bin/config/a.cfg", "site");
  write("inst/bin/defaults/b.cfg", "default");
  write("user/b.cfg", "user");
  ASSERT_EQ(mkdir(path("user/dir.cfg").c_str(), 0755), 0);

  gen_init(path("inst/bin/prog").c_str(), 0, 0);
  gen_setuserconfigdir(path("user").c_str());
  std::string real = take(gen_realpath(path("inst/bin").c_str()));
  EXPECT_EQ(std::string(gen_getprogdir()), real);
  EXPECT_EQ(std::string(gen_getsiteconfigdir()), real + "/config");
  EXPECT_EQ(std::string(gen_getsitedefaultconfigdir()), real + "/defaults");

  EXPECT_EQ(take(gen_searchfileinconfigdirs("a.cfg", R_OK, false, nullptr)), real + "/config/a.cfg");
  EXPECT_EQ(take(gen_searchfileinconfigdirs("a.cfg", R_OK, true, nullptr)), real + "/defaults/a.cfg");
  EXPECT_EQ(take(gen_searchfileinconfigdirs("b.cfg", R_OK, false, nullptr)), path("user/b.cfg"));
  EXPECT_EQ(gen_searchfileinconfigdirs("dir.cfg", R_OK, false, nullptr), nullptr);
  EXPECT_EQ(gen_searchfileinconfigdirs("none.cfg", R_OK, false, nullptr), nullptr);
  EXPECT_EQ(take(gen_searchfileinconfigdirs(path("user/b.cfg").c_str(), R_OK, true, nullptr)),
            path("user/b.cfg"));
  EXPECT_EQ(gen_searchfileinconfigdirs(path("user").c_str(), R_OK, false, nullptr), nullptr);

  gen_destruct();
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGXCPU}) signal(sig, SIG_DFL);
  EXPECT_EQ(gen_progname, nullptr);
}

TEST_F(FilesTest, FindExecutablesOnThePath) {
  ASSERT_EQ(mkdir(path("bin").c_str(), 0755), 0);
  write("bin/korvo_tool", "#!/bin/sh\n", 0755);
  write("bin/not_exec", "data", 0644);
  ASSERT_EQ(mkdir(path("bin/a_dir").c_str(), 0755), 0);
  EnvGuard env("PATH", ("/no/such:" + path("bin") + ":/usr/bin:/bin").c_str());
  EXPECT_EQ(take(gen_findexec("korvo_tool", false, 0)), path("bin/korvo_tool"));
  EXPECT_EQ(take(gen_findexec(path("bin/korvo_tool").c_str(), false, 0)), path("bin/korvo_tool"));
  EXPECT_EQ(gen_findexec("a_dir", false, 0), nullptr);
  EXPECT_EQ(gen_findexec("korvo_no_such_tool", false, 0), nullptr);
  EXPECT_EQ(gen_canexec(path("bin/korvo_tool").c_str()), 1);
  EXPECT_EQ(gen_canexec(path("bin/a_dir").c_str()), 0);
  EXPECT_EQ(gen_canexec(path("bin/missing").c_str()), -1);
  EXPECT_EQ(gen_canexec(""), -1);
  if (geteuid() != 0) {
    EXPECT_EQ(gen_canexec(path("bin/not_exec").c_str()), 0);
  }
}

TEST(Environment, GetenvDefaultsAndIdentity) {
  EnvGuard set("KORVO_TEST_VAR", "value");
  EnvGuard empty("KORVO_TEST_EMPTY", "");
  EXPECT_STREQ(gen_getenv("KORVO_TEST_VAR", "d"), "value");
  EXPECT_STREQ(gen_getenv("KORVO_TEST_EMPTY", "d"), "d");
  EXPECT_STREQ(gen_getenv("KORVO_TEST_UNSET_VAR", "d"), "d");
  EXPECT_EQ(gen_getenv("KORVO_TEST_UNSET_VAR", nullptr), nullptr);
  EXPECT_TRUE(gen_doeslocalprocessexist(getpid()));
  EXPECT_GT(std::string(gen_gethostname()).size(), 0u);
  char cwd[1024];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_STREQ(gen_getcwd(), cwd);
  ASSERT_EQ(gen_chdir("/"), 0);
  EXPECT_STREQ(gen_getcwd(), "/");
  ASSERT_EQ(gen_chdir(cwd), 0);
  EXPECT_STREQ(gen_getcwd(), cwd);
  char *user = gen_getusername();
  gen_free(user);   // may be null in a container without a password entry
}

TEST(SharedLibraries, ResolveAndReportMissingSymbols) {
  void *libc = twl_open_shared_library("libc.so.6", RTLD_NOW);
  ASSERT_NE(libc, nullptr) << twl_last_shared_library_error();
  auto *length = reinterpret_cast<size_t (*)(const char *)>(
      twl_get_shared_library_func_ptr(libc, "strlen"));
  ASSERT_NE(length, nullptr);
  EXPECT_EQ(length("four"), 4u);
  MessageCapture capture;
  EXPECT_EQ(twl_must_get_shared_library_func_ptr(libc, "korvo_no_such_symbol"), nullptr);
  EXPECT_EQ(capture.lastText(), "Could not resolve \"korvo_no_such_symbol\"");
  EXPECT_NE(twl_last_shared_library_error(), nullptr);
  EXPECT_EQ(twl_close_shared_library(libc), 0);
  EXPECT_EQ(twl_open_shared_library("/no/such/library.so", RTLD_NOW), nullptr);
  EXPECT_NE(twl_last_shared_library_error(), nullptr);
}

}  // namespace
