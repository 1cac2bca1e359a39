// The router client against the real router (a svc_router process) and
// test plugins of the router testkit: registration and incoming
// connections served, refused and dropped (by the router, on request and
// from inside a call), connection-died listeners changed while being told,
// outgoing connections (to another plugin and to this process), value
// questions both ways, and the router going away.
#include <signal.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "services/router/router_testkit.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/runtime_test_support.h"
#include "shared/stp_transport/stp_msg.h"
#include "shared/stp_transport/stp_transport.h"
#include "srproxy_test_support.h"

namespace {

using srtest::gServicesDestroyed;

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

// Services the proxy (through the idle notifier) and the test plugins'
// links; the proxy's own waits use it as their retry handler.
class Pump : public RetryHandler {
 public:
  Pump(std::function<std::vector<STPTransport *>()> links, int ms)
      : RetryHandler(kRetryMillisBase + ms), links(std::move(links)) {}
  void idle() override {
    if (IdleNotifier *n = getIdleNotifier()) {
      n->notifyIdle(false);
      n->notifyTimers();
      n->notifySocketActivity(2, true);
    }
    std::vector<STPTransport *> live;
    for (STPTransport *t : links())
      if (t && !t->isDead()) live.push_back(t);
    TStat st;
    if (!live.empty()) STPTransport::serviceFirst(2, live.data(), static_cast<int>(live.size()), &st);
  }
  std::function<std::vector<STPTransport *>()> links;
};

class SRRealRouterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(servicerouter_proxy, nullptr);
    ASSERT_TRUE(router.start({"-not_shared", "-idle_exit", "0"})) << router.stderrText();
    a = std::make_unique<EchoFactory>("Svc.A");
    b = std::make_unique<EchoFactory>("Svc.B");
    std::vector<std::string> w = {"prog", "-connect_servicerouter", std::to_string(router.port)};
    std::vector<char *> argv;
    for (std::string &s : w) argv.push_back(s.data());
    argv.push_back(nullptr);
    int argc = 3;
    Pump p = pump(5000);
    ASSERT_TRUE(ServiceRouter_Proxy::startup(false, &argc, argv.data(), nullptr, false, &p, false, true));
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
    a.reset();
    b.reset();
  }

  Pump pump(int ms) {
    return Pump([this] {
      std::vector<STPTransport *> out;
      for (TestPlugin *p : plugins) out.push_back(p->link());
      return out;
    }, ms);
  }
  bool until(const std::function<bool()> &done, int ms = 5000) {
    Pump p = pump(ms);
    p.beginOp();
    bool ok = true;
    while (!done() && (ok = p.retryOp())) p.idle();
    p.completedOp();
    return ok && done();
  }
  TestPlugin *plugin(bool serveEcho = false) {
    TestPlugin *p = TestPlugin::connect(router.port);
    EXPECT_NE(p, nullptr);
    if (p) plugins.push_back(p), p->serveEcho = serveEcho;
    return p;
  }
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
    EchoClient *c = new EchoClient();
    clients.push_back(c);
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
  std::unique_ptr<EchoFactory> a, b;
  ServiceRouter_Proxy *proxy = nullptr;
  std::vector<TestPlugin *> plugins;
  std::vector<EchoClient *> clients;
};

TEST_F(SRRealRouterTest, RegisteredServiceIsAcceptedNegotiatedAndServed) {
  TestPlugin *p = plugin();
  EXPECT_NE(proxy->getPluginId(), -1);
  EchoClient *c = open(p, "Svc.A");
  ASSERT_NE(c, nullptr);
  EchoService *s = a->last;
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(ping(c, 1));
  EXPECT_EQ(s->pings, 1);
  EXPECT_EQ(proxy->getPluginIdForConnection(s), p->pluginId);
  EXPECT_EQ(proxy->getServiceConnectionForPluginId(p->pluginId), s);
  EXPECT_STREQ(proxy->getCachedValue(p->pluginId, "cwd"), "/tmp/client-cwd");
  EXPECT_EQ(proxy->getNumServerConnections(), 1);
  EXPECT_TRUE(proxy->acceptedAConnection());
  EXPECT_EQ(s->getRefCount(), 1);  // the record holds the only reference
  // Relative names of that plugin resolve against its working directory.
  Pump pp = pump(300);
  EXPECT_EQ(take(proxy->resolvePluginRelFilename(p->pluginId, "src/../a.txt", &pp)), "/tmp/client-cwd/a.txt");
  EXPECT_EQ(take(proxy->resolveConRelFilename(s, "b.txt", &pp)), "/tmp/client-cwd/b.txt");
  EXPECT_EQ(take(proxy->resolvePluginRelFilename(p->pluginId, "/abs/x", &pp)), "/abs/x");
  EXPECT_EQ(take(proxy->resolvePluginRelFilename(-1, "rel/x", &pp)), "rel/x");
  EXPECT_EQ(proxy->resolvePluginRelFilename(p->pluginId, nullptr, &pp), nullptr);
  // A connection the proxy does not know: no plugin, the name as it is.
  EchoService *stranger = new EchoService();
  EXPECT_EQ(proxy->getPluginIdForConnection(stranger), -1);
  EXPECT_EQ(take(proxy->resolveConRelFilename(stranger, "rel/y", &pp)), "rel/y");
  stranger->delRef();
  // Shut-down marks the open connection down.
  s->addRef();
  ServiceRouter_Proxy::shutdown(false);
  EXPECT_TRUE(s->isDown());
  s->delRef();
}

