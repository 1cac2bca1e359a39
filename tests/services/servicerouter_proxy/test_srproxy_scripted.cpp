// The router client against the scripted router of this process, for what
// the real router never does or the client cannot see from it: start-up
// failures, no plugin id, spare RNs, the order of the first messages,
// requests for unknown RNs and drops of unknown pairs, replies and answers
// with other names or cookies, a drop in the middle of a negotiation,
// questions nobody answers, StartPlugin, the forwarding log, and services
// loaded from a service library over a loopback pair.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fileregistry_client_impl.h"
#include "scripted_router.h"
#include "services/servicerouter_proxy/forwarding_stp_log.h"
#include "services/servicerouter_proxy/service_conn_retry_handler.h"
#include "services/servicerouter_proxy/shared_object_connection.h"
#include "services/servicerouter_proxy/shared_object_proxy.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"
#include "so_test_service.h"
#include "support/text_files.h"

namespace srtest {
namespace {

using Msgs = std::vector<std::pair<int, std::string>>;
using Client = FileRegistry_client_Impl;

bool said(const MessageCapture &c, const std::string &text) {
  return std::any_of(c.messages.begin(), c.messages.end(),
                     [&](auto &m) { return m.second.find(text) != std::string::npos; });
}

class SRScriptedTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ServiceRouter_Proxy::shutdown(false);
    factories.clear();
  }
  TestFactory *addFactory(const char *name) {
    return factories.emplace_back(std::make_unique<TestFactory>(name)).get();
  }
  // Starts the proxy as if launched by the scripted router, with `extra`
  // options after the connect option.
  bool start(std::vector<std::string> extra = {}, int timeoutMs = 5000) {
    extra.insert(extra.begin(), {"prog", "-connect_servicerouter", side.portText()});
    RouterPump pump(&side, timeoutMs);
    bool ok = startProxy(extra, &pump);
    proxy = servicerouter_proxy;
    return ok;
  }
  // A pump whose responder runs `send` once with the cookie of the next
  // logged line starting with `prefix` (the cookie is word `cookieWord`,
  // counted from the end when negative).
  std::unique_ptr<RouterPump> answer(const std::string &prefix, int cookieWord,
                                     std::function<void(int)> send, int ms = 5000) {
    int n = side.router->count(prefix);
    auto done = std::make_shared<bool>(false);
    return std::make_unique<RouterPump>(&side, ms, [=, this] {
      std::vector<std::string> w = words(side.router->line(prefix, n));
      if (w.size() < 2 || *done) return;
      *done = true;
      send(std::stoi(w[cookieWord < 0 ? w.size() + cookieWord : cookieWord]));
    });
  }
  // Asks for `name` through the router, which answers with `reply`.
  bool connect(const char *name, Client *client, std::function<void(int)> reply, bool *found,
               bool *accepted) {
    auto pump = answer("RequestServiceConnection ", -3, std::move(reply));
    return proxy->getServiceConnection(name, client, found, accepted, pump.get(), "/work/dir",
                                       true, false, true);
  }

  RouterSide side;
  std::vector<std::unique_ptr<TestFactory>> factories;
  ServiceRouter_Proxy *proxy = nullptr;
};

// Accepts the proxy's connection and closes it at once.
class CloseOnAccept : public RetryHandler {
 public:
  explicit CloseOnAccept(int listenFD) : RetryHandler(kRetryMillisBase + 3000), fd(listenFD) {}
  void idle() override {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) == 1) ::close(::accept(fd, nullptr, nullptr));
    getIdleNotifier()->notifySocketActivity(5, true);
  }
  int fd;
};

