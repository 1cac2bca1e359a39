// Outgoing connections and questions of the router client against the
// scripted router of this process: replies matched by name and cookie, a
// drop in the middle of a negotiation, questions nobody answers, the
// plugin-id query, ServiceConnRetryHandler, and a service loaded from a
// shared library built by the project and reached over a loopback pair.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "services/servicerouter_proxy/service_conn_retry_handler.h"
#include "services/servicerouter_proxy/shared_object_connection.h"
#include "services/servicerouter_proxy/shared_object_proxy.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"
#include "shared/stp_transport/stp_msg.h"
#include "srproxy_test_support.h"

namespace {

std::string currentDir() {
  char buf[4096];
  return getcwd(buf, sizeof buf) ? buf : "";
}

// The cookie of a logged RequestServiceConnection (third word from the end).
int requestCookie(const std::string &line) {
  std::vector<std::string> w = srtest::words(line);
  return std::atoi(w[w.size() - 3].c_str());
}

// Frees the strings a FileRegistry GetFiles reply hands out.
std::vector<std::string> takeFiles(int num, char **files) {
  std::vector<std::string> out;
  for (int i = 0; i < num; ++i) {
    out.push_back(files[i] ? files[i] : "");
    free(files[i]);
  }
  free(files);
  return out;
}

class SROutgoingTest : public srtest::SRRouterTest {
 protected:
  void SetUp() override {
    SRRouterTest::SetUp();
    cwdAtStart = currentDir();
    addFactory("Test.Local");  // gets RN 100
    ASSERT_TRUE(start());
  }

  // Answers the n-th RequestServiceConnection once with `send`.
  std::function<void()> answerRequest(int n, std::function<void(int cookie)> send) {
    auto done = std::make_shared<bool>(false);
    return [this, n, send, done] {
      std::string req = side.router->line("RequestServiceConnection ", n);
      if (req.empty() || *done) return;
      *done = true;
      send(requestCookie(req));
    };
  }

  std::string cwdAtStart;
};

}  // namespace

TEST_F(SROutgoingTest, ReplyIsMatchedByNameAndCookieAndTheEndpointNegotiated) {
  // The provider's end, on the router's transport.
  srtest::TestService *provider = new srtest::TestService;
  provider->setTransport(side.transport, 500, 300);
  int cookieSeen = -1;
  srtest::RouterPump pump(&side, 5000, answerRequest(0, [&](int cookie) {
    cookieSeen = cookie;
    side.router->send_ConnectionReplyEvent("Remote.Service", 301, true, false, true, 501, 8, "",
                                           cookie + 1);
    side.router->send_ConnectionReplyEvent("Other.Service", 302, true, false, false, 502, 8, "",
                                           cookie);
    side.router->send_ConnectionReplyEvent("Remote.Service", 300, true, false, true, 500, 7, "",
                                           cookie);
    provider->sendNegotiate(true, nullptr, nullptr);
  }));
  srtest::TestClient *client = new srtest::TestClient;
  bool found = false, accepted = false;
  int before = proxy->getNumServiceConnections();
  ASSERT_TRUE(proxy->getServiceConnection("Remote.Service", client, &found, &accepted, &pump,
                                          "/work/dir", true, false, true));
  EXPECT_TRUE(found);
  EXPECT_TRUE(accepted);
  EXPECT_TRUE(client->isNegotiated());
  EXPECT_EQ(client->getTransport(), proxy->getTransport());
  EXPECT_EQ(client->getLocalRN(), 300);
  EXPECT_EQ(client->getRemoteRN(), 500);
  EXPECT_TRUE(proxy->isLocalRN(300));
  EXPECT_EQ(proxy->getNumServiceConnections(), before + 1);
  EXPECT_TRUE(proxy->isClientServiceConnection(client));
  EXPECT_EQ(proxy->getPluginIdForConnection(client), 7);
  EXPECT_EQ(side.router->line("RequestServiceConnection "),
            "RequestServiceConnection Remote.Service -1 cwd," + cwdAtStart + " /work/dir 1 " +
                std::to_string(cookieSeen) + " 0 1");

  // The client works: a message reaches the provider.
  client->send_AddFile("x.txt", "t");
  ASSERT_TRUE(side.pumpUntil([&] { return provider->added.size() == 1; }));

  // The replies nobody took are still pending. One with the wrong cookie
  // (its provider never negotiates, so connecting fails after the reply was
  // taken)...
  srtest::TestClient *other = new srtest::TestClient;
  srtest::RouterPump shortPump(&side, 300);
  found = accepted = false;
  EXPECT_FALSE(proxy->awaitConnectionReplyEvent("Remote.Service", other, cookieSeen + 1, &found,
                                                &accepted, &shortPump));
  EXPECT_TRUE(found);
  EXPECT_TRUE(accepted);
  // ...and one with another name, found but refused.
  found = false;
  accepted = true;
  EXPECT_FALSE(proxy->awaitConnectionReplyEvent("Other.Service", other, cookieSeen, &found,
                                                &accepted, &shortPump));
  EXPECT_TRUE(found);
  EXPECT_FALSE(accepted);
  // Taken: a second wait for it finds nothing.
  EXPECT_FALSE(proxy->awaitConnectionReplyEvent("Other.Service", other, cookieSeen, &found,
                                                &accepted, &shortPump));
  EXPECT_FALSE(found);
  other->delRef();
  client->delRef();
  provider->delRef();
}