TEST_F(SRRealRouterTest, ClientDyingBeforeNegotiatingNeverCountsTheConnection) {
  TestPlugin *p = plugin();
  int destroyed = gServicesDestroyed;
  ASSERT_TRUE(request(p, "Svc.A").accepted);
  p->closeLink();
  ASSERT_TRUE(until([&] { return gServicesDestroyed == destroyed + 1; }));
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 0);
  EXPECT_EQ(proxy->getNumServiceConnections(), 0);
}

TEST_F(SRRealRouterTest, FactoryAddedLaterIsServedAndForgottenWhenGone) {
  TestPlugin *p = plugin();
  {
    EchoFactory late(proxy, "Svc.Late");
    ASSERT_TRUE(until([&] { return proxy->getNumFactoriesAwaitingRN() == 0; }));
    ASSERT_NE(open(p, "Svc.Late"), nullptr);
    EXPECT_NE(late.last, nullptr);
  }
  RT_Reply r = request(p, "Svc.Late");
  EXPECT_FALSE(r.accepted);
}

TEST_F(SRRealRouterTest, RefusingFactoryRefusesTheConnection) {
  TestPlugin *p = plugin();
  b->refuse = true;
  RT_Reply r = request(p, "Svc.B");
  EXPECT_TRUE(r.found);
  EXPECT_FALSE(r.accepted);
  EXPECT_EQ(proxy->getNumServiceConnections(), 0);
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 0);
}

TEST_F(SRRealRouterTest, ClientDyingReleasesTheConnectionAndTellsListeners) {
  TestPlugin *p = plugin();
  ASSERT_NE(open(p, "Svc.A"), nullptr);
  EchoService *s = a->last;
  Recorder watcher(s), bystander(nullptr);
  proxy->installConnectionDiedListener(&watcher);
  proxy->installConnectionDiedListener(&bystander);
  int destroyed = gServicesDestroyed;
  p->closeLink();
  ASSERT_TRUE(until([&] { return proxy->getNumServiceConnections() == 0; }));
  EXPECT_EQ(watcher.heard, std::vector<STPSpecClass *>{s});
  EXPECT_EQ(bystander.heard, std::vector<STPSpecClass *>{s});
  // The watcher of the dead connection left the list; the other stays.
  EXPECT_FALSE(proxy->removeConnectionDiedListener(&watcher));
  EXPECT_TRUE(proxy->removeConnectionDiedListener(&bystander));
  EXPECT_EQ(s->getRefCount(), 1);  // the watcher's
  EXPECT_EQ(gServicesDestroyed, destroyed);
}

TEST_F(SRRealRouterTest, DropFromInsideACallNeedsForce) {
  TestPlugin *p = plugin();
  EchoClient *c = open(p, "Svc.A");
  ASSERT_NE(c, nullptr);
  std::vector<bool> results;
  for (bool force : {false, true}) {
    SCOPED_TRACE(force);
    a->last->onPing = [&, force](EchoService *s) {
      results.push_back(proxy->dropServiceConnection(s, nullptr, force));
    };
    size_t before = results.size();
    c->send_Ping(1, "x");
    ASSERT_TRUE(until([&] { return results.size() > before; }));
    EXPECT_EQ(results.back(), force);
    EXPECT_EQ(proxy->getNumServiceConnections(), force ? 0 : 1);
  }
  // The router passes the drop on to the client.
  EXPECT_TRUE(until([&] { return !p->drops.empty(); }));
}

TEST_F(SRRealRouterTest, DropOutsideACallReleasesTheService) {
  TestPlugin *p = plugin();
  ASSERT_NE(open(p, "Svc.A"), nullptr);
  int destroyed = gServicesDestroyed;
  EXPECT_TRUE(proxy->dropServiceConnection(a->last, nullptr, false));
  EXPECT_EQ(gServicesDestroyed, destroyed + 1);
  EXPECT_TRUE(until([&] { return !p->drops.empty(); }));
}

TEST_F(SRRealRouterTest, ListenersMayChangeTheListWhileBeingTold) {
  TestPlugin *p = plugin();
  ASSERT_NE(open(p, "Svc.A"), nullptr);
  EchoService *s = a->last;
  Recorder first(nullptr), second(nullptr), added(nullptr);
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
  EXPECT_TRUE(second.heard.empty());
  EXPECT_TRUE(added.heard.empty());
  first.during = nullptr;
  proxy->notifyConnectionDiedListeners(s);
  EXPECT_EQ(added.heard.size(), 1u);
  proxy->removeConnectionDiedListener(&first);
  proxy->removeConnectionDiedListener(&added);
}

