// The router as a broker, driven over real sockets: registration and RN
// blocks, connection requests, acceptance and replies, forwarding between
// two plugins and within one, the three ways a connection is dropped, value
// queries, location, persistence, the launched start mode and the
// active-services record.
#include <algorithm>
#include <cstdlib>
#include <set>

#include "services/router/router_fixture.h"
#include "services/servicerouter_proxy/activeservices_manager.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_msg.h"

namespace {

bool fileExists(const std::string &path) { return gen_access(path.c_str(), 0) == 0; }

}  // namespace

using RouterBroker = RouterFixture;

TEST_F(RouterBroker, RegistrationGivesOneRNPerNameInOneBlock) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  EXPECT_GE(a->pluginId, 1);
  EXPECT_NE(a->pluginId, b->pluginId);
  std::vector<int> rnA = registerOn(a, {"Alpha", "Beta", ""});
  std::vector<int> rnB = registerOn(b, {"Gamma"});
  ASSERT_EQ(rnA.size(), 3u);
  ASSERT_EQ(rnB.size(), 1u);
  EXPECT_EQ(a->rnBlocks.size(), 1u);
  std::set<int> all(rnA.begin(), rnA.end());
  all.insert(rnB[0]);
  EXPECT_EQ(all.size(), 4u) << "RNs are unique across the router";
  for (int rn : all) {
    EXPECT_NE(rn, 1);
    EXPECT_NE(rn, 2);
  }
  // Nothing asked for logging: no log was given to the router.
  EXPECT_EQ(a->startLogging, 0);
}

TEST_F(RouterBroker, RequestAcceptReplyAndForwardingBetweenTwoPlugins) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  a->serveEcho = true;
  int serviceRN = registerOn(a, {"Alpha"}).at(0);
  RT_Reply r = request(b, "Alpha", 7);
  ASSERT_EQ(a->requests.size(), 1u);
  const RT_Request &q = a->requests[0];
  EXPECT_EQ(q.requester, b->pluginId);
  EXPECT_EQ(q.serviceRN, serviceRN);
  ASSERT_EQ(q.pairs.size(), 2u);
  EXPECT_EQ(*q.pairs[0], "cwd");
  EXPECT_EQ(*q.pairs[1], "/tmp/client-cwd");
  EXPECT_EQ(r.name, "Alpha");
  EXPECT_TRUE(r.found);
  EXPECT_TRUE(r.accepted);
  EXPECT_FALSE(r.shared);
  EXPECT_EQ(r.localRN, q.remoteRN);
  EXPECT_EQ(r.serviceRN, serviceRN);
  EXPECT_EQ(r.pluginId, a->pluginId);
  EXPECT_EQ(r.cookie, 7);

  EchoClient *c = openEcho(b, r);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(pingPong(c, 1, "hello"));
  EXPECT_TRUE(pingPong(c, 2, std::string(300000, 'x'))) << "a packet larger than any buffer";
  EXPECT_TRUE(pingPong(c, 3, ""));
  EXPECT_EQ(a->servers().at(0)->pings, 3);

  // A second client gets its own fresh RN for the same service.
  RT_Reply r2 = request(b, "Alpha", 8);
  EXPECT_TRUE(r2.accepted);
  EXPECT_NE(r2.localRN, r.localRN);
  EXPECT_EQ(r2.serviceRN, serviceRN);
}

TEST_F(RouterBroker, NamesNobodyProvidesAreNotFound) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  registerOn(a, {"Alpha"});
  RT_Reply r = request(b, "Nobody", 11);
  EXPECT_EQ(r.name, "Nobody");
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.cookie, 11);
  // A preferred provider that does not offer the name.
  RT_Reply r2 = request(b, "Alpha", 12, b->pluginId);
  EXPECT_FALSE(r2.found);
  EXPECT_EQ(r2.cookie, 12);
  EXPECT_TRUE(a->requests.empty());
}