TEST_F(SROutgoingTest, DropArrivingWhileNegotiatingFailsTheConnection) {
  // The router drops the new connection before the provider's negotiation
  // arrives: the connection must not end up recorded as alive.
  srtest::TestService *provider = new srtest::TestService;
  provider->setTransport(side.transport, 510, 310);
  srtest::RouterPump pump(&side, 5000, answerRequest(0, [&](int cookie) {
    side.router->send_ConnectionReplyEvent("Remote.Service", 310, true, false, true, 510, 7, "",
                                           cookie);
    side.router->send_ConnectionDroppedEvent(310, 510);
    provider->sendNegotiate(true, nullptr, nullptr);
  }));
  srtest::TestClient *client = new srtest::TestClient;
  bool found = false, accepted = false;
  int before = proxy->getNumServiceConnections();
  EXPECT_FALSE(proxy->getServiceConnection("Remote.Service", client, &found, &accepted, &pump,
                                           "/work/dir", true, false, true));
  EXPECT_EQ(proxy->getNumServiceConnections(), before);
  EXPECT_FALSE(proxy->isClientServiceConnection(client));
  client->delRef();
  provider->delRef();
}

TEST_F(SROutgoingTest, PluginIdForServiceIsMatchedByCookie) {
  bool answered = false;
  srtest::RouterPump pump(&side, 3000, [&] {
    std::string req = side.router->line("RequestPluginIdForService ");
    if (req.empty() || answered) return;
    answered = true;
    int cookie = std::atoi(srtest::words(req)[1].c_str());
    side.router->send_PluginIdForServiceReplyEvent(cookie + 50, "Name.Service", 1, true);
    side.router->send_PluginIdForServiceReplyEvent(cookie, "Name.Service", 33, true);
  });
  bool found = false;
  EXPECT_EQ(proxy->getPluginIdForService("Name.Service", "/wd", &pump, true, &found), 33);
  EXPECT_TRUE(found);
  std::string req = side.router->line("RequestPluginIdForService ");
  EXPECT_EQ(req.substr(req.find(" Name")), " Name.Service /wd 1");
}

