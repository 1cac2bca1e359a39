// The router client against the real router (a svc_router process) and
// test plugins of the router testkit: registration and incoming
// connections served, refused and dropped (by the client, from inside a
// call and outside it), connection-died listeners changed while being
// told, outgoing connections (to another plugin and to this process),
// value questions both ways, and the router going away.
#include <signal.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scripted_router.h"
#include "services/router/router_testkit.h"
#include "services/servicerouter_proxy/service_factory.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"
#include "shared/stp_transport/stp_msg.h"
#include "stp_pump.h"

namespace {

int gServicesDestroyed = 0;

// An echo service made by the proxy's factory; onPing runs inside the call.
class EchoService : public EchoServer {
 public:
  ~EchoService() override { ++gServicesDestroyed; }
  std::function<void(EchoService *)> onPing;
  void msg_Ping(int seq, const char *text) override {
    EchoServer::msg_Ping(seq, text);
    if (onPing) onPing(this);
  }
};

class EchoFactory : public ServiceFactory {
 public:
  explicit EchoFactory(const char *name) : ServiceFactory(name, -1, true) {}
  // Registered with a running proxy at once.
  EchoFactory(ServiceRouter_Proxy *proxy, const char *name) : ServiceFactory(proxy, name, -1) {}
  bool refuse = false;
  EchoService *last = nullptr;
  STPSpecClass *getService(STPTransport *t, int localRN, int remoteRN) override {
    if (refuse) return nullptr;
    last = new EchoService();
    last->setTransport(t, localRN, remoteRN);
    return last;
  }
};

class Recorder : public ConnectionDiedListener {
 public:
  explicit Recorder(STPSpecClass *c) : ConnectionDiedListener(c) {}
  std::vector<STPSpecClass *> heard;
  std::function<void()> during;
  void connectionDied(STPSpecClass *c) override {
    heard.push_back(c);
    if (during) during();
  }
};

// Serves the proxy through the idle notifier: a pump of the test plugins'
// links runs it each round, so that the proxy's waits can use the pump.
void serveProxy() {
  getIdleNotifier()->notifyIdle(false);
  getIdleNotifier()->notifyTimers();
  getIdleNotifier()->notifySocketActivity(2, true);
}

class SRRealRouterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pump.eachRound = serveProxy;
    ASSERT_TRUE(router.start({"-not_shared", "-idle_exit", "0"})) << router.stderrText();
    ASSERT_TRUE(srtest::startProxy({"prog", "-connect_servicerouter", std::to_string(router.port)}, &pump));
    proxy = servicerouter_proxy;
    ASSERT_TRUE(until([&] { return proxy->getNumFactoriesAwaitingRN() == 0; }));
  }
  void TearDown() override {
    for (EchoClient *c : clients) {
      c->setTransport(nullptr);
      c->delRef();
    }
    ServiceRouter_Proxy::shutdown(false);
    for (TestPlugin *p : plugins) p->destroy();
  }

  bool until(const std::function<bool()> &done) { return pump.until(done); }
  TestPlugin *plugin(bool serveEcho = false) {
    TestPlugin *p = TestPlugin::connect(router.port);
    EXPECT_NE(p, nullptr);
    if (p) plugins.push_back(p), p->serveEcho = serveEcho, pump.add(p->link());
    return p;
  }
  EchoClient *client() { return clients.emplace_back(new EchoClient()); }
  // `from` asks for `name`; returns the reply.
  RT_Reply request(TestPlugin *from, const std::string &name) {
    size_t before = from->replies.size();
    from->requestService(name, 7);
    if (!until([&] { return from->replies.size() > before; })) return RT_Reply{"none", 0, 0, -1, -1, false, false, false};
    return from->replies.back();
  }
  // An echo client of `from` negotiated with the proxy's service `name`.
  EchoClient *open(TestPlugin *from, const std::string &name) {
    RT_Reply r = request(from, name);
    if (!r.accepted) return nullptr;
    EchoClient *c = client();
    c->setTransport(from->link(), r.localRN, r.serviceRN);
    c->sendNegotiate(true, nullptr, nullptr);
    // The service's negotiation may have come before the client was bound.
    from->link()->dequeueAndDeliverMessage(r.serviceRN, r.localRN, STP_TYPE_ENDPOINT);
    int before = proxy->getNumServiceConnections();
    return until([&] { return c->isNegotiated() && proxy->getNumServiceConnections() > before; })
               ? c : nullptr;
  }
  bool ping(EchoClient *c, int seq) {
    size_t before = c->pongs.size();
    return c->send_Ping(seq, "x") && until([&] { return c->pongs.size() > before; });
  }

  RouterProcess router;
  EchoFactory a{"Svc.A"}, b{"Svc.B"};
  ServiceRouter_Proxy *proxy = nullptr;
  std::vector<TestPlugin *> plugins;
  std::vector<EchoClient *> clients;
  testsupport::Pump pump{{}, 5000};
};

