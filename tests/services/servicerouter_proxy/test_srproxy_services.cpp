// Incoming service connections against the scripted router: refused for an
// unknown RN or a refusing factory, accepted and negotiated for a known one,
// connected without negotiation messages when this process asks itself;
// drops by the router and on request; client connections releasing their
// RN; connection-died listeners; the name/value cache.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shared/indgen.h"
#include "shared/stp_transport/stp_msg.h"
#include "srproxy_test_support.h"

namespace srtest {
namespace {

// Records every connection it hears of; optionally runs an action inside
// the notification.
class RecordingListener : public ConnectionDiedListener {
 public:
  explicit RecordingListener(STPSpecClass *c) : ConnectionDiedListener(c) {}
  std::vector<STPSpecClass *> heard;
  std::function<void()> during;
  void connectionDied(STPSpecClass *c) override {
    heard.push_back(c);
    if (during) during();
  }
};

class SRServicesTest : public SRRouterTest {
 protected:
  void SetUp() override {
    SRRouterTest::SetUp();
    a = addFactory("Svc.A");
    b = addFactory("Svc.B");
    ASSERT_TRUE(start());  // Svc.A gets RN 100, Svc.B 101; plugin id 42
  }
  TestFactory *a = nullptr;
  TestFactory *b = nullptr;
};

TEST_F(SRServicesTest, UnknownRNOrRefusingFactoryIsRefused) {
  ServiceRouter_STRING_ARRAY none;
  side.router->send_ConnectionRequestedEvent(99, 555, 7, none);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 555 7 0"); }));
  b->refuse = true;
  side.router->send_ConnectionRequestedEvent(99, 101, 8, none);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 101 8 0"); }));
  EXPECT_EQ(proxy->getNumServiceConnections(), 0);
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 0);
  EXPECT_FALSE(b->hasCreatedConnection());
  EXPECT_FALSE(proxy->acceptedAConnection());
}

TEST_F(SRServicesTest, KnownRNIsAcceptedNegotiatedAndServed) {
  char n0[] = "cwd", v0[] = "/client/dir", n1[] = "odd";
  char *data[] = {n0, v0, n1};
  ServiceRouter_STRING_ARRAY pairs;
  pairs.count = 3;
  pairs.data = data;
  TestClient *client = new TestClient();
  client->setTransport(side.transport, 7, 100);
  side.router->send_ConnectionRequestedEvent(99, 100, 7, pairs);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 100 7 1"); }));
  ASSERT_NE(a->last, nullptr);
  TestService *service = a->last;
  EXPECT_EQ(service->getLocalRN(), 100);
  EXPECT_EQ(service->getRemoteRN(), 7);
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 1);
  EXPECT_EQ(proxy->getNumServiceConnections(), 0);
  EXPECT_TRUE(ServiceFactory::createdAService());
  EXPECT_STREQ(proxy->getCachedValue(99, "cwd"), "/client/dir");
  EXPECT_EQ(proxy->getCachedValue(99, "odd"), nullptr);

  client->sendNegotiate(true, nullptr, nullptr);
  ASSERT_TRUE(side.pumpUntil([&] { return proxy->getNumServiceConnections() == 1; }));
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 0);
  EXPECT_EQ(proxy->getNumServerConnections(), 1);
  EXPECT_TRUE(proxy->acceptedAConnection());
  EXPECT_EQ(a->negotiated, std::vector<STPSpecClass *>{service});
  EXPECT_EQ(proxy->getPluginIdForConnection(service), 99);
  EXPECT_EQ(proxy->getServiceConnectionForPluginId(99), service);
  EXPECT_FALSE(proxy->isClientServiceConnection(service));
  // Once negotiated, the record holds the only reference.
  EXPECT_EQ(service->getRefCount(), 1);

  ASSERT_TRUE(side.pumpUntil([&] { return client->isNegotiated(); }));
  EXPECT_TRUE(client->send_AddFile("a.txt", "text"));
  EXPECT_TRUE(side.pumpUntil([&] { return service->added.size() == 1; }));
  client->delRef();
}

TEST_F(SRServicesTest, OwnPluginIdConnectsWithoutNegotiationMessages) {
  PacketCounter fromService, toService;
  side.transport->registerMessageListener(101, 9, &fromService, STP_TYPE_ENDPOINT);
  ServiceRouter_STRING_ARRAY none;
  side.router->send_ConnectionRequestedEvent(42, 101, 9, none);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 101 9 1"); }));
  EXPECT_EQ(proxy->getNumServiceConnections(), 1);
  TestService *service = b->last;
  ASSERT_NE(service, nullptr);
  EXPECT_TRUE(service->isNegotiated());
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 0);
  EXPECT_EQ(proxy->getNumServerConnections(), 1);
  EXPECT_TRUE(proxy->acceptedAConnection());
  EXPECT_EQ(b->negotiated.size(), 1u);
  EXPECT_EQ(service->getRefCount(), 1);
  side.pumpFor(150);
  EXPECT_EQ(fromService.count, 0);
  side.transport->unregisterMessageListener(&fromService);
}

