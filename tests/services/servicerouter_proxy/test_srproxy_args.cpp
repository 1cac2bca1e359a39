// Router options on the command line, as case tables: recognition and word
// counts, removal that keeps the vector null-terminated and the other words
// in order, values missing at the end, later options winning, the effect of
// the options, and the consistency warnings.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"

namespace {

// An argument vector the way main receives it: argc words and a null entry.
struct Args {
  explicit Args(const std::vector<std::string> &words) : storage(words) {
    for (std::string &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    argc = static_cast<int>(storage.size());
  }
  std::vector<std::string> remaining() const { return {argv.begin(), argv.begin() + argc}; }
  std::vector<std::string> storage;
  std::vector<char *> argv;
  int argc;
};

TEST(SRArgsTest, LaunchCheckLooksAtEveryWordButTheLastAndOptionsCountTheirWords) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"prog", "-connect_servicerouter", "4711", "x"}, true},
      {{"prog", "-sr_connect_servicerouter_host", "h", "x"}, true},
      {{"prog", "-sr_connect_servicerouter_port", "1", "x"}, true},
      {{"-connect_servicerouter", "4711"}, true},
      {{"prog", "x", "-connect_servicerouter"}, false},
      {{"prog", "-sr_private", "-sr_zone", "z"}, false},
      {{"prog", "-connect_servicerouterX", "1", "y"}, false},
  };
  for (const auto &[words, launched] : cases) {
    Args a(words);
    EXPECT_EQ(ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(a.argc, a.argv.data()),
              launched) << words[1];
  }
  EXPECT_FALSE(ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(0, nullptr));

  Args a({"prog", "-sr_zone", "z", "-sr_new", "-sr_dir", "-sr_shared", "-sr_private",
          "-sr_reuse", "-sr_debug_startup", "x"});
  // Index -> words taken (0: not an option): the program, a value and a
  // value option as the last-but-one word with its value missing are not.
  const int expected[] = {0, 2, 0, 1, 2, 1, 1, 1, 1, 0, 0};
  int words = 0;
  for (int i = 0; i <= a.argc; ++i) {
    bool is = ServiceRouter_Proxy::isSRArgument(a.argc, a.argv.data(), i, &words);
    EXPECT_EQ(is ? words : 0, expected[i]) << i;
  }
  Args last({"prog", "-sr_zone"});
  EXPECT_FALSE(ServiceRouter_Proxy::isSRArgument(last.argc, last.argv.data(), 1, &words));
  EXPECT_FALSE(ServiceRouter_Proxy::isSRArgument(a.argc, a.argv.data(), -1, &words));
  EXPECT_FALSE(ServiceRouter_Proxy::isSRArgument(3, nullptr, 1, &words));
}

class SRParseTest : public ::testing::Test {
 protected:
  void SetUp() override { proxy = ServiceRouter_Proxy::ensureProxy(); }
  void TearDown() override { ServiceRouter_Proxy::shutdown(false); }
  ServiceRouter_Proxy *proxy = nullptr;
};

// What the parsed options set, as one line.
std::string parsed(ServiceRouter_Proxy *p) {
  auto text = [](const char *s) { return std::string(s ? s : "-"); };
  return "launched=" + std::to_string(p->launchedFromServiceRouter()) +
         " port=" + std::to_string(p->getRouterPort()) + " private=" + std::to_string(p->usesPrivateRouter()) +
         " new=" + std::to_string(p->wantsNewRouter()) + " zone=" + text(p->getZone()) +
         " log=" + text(p->getRouterLogFile()) + " internal=" + text(p->getRouterInternalLogFile()) +
         " cookie=" + std::to_string(p->getClientStartCookie()) + " dir=" + text(p->getRouterDirectory());
}

