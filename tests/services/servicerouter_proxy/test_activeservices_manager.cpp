// Tests of ActiveServices_Manager: the display rules, the key and its digest,
// the file name, the lock (with a fake clock, so the 20 s wait takes no real
// time), and the record: its port read back while its process lives, and
// trusted only when it is private to this user.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "services/servicerouter_proxy/activeservices_manager.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"

namespace {

std::string hostName() {
  char buf[255] = {0};
  return gethostname(buf, 254) == 0 ? buf : "";
}

// The test's TMPDIR.
const std::string &tmp() {
  static const std::string dir = gen_default_temp_dir();
  return dir;
}

void writeFile(const std::string &path, const std::string &text, time_t mtime = 0) {
  FILE *f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  fputs(text.c_str(), f);
  fclose(f);
  struct timeval tv[2] = {{mtime, 0}, {mtime, 0}};
  if (mtime) utimes(path.c_str(), tv);
}

std::string fileName(const char *zone, const char *display, const std::string &dir) {
  return take(ActiveServices_Manager::zoneNameToFileName(zone, display, dir.c_str()));
}

int portOf(const char *zone) { return ActiveServices_Manager::getActiveServiceRouter_Port(zone, nullptr, nullptr); }

// The fake clock: milliseconds since a fixed epoch; each sleep advances it.
long long g_fakeMillis = 0;
int g_sleeps = 0;
time_t fakeClock() { return 1700000000 + static_cast<time_t>(g_fakeMillis / 1000); }
void fakeSleep(int ms) {
  g_fakeMillis += ms;
  ++g_sleeps;
}

}  // namespace

TEST(ActiveServicesKey, DisplayRules) {
  for (const char *d : {":0", ":0.0", ":1.", ":", ":12.34"})
    EXPECT_TRUE(ActiveServices_Manager::isBasicDisplay(d)) << d;
  for (const char *d : {"host:0", ":.0", ":0.0.0", ":0a", "", static_cast<const char *>(nullptr)})
    EXPECT_FALSE(ActiveServices_Manager::isBasicDisplay(d)) << (d ? d : "(null)");
  const std::string h = hostName(), local = "DISP" + h + ":0.0";
  EXPECT_EQ(take(ActiveServices_Manager::getDisplay("given:7")), "given:7");
  // DISPLAY ("-": unset) -> the display part; "" as given counts as none.
  const std::pair<std::string, std::string> cases[] = {
      {"-", local},      {":0.0", local},     {":0", local},
      {h + ":0", local}, {h + ":0.0", local}, {":1", "DISP" + h + ":1"},
      {"otherhost:3.0", "DISPotherhost:3.0"}, {":.5", "DISP:.5"},
  };
  for (const auto &[display, part] : cases) {
    EnvGuard env("DISPLAY", display == "-" ? nullptr : display.c_str());
    EXPECT_EQ(take(ActiveServices_Manager::getDisplay(nullptr)), part) << display;
    EXPECT_EQ(take(ActiveServices_Manager::getDisplay("")), part) << display;
  }
}

// Known digests, computed with md5sum when the test was written; the hex
// digits of each byte come low nibble first.
TEST(ActiveServicesKey, DigestMatchesKnownMd5) {
  // md5("abc") = 900150983cd24fb0d6963f7d28e17f72
  EXPECT_EQ(take(ActiveServices_Manager::digestKey("abc")), "09100589c32df40b6d69f3d7821ef727");
  // md5("") = d41d8cd98f00b204e9800998ecf8427e
  EXPECT_EQ(take(ActiveServices_Manager::digestKey("")), "4dd1c89df8002b409e089089ce8f24e7");
}

