// A gtest fixture around one svc_router process and the test plugins
// connected to it. Every wait is bounded; the router is stopped with
// SIGTERM at the end and must exit 0.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "services/router/router_testkit.h"
#include "shared/stp_transport/stp_transport.h"

class RouterFixture : public ::testing::Test {
 protected:
  // Extra router options for this test (before SetUp).
  std::vector<std::string> routerArgs{"-not_shared", "-idle_exit", "0"};

  void SetUp() override { ASSERT_TRUE(router.start(routerArgs)) << router.stderrText(); }

  void TearDown() override {
    for (EchoClient *c : clients) {
      c->setTransport(nullptr);
      c->delRef();
    }
    for (TestPlugin *p : plugins) p->destroy();
    if (router.pid > 0) {
      int status = 0;
      ASSERT_TRUE(router.stop(SIGTERM, 10000, &status)) << router.stderrText();
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << router.stderrText();
    }
  }

  // A new plugin connected to the router (owned by the fixture).
  TestPlugin *plugin() {
    TestPlugin *p = TestPlugin::connect(router.port);
    EXPECT_NE(p, nullptr);
    if (p) plugins.push_back(p);
    return p;
  }

  std::vector<STPTransport *> links() const {
    std::vector<STPTransport *> out;
    for (TestPlugin *p : plugins) out.push_back(p->link());
    return out;
  }

  bool pump(int ms, const std::function<bool()> &done) {
    return RouterTest_Pump(links(), ms, done);
  }

  // Registers `names` on p and waits for the RN block; returns its RNs.
  std::vector<int> registerOn(TestPlugin *p, const std::vector<std::string> &names) {
    size_t before = p->rnBlocks.size();
    p->registerNames(names);
    if (!pump(5000, [&] { return p->rnBlocks.size() > before; })) return {};
    return p->rnBlocks.back();
  }

  // Asks for `name` from `client` and waits for the reply.
  RT_Reply request(TestPlugin *client, const std::string &name, int cookie, int provider = -1) {
    size_t before = client->replies.size();
    client->requestService(name, cookie, provider);
    if (!pump(10000, [&] { return client->replies.size() > before; }))
      return RT_Reply{"<no reply>", 0, 0, -1, -1, false, false, false};
    return client->replies.back();
  }

  // An echo client over an accepted reply (owned by the fixture).
  EchoClient *openEcho(TestPlugin *client, const RT_Reply &reply) {
    EchoClient *c = RouterTest_OpenEcho(client, reply, links());
    if (c) clients.push_back(c);
    return c;
  }

  // Sends one ping and waits for its pong.
  bool pingPong(EchoClient *c, int seq, const std::string &text) {
    size_t before = c->pongs.size();
    if (!c->send_Ping(seq, text.c_str())) return false;
    if (!pump(10000, [&] { return c->pongs.size() > before; })) return false;
    return c->pongs.back().first == seq && c->pongs.back().second == text;
  }

  // A provider `a` of `name` (echo) and a client `b` with an accepted echo
  // connection `c` (reply `r`), for tests that need others working.
  void connectPair(const std::string &name = "Alpha") {
    a = plugin();
    b = plugin();
    ASSERT_TRUE(a && b);
    a->serveEcho = true;
    registerOn(a, {name});
    r = request(b, name, 1);
    ASSERT_TRUE(r.accepted);
    c = openEcho(b, r);
    ASSERT_NE(c, nullptr);
  }
  TestPlugin *a = nullptr;
  TestPlugin *b = nullptr;
  RT_Reply r{};
  EchoClient *c = nullptr;

  RouterProcess router;
  std::vector<TestPlugin *> plugins;
  std::vector<EchoClient *> clients;
};
