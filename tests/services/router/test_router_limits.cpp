// One plugin must not hurt the others: a link that sends garbage, breaks
// the protocol, never negotiates or stops in the middle of a packet, and a
// subscriber that stops reading are disconnected while the other plugins
// keep working; a launch that never connects is answered in time. Forged, stray and oversized packets are dropped with the
// sender kept; a flood slows its sender and reaches every listener that
// reads.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "routerecho_parsing.h"
#include "services/router/router_fixture.h"
#include "services/router/router_rn_table.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_msg.h"

namespace {

// Whether the peer closed the socket within `ms` (reading and discarding
// whatever arrives first).
bool closedWithin(int s, int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    pollfd p{s, POLLIN, 0};
    char buf[4096];
    if (::poll(&p, 1, 50) > 0 && ::read(s, buf, sizeof buf) <= 0) return true;
  }
  return false;
}

}  // namespace

// Tight limits; connectPair's working echo connection shows that the
// others keep working.
class RouterLimits : public RouterFixture {
 protected:
  void SetUp() override {
    routerArgs.insert(routerArgs.end(),
                      {"-negotiate_timeout", "400", "-max_pending_bytes", "262144",
                       "-stall_timeout", "1500", "-partial_timeout", "800",
                       "-max_packet_bytes", "65536", "-activation_timeout", "600",
                       "-child_wait", "100"});
    routerArgs.insert(routerArgs.end(), extraArgs.begin(), extraArgs.end());
    RouterFixture::SetUp();
  }
  std::vector<std::string> extraArgs;  // a derived fixture's, last

  // Whether the router's log holds `text` within 2 s: the router writes it
  // while handling the bad link, which another link's answer may overtake.
  bool routerLogs(const char *text) {
    return e2eEventually(2000, [&] { return router.stderrText().find(text) != std::string::npos; });
  }
};

// Each misbehaving link is closed with a line in the router's log while
// the working connection goes on.
TEST_F(RouterLimits, MisbehavingLinkIsClosedWhileOthersKeepWorking) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  auto raw = [&](size_t junkBytes) {
    int s = e2eConnectLoopback(router.port);
    std::vector<unsigned char> junk(junkBytes);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<unsigned char>(0xA5 ^ i);
    bool closed = s >= 0 && ::write(s, junk.data(), junk.size()) == ssize_t(junk.size()) &&
                  closedWithin(s, 5000);
    if (s >= 0) ::close(s);
    return closed;
  };
  auto plugged = [&](const std::function<void(TestPlugin *)> &misbehave) {
    TestPlugin *x = plugin();
    if (!x) return false;
    misbehave(x);
    return pump(5000, [&] { return !x->linkAlive(); });
  };
  struct Case {
    const char *what;
    std::function<bool()> closed;
    const char *logged;
  } cases[] = {
      {"garbage", [&] { return raw(256); }, "invalid packet"},
      {"never negotiates", [&] { return raw(0); }, "not negotiated within 400 ms"},
      {"unknown message number",
       [&] {
         return plugged([](TestPlugin *x) {
           std::unique_ptr<STPBinaryOMsg> m(
               x->link()->createBinaryMessage(2, 1, STP_TYPE_BINARY, 999, STP_FLAG_ASYNC));
           x->link()->enqueueMessage(m.get());
         });
       },
       "unknown message number"},
      {"stops in the middle of a packet",
       [&] {
         return plugged([](TestPlugin *x) {
           // The first 100 bytes of a packet that announces 1000 (header
           // 44, body 956: little-endian words).
           unsigned char part[100] = {44, 0, 0, 0, 0xBC, 0x03, 0, 0};
           EXPECT_EQ(::write(x->link()->getFD(), part, sizeof part), ssize_t(sizeof part));
         });
       },
       "nothing received for 800 ms in the middle of a packet"},
  };
  int seq = 0;
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_TRUE(k.closed());
    EXPECT_TRUE(pingPong(c, ++seq, "unharmed"));
    EXPECT_TRUE(routerLogs(k.logged)) << router.stderrText();
  }
}

