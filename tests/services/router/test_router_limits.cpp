// One plugin must not hurt the others: a plugin that sends garbage, one
// that breaks the protocol, one that never negotiates and a subscriber that
// stops reading are all disconnected while the other plugins keep working.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <cstring>

#include "services/router/router_fixture.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_msg.h"

namespace {

int rawConnect(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

// Whether the peer closed the socket within `ms` (reading and discarding
// whatever arrives first).
bool closedWithin(int s, int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) {
      char buf[4096];
      ssize_t n = ::read(s, buf, sizeof buf);
      if (n <= 0) return true;
    }
  }
  return false;
}

}  // namespace

// Tight limits; connectPair's working echo connection shows that the
// others keep working.
class RouterLimits : public RouterFixture {
 protected:
  void SetUp() override {
    routerArgs = {"-not_shared", "-idle_exit", "0", "-negotiate_timeout", "400",
                  "-max_pending_bytes", "262144"};
    RouterFixture::SetUp();
  }
};

TEST_F(RouterLimits, PluginSendingGarbageIsDroppedWhileOthersKeepWorking) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  int s = rawConnect(router.port);
  ASSERT_GE(s, 0);
  unsigned char junk[256];
  for (size_t i = 0; i < sizeof junk; ++i) junk[i] = static_cast<unsigned char>(0xA5 ^ i);
  ASSERT_EQ(::write(s, junk, sizeof junk), static_cast<ssize_t>(sizeof junk));
  EXPECT_TRUE(closedWithin(s, 5000));
  ::close(s);
  EXPECT_TRUE(pingPong(c, 1, "still here"));
  EXPECT_NE(router.stderrText().find("invalid packet"), std::string::npos) << router.stderrText();
}

TEST_F(RouterLimits, PluginBreakingTheProtocolIsDropped) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  TestPlugin *bad = plugin();
  ASSERT_TRUE(bad);
  // A well-framed binary message with a number the router does not know.
  STPBinaryOMsg *msg = bad->link()->createBinaryMessage(2, 1, STP_TYPE_BINARY, 999, STP_FLAG_ASYNC);
  bad->link()->enqueueMessage(msg);
  delete msg;
  EXPECT_TRUE(pump(5000, [&] { return !bad->linkAlive(); }));
  EXPECT_TRUE(pingPong(c, 2, "unharmed"));
  EXPECT_NE(router.stderrText().find("unknown message number"), std::string::npos);
}

TEST_F(RouterLimits, PacketsForUnknownRoutingNumbersAreDiscarded) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  // Addressed to an RN nobody owns, and to the plugin end of a link: both
  // vanish without harming anyone.
  for (int dest : {2, 999999}) {
    STPBinaryOMsg *msg = b->link()->createBinaryMessage(r.localRN, dest, STP_TYPE_BINARY, 0,
                                                        STP_FLAG_ASYNC);
    b->link()->enqueueMessage(msg);
    delete msg;
  }
  EXPECT_TRUE(pingPong(c, 3, "after strays"));
  EXPECT_TRUE(b->linkAlive());
}

TEST_F(RouterLimits, ConnectionThatNeverNegotiatesIsClosedAfterTheTimeLimit) {
  int s = rawConnect(router.port);
  ASSERT_GE(s, 0);
  EXPECT_TRUE(closedWithin(s, 5000));
  ::close(s);
  EXPECT_NE(router.stderrText().find("not negotiated within 400 ms"), std::string::npos)
      << router.stderrText();
}

TEST_F(RouterLimits, SubscriberThatStopsReadingIsDroppedAtTheCap) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  TestPlugin *slow = plugin();
  ASSERT_TRUE(slow);
  RT_Reply rs = request(slow, "Alpha", 2);
  EchoClient *slowClient = openEcho(slow, rs);
  ASSERT_NE(slowClient, nullptr);
  EchoServer *toFast = a->serverFor(r.serviceRN, r.localRN);
  EchoServer *toSlow = a->serverFor(rs.serviceRN, rs.localRN);
  ASSERT_TRUE(toFast && toSlow);
  ASSERT_TRUE(pump(5000, [&] { return toFast->isNegotiated() && toSlow->isNegotiated(); }));
  const std::string payload(16384, 'n');
  const std::pair<int, int> slowPair(rs.serviceRN, rs.localRN);
  bool dropped = false;
  int sent = 0;
  // From here on only the provider and the fast subscriber are serviced.
  std::vector<STPTransport *> active = {a->link(), b->link()};
  for (int i = 0; i < 4000 && !dropped; ++i) {
    TStat st;
    ASSERT_TRUE(toFast->send_Notify(i, payload.c_str(), false, nullptr, &st)) << st.message;
    ASSERT_TRUE(toSlow->send_Notify(i, payload.c_str(), false, nullptr, &st)) << st.message;
    ++sent;
    RouterTest_Pump(active, 2000, [&] { return !a->link()->dataInWriteBuffer(); });
    dropped = std::find(a->drops.begin(), a->drops.end(), slowPair) != a->drops.end();
  }
  ASSERT_TRUE(dropped) << "sent " << sent << " notifications";
  // The fast subscriber receives everything, including what comes after.
  for (int i = 0; i < 10; ++i, ++sent) toFast->send_Notify(sent, payload.c_str());
  EXPECT_TRUE(RouterTest_Pump(active, 20000, [&] { return c->notifies == sent; }))
      << c->notifies << " of " << sent;
  EXPECT_EQ(c->lastNotifySeq, sent - 1);
  EXPECT_NE(router.stderrText().find("bytes of output waiting, above the limit of 262144"),
            std::string::npos)
      << router.stderrText();
}
