// End to end through svc_router and the real svc_statemgr: korvoctl's
// WhiteBoard, MRU and files subcommands as a table of command lines with
// their exit status and output; a dump loaded into a new state manager and
// a bad dump refused as a whole; watching another korvoctl's changes;
// relaying to a window another korvoctl registered, which leaves when that
// process is killed. Stopping the router ends its clients. The services'
// cases and the value formats are tested at the unit level; here their way
// through the processes and korvoctl's output and exit statuses are.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"

namespace {

using Lines = std::vector<std::string>;

// One router and state manager for the suite; each test uses its own
// WhiteBoard groups, MRU lists, file types and windows.
class KorvoctlStateE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { shared = std::make_unique<E2ERouter>(); }
  static void TearDownTestSuite() { shared.reset(); }
  void SetUp() override { ASSERT_GT(shared->port, 0) << "svc_router did not start"; }

  static E2ERun run(const Lines &args, const E2ERouter &router = *shared) {
    return e2eKorvoctl(router, args);
  }
  static Lines out(const Lines &args, const E2ERouter &router = *shared) {
    E2ERun r = run(args, router);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  // A korvoctl that keeps running (watch, windows register).
  static std::unique_ptr<E2EChild> background(const Lines &command) {
    Lines args = shared->clientOptions();
    args.insert(args.end(), command.begin(), command.end());
    return std::make_unique<E2EChild>(e2eBinDir() + "/korvoctl", args);
  }

  static std::unique_ptr<E2ERouter> shared;
};

std::unique_ptr<E2ERouter> KorvoctlStateE2E::shared;

// Rows run in order against one state manager. Usage errors (2) send
// nothing; what is not there fails (1); failures print nothing.
TEST_F(KorvoctlStateE2E, CommandLinesGiveTheirOutputAndExitStatus) {
  struct Row {
    const char *args;  // words separated by '|'
    int status;
    Lines out;
  } rows[] = {
      {"wb|set|G|n|--list|a b|c", 0, {}}, {"wb|get|G|n", 0, {"n\tlist\ta b\tc"}},
      {"wb|set|G|b|--bool|1", 0, {}}, {"wb|get|G|b", 0, {"b\tbool\ttrue"}},
      {"wb|set|G|i|--int|-2147483648", 0, {}}, {"wb|get|G|i", 0, {"i\tint\t-2147483648"}},
      {"wb|set|G|s|--string|say\t\"hi\"", 0, {}}, {"wb|get|G|s", 0, {"s\tstring\tsay\\t\"hi\""}},
      {"wb|set|G|two|--int|2", 0, {}}, {"wb|set|G|two|--string| x ", 0, {}},
      {"wb|get|G|two", 0, {"two\tint\t2", "two\tstring\t x "}},
      {"wb|delete|G|two|--type|int", 0, {}}, {"wb|get|G|two", 0, {"two\tstring\t x "}},
      {"wb|set|G|x|--int|2147483648", 2, {}}, {"wb|set|G|x|--bool|yes", 2, {}},
      {"wb|set|G|x|--string|a|b", 2, {}}, {"wb|set|G|x|--float|1", 2, {}}, {"wb|frobnicate", 2, {}},
      {"wb|get|G|x", 1, {}}, {"wb|get|Nothing", 1, {}}, {"wb|delete|G|s|--type|int", 1, {}},
      {"mru|add|Files|/a", 0, {}}, {"mru|add|files|/c d", 0, {}},
      {"mru|list|Files", 0, {"/c d", "/a"}}, {"mru|lists", 0, {"Files"}},
      {"mru|remove|Files|0", 0, {}}, {"mru|list|Files", 0, {"/a"}}, {"mru|remove|Files|1", 1, {}},
      {"mru|remove|Files|x", 2, {}}, {"mru|clear|Files", 0, {}}, {"mru|lists", 0, {}},
      {"mru|list|Files", 1, {}}, {"mru|clear|Files", 1, {}},
      {"mru|dir|traceFILEdir|/tmp/traces", 0, {}}, {"mru|dir|9", 0, {"/tmp/traces"}},
      {"mru|dir|12", 2, {}}, {"mru|geometry|NoSuchClass", 1, {}}, {"mru|columns|NoSuchSet", 1, {}},
      {"files|add|C|/src/with blank.c", 0, {}}, {"files|add|C|/src/b.c", 0, {}},
      {"files|list|C", 0, {"/src/b.c", "/src/with blank.c"}}, {"files|remove|C|/src/b.c", 0, {}},
      {"files|list|C", 0, {"/src/with blank.c"}}, {"files|list|nothing", 0, {}},
      {"files|add|C", 2, {}}, {"files|move|C|x", 2, {}}, {"windows|register|Editor|t|x", 2, {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.args);
    Lines args;
    for (std::string w, all = row.args; !all.empty(); all.erase(0, w.size() + 1))
      args.push_back(w = all.substr(0, all.find('|')));
    E2ERun r = run(args);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.out, row.out);
  }
  Lines dirs = out({"mru", "dirs"});
  ASSERT_EQ(dirs.size(), 12u);
  EXPECT_EQ(dirs[9], "9\tTraceFileDir\t/tmp/traces");
  EXPECT_EQ(dirs[11], "11\t-\t-");
}

TEST_F(KorvoctlStateE2E, DumpLoadsIntoANewStateManagerAndABadLoadChangesNothing) {
  for (const Lines &set : {Lines{"s", "--string", "tab\tnl\nbyte\xff\xc3\xa9"},
                           Lines{"l", "--list", "", "a b", "[x]"}, Lines{"i", "--int", "-1"}}) {
    Lines args{"wb", "set", "D"};
    args.insert(args.end(), set.begin(), set.end());
    ASSERT_EQ(run(args).status, 0);
  }
  ASSERT_EQ(run({"wb", "set", "Other", "x", "--int", "1"}).status, 0);
  Lines first = out({"wb", "dump", "D"});
  std::string file = e2eTempPath("d.dump"), text;
  for (const std::string &l : first) text += l + "\n";
  std::ofstream(file, std::ios::binary) << text;

  E2ERouter fresh;
  ASSERT_GT(fresh.port, 0);
  EXPECT_EQ(run({"wb", "get", "D"}, fresh).status, 1);  // the new one starts empty
  EXPECT_EQ(run({"wb", "load", file}, fresh).status, 0);
  EXPECT_EQ(out({"wb", "dump", "D"}, fresh), first);

  std::string bad = e2eTempPath("bad.dump");
  std::ofstream(bad) << "[D]\ni int 5\nnew string \"fine\"\nb bool maybe\n[Fresh]\nx int 1\n";
  E2ERun r = run({"wb", "load", bad}, fresh);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(bad + ":4: bool takes one of true, false, 1 or 0"), std::string::npos)
      << r.err;
  EXPECT_EQ(out({"wb", "dump", "D"}, fresh), first);
  EXPECT_EQ(out({"wb", "groups"}, fresh), (Lines{"D"}));
}

