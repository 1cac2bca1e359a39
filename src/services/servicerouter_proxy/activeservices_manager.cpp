// ActiveServices_Manager: naming, reading, writing and locking of the
// active-services file. See the header for the file format and the key.
#include "services/servicerouter_proxy/activeservices_manager.h"

#include <errno.h>
#include <fcntl.h>
#include <nettle/md5.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_options_database.h"
#include "shared/mt_vsprintf.h"

namespace {

time_t systemClock() { return time(nullptr); }

ActiveServices_Manager::ClockFunc g_clock = &systemClock;
ActiveServices_Manager::SleepFunc g_sleep = &gen_millisleep;

const char kDatabaseName[] = "Service Router";

// The host name as gethostname gives it in a 254-byte buffer; "" on failure.
// Returns a static buffer.
const char *hostName() {
  static char name[255];
  if (gethostname(name, 254) != 0) name[0] = 0;
  name[254] = 0;
  return name;
}

// The real path of the router directory, or of the program's own directory
// when none is given. Never null.
char *directoryPart(const char *routerDir) {
  const char *dir = routerDir ? routerDir : gen_getprogdir();
  if (!dir) return gen_copy("");
  return gen_realpath(dir);
}

// The display names that all mean "the local screen 0".
bool isDefaultDisplay(const char *d, const char *host) {
  if (!d || !*d) return true;
  if (std::strcmp(d, ":0.0") == 0 || std::strcmp(d, ":0") == 0) return true;
  size_t n = std::strlen(host);
  if (std::strncmp(d, host, n) != 0) return false;
  return std::strcmp(d + n, ":0") == 0 || std::strcmp(d + n, ":0.0") == 0;
}

// The modification time of "servicerouter" in `dir`, or -1 when absent. A
// router rebuilt in place then gets a file of its own.
long routerStampIn(const char *dir) {
  char *path = gen_sconcat(dir, "servicerouter");
  struct stat st;
  long stamp = gen_stat(path, &st) == 0 ? static_cast<long>(st.st_mtime) : -1;
  gen_free(path);
  return stamp;
}

// Opens the record for reading when it can be trusted: a regular file of
// this user that nobody else may write. Another user could otherwise plant
// a record (in a shared temporary directory) that sends this user's clients
// to a router of theirs. -1 when missing or not trusted (with a warning).
int openTrustedRecord(const char *file) {
  int fd = ::open(file, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    gen_warning("Ignoring the active-services file %s: it is not a file of this user that "
                "only this user may write.\n", file);
    ::close(fd);
    return -1;
  }
  return fd;
}

// Creates (or empties) the record as a file only this user may read or
// write; a file that is not this user's is refused. Null on failure.
FILE *createPrivateRecord(const char *file) {
  int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_uid != ::getuid() || ::fchmod(fd, 0600) != 0) {
    ::close(fd);
    return nullptr;
  }
  FILE *stream = ::fdopen(fd, "w");
  if (!stream) ::close(fd);
  return stream;
}

}  // namespace

// ---------------------------------------------------------------------------
// Names.

