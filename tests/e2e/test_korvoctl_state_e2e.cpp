// End to end through svc_router and the real svc_statemgr: korvoctl sets
// and reads WhiteBoard values, dumps a group and loads it into a new state
// manager, refuses a bad dump as a whole, watches the changes another
// korvoctl makes, works the MRU lists, shares the FileRegistry and the
// WindowRegister between processes, relays show and iconify to a window
// another korvoctl registered, and a registering process killed with
// SIGKILL leaves the register without its windows. Stopping the router
// ends its clients. The services' cases and the value formats are tested
// at the unit level; here their way through the processes and korvoctl's
// output and exit statuses are.
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
  static int status(const Lines &args) { return run(args).status; }
  static Lines out(const Lines &args, const E2ERouter &router = *shared) {
    E2ERun r = run(args, router);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  static std::unique_ptr<E2ERouter> shared;
};

std::unique_ptr<E2ERouter> KorvoctlStateE2E::shared;

TEST_F(KorvoctlStateE2E, SetGetDeleteAndExitStatuses) {
  struct Case {
    Lines set;          // after "wb set G"
    Lines get;          // "wb get G NAME" then prints
  } cases[] = {
      {{"n", "--list", "a b", "c"}, {"n\tlist\ta b\tc"}},
      {{"b", "--bool", "1"}, {"b\tbool\ttrue"}},
      {{"i", "--int", "-2147483648"}, {"i\tint\t-2147483648"}},
      {{"s", "--string", "say\t\"hi\""}, {"s\tstring\tsay\\t\"hi\""}},
      {{"two", "--int", "2"}, {"two\tint\t2"}},
      {{"two", "--string", " x "}, {"two\tint\t2", "two\tstring\t x "}},
  };
  for (const Case &c : cases) {
    Lines set{"wb", "set", "G"};
    set.insert(set.end(), c.set.begin(), c.set.end());
    SCOPED_TRACE(c.set[0] + " " + c.set[1]);
    EXPECT_EQ(status(set), 0);
    EXPECT_EQ(out({"wb", "get", "G", c.set[0]}), c.get);
  }
  EXPECT_EQ(status({"wb", "delete", "G", "two", "--type", "int"}), 0);
  EXPECT_EQ(out({"wb", "get", "G", "two"}), (Lines{"two\tstring\t x "}));
  // Usage errors (2) send nothing; what is not there fails (1).
  struct Fail {
    Lines args;
    int status;
  } fails[] = {
      {{"wb", "set", "G", "x", "--int", "2147483648"}, 2},
      {{"wb", "set", "G", "x", "--bool", "yes"}, 2},
      {{"wb", "set", "G", "x", "--string", "a", "b"}, 2},
      {{"wb", "set", "G", "x", "--float", "1"}, 2},
      {{"wb", "frobnicate"}, 2},
      {{"wb", "get", "G", "x"}, 1},
      {{"wb", "get", "Nothing"}, 1},
      {{"wb", "delete", "G", "s", "--type", "int"}, 1},
  };
  for (const Fail &f : fails) {
    E2ERun r = run(f.args);
    EXPECT_EQ(r.status, f.status) << f.args[2] << " " << f.args.back();
    EXPECT_EQ(r.out, Lines{});
  }
}

TEST_F(KorvoctlStateE2E, DumpLoadsIntoANewStateManagerAndABadLoadChangesNothing) {
  ASSERT_EQ(status({"wb", "set", "D", "s", "--string", "tab\tnl\nbyte\xff\xc3\xa9"}), 0);
  ASSERT_EQ(status({"wb", "set", "D", "l", "--list", "", "a b", "[x]"}), 0);
  ASSERT_EQ(status({"wb", "set", "D", "i", "--int", "-1"}), 0);
  ASSERT_EQ(status({"wb", "set", "Other", "x", "--int", "1"}), 0);
  Lines first = out({"wb", "dump", "D"});
  std::string file = e2eTempPath("d.dump");
  std::ofstream(file, std::ios::binary) << [&] {
    std::string text;
    for (const std::string &l : first) text += l + "\n";
    return text;
  }();

  E2ERouter fresh;
  ASSERT_GT(fresh.port, 0);
  EXPECT_EQ(run({"wb", "get", "D"}, fresh).status, 1);  // the new one starts empty
  EXPECT_EQ(run({"wb", "load", file}, fresh).status, 0);
  EXPECT_EQ(out({"wb", "dump", "D"}, fresh), first);
  EXPECT_EQ(out({"wb", "groups"}, fresh), (Lines{"D"}));

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
  ASSERT_EQ(status({"wb", "set", "W", "seed", "--bool", "0"}), 0);
  Lines args = shared->clientOptions();
  args.insert(args.end(), {"wb", "watch", "W"});
  E2EChild watcher(e2eBinDir() + "/korvoctl", args);
  ASSERT_EQ(watcher.readLine(30000), "watching");
  ASSERT_EQ(status({"wb", "set", "W", "n", "--list", "a\tb", "c"}), 0);
  ASSERT_EQ(status({"wb", "set", "Unwatched", "n", "--int", "1"}), 0);
  ASSERT_EQ(status({"wb", "delete", "W", "n"}), 0);
  std::string set = watcher.readLine(), deleted = watcher.readLine();
  // "2026-01-31T12:00:00.000Z" first.
  ASSERT_GT(set.size(), 25u);
  EXPECT_EQ(set.substr(10, 1) + set.substr(23, 2), "TZ\t") << set;
  EXPECT_EQ(set.substr(25), "set\tW\tn\tlist\ta\\tb\tc");
  EXPECT_EQ(deleted.substr(24), "\tdelete\tW\tn\tany");
  watcher.signalChild(SIGINT);
  EXPECT_EQ(watcher.waitExit(5000), 0);
  EXPECT_EQ(watcher.readLine(1000), "<eof>");  // nothing of the unwatched group
}

