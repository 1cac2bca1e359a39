// ut_select: readiness wait over poll. poll holds any descriptor number, so a
// process with more than FD_SETSIZE open files still waits correctly, and it
// takes the timeout in milliseconds as the notifier computes it.
#include "shared/libcxxutil/ut_select.h"

#include <poll.h>

#include <cerrno>
#include <cstddef>
#include <vector>

namespace {

// Conditions that make a descriptor count as ready for everything its
// owner asked for: the owner's next call reports the actual failure.
constexpr short kFailureEvents = POLLERR | POLLHUP | POLLNVAL;

short requestedEvents(const ut_ready_item &item) {
  short events = 0;
  if (item.want_read) events |= POLLIN;
  if (item.want_write) events |= POLLOUT;
  if (item.want_exception) events |= POLLPRI;
  return events;
}

void clearResults(ut_ready_item *items, int count) {
  for (int i = 0; i < count; ++i)
    items[i].got_read = items[i].got_write = items[i].got_exception = false;
}

// Copies poll's answer for one descriptor into its item; true when ready.
bool takeResult(ut_ready_item &item, short revents) {
  bool failed = (revents & kFailureEvents) != 0;
  item.got_read = item.want_read && (failed || (revents & POLLIN));
  item.got_write = item.want_write && (failed || (revents & POLLOUT));
  item.got_exception = item.want_exception && (failed || (revents & POLLPRI));
  return item.got_read || item.got_write || item.got_exception;
}

}  // namespace

int ut_wait_ready(ut_ready_item *items, int count, int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = 0;
  if (count < 0) count = 0;
  clearResults(items, count);
  // Most passes wait on a handful of sockets: keep those off the heap.
  pollfd local[32];
  std::vector<pollfd> heap;
  pollfd *fds = local;
  if (count > 32) {
    heap.resize(static_cast<size_t>(count));
    fds = heap.data();
  }
  for (int i = 0; i < count; ++i) {
    fds[i].fd = items[i].fd;
    fds[i].events = requestedEvents(items[i]);
    fds[i].revents = 0;
  }
  int rc = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
  if (rc < 0) return errno == EINTR ? 0 : -1;
  int ready = 0;
  for (int i = 0; i < count && rc > 0; ++i)
    if (fds[i].revents && takeResult(items[i], fds[i].revents)) ++ready;
  return ready;
}

int ut_wait_fd(int fd, bool wantRead, bool wantWrite, int timeoutMs, bool *readable,
               bool *writable) {
  ut_ready_item item{fd, wantRead, wantWrite, false, false, false, false};
  int n = ut_wait_ready(&item, 1, timeoutMs);
  if (readable) *readable = item.got_read;
  if (writable) *writable = item.got_write;
  return n;
}
