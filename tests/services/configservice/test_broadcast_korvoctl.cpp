// The broadcast services driven by korvoctl processes through a real
// svc_router: listeners started before and after the broadcasts, block
// brackets, messages, file events with and without a filter, usage errors.
// The services run in the real svc_statemgr, which its configuration's own
// WhiteBoard connection keeps serving while connections come and go.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "e2e/e2e_process.h"

namespace {

const std::vector<std::string> kServices = {"BroadcastService.Config", "BroadcastService.File.Notify",
                                            "BroadcastService.File.Listen"};

class KorvoctlBroadcast : public ::testing::Test {
 protected:
  KorvoctlBroadcast() : router("svc_statemgr", kServices) {}

  std::vector<std::string> args(std::initializer_list<std::string> words) {
    std::vector<std::string> a = router.clientOptions();
    a.insert(a.end(), words);
    return a;
  }
  // Runs korvoctl to its end; its output lines, then "exit N".
  std::vector<std::string> run(std::initializer_list<std::string> words) {
    E2EChild c(e2eBinDir() + "/korvoctl", args(words));
    std::vector<std::string> lines;
    for (std::string l = c.readLine(); l != "<eof>" && l != "<timeout>"; l = c.readLine()) lines.push_back(l);
    lines.push_back("exit " + std::to_string(c.waitExit(10000)));
    return lines;
  }
  // Reads `n` lines from a running listener.
  static std::vector<std::string> read(E2EChild &c, int n) {
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i) lines.push_back(c.readLine());
    return lines;
  }

  E2ERouter router;
};

TEST_F(KorvoctlBroadcast, ConfigListenersSeeStoredLinesBroadcastsAndBrackets) {
  ASSERT_GT(router.port, 0);
  EXPECT_EQ(run({"config", "broadcast", "5", "five"}), (std::vector<std::string>{"exit 0"}));
  EXPECT_EQ(run({"config", "broadcast", "1", "one"}), (std::vector<std::string>{"exit 0"}));
  E2EChild listener(e2eBinDir() + "/korvoctl", args({"config", "listen"}));
  EXPECT_EQ(listener.readUntil("listening"), (std::vector<std::string>{"stored\tone", "stored\tfive", "listening"}));

  EXPECT_EQ(run({"config", "start-block"}).back(), "exit 0");
  EXPECT_EQ(run({"config", "broadcast", "3", "three\tx"}).back(), "exit 0");
  EXPECT_EQ(run({"config", "message", "-4", "hello"}).back(), "exit 0");
  EXPECT_EQ(run({"config", "end-block"}).back(), "exit 0");
  EXPECT_EQ(read(listener, 4), (std::vector<std::string>{"start-block", "notification\tthree x",
                                                         "message\t-4\thello", "end-block"}));
  EXPECT_EQ(run({"config", "list"}), (std::vector<std::string>{"one", "three x", "five", "exit 0"}));
  listener.signalChild(SIGINT);
  EXPECT_EQ(listener.waitExit(10000), 0);
}

TEST_F(KorvoctlBroadcast, FileListenersGetWhatTheyAskedFor) {
  ASSERT_GT(router.port, 0);
  E2EChild all(e2eBinDir() + "/korvoctl", args({"listen"}));
  E2EChild removals(e2eBinDir() + "/korvoctl", args({"listen", "--only", "removed,remotely-removed"}));
  ASSERT_EQ(all.readLine(), "listening");
  ASSERT_EQ(removals.readLine(), "listening");
  EXPECT_EQ(run({"notify", "created", "/k/a.c"}).back(), "exit 0");
  EXPECT_EQ(run({"notify", "removed", "/k/b.c"}).back(), "exit 0");
  EXPECT_EQ(run({"notify", "remotely-added", "repo", "/k/d", "main", "ann", "--directory"}).back(), "exit 0");
  EXPECT_EQ(run({"notify", "remotely-removed", "repo", "/k/e", "main", "ann"}).back(), "exit 0");
  EXPECT_EQ(read(all, 4), (std::vector<std::string>{"created\t/k/a.c", "removed\t/k/b.c",
                                                    "remotely-added\trepo\t/k/d\tmain\tann\t1",
                                                    "remotely-removed\trepo\t/k/e\tmain\tann"}));
  EXPECT_EQ(read(removals, 2), (std::vector<std::string>{"removed\t/k/b.c", "remotely-removed\trepo\t/k/e\tmain\tann"}));
  all.signalChild(SIGINT);
  removals.signalChild(SIGTERM);
  EXPECT_EQ(all.waitExit(10000), 0);
  EXPECT_EQ(removals.waitExit(10000), 0);
}

TEST_F(KorvoctlBroadcast, UsageErrorsEndWithStatusTwo) {
  EXPECT_EQ(run({"config", "broadcast", "x", "line"}).back(), "exit 2");
  EXPECT_EQ(run({"config", "nonsense"}).back(), "exit 2");
  EXPECT_EQ(run({"notify", "created"}).back(), "exit 2");
  EXPECT_EQ(run({"notify", "remotely-added", "r", "f", "b", "u", "--dir"}).back(), "exit 2");
  EXPECT_EQ(run({"listen", "--only", "created,sideways"}).back(), "exit 2");
}

}  // namespace