TEST_F(SRScriptedTest, StartupFailuresAreReported) {
  addFactory("Svc.A");
  side.router->pluginIdToGive = -1;
  MessageCapture capture;
  EXPECT_FALSE(start({}, 800));
  EXPECT_TRUE(side.router->saw("RegisterServiceList Svc.A"));
  EXPECT_EQ(proxy->getPluginId(), -1);
  EXPECT_EQ(capture.messages, (Msgs{{GEN_LEVEL_WARNING, "Unable to initialize service router.\n"}}));
  ServiceRouter_Proxy::shutdown(false);
  RouterSide refused;
  refused.closeListener();
  capture.clear();
  EXPECT_FALSE(startProxy({"prog", "-connect_servicerouter", refused.portText()}, nullptr));
  EXPECT_EQ(capture.messages,
            (Msgs{{GEN_LEVEL_ERROR, "Unable to connect to ServiceRouter who launched us.\n"}}));
  ServiceRouter_Proxy::shutdown(false);
  RouterSide closing;
  CloseOnAccept closer(closing.listenFD);
  EXPECT_FALSE(startProxy({"prog", "-connect_servicerouter", closing.portText()}, &closer));
  EXPECT_TRUE(said(capture, "Negotiation with ServiceRouter failed during initialization: "));
}

TEST_F(SRScriptedTest, FirstMessagesSpareRNsSecondStartupAndShutdown) {
  addFactory("Svc.0");
  addFactory("Svc.1");
  side.router->extraRNs = 2;
  MessageCapture capture;
  ASSERT_TRUE(start({"-sr_client_start_cookie", "77", "-sr_debug", "plug", "-sr_debugger", "gdb",
                     "-sr_private", "-sr_new"}));
  EXPECT_TRUE(said(capture, "Incompatible options specified, defaulting to connecting to launching "
                            "ServiceRouter.\n"));
  EXPECT_EQ(side.router->log, (std::vector<std::string>{
      "StartPluginEvent 77 1 ", std::string("SetWorkingDir ") + gen_getcwd(),
      "RegisterServiceList Svc.0,Svc.1", "PersistentService 0", "DebugPlugin plug 1 gdb (null)"}));
  ASSERT_TRUE(side.pumpUntil([&] { return proxy->getNumFactoriesAwaitingRN() == 0; }));
  EXPECT_EQ(proxy->getFactoryForRN(101), factories[1].get());
  EXPECT_EQ(proxy->getSpareRNs(), (std::vector<int>{102, 103}));
  EXPECT_FALSE(proxy->isLocalRN(102));
  // A second start-up returns at once, without even parsing.
  char word0[] = "prog", word1[] = "-connect_servicerouter", word2[] = "1";
  char *again[] = {word0, word1, word2, nullptr};
  int n = 3;
  EXPECT_TRUE(ServiceRouter_Proxy::startup(false, &n, again, nullptr, false, nullptr, false, true));
  EXPECT_EQ(n, 3);
  // Shut-down asks for the disconnect and closes the connection.
  EXPECT_FALSE(ServiceRouter_Proxy::shutdown(false));
  EXPECT_EQ(servicerouter_proxy, nullptr);
  EXPECT_TRUE(side.pumpUntil([&] { return side.transport->isDead(); }));
  EXPECT_TRUE(side.router->saw("RequestServiceRouterDisconnect"));
  EXPECT_TRUE(ServiceRouter_Proxy::shutdown(true));  // nothing left to do
}

// The host option names the location, but the connection goes to 127.0.0.1
// whatever it says; the protocol log file gets the proxy's own entries.
TEST_F(SRScriptedTest, HostAndLogOptionsAndNoOptionToConnectFor) {
  RouterPump pump(&side, 5000);
  const std::string logFile = std::string(gen_default_temp_dir()) + "/proxy.log";
  ASSERT_TRUE(startProxy({"prog", "-sr_connect_servicerouter_host", "far.example", "-sr_log", logFile,
                          "-sr_connect_servicerouter_port", side.portText()}, &pump));
  const char *host = nullptr;
  int port = 0;
  ASSERT_TRUE(servicerouter_proxy->getServiceRouterLocation(&host, &port, &pump));
  EXPECT_STREQ(host, "far.example");
  EXPECT_EQ(std::to_string(port), side.portText());
  EXPECT_EQ(side.router->count("RequestLocation"), 0);
  ServiceRouter_Proxy::shutdown(false);
  const std::string logged = testsupport::readFile(logFile);
  EXPECT_NE(logged.find("Created global ServiceRouter_Proxy.\n"), std::string::npos);
  EXPECT_NE(logged.find("Destroying ServiceRouter_Proxy.\n"), std::string::npos);
  EXPECT_TRUE(startProxy({"prog", "-sr_zone", "z"}, nullptr));
  EXPECT_FALSE(servicerouter_proxy->isConnected());
  EXPECT_TRUE(servicerouter_proxy->isAlive());  // until a connection has been made and lost
}