// A launched program that never connects is answered when the activation
// time runs out, though nothing else happens meanwhile (the program's own
// exit comes later than the wait here).
TEST_F(RouterLimits, LaunchThatNeverConnectsIsAnsweredAtItsTimeLimit) {
  TestPlugin *b = plugin();
  ASSERT_TRUE(b);
  // A script ignores the arguments the router gives every program.
  std::string script = e2eTempPath("sleeper") + ".sh";
  ASSERT_TRUE(RouterTest_WriteFile(script, "#!/bin/sh\nsleep 4\n"));
  ASSERT_EQ(::chmod(script.c_str(), 0700), 0);
  char *words[] = {script.data()};
  ServiceRouter_STRING_ARRAY argv{1, words};
  b->send_RequestPluginLaunch(argv, 7, false, nullptr);
  ASSERT_TRUE(pump(3000, [&] { return !b->connected.empty(); })) << router.stderrText();
  EXPECT_EQ(std::make_tuple(b->connected[0].cookie, b->connected[0].pluginId, b->connected[0].errors),
            std::make_tuple(7, -1, "Timed out waiting for the plugin."));
}

namespace {

// A RouterEcho Ping as a client sends it, here from any RN to any RN.
void sendPing(STPTransport *t, int fromRN, int toRN, int seq, const std::string &text) {
  std::unique_ptr<STPBinaryOMsg> m(t->createBinaryMessage(fromRN, toRN, STP_TYPE_BINARY, 0, STP_FLAG_ASYNC));
  m->put4(RouterEcho_TAG_seq, seq);
  m->putS(RouterEcho_TAG_text, text.c_str());
  t->enqueueMessage(m.get());
}

}  // namespace

// Only packets from the sender's own RNs to an RN that has an owner and
// that fit the packet limit reach the service; the sender stays connected
// either way.
TEST_F(RouterLimits, ForgedAndOversizedPacketsAreDroppedWithTheSenderKept) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  TestPlugin *x = plugin();
  ASSERT_TRUE(x);
  EchoServer *server = a->serverFor(r.serviceRN, r.localRN);
  ASSERT_NE(server, nullptr);
  struct Case {
    const char *what;
    TestPlugin *sender;
    int fromRN;
    int toRN;  // 0: the service
    int size;
    bool delivered;
    const char *logged;
  } cases[] = {
      {"own RN", b, r.localRN, 0, 100, true, nullptr},
      {"another plugin's RN", x, r.localRN, 0, 100, false, "which it does not own"},
      {"the link RN", b, kPluginLinkRN, 0, 100, false, "which it does not own"},
      {"oversized", b, r.localRN, 0, 100000, false, "larger than 65536 bytes: skipped"},
      {"to the plugin end of a link", b, r.localRN, kPluginLinkRN, 100, false, nullptr},
      {"to an RN nobody owns", b, r.localRN, 999999, 100, false, nullptr},
  };
  int seq = 100;
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    int before = server->pings;
    sendPing(k.sender->link(), k.fromRN, k.toRN ? k.toRN : r.serviceRN, ++seq,
             std::string(k.size, 'f'));
    // A ping of the real client after it: once its pong is back, the test
    // packet was either delivered or dropped.
    EXPECT_TRUE(pingPong(c, ++seq, "after"));
    EXPECT_EQ(server->pings - before, k.delivered ? 2 : 1);
    EXPECT_TRUE(k.sender->linkAlive());
    if (k.logged) {
      EXPECT_TRUE(routerLogs(k.logged)) << router.stderrText();
    }
  }
}

// The provider `a` with a second subscriber beside `c`: its plugin, its
// echo client, and the provider's server ends for both subscribers.
class RouterFlow : public RouterLimits {
 protected:
  void SetUp() override {
    routerArgs.insert(routerArgs.end(), {"-sr_log_internal", internalLog});
    RouterLimits::SetUp();
    ASSERT_NO_FATAL_FAILURE(connectPair());
    other = plugin();
    ASSERT_TRUE(other);
    ro = request(other, "Alpha", 2);
    otherClient = openEcho(other, ro);
    ASSERT_NE(otherClient, nullptr);
    toC = a->serverFor(r.serviceRN, r.localRN);
    toOther = a->serverFor(ro.serviceRN, ro.localRN);
    ASSERT_TRUE(toC && toOther);
    ASSERT_TRUE(pump(5000, [&] { return toC->isNegotiated() && toOther->isNegotiated(); }));
  }
  // Queues `count` notifications of `size` bytes to both subscribers.
  void broadcast(int first, int count, int size) {
    const std::string payload(static_cast<size_t>(size), 'n');
    TStat st;
    for (int i = first; i < first + count; ++i)
      for (EchoServer *to : {toC, toOther})
        ASSERT_TRUE(to->send_Notify(i, payload.c_str(), false, nullptr, &st)) << st.message;
  }
  void TearDown() override {
    RouterLimits::TearDown();
    std::remove(internalLog.c_str());
  }
  // Whether the router's own log has a line containing `text`.
  bool logged(const std::string &text) const {
    return e2eReadFile(internalLog).find(text) != std::string::npos;
  }
  const std::string internalLog = "/tmp/" + RouterTest_Unique("router_flow") + ".log";
  TestPlugin *other = nullptr;
  RT_Reply ro{};
  EchoClient *otherClient = nullptr;
  EchoServer *toC = nullptr;
  EchoServer *toOther = nullptr;
};

