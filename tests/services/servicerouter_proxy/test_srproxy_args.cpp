// Router options on the command line: recognition and word counts, removal
// that keeps the vector null-terminated, values missing at the end, later
// options winning, the effect of every option, and the consistency
// warnings.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/runtime_test_support.h"
#include "shared/stp_transport/stp_log.h"

namespace {

// An argument vector the way main receives it: argc words and a null entry.
class Args {
 public:
  Args(std::initializer_list<const char *> words) {
    for (const char *w : words) storage.emplace_back(w);
    for (std::string &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    argc = static_cast<int>(storage.size());
  }
  std::vector<std::string> remaining() const {
    std::vector<std::string> out;
    for (int i = 0; i < argc; ++i) out.emplace_back(argv[i]);
    return out;
  }
  std::vector<std::string> storage;
  std::vector<char *> argv;
  int argc;
};

class SRArgsTest : public ::testing::Test {
 protected:
  void SetUp() override { proxy = ServiceRouter_Proxy::ensureProxy(); }
  void TearDown() override { ServiceRouter_Proxy::shutdown(false); }
  void parse(Args &a) { proxy->parseArguments(&a.argc, a.argv.data()); }
  ServiceRouter_Proxy *proxy = nullptr;
};

TEST(SRArgsStaticTest, LaunchCheckLooksAtEveryWordButTheLast) {
  for (const char *opt : {"-connect_servicerouter", "-sr_connect_servicerouter_host",
                          "-sr_connect_servicerouter_port"}) {
    Args middle{"prog", opt, "4711", "x"};
    EXPECT_TRUE(ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(middle.argc, middle.argv.data())) << opt;
    Args last{"prog", "x", opt};
    EXPECT_FALSE(ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(last.argc, last.argv.data())) << opt;
  }
  Args first{"-connect_servicerouter", "4711"};
  EXPECT_TRUE(ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(first.argc, first.argv.data()));
  Args none{"prog", "-sr_private", "-sr_zone", "z"};
  EXPECT_FALSE(ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(none.argc, none.argv.data()));
  EXPECT_FALSE(ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(0, nullptr));
  Args prefix{"prog", "-connect_servicerouterX", "1", "y"};
  EXPECT_FALSE(ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(prefix.argc, prefix.argv.data()));
}

TEST(SRArgsStaticTest, IsSRArgumentCountsWords) {
  Args a{"prog", "-sr_zone", "z", "-sr_new", "-sr_dir"};
  int words = -1;
  EXPECT_FALSE(ServiceRouter_Proxy::isSRArgument(a.argc, a.argv.data(), 0, &words));  // the program
  EXPECT_TRUE(ServiceRouter_Proxy::isSRArgument(a.argc, a.argv.data(), 1, &words));
  EXPECT_EQ(words, 2);
  EXPECT_FALSE(ServiceRouter_Proxy::isSRArgument(a.argc, a.argv.data(), 2, &words));  // a value
  EXPECT_TRUE(ServiceRouter_Proxy::isSRArgument(a.argc, a.argv.data(), 3, &words));
  EXPECT_EQ(words, 1);
  // A value option as the last word is not an option.
  EXPECT_FALSE(ServiceRouter_Proxy::isSRArgument(a.argc, a.argv.data(), 4, &words));
  EXPECT_FALSE(ServiceRouter_Proxy::isSRArgument(a.argc, a.argv.data(), 5, &words));
  EXPECT_FALSE(ServiceRouter_Proxy::isSRArgument(a.argc, a.argv.data(), -1, &words));
  EXPECT_FALSE(ServiceRouter_Proxy::isSRArgument(3, nullptr, 1, &words));
  for (const char *flag : {"-sr_shared", "-sr_private", "-sr_reuse", "-sr_new", "-sr_debug_startup"}) {
    Args f{"prog", flag};
    EXPECT_TRUE(ServiceRouter_Proxy::isSRArgument(f.argc, f.argv.data(), 1, &words)) << flag;
    EXPECT_EQ(words, 1) << flag;
  }
}

TEST_F(SRArgsTest, RemovesOptionsAndKeepsOtherWordsInOrder) {
  Args a{"prog", "keep1", "-connect_servicerouter", "0x10", "keep2", "-sr_private", "-sr_zone",
         "zoneA", "keep3"};
  parse(a);
  EXPECT_EQ(a.remaining(), (std::vector<std::string>{"prog", "keep1", "keep2", "keep3"}));
  EXPECT_EQ(a.argv[a.argc], nullptr);
  EXPECT_TRUE(proxy->launchedFromServiceRouter());
  EXPECT_EQ(proxy->getRouterPort(), 16);  // the base follows the prefix
  EXPECT_TRUE(proxy->usesPrivateRouter());
  EXPECT_STREQ(proxy->getZone(), "zoneA");
}

TEST_F(SRArgsTest, ValueMissingAtTheEndLeavesTheWord) {
  Args a{"prog", "-sr_new", "-connect_servicerouter"};
  parse(a);
  EXPECT_EQ(a.remaining(), (std::vector<std::string>{"prog", "-connect_servicerouter"}));
  EXPECT_EQ(a.argv[a.argc], nullptr);
  EXPECT_FALSE(proxy->launchedFromServiceRouter());
  EXPECT_TRUE(proxy->wantsNewRouter());
}

TEST_F(SRArgsTest, ProgramWordIsNotParsedAndValuesAreCopied) {
  Args a{"-sr_private", "-sr_zone", "zz"};
  parse(a);
  EXPECT_EQ(a.remaining(), (std::vector<std::string>{"-sr_private"}));
  EXPECT_FALSE(proxy->usesPrivateRouter());
  a.storage[2][0] = 'X';  // the caller's words may change afterwards
  EXPECT_STREQ(proxy->getZone(), "zz");
}

TEST_F(SRArgsTest, LaterOptionWins) {
  Args a{"prog", "-sr_log_all", "first.log", "-sr_log_router", "second.log", "-sr_private",
         "-sr_shared", "-sr_new", "-sr_reuse", "-sr_zone", "a", "-sr_zone", "b",
         "-connect_servicerouter", "1", "-sr_connect_servicerouter_port", "2"};
  parse(a);
  EXPECT_EQ(a.argc, 1);
  EXPECT_STREQ(proxy->getRouterLogFile(), "second.log");
  EXPECT_FALSE(proxy->usesPrivateRouter());
  EXPECT_FALSE(proxy->wantsNewRouter());
  EXPECT_STREQ(proxy->getZone(), "b");
  EXPECT_EQ(proxy->getRouterPort(), 2);
}

TEST_F(SRArgsTest, EveryValueOptionIsConsumedAndTheDirectoryMadeReal) {
  char *real = gen_realpath(".");
  std::string dir = std::string(real) + "/./";
  Args a{"prog", "-sr_connect_servicerouter_host", "hostA", "-sr_log_router_internal", "int.log",
         "-sr_client_start_cookie", "77", "-sr_debug", "plug", "-sr_debugger", "gdb",
         "-sr_debugger_opts", "-q", "-sr_debug_debugger", "dbx", "-sr_debug_debugger_opts", "-x",
         "-sr_dir", dir.c_str(), "tail"};
  parse(a);
  EXPECT_EQ(a.remaining(), (std::vector<std::string>{"prog", "tail"}));
  EXPECT_TRUE(proxy->launchedFromServiceRouter());
  EXPECT_STREQ(proxy->getRouterInternalLogFile(), "int.log");
  EXPECT_EQ(proxy->getClientStartCookie(), 77);
  EXPECT_STREQ(proxy->getRouterDirectory(), real);
  gen_free(real);
}

TEST_F(SRArgsTest, LogOptionWritesTheProtocolLogToTheFile) {
  const char *tmp = gen_default_temp_dir();
  std::string path = std::string(tmp) + "/srproxy_args_test.log";
  Args a{"prog", "-sr_log", path.c_str()};
  parse(a);
  ASSERT_NE(proxy->getGlobalLog(), nullptr);
  proxy->getGlobalLog()->add("hello");
  ServiceRouter_Proxy::shutdown(false);  // closes the file
  FILE *f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char buf[256] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  std::string text(buf, n);
  EXPECT_NE(text.find("hello"), std::string::npos);
  EXPECT_NE(text.find("Destroying ServiceRouter_Proxy.\n"), std::string::npos);
  ::unlink(path.c_str());
}

TEST_F(SRArgsTest, LogOptionWithAnUnwritableFileSetsNoLog) {
  Args a{"prog", "-sr_log", "/nonexistent-dir/x.log"};
  parse(a);
  EXPECT_EQ(a.argc, 1);
  EXPECT_EQ(proxy->getGlobalLog(), nullptr);
}

struct WarningCase {
  std::vector<const char *> words;
  std::vector<std::string> warnings;
};

TEST_F(SRArgsTest, ConsistencyWarnings) {
  const std::string noDebugForDebugger = "Must specify -sr_debug for -sr_debugger to have meaning.";
  const std::string noDebugForOpts = "Must specify -sr_debug for -sr_debugger_opts to have meaning.";
  const std::string needBoth =
      "Must specify both -sr_debug_debugger and -sr_debug_debugger_opts when -sr_debug_startup is "
      "passed.";
  const std::string needStartup =
      "Must specify -sr_debug_startup with -sr_debug_debugger and -sr_debug_debugger_opts.";
  std::vector<WarningCase> cases = {
      {{"-sr_debugger", "gdb"}, {noDebugForDebugger}},
      {{"-sr_debugger_opts", "-q"}, {noDebugForOpts}},
      {{"-sr_debug", "p", "-sr_debugger", "gdb", "-sr_debugger_opts", "-q"}, {}},
      {{"-sr_debug_startup"}, {needBoth}},
      {{"-sr_debug_startup", "-sr_debug_debugger", "gdb"}, {needBoth}},
      {{"-sr_debug_debugger_opts", "-x"}, {needStartup}},
      {{"-sr_debugger", "gdb", "-sr_debug_debugger", "gdb"}, {noDebugForDebugger, needStartup}},
  };
  for (const WarningCase &c : cases) {
    ServiceRouter_Proxy::shutdown(false);
    proxy = ServiceRouter_Proxy::ensureProxy();
    std::vector<std::string> storage = {"prog"};
    for (const char *w : c.words) storage.emplace_back(w);
    std::vector<char *> argv;
    for (std::string &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(storage.size());
    MessageCapture capture;
    proxy->parseArguments(&argc, argv.data());
    proxy->verifyConsistentArgs();
    std::vector<std::string> got;
    for (auto &m : capture.messages) {
      EXPECT_EQ(m.first, GEN_LEVEL_WARNING);
      got.push_back(m.second);
    }
    EXPECT_EQ(got, c.warnings) << c.words.front();
  }
}

}  // namespace