TEST_F(RouterBroker, RefusedConnectionIsFoundButNotAccepted) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  registerOn(a, {"Alpha"});
  b->requestService("Alpha", 3);
  ASSERT_TRUE(pump(5000, [&] { return !a->requests.empty(); }));
  a->send_ConnectionAcceptedEvent(a->requests[0].serviceRN, a->requests[0].remoteRN, false);
  ASSERT_TRUE(pump(5000, [&] { return !b->replies.empty(); }));
  EXPECT_TRUE(b->replies[0].found);
  EXPECT_FALSE(b->replies[0].accepted);
  EXPECT_EQ(b->replies[0].pluginId, a->pluginId);
}

TEST_F(RouterBroker, ConnectionToItsOwnServiceWorksTheSameWay) {
  TestPlugin *a = plugin();
  ASSERT_TRUE(a);
  a->serveEcho = true;
  int serviceRN = registerOn(a, {"Alpha"}).at(0);
  RT_Reply r = request(a, "Alpha", 5);
  ASSERT_EQ(a->requests.size(), 1u);
  EXPECT_EQ(a->requests[0].requester, a->pluginId);
  EXPECT_TRUE(r.accepted);
  EXPECT_EQ(r.pluginId, a->pluginId);
  EXPECT_EQ(r.serviceRN, serviceRN);
  EchoClient *c = openEcho(a, r);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(pingPong(c, 9, "to myself"));
}

// Drops of connectPair's connection.
class RouterDrops : public RouterFixture {
 protected:
  bool providerSawDrop() {
    return pump(5000, [&] {
      return std::count(a->drops.begin(), a->drops.end(),
                        std::make_pair(r.serviceRN, r.localRN)) == 1;
    });
  }
};

TEST_F(RouterDrops, ClientDropIsReportedToTheProvider) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  b->send_DropServiceConnection(r.localRN, r.serviceRN);
  EXPECT_TRUE(providerSawDrop());
  EXPECT_TRUE(b->drops.empty());
}

namespace {

// Sends a bodyless RouterEcho Notify (number 0 of the client's table) from
// the provider to the client end of the connection, bypassing endpoints.
void sendRawNotify(TestPlugin *from, int sourceRN, int destRN) {
  STPBinaryOMsg *msg =
      from->link()->createBinaryMessage(sourceRN, destRN, STP_TYPE_BINARY, 0, STP_FLAG_ASYNC);
  from->link()->enqueueMessage(msg);
  delete msg;
}

}  // namespace

TEST_F(RouterDrops, PacketsForAReleasedRNAreNoLongerForwarded) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  sendRawNotify(a, r.serviceRN, r.localRN);
  ASSERT_TRUE(pump(5000, [&] { return c->notifies == 1; }));
  b->send_DropServiceConnection(r.localRN, r.serviceRN);
  b->send_ReleaseRN(r.localRN);
  ASSERT_TRUE(providerSawDrop());
  sendRawNotify(a, r.serviceRN, r.localRN);
  // The router handles a plugin's packets in order: once the location
  // answer is back, the notification was dealt with.
  a->send_RequestLocation();
  ASSERT_TRUE(pump(5000, [&] { return a->locationPort > 0; }));
  pump(200, [] { return false; });
  EXPECT_EQ(c->notifies, 1);
}

TEST_F(RouterDrops, ProviderDropIsReportedToTheClientWithItsOwnPair) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  a->send_DropServiceConnection(r.serviceRN, r.localRN);
  ASSERT_TRUE(pump(5000, [&] { return !b->drops.empty(); }));
  EXPECT_EQ(b->drops[0], std::make_pair(r.localRN, r.serviceRN));
  EXPECT_TRUE(a->drops.empty());
  // A drop naming a pair that no longer exists changes nothing.
  a->send_DropServiceConnection(r.serviceRN, r.localRN);
  pump(300, [] { return false; });
  EXPECT_EQ(b->drops.size(), 1u);
}

TEST_F(RouterDrops, PluginThatDiesIsDroppedFromEveryConnection) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  RT_Reply r2 = request(b, "Alpha", 2);
  ASSERT_TRUE(r2.accepted);
  b->closeLink();
  ASSERT_TRUE(pump(5000, [&] { return a->drops.size() == 2; }));
  EXPECT_NE(std::find(a->drops.begin(), a->drops.end(), std::make_pair(r.serviceRN, r.localRN)),
            a->drops.end());
  EXPECT_NE(std::find(a->drops.begin(), a->drops.end(), std::make_pair(r2.serviceRN, r2.localRN)),
            a->drops.end());
}

