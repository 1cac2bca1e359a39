// ut_select: the one readiness call of the process, kept apart so that the
// idle notifier never talks to the kernel's wait primitives directly and
// tests can put a recording fake in its place.
//
// The call waits on any number of descriptors (there is no FD_SETSIZE limit:
// it is built on poll), restarts nothing on a signal (an interrupted wait
// simply reports no readiness) and never blocks forever.
// Assumes one thread.
#pragma once

// One descriptor and the conditions asked for and found. The caller fills
// `fd` and the `want_` flags; the call sets the `got_` flags.
struct ut_ready_item {
  int fd;
  bool want_read;
  bool want_write;
  bool want_exception;
  bool got_read;
  bool got_write;
  bool got_exception;
};

// Waits at most `timeoutMs` milliseconds (a negative value counts as 0) until
// one of the `count` items is ready, then sets the `got_` flags of every item
// and returns the number of ready items. Returns 0 on time-out and when a
// signal interrupted the wait, -1 on any other failure (all `got_` flags are
// then false). With count 0 it only sleeps. A descriptor in error, hung up or
// not open is reported ready for every condition it was asked for, so its
// owner finds the failure on its next read or write. The items stay the
// caller's.
int ut_wait_ready(ut_ready_item *items, int count, int timeoutMs);

// The same wait on one descriptor: for reading when wantRead, for writing
// when wantWrite. Sets *readable / *writable (either may be null) and returns
// 1 when ready, 0 on time-out or interruption, -1 on failure.
int ut_wait_fd(int fd, bool wantRead, bool wantWrite, int timeoutMs, bool *readable,
               bool *writable);

// The signature of ut_wait_ready, for replacing it in tests.
using ut_wait_ready_func = int (*)(ut_ready_item *items, int count, int timeoutMs);
