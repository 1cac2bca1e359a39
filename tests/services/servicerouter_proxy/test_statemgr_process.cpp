// svc_statemgr as the router starts it: it connects back to the scripted
// router, registers its services, keeps serving through SIGINT, and ends
// with status 0 once the router closes the connection; the launch check
// refuses a start without the router's options, and a router that cannot
// be reached ends it with status 1 and only the proxy's own message.
#include <signal.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_process.h"
#include "scripted_router.h"

namespace srtest {
namespace {

const std::string kErrFile = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/statemgr.err";

// svc_statemgr started with `args`; the exit status after at most 10 s (or
// -1), and its standard error.
struct Child : E2EChild {
  explicit Child(const std::vector<std::string> &args)
      : E2EChild(e2eBinDir() + "/svc_statemgr", args, kErrFile) {}
  int exitStatus() { return waitExit(10000); }
  static std::string err() {
    std::ifstream in(kErrFile);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST(StateMgrProcessTest, RegistersServesThroughSigintAndExitsWhenTheRouterCloses) {
  RouterSide side;
  Child child({"-connect_servicerouter", side.portText()});
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
  EXPECT_LT(child.waitExit(0), 0);  // still running
  // Still serving: a request for a service it does not have is refused.
  ServiceRouter_STRING_ARRAY none;
  side.router->send_ConnectionRequestedEvent(9, 500, 77, none);
  EXPECT_TRUE(side.pumpUntil([&] { return side.router->saw("ConnectionAcceptedEvent 500 77 0"); }, 10000));
  // No service was created, so the process never asks to leave by itself.
  EXPECT_EQ(side.router->count("RequestServiceRouterDisconnect"), 0);
  side.transport->closeConnection(nullptr);
  EXPECT_EQ(child.exitStatus(), 0) << child.err();
  // The scripted router does not route the configuration's connection to
  // the process's own WhiteBoard; the process warns once and goes on.
  EXPECT_EQ(child.err(), "svc_statemgr: warning: Unable to get connection to WhiteBoard.\n");
}

// Without the router's connect options (or with one lacking its value) the
// program refuses to run; with one before the last word it passes the check
// and, nothing answering, ends with status 1 and only the proxy's message.
TEST(StateMgrProcessTest, LaunchCheckRefusesAStandaloneStart) {
  RouterSide closed;
  closed.closeListener();
  const std::string refusal = "svc_statemgr: fatal: svc_statemgr may not be run as a standalone program\n";
  const std::string unreachable = "svc_statemgr: error: Unable to connect to ServiceRouter who launched us.\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, refusal}, {{"-sr_debug_startup", "x"}, refusal}, {{"-connect_servicerouter"}, refusal},
      {{"x", "-sr_connect_servicerouter_port"}, refusal},
      {{"-x", "-connect_servicerouter", closed.portText(), "-y"}, unreachable},
      {{"-x", "-sr_connect_servicerouter_port", closed.portText(), "-y"}, unreachable}};
  for (const auto &[args, said] : cases) {
    SCOPED_TRACE(args.size());
    Child child(args);
    EXPECT_EQ(child.exitStatus(), 1);
    EXPECT_EQ(child.err(), said);
  }
}

}  // namespace
}  // namespace srtest