TEST_F(SRServicesTest, RouterDropReleasesTheConnectionAndTellsListeners) {
  TestClient *client = connectClient(100, 7);
  ASSERT_NE(client, nullptr);
  TestService *service = a->last;
  RecordingListener watcher(service), bystander(nullptr);
  proxy->installConnectionDiedListener(&watcher);
  proxy->installConnectionDiedListener(&bystander);
  int destroyed = gServicesDestroyed;

  side.router->send_ConnectionDroppedEvent(100, 8);  // no such pair: ignored
  side.router->send_ConnectionDroppedEvent(100, 7);
  ASSERT_TRUE(side.pumpUntil([&] { return proxy->getNumServiceConnections() == 0; }));
  EXPECT_EQ(proxy->getNumServerConnections(), 0);
  EXPECT_EQ(watcher.heard, std::vector<STPSpecClass *>{service});
  EXPECT_EQ(bystander.heard, std::vector<STPSpecClass *>{service});
  EXPECT_TRUE(watcher.died());
  // The watcher of the dead connection left the list; the other stays.
  EXPECT_FALSE(proxy->removeConnectionDiedListener(&watcher));
  EXPECT_TRUE(proxy->removeConnectionDiedListener(&bystander));
  // A server connection keeps its RN; only the watcher's reference is left.
  EXPECT_EQ(side.router->count("ReleaseRN"), 0);
  EXPECT_EQ(service->getRefCount(), 1);
  EXPECT_EQ(gServicesDestroyed, destroyed);
  client->delRef();
}

TEST_F(SRServicesTest, DropOfAPendingConnectionNeverCountsIt) {
  ServiceRouter_STRING_ARRAY none;
  side.router->send_ConnectionRequestedEvent(99, 100, 7, none);
  side.router->send_ConnectionDroppedEvent(100, 7);
  int destroyed = gServicesDestroyed;
  ASSERT_TRUE(side.pumpUntil([&] { return gServicesDestroyed == destroyed + 1; }));
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 0);
  EXPECT_EQ(proxy->getNumServiceConnections(), 0);
  EXPECT_EQ(proxy->getNumServerConnections(), 0);
  EXPECT_EQ(a->negotiated.size(), 1u);  // told that negotiation ended
}

TEST_F(SRServicesTest, DropOnRequestIsRefusedInsideACallUnlessForced) {
  TestClient *client = connectClient(100, 7);
  ASSERT_NE(client, nullptr);
  TestService *service = a->last;
  RecordingListener watcher(nullptr);
  proxy->installConnectionDiedListener(&watcher);
  std::vector<bool> results;
  service->onAdd = [&](TestService *s) { results.push_back(proxy->dropServiceConnection(s, nullptr, false)); };
  client->send_AddFile("one", "t");
  ASSERT_TRUE(side.pumpUntil([&] { return results.size() == 1; }));
  EXPECT_FALSE(results[0]);
  side.pumpFor(100);
  EXPECT_EQ(side.router->count("DropServiceConnection"), 0);
  EXPECT_TRUE(watcher.heard.empty());
  EXPECT_EQ(proxy->getNumServiceConnections(), 1);

  service->onAdd = [&](TestService *s) { results.push_back(proxy->dropServiceConnection(s, nullptr, true)); };
  client->send_AddFile("two", "t");
  ASSERT_TRUE(side.pumpUntil([&] { return results.size() == 2; }));
  EXPECT_TRUE(results[1]);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("DropServiceConnection 100 7"); }));
  EXPECT_EQ(side.router->count("ReleaseRN"), 0);
  EXPECT_EQ(proxy->getNumServiceConnections(), 0);
  EXPECT_EQ(proxy->getNumServerConnections(), 0);
  EXPECT_EQ(watcher.heard.size(), 1u);
  proxy->removeConnectionDiedListener(&watcher);
  client->delRef();
}

TEST_F(SRServicesTest, DropOnRequestOutsideACall) {
  TestClient *client = connectClient(100, 7);
  ASSERT_NE(client, nullptr);
  int destroyed = gServicesDestroyed;
  EXPECT_TRUE(proxy->dropServiceConnection(a->last, nullptr, false));
  EXPECT_EQ(gServicesDestroyed, destroyed + 1);  // the record held the last reference
  EXPECT_EQ(proxy->getNumServiceConnections(), 0);
  EXPECT_TRUE(side.pumpUntil([&] { return side.router->saw("DropServiceConnection 100 7"); }));
  client->delRef();
}

