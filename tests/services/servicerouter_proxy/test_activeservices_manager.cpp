// Tests of ActiveServices_Manager: the display rules, the key and its digest,
// the file name, the lock (with a fake clock, so the 20 s wait takes no real
// time) and reading the recorded port.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "services/servicerouter_proxy/activeservices_manager.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"

namespace {

std::string hostName() {
  char buf[255] = {0};
  if (gethostname(buf, 254) != 0) return "";
  return buf;
}

std::string userName() {
  const struct passwd *pw = getpwuid(getuid());
  return pw ? pw->pw_name : "";
}

std::string tempDir() { return gen_default_temp_dir(); }

// A fresh directory under the test's TMPDIR; its real path.
std::string makeDir(const char *leaf) {
  std::string dir = tempDir() + "/" + leaf;
  mkdir(dir.c_str(), 0755);
  return take(gen_realpath(dir.c_str()));
}

void touchFile(const std::string &path, time_t mtime) {
  int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  if (fd >= 0) close(fd);
  struct timeval tv[2] = {{mtime, 0}, {mtime, 0}};
  utimes(path.c_str(), tv);
}

std::string readFile(const std::string &path) {
  std::string out;
  FILE *f = fopen(path.c_str(), "r");
  if (!f) return out;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

// The fake clock: milliseconds since a fixed epoch; each sleep advances it.
long long g_fakeMillis = 0;
int g_sleeps = 0;
const time_t kFakeEpoch = 1700000000;
time_t fakeClock() { return kFakeEpoch + static_cast<time_t>(g_fakeMillis / 1000); }
void fakeSleep(int ms) {
  g_fakeMillis += ms;
  ++g_sleeps;
}

class FakeClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fakeMillis = 0;
    g_sleeps = 0;
    ActiveServices_Manager::setClockForTesting(&fakeClock);
    ActiveServices_Manager::setSleepForTesting(&fakeSleep);
  }
  void TearDown() override {
    ActiveServices_Manager::setClockForTesting(nullptr);
    ActiveServices_Manager::setSleepForTesting(nullptr);
  }
};

}  // namespace

TEST(ActiveServicesDisplay, BasicDisplays) {
  for (const char *d : {":0", ":0.0", ":1.", ":", ":12.34"})
    EXPECT_TRUE(ActiveServices_Manager::isBasicDisplay(d)) << d;
  for (const char *d : {"host:0", ":.0", ":0.0.0", ":0a", "", static_cast<const char *>(nullptr)})
    EXPECT_FALSE(ActiveServices_Manager::isBasicDisplay(d)) << (d ? d : "(null)");
}

TEST(ActiveServicesDisplay, DisplayPartFollowsTheRules) {
  const std::string h = hostName();
  const std::string local = "DISP" + h + ":0.0";
  EXPECT_EQ(take(ActiveServices_Manager::getDisplay("given:7")), "given:7");
  // DISPLAY ("-": unset) -> the display part; "" as given counts as none.
  const std::pair<std::string, std::string> cases[] = {
      {"-", local},         {":0.0", local},       {":0", local},
      {h + ":0", local},    {h + ":0.0", local},   {":1", "DISP" + h + ":1"},
      {"otherhost:3.0", "DISPotherhost:3.0"},      {":.5", "DISP:.5"},
  };
  for (const auto &c : cases) {
    EnvGuard env("DISPLAY", c.first == "-" ? nullptr : c.first.c_str());
    EXPECT_EQ(take(ActiveServices_Manager::getDisplay(nullptr)), c.second) << c.first;
    if (c.first == "-") {
      EXPECT_EQ(take(ActiveServices_Manager::getDisplay("")), local);
    }
  }
}

// Known digests, computed with md5sum when the test was written; the hex
// digits of each byte come low nibble first.
TEST(ActiveServicesKey, DigestMatchesKnownMd5) {
  // md5("abc") = 900150983cd24fb0d6963f7d28e17f72
  EXPECT_EQ(take(ActiveServices_Manager::digestKey("abc")), "09100589c32df40b6d69f3d7821ef727");
  // md5("") = d41d8cd98f00b204e9800998ecf8427e
  EXPECT_EQ(take(ActiveServices_Manager::digestKey("")), "4dd1c89df8002b409e089089ce8f24e7");
  // md5("/opt/korvo/binDISPws7:0.0alicews7") = dcd42c8f347790fbb6d534305508bce9
  EXPECT_EQ(take(ActiveServices_Manager::digestKey("/opt/korvo/binDISPws7:0.0alicews7")),
            "cd4dc2f8437709bf6b5d43035580cb9e");
}

TEST(ActiveServicesKey, TextJoinsDirectoryDisplayUserHostAndClearcaseRoot) {
  std::string dir = makeDir("routerdir_text");
  EnvGuard cc("CLEARCASE_ROOT", "/view/mine");
  std::string text = take(ActiveServices_Manager::keyText("scr:9", dir.c_str()));
  EXPECT_EQ(text, dir + "scr:9" + userName() + hostName() + "/view/mine");
  EXPECT_EQ(take(ActiveServices_Manager::zoneNameToFileName(nullptr, "scr:9", dir.c_str())),
            take(ActiveServices_Manager::digestKey(text.c_str())));
}