TEST(ActiveServicesKey, TextJoinsStampDirectoryDisplayUserHostAndClearcaseRoot) {
  const std::string dir = take(gen_realpath(tmp().c_str()));
  unlink((dir + "/servicerouter").c_str());
  const struct passwd *pw = getpwuid(getuid());
  const std::string tail = dir + "scr:9" + (pw ? pw->pw_name : "") + hostName();
  {
    EnvGuard cc("CLEARCASE_ROOT", "/view/mine");
    std::string text = take(ActiveServices_Manager::keyText("scr:9", dir.c_str()));
    EXPECT_EQ(text, tail + "/view/mine");
    EXPECT_EQ(fileName(nullptr, "scr:9", dir), take(ActiveServices_Manager::digestKey(text.c_str())));
  }
  EnvGuard cc("CLEARCASE_ROOT", nullptr);
  std::string base = fileName(nullptr, "scr:9", dir);
  EXPECT_EQ(base.size(), 32u);
  EXPECT_NE(fileName(nullptr, "scr:8", dir), base);
  EXPECT_NE(fileName(nullptr, "scr:9", dir + "/.."), base);
  // The router program's time stamp leads the text.
  writeFile(dir + "/servicerouter", "", 123456789);
  EXPECT_EQ(take(ActiveServices_Manager::keyText("scr:9", dir.c_str())), "123456789" + tail);
  // A zone is the key as it is.
  EXPECT_EQ(fileName("myzone", ":3", "/nowhere"), "myzone");
  EXPECT_EQ(take(ActiveServices_Manager::getActiveServiceRouterFilename("myzone")), tmp() + "/svc_myzone");
  EXPECT_EQ(take(ActiveServices_Manager::getActiveServiceRouterFilename(nullptr)), tmp() + "/svc");
}

TEST(ActiveServicesLock, StaleFreshMissingAndManagerLocks) {
  g_fakeMillis = g_sleeps = 0;
  ActiveServices_Manager::setClockForTesting(&fakeClock);
  ActiveServices_Manager::setSleepForTesting(&fakeSleep);
  const std::string lock = tmp() + "/test.lock";
  // A lock older than 60 s is broken with a warning, without waiting.
  writeFile(lock, "", fakeClock() - 61);
  MessageCapture cap;
  EXPECT_TRUE(ActiveServices_Manager::lockFile(lock.c_str(), 20, 60));
  EXPECT_EQ(cap.messages, (std::vector<std::pair<int, std::string>>{{GEN_LEVEL_WARNING,
      "Breaking lock on file " + lock + " because it is more than 60 seconds old.\n"}}));
  EXPECT_EQ(g_sleeps, 0);
  // A fresh one is waited on for 20 s, then given up; it stays.
  writeFile(lock, "", fakeClock() - 59);
  cap.clear();
  EXPECT_FALSE(ActiveServices_Manager::lockFile(lock.c_str(), 20, 60));
  EXPECT_TRUE(cap.messages.empty());
  EXPECT_EQ(g_fakeMillis, 20000);
  EXPECT_EQ(g_sleeps, 200);
  EXPECT_EQ(access(lock.c_str(), F_OK), 0);
  unlink(lock.c_str());
  EXPECT_TRUE(ActiveServices_Manager::lockFile(lock.c_str(), 0, 60));
  EXPECT_FALSE(ActiveServices_Manager::lockFile(lock.c_str(), 0, 60));  // one try only
  EXPECT_EQ(g_sleeps, 200);
  unlink(lock.c_str());
  EXPECT_FALSE(ActiveServices_Manager::lockFile((tmp() + "/no/dir/x.lock").c_str(), 20, 60));
  EXPECT_EQ(g_sleeps, 200);
  // The client lock: held by "someone else", then released.
  writeFile(tmp() + "/svc_zoneL.lock", "", fakeClock());
  EXPECT_FALSE(ActiveServices_Manager::lockManagerFile("zoneL", nullptr, nullptr));
  EXPECT_TRUE(ActiveServices_Manager::unlockManagerFile("zoneL", nullptr, nullptr));
  EXPECT_TRUE(ActiveServices_Manager::lockManagerFile("zoneL", nullptr, nullptr));
  EXPECT_TRUE(ActiveServices_Manager::unlockManagerFile("zoneL", nullptr, nullptr));
  EXPECT_NE(access((tmp() + "/svc_zoneL.lock").c_str(), F_OK), 0);
  ActiveServices_Manager::setClockForTesting(nullptr);
  ActiveServices_Manager::setSleepForTesting(nullptr);
}

