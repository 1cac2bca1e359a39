// The router as a broker, driven over real sockets: registration and RN
// blocks, connection requests and replies, forwarding between two plugins
// and within one, the ways a connection is dropped, value queries,
// location and persistence, usage errors, and the active-services record
// with idle exit.
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <tuple>

#include "services/router/router_fixture.h"
#include "services/servicerouter_proxy/activeservices_manager.h"
#include "shared/gen_holder.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_msg.h"

using RouterBroker = RouterFixture;

// Names of a plugin that is not persistent do not count as persistent.
TEST_F(RouterBroker, RegistrationGivesUniqueRNsOnePerNameInOneBlock) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->pluginId, b->pluginId);
  std::vector<int> rnA = registerOn(a, {"Alpha", "Beta", ""});
  b->send_PersistentService(false);
  std::vector<int> rnB = registerOn(b, {"Gamma"});
  ASSERT_EQ(rnA.size(), 3u);
  ASSERT_EQ(rnB.size(), 1u);
  EXPECT_EQ(a->rnBlocks.size(), 1u);
  std::set<int> all{rnA[0], rnA[1], rnA[2], rnB[0]};
  EXPECT_EQ(all.size(), 4u);
  EXPECT_EQ(all.count(1) + all.count(2), 0u) << "RNs 1 and 2 name the link ends";
  EXPECT_EQ(a->startLogging, 0) << "no log was given to the router";
  int persistent = -1, total = -1;
  ASSERT_TRUE(b->send_NumPersistentServices(&persistent, &total));
  EXPECT_EQ(persistent, 2);  // the empty name got an RN but names no service
  EXPECT_EQ(total, 3);
}

// A provider that is another plugin, or the requester itself: the request
// carries the pairs, the reply names both ends, packets of any size pass.
TEST_F(RouterBroker, RequestAcceptReplyAndForwarding) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  a->serveEcho = true;
  int serviceRN = registerOn(a, {"Alpha"}).at(0);
  for (TestPlugin *client : {b, a}) {
    SCOPED_TRACE(client == a ? "to itself" : "between two plugins");
    a->requests.clear();
    RT_Reply r = request(client, "Alpha", 7);
    ASSERT_EQ(a->requests.size(), 1u);
    const RT_Request &q = a->requests[0];
    EXPECT_EQ(q.requester, client->pluginId);
    EXPECT_EQ(q.serviceRN, serviceRN);
    EXPECT_EQ(q.pairs, (std::vector<std::optional<std::string>>{"cwd", "/tmp/client-cwd"}));
    EXPECT_EQ(r.name, "Alpha");
    EXPECT_TRUE(r.found && r.accepted && !r.shared);
    EXPECT_EQ(std::make_tuple(r.localRN, r.serviceRN, r.pluginId, r.cookie),
              std::make_tuple(q.remoteRN, serviceRN, a->pluginId, 7));
    EchoClient *c = openEcho(client, r);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(pingPong(c, 1, "hello"));
    EXPECT_TRUE(pingPong(c, 2, std::string(300000, 'x'))) << "a packet larger than any buffer";
    EXPECT_TRUE(pingPong(c, 3, ""));
  }
  // Each client got its own RN for the same service.
  EXPECT_NE(a->servers().at(0)->getRemoteRN(), a->servers().at(1)->getRemoteRN());
}

TEST_F(RouterBroker, NamesNobodyProvidesAreNotFound) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  registerOn(a, {"Alpha"});
  RT_Reply r = request(b, "Nobody", 11);
  EXPECT_EQ(std::make_tuple(r.name, r.found, r.cookie), std::make_tuple("Nobody", false, 11));
  // A preferred provider that does not offer the name.
  r = request(b, "Alpha", 12, b->pluginId);
  EXPECT_EQ(std::make_tuple(r.name, r.found, r.cookie), std::make_tuple("Alpha", false, 12));
  EXPECT_TRUE(a->requests.empty());
}

namespace {

// Sends a bodyless RouterEcho Notify (number 0 of the client's table) from
// the provider to the client end of the connection, bypassing endpoints.
void sendRawNotify(TestPlugin *from, int sourceRN, int destRN) {
  std::unique_ptr<STPBinaryOMsg> msg(
      from->link()->createBinaryMessage(sourceRN, destRN, STP_TYPE_BINARY, 0, STP_FLAG_ASYNC));
  from->link()->enqueueMessage(msg.get());
}

}  // namespace

// Every way a connection ends tells the other side, with its own pair; the
// side that ended it hears nothing.
TEST_F(RouterBroker, DroppedConnectionIsReportedToTheOtherSide) {
  struct Case {
    const char *what;
    bool byClient;
    std::function<void()> drop;
  } cases[] = {
      {"client drops", true, [this] { b->send_DropServiceConnection(r.localRN, r.serviceRN); }},
      {"client releases its RN", true, [this] { b->send_ReleaseRN(r.localRN); }},
      {"client asks to disconnect", true, [this] { b->send_RequestServiceRouterDisconnect(); }},
      {"client dies", true, [this] { b->closeLink(); }},
      {"provider drops", false, [this] { a->send_DropServiceConnection(r.serviceRN, r.localRN); }},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    ASSERT_NO_FATAL_FAILURE(connectPair(k.what));
    k.drop();
    TestPlugin *told = k.byClient ? a : b;
    TestPlugin *other = k.byClient ? b : a;
    auto pair = k.byClient ? std::make_pair(r.serviceRN, r.localRN)
                           : std::make_pair(r.localRN, r.serviceRN);
    EXPECT_TRUE(pump(5000, [&] { return told->drops.size() == 1; }));
    EXPECT_EQ(told->drops, (std::vector<std::pair<int, int>>{pair}));
    EXPECT_TRUE(other->drops.empty());
    if (k.what == std::string("client asks to disconnect")) {
      EXPECT_TRUE(pump(5000, [&] { return !b->linkAlive(); })) << "the router closes the link";
    }
    EXPECT_TRUE(a->linkAlive());
  }
}