TEST(ActiveServicesKey, RouterStampPrefixesTheText) {
  std::string dir = makeDir("routerdir_stamp");
  touchFile(dir + "/servicerouter", 123456789);
  EnvGuard cc("CLEARCASE_ROOT", nullptr);
  std::string text = take(ActiveServices_Manager::keyText("scr:9", dir.c_str()));
  EXPECT_EQ(text, "123456789" + dir + "scr:9" + userName() + hostName());
}

TEST(ActiveServicesKey, SameInputsSameKeyAndWhatChangesIt) {
  std::string dir = makeDir("routerdir_key");
  const char *d = dir.c_str();
  EnvGuard cc("CLEARCASE_ROOT", nullptr);
  std::string base;
  {
    EnvGuard env("DISPLAY", nullptr);
    base = take(ActiveServices_Manager::zoneNameToFileName(nullptr, nullptr, d));
    EXPECT_EQ(base.size(), 32u);
    EXPECT_EQ(take(ActiveServices_Manager::zoneNameToFileName(nullptr, nullptr, d)), base);
  }
  {
    EnvGuard env("DISPLAY", ":0.0");
    EXPECT_EQ(take(ActiveServices_Manager::zoneNameToFileName(nullptr, nullptr, d)), base);
  }
  {
    EnvGuard env("DISPLAY", ":1");
    EXPECT_NE(take(ActiveServices_Manager::zoneNameToFileName(nullptr, nullptr, d)), base);
  }
  {
    EnvGuard env("DISPLAY", nullptr);
    EnvGuard cc2("CLEARCASE_ROOT", "/view/other");
    EXPECT_NE(take(ActiveServices_Manager::zoneNameToFileName(nullptr, nullptr, d)), base);
  }
  std::string other = makeDir("routerdir_other");
  EnvGuard env("DISPLAY", nullptr);
  EXPECT_NE(take(ActiveServices_Manager::zoneNameToFileName(nullptr, nullptr, other.c_str())), base);
}

TEST(ActiveServicesKey, ZoneIsTheKeyWithoutDigest) {
  EXPECT_EQ(take(ActiveServices_Manager::zoneNameToFileName("myzone", ":3", "/nowhere")), "myzone");
  EXPECT_EQ(take(ActiveServices_Manager::getActiveServiceRouterFilename("myzone")),
            take(gen_sconcat(gen_default_temp_dir(), "svc_myzone")));
  EXPECT_EQ(take(ActiveServices_Manager::getActiveServiceRouterFilename("")),
            take(gen_sconcat(gen_default_temp_dir(), "svc")));
  EXPECT_EQ(take(ActiveServices_Manager::getActiveServiceRouterFilename(nullptr)),
            take(gen_sconcat(gen_default_temp_dir(), "svc")));
}

TEST_F(FakeClockTest, StaleLockIsBrokenWithTheWarning) {
  std::string lock = tempDir() + "/stale.lock";
  touchFile(lock, fakeClock() - 61);
  MessageCapture cap;
  EXPECT_TRUE(ActiveServices_Manager::lockFile(lock.c_str(), 20, 60));
  ASSERT_EQ(cap.messages.size(), 1u);
  EXPECT_EQ(cap.messages[0].first, GEN_LEVEL_WARNING);
  EXPECT_EQ(cap.messages[0].second,
            "Breaking lock on file " + lock + " because it is more than 60 seconds old.\n");
  EXPECT_EQ(g_sleeps, 0);
  EXPECT_EQ(access(lock.c_str(), F_OK), 0);
  unlink(lock.c_str());
}

TEST_F(FakeClockTest, FreshLockIsWaitedOnAndFailsAfterTwentySeconds) {
  std::string lock = tempDir() + "/fresh.lock";
  touchFile(lock, fakeClock() - 59);
  MessageCapture cap;
  EXPECT_FALSE(ActiveServices_Manager::lockFile(lock.c_str(), 20, 60));
  EXPECT_TRUE(cap.messages.empty());
  EXPECT_GE(g_fakeMillis, 20000);
  EXPECT_LT(g_fakeMillis, 21000);
  EXPECT_EQ(g_sleeps, 200);
  // The other holder's lock is still there.
  EXPECT_EQ(access(lock.c_str(), F_OK), 0);
  unlink(lock.c_str());
}