TEST_F(RouterDrops, DisconnectRequestDropsAndThenClosesTheLink) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  b->send_RequestServiceRouterDisconnect();
  EXPECT_TRUE(providerSawDrop());
  EXPECT_TRUE(pump(5000, [&] { return !b->linkAlive(); })) << "the router closes the link";
  EXPECT_TRUE(a->linkAlive());
}

TEST_F(RouterDrops, ReleasingTheClientRNEndsItsConnection) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  b->send_ReleaseRN(r.localRN);
  EXPECT_TRUE(providerSawDrop());
  // Another plugin's RN cannot be released by someone else.
  RT_Reply r2 = request(b, "Alpha", 2);
  a->send_ReleaseRN(r2.localRN);
  pump(300, [] { return false; });
  EXPECT_EQ(a->drops.size(), 1u);
}

TEST_F(RouterBroker, ValueQueriesAreForwardedToTheNamedPlugin) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  a->values.emplace_back("cwd", "/a/dir");
  b->send_RequestValueOfNameOnPlugin(a->pluginId, "cwd");
  b->send_RequestValueOfNameOnPlugin(a->pluginId, "unknown");
  b->send_RequestValueOfNameOnPlugin(999, "cwd");
  ASSERT_TRUE(pump(5000, [&] { return b->valueEvents.size() == 3; }));
  std::sort(b->valueEvents.begin(), b->valueEvents.end(),
            [](const RT_Value &x, const RT_Value &y) {
              return x.pluginId != y.pluginId ? x.pluginId < y.pluginId : x.name < y.name;
            });
  EXPECT_EQ(b->valueEvents[0].pluginId, a->pluginId);
  EXPECT_EQ(b->valueEvents[0].name, "cwd");
  EXPECT_EQ(b->valueEvents[0].value, std::optional<std::string>("/a/dir"));
  EXPECT_EQ(b->valueEvents[1].name, "unknown");
  EXPECT_FALSE(b->valueEvents[1].value.has_value());
  EXPECT_EQ(b->valueEvents[2].pluginId, 999);
  EXPECT_FALSE(b->valueEvents[2].value.has_value());
}

TEST_F(RouterBroker, QuestionToAPluginThatGoesAwayIsAnsweredEmpty) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  b->send_RequestValueOfNameOnPlugin(a->pluginId, "cwd");
  // a never reads the question; it dies instead.
  RouterTest_Pump({b->link()}, 200, [] { return false; });
  a->closeLink();
  ASSERT_TRUE(RouterTest_Pump({b->link()}, 5000, [&] { return !b->valueEvents.empty(); }));
  EXPECT_FALSE(b->valueEvents[0].value.has_value());
}

TEST_F(RouterBroker, LocationAndPersistentServiceCount) {
  TestPlugin *a = plugin();
  TestPlugin *b = plugin();
  ASSERT_TRUE(a && b);
  registerOn(a, {"P1", "P2"});
  b->send_PersistentService(false);
  registerOn(b, {"Q1"});
  b->send_RequestLocation();
  ASSERT_TRUE(pump(5000, [&] { return b->locationPort != -1; }));
  EXPECT_EQ(b->locationHost, "127.0.0.1");
  EXPECT_EQ(b->locationPort, router.port);
  int persistent = -1;
  int total = -1;
  ASSERT_TRUE(b->send_NumPersistentServices(&persistent, &total));
  EXPECT_EQ(persistent, 2);
  EXPECT_EQ(total, 3);
}

