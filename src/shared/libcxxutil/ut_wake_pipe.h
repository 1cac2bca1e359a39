// ut_WakePipe: a pipe whose read end listens on the process's idle
// notifier, so that one byte written to the other end (by a signal handler,
// say) ends the notifier's wait. Reading only empties the pipe: whoever
// wrote leaves a flag for the loop to look at.
#pragma once

#include "shared/libcxxutil/ut_idle_notifier.h"

class ut_WakePipe : public SocketListener {
 public:
  // Opens the pipe, both ends non-blocking and close-on-exec (launched
  // children must not hold it), and registers the read end with `notifier`
  // (none: the owner waits on the read end itself). ok() says whether the
  // pipe could be made.
  explicit ut_WakePipe(IdleNotifier *notifier = getIdleNotifier());
  // Unregisters and closes both ends.
  ~ut_WakePipe() override;
  ut_WakePipe(const ut_WakePipe &) = delete;
  ut_WakePipe &operator=(const ut_WakePipe &) = delete;

  bool ok() const { return fds[0] >= 0; }
  // The end to write to; a write there is async-signal-safe, and a full
  // pipe already holds a wake-up.
  int writeFd() const { return fds[1]; }
  // Writes one byte.
  void poke() { wake(writeFd()); }
  // Writes one byte to `fd` (a writeFd(); nothing when negative), leaving
  // errno as it was: async-signal-safe, for signal handlers.
  static void wake(int fd);
  // Read passes that found bytes.
  long wakes() const { return wakes_; }

  bool hasFD() override { return ok(); }
  int getFD() override { return fds[0]; }
  bool wantsToRead() override { return true; }
  bool wantsToWrite() override { return false; }
  bool wantsToDequeueAndDispatch() override { return false; }
  bool wantsToStop() override { return false; }
  void handleRead() override;
  void handleWrite() override {}
  void handleDequeueAndDispatch() override {}
  void handleStop() override {}

 private:
  int fds[2] = {-1, -1};
  IdleNotifier *notifier;
  long wakes_ = 0;
};
