// Runtime library files, directories, temporary directory, configuration
// directories and shared libraries. Everything happens under the test's own
// TMPDIR and HOME.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "runtime_test_support.h"
#include "shared/indgen.h"

namespace {

using std::filesystem::perms;

class FilesTest : public testing::Test {
 protected:
  std::string path(const std::string &name) const { return dir.path(name); }
  TempDir dir;
};

TEST_F(FilesTest, DirectoriesAndRenames) {
  struct Case {
    const char *name;
    int (*create)(const char *, mode_t);
    int result;
  } cases[] = {
      {"d", gen_createdir, 0}, {"d", gen_createdir, 0},  // already a directory
      {"f", gen_createdir, -1}, {"p/q/r", gen_createdir_recursive, 0}, {"f/sub", gen_createdir_recursive, -1},
      {"p/q//s/t/", gen_createdir_recursive, 0}, {"p/q/s/t", gen_createdir_recursive, 0},
  };
  dir.write("f", "x");
  for (const Case &c : cases) EXPECT_EQ(c.create(path(c.name).c_str(), 0755), c.result) << c.name;
  EXPECT_TRUE(gen_isdir(path("p/q/s/t").c_str()));
  EXPECT_EQ(gen_createdir_recursive("", 0755), -1);
  EXPECT_EQ(gen_createdir_recursive(nullptr, 0755), -1);

  dir.write("g", "new");
  EXPECT_EQ(gen_renamefile(path("g").c_str(), path("f").c_str()), 0);
  EXPECT_NE(gen_access(path("g").c_str(), F_OK), 0);
  EXPECT_EQ(TempDir::read(path("f")), "new");
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
  dir.write("s", "12345");
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
    EnvGuard env("TMPDIR", dir.path().c_str());
    gen_forget_temp_dir();
    EXPECT_EQ(std::string(gen_default_temp_dir(preferred.c_str())), dir.path());
    EnvGuard env2("TMPDIR", "/no/such/dir");  // cached: a later change is not seen
    EXPECT_EQ(std::string(gen_default_temp_dir(nullptr)), dir.path());
  }
  {
    EnvGuard env("TMPDIR", path("missing").c_str());
    gen_forget_temp_dir();
    EXPECT_EQ(std::string(gen_default_temp_dir(preferred.c_str())), preferred);
  }
  {
    EnvGuard env("TMPDIR", "");
    gen_forget_temp_dir();
    bool varTmpUsable = access("/var/tmp/", R_OK | W_OK) == 0;
    EXPECT_EQ(std::string(gen_default_temp_dir(path("missing").c_str())), varTmpUsable ? "/var/tmp/" : "/tmp");
  }
  gen_forget_temp_dir();
}

TEST_F(FilesTest, UserConfigDirectoryIsCreatedOnRequest) {
  gen_cleanupconfigdirs();
  EnvGuard home("HOME", dir.path().c_str());
  gen_setuserconfigdir(path(".twl").c_str());  // the cached home may differ
  const char *message = "unset";
  EXPECT_EQ(std::string(gen_getuserconfigdir(false, &message)), path(".twl"));
  EXPECT_EQ(message, nullptr);
  EXPECT_FALSE(gen_isdir(path(".twl").c_str()));
  gen_getuserconfigdir(true, &message);
  EXPECT_EQ(message, nullptr);
  struct stat st;
  ASSERT_EQ(stat(path(".twl").c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0755u & ~mask);

  dir.write("blocker", "file");
  gen_setuserconfigdir(path("blocker/.twl").c_str());
  gen_getuserconfigdir(true, &message);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(std::string(message), "Couldn't create user config directory: " + path("blocker/.twl"));
  gen_setuserconfigdir("");  // ignored
  EXPECT_EQ(std::string(gen_getuserconfigdir(false, nullptr)), path("blocker/.twl"));
  gen_cleanupconfigdirs();
}

TEST_F(FilesTest, ConfigFileNameChoosesOverrideThenTwlThenBase) {
  const char *d = dir.path().c_str();
  EXPECT_EQ(take(gen_createconfigfilename(d, "editor.ini", false, true)), path("twl.cfg"));
  EXPECT_EQ(take(gen_createconfigfilename(d, "editor.ini", true, true)), path("editor.cfg"));
  dir.write("twl.cfg", "x");
  EXPECT_EQ(take(gen_createconfigfilename(d, "editor.ini", true, true)), path("twl.cfg"));
  dir.write("override/editor.cfg", "y");
  EXPECT_EQ(take(gen_createconfigfilename(d, "editor", true, true)), path("override/editor.cfg"));
  EXPECT_EQ(take(gen_createconfigfilename(d, "editor", true, false)), path("twl.cfg"));
}

TEST_F(FilesTest, SearchThroughConfigDirectories) {
  // A fake program whose site directories are beside it.
  dir.write("inst/bin/prog", "#!/bin/sh\n", perms(0755));
  dir.write("inst/bin/defaults/a.cfg", "default");
  dir.write("inst/bin/config/a.cfg", "site");
  dir.write("inst/bin/defaults/b.cfg", "default");
  dir.write("user/b.cfg", "user");
  ASSERT_EQ(mkdir(path("user/dir.cfg").c_str(), 0755), 0);
  gen_init(path("inst/bin/prog").c_str(), 0, 0);
  gen_setuserconfigdir(path("user").c_str());
  std::string real = take(gen_realpath(path("inst/bin").c_str()));
  EXPECT_EQ(std::string(gen_getprogdir()), real);
  EXPECT_EQ(std::string(gen_getsiteconfigdir()), real + "/config");
  EXPECT_EQ(std::string(gen_getsitedefaultconfigdir()), real + "/defaults");
  struct Case {
    std::string name;
    bool defaults;
    std::string found;  // empty: null
  } cases[] = {
      {"a.cfg", false, real + "/config/a.cfg"}, {"a.cfg", true, real + "/defaults/a.cfg"},
      {"b.cfg", false, path("user/b.cfg")},     {"dir.cfg", false, ""},
      {"none.cfg", false, ""},                  {path("user/b.cfg"), true, path("user/b.cfg")},
      {path("user"), false, ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(take(gen_searchfileinconfigdirs(c.name.c_str(), R_OK, c.defaults, nullptr)), c.found) << c.name;
  gen_destruct();
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGXCPU}) signal(sig, SIG_DFL);
  EXPECT_EQ(gen_progname, nullptr);
}

// Shared libraries: a symbol that is missing is reported by name.
TEST(SharedLibraries, ResolveAndReportMissingSymbols) {
  void *libc = twl_open_shared_library("libc.so.6", RTLD_NOW);
  ASSERT_NE(libc, nullptr) << twl_last_shared_library_error();
  EXPECT_NE(twl_get_shared_library_func_ptr(libc, "strlen"), nullptr);
  MessageCapture capture;
  EXPECT_EQ(twl_must_get_shared_library_func_ptr(libc, "korvo_no_such_symbol"), nullptr);
  EXPECT_EQ(capture.lastText(), "Could not resolve \"korvo_no_such_symbol\"");
  EXPECT_EQ(twl_close_shared_library(libc), 0);
  EXPECT_TRUE(!twl_open_shared_library("/no/such/library.so", RTLD_NOW) && twl_last_shared_library_error());
}

}  // namespace
