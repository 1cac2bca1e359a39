// Plugins, name/value questions and log forwarding of the router client,
// against the scripted router of this process: StartPlugin checks and
// starts, launch and connect answers matched by cookie, values answered
// by message (other names arriving first) and then from the cache, and the
// texts of the forwarding log.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "services/servicerouter_proxy/forwarding_stp_log.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"
#include "srproxy_test_support.h"


namespace {

std::string currentDir() {
  char buf[4096];
  return getcwd(buf, sizeof buf) ? buf : "";
}

ServiceRouter_STRING_ARRAY arrayOf(std::vector<char *> &words) {
  ServiceRouter_STRING_ARRAY a;
  a.count = static_cast<int>(words.size());
  a.data = words.data();
  return a;
}

// Waits (bounded) for a child to end; true when it was reaped.
bool reap(int pid) {
  for (int i = 0; i < 500; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class SRPluginsTest : public srtest::SRRouterTest {
 protected:
  void SetUp() override {
    SRRouterTest::SetUp();
    cwdAtStart = currentDir();
    local = addFactory("Test.Local");
    ASSERT_TRUE(start());
    ASSERT_EQ(proxy->getPluginId(), 42);
  }

  // Lets the router's messages reach the proxy.
  void settle(int ms = 100) { side.pumpFor(ms); }

  std::string cwdAtStart;
  srtest::TestFactory *local = nullptr;
};

}  // namespace

// ---- StartPlugin

TEST_F(SRPluginsTest, StartPluginWithFewerThanSevenWordsIsRefused) {
  std::vector<std::string> storage = {"true", "a", "b", "c", "d", "e"};
  std::vector<char *> words;
  for (std::string &s : storage) words.push_back(s.data());
  side.router->send_StartPlugin(arrayOf(words), 17, nullptr);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->count("StartPluginEvent") > 0; }));
  EXPECT_TRUE(side.router->saw(
      "StartPluginEvent 17 0 Invalid arguments specified when attempting to launch plugin."));
  EXPECT_TRUE(proxy->getPluginPids().empty());
}

TEST_F(SRPluginsTest, StartPluginStartsTheProgramInTheWorkingDirectory) {
  std::string dir = take(gen_realpath(gen_default_temp_dir())) + "/plugin_wd";
  mkdir(dir.c_str(), 0755);
  std::string out = dir + "/where.txt";
  unlink(out.c_str());
  std::vector<std::string> storage = {"sh", "-c", "pwd > where.txt", "x", "y", "z", "w"};
  std::vector<char *> words;
  for (std::string &s : storage) words.push_back(s.data());
  side.router->send_StartPlugin(arrayOf(words), 18, dir.c_str());
  ASSERT_TRUE(side.pumpUntil([&] { return !proxy->getPluginPids().empty(); }));
  int pid = proxy->getPluginPids()[0];
  ASSERT_TRUE(reap(pid));
  std::ifstream in(out);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, dir);
  // The start was reported by nobody: the plugin does that itself.
  settle(50);
  EXPECT_EQ(side.router->count("StartPluginEvent"), 0);
  EXPECT_EQ(currentDir(), cwdAtStart);

  EXPECT_TRUE(proxy->notePluginPidExit(pid));
  EXPECT_FALSE(proxy->notePluginPidExit(pid));
  EXPECT_TRUE(proxy->getPluginPids().empty());
}

// ---- launching and connecting through the router

TEST_F(SRPluginsTest, LaunchWaitsForTheAnswerWithItsCookie) {
  int answered = 0;
  srtest::RouterPump pump(&side, 3000, [&] {
    std::string req = side.router->line("RequestPluginLaunch ");
    if (req.empty() || answered) return;
    answered = 1;
    // "RequestPluginLaunch words cookie clientStart dir"; the words hold a blank.
    int cookie = std::atoi(srtest::words(req).rbegin()[2].c_str());
    side.router->send_PluginConnectedEvent(cookie + 1000, 5, "other");
    side.router->send_PluginConnectedEvent(cookie, 77, "it complained");
  });
  char *errors = nullptr;
  int id = proxy->launchPlugin("prog 'a b' c", &pump, true, &errors);
  EXPECT_EQ(id, 77);
  EXPECT_EQ(take(errors), "it complained");
  std::string req = side.router->line("RequestPluginLaunch ");
  // The words joined with ",", the cookie, client start, no directory.
  EXPECT_EQ(req.substr(0, 31), "RequestPluginLaunch prog,a b,c ") << req;
  EXPECT_EQ(srtest::words(req).rbegin()[1], "1");
  EXPECT_EQ(srtest::words(req).back(), "(null)");
}

TEST_F(SRPluginsTest, LaunchAndConnectRefuseBadInputWithoutSending) {
  srtest::RouterPump pump(&side, 200);
  char stale[] = "stale";  // out-values are replaced, never freed
  char *errors = stale;
  EXPECT_EQ(proxy->launchPlugin("", &pump, false, &errors), -1);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(proxy->launchPlugin(static_cast<char **>(nullptr), 0, &pump, false, nullptr), -1);
  EXPECT_EQ(proxy->connectToPlugin("", 5, &pump, &errors), -1);
  EXPECT_EQ(take(errors), "Invalid host specified.");
  EXPECT_EQ(proxy->connectToPlugin(nullptr, 5, &pump, nullptr), -1);
  settle(50);
  EXPECT_EQ(side.router->count("RequestPluginLaunch"), 0);
  EXPECT_EQ(side.router->count("RequestPluginConnect"), 0);
}

