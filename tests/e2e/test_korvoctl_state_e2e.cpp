// End to end through svc_router and the real svc_statemgr: korvoctl sets
// and reads WhiteBoard values of every type, dumps a group and loads it
// into a new state manager, refuses a bad dump as a whole, watches the
// changes another korvoctl makes, and works the MRU lists.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e/e2e_process.h"

namespace {

using Lines = std::vector<std::string>;
using Result = std::pair<int, Lines>;

std::string tempFile(const std::string &stem) {
  const char *tmp = std::getenv("TMPDIR");
  return std::string(tmp ? tmp : "/tmp") + "/" + stem + "_" + std::to_string(getpid());
}

void writeFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string joined(const Lines &lines) {
  std::string text;
  for (const std::string &l : lines) text += l + "\n";
  return text;
}

class KorvoctlStateE2E : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(router->port, 0) << "svc_router did not start"; }

  Result run(const Lines &args, const std::string &errPath = "") {
    return e2eKorvoctl(*router, args, errPath);
  }
  // The dump of `group` as korvoctl printed it.
  std::string dump(const std::string &group) {
    Result r = run({"wb", "dump", group});
    EXPECT_EQ(r.first, 0);
    return joined(r.second);
  }

  std::unique_ptr<E2ERouter> router = std::make_unique<E2ERouter>();
};

TEST_F(KorvoctlStateE2E, SetAndGetEveryType) {
  struct Case {
    Lines set;          // after "wb set G"
    std::string name;   // then "wb get G NAME" prints
    Lines get;
  } cases[] = {
      {{"n", "--list", "a b", "c"}, "n", {"n\tlist\ta b\tc"}},
      {{"b", "--bool", "1"}, "b", {"b\tbool\ttrue"}},
      {{"b", "--bool", "false"}, "b", {"b\tbool\tfalse"}},
      {{"i", "--int", "-2147483648"}, "i", {"i\tint\t-2147483648"}},
      {{"s", "--string", "say \"hi\"\tthere\nnext \\ end"}, "s", {"s\tstring\tsay \"hi\"\\tthere\\nnext \\\\ end"}},
      {{"e", "--list"}, "e", {"e\tlist"}},
      {{"two", "--int", "2"}, "two", {"two\tint\t2"}},
      {{"two", "--string", " x "}, "two", {"two\tint\t2", "two\tstring\t x "}},
  };
  for (const Case &c : cases) {
    Lines set{"wb", "set", "G"};
    set.insert(set.end(), c.set.begin(), c.set.end());
    EXPECT_EQ(run(set).first, 0) << c.name;
    EXPECT_EQ(run({"wb", "get", "G", c.name}), (Result{0, c.get}));
  }
  EXPECT_EQ(run({"wb", "groups"}).second, (Lines{"G"}));
  EXPECT_EQ(run({"wb", "delete", "G", "two", "--type", "int"}).first, 0);
  EXPECT_EQ(run({"wb", "get", "G", "two"}).second, (Lines{"two\tstring\t x "}));
  // Usage errors send nothing; a missing value fails.
  struct Fail {
    Lines args;
    int status;
  } fails[] = {
      {{"wb", "set", "G", "x", "--int", "2147483648"}, 2},
      {{"wb", "set", "G", "x", "--int", "12abc"}, 2},
      {{"wb", "set", "G", "x", "--bool", "yes"}, 2},
      {{"wb", "set", "G", "x", "--string", "a", "b"}, 2},
      {{"wb", "set", "G", "x", "--float", "1"}, 2},
      {{"wb", "get", "G", "x"}, 1},
      {{"wb", "get", "Nothing"}, 1},
      {{"wb", "delete", "G", "s", "--type", "int"}, 1},
      {{"wb", "frobnicate"}, 2},
  };
  for (const Fail &f : fails) EXPECT_EQ(run(f.args).first, f.status) << f.args[2];
  EXPECT_EQ(run({"wb", "get", "G", "x"}).second, Lines{});
}