TEST(ActiveServicesRecord, WrittenRecordReadsBackWhileItsProcessLives) {
  ActiveServices_Manager mgr(4711, "zoneW", nullptr, nullptr);
  ASSERT_TRUE(mgr.wasWritten());
  EXPECT_STREQ(mgr.getKey(), "zoneW");
  EXPECT_EQ(portOf("zoneW"), 4711);
  EXPECT_TRUE(mgr.nonblockingManagerFileLock());
  EXPECT_FALSE(mgr.nonblockingManagerFileLock());
  EXPECT_TRUE(mgr.managerFileUnlock());
  EXPECT_TRUE(mgr.removeManagerFile());
  EXPECT_EQ(portOf("zoneW"), 0);
  EXPECT_FALSE(ActiveServices_Manager::removeActiveServiceRouterFile("zoneW", nullptr, nullptr));

  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string me = std::to_string(getpid());
  const std::pair<std::string, int> cases[] = {
      {"Port = 5000\nPid = " + std::to_string(child) + "\n", 0},  // its process is gone
      {"Port = 5000\nPid = " + me + "\n", 5000},
      {"Port = 5000\n", 0},
      {"Pid = " + me + "\n", 0},
      {"Port = = {\n\x01\x02", 0},  // the parse error is reported, not fatal
  };
  MessageCapture cap;
  for (const auto &[text, port] : cases) {
    writeFile(tmp() + "/svc_rec", text);
    EXPECT_EQ(portOf("rec"), port) << text;
  }
  EXPECT_TRUE(ActiveServices_Manager::removeActiveServiceRouterFile("rec", nullptr, nullptr));
  EXPECT_EQ(portOf("rec"), 0);  // missing
}

// The record and its lock are this user's alone; a record that another
// user owns, or that others may write, could send this user's clients to
// someone else's router and is ignored.
TEST(ActiveServicesRecord, OnlyAPrivateRecordOfThisUserIsTrusted) {
  ActiveServices_Manager mgr(4712, "zoneP", nullptr, nullptr);
  ASSERT_TRUE(mgr.wasWritten());
  ASSERT_TRUE(mgr.nonblockingManagerFileLock());
  const std::string path = tmp() + "/svc_zoneP";
  for (const std::string &file : {path, path + ".lock"}) {
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
  }
  EXPECT_TRUE(mgr.managerFileUnlock());
  struct Case {
    const char *what;
    uid_t owner;
    mode_t mode;
    int port;
  } cases[] = {
      {"private", getuid(), 0600, 4712},
      {"others may read", getuid(), 0644, 4712},
      {"group may write", getuid(), 0620, 0},
      {"others may write", getuid(), 0606, 0},
      {"another user's", 54321, 0600, 0},
  };
  MessageCapture cap;  // the warnings about ignored records
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    if (k.owner != getuid() && getuid() != 0) continue;  // needs root to give the file away
    ASSERT_EQ(chown(path.c_str(), k.owner, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(chmod(path.c_str(), k.mode), 0);
    EXPECT_EQ(portOf("zoneP"), k.port);
    ASSERT_EQ(chown(path.c_str(), getuid(), static_cast<gid_t>(-1)), 0);
  }
  // A planted file is not taken over either.
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  if (getuid() == 0) {
    ASSERT_EQ(chown(path.c_str(), 54321, static_cast<gid_t>(-1)), 0);
    ActiveServices_Manager again(4713, "zoneP", nullptr, nullptr);
    EXPECT_FALSE(again.wasWritten());
    EXPECT_EQ(portOf("zoneP"), 0);
  }
  EXPECT_TRUE(mgr.removeManagerFile());
}
