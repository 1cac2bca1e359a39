// Unit tests of the router's parts that need no process: the command line,
// routing-number allocation, the connection table, the service registry,
// the services file and the loop's readiness set.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <set>
#include <tuple>

#include "services/router/router_connections.h"
#include "services/router/router_launcher.h"
#include "services/router/router_options.h"
#include "services/router/router_poller.h"
#include "services/router/router_rn_table.h"
#include "services/router/router_services.h"
#include "services/router/router_services_file.h"
#include "services/router/router_testkit.h"

namespace {

bool parse(std::vector<std::string> words, Router_Options *o, std::string *error) {
  words.insert(words.begin(), "svc_router");
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  return Router_ParseOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}


}  // namespace

TEST(RouterOptions, ClientLaunchOptionsAndOwnOptions) {
  Router_Options o;
  std::string error;
  ASSERT_TRUE(parse({"-connect_servicerouter", "4711", "-log", "p.log", "-sr_log_internal",
                     "i.log", "-not_shared", "-sr_zone", "z1", "-start", "a", "-start", "b",
                     "-idle_exit", "0", "-max_pending_bytes", "2M", "-services", "s.cfg"},
                    &o, &error))
      << error;
  EXPECT_EQ(std::make_tuple(o.connectPort, o.logFile, o.internalLogFile, o.notShared, o.zone),
            std::make_tuple(4711, "p.log", "i.log", true, "z1"));
  EXPECT_EQ(o.startNames, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(std::make_tuple(o.idleExitMs, o.maxPendingBytes, o.servicesFile),
            std::make_tuple(0, 2LL * 1024 * 1024, "s.cfg"));
}

TEST(RouterOptions, UsageErrorsAreOneLine) {
  struct Case {
    std::vector<std::string> words;
    const char *expect;
  } cases[] = {
      {{"-bogus"}, "unknown option \"-bogus\""},
      {{"-port"}, "option -port needs a value"},
      {{"-port", "70000"}, "is not a number from 0 to 65535"},
      {{"-idle_exit", "-5"}, "is not a number"},
      {{"-idle_exit", "12x"}, "is not a number"},
      {{"-max_pending_bytes", "3T"}, "is not a number"},
      {{"-connect_servicerouter", "0"}, "is not a number from 1"},
      {{"-log", ""}, "needs a non-empty value"},
  };
  for (const Case &c : cases) {
    Router_Options o;
    std::string error;
    EXPECT_FALSE(parse(c.words, &o, &error)) << c.words[0];
    EXPECT_NE(error.find(c.expect), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(RouterRNTable, NumbersAreUniqueAndReservedOnesNeverHandedOut) {
  Router_RNTable t;
  std::set<int> seen;
  for (int i = 0; i < 1000; ++i) {
    int rn = t.allocate(i % 3);
    EXPECT_NE(rn, kRouterOwnRN);
    EXPECT_NE(rn, kPluginLinkRN);
    EXPECT_TRUE(seen.insert(rn).second) << rn;
  }
  int first = *seen.begin();
  EXPECT_EQ(t.ownerOf(first), 0);
  EXPECT_TRUE(t.release(first));
  EXPECT_FALSE(t.release(first));
  EXPECT_EQ(t.ownerOf(first), -1);
  // A released number is not handed out again while the counter has room.
  EXPECT_EQ(seen.count(t.allocate(5)), 0u);
  EXPECT_EQ(t.releaseAllOf(1), 333);
  EXPECT_EQ(t.size(), 1000 - 1 + 1 - 333);
}

// Each side names a connection by its own (local, remote) pair; a plugin
// connected to its own service is found from both sides.
TEST(RouterConnections, EachSideNamesTheConnectionByItsOwnPair) {
  for (int provider : {3, 7}) {
    SCOPED_TRACE(provider == 7 ? "self connection" : "two plugins");
    Router_ConnectionTable t;
    Router_Connection c;
    std::tie(c.clientRN, c.clientId, c.serviceRN, c.providerId) = std::make_tuple(40, 7, 20, provider);
    t.add(c);
    bool isClient = false;
    EXPECT_EQ(t.findFromSide(7, 40, 20, &isClient), t.find(40));
    EXPECT_TRUE(isClient);
    EXPECT_EQ(t.findFromSide(provider, 20, 40, &isClient), t.find(40));
    EXPECT_FALSE(isClient);
    // Another plugin's pair, or the reversed pair of two plugins, names nothing.
    EXPECT_EQ(t.findFromSide(5, 40, 20, &isClient), nullptr);
    EXPECT_EQ(t.findFromSide(7, 20, 40, &isClient) != nullptr, provider == 7);
    EXPECT_EQ(t.anyBetweenDifferentPlugins(), provider != 7);
    EXPECT_EQ(t.involving(provider), std::vector<int>{40});
    EXPECT_TRUE(t.remove(40));
    EXPECT_FALSE(t.anyBetweenDifferentPlugins());
  }
}

TEST(RouterRegistry, EarliestProviderFirstAndPreferredProvider) {
  Router_ServiceRegistry r;
  r.add("Echo", 20, 1);
  r.add("Echo", 21, 2);
  r.add("Other", 22, 2);
  EXPECT_EQ(r.find("Echo", -1)->pluginId, 1);
  EXPECT_EQ(r.find("Echo", 2)->rn, 21);
  EXPECT_EQ(r.find("Other", 1), nullptr);
  r.removePlugin(1);
  EXPECT_EQ(r.find("Echo", -1)->pluginId, 2);
  EXPECT_TRUE(r.removeRN(22));
  EXPECT_EQ(r.findRN(22), nullptr);
}

TEST(RouterServicesFile, ProgramsServicesArgsDefaultsAndErrors) {
  std::string path = e2eTempPath("services") + ".cfg";
  ASSERT_TRUE(RouterTest_WriteFile(path, "# test\nalpha {\n  Services = { \"A1\", \"A2\" }\n}\n"
                                         "beta {\n  Program = \"/opt/beta\"\n  Args = { \"-x\", \"y z\" }\n"
                                         "  Services = \"B1\"\n}\n"));
  Router_ServicesFile f;
  std::string error;
  ASSERT_TRUE(f.read(path.c_str(), &error)) << error;
  ASSERT_EQ(f.programs().size(), 2u);
  EXPECT_EQ(f.providerOf("A2")->name, "alpha");
  EXPECT_EQ(f.program("alpha")->program, "alpha");
  const Router_Program *beta = f.providerOf("B1");
  ASSERT_NE(beta, nullptr);
  EXPECT_EQ(beta->program, "/opt/beta");
  EXPECT_EQ(beta->args, (std::vector<std::string>{"-x", "y z"}));
  EXPECT_EQ(f.providerOf("C"), nullptr);
  // Absolute names, and names found nowhere, are taken as they are.
  EXPECT_EQ(Router_ServicesFile::resolveProgram("/bin/true"), "/bin/true");
  EXPECT_EQ(Router_ServicesFile::resolveProgram("no/such/prog"), "no/such/prog");
  // Unreadable and malformed files are errors.
  EXPECT_FALSE(f.read((path + ".none").c_str(), &error));
  EXPECT_NE(error.find("cannot read services file"), std::string::npos);
  ASSERT_TRUE(RouterTest_WriteFile(path, "alpha {\n Services = { \"A1\", \n"));
  EXPECT_FALSE(f.read(path.c_str(), &error));
  // A bad block (from line 4, after a good one) is named with file and line.
  const std::string good = "fine {\n  Services = \"Fine\"\n}\n";
  struct Row {
    std::string block, problem;
  } rows[] = {
      {"noservices {\n  Program = \"x\"\n}\n", "no Services listed"},
      {"typo {\n  Service = \"A\"\n  Services = \"A\"\n}\n", "unknown attribute"},
      {"both {\n  SharedObject = \"liba\"\n  Program = \"a\"\n  Services = \"A\"\n}\n",
       "a SharedObject block cannot have Program or Args"},
      {"nested {\n  Services = \"A\"\n  inner {\n    Services = \"B\"\n  }\n}\n",
       "nested blocks are not allowed"},
  };
  for (const Row &row : rows) {
    ASSERT_TRUE(RouterTest_WriteFile(path, good + row.block));
    EXPECT_FALSE(f.read(path.c_str(), &error));
    std::string name = row.block.substr(0, row.block.find(' '));
    EXPECT_NE(error.find(path + ":4: block \"" + name + "\": " + row.problem), std::string::npos) << error;
  }
}

// DebugPlugin: the next start of the program, named by block or base name,
// runs under the debugger; the request is used up, and do_debug 0 forgets it.
TEST(RouterLauncher, DebuggerWrapsOnlyTheNextStartOfThatProgram) {
  using Words = std::vector<std::string>;
  const Words words{"/opt/bin/prog", "-connect_servicerouter", "7"};
  Router_Launcher l;
  l.setDebugger("prog", "gdb", " --args  -q ");
  EXPECT_EQ(l.underDebugger("block", words),
            (Words{"gdb", "--args", "-q", "/opt/bin/prog", "-connect_servicerouter", "7"}));
  EXPECT_EQ(l.underDebugger("block", words), words);
  l.setDebugger("block", "valgrind", "");
  EXPECT_EQ(l.underDebugger("other", words), words);
  EXPECT_EQ(l.underDebugger("block", words).front(), "valgrind");
  l.setDebugger("block", "valgrind", "");
  l.setDebugger("block", "", "");
  EXPECT_EQ(l.underDebugger("block", words), words);
}

// A pass is told of each descriptor under its key, for what it is watched
// for now: interest that changes (a link paused by flow control, output
// queued) must reach the kernel.
TEST(RouterPoller, ReportsEachDescriptorForWhatItIsWatchedForNow) {
  int a[2];
  ASSERT_EQ(::pipe(a), 0);
  ASSERT_EQ(::write(a[1], "x", 1), 1);  // both ends ready
  Router_Poller poller;
  ASSERT_TRUE(poller.ok());
  auto ready = [&] {
    std::set<std::tuple<uint64_t, bool, bool>> got;
    for (int i = 0, n = poller.wait(0); i < n; ++i)
      got.insert({poller.key(i), poller.readable(i), poller.writable(i)});
    return got;
  };
  using Got = std::set<std::tuple<uint64_t, bool, bool>>;
  Router_Poller::Watch reader, writer;
  poller.watch(reader, a[0], true, false, 7);
  poller.watch(writer, a[1], false, false, 8);  // wants nothing: not waited on
  EXPECT_EQ(ready(), (Got{{7, true, false}}));
  poller.watch(reader, a[0], false, false, 7);  // paused
  poller.watch(writer, a[1], false, true, 8);
  EXPECT_EQ(ready(), (Got{{8, false, true}}));
  for (int fd : a) ::close(fd);
}
