// The router's handling of the less common request fields, end to end: a
// real svc_router with a services file of test providers and a service
// library, and a real router client (e2e_script_client) driven by lines.
// Covered: where a provider started on demand runs, fresh instances
// (no_reuse), providers and launches the client starts (client_start) and
// their failures, and a service library loaded into the client.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "services/router/router_testkit.h"

namespace {

std::string tempDir() {
  const char *tmp = std::getenv("TMPDIR");
  char real[PATH_MAX] = {};
  return ::realpath(tmp && *tmp ? tmp : "/tmp", real) ? real : "/tmp";
}

std::string currentDir() {
  char buf[PATH_MAX] = {};
  return ::getcwd(buf, sizeof buf) ? buf : "";
}

std::string servicesText(const std::string &bin) {
  auto provider = [&](const char *block, const char *service) {
    return std::string(block) + " {\n  Program = \"" + bin + "/router_test_provider\"\n  Args = { \"-provide\", \"" +
           service + "\" }\n  Services = \"" + service + "\"\n}\n";
  };
  return provider("echo_provider", "Echo") + provider("started_by_client", "Started") +
         "unstartable {\n  Program = \"/no/such/program\"\n  Services = \"Unstartable\"\n}\n"
         "file_library {\n  SharedObject = \"libkorvo_fileregistry_service\"\n  Services = \"FileRegistry\"\n}\n";
}

// The text after `prefix` on the first line that starts with it, or
// "<none>".
std::string after(const std::vector<std::string> &lines, const std::string &prefix) {
  for (const std::string &l : lines)
    if (l.rfind(prefix, 0) == 0) return l.substr(prefix.size());
  return "<none>";
}

bool succeeded(const std::vector<std::string> &lines) {
  return !lines.empty() && lines.back().rfind("ok ", 0) == 0;
}

}  // namespace

class RouterProtocolE2E : public ::testing::Test {
 protected:
  // A router with the services file above and a script client in `mode`
  // connected to it.
  void startRouterAndClient(const std::string &mode = "router") {
    std::string file = tempDir() + "/" + RouterTest_Unique("services") + ".cfg";
    ASSERT_TRUE(RouterTest_WriteFile(file, servicesText(RouterTest_BinDir())));
    ASSERT_TRUE(router.start(
        {"-not_shared", "-idle_exit", "0", "-activation_timeout", "3000", "-services", file}))
        << router.stderrText();
    client = std::make_unique<E2EChild>(
        RouterTest_BinDir() + "/e2e_script_client",
        std::vector<std::string>{mode, "-sr_connect_servicerouter_port",
                                 std::to_string(router.port)});
    ASSERT_EQ(client->readLine(), "ready");
  }

  void TearDown() override {
    if (client) {
      client->send("quit");
      EXPECT_EQ(client->waitExit(15000), 0);
    }
    if (router.pid > 0) {
      int status = 0;
      EXPECT_TRUE(router.stop(SIGTERM, 15000, &status)) << router.stderrText();
    }
  }

  std::string newDir(const std::string &stem) {
    std::string dir = tempDir() + "/" + RouterTest_Unique(stem);
    ::mkdir(dir.c_str(), 0755);
    return dir;
  }

  RouterProcess router;
  std::unique_ptr<E2EChild> client;
};