TEST_F(SRParseTest, OptionsAreRemovedAndTakeEffect) {
  std::string real = take(gen_realpath("."));
  const std::string defaults = " internal=- cookie=-1 dir=-";
  struct Case {
    std::vector<std::string> words, remaining;
    std::string parsed;
  } cases[] = {
      {{"prog", "keep1", "-connect_servicerouter", "0x10", "keep2", "-sr_private", "-sr_zone",
        "zoneA", "keep3"},  // the base of a number follows its prefix
       {"prog", "keep1", "keep2", "keep3"},
       "launched=1 port=16 private=1 new=0 zone=zoneA log=-" + defaults},
      {{"prog", "-sr_new", "-connect_servicerouter"},  // a value missing at the end
       {"prog", "-connect_servicerouter"},
       "launched=0 port=0 private=0 new=1 zone=- log=-" + defaults},
      {{"-sr_private", "-sr_zone", "zz"},  // the program word is not parsed
       {"-sr_private"},
       "launched=0 port=0 private=0 new=0 zone=zz log=-" + defaults},
      {{"prog", "-sr_log_all", "first.log", "-sr_log_router", "second.log", "-sr_private",
        "-sr_shared", "-sr_new", "-sr_reuse", "-sr_zone", "a", "-sr_zone", "b",
        "-connect_servicerouter", "1", "-sr_connect_servicerouter_port", "2"},  // later wins
       {"prog"},
       "launched=1 port=2 private=0 new=0 zone=b log=second.log" + defaults},
      {{"prog", "-sr_connect_servicerouter_host", "hostA", "-sr_log_router_internal", "int.log",
        "-sr_client_start_cookie", "77", "-sr_debug", "plug", "-sr_debugger", "gdb",
        "-sr_debugger_opts", "-q", "-sr_debug_debugger", "dbx", "-sr_debug_debugger_opts", "-x",
        "-sr_dir", real + "/./", "tail"},
       {"prog", "tail"},
       "launched=1 port=0 private=0 new=0 zone=- log=- internal=int.log cookie=77 dir=" + real},
  };
  for (Case &c : cases) {
    ServiceRouter_Proxy::shutdown(false);
    proxy = ServiceRouter_Proxy::ensureProxy();
    Args a(c.words);
    proxy->parseArguments(&a.argc, a.argv.data());
    EXPECT_EQ(a.remaining(), c.remaining);
    EXPECT_EQ(a.argv[a.argc], nullptr);
    for (std::string &s : a.storage) s.assign(s.size(), 'X');  // values are copies
    EXPECT_EQ(parsed(proxy), c.parsed) << c.words[1];
  }
  Args bad({"prog", "-sr_log", "/nonexistent-dir/x.log"});
  proxy->parseArguments(&bad.argc, bad.argv.data());
  EXPECT_EQ(proxy->getGlobalLog(), nullptr);
}

TEST_F(SRParseTest, ConsistencyWarnings) {
  const std::string debugger = "Must specify -sr_debug for -sr_debugger to have meaning.";
  const std::string opts = "Must specify -sr_debug for -sr_debugger_opts to have meaning.";
  const std::string both = "Must specify both -sr_debug_debugger and -sr_debug_debugger_opts when "
                           "-sr_debug_startup is passed.";
  const std::string startup =
      "Must specify -sr_debug_startup with -sr_debug_debugger and -sr_debug_debugger_opts.";
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"-sr_debugger", "gdb"}, {debugger}},
      {{"-sr_debugger_opts", "-q"}, {opts}},
      {{"-sr_debug", "p", "-sr_debugger", "gdb", "-sr_debugger_opts", "-q"}, {}},
      {{"-sr_debug_startup"}, {both}},
      {{"-sr_debug_startup", "-sr_debug_debugger", "gdb"}, {both}},
      {{"-sr_debug_debugger_opts", "-x"}, {startup}},
      {{"-sr_debugger", "gdb", "-sr_debug_debugger", "gdb"}, {debugger, startup}},
  };
  for (const auto &[words, warnings] : cases) {
    ServiceRouter_Proxy::shutdown(false);
    proxy = ServiceRouter_Proxy::ensureProxy();
    std::vector<std::string> all = words;
    all.insert(all.begin(), "prog");
    Args a(all);
    MessageCapture capture;
    proxy->parseArguments(&a.argc, a.argv.data());
    proxy->verifyConsistentArgs();
    std::vector<std::pair<int, std::string>> expected;
    for (const std::string &w : warnings) expected.emplace_back(GEN_LEVEL_WARNING, w);
    EXPECT_EQ(capture.messages, expected) << words[0];
  }
}

}  // namespace
