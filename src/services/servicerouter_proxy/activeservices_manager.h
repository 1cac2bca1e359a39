// ActiveServices_Manager: the active-services file through which a running
// service router tells later processes where it listens, and the lock file
// that guards it.
//
// The file lives in the default temporary directory and is named "svc_"
// followed by a key: the zone name when one is given, otherwise the MD5
// digest of the router directory, the X display, the user, the host and
// CLEARCASE_ROOT, so that processes of one user on one host and display find
// the same router. The file is an options database ("Service Router") with
// the integer attributes "Port" and "Pid". A lock is held while the file
// name with the suffix ".lock" exists; it is taken by exclusive creation.
//
// Clients (the router proxy) use the static operations: lock, read the port,
// unlock. The router writes the file through the object operations.
//
// Every string returned is a new heap string the caller frees with gen_free.
// Time and sleeping in the lock loop can be replaced for tests. One thread.
#pragma once

#include <ctime>

class ActiveServices_Manager {
 public:
  // Seconds lockManagerFile waits for a lock, and the age after which a lock
  // file counts as left behind by a dead process.
  static constexpr int kLockWaitSeconds = 20;
  static constexpr int kStaleLockSeconds = 60;

  // For the router: computes the key, creates the directory with its parents
  // (mode 0750) and writes the file (mode 0600; an existing file of another
  // user is not written) with "Port" = port and "Pid" = this process's id. Any of zone, display and routerDir may be null. Failures
  // show through wasWritten().
  ActiveServices_Manager(int port, const char *zone, const char *display, const char *routerDir);
  ~ActiveServices_Manager();
  ActiveServices_Manager(const ActiveServices_Manager &) = delete;
  ActiveServices_Manager &operator=(const ActiveServices_Manager &) = delete;

  // Takes this file's lock without waiting (a lock older than 60 s is
  // broken first); false when another holder has it.
  bool nonblockingManagerFileLock();
  // Removes this file's lock file; true.
  bool managerFileUnlock();
  // Deletes this file; true when it was removed.
  bool removeManagerFile();
  // The key (owned by the object) and whether the constructor wrote the file.
  const char *getKey() const { return key; }
  bool wasWritten() const { return written; }

  // ---- Client side; zone, display and routerDir may each be null.
  // Takes the lock, waiting up to 20 s, breaking a lock older than 60 s.
  static bool lockManagerFile(const char *zone, const char *display, const char *routerDir);
  // Removes the lock file; returns true.
  static bool unlockManagerFile(const char *zone, const char *display, const char *routerDir);
  // The recorded port, or 0 when the file is missing or unreadable, lacks
  // "Port" or "Pid", or its process no longer exists. A file that is not
  // this user's, or that group or others may write, is ignored (warning).
  static int getActiveServiceRouter_Port(const char *zone, const char *display,
                                         const char *routerDir);
  // Deletes the file; true when it was removed.
  static bool removeActiveServiceRouterFile(const char *zone, const char *display,
                                            const char *routerDir);

  // ---- Names.
  // The directory of the file (the default temporary directory).
  static char *getActiveServicesDirectory();
  // The directory joined with "svc", then "_" and the key when the key is
  // not empty (null counts as empty).
  static char *getActiveServiceRouterFilename(const char *key);
  // The key: a copy of the zone when given, else the digest of keyText.
  static char *zoneNameToFileName(const char *zone, const char *display, const char *routerDir);
  // The text that is digested when there is no zone (see the source for
  // its parts).
  static char *keyText(const char *display, const char *routerDir);
  // The MD5 digest of `text` as 32 lower-case hex digits, each byte's low
  // nibble first.
  static char *digestKey(const char *text);
  // The display part of the key for an explicit display name (may be null).
  static char *getDisplay(const char *display);
  // ":" followed only by digits and at most one ".", which comes after at
  // least one digit (":" alone counts). False for null.
  static bool isBasicDisplay(const char *display);

  // ---- The lock primitive: exclusive creation of `lockFile` (mode 0600).
  // A lock file older than staleSeconds is first removed with the warning
  // "Breaking lock on file %s because it is more than %d seconds old.".
  // waitSeconds 0 tries once, -1 forever, otherwise retries every 100 ms
  // until that many seconds have passed. Fails at once when the file
  // cannot be created for a reason other than existing already.
  static bool lockFile(const char *lockFile, int waitSeconds, int staleSeconds);

  // ---- Test seams: the clock (seconds) and the 100 ms sleep of the lock
  // loop. Null restores time() and gen_millisleep.
  using ClockFunc = time_t (*)();
  using SleepFunc = void (*)(int milliseconds);
  static void setClockForTesting(ClockFunc clock);
  static void setSleepForTesting(SleepFunc sleep);

 private:
  // The lock file name for the file of (zone, display, routerDir).
  static char *lockFileName(const char *zone, const char *display, const char *routerDir);
  char *fileName() const;

  char *key = nullptr;  // owned (gen_free)
  bool written = false;
};
