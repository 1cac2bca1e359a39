// svc_statemgr as the router starts it: it connects back to the scripted
// router, registers, keeps serving through SIGINT, and ends with status 0
// once the router closes the connection; the launch check refuses a start
// without the router's options, and a router that cannot be reached ends it
// with status 1 and only the proxy's own message. Every wait is
// bounded; a child that outlives its test is killed.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_process.h"
#include "scripted_router.h"

namespace srtest {
namespace {

// svc_statemgr started with `args` (after its own path), its stderr in a
// file read by err(). The E2EChild kills it if it outlives the test.
class Child : public E2EChild {
 public:
  explicit Child(const std::vector<std::string> &args)
      : E2EChild(e2eBinDir() + "/svc_statemgr", args, errFile()) {}
  bool running() { return waitExit(0) < 0; }
  // Waits at most 10 s for the end; the exit status, or -1.
  int exitStatus() { return waitExit(10000); }
  static std::string err() {
    std::ifstream in(errFile());
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  static std::string errFile() {
    const char *tmp = std::getenv("TMPDIR");
    return std::string(tmp ? tmp : "/tmp") + "/statemgr_process.err";
  }
};

TEST(StateMgrProcessTest, RegistersServesThroughSigintAndExitsWhenTheRouterCloses) {
  RouterSide side;
  side.router->pluginIdToGive = 5;
  Child child({"-connect_servicerouter", side.portText()});
  ASSERT_GT(child.pid, 0);
  ASSERT_TRUE(side.pumpUntil([&] { return side.router->saw("PersistentService 0"); }, 10000))
      << child.err();
  // All ten services, in the program's fixed module order; no working
  // directory (the router launched it without a start cookie).
  EXPECT_EQ(side.router->log.front(),
            "RegisterServiceList BroadcastService.Config,BroadcastService.File.Notify,"
            "BroadcastService.File.Listen,MRUService,TWL_WindowRegisterService,FileRegistry,"
            "WhiteBoard,Editor.Emacs,Editor.Vi,Editor.Other");
  EXPECT_EQ(side.router->count("SetWorkingDir"), 0);

  ASSERT_EQ(::kill(child.pid, SIGINT), 0);
  side.pumpFor(300);
  EXPECT_TRUE(child.running());
  // Still serving: a request for a service it does not have is refused.
  ServiceRouter_STRING_ARRAY none;
  side.router->send_ConnectionRequestedEvent(9, 500, 77, none);
  EXPECT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 500 77 0"); }, 10000));
  // No service was created, so the process never asks to leave by itself.
  EXPECT_EQ(side.router->count("RequestServiceRouterDisconnect"), 0);

  side.disconnect();
  EXPECT_EQ(child.exitStatus(), 0) << child.err();
  // The scripted router does not route the configuration's connection to
  // the process's own WhiteBoard; the process warns once and goes on.
  EXPECT_EQ(child.err(), "svc_statemgr: warning: Unable to get connection to WhiteBoard.\n");
}

// Without the router's connect options (or with one lacking its value) the
// program refuses to run; with one before the last word it passes the check
// and, nothing answering, ends with status 1 and only the proxy's message.
TEST(StateMgrProcessTest, LaunchCheckRefusesAStandaloneStartAndPassesWithTheConnectOption) {
  const std::string refusal = "svc_statemgr: fatal: svc_statemgr may not be run as a standalone program\n";
  const std::vector<std::vector<std::string>> refused = {
      {}, {"-sr_debug_startup", "x"}, {"-connect_servicerouter"}, {"x", "-sr_connect_servicerouter_port"}};
  for (const std::vector<std::string> &args : refused) {
    Child child(args);
    EXPECT_EQ(child.exitStatus(), 1) << args.size();
    EXPECT_EQ(child.err(), refusal) << args.size();  // named by the path's base name
  }
  RefusedPort port;
  for (const char *option : {"-connect_servicerouter", "-sr_connect_servicerouter_port"}) {
    Child child({"-x", option, std::to_string(port.port), "-y"});
    EXPECT_EQ(child.exitStatus(), 1) << option;
    EXPECT_EQ(child.err(), "svc_statemgr: error: Unable to connect to ServiceRouter who launched us.\n")
        << option;
  }
}

}  // namespace
}  // namespace srtest