TEST_F(SRScriptedTest, UnknownRNsAndPairsAreRefusedOrIgnored) {
  ASSERT_TRUE(start());
  ServiceRouter_STRING_ARRAY none;
  side.router->send_ConnectionRequestedEvent(99, 555, 7, none);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 555 7 0"); }));
  EXPECT_EQ(proxy->getNumPendingServiceConnections(), 0);
  EXPECT_FALSE(proxy->acceptedAConnection());
  // Client connections (entered by the requesting code) release their RN.
  Client *first = new Client(), *second = new Client();
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

TEST_F(SRScriptedTest, OutgoingReplyIsMatchedByNameAndCookieAndADropFailsTheNegotiation) {
  ASSERT_TRUE(start());
  TestService *provider = new TestService;  // the provider's end, on the router's transport
  provider->setTransport(side.transport, 500, 300);
  int cookie = -1;
  Client *client = new Client, *other = new Client, *dropped = new Client;
  bool found = false, accepted = false;
  ASSERT_TRUE(connect("Remote.Service", client, [&](int c) {
    cookie = c;
    side.router->send_ConnectionReplyEvent("Remote.Service", 301, true, false, true, 501, 8, "", c + 1);
    side.router->send_ConnectionReplyEvent("Other.Service", 302, true, false, false, 502, 8, "", c);
    side.router->send_ConnectionReplyEvent("Remote.Service", 300, true, false, true, 500, 7, "", c);
    provider->sendNegotiate(true, nullptr, nullptr);
  }, &found, &accepted));
  EXPECT_TRUE(found && accepted && client->isNegotiated());
  EXPECT_EQ(client->getRemoteRN(), 500);
  EXPECT_TRUE(proxy->isLocalRN(300));
  EXPECT_TRUE(proxy->isClientServiceConnection(client));
  EXPECT_EQ(proxy->getPluginIdForConnection(client), 7);
  EXPECT_EQ(side.router->line("RequestServiceConnection "),
            "RequestServiceConnection Remote.Service -1 cwd," + std::string(gen_getcwd()) +
                " /work/dir 1 " + std::to_string(cookie) + " 0 1");
  client->send_AddFile("x.txt", "t");
  ASSERT_TRUE(side.pumpUntil([&] { return provider->added.size() == 1; }));
  // The replies nobody took are still there: one with the other cookie
  // (whose provider never negotiates) and one with the other name, refused.
  RouterPump shortPump(&side, 300);
  found = accepted = false;
  EXPECT_FALSE(proxy->awaitConnectionReplyEvent("Remote.Service", other, cookie + 1, &found, &accepted, &shortPump));
  EXPECT_TRUE(found && accepted);
  EXPECT_FALSE(proxy->awaitConnectionReplyEvent("Other.Service", other, cookie, &found, &accepted, &shortPump));
  EXPECT_TRUE(found && !accepted);
  EXPECT_FALSE(proxy->awaitConnectionReplyEvent("Other.Service", other, cookie, &found, &accepted, &shortPump));
  EXPECT_FALSE(found);  // taken

  // The router drops a new connection before its provider's negotiation
  // arrives: it must not end up recorded as alive.
  TestService *late = new TestService;
  late->setTransport(side.transport, 510, 310);
  int before = proxy->getNumServiceConnections();
  EXPECT_FALSE(connect("Remote.Service", dropped, [&](int c) {
    side.router->send_ConnectionReplyEvent("Remote.Service", 310, true, false, true, 510, 7, "", c);
    side.router->send_ConnectionDroppedEvent(310, 510);
    late->sendNegotiate(true, nullptr, nullptr);
  }, &found, &accepted));
  EXPECT_EQ(proxy->getNumServiceConnections(), before);
  EXPECT_FALSE(proxy->isClientServiceConnection(dropped));
  // Dropped and never negotiated: the wait ends with the drop, a few pump
  // rounds later, not at the pump's time-out (which a null handler never has).
  Client *orphan = new Client;
  int rounds = 0, roundsAtDrop = -1, asked = side.router->count("RequestServiceConnection ");
  auto pump = std::make_unique<RouterPump>(&side, 60000, [&] {
    ++rounds;
    std::vector<std::string> w = words(side.router->line("RequestServiceConnection ", asked));
    if (roundsAtDrop >= 0 || w.size() < 3) return;
    roundsAtDrop = rounds;
    int c = std::stoi(w[w.size() - 3]);
    side.router->send_ConnectionReplyEvent("Remote.Service", 320, true, false, true, 520, 7, "", c);
    side.router->send_ConnectionDroppedEvent(320, 520);
  });
  EXPECT_FALSE(proxy->getServiceConnection("Remote.Service", orphan, &found, &accepted, pump.get(),
                                           "/work/dir", true, false, true));
  EXPECT_GE(roundsAtDrop, 0);
  EXPECT_LT(rounds - roundsAtDrop, 20);
  EXPECT_FALSE(orphan->isNegotiated());
  for (STPSpecClass *e : std::vector<STPSpecClass *>{other, client, provider, dropped, late, orphan}) e->delRef();
}

TEST_F(SRScriptedTest, PluginIdValueLaunchAndConnectAnswersAreMatchedByCookieOrName) {
  ASSERT_TRUE(start());
  auto idPump = answer("RequestPluginIdForService ", 1, [&](int c) {
    side.router->send_PluginIdForServiceReplyEvent(c + 50, "Name.Service", 1, true);
    side.router->send_PluginIdForServiceReplyEvent(c, "Name.Service", 33, true);
  });
  bool found = false;
  EXPECT_EQ(proxy->getPluginIdForService("Name.Service", "/wd", idPump.get(), true, &found), 33);
  EXPECT_TRUE(found);
  std::string req = side.router->line("RequestPluginIdForService ");
  EXPECT_EQ(req.substr(req.find(" Name")), " Name.Service /wd 1");

  auto valuePump = answer("RequestValueOfNameOnPlugin ", 1, [&](int plugin) {
    side.router->send_ValueOfNameOnPluginEvent(plugin, "size", "XL");  // does not end the wait
    side.router->send_ValueOfNameOnPluginEvent(plugin, "color", "blue");
  });
  EXPECT_STREQ(proxy->getValueOfNameForPlugin(55, "color", valuePump.get()), "blue");
  EXPECT_STREQ(proxy->getValueOfNameForPlugin(55, "color", valuePump.get()), "blue");
  EXPECT_STREQ(proxy->getValueOfNameForPlugin(55, "size", valuePump.get()), "XL");
  EXPECT_EQ(side.router->count("RequestValueOfNameOnPlugin"), 1);  // the rest from the cache

  auto launchPump = answer("RequestPluginLaunch ", -3, [&](int c) {
    side.router->send_PluginConnectedEvent(c + 1000, 5, "other");
    side.router->send_PluginConnectedEvent(c, 77, "it complained");
  });
  char *errors = nullptr;
  EXPECT_EQ(proxy->launchPlugin("prog 'a b' c", launchPump.get(), true, &errors), 77);
  EXPECT_EQ(take(errors), "it complained");
  // The words joined with ",", the cookie, client start, no directory.
  req = side.router->line("RequestPluginLaunch ");
  EXPECT_EQ(req.substr(0, 31) + req.substr(req.size() - 9), "RequestPluginLaunch prog,a b,c  1 (null)") << req;

  auto connectPump = answer("RequestPluginConnect ", -1, [&](int c) {
    side.router->send_PluginConnectedEvent(c, 9, nullptr);
  });
  char stale[] = "stale";  // out-values are replaced, never freed
  errors = stale;
  EXPECT_EQ(proxy->connectToPlugin("otherhost", 6000, connectPump.get(), &errors), 9);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(words(side.router->line("RequestPluginConnect ")).at(2), "6000");
}

TEST_F(SRScriptedTest, BadOrUnansweredQuestionsFail) {
  ASSERT_TRUE(start());
  RouterPump silent(&side, 300);
  Client *client = new Client;
  bool found = true, accepted = true;
  char stale[] = "stale";
  char *errors = stale;
  EXPECT_FALSE(proxy->getServiceConnection("Silent", client, &found, &accepted, &silent, nullptr,
                                           false, false, false));
  EXPECT_FALSE(found);
  EXPECT_EQ(client->getTransport(), nullptr);
  found = true;
  EXPECT_EQ(proxy->getPluginIdForService("Silent", nullptr, &silent, false, &found), -1);
  EXPECT_FALSE(found);
  EXPECT_EQ(proxy->getValueOfNameForPlugin(56, "color", &silent), nullptr);
  EXPECT_EQ(proxy->getValueOfNameForPlugin(56, nullptr, &silent), nullptr);
  EXPECT_EQ(proxy->launchPlugin("nobody answers", &silent, false, &errors), -1);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(proxy->connectToPlugin("h", 1, &silent, &errors), -1);
  // Bad input is refused without asking the router.
  size_t asked = side.router->log.size();
  EXPECT_EQ(proxy->launchPlugin("", &silent, false, &errors), -1);
  EXPECT_EQ(proxy->launchPlugin(static_cast<char **>(nullptr), 0, &silent, false, nullptr), -1);
  EXPECT_EQ(proxy->connectToPlugin("", 5, &silent, &errors), -1);
  EXPECT_EQ(take(errors), "Invalid host specified.");
  EXPECT_EQ(proxy->connectToPlugin(nullptr, 5, &silent, nullptr), -1);
  side.pumpFor(50);
  EXPECT_EQ(side.router->log.size(), asked);

  // ServiceConnRetryHandler gives up once its endpoint is down.
  ServiceConnRetryHandler rh(client, kRetryMillisBase + 2000);
  EXPECT_EQ(rh.getTransport(), proxy->getTransport());
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

TEST_F(SRScriptedTest, StartPluginChecksItsWordsAndStartsInTheDirectory) {
  ASSERT_TRUE(start());
  std::string dir = take(gen_realpath(gen_default_temp_dir())) + "/plugin_wd";
  mkdir(dir.c_str(), 0755);
  std::vector<std::string> argv = {"sh", "-c", "pwd > where.txt", "x", "y", "z", "w"};
  std::vector<char *> w;
  for (std::string &word : argv) w.push_back(word.data());
  ServiceRouter_STRING_ARRAY a;
  a.count = 6;  // too few
  a.data = w.data();
  side.router->send_StartPlugin(a, 17, nullptr);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->count("StartPluginEvent") > 0; }));
  EXPECT_EQ(side.router->log.back(),
            "StartPluginEvent 17 0 Invalid arguments specified when attempting to launch plugin.");
  a.count = 7;
  side.router->send_StartPlugin(a, 18, dir.c_str());
  ASSERT_TRUE(side.pumpUntil([&] { return !proxy->getPluginPids().empty(); }));
  int pid = proxy->getPluginPids()[0];
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  std::ifstream in(dir + "/where.txt");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, dir);
  side.pumpFor(50);
  EXPECT_EQ(side.router->count("StartPluginEvent"), 1);  // the plugin reports its own start
  EXPECT_TRUE(proxy->notePluginPidExit(pid));
  EXPECT_FALSE(proxy->notePluginPidExit(pid));
}

