// ut_retry_handler: the policy object every waiting operation takes.
//
// A caller that must wait for the network (a write to finish, a reply, a
// client, a handshake, a child process) runs this loop:
//
//   rh->beginOp();
//   for (;;) { rh->idle(); if (done or failed) break; if (!rh->retryOp()) break; }
//   rh->completedOp();
//
// and reports its own time-out message when retryOp() ended the loop.
// idle() says how to pass the time (subclasses service a transport or run
// the idle notifier); retryOp() says whether to go on: every registered
// RetryCondition may veto, the handler's own time-out may expire, and a
// process-wide deadline can cut every wait short.
//
// Time is a 32-bit millisecond clock that wraps; elapsed time is always the
// 32-bit difference (now - start), so the wrap is harmless. The clock can be
// replaced for tests. Assumes one thread.
#pragma once

#include <vector>

// Wall-clock milliseconds (seconds * 1000 + microseconds / 1000), as a
// 32-bit value that wraps.
int ut_getTimeMillis();
// The same clock without the wrap.
long long ut_getTimeMillis64();
// Replaces the clock used by both functions above (and so by every retry
// handler); null restores the wall clock. For tests that must not sleep.
using ut_clock_func = long long (*)();
void ut_setClockForTesting(ut_clock_func clock);

// Something that can veto further waiting (for example: the connection a
// send belongs to went down). Not owned by the handlers it is added to.
class RetryCondition {
 public:
  virtual ~RetryCondition() = default;
  // False ends the wait at the next retryOp().
  virtual bool mayRetry() = 0;
};

// The constructor argument that selects a time-out:
//   -1                the process default (15000 ms unless changed)
//   1 .. 1000000      that many times 15000 ms
//   above 1000000     (value - 1000000) ms
// 0 and other negative values are not valid; they select the default.
using TimeoutOption = int;
constexpr TimeoutOption kRetryDefaultTimeout = -1;
constexpr TimeoutOption kRetryMillisBase = 1000000;

class RetryHandler {
 public:
  // No time-out: only conditions and subclass rules end the wait.
  RetryHandler();
  // A time-out chosen by `option` (see TimeoutOption).
  explicit RetryHandler(TimeoutOption option);
  virtual ~RetryHandler();

  RetryHandler(const RetryHandler &) = delete;
  RetryHandler &operator=(const RetryHandler &) = delete;

  // Starts a wait: records the start time when a time-out is set.
  virtual void beginOp();
  // Whether to go on waiting: false when a condition vetoes (asked in the
  // order they were added), when the time-out has expired, or when the
  // process deadline has passed (only handlers with a time-out look at it).
  virtual bool retryOp();
  // Ends a wait; nothing in the base class.
  virtual void completedOp();
  // One round of passing the time while waiting.
  virtual void idle() = 0;

  // Conditions stay owned by the caller, who removes them before freeing
  // them. remove takes out the first entry with that pointer and returns
  // whether there was one.
  void addRetryCondition(RetryCondition *condition);
  bool removeRetryCondition(RetryCondition *condition);

  // Time-out in ms (-1: never) and the start time of the current wait (-1
  // before the first beginOp with a time-out).
  int getTimeout() const { return timeout; }
  int getStartTime() const { return startTime; }

  // The process-wide deadline, an absolute reading of ut_getTimeMillis();
  // -1 removes it.
  static void setMaxRunTime(int deadline);
  static int getMaxRunTime();
  // True when a deadline is set and the clock has passed it.
  static bool isTimeToDie();
  // The process-wide default time-out behind option -1 (15000 ms).
  static int getDefaultTimeout();
  static void setDefaultTimeout(int ms);
  // The time-out in ms that `option` selects.
  static int timeoutForOption(TimeoutOption option);

 protected:
  int timeout = -1;
  int startTime = -1;
  std::vector<RetryCondition *> conditions;  // not owned
};