TEST_F(RouterBroker, StopSignalClosesEveryLink) {
  TestPlugin *a = plugin();
  ASSERT_TRUE(a);
  int status = 0;
  ASSERT_TRUE(router.stop(SIGHUP, 10000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(pump(5000, [&] { return !a->linkAlive(); }));
}

TEST(RouterStart, HelpAndUsageErrors) {
  RouterProcess help;
  ASSERT_TRUE(help.spawn({"--help"}));
  int status = 0;
  ASSERT_TRUE(help.waitExit(5000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  RouterProcess bad;
  ASSERT_TRUE(bad.spawn({"-idle_exit"}));
  ASSERT_TRUE(bad.waitExit(5000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
  EXPECT_NE(bad.stderrText().find("svc_router: error: option -idle_exit needs a value"),
            std::string::npos)
      << bad.stderrText();
}

// Launched by a client: the router connects back to the client's port
// first, and then serves later plugins on its own port.
TEST(RouterStart, LaunchedModeConnectsBackAndListens) {
  TStat st;
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, &st);
  ASSERT_GE(lfd, 0);
  RouterProcess router;
  ASSERT_TRUE(router.spawn({"-connect_servicerouter", std::to_string(port), "-not_shared",
                            "-idle_exit", "300"}));
  STPTransport *t = new STPTransport(32768);
  ASSERT_TRUE(t->listenOnFD(lfd, true, nullptr, &st)) << st.message;
  TestPlugin *first = TestPlugin::adopt(t);
  ASSERT_NE(first, nullptr);
  first->serveEcho = true;
  first->registerNames({"Alpha"});
  first->send_RequestLocation();
  ASSERT_TRUE(RouterTest_Pump({first->link()}, 5000, [&] { return first->locationPort > 0; }));
  TestPlugin *second = TestPlugin::connect(first->locationPort);
  ASSERT_NE(second, nullptr);
  second->requestService("Alpha", 4);
  ASSERT_TRUE(RouterTest_Pump({first->link(), second->link()}, 5000,
                              [&] { return !second->replies.empty(); }));
  EXPECT_TRUE(second->replies[0].accepted);
  EXPECT_EQ(second->replies[0].pluginId, first->pluginId);
  // Both leave: the router is idle and ends by itself.
  second->destroy();
  first->destroy();
  int status = 0;
  ASSERT_TRUE(router.waitExit(10000, &status)) << router.stderrText();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(RouterStart, RecordIsWrittenRefusedToASecondRouterAndRemovedAtTheEnd) {
  std::string zone = RouterTest_Unique("zone");
  RouterProcess router;
  ASSERT_TRUE(router.start({"-sr_zone", zone, "-idle_exit", "0"})) << router.stderrText();
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port(zone.c_str(), nullptr, nullptr),
            router.port);
  char *file = ActiveServices_Manager::getActiveServiceRouterFilename(zone.c_str());
  std::string path = file;
  gen_free(file);
  EXPECT_NE(router.banner.find(path), std::string::npos) << router.banner;

  RouterProcess second;
  ASSERT_TRUE(second.spawn({"-sr_zone", zone}));
  int status = 0;
  ASSERT_TRUE(second.waitExit(30000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_NE(second.stderrText().find("another service router is running"), std::string::npos)
      << second.stderrText();
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port(zone.c_str(), nullptr, nullptr),
            router.port);

  ASSERT_TRUE(router.stop(SIGTERM, 10000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fileExists(path));
}

TEST(RouterStart, IdleExitWaitsForOutsideClientsAndRemovesTheRecord) {
  std::string zone = RouterTest_Unique("zone");
  RouterProcess router;
  ASSERT_TRUE(router.start({"-sr_zone", zone, "-idle_exit", "400"})) << router.stderrText();
  TestPlugin *p = TestPlugin::connect(router.port);
  ASSERT_NE(p, nullptr);
  // Connected, so not idle: still there after more than the idle time.
  RouterTest_Pump({p->link()}, 1200, [] { return false; });
  EXPECT_TRUE(p->linkAlive());
  int status = 0;
  EXPECT_FALSE(router.waitExit(0, &status));
  p->destroy();
  ASSERT_TRUE(router.waitExit(10000, &status)) << router.stderrText();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ActiveServices_Manager::getActiveServiceRouter_Port(zone.c_str(), nullptr, nullptr), 0);
  char *file = ActiveServices_Manager::getActiveServiceRouterFilename(zone.c_str());
  EXPECT_FALSE(fileExists(file));
  gen_free(file);
}