TEST_F(SRScriptedTest, ForwardingLogSendsEachEntryAsOneMessage) {
  addFactory("Test.Local");  // RN 100
  ASSERT_TRUE(start());
  // The forwarded texts, a time stamp at the start shown as "T ".
  auto messages = [&] {
    std::vector<std::string> out;
    for (const std::string &l : side.router->log)
      if (l.compare(0, 16, "LogMessageEvent ") == 0)
        out.push_back(std::regex_replace(l.substr(16), std::regex("^-?\\d+:\\d+: "), "T "));
    return out;
  };
  {
    ForwardingSTPLog log(proxy);
    log.logEnd(nullptr, false);    // no block
    log.add("loose", 5);           // outside a block
    log.logStart(nullptr, false);
    log.add("first");
    log.logStart(nullptr, false);  // the first block is still open
    log.add("second", 3);
    log.logEnd(nullptr, false);
    log.logStart(nullptr, false);
    log.add("left open");
    EXPECT_TRUE(log.hasPendingBlock());
  }
  const std::vector<std::string> expected = {
      "T Logging for ServiceRouter_Proxy plugin connection started.\n",
      "Warning: Log block ending but there is no pending log.\n",
      "ERROR: pending_log not initialized, sending log message now rather than buffering into a "
      "single message.\n",
      "loose",
      "Warning: Starting new log bug pending log already exists, sending pending log now.\n",
      "T first", "T sec", "Warning: shutting down logging on plugin but pending log still exists.\n",
      "T left open", "T Logging for ServiceRouter_Proxy plugin connection ending.\n"};
  side.pumpUntil([&] { return messages().size() >= expected.size(); });
  EXPECT_EQ(messages(), expected);

  // Asked by the router, the proxy logs every service connection through it.
  side.router->send_StartLogging();
  ASSERT_TRUE(side.pumpUntil(
      [&] { return dynamic_cast<ForwardingSTPLog *>(proxy->getGlobalLog()) != nullptr; }));
  Client *client = new Client();
  client->setTransport(side.transport, 701, 100);
  ServiceRouter_STRING_ARRAY pairs;
  side.router->send_ConnectionRequestedEvent(99, 100, 701, pairs);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 100 701 1"); }));
  client->sendNegotiate(true, nullptr, nullptr);
  ASSERT_TRUE(side.pumpUntil([&] { return proxy->getNumServiceConnections() == 1; }));
  client->send_AddFile("f.txt", "text");
  EXPECT_TRUE(side.pumpUntil([&] {
    std::vector<std::string> m = messages();
    return std::any_of(m.begin(), m.end(), [](auto &l) { return l.rfind("T RECV: AddFile", 0) == 0; });
  }));
  client->delRef();
}

