// End to end through svc_router and the real svc_statemgr: korvoctl
// processes share the FileRegistry and the WindowRegister, relay show,
// iconify and close to a window another korvoctl registered, and a
// registering process killed with SIGKILL leaves the register without its
// windows. Stopping the router ends its clients. The services' cases are
// tested at the unit level; here the wiring through the processes is.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"

namespace {

using Lines = std::vector<std::string>;

class WindowsFilesE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    router = std::make_unique<E2ERouter>(
        "svc_statemgr", std::vector<std::string>{"TWL_WindowRegisterService", "FileRegistry"});
  }
  static void TearDownTestSuite() { router.reset(); }
  void SetUp() override { ASSERT_GT(router->port, 0) << "svc_router did not start"; }

  static E2ERun korvoctl(const Lines &args) { return e2eKorvoctl(*router, args); }

  static std::unique_ptr<E2ERouter> router;
};

std::unique_ptr<E2ERouter> WindowsFilesE2E::router;

TEST_F(WindowsFilesE2E, KorvoctlFilesFromSeveralProcesses) {
  for (const char *file : {"/src/with blank.c", "/src/b.c"})
    EXPECT_EQ(korvoctl({"files", "add", "C", file}).status, 0);
  EXPECT_EQ(korvoctl({"files", "list", "C"}).out, (Lines{"/src/b.c", "/src/with blank.c"}));
  EXPECT_EQ(korvoctl({"files", "remove", "C", "/src/b.c"}).status, 0);
  E2ERun listed = korvoctl({"files", "list", "C"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, (Lines{"/src/with blank.c"}));
  EXPECT_EQ(korvoctl({"files", "list", "nothing"}).out, Lines{});
  EXPECT_EQ(korvoctl({"files", "add", "C"}).status, 2);
  EXPECT_EQ(korvoctl({"files", "move", "C", "x"}).status, 2);
}

TEST_F(WindowsFilesE2E, KorvoctlRelaysToARegisteredWindowThatLeavesWhenKilled) {
  Lines args = router->clientOptions();
  args.insert(args.end(), {"windows", "register", "Editor", "main window", "7"});
  E2EChild owner(e2eBinDir() + "/korvoctl", args);
  ASSERT_EQ(owner.readLine(30000), "registered");
  E2ERun listed = korvoctl({"windows", "list"});
  ASSERT_EQ(listed.out.size(), 1u);
  std::string connection = listed.out[0].substr(0, listed.out[0].find('\t'));
  EXPECT_EQ(connection.rfind("__twlWinReg0x", 0), 0u);
  EXPECT_EQ(listed.out[0], connection + "\tEditor\tmain window\t7");
  struct Relay {
    Lines command;
    std::string seen;  // by the owner, "" for nothing
  } relays[] = {
      {{"windows", "show", "-", "Other", "7"}, ""},  // no such class
      {{"windows", "show", connection, "Editor", "7"}, "show"},
      {{"windows", "iconify-all"}, "iconify"},
  };
  for (const Relay &r : relays) {
    EXPECT_EQ(korvoctl(r.command).status, 0) << r.command[1];
    if (!r.seen.empty()) {
      EXPECT_EQ(owner.readLine(), r.seen + "\tEditor\tmain window\t7");
    }
  }
  EXPECT_EQ(korvoctl({"windows", "register", "Editor", "t", "x"}).status, 2);

  // The router reports the killed process's end to the service, which then
  // drops its window (a moment later).
  owner.signalChild(SIGKILL);
  EXPECT_EQ(owner.waitExit(5000), 128 + SIGKILL);
  E2ERun left;
  for (int i = 0; i < 100; ++i, usleep(50000)) {
    left = korvoctl({"windows", "list"});
    if (left.out.empty()) break;
  }
  EXPECT_EQ(left.status, 0);
  EXPECT_EQ(left.out, Lines{});
  EXPECT_EQ(korvoctl({"windows", "close-all"}).status, 0);
}

TEST(RouterStopE2E, StoppingTheRouterEndsTheClients) {
  E2ERouter router("svc_statemgr", {"FileRegistry"});
  ASSERT_GT(router.port, 0);
  Lines args{"files"};
  for (const std::string &o : router.clientOptions()) args.push_back(o);
  E2EChild client(e2eBinDir() + "/e2e_script_client", args);
  ASSERT_EQ(client.readLine(30000), "ready");
  EXPECT_EQ(client.run("add T x").back(), "ok add T x");
  EXPECT_EQ(router.stop(), 0);
  EXPECT_EQ(client.readLine(5000), "<eof>");  // the client saw the router go
  EXPECT_EQ(client.waitExit(5000), 0);
}

}  // namespace
