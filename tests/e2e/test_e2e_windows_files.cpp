// End to end through svc_router: separate client processes
// (e2e_script_client) share the FileRegistry and the WindowRegister,
// relay show/iconify/close requests to each other, and a client that goes
// away leaves the window register without its windows. The services run
// in the real svc_statemgr, which its configuration's own WhiteBoard
// connection keeps serving while the tests run.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"

namespace {

using Lines = std::vector<std::string>;

// A connected client of "windows" or "files" through `router`.
std::unique_ptr<E2EChild> startClient(const E2ERouter &router, const char *service) {
  std::vector<std::string> args{service};
  for (const std::string &o : router.clientOptions()) args.push_back(o);
  return std::make_unique<E2EChild>(e2eBinDir() + "/e2e_script_client", args);
}

class WindowsFilesE2E : public ::testing::Test {
 protected:
  E2ERouter router{"svc_statemgr", {"TWL_WindowRegisterService", "FileRegistry"}};

  void SetUp() override { ASSERT_GT(router.port, 0) << "svc_router did not start"; }

  // A connected client of "windows" or "files" (owned by the caller).
  std::unique_ptr<E2EChild> client(const char *service) {
    auto c = startClient(router, service);
    EXPECT_EQ(c->readLine(30000), "ready");
    return c;
  }