TEST_F(SRRealRouterTest, OutgoingConnectionToAnotherPluginWorksAndReleasesItsRN) {
  TestPlugin *provider = plugin(true);
  provider->registerNames({"Remote.Echo"});
  ASSERT_TRUE(until([&] { return !provider->rnBlocks.empty(); }));
  EchoClient *c = new EchoClient();
  clients.push_back(c);
  bool found = false, accepted = false;
  Pump p = pump(5000);
  ASSERT_TRUE(proxy->getServiceConnection("Remote.Echo", c, &found, &accepted, &p, "/w", false,
                                          false, false));
  EXPECT_TRUE(found && accepted && c->isNegotiated());
  EXPECT_TRUE(proxy->isClientServiceConnection(c));
  EXPECT_EQ(proxy->getPluginIdForConnection(c), provider->pluginId);
  EXPECT_TRUE(ping(c, 3));
  // Dropped by the provider: the client goes down.
  provider->closeLink();
  EXPECT_TRUE(until([&] { return c->isDown(); }));
  EXPECT_FALSE(proxy->isClientServiceConnection(c));

  // Asked of one provider by its plugin id: found and accepted are needed.
  TestPlugin *second = plugin(true);
  second->registerNames({"Remote.Echo"});
  ASSERT_TRUE(until([&] { return !second->rnBlocks.empty(); }));
  EchoClient *viaId = new EchoClient();
  clients.push_back(viaId);
  EXPECT_TRUE(proxy->getServiceConnectionFromPlugin("Remote.Echo", viaId, second->pluginId, &p));
  EXPECT_EQ(proxy->getPluginIdForConnection(viaId), second->pluginId);
  EXPECT_FALSE(proxy->getServiceConnectionFromPlugin("Remote.Echo", viaId, 999, &p));

  EchoClient *none = new EchoClient();
  clients.push_back(none);
  found = accepted = true;
  EXPECT_FALSE(proxy->getServiceConnection("No.Such", none, &found, &accepted, &p, nullptr,
                                           false, false, false));
  EXPECT_FALSE(found);
}

TEST_F(SRRealRouterTest, ServiceOfThisProcessConnectsDirectly) {
  EchoClient *c = new EchoClient();
  clients.push_back(c);
  bool found = false, accepted = false;
  Pump p = pump(5000);
  ASSERT_TRUE(proxy->getServiceConnection("Svc.A", c, &found, &accepted, &p, nullptr, false,
                                          false, false));
  EXPECT_TRUE(c->isNegotiated());
  EXPECT_EQ(proxy->getNumServerConnections(), 1);
  EXPECT_TRUE(ping(c, 4));
  bool f = false;
  EXPECT_EQ(proxy->getPluginIdForService("Svc.B", nullptr, &p, false, &f), proxy->getPluginId());
  EXPECT_TRUE(f);
}

TEST_F(SRRealRouterTest, ValuesAreAskedOfOtherPluginsAndAnswered) {
  TestPlugin *p = plugin();
  p->values = {{"color", "blue"}, {"cwd", "/p/cwd"}};
  Pump pp = pump(3000);
  EXPECT_STREQ(proxy->getValueOfNameForPlugin(p->pluginId, "color", &pp), "blue");
  // A plugin that never connected here is asked where it works.
  EXPECT_EQ(take(proxy->resolvePluginRelFilename(p->pluginId, "x", &pp)), "/p/cwd/x");
  TestPlugin *mute = plugin();  // has no answer: the name stays as it is
  EXPECT_EQ(take(proxy->resolvePluginRelFilename(mute->pluginId, "rel/z", &pp)), "rel/z");
  Pump shortPump = pump(300);
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
}

TEST_F(SRRealRouterTest, PersistenceEnvironmentAndLocationGoThroughTheRouter) {
  Pump p = pump(3000);
  EXPECT_TRUE(proxy->setPluginPersistence(true));
  EXPECT_TRUE(proxy->setEnvironmentVariable("KORVO_TEST_VAR", "1"));
  int total = -1;
  int persistent = proxy->getNumPersistentServices(&p, &total);
  EXPECT_GE(persistent, 1);
  EXPECT_GE(total, persistent);
  const char *host = nullptr;
  int port = 0;
  ASSERT_TRUE(proxy->getServiceRouterLocation(&host, &port, &p));
  EXPECT_EQ(port, router.port);
}

TEST_F(SRRealRouterTest, RouterEndingEndsTheConnectionAndMarksServicesDown) {
  TestPlugin *p = plugin();
  ASSERT_NE(open(p, "Svc.A"), nullptr);
  EchoService *s = a->last;
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
