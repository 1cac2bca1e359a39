// Tests of ut_peerSocketUid: the owner of the other end of a loopback
// connection, and no owner at all where none can be told (the other end
// gone, not a TCP socket). Owners of another uid, and the other end left in
// time-wait, are covered end to end (AccessE2E, as root).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <utility>

#include "shared/libcxxutil/ut_peer_uid.h"

TEST(PeerUid, OwnerOfEachEndUntilTheOtherCloses) {
  // A connected loopback pair: [0] the connecting end, [1] the accepted end.
  int l = ::socket(AF_INET, SOCK_STREAM, 0), fds[2];
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  auto *sa = reinterpret_cast<sockaddr *>(&a);
  ASSERT_TRUE(::bind(l, sa, sizeof a) == 0 && ::listen(l, 1) == 0 && ::getsockname(l, sa, &len) == 0);
  fds[0] = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(fds[0], sa, sizeof a), 0);
  ASSERT_GE(fds[1] = ::accept(l, nullptr, nullptr), 0);
  ::close(l);
  const char *why = nullptr;
  for (int fd : fds) {
    long long uid = -2;
    EXPECT_EQ(ut_peerSocketUid(fd, &why), static_cast<long long>(::getuid())) << why;
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
  int p[2], unixPair[2], unconnected = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::pipe(p), 0);
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, unixPair), 0);
  const std::pair<int, const char *> cases[] = {{p[0], "not a connected socket"},
                                                {unconnected, "not a connected socket"},
                                                {unixPair[0], "not a TCP/IP socket"},
                                                {9999, "not a connected socket"}};  // closed descriptor
  for (auto [fd, reason] : cases) {
    const char *why = nullptr;
    EXPECT_EQ(ut_peerSocketUid(fd, &why), -1) << reason;
    EXPECT_STREQ(why, reason);
  }
  for (int fd : {p[0], p[1], unconnected, unixPair[0], unixPair[1]}) ::close(fd);
}