  // The connection name the register gave `c`'s windows.
  static std::string connectionOf(const Lines &listing, const std::string &title) {
    for (const std::string &l : listing)
      if (l.find(" " + title + " ") != std::string::npos) return l.substr(7, l.find(' ', 7) - 7);
    return "";
  }
};

TEST_F(WindowsFilesE2E, TwoProcessesSeeEachOthersFiles) {
  auto a = client("files");
  auto b = client("files");
  // A one-way add is only written to the router when "ok" comes back; the
  // list behind it on the same connection is answered once it was handled,
  // so adds from the two processes happen in this order.
  auto add = [](E2EChild &c, const std::string &type, const std::string &file) {
    EXPECT_EQ(c.run("add " + type + " " + file).back(), "ok add " + type + " " + file);
    EXPECT_EQ(c.run("list " + type).back(), "ok list " + type);
  };
  add(*a, "C", "/src/a.c");
  add(*b, "C", "/src/b.c");
  add(*a, "C", "/src/a.c");
  add(*b, "c", "/src/lower.c");
  EXPECT_EQ(b->run("list C"), (Lines{"file /src/a.c", "file /src/b.c", "end 2", "ok list C"}));
  // The registration outlives the connection that made it.
  a->run("quit");
  EXPECT_EQ(a->waitExit(5000), 0);
  auto c = client("files");
  EXPECT_EQ(c->run("list c"), (Lines{"file /src/lower.c", "end 1", "ok list c"}));
  EXPECT_EQ(c->run("remove C /src/a.c").back(), "ok remove C /src/a.c");
  EXPECT_EQ(c->run("list C"), (Lines{"file /src/b.c", "end 1", "ok list C"}));
}

TEST_F(WindowsFilesE2E, WindowsAreShownIconifiedAndClosedFromAnotherProcess) {
  auto owner = client("windows");
  auto other = client("windows");
  EXPECT_EQ(owner->run("add Editor main.c 11").back(), "ok add Editor main.c 11");
  EXPECT_EQ(owner->run("add Editor util.c 12").back(), "ok add Editor util.c 12");
  EXPECT_EQ(other->run("add Shell sh 1").back(), "ok add Shell sh 1");
  Lines listing = other->run("list");
  ASSERT_EQ(listing.size(), 5u);
  std::string ownerName = connectionOf(listing, "main.c");
  std::string otherName = connectionOf(listing, "sh");
  EXPECT_EQ(ownerName.rfind("__twlWinReg0x", 0), 0u);
  EXPECT_NE(ownerName, otherName);
  EXPECT_EQ(listing[0], "window " + ownerName + " Editor main.c 11");
  EXPECT_EQ(listing[1], "window " + ownerName + " Editor util.c 12");
  EXPECT_EQ(listing[2], "window " + otherName + " Shell sh 1");

  other->run("show " + ownerName + " Editor 12");
  EXPECT_EQ(owner->readLine(), "show Editor util.c 12");
  other->run("iconifyall");
  EXPECT_EQ(owner->readLine(), "iconify Editor main.c 11");
  EXPECT_EQ(owner->readLine(), "iconify Editor util.c 12");
  EXPECT_EQ(other->readLine(), "iconify Shell sh 1");
  owner->run("closeall");
  EXPECT_EQ(owner->readLine(), "close Editor main.c 11");
  EXPECT_EQ(owner->readLine(), "close Editor util.c 12");
  EXPECT_EQ(other->readLine(), "close Shell sh 1");
  EXPECT_EQ(other->run("list"), (Lines{"end 0", "ok list"}));
}

TEST_F(WindowsFilesE2E, ClientThatGoesAwayLeavesTheRegister) {
  auto quitter = client("windows");
  auto killed = client("windows");
  auto stays = client("windows");
  quitter->run("add Ed q 1");
  killed->run("add Ed k 2");
  stays->run("add Ed s 3");
  EXPECT_EQ(stays->run("list").size(), 5u);
  quitter->run("quit");
  EXPECT_EQ(quitter->waitExit(5000), 0);
  killed->signalChild(SIGKILL);
  EXPECT_EQ(killed->waitExit(5000), 128 + SIGKILL);
  // The router reports the ends to the service; the register then drops
  // their windows (a moment later for the killed one).
  Lines left;
  for (int i = 0; i < 100; ++i) {
    left = stays->run("list");
    left.pop_back();
    if (left.size() == 2) break;
    usleep(50000);
  }
  ASSERT_EQ(left.size(), 2u);
  EXPECT_NE(left[0].find(" Ed s 3"), std::string::npos);
  EXPECT_EQ(left[1], "end 1");
  // Nothing is relayed to the connections that went away; the survivor
  // still gets its own.
  stays->run("showall");
  EXPECT_EQ(stays->readLine(), "show Ed s 3");
}

TEST_F(WindowsFilesE2E, StoppingTheRouterEndsTheClients) {
  auto c = client("files");
  c->run("add T x");
  EXPECT_EQ(router.stop(), 0);
  EXPECT_EQ(c->readLine(5000), "<eof>");  // the client saw the router go
  EXPECT_EQ(c->waitExit(5000), 0);
}

std::pair<int, Lines> korvoctl(const E2ERouter &router, const std::vector<std::string> &args) {
  return e2eKorvoctl(router, args);
}

TEST_F(WindowsFilesE2E, KorvoctlFilesFromTwoProcesses) {
  EXPECT_EQ(korvoctl(router, {"files", "add", "C", "/src/with blank.c"}).first, 0);
  EXPECT_EQ(korvoctl(router, {"files", "add", "C", "/src/b.c"}).first, 0);
  EXPECT_EQ(korvoctl(router, {"files", "add", "c", "/src/lower.c"}).first, 0);
  auto listed = korvoctl(router, {"files", "list", "C"});
  EXPECT_EQ(listed, (std::pair<int, Lines>{0, {"/src/b.c", "/src/with blank.c"}}));
  EXPECT_EQ(korvoctl(router, {"files", "remove", "C", "/src/b.c"}).first, 0);
  EXPECT_EQ(korvoctl(router, {"files", "list", "C"}).second, (Lines{"/src/with blank.c"}));
  EXPECT_EQ(korvoctl(router, {"files", "list", "nothing"}), (std::pair<int, Lines>{0, {}}));
  EXPECT_EQ(korvoctl(router, {"files", "add", "C"}).first, 2);
  EXPECT_EQ(korvoctl(router, {"files", "move", "C", "x"}).first, 2);
}

TEST_F(WindowsFilesE2E, KorvoctlRegisteredWindowIsShownIconifiedAndClosed) {
  std::vector<std::string> args = router.clientOptions();
  args.insert(args.end(), {"windows", "register", "Editor", "main window", "7"});
  E2EChild owner(e2eBinDir() + "/korvoctl", args);
  ASSERT_EQ(owner.readLine(30000), "registered");
  auto listed = korvoctl(router, {"windows", "list"});
  ASSERT_EQ(listed.first, 0);
  ASSERT_EQ(listed.second.size(), 1u);
  std::string connection = listed.second[0].substr(0, listed.second[0].find('\t'));
  EXPECT_EQ(listed.second[0], connection + "\tEditor\tmain window\t7");
  EXPECT_EQ(korvoctl(router, {"windows", "show", connection, "Editor", "7"}).first, 0);
  EXPECT_EQ(owner.readLine(), "show\tEditor\tmain window\t7");
  EXPECT_EQ(korvoctl(router, {"windows", "show", "-", "Other", "7"}).first, 0);  // no such class
  EXPECT_EQ(korvoctl(router, {"windows", "iconify-all"}).first, 0);
  EXPECT_EQ(owner.readLine(), "iconify\tEditor\tmain window\t7");
  EXPECT_EQ(korvoctl(router, {"windows", "close-all"}).first, 0);
  EXPECT_EQ(owner.readLine(), "close\tEditor\tmain window\t7");
  EXPECT_EQ(korvoctl(router, {"windows", "list"}), (std::pair<int, Lines>{0, {}}));
  owner.signalChild(SIGINT);
  EXPECT_EQ(owner.waitExit(5000), 0);
  EXPECT_EQ(korvoctl(router, {"windows", "register", "Editor", "t", "x"}).first, 2);
}

TEST(StateManagerE2E, OffersBothServices) {
  // Started by activation from the default services file, which names
  // svc_statemgr for both services.
  E2ERouter router;
  ASSERT_GT(router.port, 0);
  EXPECT_EQ(startClient(router, "files")->readLine(30000), "ready");
  EXPECT_EQ(startClient(router, "windows")->readLine(30000), "ready");
}

}  // namespace
