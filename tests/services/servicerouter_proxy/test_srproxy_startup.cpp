// The router client against a scripted router, for what the real router
// never does or the client cannot see from it: no plugin id, spare RNs,
// a connection closed during negotiation, the order of the first messages,
// requests for unknown RNs, RN release of client connections, malformed
// name/value pairs, start-up failures with their texts and the disconnect.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shared/indgen.h"
#include "shared/runtime_test_support.h"
#include "shared/stp_transport/stp_msg.h"
#include "srproxy_test_support.h"

namespace srtest {
namespace {

bool anyMessageContains(const MessageCapture &c, int level, const std::string &text) {
  for (auto &m : c.messages)
    if (m.first == level && m.second.find(text) != std::string::npos) return true;
  return false;
}

using SRStartupTest = SRRouterTest;

TEST_F(SRStartupTest, NoPluginIdMeansStartupFails) {
  addFactory("Svc.A");
  side.router->pluginIdToGive = -1;
  MessageCapture capture;
  EXPECT_FALSE(start({}, 800));
  EXPECT_TRUE(side.router->saw("RegisterServiceList Svc.A"));
  EXPECT_EQ(proxy->getPluginId(), -1);
  ASSERT_EQ(capture.messages.size(), 1u);
  EXPECT_EQ(capture.messages[0].second, "Unable to initialize service router.\n");
}

TEST_F(SRStartupTest, TenNamesAndTwelveRNsLeaveTwoSpare) {
  std::vector<TestFactory *> f;
  for (int i = 0; i < 10; ++i) f.push_back(addFactory(("Svc." + std::to_string(i)).c_str()));
  side.router->extraRNs = 2;
  ASSERT_TRUE(start());
  ASSERT_TRUE(side.pumpUntil([&] { return proxy->getNumFactoriesAwaitingRN() == 0; }));
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(proxy->getFactoryForRN(100 + i), f[i]) << i;
    EXPECT_TRUE(proxy->isLocalRN(100 + i)) << i;
  }
  EXPECT_EQ(proxy->getSpareRNs(), (std::vector<int>{110, 111}));
  EXPECT_EQ(proxy->getFactoryForRN(110), nullptr);
  EXPECT_FALSE(proxy->isLocalRN(110));
}

TEST_F(SRStartupTest, ClientStartCookieAndWorkingDirectoryComeFirst) {
  ASSERT_TRUE(start({"-sr_client_start_cookie", "77", "-sr_debug", "plug", "-sr_debugger", "gdb"}));
  const std::vector<std::string> &log = side.router->log;
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0], "StartPluginEvent 77 1 ");
  EXPECT_EQ(log[1], std::string("SetWorkingDir ") + gen_getcwd());
  EXPECT_EQ(log[2], "RegisterServiceList ");
  EXPECT_EQ(log[3], "PersistentService 0");
  EXPECT_EQ(log[4], "DebugPlugin plug 1 gdb (null)");
}

TEST_F(SRStartupTest, SecondStartupReturnsAtOnce) {
  ASSERT_TRUE(start());
  char word0[] = "prog", word1[] = "-connect_servicerouter", word2[] = "1";
  char *again[] = {word0, word1, word2, nullptr};
  int n = 3;
  EXPECT_TRUE(ServiceRouter_Proxy::startup(false, &n, again, nullptr, false, nullptr, false, true));
  EXPECT_EQ(n, 3);  // not even parsed
  EXPECT_EQ(side.router->count("RegisterServiceList"), 1);
}

