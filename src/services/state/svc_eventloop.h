// svc_eventloop: the main loop of the process and its pluggable parts.
//
// Each pass runs the loop actions, one pass of the idle notifier (idlers,
// timers, one socket wait) and then asks the exit conditions whether the
// process may end. When they agree the loop does not stop by itself: it asks
// the service router to disconnect the process (again every 30000 ms while
// the agreement lasts) and keeps serving until the router connection is
// gone. The router is reached through the installed Svc_RouterLink. A stop
// signal (svc_signals.h) ends the loop at the start of the next pass.
//
// Every list holds pointers or functions only; the loop never deletes the
// objects installed in it. Assumes one thread.
#pragma once

#include <vector>

// Decides whether the process may (allowExit) or must (mustExit) end.
class ExitCondition {
 public:
  // Installs nothing.
  ExitCondition() = default;
  // With `installGlobally` set, appends this object to the global list that
  // every loop constructed later copies. There is no global uninstall: a
  // globally installed condition must live as long as the process.
  explicit ExitCondition(bool installGlobally);
  // Does not uninstall.
  virtual ~ExitCondition() = default;
  virtual bool allowExit() = 0;
  virtual bool mustExit() = 0;
};

// Run once when the loop is destroyed.
class CleanupAction {
 public:
  virtual ~CleanupAction() = default;
  // The result is ignored.
  virtual bool doCleanup() = 0;
};

// Run at the start of every pass.
class LoopAction {
 public:
  LoopAction() = default;
  // With `installGlobally` set, joins the global list that every loop runs;
  // the destructor then leaves it again.
  explicit LoopAction(bool installGlobally);
  virtual ~LoopAction();
  LoopAction(const LoopAction &) = delete;
  LoopAction &operator=(const LoopAction &) = delete;
  virtual void doLoopAction() = 0;

 private:
  bool installedGlobally = false;
};

// Supplies the longest socket wait of one pass.
class SleepTime {
 public:
  SleepTime() = default;
  // With `installGlobally` set, becomes the global sleep time; the
  // destructor clears it again if it is still this object.
  explicit SleepTime(bool installGlobally);
  virtual ~SleepTime();
  SleepTime(const SleepTime &) = delete;
  SleepTime &operator=(const SleepTime &) = delete;
  // Milliseconds.
  virtual int getSleepTime() = 0;

 private:
  bool installedGlobally = false;
};

using ExitConditionFunc = bool (*)();
using CleanupActionFunc = bool (*)();  // result ignored
using LoopActionFunc = void (*)();
using SleepTimeFunc = int (*)();       // milliseconds

class Svc_EventLoop {
 public:
  // Milliseconds between two disconnect requests while the exit conditions
  // keep agreeing.
  static constexpr int kDisconnectRepeatMs = 30000;
  // The socket wait when no sleep time is installed anywhere.
  static constexpr int kDefaultSleepMs = 1000;

  // Copies the global exit conditions installed so far (a snapshot).
  Svc_EventLoop();
  // Runs the cleanup actions, then the cleanup functions, in installation
  // order.
  virtual ~Svc_EventLoop();
  Svc_EventLoop(const Svc_EventLoop &) = delete;
  Svc_EventLoop &operator=(const Svc_EventLoop &) = delete;

  // Serves until the router link reports the connection gone, or until a
  // stop signal was caught (Svc_StopSignal); returns true. Returns at once
  // when no router link is installed.
  virtual bool enterLoop();
  // True when a condition demands exit, or when every condition and every
  // exit-condition function allows it (also when there are none).
  virtual bool shouldExit();
  // One pass: loop actions (local objects, local functions, global
  // objects, each over a snapshot), then idlers, due timers and one socket
  // wait of at most calculateSleepTime(). Returns true.
  virtual bool loopAction();
  // The local SleepTime, else the local function, else the global
  // SleepTime, else kDefaultSleepMs.
  virtual int calculateSleepTime();

  // Appends (duplicates allowed); always true. Nothing is owned.
  bool installExitCondition(ExitCondition *condition);
  bool installExitConditionFunc(ExitConditionFunc func);
  bool installCleanupAction(CleanupAction *action);
  bool installCleanupActionFunc(CleanupActionFunc func);
  bool installLoopAction(LoopAction *action);
  bool installLoopActionFunc(LoopActionFunc func);
  // Remove the first equal entry; false when there is none.
  bool uninstallExitCondition(ExitCondition *condition);
  bool uninstallExitConditionFunc(ExitConditionFunc func);
  bool uninstallLoopAction(LoopAction *action);
  bool uninstallLoopActionFunc(LoopActionFunc func);
  // Store and return true; null clears.
  bool setLocalSleepTime(SleepTime *sleepTime);
  bool setLocalSleepTimeFunc(SleepTimeFunc func);

  // Process-wide lists, created on first use and kept until exit.
  static void installGlobalExitCondition(ExitCondition *condition);
  static void installGlobalLoopAction(LoopAction *action);
  // Removes every entry equal to `action`.
  static void uninstallGlobalLoopAction(LoopAction *action);
  // Replaces the global sleep time; null clears it.
  static void setGlobalSleepTime(SleepTime *sleepTime);
  static SleepTime *getGlobalSleepTime();

 private:
  std::vector<ExitCondition *> ExitConditionList;
  std::vector<ExitConditionFunc> ExitConditionFuncList;
  std::vector<CleanupAction *> CleanupActionList;
  std::vector<CleanupActionFunc> CleanupActionFuncList;
  std::vector<LoopAction *> LoopActionList;
  std::vector<LoopActionFunc> LoopActionFuncList;
  SleepTime *localSleepTime = nullptr;
  SleepTimeFunc localSleepTimeFunc = nullptr;
};