TEST_F(SRRealRouterTest, RegisteredServiceIsAcceptedNegotiatedAndServed) {
  TestPlugin *p = plugin();
  EXPECT_NE(proxy->getPluginId(), -1);
  EchoClient *c = open(p, "Svc.A");
  ASSERT_NE(c, nullptr);
  EchoService *s = a.last;
  EXPECT_TRUE(ping(c, 1));
  EXPECT_EQ(s->pings, 1);
  EXPECT_EQ(proxy->getPluginIdForConnection(s), p->pluginId);
  EXPECT_EQ(proxy->getServiceConnectionForPluginId(p->pluginId), s);
  EXPECT_STREQ(proxy->getCachedValue(p->pluginId, "cwd"), "/tmp/client-cwd");
  EXPECT_TRUE(proxy->acceptedAConnection());
  EXPECT_EQ(s->getRefCount(), 1);  // the record holds the only reference
  // Relative names of that plugin resolve against its working directory.
  EXPECT_EQ(take(proxy->resolvePluginRelFilename(p->pluginId, "src/../a.txt", &pump)), "/tmp/client-cwd/a.txt");
  EXPECT_EQ(take(proxy->resolveConRelFilename(s, "b.txt", &pump)), "/tmp/client-cwd/b.txt");
  EXPECT_EQ(take(proxy->resolvePluginRelFilename(-1, "rel/x", &pump)), "rel/x");
  EXPECT_EQ(proxy->resolvePluginRelFilename(p->pluginId, nullptr, &pump), nullptr);
  // A connection the proxy does not know: no plugin, the name as it is.
  EchoService *stranger = new EchoService();
  EXPECT_EQ(proxy->getPluginIdForConnection(stranger), -1);
  EXPECT_EQ(take(proxy->resolveConRelFilename(stranger, "rel/y", &pump)), "rel/y");
  stranger->delRef();
  // Shut-down marks the open connection down.
  s->addRef();
  ServiceRouter_Proxy::shutdown(false);
  EXPECT_TRUE(s->isDown());
  s->delRef();
}

TEST_F(SRRealRouterTest, RefusedUnknownAndUnnegotiatedConnectionsAreNeverCounted) {
  TestPlugin *p = plugin();
  b.refuse = true;
  RT_Reply r = request(p, "Svc.B");
  EXPECT_TRUE(r.found);
  EXPECT_FALSE(r.accepted);
  {
    EchoFactory late(proxy, "Svc.Late");
    ASSERT_TRUE(until([&] { return proxy->getNumFactoriesAwaitingRN() == 0; }));
    ASSERT_NE(open(p, "Svc.Late"), nullptr);
  }
  EXPECT_FALSE(request(p, "Svc.Late").accepted);  // its factory is gone
  // A client dying before it negotiates.
  TestPlugin *q = plugin();
  int destroyed = gServicesDestroyed, open = proxy->getNumServiceConnections();
  ASSERT_TRUE(request(q, "Svc.A").accepted);
  q->closeLink();
  ASSERT_TRUE(until([&] { return gServicesDestroyed == destroyed + 1; }));
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 0);
  EXPECT_EQ(proxy->getNumServiceConnections(), open);
}