TEST_F(KorvoctlStateE2E, WatchSeesChangesFromAnotherKorvoctl) {
  ASSERT_EQ(run({"wb", "set", "W", "seed", "--bool", "0"}).status, 0);
  auto watcher = background({"wb", "watch", "W"});
  ASSERT_EQ(watcher->readLine(30000), "watching");
  ASSERT_EQ(run({"wb", "set", "W", "n", "--list", "a\tb", "c"}).status, 0);
  ASSERT_EQ(run({"wb", "set", "Unwatched", "n", "--int", "1"}).status, 0);
  ASSERT_EQ(run({"wb", "delete", "W", "n"}).status, 0);
  std::string set = watcher->readLine(), deleted = watcher->readLine();
  // "2026-01-31T12:00:00.000Z" first.
  ASSERT_GT(set.size(), 25u);
  EXPECT_EQ(set.substr(10, 1) + set.substr(23, 2), "TZ\t") << set;
  EXPECT_EQ(set.substr(25), "set\tW\tn\tlist\ta\\tb\tc");
  EXPECT_EQ(deleted.substr(24), "\tdelete\tW\tn\tany");
  watcher->signalChild(SIGINT);
  EXPECT_EQ(watcher->waitExit(5000), 0);
  EXPECT_EQ(watcher->readLine(1000), "<eof>");  // nothing of the unwatched group
}

TEST_F(KorvoctlStateE2E, KorvoctlRelaysToARegisteredWindowThatLeavesWhenKilled) {
  const Lines reg{"windows", "register", "Editor", "main window", "7"};
  auto owner = background(reg);
  ASSERT_EQ(owner->readLine(30000), "registered");
  Lines listed = out({"windows", "list"});
  ASSERT_EQ(listed.size(), 1u);
  std::string connection = listed[0].substr(0, listed[0].find('\t'));
  EXPECT_EQ(connection.rfind("__twlWinReg0x", 0), 0u);
  EXPECT_EQ(listed[0], connection + "\tEditor\tmain window\t7");
  struct Relay {
    Lines command;
    std::string seen;  // by the owner, "" for nothing
  } relays[] = {
      {{"windows", "show", "-", "Other", "7"}, ""},  // no such class
      {{"windows", "show", connection, "Editor", "7"}, "show"},
      {{"windows", "iconify-all"}, "iconify"},
  };
  for (const Relay &r : relays) {
    EXPECT_EQ(run(r.command).status, 0) << r.command[1];
    if (!r.seen.empty()) {
      EXPECT_EQ(owner->readLine(), r.seen + "\tEditor\tmain window\t7");
    }
  }
  // The router reports the killed process's end to the service, which then
  // drops its window (a moment later).
  owner->signalChild(SIGKILL);
  EXPECT_EQ(owner->waitExit(5000), 128 + SIGKILL);
  for (int i = 0; i < 100 && !listed.empty(); ++i, usleep(50000)) listed = out({"windows", "list"});
  EXPECT_EQ(listed, Lines{});

  // A window closed by another process; the registrant ends on SIGINT.
  auto second = background(reg);
  ASSERT_EQ(second->readLine(30000), "registered");
  EXPECT_EQ(run({"windows", "close-all"}).status, 0);
  EXPECT_EQ(second->readLine(), "close\tEditor\tmain window\t7");
  EXPECT_EQ(out({"windows", "list"}), Lines{});
  second->signalChild(SIGINT);
  EXPECT_EQ(second->waitExit(5000), 0);
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