// Each request asks for a fresh instance, so each one starts a provider;
// the provider reports the directory it runs in.
TEST_F(RouterProtocolE2E, ProviderStartedOnDemandRunsInTheRequestersDirectory) {
  startRouterAndClient();
  const std::string a = newDir("wd_a"), b = newDir("wd_b");
  struct Row {
    bool setwd;          // SetWorkingDir (b) before the request
    std::string request; // the request's working_dir ("" none)
    std::string expected;
  } rows[] = {
      {false, "", currentDir()},  // neither: the router's own directory
      {false, a, a},
      {true, "", b},              // the requester's SetWorkingDir
      {true, a, a},               // the request's directory comes first
  };
  std::set<std::string> providers;
  for (const Row &row : rows) {
    if (row.setwd) {
      ASSERT_TRUE(succeeded(client->run("setwd " + b)));
    }
    std::string cmd = "connect Echo noreuse" + (row.request.empty() ? "" : " wd=" + row.request);
    std::vector<std::string> out = client->run(cmd);
    ASSERT_TRUE(succeeded(out)) << cmd << "\n" << router.stderrText();
    std::string id = after(out, "provider ");
    providers.insert(id);
    EXPECT_EQ(after(client->run("cwd " + id), "cwd "), row.expected) << cmd;
  }
  // no_reuse: every request got its own provider; without it the running
  // one is reused.
  EXPECT_EQ(providers.size(), std::size(rows));
  EXPECT_EQ(providers.count(after(client->run("connect Echo"), "provider ")), 1u);

  // A directory that does not exist fails the request; the router goes on.
  EXPECT_FALSE(succeeded(client->run("connect Echo noreuse wd=/no/such/dir")));
  EXPECT_NE(router.stderrText().find("/no/such/dir"), std::string::npos) << router.stderrText();
  EXPECT_TRUE(succeeded(client->run("connect Echo noreuse wd=" + a)));
}

TEST_F(RouterProtocolE2E, ClientStartedProvidersRunInTheRequesterAndAreReapedAtItsEnd) {
  startRouterAndClient();
  std::vector<std::string> out = client->run("connect Started clientstart");
  ASSERT_TRUE(succeeded(out)) << router.stderrText();
  EXPECT_NE(after(out, "provider "), "-1");
  out = client->run("launch " + RouterTest_BinDir() + "/router_test_provider -provide Launched");
  ASSERT_TRUE(succeeded(out)) << router.stderrText();
  std::string launched = after(out, "plugin ");
  EXPECT_GT(std::atoi(launched.c_str()), 0);
  EXPECT_EQ(launched.substr(launched.find(' ')), " errors ");

  // Both were started by the client: they are in its plugin-pid list.
  std::vector<int> pids;
  auto addPids = [&] {
    std::istringstream line(after(client->run("pids"), "pids "));
    for (int pid; line >> pid;)
      if (std::find(pids.begin(), pids.end(), pid) == pids.end()) pids.push_back(pid);
  };
  addPids();
  ASSERT_EQ(pids.size(), 2u);

  // A start the client cannot do fails what waited, with the client's text.
  out = client->run("launch /no/such/program");
  EXPECT_FALSE(succeeded(out));
  EXPECT_EQ(after(out, "plugin "), "-1 errors Unable to launch plugin.");
  EXPECT_FALSE(succeeded(client->run("connect Unstartable clientstart")));
  EXPECT_NE(router.stderrText().find("could not start unstartable: Unable to launch plugin."),
            std::string::npos)
      << router.stderrText();
  // A program that starts but never registers fails it at the time limit.
  out = client->run("launch /bin/true");
  EXPECT_EQ(after(out, "plugin "),
            "-1 errors The started plugin did not register within 3000 ms.");
  addPids();
  ASSERT_EQ(pids.size(), 3u);

  // The router's end closes every link: the providers end, and so does
  // the client, whose shut-down reaps them.
  int status = 0;
  ASSERT_TRUE(router.stop(SIGTERM, 15000, &status));
  std::vector<std::string> reaped;
  for (size_t i = 0; i < pids.size(); ++i) reaped.push_back(client->readLine(10000));
  for (int pid : pids) {
    EXPECT_NE(std::find(reaped.begin(), reaped.end(), "reaped " + std::to_string(pid)),
              reaped.end());
  }
  EXPECT_EQ(client->waitExit(15000), 0);
  client.reset();
}

// No process provides "FileRegistry" here: the client reaches it through
// the library the router names, loaded into the client.
TEST_F(RouterProtocolE2E, ServiceLibraryIsLoadedIntoTheRequestingProcess) {
  startRouterAndClient("files");
  ASSERT_TRUE(succeeded(client->run("add t /src/main.c")));
  EXPECT_EQ(after(client->run("list t"), "file "), "/src/main.c");
  EXPECT_EQ(after(client->run("mapped libkorvo_fileregistry_service.so"), "mapped "), "yes");
}