TEST_F(SRStartupTest, HostOptionNamesTheLocationButNotTheConnection) {
  // The connection goes to 127.0.0.1 whatever the host option says.
  setArgs({"prog", "-sr_connect_servicerouter_host", "far.example", "-sr_connect_servicerouter_port",
           side.portText()});
  RouterPump pump(&side, 5000);
  ASSERT_TRUE(ServiceRouter_Proxy::startup(false, &argc, argv.data(), nullptr, false, &pump, false, true));
  proxy = servicerouter_proxy;
  const char *host = nullptr;
  int port = 0;
  ASSERT_TRUE(proxy->getServiceRouterLocation(&host, &port, &pump));
  EXPECT_STREQ(host, "far.example");
  EXPECT_EQ(port, side.port);
  EXPECT_EQ(side.router->count("RequestLocation"), 0);
}

TEST_F(SRStartupTest, IncompatibleOptionsWarnAndConnectToTheLaunchingRouter) {
  MessageCapture capture;
  ASSERT_TRUE(start({"-sr_private", "-sr_new"}));
  EXPECT_TRUE(anyMessageContains(
      capture, GEN_LEVEL_WARNING,
      "Incompatible options specified, defaulting to connecting to launching ServiceRouter.\n"));
  EXPECT_TRUE(side.router->saw("RegisterServiceList "));
}

TEST_F(SRStartupTest, UnreachableLaunchingRouterIsAnError) {
  RefusedPort refused;
  MessageCapture capture;
  setArgs({"prog", "-connect_servicerouter", std::to_string(refused.port)});
  EXPECT_FALSE(ServiceRouter_Proxy::startup(false, &argc, argv.data(), nullptr, false, nullptr, false, true));
  ASSERT_EQ(capture.messages.size(), 1u);
  EXPECT_EQ(capture.messages[0].first, GEN_LEVEL_ERROR);
  EXPECT_EQ(capture.messages[0].second, "Unable to connect to ServiceRouter who launched us.\n");
}

// Accepts the proxy's connection and closes it at once; serves the proxy's
// side through the idle notifier.
class CloseOnAccept : public RetryHandler {
 public:
  explicit CloseOnAccept(int listenFD) : RetryHandler(kRetryMillisBase + 3000), fd(listenFD) {}
  void idle() override {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) == 1) {
      int c = ::accept(fd, nullptr, nullptr);
      if (c >= 0) ::close(c);
    }
    getIdleNotifier()->notifySocketActivity(5, true);
  }
  int fd;
};

TEST_F(SRStartupTest, NegotiationFailureIsReported) {
  RouterSide silent;  // its endpoint is never bound: the socket is used raw
  MessageCapture capture;
  setArgs({"prog", "-connect_servicerouter", silent.portText()});
  CloseOnAccept closer(silent.listenFD);
  EXPECT_FALSE(ServiceRouter_Proxy::startup(false, &argc, argv.data(), nullptr, false, &closer, false, true));
  EXPECT_TRUE(anyMessageContains(capture, GEN_LEVEL_WARNING,
                                 "Negotiation with ServiceRouter failed during initialization: "));
  EXPECT_TRUE(anyMessageContains(capture, GEN_LEVEL_WARNING, "Unable to initialize service router.\n"));
}

TEST_F(SRStartupTest, NothingToConnectForLeavesTheProxyUnconnected) {
  setArgs({"prog", "-sr_zone", "z"});
  EXPECT_TRUE(ServiceRouter_Proxy::startup(false, &argc, argv.data(), nullptr, false, nullptr, false, true));
  proxy = servicerouter_proxy;
  EXPECT_FALSE(proxy->isConnected());
  EXPECT_TRUE(proxy->isAlive());  // alive until a connection has been made and lost
  EXPECT_FALSE(proxy->isTransportAlive());
}

TEST_F(SRStartupTest, ShutdownAsksForTheDisconnectAndReleasesTheProxy) {
  ASSERT_TRUE(start());
  EXPECT_FALSE(ServiceRouter_Proxy::shutdown(false));
  EXPECT_EQ(servicerouter_proxy, nullptr);
  EXPECT_TRUE(side.pumpUntil([&] { return side.router->saw("RequestServiceRouterDisconnect"); }));
  // The router sees the connection closed.
  EXPECT_TRUE(side.pumpUntil([&] { return side.transport->isDead(); }));
  EXPECT_TRUE(ServiceRouter_Proxy::shutdown(true));  // nothing left to do
}

