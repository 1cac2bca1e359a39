// STPChildProcess: starts another program and waits until it connects back
// to this process over a fresh STP transport.
//
// The launcher listens on a TCP port chosen by the system, passes the port
// (and by default the host name "localhost") on the child's command line at
// position portArg, starts the program without waiting for it, and accepts
// the child's connection on the given transport. While a launch is in
// progress the child-status signal has a handler that does nothing, so the
// child stays waitable and its early death can be seen; the previous handler
// is restored when the launch ends either way.
//
// Ownership: the transport is not owned; the argument vector and the working
// directory are. One thread.
#pragma once

#include <signal.h>

#include "shared/stp_transport/tstat.h"

class STPTransport;
class RetryHandler;

class STPChildProcess {
 public:
  // With killOnDelete the destructor kills a child that still runs.
  explicit STPChildProcess(bool killOnDelete);
  ~STPChildProcess();
  STPChildProcess(const STPChildProcess &) = delete;
  STPChildProcess &operator=(const STPChildProcess &) = delete;

  // The command, split into words like a shell line (see makeArgv); the
  // first word is the program. Null is ignored.
  void setCommand(const char *command);
  // The command as a vector of argc entries (copied).
  void setCommand(char *const *argv, int argc);
  // Appends / inserts one argument (copied); null is ignored, an insert
  // position outside 0 ... count changes nothing.
  void addArgument(const char *arg);
  void insertArgument(const char *arg, int position);

  // The transport to connect (not owned; must outlive the launch).
  void setTransport(STPTransport *transport) { this->transport = transport; }
  // Whether "localhost" goes before the port (default true).
  void setInsertHostname(bool on) { insertHostname = on; }
  // Where the connection arguments are inserted (default 1).
  void setPortArg(int position) { portArg = position; }
  // The directory the child starts in (copied; null: this process's own).
  void setWorkingDir(const char *dir);

  // Starts the program and waits until it connected, it died, or rh gave up
  // (code 7; the child is left running). Failures fill stat (may be null)
  // and return false:
  //   3 "[launch]: transport required to launch STPChildProcess."
  //   3 "[launch]: command required to launch STPChildProcess."
  //   3 "[launch]: Child is already launched."
  //   4 "[launch]: Program could not start (not found?)."
  //   4 "[launch]: Program died upon launch."
  //   4 "[launch]: Program died before connecting." (the child is gone)
  //   7 "[launch]: Timed out while waiting for child to connect."
  // and the transport's own failures. Without rh the wait has no time limit
  // (the transport is serviced for 4000 ms per round).
  bool launch(RetryHandler *rh, TStat *stat);
  // The child's process id, 0 when there is none.
  int getPID() const { return pid; }
  bool isConnected() const { return connected; }

  // Waits (through rh) for the child to exit, then kills it with SIGKILL
  // when rh gives up; without rh the child is killed at once unless it has
  // already exited. pid becomes 0.
  void killChild(RetryHandler *rh);
  // The same for any process id; nothing for 0.
  static void killPID(int pid, RetryHandler *rh);

 private:
  bool startLaunch(TStat *stat);
  bool tryLaunch(TStat *stat);
  // Ends a failed launch: kills the child and restores the signal handler.
  void abortLaunch();
  void restoreSignalHandler();

  STPTransport *transport = nullptr;  // not owned
  char **argv = nullptr;              // owned (freeArgv)
  int argc = 0;
  bool connected = false;
  bool insertHostname = true;
  bool killOnDelete;
  int pid = 0;
  int portArg = 1;
  char *workingDir = nullptr;  // owned (gen_free)
  struct sigaction savedChildHandler {};
  bool handlerInstalled = false;
  bool launching = false;
  int listenFD = -1;  // until the transport adopted it
};