TEST_F(SRRealRouterTest, ClientDyingTellsListenersWhichMayChangeTheList) {
  TestPlugin *p = plugin();
  ASSERT_NE(open(p, "Svc.A"), nullptr);
  EchoService *s = a.last;
  Recorder first(nullptr), second(nullptr), added(nullptr), watcher(s);
  // The first removes the second and installs a third: the second is not
  // told, the third only from the next notification on.
  first.during = [&] {
    proxy->removeConnectionDiedListener(&second);
    proxy->installConnectionDiedListener(&added);
  };
  proxy->installConnectionDiedListener(&first);
  proxy->installConnectionDiedListener(&second);
  proxy->notifyConnectionDiedListeners(s);
  EXPECT_EQ(first.heard.size(), 1u);
  EXPECT_TRUE(second.heard.empty() && added.heard.empty());
  first.during = nullptr;

  proxy->installConnectionDiedListener(&watcher);
  int destroyed = gServicesDestroyed;
  p->closeLink();
  ASSERT_TRUE(until([&] { return proxy->getNumServiceConnections() == 0; }));
  EXPECT_EQ(watcher.heard, std::vector<STPSpecClass *>{s});
  EXPECT_EQ(added.heard, std::vector<STPSpecClass *>{s});
  // The watcher of the dead connection left the list; the others stay.
  EXPECT_FALSE(proxy->removeConnectionDiedListener(&watcher));
  EXPECT_TRUE(proxy->removeConnectionDiedListener(&first));
  EXPECT_TRUE(proxy->removeConnectionDiedListener(&added));
  EXPECT_EQ(s->getRefCount(), 1);  // the watcher's
  EXPECT_EQ(gServicesDestroyed, destroyed);
}

TEST_F(SRRealRouterTest, DropFromInsideACallNeedsForceAndReachesTheClient) {
  TestPlugin *p = plugin();
  EchoClient *c = open(p, "Svc.A");
  ASSERT_NE(c, nullptr);
  std::vector<bool> results;
  for (bool force : {false, true}) {
    SCOPED_TRACE(force);
    a.last->onPing = [&, force](EchoService *s) {
      results.push_back(proxy->dropServiceConnection(s, nullptr, force));
    };
    size_t before = results.size();
    c->send_Ping(1, "x");
    ASSERT_TRUE(until([&] { return results.size() > before; }));
    EXPECT_EQ(results.back(), force);
    EXPECT_EQ(proxy->getNumServiceConnections(), force ? 0 : 1);
  }
  EXPECT_TRUE(until([&] { return !p->drops.empty(); }));  // the router passed it on
  // Outside a call the service is released at once.
  ASSERT_NE(open(p, "Svc.A"), nullptr);
  int destroyed = gServicesDestroyed;
  size_t drops = p->drops.size();
  EXPECT_TRUE(proxy->dropServiceConnection(a.last, nullptr, false));
  EXPECT_EQ(gServicesDestroyed, destroyed + 1);
  EXPECT_TRUE(until([&] { return p->drops.size() > drops; }));
}

TEST_F(SRRealRouterTest, OutgoingConnectionsToOtherPluginsAndToThisProcess) {
  TestPlugin *provider = plugin(true);
  provider->registerNames({"Remote.Echo"});
  ASSERT_TRUE(until([&] { return !provider->rnBlocks.empty(); }));
  EchoClient *c = client();
  bool found = false, accepted = false;
  ASSERT_TRUE(proxy->getServiceConnection("Remote.Echo", c, &found, &accepted, &pump, "/w", false,
                                          false, false));
  EXPECT_TRUE(found && accepted && proxy->isClientServiceConnection(c));
  EXPECT_EQ(proxy->getPluginIdForConnection(c), provider->pluginId);
  EXPECT_TRUE(ping(c, 3));
  // Dropped by the provider: the client goes down.
  provider->closeLink();
  EXPECT_TRUE(until([&] { return c->isDown(); }));
  EXPECT_FALSE(proxy->isClientServiceConnection(c));

  // Asked of one provider by its plugin id.
  TestPlugin *second = plugin(true);
  second->registerNames({"Remote.Echo"});
  ASSERT_TRUE(until([&] { return !second->rnBlocks.empty(); }));
  EchoClient *viaId = client();
  EXPECT_TRUE(proxy->getServiceConnectionFromPlugin("Remote.Echo", viaId, second->pluginId, &pump));
  EXPECT_EQ(proxy->getPluginIdForConnection(viaId), second->pluginId);
  EXPECT_FALSE(proxy->getServiceConnectionFromPlugin("Remote.Echo", client(), 999, &pump));
  found = accepted = true;
  EXPECT_FALSE(proxy->getServiceConnection("No.Such", client(), &found, &accepted, &pump, nullptr,
                                           false, false, false));
  EXPECT_FALSE(found);

  // A service of this process is connected directly.
  EchoClient *local = client();
  ASSERT_TRUE(proxy->getServiceConnection("Svc.A", local, &found, &accepted, &pump, nullptr, false,
                                          false, false));
  EXPECT_EQ(proxy->getNumServerConnections(), 1);
  EXPECT_TRUE(ping(local, 4));
  EXPECT_EQ(proxy->getPluginIdForService("Svc.B", nullptr, &pump, false, &found), proxy->getPluginId());
  EXPECT_TRUE(found);
}