TEST_F(SROutgoingTest, UnansweredQuestionsEndWithTheRetryHandler) {
  srtest::RouterPump silent(&side, 300);
  srtest::TestClient *client = new srtest::TestClient;
  bool found = true, accepted = true;
  char stale[] = "stale";  // out-values are replaced, never freed
  char *errors = stale;
  EXPECT_FALSE(proxy->getServiceConnection("Silent", client, &found, &accepted, &silent, nullptr,
                                           false, false, false));
  EXPECT_FALSE(found);
  EXPECT_EQ(client->getTransport(), nullptr);
  found = true;
  EXPECT_EQ(proxy->getPluginIdForService("Silent", nullptr, &silent, false, &found), -1);
  EXPECT_FALSE(found);
  EXPECT_EQ(proxy->getValueOfNameForPlugin(56, "color", &silent), nullptr);
  EXPECT_EQ(proxy->launchPlugin("nobody answers", &silent, false, &errors), -1);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(proxy->connectToPlugin("h", 1, &silent, &errors), -1);
  client->delRef();
}

TEST_F(SROutgoingTest, ServiceConnRetryHandlerStopsWhenTheEndpointIsDown) {
  srtest::TestClient *client = new srtest::TestClient;
  ServiceConnRetryHandler rh(client, kRetryMillisBase + 2000);
  EXPECT_NE(rh.getTransport(), nullptr);  // the router transport
  rh.beginOp();
  EXPECT_TRUE(rh.retryOp());
  client->markAsDown();
  EXPECT_FALSE(rh.retryOp());
  rh.completedOp();

  ServiceConnRetryHandler onGiven(client, kRetryMillisBase + 2000, side.transport);
  EXPECT_EQ(onGiven.getTransport(), side.transport);
  EXPECT_FALSE(onGiven.retryOp());
  client->delRef();
}

// ---- shared-object services

TEST_F(SROutgoingTest, LibrarySideServesThroughTheFactoryList) {
  srtest::TestFactory *inProcess = addFactory("Test.InProcess");
  STPTransport *host = new STPTransport(32768);
  SharedObjectLoopbackInfo mine;
  host->getBufferInfo(&mine.start, &mine.used, &mine.capacity, &mine.data);
  host->getHandleReadInfo(&mine.readFunc, &mine.readCookie);

  SharedObjectLoopbackInfo theirs;
  EXPECT_EQ(SharedObject_Proxy::setupNewConnection("No.Such.Service", mine, &theirs), -1);
  int before = SharedObject_Proxy::getNumConnections();
  int cookie = SharedObject_Proxy::setupNewConnection("Test.InProcess", mine, &theirs);
  ASSERT_NE(cookie, -1);
  EXPECT_EQ(cookie, before + 1);
  EXPECT_EQ(SharedObject_Proxy::getNumConnections(), cookie);
  ASSERT_NE(inProcess->last, nullptr);
  EXPECT_EQ(SharedObject_Proxy::getConnectionForCookie(cookie), inProcess->last);
  EXPECT_EQ(inProcess->last->getLocalRN(), 2);
  EXPECT_EQ(inProcess->last->getRemoteRN(), 1);
  STPTransport::initializeLoopbackSide(host, theirs.start, theirs.used, theirs.capacity,
                                       theirs.data, theirs.readFunc, theirs.readCookie);

  srtest::TestClient *client = new srtest::TestClient;
  client->setTransport(host, 1, 2);
  TStat st;
  ASSERT_TRUE(client->sendNegotiate(true, nullptr, &st));
  // Nobody sends the library side's negotiation here; driveIdle moves data.
  ASSERT_TRUE(inProcess->last->sendNegotiate(true, nullptr, &st));
  STPRetryHandler rh(host, kRetryMillisBase + 2000);
  ASSERT_TRUE(client->awaitNegotiate(&rh, &st)) << st.message;
  client->send_AddFile("queued.txt", "t");  // queued, not announced to the library
  SharedObject_Proxy::driveIdle(cookie);
  EXPECT_EQ(inProcess->last->added, std::vector<std::string>{"queued.txt"});

  EXPECT_TRUE(SharedObject_Proxy::shutdownConnection(cookie));
  EXPECT_FALSE(SharedObject_Proxy::shutdownConnection(cookie));
  EXPECT_EQ(SharedObject_Proxy::getTransportForCookie(cookie), nullptr);
  client->delRef();
  host->delRef();
}