// Listeners that read slowly make the router's queues pass a limit many
// times over: the one to each listener, or all of them together. The
// provider is slowed down, never cut, and both listeners get everything in
// order.
struct FloodCase {
  const char *name;
  std::vector<std::string> args;  // after the fixture's own
  const char *logged;             // in the router's log: the limit was reached
};

class RouterFlood : public RouterFlow, public ::testing::WithParamInterface<FloodCase> {
 protected:
  void SetUp() override {
    extraArgs = GetParam().args;
    RouterFlow::SetUp();
  }
};

TEST_P(RouterFlood, SlowListenersKeepTheProviderAndGetEverything) {
  const int count = 300;
  ASSERT_NO_FATAL_FAILURE(broadcast(0, count, 32768));
  // The listeners take nothing at first (for less than the stall time):
  // the limit is reached, so the flood is held back, not absorbed.
  EXPECT_TRUE(RouterTest_Pump({a->link()}, 1000, [&] { return logged(GetParam().logged); }));
  long long end = ut_getTimeMillis64() + 30000;
  while ((c->notifies < count || otherClient->notifies < count) && ut_getTimeMillis64() < end) {
    RouterTest_Pump({a->link()}, 20, [] { return false; });
    for (int i = 0; i < 4; ++i) {
      b->link()->serviceOnce(0, nullptr);
      other->link()->serviceOnce(0, nullptr);
    }
  }
  for (EchoClient *listener : {c, otherClient}) {
    EXPECT_EQ(listener->notifies, count);
    EXPECT_EQ(listener->lastNotifySeq, count - 1);
  }
  EXPECT_TRUE(a->linkAlive() && b->linkAlive() && other->linkAlive());
  EXPECT_TRUE(a->drops.empty());
  EXPECT_TRUE(pingPong(c, 1, "after the flood"));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, RouterFlood,
    ::testing::Values(FloodCase{"PerListener", {}, "its senders wait"},
                      FloodCase{"AllQueues",
                                {"-max_pending_bytes", "64M", "-max_total_bytes", "393216"},
                                "reading paused"}),
    [](const ::testing::TestParamInfo<FloodCase> &info) { return std::string(info.param.name); });

// A subscriber that stops reading holds the provider back only for the
// stall time; then it alone is cut and the other one gets everything.
TEST_F(RouterFlow, StalledListenerIsCutAlone) {
  const int count = 200;
  ASSERT_NO_FATAL_FAILURE(broadcast(0, count, 32768));
  const std::pair<int, int> stalledPair(ro.serviceRN, ro.localRN);
  std::vector<STPTransport *> active = {a->link(), b->link()};
  EXPECT_TRUE(RouterTest_Pump(active, 20000, [&] {
    return std::find(a->drops.begin(), a->drops.end(), stalledPair) != a->drops.end();
  }));
  EXPECT_TRUE(RouterTest_Pump(active, 20000, [&] { return c->notifies == count; }))
      << c->notifies << " of " << count;
  EXPECT_EQ(c->lastNotifySeq, count - 1);
  EXPECT_TRUE(a->linkAlive());
  EXPECT_TRUE(pingPong(c, 1, "after the stall"));
  EXPECT_TRUE(routerLogs("nothing taken for 1500 ms")) << router.stderrText();
  EXPECT_EQ(router.stderrText().find("plugin " + std::to_string(a->pluginId) + " disconnected"),
            std::string::npos)
      << router.stderrText();
}