TEST_F(SRStartupTest, RequestForAnUnknownRNIsRefused) {
  ASSERT_TRUE(start());
  ServiceRouter_STRING_ARRAY none;
  side.router->send_ConnectionRequestedEvent(99, 555, 7, none);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 555 7 0"); }));
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 0);
  EXPECT_FALSE(proxy->acceptedAConnection());
}

TEST_F(SRStartupTest, ClientConnectionsReleaseTheirRN) {
  ASSERT_TRUE(start());
  // Outgoing connections are entered by the requesting code.
  TestClient *first = new TestClient();
  TestClient *second = new TestClient();
  first->setTransport(proxy->getTransport(), 300, 50);
  second->setTransport(proxy->getTransport(), 301, 51);
  proxy->addServiceToConnectedServicesList(first, false, 77, false, nullptr);
  proxy->addServiceToConnectedServicesList(second, false, 78, false, nullptr);
  side.router->send_ConnectionDroppedEvent(300, 51);  // no such pair: ignored
  side.router->send_ConnectionDroppedEvent(300, 50);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ReleaseRN 300"); }));
  EXPECT_TRUE(first->isDown());
  EXPECT_FALSE(second->isDown());
  EXPECT_TRUE(proxy->dropServiceConnection(second, nullptr, false));
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ReleaseRN 301"); }));
  EXPECT_TRUE(side.router->saw("DropServiceConnection 301 51"));
  EXPECT_EQ(proxy->getNumServiceConnections(), 0);
  first->delRef();
  second->delRef();
}

TEST(SRCacheTest, MalformedPairsAreSkippedAndLaterValuesReplace) {
  ServiceRouter_Proxy *proxy = ServiceRouter_Proxy::ensureProxy();
  struct Case {
    std::vector<const char *> words;
    const char *name;
    const char *expected;
  } cases[] = {
      {{"cwd", "/a", "last"}, "last", nullptr},         // the odd last name is ignored
      {{"cwd", nullptr, "k", "v"}, "cwd", "/a"},        // no value: the old one stays
      {{"cwd", nullptr, "k", "v"}, "k", "v"},
      {{nullptr, "x", "k2", ""}, "k2", ""},             // no name: skipped; "" counts
      {{"cwd", "/c"}, "cwd", "/c"},                     // replaced
      {{}, "cwd", "/c"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ServiceRouter_STRING_ARRAY pairs;
    pairs.count = static_cast<int>(c.words.size());
    pairs.data = const_cast<char **>(c.words.data());
    proxy->cacheNameValuePairs(5, pairs);
    const char *got = proxy->getCachedValue(5, c.name);
    EXPECT_EQ(std::string(got ? got : "<none>"), c.expected ? c.expected : "<none>");
  }
  ServiceRouter_STRING_ARRAY countWithoutData;
  countWithoutData.count = 4;
  proxy->cacheNameValuePairs(5, countWithoutData);
  EXPECT_EQ(proxy->getCachedValue(6, "cwd"), nullptr);
  EXPECT_EQ(proxy->getCachedValue(5, nullptr), nullptr);
  ServiceRouter_Proxy::shutdown(false);
}

TEST(NameValueResolverTest, AnswersOnlyItsOwnName) {
  NameValueResolver named(true, "cwd", "/x"), unnamed(false, nullptr, "v");
  EXPECT_STREQ(named.valueForName("cwd"), "/x");
  for (const char *asked : {"CWD", "other", static_cast<const char *>(nullptr)})
    EXPECT_EQ(named.valueForName(asked), nullptr) << (asked ? asked : "(null)");
  EXPECT_FALSE(unnamed.hasValueForName("v"));
}

}  // namespace
}  // namespace srtest
