// Tests of ut_peerSocketUid: the owner of the other end of a loopback
// connection, and no owner at all where none can be told (the other end
// gone, not a TCP socket). Owners of another uid, and the other end left in
// time-wait, are covered end to end (AccessE2E, as root).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "shared/libcxxutil/ut_peer_uid.h"

namespace {

// A connected loopback pair: [0] the connecting end, [1] the accepted end.
bool loopbackPair(int fds[2]) {
  int l = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(l, 1) != 0 ||
      ::getsockname(l, reinterpret_cast<sockaddr *>(&a), &len) != 0)
    return false;
  fds[0] = ::socket(AF_INET, SOCK_STREAM, 0);
  bool ok = ::connect(fds[0], reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  fds[1] = ok ? ::accept(l, nullptr, nullptr) : -1;
  ::close(l);
  return fds[1] >= 0;
}

}  // namespace

TEST(PeerUid, BothEndsSeeTheirOwnerUntilTheOtherEndCloses) {
  int fds[2];
  ASSERT_TRUE(loopbackPair(fds));
  const char *why = nullptr;
  for (int fd : fds) {
    EXPECT_EQ(ut_peerSocketUid(fd, &why), static_cast<long long>(::getuid())) << why;
    long long uid = -2;
    EXPECT_TRUE(ut_peerIsSameUser(fd, &uid));
    EXPECT_EQ(uid, static_cast<long long>(::getuid()));
  }
  // An end reset and gone has no owner.
  linger reset{1, 0};
  ASSERT_EQ(::setsockopt(fds[1], SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
  ::close(fds[1]);
  EXPECT_EQ(ut_peerSocketUid(fds[0], &why), -1);
  EXPECT_FALSE(ut_peerIsSameUser(fds[0], nullptr));
  ::close(fds[0]);
}

TEST(PeerUid, NoOwnerForWhatIsNotAConnectedTcpSocket) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  int unconnected = ::socket(AF_INET, SOCK_STREAM, 0);
  int unixPair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, unixPair), 0);
  struct Case {
    const char *what;
    int fd;
    const char *why;
  } cases[] = {
      {"pipe", p[0], "not a connected socket"},
      {"unconnected socket", unconnected, "not a connected socket"},
      {"unix socket", unixPair[0], "not a TCP/IP socket"},
      {"closed descriptor", 9999, "not a connected socket"},
  };
  for (const Case &k : cases) {
    const char *why = nullptr;
    EXPECT_EQ(ut_peerSocketUid(k.fd, &why), -1) << k.what;
    EXPECT_STREQ(why, k.why) << k.what;
  }
  for (int fd : {p[0], p[1], unconnected, unixPair[0], unixPair[1]}) ::close(fd);
}
