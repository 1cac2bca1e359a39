// ut_idle_notifier: idlers, timers and the socket pass of the event loop.
//
// Socket listeners live in a vector walked by index. While any pass walks it
// (passes nest when a handler waits), removal only nulls a slot, so indices
// stay valid; when the outermost pass ends, null slots are filled from the
// end. The wait list is kept between passes and refilled in place, so a pass
// makes no heap allocation and reads the clock at most once (only when
// timers are registered). Timers are a list sorted by due time; an entry is re-scheduled before
// its handler runs, so the handler may remove or re-add it freely.
#include "shared/libcxxutil/ut_idle_notifier.h"

#include <algorithm>

#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

IdleNotifier *g_notifier = nullptr;
bool g_notifier_deleted = false;
ut_wait_ready_func g_wait = nullptr;

// a - b on the wrapping clock.
int timeDiff(int a, int b) {
  return static_cast<int>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

int timeAdd(int t, int ms) {
  return static_cast<int>(static_cast<std::uint32_t>(t) + static_cast<std::uint32_t>(ms));
}

}  // namespace

IdleNotifier *getIdleNotifier() {
  if (!g_notifier && !g_notifier_deleted) g_notifier = new IdleNotifier;
  return g_notifier;
}

IdleNotifier::IdleNotifier() {
  sockets_.reserve(16);
  // Late in the exit order: objects deleted before it may still unregister.
  delete_at_exit(this, 99.0f);
}

IdleNotifier::~IdleNotifier() {
  if (g_notifier == this) {
    g_notifier = nullptr;
    g_notifier_deleted = true;
  }
}

void IdleNotifier::setWaitFunction(ut_wait_ready_func wait) { g_wait = wait; }

// ---- idlers ----

void IdleNotifier::addIdleListener(Idler *idler) {
  if (idler) idlers_.insert(idler);
}

void IdleNotifier::removeIdleListener(Idler *idler) { idlers_.erase(idler); }

int IdleNotifier::getNumIdlers() const {
  return static_cast<int>(idlers_.size()) + socket_count_ + static_cast<int>(timers_.size());
}

void IdleNotifier::notifyIdle(bool onlySafe) {
  // Work on a copy: idlers add and remove idlers while they run.
  Idler *local[16];
  std::vector<Idler *> heap;
  Idler **copy = local;
  if (idlers_.size() > 16) {
    heap.resize(idlers_.size());
    copy = heap.data();
  }
  int n = 0;
  for (Idler *idler : idlers_) copy[n++] = idler;
  for (int i = 0; i < n; ++i) {
    Idler *idler = copy[i];
    if (idlers_.count(idler) == 0) continue;
    if (onlySafe && !idler->isIdlerSafe()) continue;
    idler->handleIdle(this);
  }
}

// ---- timers ----

void IdleNotifier::insertTimer(TimerEntry entry) {
  auto pos = timers_.begin();
  while (pos != timers_.end() && timeDiff(pos->due, entry.due) <= 0) ++pos;
  timers_.insert(pos, entry);
}

void IdleNotifier::addTimerListener(TimerListener *listener, int intervalMs) {
  if (!listener) return;
  int interval = std::max(intervalMs, 0);
  // Stamped as fired by the latest notifyTimers call: a timer added by a
  // timer handler waits for the next call.
  insertTimer(TimerEntry{listener, interval, timeAdd(ut_getTimeMillis(), interval), timer_pass_});
}

void IdleNotifier::removeTimerListener(TimerListener *listener) {
  timers_.remove_if([listener](const TimerEntry &e) { return e.listener == listener; });
}

void IdleNotifier::notifyTimers() {
  const std::uint32_t pass = ++timer_pass_;
  if (timers_.empty()) return;  // no clock read for a loop without timers
  const int now = ut_getTimeMillis();
  const size_t n = timers_.size();
  for (size_t i = 0; i < n && !timers_.empty(); ++i) {
    TimerEntry first = timers_.front();
    // An entry fired (or added) during this call can only be first when
    // nothing due is left before it: it went behind every entry due by now.
    if (timeDiff(first.due, now) > 0 || first.fired_in == pass) break;
    timers_.pop_front();
    first.due = timeAdd(now, first.interval);
    first.fired_in = pass;
    insertTimer(first);
    first.listener->handleTimer(now);
  }
}

int IdleNotifier::getTimeBeforeNextTimer() const {
  if (timers_.empty()) return -1;
  return std::max(timeDiff(timers_.front().due, ut_getTimeMillis()), 0);
}

// ---- socket listener list ----

void IdleNotifier::addSocketListener(SocketListener *listener) {
  if (!listener) return;
  removeSocketListener(listener);
  sockets_.push_back(SocketEntry{listener, false, false, false, false});
  ++socket_count_;
}

void IdleNotifier::removeSocketListener(SocketListener *listener) {
  if (!listener) return;
  for (SocketEntry &entry : sockets_) {
    if (entry.listener != listener) continue;
    entry = SocketEntry{nullptr, false, false, false, false};
    --socket_count_;
    ++socket_holes_;
    break;
  }
  if (socket_lock_ == 0) compactSockets();
}

void IdleNotifier::unlockSockets() {
  if (--socket_lock_ == 0) compactSockets();
}