TEST(SRCacheTest, MalformedPairsAreSkippedAndLaterValuesReplace) {
  ServiceRouter_Proxy *proxy = ServiceRouter_Proxy::ensureProxy();
  struct Case {
    std::vector<const char *> words;
    const char *name;
    const char *expected;
  } cases[] = {
      {{"cwd", "/a", "last"}, "last", nullptr},  // the odd last name is ignored
      {{"cwd", nullptr, "k", "v"}, "cwd", "/a"},  // no value: the old one stays
      {{"cwd", nullptr, "k", "v"}, "k", "v"},
      {{nullptr, "x", "k2", ""}, "k2", ""},       // no name: skipped; "" counts
      {{"cwd", "/c"}, "cwd", "/c"},               // replaced
      {{}, "cwd", "/c"},
  };
  for (const Case &c : cases) {
    ServiceRouter_STRING_ARRAY pairs;
    pairs.count = static_cast<int>(c.words.size());
    pairs.data = const_cast<char **>(c.words.data());
    proxy->cacheNameValuePairs(5, pairs);
    const char *got = proxy->getCachedValue(5, c.name);
    EXPECT_EQ(std::string(got ? got : "<none>"), c.expected ? c.expected : "<none>") << c.name;
  }
  ServiceRouter_STRING_ARRAY countWithoutData;
  countWithoutData.count = 4;
  proxy->cacheNameValuePairs(5, countWithoutData);
  EXPECT_EQ(proxy->getCachedValue(6, "cwd"), nullptr);
  EXPECT_EQ(proxy->getCachedValue(5, nullptr), nullptr);
  ServiceRouter_Proxy::shutdown(false);
}

