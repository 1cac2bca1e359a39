// ut_WakePipe: the self-pipe that wakes a wait.
#include "shared/libcxxutil/ut_wake_pipe.h"

#include <fcntl.h>
#include <cerrno>
#include <unistd.h>

ut_WakePipe::ut_WakePipe(IdleNotifier *notifier) : notifier(notifier) {
  if (::pipe(fds) != 0) {
    fds[0] = fds[1] = -1;
    return;
  }
  for (int fd : fds) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  if (notifier) notifier->addSocketListener(this);
}

ut_WakePipe::~ut_WakePipe() {
  if (!ok()) return;
  if (notifier) notifier->removeSocketListener(this);
  ::close(fds[0]);
  ::close(fds[1]);
}

void ut_WakePipe::wake(int fd) {
  if (fd < 0) return;
  int saved = errno;
  char byte = 1;
  (void)!::write(fd, &byte, 1);
  errno = saved;
}

void ut_WakePipe::handleRead() {
  char buffer[64];
  bool got = false;
  while (::read(fds[0], buffer, sizeof buffer) > 0) got = true;
  if (got) ++wakes_;
}
