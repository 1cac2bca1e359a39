// ut_idle_notifier: the process-wide dispatcher behind the event loop. One
// pass calls the registered idlers, fires the due timers and waits once on
// the sockets of every registered socket listener, then tells each listener
// what became ready.
//
// Listeners, idlers and timers may add and remove themselves (and each
// other) from inside their own handlers, and a handler may run a nested pass
// (a blocking wait that keeps the process serving). The notifier never owns
// the objects registered with it.
//
// Time is ut_getTimeMillis(), a 32-bit millisecond clock that wraps; all
// comparisons use the difference of two times, so the wrap is harmless.
// Tests replace the clock (ut_setClockForTesting) and the readiness call
// (setWaitFunction), so that they neither sleep nor depend on the wall
// clock. Assumes one thread.
#pragma once

#include <cstdint>
#include <list>
#include <set>
#include <vector>

#include "services/state/deleteable.h"
#include "shared/libcxxutil/ut_select.h"

class IdleNotifier;

// Something to call on every pass of the loop, before the timers and the
// socket wait.
class Idler {
 public:
  virtual ~Idler() = default;
  // Called once per pass while registered; `notifier` is the caller.
  virtual void handleIdle(IdleNotifier *notifier) = 0;
  // Whether this idler may run inside a pass that asks for safe idlers only
  // (a nested wait that must not start new conversations).
  virtual bool isIdlerSafe() = 0;
};

// A source of socket work. The notifier asks what it wants on every pass and
// calls the handler of each condition that became ready. A listener without
// a descriptor (a loopback transport) that wants to read or write is treated
// as ready at once.
class SocketListener {
 public:
  virtual ~SocketListener() = default;
  virtual bool hasFD() = 0;
  virtual int getFD() = 0;
  virtual bool wantsToRead() = 0;
  virtual bool wantsToWrite() = 0;
  virtual bool wantsToReadException() { return false; }
  // True when work is queued that needs no descriptor; forces a zero wait.
  virtual bool wantsToDequeueAndDispatch() = 0;
  // Asked after the handlers of every pass; true makes the notifier call
  // handleStop (which is expected to unregister the listener).
  virtual bool wantsToStop() = 0;
  virtual void handleRead() = 0;
  virtual void handleWrite() = 0;
  virtual void handleException() {}
  virtual void handleDequeueAndDispatch() = 0;
  virtual void handleStop() = 0;
};

// A periodic callback. `now` is ut_getTimeMillis() at the start of the
// notifyTimers call that fires it.
class TimerListener {
 public:
  virtual ~TimerListener() = default;
  virtual void handleTimer(int now) = 0;
};

class IdleNotifier : public DeleteAble {
 public:
  IdleNotifier(const IdleNotifier &) = delete;
  IdleNotifier &operator=(const IdleNotifier &) = delete;

  // Idlers form a set: adding one twice keeps one entry.
  void addIdleListener(Idler *idler);
  void removeIdleListener(Idler *idler);
  // Idlers + socket listeners + timer entries now registered.
  int getNumIdlers() const;

  // Registers a listener once: an earlier entry of the same listener is
  // removed first (its pending flags are lost).
  void addSocketListener(SocketListener *listener);
  // Safe from inside any handler; unknown listeners are ignored.
  void removeSocketListener(SocketListener *listener);

  // Fires `listener` every `intervalMs` from now. The same listener may be
  // added several times; each entry fires on its own.
  void addTimerListener(TimerListener *listener, int intervalMs);
  // Removes every entry of `listener`.
  void removeTimerListener(TimerListener *listener);

  // Calls every registered idler once; with `onlySafe` set, idlers whose
  // isIdlerSafe() is false are skipped. An idler removed by an earlier one
  // in the same call is not called.
  void notifyIdle(bool onlySafe);
  // Fires each due timer at most once and re-schedules it (now + interval).
  // Timers due at the same time fire in the order they were added; timers
  // added by a handler during the call wait for the next call.
  void notifyTimers();
  // Milliseconds until the first timer is due (0 when overdue), -1 without
  // timers.
  int getTimeBeforeNextTimer() const;
  // One socket pass: with `process` set, first handles flags left from an
  // earlier wait and returns if there were any; otherwise waits at most
  // `timeoutMs` (shortened to the next timer, zero when work is pending) on
  // all listeners' descriptors and, with `process` set, calls the handlers
  // of what became ready. Without `process`, only records readiness (and
  // returns at once when the wait would be zero).
  void notifySocketActivity(int timeoutMs, bool process);

  // Replaces the readiness call; null restores ut_wait_ready.
  static void setWaitFunction(ut_wait_ready_func wait);

 private:
  friend IdleNotifier *getIdleNotifier();
  IdleNotifier();
  ~IdleNotifier() override;

  // One socket listener with what the last wait found for it.
  struct SocketEntry {
    SocketListener *listener;
    bool read_ready;
    bool write_ready;
    bool exception_ready;
    bool dispatch_wanted;
  };
  struct TimerEntry {
    TimerListener *listener;
    int interval;
    int due;
    // The notifyTimers call that last fired (or was running when it added)
    // this entry.
    std::uint32_t fired_in;
  };

  bool anySocketFlagSet() const;
  bool processSocketActivity();
  bool handleEntry(int index);
  int shortenToNextTimer(int timeoutMs) const;
  // The wait list of one pass: one item per listener with a descriptor that
  // wants something, and the slot each item belongs to.
  struct WaitList {
    std::vector<ut_ready_item> items;
    std::vector<int> owners;
  };
  void collectWaitItems(WaitList &list, int *timeoutMs);
  void recordReadiness(const WaitList &list);
  void lockSockets() { ++socket_lock_; }
  void unlockSockets();
  void compactSockets();
  void insertTimer(TimerEntry entry);

  std::set<Idler *> idlers_;
  // Removed entries are nulled while a pass walks the list and squeezed out
  // when the last pass ends.
  std::vector<SocketEntry> sockets_;
  int socket_count_ = 0;  // entries with a listener
  int socket_lock_ = 0;
  int socket_holes_ = 0;  // null slots waiting for compactSockets
  // Kept between passes so that a pass allocates nothing once the vectors
  // have grown; a wait that starts while this one is in use (from inside
  // the wait function) uses a list of its own.
  WaitList wait_list_;
  bool wait_list_busy_ = false;
  // Ascending due time; equal due times in insertion order.
  std::list<TimerEntry> timers_;
  std::uint32_t timer_pass_ = 0;
};

// The one notifier of the process, created on first use and deleted at exit
// (delete_at_exit key 99.0). Returns null once it has been deleted, so that
// listeners unregistering during exit must check. Never delete it yourself.
IdleNotifier *getIdleNotifier();