TEST_F(SROutgoingTest, SharedObjectServiceIsReachedOverTheLoopbackPair) {
  const std::string lib = KORVO_TEST_SO_PATH;
  const std::string withoutSuffix = lib.substr(0, lib.size() - 3);
  ASSERT_EQ(lib.substr(lib.size() - 3), ".so");
  srtest::RouterPump pump(&side, 5000, answerRequest(0, [&](int cookie) {
    side.router->send_ConnectionReplyEvent("Test.SharedObject", 0, true, true, false, 0, -1,
                                           withoutSuffix.c_str(), cookie);
  }));
  srtest::TestClient *client = new srtest::TestClient;
  bool found = false, accepted = true;
  int before = proxy->getNumServiceConnections();
  ASSERT_TRUE(proxy->getServiceConnection("Test.SharedObject", client, &found, &accepted, &pump,
                                          nullptr, false, false, false))
      << twl_last_shared_library_error();
  EXPECT_TRUE(found);
  EXPECT_FALSE(accepted);
  EXPECT_TRUE(client->isNegotiated());
  EXPECT_TRUE(client->getTransport()->isLoopbackMode());
  EXPECT_EQ(proxy->getNumServiceConnections(), before + 1);
  EXPECT_TRUE(proxy->isClientServiceConnection(client));
  EXPECT_EQ(proxy->getPluginIdForConnection(client), -1);

  // A request and its reply across the pair.
  ASSERT_TRUE(client->send_AddFile("one.txt", "t", true));
  ASSERT_TRUE(client->send_AddFile("two.txt", "t", true));
  int num = 0;
  char **files = nullptr;
  STPRetryHandler rh(client->getTransport(), kRetryMillisBase + 3000);
  ASSERT_TRUE(client->send_GetFiles("t", &num, &files, &rh));
  EXPECT_EQ(takeFiles(num, files), (std::vector<std::string>{"one.txt", "two.txt"}));
  client->delRef();
  // Shut-down (the fixture's) releases the connection and the library.
}

TEST(SharedObjectConnectionTest, LoadFailuresAreReported) {
  STPSpecClass *endpoint = new srtest::TestClient;
  {
    MessageCapture cap;
    SharedObjectConnection soc;
    EXPECT_FALSE(soc.initializeConnection("/no/such/library", "Test.SharedObject", endpoint));
    EXPECT_TRUE(cap.messages.empty());
    EXPECT_EQ(soc.getLibraryPath(), nullptr);
  }
  {
    MessageCapture cap;
    SharedObjectConnection soc;
    EXPECT_FALSE(soc.initializeConnection(KORVO_TEST_SO_NO_IDLE_PATH, "Test.SharedObject", endpoint));
    ASSERT_EQ(cap.messages.size(), 1u);
    EXPECT_EQ(cap.messages[0].first, GEN_LEVEL_ERROR);
    EXPECT_EQ(cap.messages[0].second, "Failed to get pointer to driveIdle function.\n");
    EXPECT_STREQ(soc.getLibraryPath(), KORVO_TEST_SO_NO_IDLE_PATH);
    EXPECT_EQ(soc.getCookie(), 0);
    EXPECT_EQ(soc.getLocalTransport(), nullptr);
  }
  {
    // The library loads, but offers no such service.
    MessageCapture cap;
    SharedObjectConnection soc;
    EXPECT_FALSE(soc.initializeConnection(KORVO_TEST_SO_PATH, "Not.Offered", endpoint));
    ASSERT_EQ(cap.messages.size(), 1u);
    EXPECT_EQ(cap.messages[0].second, "Unable to get handle to shared object transport.\n");
    EXPECT_EQ(SharedObjectConnection::getConnectionForCookie(soc.getCookie()), &soc);
  }
  EXPECT_EQ(endpoint->getRefCount(), 1);
  endpoint->delRef();
  ServiceRouter_Proxy::shutdown(false);  // the library's factory made one
}