TEST_F(SRServicesTest, ClientConnectionsReleaseTheirRN) {
  // Outgoing connections are entered by the requesting code; two of them
  // here, bound to the router transport with local RNs 300 and 301.
  TestClient *first = new TestClient();
  TestClient *second = new TestClient();
  first->setTransport(proxy->getTransport(), 300, 50);
  second->setTransport(proxy->getTransport(), 301, 51);
  proxy->addServiceToConnectedServicesList(first, false, 77, false, nullptr);
  proxy->addServiceToConnectedServicesList(second, false, 78, false, nullptr);
  EXPECT_TRUE(proxy->isClientServiceConnection(first));
  EXPECT_EQ(proxy->getNumServerConnections(), 0);

  side.router->send_ConnectionDroppedEvent(300, 50);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ReleaseRN 300"); }));
  EXPECT_TRUE(first->isDown());
  EXPECT_TRUE(proxy->dropServiceConnection(second, nullptr, false));
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ReleaseRN 301"); }));
  EXPECT_TRUE(side.router->saw("DropServiceConnection 301 51"));
  EXPECT_EQ(proxy->getNumServiceConnections(), 0);
  first->delRef();
  second->delRef();
}

TEST_F(SRServicesTest, ListenersMayChangeTheListWhileBeingTold) {
  TestClient *client = connectClient(100, 7);
  ASSERT_NE(client, nullptr);
  TestService *service = a->last;
  RecordingListener first(nullptr), second(nullptr), added(nullptr);
  // The first removes the second and installs a third: the second is not
  // told, the third only from the next notification on.
  first.during = [&] {
    proxy->removeConnectionDiedListener(&second);
    proxy->installConnectionDiedListener(&added);
  };
  proxy->installConnectionDiedListener(&first);
  proxy->installConnectionDiedListener(&second);
  proxy->notifyConnectionDiedListeners(service);
  EXPECT_EQ(first.heard.size(), 1u);
  EXPECT_TRUE(second.heard.empty());
  EXPECT_TRUE(added.heard.empty());
  first.during = nullptr;
  proxy->notifyConnectionDiedListeners(service);
  EXPECT_EQ(added.heard.size(), 1u);
  // A listener whose connection is not down is not removed.
  RecordingListener watcher(service);
  proxy->installConnectionDiedListener(&watcher);
  proxy->notifyConnectionDiedListeners(service);
  EXPECT_TRUE(proxy->removeConnectionDiedListener(&watcher));
  proxy->removeConnectionDiedListener(&first);
  proxy->removeConnectionDiedListener(&added);
  client->delRef();
}

TEST_F(SRServicesTest, ShutdownMarksOpenConnectionsDown) {
  TestClient *client = connectClient(100, 7);
  ASSERT_NE(client, nullptr);
  TestService *service = a->last;
  service->addRef();
  ServiceRouter_Proxy::shutdown(false);
  EXPECT_TRUE(service->isDown());
  EXPECT_EQ(service->getRefCount(), 1);
  service->delRef();
  client->delRef();
}

// The cache needs no router.
class SRCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { proxy = ServiceRouter_Proxy::ensureProxy(); }
  void TearDown() override { ServiceRouter_Proxy::shutdown(false); }
  void cache(int pluginId, std::vector<const char *> words) {
    ServiceRouter_STRING_ARRAY pairs;
    pairs.count = static_cast<int>(words.size());
    pairs.data = const_cast<char **>(words.data());
    proxy->cacheNameValuePairs(pluginId, pairs);
  }
  ServiceRouter_Proxy *proxy = nullptr;
};

TEST_F(SRCacheTest, PairsAreStoredPerPluginAndReplaced) {
  cache(5, {"cwd", "/a", "user", "ann"});
  cache(6, {"cwd", "/b"});
  EXPECT_STREQ(proxy->getCachedValue(5, "cwd"), "/a");
  EXPECT_STREQ(proxy->getCachedValue(5, "user"), "ann");
  EXPECT_STREQ(proxy->getCachedValue(6, "cwd"), "/b");
  cache(5, {"cwd", "/c"});
  EXPECT_STREQ(proxy->getCachedValue(5, "cwd"), "/c");
  EXPECT_EQ(proxy->getCachedValue(7, "cwd"), nullptr);
  EXPECT_EQ(proxy->getCachedValue(5, nullptr), nullptr);
}

TEST_F(SRCacheTest, OddCountsAndMissingEntriesAreSkipped) {
  cache(5, {"cwd", "/a", "last"});  // the odd last name is ignored
  EXPECT_EQ(proxy->getCachedValue(5, "last"), nullptr);
  cache(5, {"cwd", nullptr, "k", "v"});  // no value: the old one stays
  EXPECT_STREQ(proxy->getCachedValue(5, "cwd"), "/a");
  EXPECT_STREQ(proxy->getCachedValue(5, "k"), "v");
  cache(5, {nullptr, "x", "k2", ""});  // no name: skipped; an empty value counts
  EXPECT_STREQ(proxy->getCachedValue(5, "k2"), "");
  ServiceRouter_STRING_ARRAY empty;
  proxy->cacheNameValuePairs(5, empty);
  empty.count = 4;  // a count without data
  proxy->cacheNameValuePairs(5, empty);
  EXPECT_STREQ(proxy->getCachedValue(5, "cwd"), "/a");
}

}  // namespace
}  // namespace srtest