TEST_F(KorvoctlStateE2E, MruListsAndDirectories) {
  EXPECT_EQ(status({"mru", "add", "Files", "/a"}), 0);
  EXPECT_EQ(status({"mru", "add", "files", "/c d"}), 0);
  EXPECT_EQ(out({"mru", "list", "Files"}), (Lines{"/c d", "/a"}));
  EXPECT_EQ(out({"mru", "lists"}), (Lines{"Files"}));
  EXPECT_EQ(status({"mru", "remove", "Files", "0"}), 0);
  EXPECT_EQ(out({"mru", "list", "Files"}), (Lines{"/a"}));
  EXPECT_EQ(status({"mru", "remove", "Files", "1"}), 1);
  EXPECT_EQ(status({"mru", "clear", "Files"}), 0);
  EXPECT_EQ(out({"mru", "lists"}), Lines{});
  EXPECT_EQ(status({"mru", "dir", "traceFILEdir", "/tmp/traces"}), 0);
  EXPECT_EQ(out({"mru", "dir", "9"}), (Lines{"/tmp/traces"}));
  Lines dirs = out({"mru", "dirs"});
  ASSERT_EQ(dirs.size(), 12u);
  EXPECT_EQ(dirs[9], "9\tTraceFileDir\t/tmp/traces");
  EXPECT_EQ(dirs[11], "11\t-\t-");
  struct Fail {
    Lines args;
    int status;
  } fails[] = {
      {{"mru", "remove", "Files", "x"}, 2},
      {{"mru", "list", "Files"}, 1},        {{"mru", "clear", "Files"}, 1},
      {{"mru", "dir", "12"}, 2},            {{"mru", "geometry", "NoSuchClass"}, 1},
      {{"mru", "columns", "NoSuchSet"}, 1},
  };
  for (const Fail &f : fails) EXPECT_EQ(status(f.args), f.status) << f.args[1] << " " << f.args.back();
}

TEST_F(KorvoctlStateE2E, KorvoctlFilesFromSeveralProcesses) {
  for (const char *file : {"/src/with blank.c", "/src/b.c"})
    EXPECT_EQ(run({"files", "add", "C", file}).status, 0);
  EXPECT_EQ(run({"files", "list", "C"}).out, (Lines{"/src/b.c", "/src/with blank.c"}));
  EXPECT_EQ(run({"files", "remove", "C", "/src/b.c"}).status, 0);
  E2ERun listed = run({"files", "list", "C"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, (Lines{"/src/with blank.c"}));
  EXPECT_EQ(run({"files", "list", "nothing"}).out, Lines{});
  EXPECT_EQ(run({"files", "add", "C"}).status, 2);
  EXPECT_EQ(run({"files", "move", "C", "x"}).status, 2);
}

TEST_F(KorvoctlStateE2E, KorvoctlRelaysToARegisteredWindowThatLeavesWhenKilled) {
  Lines args = shared->clientOptions();
  args.insert(args.end(), {"windows", "register", "Editor", "main window", "7"});
  E2EChild owner(e2eBinDir() + "/korvoctl", args);
  ASSERT_EQ(owner.readLine(30000), "registered");
  E2ERun listed = run({"windows", "list"});
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
    EXPECT_EQ(run(r.command).status, 0) << r.command[1];
    if (!r.seen.empty()) {
      EXPECT_EQ(owner.readLine(), r.seen + "\tEditor\tmain window\t7");
    }
  }
  EXPECT_EQ(run({"windows", "register", "Editor", "t", "x"}).status, 2);

  // The router reports the killed process's end to the service, which then
  // drops its window (a moment later).
  owner.signalChild(SIGKILL);
  EXPECT_EQ(owner.waitExit(5000), 128 + SIGKILL);
  E2ERun left;
  for (int i = 0; i < 100; ++i, usleep(50000)) {
    left = run({"windows", "list"});
    if (left.out.empty()) break;
  }
  EXPECT_EQ(left.status, 0);
  EXPECT_EQ(left.out, Lines{});

  // A window closed by another process; the registrant ends on SIGINT.
  E2EChild second(e2eBinDir() + "/korvoctl", args);
  ASSERT_EQ(second.readLine(30000), "registered");
  EXPECT_EQ(run({"windows", "close-all"}).status, 0);
  EXPECT_EQ(second.readLine(), "close\tEditor\tmain window\t7");
  EXPECT_EQ(run({"windows", "list"}).out, Lines{});
  second.signalChild(SIGINT);
  EXPECT_EQ(second.waitExit(5000), 0);
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