void IdleNotifier::compactSockets() {
  if (socket_holes_ == 0) return;
  socket_holes_ = 0;
  size_t i = 0;
  while (i < sockets_.size()) {
    if (sockets_[i].listener) {
      ++i;
      continue;
    }
    // Fill the hole with the last entry (flags included); re-check slot i,
    // since the moved entry may itself be a hole.
    sockets_[i] = sockets_.back();
    sockets_.pop_back();
  }
}

bool IdleNotifier::anySocketFlagSet() const {
  for (const SocketEntry &e : sockets_)
    if (e.listener && (e.read_ready || e.write_ready || e.exception_ready || e.dispatch_wanted))
      return true;
  return false;
}

// ---- socket pass ----

bool IdleNotifier::handleEntry(int index) {
  SocketListener *listener = sockets_[index].listener;
  // A handler that removes its listener empties the slot: stop there. The
  // vector may grow inside a handler, so every access goes by index.
  auto gone = [&] { return sockets_[index].listener != listener; };
  bool handled = false;
  if (sockets_[index].read_ready) {
    sockets_[index].read_ready = sockets_[index].dispatch_wanted = false;
    handled = true;
    listener->handleRead();
    if (gone()) return handled;
  }
  if (sockets_[index].exception_ready) {
    sockets_[index].exception_ready = false;
    handled = true;
    listener->handleException();
    if (gone()) return handled;
  }
  if (sockets_[index].write_ready) {
    sockets_[index].write_ready = false;
    handled = true;
    listener->handleWrite();
    if (gone()) return handled;
  }
  if (sockets_[index].dispatch_wanted) {
    sockets_[index].dispatch_wanted = false;
    handled = true;
    listener->handleDequeueAndDispatch();
    if (gone()) return handled;
  }
  if (listener->wantsToStop()) listener->handleStop();
  return handled;
}

bool IdleNotifier::processSocketActivity() {
  bool handled = false;
  lockSockets();
  for (size_t i = 0; i < sockets_.size(); ++i)
    if (sockets_[i].listener && handleEntry(static_cast<int>(i))) handled = true;
  unlockSockets();
  return handled;
}

int IdleNotifier::shortenToNextTimer(int timeoutMs) const {
  int next = getTimeBeforeNextTimer();
  if (timeoutMs > 0 && next >= 0 && next < timeoutMs) return next;
  return timeoutMs;
}

// Asks every listener what it wants. Conditions that need no descriptor
// (a listener without one, queued work) are flagged at once and make the
// wait zero; the rest become wait items. `owners` maps items to slots.
void IdleNotifier::collectWaitItems(WaitList &list, int *timeoutMs) {
  list.items.clear();
  list.owners.clear();
  for (size_t i = 0; i < sockets_.size(); ++i) {
    SocketListener *listener = sockets_[i].listener;
    if (!listener) continue;
    int fd = listener->hasFD() ? listener->getFD() : -1;
    ut_ready_item item{fd, false, false, false, false, false, false};
    if (listener->wantsToWrite()) {
      if (fd >= 0) {
        item.want_write = true;
      } else {
        sockets_[i].write_ready = true;
        *timeoutMs = 0;
      }
    }
    if (listener->wantsToReadException()) {
      if (fd >= 0) {
        item.want_exception = true;
      } else {
        sockets_[i].exception_ready = true;
        *timeoutMs = 0;
      }
    }
    if (listener->wantsToRead()) {
      if (fd >= 0) {
        item.want_read = true;
      } else {
        sockets_[i].read_ready = true;
        *timeoutMs = 0;
      }
    }
    if (listener->wantsToDequeueAndDispatch()) {
      sockets_[i].dispatch_wanted = true;
      *timeoutMs = 0;
    }
    if (item.want_read || item.want_write || item.want_exception) {
      list.items.push_back(item);
      list.owners.push_back(static_cast<int>(i));
    }
  }
}

void IdleNotifier::recordReadiness(const WaitList &list) {
  const std::vector<ut_ready_item> &items = list.items;
  for (size_t k = 0; k < items.size(); ++k) {
    SocketEntry &entry = sockets_[list.owners[k]];
    if (!entry.listener) continue;  // removed while being asked
    if (items[k].got_read) {
      entry.read_ready = true;
      entry.dispatch_wanted = false;  // the read delivers what is queued
    }
    if (items[k].got_exception) entry.exception_ready = true;
    if (items[k].got_write) entry.write_ready = true;
  }
}

void IdleNotifier::notifySocketActivity(int timeoutMs, bool process) {
  int timeout = std::max(timeoutMs, 0);
  if (process) {
    // Readiness left from a wait without processing comes first.
    if (processSocketActivity()) return;
  } else if (anySocketFlagSet()) {
    timeout = 0;
  }
  timeout = shortenToNextTimer(timeout);
  if (!process && timeout < 1) return;

  // The kept list, unless a wait function re-entered the notifier.
  WaitList nested;
  WaitList &list = wait_list_busy_ ? nested : wait_list_;
  const bool owns = !wait_list_busy_;
  wait_list_busy_ = true;
  lockSockets();
  collectWaitItems(list, &timeout);
  ut_wait_ready_func wait = g_wait ? g_wait : ut_wait_ready;
  if (wait(list.items.data(), static_cast<int>(list.items.size()), timeout) > 0)
    recordReadiness(list);
  unlockSockets();
  if (owns) wait_list_busy_ = false;

  if (process) processSocketActivity();
}