TEST_F(SRPluginsTest, ConnectToPluginIsAnsweredByCookie) {
  bool answered = false;
  srtest::RouterPump pump(&side, 3000, [&] {
    std::string req = side.router->line("RequestPluginConnect ");
    if (req.empty() || answered) return;
    answered = true;
    side.router->send_PluginConnectedEvent(std::atoi(srtest::words(req).back().c_str()), 9, nullptr);
  });
  char stale[] = "stale";
  char *errors = stale;
  EXPECT_EQ(proxy->connectToPlugin("otherhost", 6000, &pump, &errors), 9);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(srtest::words(side.router->line("RequestPluginConnect "))[1], "otherhost");
  EXPECT_EQ(srtest::words(side.router->line("RequestPluginConnect "))[2], "6000");

}

// ---- name/value questions

TEST_F(SRPluginsTest, ValueAskedByMessageIsCachedAfterwards) {
  bool answered = false;
  srtest::RouterPump pump(&side, 3000, [&] {
    if (side.router->count("RequestValueOfNameOnPlugin 55 color") == 1 && !answered) {
      answered = true;
      // Another name first: it must not end the wait for "color".
      side.router->send_ValueOfNameOnPluginEvent(55, "size", "XL");
      side.router->send_ValueOfNameOnPluginEvent(55, "color", "blue");
    }
  });
  const char *v = proxy->getValueOfNameForPlugin(55, "color", &pump);
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(v, "blue");
  // Second time from the cache, and "size" was cached on the way.
  EXPECT_STREQ(proxy->getValueOfNameForPlugin(55, "color", &pump), "blue");
  EXPECT_STREQ(proxy->getValueOfNameForPlugin(55, "size", &pump), "XL");
  EXPECT_EQ(side.router->count("RequestValueOfNameOnPlugin"), 1);
  EXPECT_EQ(proxy->getValueOfNameForPlugin(56, nullptr, &pump), nullptr);
}

// ---- log forwarding

TEST_F(SRPluginsTest, StartLoggingForwardsEntriesOfServiceConnections) {
  side.router->send_StartLogging();
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->count("LogMessageEvent") >= 1; }));
  std::regex started(R"(LogMessageEvent -?\d+:\d+: Logging for ServiceRouter_Proxy plugin connection started\.\n)");
  EXPECT_TRUE(std::regex_match(side.router->log.back(), started)) << side.router->log.back();
  EXPECT_NE(dynamic_cast<ForwardingSTPLog *>(proxy->getGlobalLog()), nullptr);

  // A new service connection logs through the forwarding log: each entry
  // arrives as one message starting with its time stamp.
  srtest::TestClient *client = connectClient(100, 701);
  ASSERT_NE(client, nullptr);
  client->send_AddFile("f.txt", "text");
  ASSERT_TRUE(side.pumpUntil([&] {
    for (const std::string &l : side.router->log)
      if (l.find("RECV: AddFile") != std::string::npos) return true;
    return false;
  }));
  std::regex entry(R"(LogMessageEvent -?\d+:\d+: RECV: AddFile.*\n)");
  bool matched = false;
  for (const std::string &l : side.router->log) matched = matched || std::regex_match(l, entry);
  EXPECT_TRUE(matched);
  client->delRef();
}

TEST_F(SRPluginsTest, ForwardingLogTexts) {
  const std::string stamp = R"(-?\d+:\d+: )";
  auto messages = [&]() {
    std::vector<std::string> out;
    for (const std::string &l : side.router->log)
      if (l.compare(0, 16, "LogMessageEvent ") == 0) out.push_back(l.substr(16));
    return out;
  };
  {
    ForwardingSTPLog log(proxy);
    log.logEnd(nullptr, false);         // no block
    log.add("loose", 5);                // outside a block
    log.logStart(nullptr, false);
    log.add("first");
    log.logStart(nullptr, false);       // the first block is still open
    log.add("second", 3);
    log.logEnd(nullptr, false);
    log.logStart(nullptr, false);
    log.add("left open");
    EXPECT_TRUE(log.hasPendingBlock());
  }
  ASSERT_TRUE(side.pumpUntil([&] { return messages().size() >= 10; }));
  std::vector<std::string> m = messages();
  ASSERT_EQ(m.size(), 10u);
  EXPECT_TRUE(std::regex_match(m[0], std::regex(stamp + "Logging for ServiceRouter_Proxy plugin connection started\\.\n")));
  EXPECT_EQ(m[1], "Warning: Log block ending but there is no pending log.\n");
  EXPECT_EQ(m[2], "ERROR: pending_log not initialized, sending log message now rather than buffering into a single message.\n");
  EXPECT_EQ(m[3], "loose");
  EXPECT_EQ(m[4], "Warning: Starting new log bug pending log already exists, sending pending log now.\n");
  EXPECT_TRUE(std::regex_match(m[5], std::regex(stamp + "first"))) << m[5];
  EXPECT_TRUE(std::regex_match(m[6], std::regex(stamp + "sec"))) << m[6];
  EXPECT_EQ(m[7], "Warning: shutting down logging on plugin but pending log still exists.\n");
  EXPECT_TRUE(std::regex_match(m[8], std::regex(stamp + "left open"))) << m[8];
  EXPECT_TRUE(std::regex_match(m[9], std::regex(stamp + "Logging for ServiceRouter_Proxy plugin connection ending\\.\n")));
}