TEST_F(SRScriptedTest, SharedObjectServiceIsReachedOverTheLoopbackPair) {
  ASSERT_TRUE(start());
  const std::string lib = KORVO_TEST_SO_PATH;
  ASSERT_EQ(lib.substr(lib.size() - 3), ".so");
  Client *client = new Client;
  bool found = false, accepted = true;
  ASSERT_TRUE(connect("Test.SharedObject", client, [&](int c) {
    side.router->send_ConnectionReplyEvent("Test.SharedObject", 0, true, true, false, 0, -1,
                                           lib.substr(0, lib.size() - 3).c_str(), c);
  }, &found, &accepted)) << twl_last_shared_library_error();
  EXPECT_TRUE(found && !accepted && client->isNegotiated());
  EXPECT_TRUE(client->getTransport()->isLoopbackMode());
  EXPECT_TRUE(proxy->isClientServiceConnection(client));
  EXPECT_EQ(proxy->getPluginIdForConnection(client), -1);
  // A request and its reply across the pair.
  ASSERT_TRUE(client->send_AddFile("one.txt", "t", true));
  int num = 0;
  char **files = nullptr;
  STPRetryHandler rh(client->getTransport(), kRetryMillisBase + 3000);
  ASSERT_TRUE(client->send_GetFiles("t", &num, &files, &rh));
  ASSERT_EQ(num, 1);
  EXPECT_STREQ(files[0], "one.txt");
  free(files[0]);
  free(files);
  client->delRef();
}

