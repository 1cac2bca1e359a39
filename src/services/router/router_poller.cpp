// Router_Poller: the kept epoll set and its wait.
#include "services/router/router_poller.h"

#include <unistd.h>

Router_Poller::Router_Poller() : epfd(::epoll_create1(EPOLL_CLOEXEC)) {}

Router_Poller::~Router_Poller() {
  if (epfd >= 0) ::close(epfd);
}

void Router_Poller::change(Watch &w, int fd, uint32_t wanted, uint64_t key) {
  // Out of the set first when the descriptor is not wanted any more (a
  // closed one left it by itself) or another one takes its place.
  if (w.fd >= 0 && (wanted == 0 || fd != w.fd)) {
    ::epoll_ctl(epfd, EPOLL_CTL_DEL, w.fd, nullptr);
    w = Watch();
  }
  if (wanted == 0) return;
  epoll_event ev{};
  ev.events = wanted;
  ev.data.u64 = key;
  if (::epoll_ctl(epfd, w.fd == fd ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev) == 0) {
    w.fd = fd;
    w.events = wanted;
  } else if (w.fd >= 0) {
    // Start again from nothing on the next pass.
    ::epoll_ctl(epfd, EPOLL_CTL_DEL, w.fd, nullptr);
    w = Watch();
  }
}

int Router_Poller::wait(int timeoutMs) {
  int n = ::epoll_wait(epfd, events, kMaxEvents, timeoutMs < 0 ? -1 : timeoutMs);
  return n < 0 ? 0 : n;
}
