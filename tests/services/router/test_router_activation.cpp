// Starting programs on demand: names listed in a services file, the test
// provider program started for them, programs that exit at once or do not
// register what they should, plugin-id queries that start a provider and
// launch requests the router carries out, and -start in a router launched
// by a client.
#include <tuple>

#include "services/router/router_fixture.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

std::string provider() { return RouterTest_BinDir() + "/router_test_provider"; }

// A services file naming the test provider for "Echo" and "Echo2" (it also
// lists "Missing", which the program does not register) and a program that
// exits at once for "Broken".
std::string writeServicesFile() {
  std::string path = e2eTempPath("services") + ".cfg";
  RouterTest_WriteFile(path, "echo_provider {\n  Program = \"" + provider() +
                                 "\"\n  Args = { \"-provide\", \"Echo\", \"-provide\", \"Echo2\" }\n"
                                 "  Services = { \"Echo\", \"Echo2\", \"Missing\" }\n}\n"
                                 "failing {\n  Program = \"" + provider() +
                                 "\"\n  Args = { \"-exit\", \"3\" }\n  Services = \"Broken\"\n}\n");
  return path;
}

int countOf(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

class RouterActivation : public RouterFixture {
 protected:
  void SetUp() override {
    logFile = e2eTempPath("internal") + ".log";
    routerArgs.insert(routerArgs.end(),
                      {"-services", writeServicesFile(), "-sr_log_internal", logFile});
    RouterFixture::SetUp();
  }
  std::string logFile;
};

// A request held for a started program is answered when the program has
// registered: not found when it does not provide the name. The running
// program serves its other names without a second start. (Requests that
// start a provider and go through are in the end-to-end tests.)
TEST_F(RouterActivation, ListedNameTheProgramDoesNotRegisterIsAnsweredAtRegistration) {
  TestPlugin *b = plugin();
  ASSERT_TRUE(b);
  RT_Reply r = request(b, "Missing", 5);
  EXPECT_EQ(std::make_tuple(r.name, r.found, r.cookie), std::make_tuple("Missing", false, 5));
  // The running instance will not provide it, and neither would a second.
  EXPECT_FALSE(request(b, "Missing", 6).found);
  RT_Reply echo = request(b, "Echo", 7);
  EXPECT_TRUE(echo.accepted);
  EXPECT_NE(echo.pluginId, b->pluginId);
  RT_Reply echo2 = request(b, "Echo2", 8);
  EXPECT_TRUE(echo2.accepted);
  EXPECT_EQ(echo2.pluginId, echo.pluginId);
  EXPECT_EQ(countOf(e2eReadFile(logFile), "started echo_provider"), 1);
}

TEST_F(RouterActivation, ProgramThatExitsAtOnceIsAnsweredWithinASecondAndTriedAgain) {
  TestPlugin *b = plugin();
  ASSERT_TRUE(b);
  for (int attempt = 0; attempt < 2; ++attempt) {
    long long start = ut_getTimeMillis64();
    RT_Reply r = request(b, "Broken", 30 + attempt);
    long long took = ut_getTimeMillis64() - start;
    EXPECT_EQ(r.cookie, 30 + attempt);
    EXPECT_FALSE(r.found);
    EXPECT_LT(took, 1000) << "answered when the program exited, not after the full wait";
  }
  EXPECT_EQ(countOf(e2eReadFile(logFile), "started failing"), 2);
  EXPECT_NE(router.stderrText().find("failing (pid"), std::string::npos) << router.stderrText();
}

TEST_F(RouterActivation, PluginIdOfAServiceWithAndWithoutStarting) {
  TestPlugin *b = plugin();
  ASSERT_TRUE(b);
  b->send_RequestPluginIdForService(1, "Echo", "/tmp", false);
  ASSERT_TRUE(pump(5000, [&] { return b->pluginIdReplies.size() == 1; }));
  EXPECT_FALSE(b->pluginIdReplies[0].found);
  EXPECT_EQ(b->pluginIdReplies[0].pluginId, -1);
  b->send_RequestPluginIdForService(2, "Echo", "/tmp", true);
  ASSERT_TRUE(pump(10000, [&] { return b->pluginIdReplies.size() == 2; }));
  const RT_PluginIdReply &started = b->pluginIdReplies[1];
  EXPECT_EQ(std::make_tuple(started.cookie, started.name, started.found), std::make_tuple(2, "Echo", true));
  EXPECT_GT(b->pluginIdReplies[1].pluginId, b->pluginId);
}

TEST_F(RouterActivation, LaunchRequestIsAnsweredWithTheNewPluginsId) {
  TestPlugin *b = plugin();
  ASSERT_TRUE(b);
  std::string prog = provider();
  char *words[] = {prog.data(), const_cast<char *>("-provide"), const_cast<char *>("Launched")};
  ServiceRouter_STRING_ARRAY argv{3, words};
  b->send_RequestPluginLaunch(argv, 9, false, "/tmp");
  ASSERT_TRUE(pump(10000, [&] { return !b->connected.empty(); })) << router.stderrText();
  EXPECT_EQ(std::make_tuple(b->connected[0].cookie, b->connected[0].errors), std::make_tuple(9, ""));
  EXPECT_GT(b->connected[0].pluginId, b->pluginId);
  RT_Reply r = request(b, "Launched", 1);
  EXPECT_TRUE(r.accepted);
  EXPECT_EQ(r.pluginId, b->connected[0].pluginId);
  // The launched program runs in the directory asked for.
  b->send_RequestValueOfNameOnPlugin(r.pluginId, "cwd");
  ASSERT_TRUE(pump(5000, [&] { return !b->valueEvents.empty(); }));
  EXPECT_EQ(b->valueEvents[0].value, std::optional<std::string>("/tmp"));

  char *missing[] = {const_cast<char *>("/no/such/program")};
  ServiceRouter_STRING_ARRAY argv2{1, missing};
  b->send_RequestPluginLaunch(argv2, 10, false, nullptr);
  ASSERT_TRUE(pump(5000, [&] { return b->connected.size() == 2; }));
  EXPECT_EQ(std::make_tuple(b->connected[1].cookie, b->connected[1].pluginId), std::make_tuple(10, -1));
  EXPECT_EQ(b->connected[1].errors.rfind("Unable to launch plugin: ", 0), 0u) << b->connected[1].errors;
}

// Launched by a client with -start: the router connects back to the
// client's port, starts the program at once (its names are registered
// without anyone asking), and ends after the idle time once only the
// started program is left; the program then ends with status 0.
TEST(RouterActivationStart, LaunchedWithStartEndsWhenOnlyTheStartedProgramIsLeft) {
  std::string logFile = e2eTempPath("internal") + ".log";
  TStat st;
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, &st);
  ASSERT_GE(lfd, 0);
  RouterProcess router;
  ASSERT_TRUE(router.spawn({"-connect_servicerouter", std::to_string(port), "-not_shared",
                            "-services", writeServicesFile(), "-start", "echo_provider",
                            "-idle_exit", "1000", "-sr_log_internal", logFile}));
  STPTransport *t = new STPTransport(32768);
  ASSERT_TRUE(t->listenOnFD(lfd, true, nullptr, &st)) << st.message;
  TestPlugin *b = TestPlugin::adopt(t);
  ASSERT_NE(b, nullptr);
  bool found = false;
  for (int cookie = 1; !found && cookie < 100; ++cookie) {
    b->send_RequestPluginIdForService(cookie, "Echo", "/tmp", false);
    RouterTest_Pump({b->link()}, 2000, [&] { return b->pluginIdReplies.size() == size_t(cookie); });
    found = !b->pluginIdReplies.empty() && b->pluginIdReplies.back().found;
    if (!found) RouterTest_Pump({b->link()}, 100, [] { return false; });
  }
  EXPECT_TRUE(found);
  b->destroy();
  int status = 0;
  ASSERT_TRUE(router.waitExit(20000, &status)) << router.stderrText();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string log = e2eReadFile(logFile);
  for (const char *logged : {"echo_provider (pid ", ") exited with status 0"})
    EXPECT_NE(log.find(logged), std::string::npos) << log;
}