// The library side as a service library runs it, here in this process:
// a connection to a service of the factory list, driven by driveIdle.
TEST_F(SRScriptedTest, LibrarySideServesThroughTheFactoryList) {
  addFactory("Test.InProcess");
  STPTransport *host = new STPTransport(32768);
  SharedObjectLoopbackInfo mine, theirs;
  host->getBufferInfo(&mine.start, &mine.used, &mine.capacity, &mine.data);
  host->getHandleReadInfo(&mine.readFunc, &mine.readCookie);
  EXPECT_EQ(SharedObject_Proxy::setupNewConnection("No.Such.Service", mine, &theirs), -1);
  int cookie = SharedObject_Proxy::setupNewConnection("Test.InProcess", mine, &theirs);
  ASSERT_NE(cookie, -1);
  STPTransport::initializeLoopbackSide(host, theirs.start, theirs.used, theirs.capacity,
                                       theirs.data, theirs.readFunc, theirs.readCookie);
  auto *service = static_cast<TestService *>(SharedObject_Proxy::getConnectionForCookie(cookie));
  Client *client = new Client;
  client->setTransport(host, 1, 2);
  ASSERT_TRUE(client->sendNegotiate(true, nullptr, nullptr));
  ASSERT_TRUE(service->sendNegotiate(true, nullptr, nullptr));
  STPRetryHandler rh(host, kRetryMillisBase + 2000);
  ASSERT_TRUE(client->awaitNegotiate(&rh, nullptr));
  client->send_AddFile("queued.txt", "t");  // queued, not announced to the library
  SharedObject_Proxy::driveIdle(cookie);
  EXPECT_EQ(service->added, std::vector<std::string>{"queued.txt"});
  EXPECT_TRUE(SharedObject_Proxy::shutdownConnection(cookie));
  EXPECT_FALSE(SharedObject_Proxy::shutdownConnection(cookie));
  EXPECT_EQ(SharedObject_Proxy::getTransportForCookie(cookie), nullptr);
  client->delRef();
  host->delRef();
}

TEST(SharedObjectConnectionTest, LoadFailuresAreReported) {
  STPSpecClass *endpoint = new Client;
  struct Case {
    const char *path, *service;
    Msgs said;
  } rows[] = {
      {"/no/such/library", "Test.SharedObject", {}},
      {"libm.so.6", "Test.SharedObject", {{GEN_LEVEL_ERROR, "Failed to get pointer to initialize function.\n"}}},
      {KORVO_TEST_SO_PATH, "Not.Offered",  // loads, but offers no such service
       {{GEN_LEVEL_ERROR, "Unable to get handle to shared object transport.\n"}}},
  };
  for (const Case &c : rows) {
    MessageCapture cap;
    SharedObjectConnection soc;
    EXPECT_FALSE(soc.initializeConnection(c.path, c.service, endpoint));
    EXPECT_EQ(cap.messages, c.said) << c.path;
    EXPECT_EQ(SharedObjectConnection::getConnectionForCookie(soc.getCookie()), soc.getCookie() ? &soc : nullptr);
  }
  EXPECT_EQ(endpoint->getRefCount(), 1);
  endpoint->delRef();
}

}  // namespace
}  // namespace srtest