TEST_F(KorvoctlStateE2E, DumpLoadsIntoANewStateManagerAndABadLoadChangesNothing) {
  ASSERT_EQ(run({"wb", "set", "G", "s", "--string", "tab\tquote\"nl\nbyte\xff\xc3\xa9"}).first, 0);
  ASSERT_EQ(run({"wb", "set", "G", "l", "--list", "", "a b", "[x]"}).first, 0);
  ASSERT_EQ(run({"wb", "set", "G", "b", "--bool", "true"}).first, 0);
  ASSERT_EQ(run({"wb", "set", "G", "i", "--int", "-1"}).first, 0);
  ASSERT_EQ(run({"wb", "set", "Other", "x", "--int", "1"}).first, 0);
  std::string first = dump("G");
  std::string file = tempFile("g.dump");
  writeFile(file, first);
  router = std::make_unique<E2ERouter>();
  ASSERT_GT(router->port, 0);
  EXPECT_EQ(run({"wb", "get", "G"}).first, 1);  // the new one starts empty
  EXPECT_EQ(run({"wb", "load", file}).first, 0);
  EXPECT_EQ(dump("G"), first);
  EXPECT_EQ(run({"wb", "groups"}).second, (Lines{"G"}));

  std::string bad = tempFile("bad.dump");
  std::string err = tempFile("bad.err");
  writeFile(bad, "[G]\ni int 5\nnew string \"fine\"\nb bool maybe\n[Fresh]\nx int 1\n");
  EXPECT_EQ(run({"wb", "load", bad}, err).first, 1);
  EXPECT_NE(readFile(err).find(bad + ":4: bool takes one of true, false, 1 or 0"),
            std::string::npos)
      << readFile(err);
  EXPECT_EQ(dump("G"), first);
  EXPECT_EQ(run({"wb", "groups"}).second, (Lines{"G"}));
}

TEST_F(KorvoctlStateE2E, WatchSeesChangesFromAnotherKorvoctl) {
  ASSERT_EQ(run({"wb", "set", "W", "seed", "--bool", "0"}).first, 0);
  Lines args = router->clientOptions();
  args.insert(args.end(), {"wb", "watch", "W"});
  E2EChild watcher(e2eBinDir() + "/korvoctl", args);
  ASSERT_EQ(watcher.readLine(30000), "watching");
  ASSERT_EQ(run({"wb", "set", "W", "n", "--list", "a\tb", "c"}).first, 0);
  ASSERT_EQ(run({"wb", "set", "Unwatched", "n", "--int", "1"}).first, 0);
  ASSERT_EQ(run({"wb", "delete", "W", "n"}).first, 0);
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
  EXPECT_EQ(run({"mru", "add", "Files", "/a"}).first, 0);
  EXPECT_EQ(run({"mru", "add", "Files", "/b"}).first, 0);
  EXPECT_EQ(run({"mru", "list", "Files"}), (Result{0, {"/b", "/a"}}));
  EXPECT_EQ(run({"mru", "add", "files", "/c d"}).first, 0);  // names ignore case
  EXPECT_EQ(run({"mru", "add", "Files", "/A"}).first, 0);    // so do items
  EXPECT_EQ(run({"mru", "list", "Files"}).second, (Lines{"/a", "/c d", "/b"}));
  EXPECT_EQ(run({"mru", "lists"}).second, (Lines{"Files"}));
  EXPECT_EQ(run({"mru", "remove", "Files", "1"}).first, 0);
  EXPECT_EQ(run({"mru", "list", "Files"}).second, (Lines{"/a", "/b"}));
  EXPECT_EQ(run({"mru", "remove", "Files", "2"}).first, 1);
  EXPECT_EQ(run({"mru", "remove", "Files", "x"}).first, 2);
  EXPECT_EQ(run({"mru", "clear", "Files"}).first, 0);
  EXPECT_EQ(run({"mru", "list", "Files"}).first, 1);
  EXPECT_EQ(run({"mru", "clear", "Files"}).first, 1);
  EXPECT_EQ(run({"mru", "lists"}), (Result{0, {}}));

  EXPECT_EQ(run({"mru", "dir", "traceFILEdir", "/tmp/traces"}).first, 0);
  EXPECT_EQ(run({"mru", "dir", "9"}), (Result{0, {"/tmp/traces"}}));
  Result dirs = run({"mru", "dirs"});
  ASSERT_EQ(dirs.second.size(), 12u);
  EXPECT_EQ(dirs.second[9], "9\tTraceFileDir\t/tmp/traces");
  EXPECT_EQ(dirs.second[11], "11\t-\t-");
  EXPECT_EQ(run({"mru", "dir", "12"}).first, 2);
  EXPECT_EQ(run({"mru", "geometry", "NoSuchClass"}).first, 1);
  EXPECT_EQ(run({"mru", "columns", "NoSuchSet"}).first, 1);
}

}  // namespace