// After a drop, stale requests change nothing: a repeated drop, another
// plugin releasing the client's RN, packets for the released RN.
TEST_F(RouterBroker, StaleDropsReleasesAndPacketsAreIgnored) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  sendRawNotify(a, r.serviceRN, r.localRN);
  ASSERT_TRUE(pump(5000, [&] { return c->notifies == 1; }));
  RT_Reply r2 = request(b, "Alpha", 2);
  ASSERT_TRUE(r2.accepted);
  a->send_ReleaseRN(r2.localRN);  // not a's RN
  b->send_ReleaseRN(r.localRN);
  ASSERT_TRUE(pump(5000, [&] { return a->drops.size() == 1; }));
  b->send_DropServiceConnection(r.localRN, r.serviceRN);
  sendRawNotify(a, r.serviceRN, r.localRN);
  // The router handles a plugin's packets in order: once the location
  // answer is back, everything before it was dealt with.
  a->send_RequestLocation();
  b->send_RequestLocation();
  ASSERT_TRUE(pump(5000, [&] { return a->locationPort > 0 && b->locationPort > 0; }));
  EXPECT_EQ(b->locationHost, "127.0.0.1");
  EXPECT_EQ(b->locationPort, router.port);
  pump(200, [] { return false; });
  EXPECT_EQ(c->notifies, 1);
  EXPECT_EQ(a->drops.size(), 1u);
}

TEST_F(RouterBroker, ValueQueriesAreForwardedAndAnsweredEmptyWhenNobodyCan) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  TestPlugin *mute = plugin();
  ASSERT_TRUE(a && b && mute);
  a->values.emplace_back("cwd", "/a/dir");
  b->send_RequestValueOfNameOnPlugin(a->pluginId, "cwd");
  b->send_RequestValueOfNameOnPlugin(a->pluginId, "unknown");
  b->send_RequestValueOfNameOnPlugin(999, "cwd");
  // `mute` never reads the question; it dies instead.
  b->send_RequestValueOfNameOnPlugin(mute->pluginId, "cwd");
  RouterTest_Pump({a->link(), b->link()}, 200, [] { return false; });
  mute->closeLink();
  ASSERT_TRUE(pump(5000, [&] { return b->valueEvents.size() == 4; }));
  std::map<std::pair<int, std::string>, std::optional<std::string>> got;
  for (const RT_Value &v : b->valueEvents) got[{v.pluginId, v.name}] = v.value;
  using Got = decltype(got);
  EXPECT_EQ(got, (Got{{{a->pluginId, "cwd"}, "/a/dir"},
                      {{a->pluginId, "unknown"}, std::nullopt},
                      {{999, "cwd"}, std::nullopt},
                      {{mute->pluginId, "cwd"}, std::nullopt}}));
}

TEST(RouterStart, HelpAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char *error;
  } cases[] = {
      {{"--help"}, 0, ""},
      {{"-idle_exit"}, 2, "svc_router: error: option -idle_exit needs a value"},
      {{"-not_shared", "-services", "/no/such/services.cfg"}, 1, "cannot read services file"},
  };
  for (const Case &k : cases) {
    RouterProcess p;
    ASSERT_TRUE(p.spawn(k.args));
    int status = 0;
    ASSERT_TRUE(p.waitExit(5000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == k.status) << k.args[0];
    EXPECT_NE(p.stderrText().find(k.error), std::string::npos) << p.stderrText();
  }
}

// The record names the router's port; a second router for the zone is
// refused; an outside client keeps it past the idle time; when the last one
// leaves it ends and removes the record.
TEST(RouterStart, RecordSecondRouterAndIdleExit) {
  std::string zone = RouterTest_Unique("zone");
  RouterProcess router;
  ASSERT_TRUE(router.start({"-sr_zone", zone, "-idle_exit", "400"})) << router.stderrText();
  auto recordedPort = [&] {
    return ActiveServices_Manager::getActiveServiceRouter_Port(zone.c_str(), nullptr, nullptr);
  };
  EXPECT_EQ(recordedPort(), router.port);
  std::string path = GenString(ActiveServices_Manager::getActiveServiceRouterFilename(zone.c_str())).get();
  EXPECT_NE(router.banner.find(path), std::string::npos) << router.banner;
  TestPlugin *p = TestPlugin::connect(router.port);
  ASSERT_NE(p, nullptr);

  RouterProcess second;
  ASSERT_TRUE(second.spawn({"-sr_zone", zone}));
  int status = 0;
  ASSERT_TRUE(second.waitExit(30000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_NE(second.stderrText().find("another service router is running"), std::string::npos)
      << second.stderrText();
  EXPECT_EQ(recordedPort(), router.port);

  RouterTest_Pump({p->link()}, 1200, [] { return false; });
  EXPECT_TRUE(p->linkAlive());
  EXPECT_FALSE(router.waitExit(0, &status));
  p->destroy();
  ASSERT_TRUE(router.waitExit(10000, &status)) << router.stderrText();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(recordedPort(), 0);
  EXPECT_NE(gen_access(path.c_str(), 0), 0);
}