TEST_F(SRRealRouterTest, ValuesEnvironmentAndLocationGoThroughTheRouter) {
  TestPlugin *p = plugin();
  p->values = {{"color", "blue"}, {"cwd", "/p/cwd"}};
  EXPECT_STREQ(proxy->getValueOfNameForPlugin(p->pluginId, "color", &pump), "blue");
  // A plugin that never connected here is asked where it works.
  EXPECT_EQ(take(proxy->resolvePluginRelFilename(p->pluginId, "x", &pump)), "/p/cwd/x");
  TestPlugin *mute = plugin();  // has no answer: the name stays as it is
  testsupport::Pump shortPump({p->link(), mute->link()}, 300);
  shortPump.eachRound = serveProxy;
  EXPECT_EQ(take(proxy->resolvePluginRelFilename(mute->pluginId, "rel/z", &shortPump)), "rel/z");
  EXPECT_EQ(proxy->getValueOfNameForPlugin(p->pluginId, "size", &shortPump), nullptr);
  // The other way: the last resolver for a name answers; cwd by default.
  proxy->addNameValueResolver(new NameValueResolver(false, "color", "red"));
  proxy->addNameValueResolver(new NameValueResolver(false, "color", "green"));
  for (const char *name : {"color", "cwd", "nothing"})
    p->send_RequestValueOfNameOnPlugin(proxy->getPluginId(), name);
  ASSERT_TRUE(until([&] { return p->valueEvents.size() == 3; }));
  EXPECT_EQ(p->valueEvents[0].value, std::optional<std::string>("green"));
  EXPECT_EQ(p->valueEvents[1].value, std::optional<std::string>(gen_getcwd()));
  EXPECT_EQ(p->valueEvents[2].value, std::nullopt);

  EXPECT_TRUE(proxy->setPluginPersistence(true));
  EXPECT_TRUE(proxy->setEnvironmentVariable("KORVO_TEST_VAR", "1"));
  int total = -1;
  int persistent = proxy->getNumPersistentServices(&pump, &total);
  EXPECT_GE(persistent, 1);
  EXPECT_GE(total, persistent);
  const char *host = nullptr;
  int port = 0;
  ASSERT_TRUE(proxy->getServiceRouterLocation(&host, &port, &pump));
  EXPECT_EQ(port, router.port);
}

TEST_F(SRRealRouterTest, RouterEndingEndsTheConnectionAndMarksServicesDown) {
  TestPlugin *p = plugin();
  ASSERT_NE(open(p, "Svc.A"), nullptr);
  EchoService *s = a.last;
  s->addRef();
  int status = 0;
  ASSERT_TRUE(router.stop(SIGTERM, 10000, &status));
  router.pid = 0;
  EXPECT_TRUE(until([&] { return !proxy->isAlive(); }));
  EXPECT_FALSE(proxy->isTransportAlive());
  ServiceRouter_Proxy::shutdown(false);
  EXPECT_TRUE(s->isDown());
  s->delRef();
}

}  // namespace
