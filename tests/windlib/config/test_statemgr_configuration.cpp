// svc_statemgr started by a real svc_router: after start-up its default
// configuration asks the router for the process's own "WhiteBoard" service;
// that open connection keeps the process serving while nothing else is
// connected, and it ends with status 0 once the router ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "e2e/e2e_process.h"

namespace {

std::string readFile(const std::string &path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Polls `path` until it contains `text` or `ms` passed.
bool waitFor(const std::string &path, const std::string &text, int ms) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (readFile(path).find(text) != std::string::npos) return true;
    usleep(20000);
  }
  return readFile(path).find(text) != std::string::npos;
}

TEST(StateMgrConfiguration, OwnWhiteBoardConnectionKeepsItServingUntilTheRouterEnds) {
  std::string tmp = getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp";
  std::string internal = tmp + "/router_internal.log";
  std::string protocol = tmp + "/router_protocol.log";
  E2EChild router(e2eBinDir() + "/svc_router",
                  {"-port", "0", "-idle_exit", "0", "-not_shared", "-sr_log_internal", internal,
                   "-log", protocol, "-start", "svc_statemgr"});
  ASSERT_TRUE(router.started());
  ASSERT_TRUE(waitFor(protocol, "ConnectionReplyEvent: serviceName:\"WhiteBoard\"", 10000))
      << readFile(protocol) << readFile(internal);
  EXPECT_NE(readFile(protocol).find("wasAccepted:0x1"), std::string::npos) << readFile(protocol);
  // Without the connection the process would leave as soon as every exit
  // condition agreed; it is still there a while later.
  usleep(1500 * 1000);
  EXPECT_EQ(readFile(internal).find("exited"), std::string::npos) << readFile(internal);

  router.signalChild(SIGTERM);
  EXPECT_GE(router.waitExit(15000), 0);
  EXPECT_TRUE(waitFor(internal, "svc_statemgr (pid ", 5000)) << readFile(internal);
  EXPECT_NE(readFile(internal).find(") exited with status 0"), std::string::npos)
      << readFile(internal);
}

}  // namespace