bool ActiveServices_Manager::isBasicDisplay(const char *display) {
  if (!display || display[0] != ':') return false;
  bool digit = false;
  bool dot = false;
  for (const char *p = display + 1; *p; ++p) {
    if (*p >= '0' && *p <= '9') {
      digit = true;
    } else if (*p == '.' && digit && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  return true;
}

char *ActiveServices_Manager::getDisplay(const char *display) {
  if (display && *display) return gen_copy(display);
  const char *d = getenv("DISPLAY");
  const char *host = hostName();
  if (isDefaultDisplay(d, host)) return gen_concat3("DISP", host, ":0.0");
  if (isBasicDisplay(d)) return gen_concat3("DISP", host, d);
  return gen_concat("DISP", d);
}

char *ActiveServices_Manager::keyText(const char *display, const char *routerDir) {
  char *dir = directoryPart(routerDir);
  char *disp = getDisplay(display);
  char *text = gen_concat(dir, disp);
  long stamp = routerStampIn(dir);
  if (stamp >= 0) {
    char *stamped = gen_asprintf("%d%s", static_cast<int>(stamp), text);
    gen_free(text);
    text = stamped;
  }
  char *user = gen_getusername();
  text = gen_fconcat4(text, user, hostName(), getenv("CLEARCASE_ROOT"));
  gen_free(user);
  gen_free(disp);
  gen_free(dir);
  return text;
}

char *ActiveServices_Manager::digestKey(const char *text) {
  struct md5_ctx ctx;
  uint8_t digest[MD5_DIGEST_SIZE];
  md5_init(&ctx);
  md5_update(&ctx, text ? std::strlen(text) : 0, reinterpret_cast<const uint8_t *>(text ? text : ""));
  md5_digest(&ctx, MD5_DIGEST_SIZE, digest);
  return gen_binary_to_string(digest, MD5_DIGEST_SIZE);
}

char *ActiveServices_Manager::zoneNameToFileName(const char *zone, const char *display,
                                                 const char *routerDir) {
  if (zone) return gen_copy(zone);
  char *text = keyText(display, routerDir);
  char *key = digestKey(text);
  gen_free(text);
  return key;
}

char *ActiveServices_Manager::getActiveServicesDirectory() {
  return gen_copy(gen_default_temp_dir());
}

char *ActiveServices_Manager::getActiveServiceRouterFilename(const char *key) {
  char *dir = getActiveServicesDirectory();
  char *name = gen_sconcat(dir, "svc");
  gen_free(dir);
  if (key && *key) name = gen_fconcat3(name, "_", key);
  return name;
}

char *ActiveServices_Manager::lockFileName(const char *zone, const char *display,
                                           const char *routerDir) {
  char *key = zoneNameToFileName(zone, display, routerDir);
  char *file = getActiveServiceRouterFilename(key);
  char *lock = gen_changesuffix(file, "lock");
  gen_free(file);
  gen_free(key);
  return lock;
}

// ---------------------------------------------------------------------------
// Locking.

void ActiveServices_Manager::setClockForTesting(ClockFunc clock) {
  g_clock = clock ? clock : &systemClock;
}

void ActiveServices_Manager::setSleepForTesting(SleepFunc sleep) {
  g_sleep = sleep ? sleep : &gen_millisleep;
}

bool ActiveServices_Manager::lockFile(const char *lockFile, int waitSeconds, int staleSeconds) {
  if (!lockFile) return false;
  struct stat st;
  if (gen_stat(lockFile, &st) == 0 && g_clock() - staleSeconds > st.st_mtime) {
    gen_warning("Breaking lock on file %s because it is more than %d seconds old.\n", lockFile,
                staleSeconds);
    gen_unlink(lockFile);
  }
  time_t start = waitSeconds > 0 ? g_clock() : 0;
  for (;;) {
    int fd = gen_open(lockFile, O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    // Only an existing lock is worth waiting for; a missing directory or a
    // refused permission will not go away within the wait.
    if (errno != EEXIST && errno != EINTR) return false;
    if (waitSeconds == 0) return false;
    g_sleep(100);
    if (waitSeconds > 0 && g_clock() >= start + waitSeconds) return false;
  }
}

bool ActiveServices_Manager::lockManagerFile(const char *zone, const char *display,
                                             const char *routerDir) {
  char *lock = lockFileName(zone, display, routerDir);
  bool ok = lockFile(lock, kLockWaitSeconds, kStaleLockSeconds);
  gen_free(lock);
  return ok;
}

bool ActiveServices_Manager::unlockManagerFile(const char *zone, const char *display,
                                               const char *routerDir) {
  char *lock = lockFileName(zone, display, routerDir);
  gen_unlink(lock);
  gen_free(lock);
  return true;
}

// ---------------------------------------------------------------------------
// The record.

int ActiveServices_Manager::getActiveServiceRouter_Port(const char *zone, const char *display,
                                                        const char *routerDir) {
  char *key = zoneNameToFileName(zone, display, routerDir);
  char *file = getActiveServiceRouterFilename(key);
  gen_free(key);
  int result = 0;
  ut_options_database db(kDatabaseName);
  // The descriptor that was checked is the file that is read.
  int fd = openTrustedRecord(file);
  char *checked = fd >= 0 ? gen_asprintf("/proc/self/fd/%d", fd) : nullptr;
  bool read = checked && db.read_from_file_name(checked);
  gen_free(checked);
  if (fd >= 0) ::close(fd);
  if (read) {
    int port = db.get_optional_int32_attribute("Port", -1);
    int pid = db.get_optional_int32_attribute("Pid", -1);
    // Pids of 0 and below would name process groups, not a router.
    if (port != -1 && pid > 0 && gen_doeslocalprocessexist(pid)) result = port;
  }
  gen_free(file);
  return result;
}

bool ActiveServices_Manager::removeActiveServiceRouterFile(const char *zone, const char *display,
                                                           const char *routerDir) {
  char *key = zoneNameToFileName(zone, display, routerDir);
  char *file = getActiveServiceRouterFilename(key);
  bool removed = gen_unlink(file) == 0;
  gen_free(file);
  gen_free(key);
  return removed;
}

ActiveServices_Manager::ActiveServices_Manager(int port, const char *zone, const char *display,
                                               const char *routerDir)
    : key(zoneNameToFileName(zone, display, routerDir)) {
  char *dir = getActiveServicesDirectory();
  gen_createdir_recursive(dir, 0750);
  gen_free(dir);
  char *file = fileName();
  ut_options_database db(kDatabaseName);
  db.add_int32_attribute("Port", port);
  db.add_int32_attribute("Pid", static_cast<int>(getpid()));
  FILE *stream = createPrivateRecord(file);
  written = stream && db.write_to_file(stream);
  if (stream && std::fclose(stream) != 0) written = false;
  gen_free(file);
}

ActiveServices_Manager::~ActiveServices_Manager() { gen_free(key); }

char *ActiveServices_Manager::fileName() const { return getActiveServiceRouterFilename(key); }

bool ActiveServices_Manager::nonblockingManagerFileLock() {
  char *file = fileName();
  char *lock = gen_changesuffix(file, "lock");
  bool ok = lockFile(lock, 0, kStaleLockSeconds);
  gen_free(lock);
  gen_free(file);
  return ok;
}

bool ActiveServices_Manager::managerFileUnlock() {
  char *file = fileName();
  char *lock = gen_changesuffix(file, "lock");
  gen_unlink(lock);
  gen_free(lock);
  gen_free(file);
  return true;
}

bool ActiveServices_Manager::removeManagerFile() {
  char *file = fileName();
  bool removed = gen_unlink(file) == 0;
  gen_free(file);
  return removed;
}
