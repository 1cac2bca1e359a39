// Router_Poller: the router's one readiness wait. Its descriptors stay in
// one epoll set between passes: a pass changes only the interest that
// changed, and the wait hands back only what is ready, so the cost of a
// pass does not grow with the number of links.
//
// Every descriptor is tagged with a key chosen by the caller (a plugin id,
// say) and the caller looks the key up again when it is reported: a closed
// descriptor leaves the set by itself, and a key that names nothing any
// more is simply skipped. A descriptor is watched under one Watch from the
// pass that first names it until it is closed or no longer named; a new
// descriptor number under the same Watch replaces the old one. One thread.
#pragma once

#include <sys/epoll.h>

#include <cstdint>

class Router_Poller {
 public:
  // What one descriptor is watched for, kept by its owner between passes.
  struct Watch {
    int fd = -1;
    uint32_t events = 0;
    bool forReading() const { return events & EPOLLIN; }
    bool forWriting() const { return events & EPOLLOUT; }
  };

  Router_Poller();
  ~Router_Poller();
  Router_Poller(const Router_Poller &) = delete;
  Router_Poller &operator=(const Router_Poller &) = delete;

  bool ok() const { return epfd >= 0; }
  // Makes `w` watch `fd` for reading and/or writing under `key`; fd -1, or
  // neither condition, takes it out of the set. Called for every descriptor
  // on every pass: what did not change costs no call.
  void watch(Watch &w, int fd, bool read, bool write, uint64_t key) {
    uint32_t wanted = fd < 0 ? 0u : (read ? EPOLLIN : 0u) | (write ? EPOLLOUT : 0u);
    if (fd != w.fd || wanted != w.events) change(w, fd, wanted, key);
  }
  // Waits at most `timeoutMs` (0: only looks; negative: until an event or
  // a signal) and returns how many events there are; 0 on time-out or a
  // signal.
  int wait(int timeoutMs);
  uint64_t key(int i) const { return events[i].data.u64; }
  // A readable, hung-up or failed descriptor counts as readable: its reader
  // finds out which.
  bool readable(int i) const { return events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR); }
  bool writable(int i) const { return events[i].events & (EPOLLOUT | EPOLLHUP | EPOLLERR); }

 private:
  void change(Watch &w, int fd, uint32_t wanted, uint64_t key);

  static constexpr int kMaxEvents = 64;
  int epfd;
  epoll_event events[kMaxEvents];
};