TEST_F(FakeClockTest, WaitZeroTriesOnceAndLockedManagerFileWaits) {
  std::string lock = tempDir() + "/once.lock";
  EXPECT_TRUE(ActiveServices_Manager::lockFile(lock.c_str(), 0, 60));
  EXPECT_FALSE(ActiveServices_Manager::lockFile(lock.c_str(), 0, 60));
  EXPECT_EQ(g_sleeps, 0);
  unlink(lock.c_str());

  // The client lock: held by "someone else", then released.
  touchFile(tempDir() + "/svc_zoneL.lock", fakeClock());
  EXPECT_FALSE(ActiveServices_Manager::lockManagerFile("zoneL", nullptr, nullptr));
  EXPECT_EQ(g_sleeps, 200);
  EXPECT_TRUE(ActiveServices_Manager::unlockManagerFile("zoneL", nullptr, nullptr));
  EXPECT_TRUE(ActiveServices_Manager::lockManagerFile("zoneL", nullptr, nullptr));
  EXPECT_TRUE(ActiveServices_Manager::unlockManagerFile("zoneL", nullptr, nullptr));
  EXPECT_NE(access((tempDir() + "/svc_zoneL.lock").c_str(), F_OK), 0);
}

TEST_F(FakeClockTest, MissingDirectoryFailsWithoutWaiting) {
  std::string lock = tempDir() + "/no/such/dir/x.lock";
  EXPECT_FALSE(ActiveServices_Manager::lockFile(lock.c_str(), 20, 60));
  EXPECT_EQ(g_sleeps, 0);
}

TEST(ActiveServicesRecord, WrittenRecordReadsBackWhileItsProcessLives) {
  ActiveServices_Manager mgr(4711, "zoneW", nullptr, nullptr);
  ASSERT_TRUE(mgr.wasWritten());
  EXPECT_STREQ(mgr.getKey(), "zoneW");
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("zoneW", nullptr, nullptr), 4711);
  std::string text = readFile(tempDir() + "/svc_zoneW");
  EXPECT_NE(text.find("Port"), std::string::npos);
  EXPECT_NE(text.find(std::to_string(getpid())), std::string::npos);

  EXPECT_TRUE(mgr.nonblockingManagerFileLock());
  EXPECT_FALSE(mgr.nonblockingManagerFileLock());
  EXPECT_TRUE(mgr.managerFileUnlock());
  EXPECT_TRUE(mgr.nonblockingManagerFileLock());
  EXPECT_TRUE(mgr.managerFileUnlock());

  EXPECT_TRUE(mgr.removeManagerFile());
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("zoneW", nullptr, nullptr), 0);
  EXPECT_FALSE(ActiveServices_Manager::removeActiveServiceRouterFile("zoneW", nullptr, nullptr));
}

TEST(ActiveServicesRecord, DeadPidMissingFieldsAndGarbageReadAsPortZero) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);

  auto writeRecord = [](const char *zone, const std::string &body) {
    std::string path = tempDir() + "/svc_" + zone;
    FILE *f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(body.c_str(), f);
    fclose(f);
  };
  writeRecord("dead", "Port = 5000\nPid = " + std::to_string(child) + "\n");
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("dead", nullptr, nullptr), 0);

  writeRecord("alive", "Port = 5000\nPid = " + std::to_string(getpid()) + "\n");
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("alive", nullptr, nullptr), 5000);

  writeRecord("nopid", "Port = 5000\n");
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("nopid", nullptr, nullptr), 0);
  writeRecord("noport", "Pid = " + std::to_string(getpid()) + "\n");
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("noport", nullptr, nullptr), 0);

  MessageCapture cap;  // the parse error is reported, not fatal
  writeRecord("garbage", "Port = = {\n\x01\x02");
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("garbage", nullptr, nullptr), 0);
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("missing", nullptr, nullptr), 0);
  EXPECT_TRUE(ActiveServices_Manager::removeActiveServiceRouterFile("dead", nullptr, nullptr));
}

// The record and its lock are this user's alone; a record that another
// user owns, or that others may write, could send this user's clients to
// someone else's router and is ignored.
TEST(ActiveServicesRecord, OnlyAPrivateRecordOfThisUserIsTrusted) {
  ActiveServices_Manager mgr(4712, "zoneP", nullptr, nullptr);
  ASSERT_TRUE(mgr.wasWritten());
  ASSERT_TRUE(mgr.nonblockingManagerFileLock());
  const std::string path = tempDir() + "/svc_zoneP";
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
    if (k.owner != getuid() && getuid() != 0) {
      std::printf("skipped \"%s\": needs root to give the file away\n", k.what);
      continue;
    }
    ASSERT_EQ(chown(path.c_str(), k.owner, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(chmod(path.c_str(), k.mode), 0);
    EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("zoneP", nullptr, nullptr),
              k.port);
    ASSERT_EQ(chown(path.c_str(), getuid(), static_cast<gid_t>(-1)), 0);
  }
  // A planted file is not taken over either.
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  if (getuid() == 0) {
    ASSERT_EQ(chown(path.c_str(), 54321, static_cast<gid_t>(-1)), 0);
    ActiveServices_Manager again(4713, "zoneP", nullptr, nullptr);
    EXPECT_FALSE(again.wasWritten());
    EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port("zoneP", nullptr, nullptr), 0);
  }
  EXPECT_TRUE(mgr.removeManagerFile());
}
