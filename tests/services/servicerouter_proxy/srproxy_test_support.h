// Fixtures shared by the router-client tests: a small service (the
// FileRegistry server role) with its factory, and a fixture that starts the
// proxy against the scripted router of this process.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fileregistry_client_impl.h"
#include "fileregistry_server_impl.h"
#include "scripted_router.h"
#include "services/servicerouter_proxy/service_factory.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"

namespace srtest {

inline int gServicesDestroyed = 0;

class TestService : public FileRegistry_server_Impl {
 public:
  ~TestService() override { ++gServicesDestroyed; }
  std::vector<std::string> added;
  // Runs inside msg_AddFile, so while the endpoint has a caller.
  std::function<void(TestService *)> onAdd;
  void msg_AddFile(const char *fileName, const char *) override {
    added.push_back(fileName ? fileName : "");
    if (onAdd) onAdd(this);
  }
  void msg_GetFiles(const char *, int *num, char ***files) override {
    *num = 0;
    *files = nullptr;
  }
  void msg_RemoveFile(const char *, const char *) override {}
};

class TestFactory : public ServiceFactory {
 public:
  explicit TestFactory(const char *name, bool global = true) : ServiceFactory(name, -1, global) {}
  // Registered with `proxy` at once.
  TestFactory(ServiceRouter_Proxy *proxy, const char *name, int maxConnections)
      : ServiceFactory(proxy, name, maxConnections) {}
  bool refuse = false;
  TestService *last = nullptr;
  std::vector<STPSpecClass *> negotiated;

  STPSpecClass *getService(STPTransport *transport, int localRN, int remoteRN) override {
    if (refuse) return nullptr;
    last = new TestService();
    last->setTransport(transport, localRN, remoteRN);
    return last;
  }
  void connectionNegotiated(STPSpecClass *service) override { negotiated.push_back(service); }
};

// A client of a TestService living on the router's side of the connection
// (the router would forward its packets from another process).
class TestClient : public FileRegistry_client_Impl {};

class SRRouterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(servicerouter_proxy, nullptr); }
  void TearDown() override {
    ServiceRouter_Proxy::shutdown(false);
    factories.clear();
  }

  TestFactory *addFactory(const char *name) {
    factories.push_back(std::make_unique<TestFactory>(name));
    return factories.back().get();
  }

  // Starts the proxy as if launched by the scripted router, with `extra`
  // options after the connect option; the waits pump the router.
  bool start(std::vector<std::string> extra = {}, int timeoutMs = 5000) {
    std::vector<std::string> all = {"prog", "-connect_servicerouter", side.portText()};
    all.insert(all.end(), extra.begin(), extra.end());
    setArgs(all);
    RouterPump pump(&side, timeoutMs);
    bool ok = ServiceRouter_Proxy::startup(false, &argc, argv.data(), nullptr, false, &pump, false,
                                           true);
    proxy = servicerouter_proxy;
    return ok;
  }

  // Makes `w` the argument vector (argc, argv and its null entry).
  void setArgs(std::vector<std::string> w) {
    words = std::move(w);
    argv.clear();
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    argc = static_cast<int>(words.size());
  }

  // Has the router request a connection to serviceRN for a client on the
  // router's side and negotiates the two. Returns the client (the test
  // releases it) or null.
  TestClient *connectClient(int serviceRN, int remoteRN, int requester = 99) {
    // Bound first, so that the service's negotiation finds it; its own
    // negotiation goes out once the service exists.
    TestClient *client = new TestClient();
    client->setTransport(side.transport, remoteRN, serviceRN);
    ServiceRouter_STRING_ARRAY pairs;
    side.router->send_ConnectionRequestedEvent(requester, serviceRN, remoteRN, pairs);
    std::string accepted = "ConnectionAcceptedEvent " + std::to_string(serviceRN) + " " +
                           std::to_string(remoteRN) + " 1";
    int before = proxy->getNumServiceConnections();
    if (side.pumpUntil([&] { return side.router->saw(accepted); })) {
      client->sendNegotiate(true, nullptr, nullptr);
      if (side.pumpUntil([&] {
            return client->isNegotiated() && proxy->getNumServiceConnections() == before + 1;
          }))
        return client;
    }
    client->delRef();
    return nullptr;
  }

  RouterSide side;
  std::vector<std::unique_ptr<TestFactory>> factories;
  ServiceRouter_Proxy *proxy = nullptr;
  std::vector<std::string> words;
  std::vector<char *> argv;
  int argc = 0;
};

}  // namespace srtest
