// Router_Poller: the kept epoll set and its wait.
#include "services/router/router_poller.h"

#include <unistd.h>

#include <cerrno>

Router_Poller::Router_Poller() : epfd(::epoll_create1(EPOLL_CLOEXEC)) {}

Router_Poller::~Router_Poller() {
  if (epfd >= 0) ::close(epfd);
}

void Router_Poller::change(Watch &w, int fd, uint32_t wanted, uint64_t key) {
  // A descriptor number that changed is a new descriptor: the old one was
  // closed (and left the set with it) or is taken out here.
  if (w.fd >= 0 && (fd != w.fd || wanted == 0)) {
    ::epoll_ctl(epfd, EPOLL_CTL_DEL, w.fd, nullptr);
    w = Watch();
  }
  if (wanted == 0) return;
  epoll_event ev{};
  ev.events = wanted;
  ev.data.u64 = key;
  // MOD fails when the descriptor left the set behind our back (closed and
  // reopened under the same number): then it is added again.
  if (w.fd == fd && ::epoll_ctl(epfd, EPOLL_CTL_MOD, fd, &ev) == 0) {
    w.events = wanted;
    return;
  }
  if (::epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) == 0 ||
      (errno == EEXIST && ::epoll_ctl(epfd, EPOLL_CTL_MOD, fd, &ev) == 0)) {
    w.fd = fd;
    w.events = wanted;
  }
}

int Router_Poller::wait(int timeoutMs) {
  int n = ::epoll_wait(epfd, events, kMaxEvents, timeoutMs < 0 ? -1 : timeoutMs);
  return n < 0 ? 0 : n;
}
