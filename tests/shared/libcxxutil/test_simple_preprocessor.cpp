// simple_preprocessor: conditional scopes, definitions, messages, include
// names, macro lookup order, and the functions of "if" conditions with
// their argument-count errors.
#include "shared/libcxxutil/simple_preprocessor.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "parser_testutil.h"

namespace {

// A host environment for the client interface.
std::map<std::string, std::string> g_env;

bool env_defined(void *, const char *name) { return g_env.count(name) > 0; }
const char *env_lookup(void *, const char *name) {
  auto it = g_env.find(name);
  return it == g_env.end() ? nullptr : it->second.c_str();
}

class PreprocessorTest : public ::testing::Test {
 protected:
  PreprocessorTest() {
    g_env.clear();
    client.set_env_callback(nullptr, nullptr, env_defined, env_lookup, nullptr);
    pp.reset(ut_simple_preprocessor_interface::construct('%', &macros, &client));
  }
  // Runs the lines and answers, for each non-directive line, whether it is
  // kept; returns the kept lines joined with spaces.
  std::string run(const std::vector<const char *> &lines) {
    std::string kept;
    for (const char *l : lines) {
      if (l[0] == '%') {
        pp->process_line(l);
      } else if (!pp->is_in_false()) {
        kept += (kept.empty() ? "" : " ") + std::string(l);
      }
    }
    return kept;
  }
  int cond(const char *expr) {
    std::string line = std::string("%if ") + expr;
    pp->process_line(line.c_str());
    bool v = !pp->is_in_false();
    pp->process_line("%endif");
    return v;
  }

  ut_macro_map macros;
  ut_client_interface client;
  std::unique_ptr<ut_simple_preprocessor_interface> pp;
  MessageCapture capture;
};

// Exactly one branch of each if/elif/else chain is kept; a true "if" inside
// a false section stays false, and so does its else.
TEST_F(PreprocessorTest, ConditionalChainsKeepOneBranch) {
  struct Case {
    std::vector<const char *> lines;
    const char *kept;
  } cases[] = {
      {{"%if 0", "a", "%else", "b", "%endif", "c"}, "b c"},
      {{"%if 1", "a", "%else", "b", "%endif"}, "a"},
      {{"%if 0", "%if 1", "a", "%else", "b", "%endif", "c", "%else", "d", "%endif"}, "d"},
      {{"%if 1", "%if 0", "a", "%elif 1", "b", "%else", "c", "%endif", "d", "%endif"}, "b d"},
      {{"%if 1", "%if 1", "%if 0", "x", "%endif", "y", "%endif", "z", "%endif"}, "y z"},
      {{"%if 1", "a", "%elif 1", "b", "%elsif 1", "c", "%else", "d", "%endif"}, "a"},
      {{"%if 0", "a", "%elseif 0", "b", "%elif 2", "c", "%elif 1", "d", "%endif"}, "c"},
      {{"%if 0", "a", "%elif 0", "b", "%else", "c", "%endif"}, "c"},
  };
  for (const Case &c : cases) EXPECT_EQ(run(c.lines), c.kept);
  EXPECT_EQ(capture.all(), "");
}

TEST_F(PreprocessorTest, ElifIsInFalseTellsWhetherLaterBranchesCanRun) {
  EXPECT_FALSE(pp->elif_is_in_false());
  pp->process_line("%if 0");
  EXPECT_FALSE(pp->elif_is_in_false());
  pp->process_line("%elif 1");
  EXPECT_TRUE(pp->elif_is_in_false());
  pp->process_line("%if 0");  // nested inside a true branch
  EXPECT_FALSE(pp->elif_is_in_false());
  pp->process_line("%endif");
  pp->process_line("%endif");
}

TEST_F(PreprocessorTest, MisplacedDirectivesAreReported) {
  EXPECT_FALSE(pp->process_line("%elif 1"));
  EXPECT_FALSE(pp->process_line("%else"));
  EXPECT_FALSE(pp->process_line("%endif"));
  pp->process_line("%if 1");
  EXPECT_TRUE(pp->process_line("%else"));
  EXPECT_FALSE(pp->process_line("%else"));
  EXPECT_FALSE(pp->process_line("%elsif 1"));
  EXPECT_TRUE(pp->process_line("%endif"));
  EXPECT_FALSE(pp->process_line("%frobnicate x"));
  EXPECT_FALSE(pp->process_line("%include foo"));
  EXPECT_FALSE(pp->process_line("%include \"\""));
  EXPECT_FALSE(pp->process_line("%define"));
  EXPECT_FALSE(pp->process_line("%"));
  EXPECT_EQ(capture.all(),
            "error: unexpected directive: elif\n"
            "error: unexpected directive: else\n"
            "error: unexpected directive: endif\n"
            "error: unexpected directive: else\n"
            "error: unexpected directive: elsif\n"
            "error: illegal directive: \"%frobnicate x\"\n"
            "error: illegal directive: \"%include foo\"\n"
            "error: illegal directive: \"%include \"\"\"\n"
            "error: illegal directive: \"%define\"\n"
            "error: illegal directive: \"%\"\n");
}

TEST_F(PreprocessorTest, FalseSectionsIgnoreEverythingButScopes) {
  EXPECT_EQ(run({"%if 0", "%define X 1", "%error no", "%bogus", "%include \"f\"", "%endif"}), "");
  EXPECT_FALSE(pp->is_defined("X"));
  EXPECT_FALSE(pp->get_last_directive_was_include());
  EXPECT_EQ(capture.all(), "");
}

TEST_F(PreprocessorTest, DefineUndefAndLookupOrder) {
  macros.insert("M", "from map");
  g_env["M"] = "from env";
  g_env["E"] = "env only";
  EXPECT_STREQ(pp->get_define_value("M", false), "from map");
  EXPECT_STREQ(pp->get_define_value("E", false), "env only");
  pp->process_line("%define   M   own value   # comment");
  pp->process_line("%define EMPTY");
  EXPECT_STREQ(pp->get_define_value("M", false), "own value");
  EXPECT_STREQ(pp->get_define_value("EMPTY", false), "");
  EXPECT_TRUE(pp->is_defined("EMPTY"));
  pp->process_line("%undef M");
  EXPECT_STREQ(pp->get_define_value("M", false), "from map");
  EXPECT_EQ(pp->get_define_value("NOPE", false), nullptr);
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(pp->get_define_value("NOPE", true), nullptr);
  EXPECT_EQ(capture.all(), "error: macro not defined(NOPE) ...\n");
}

TEST_F(PreprocessorTest, MessagesGoThroughTheLibrary) {
  pp->process_line("%info  hello there  ");
  pp->process_line("%echo e");
  pp->process_line("%warning careful");
  pp->process_line("%error broken");
  EXPECT_EQ(capture.all(), "info: hello there\ninfo: e\nwarning: careful\nerror: broken\n");
}

TEST_F(PreprocessorTest, IncludeNamesHaveTheirDirectoriesSubstituted) {
  // Without "_KORVO_DIR", the program's directory; "." when it is unknown
  // (as in this test program, which never names itself).
  ASSERT_TRUE(pp->process_line("%include \"${_KORVO_DIR}/e\""));
  const char *prog = gen_getprogdir();
  EXPECT_EQ(std::string(pp->get_last_include_file_name()), std::string(prog ? prog : ".") + "/e");
  pp->add_define("__DIR__", "/cur");
  macros.insert("_KORVO_DIR", "/prog");
  ASSERT_TRUE(pp->process_line("%include \"${__DIR__}/a.cfg\""));
  EXPECT_TRUE(pp->get_last_directive_was_include());
  EXPECT_STREQ(pp->get_last_include_file_name(), "/cur/a.cfg");
  pp->process_line("%include \"${__KORVO_DIR__}/b\" # trailing");
  EXPECT_STREQ(pp->get_last_include_file_name(), "/prog/b");
  pp->process_line("%include \"${_KORVO_DIR}/c\"");
  EXPECT_STREQ(pp->get_last_include_file_name(), "/prog/c");
  pp->process_line("%include \"_KORVO_DIR/d\\x41\"");
  EXPECT_STREQ(pp->get_last_include_file_name(), "/prog/dA");
  pp->process_line("%define X 1");
  EXPECT_FALSE(pp->get_last_directive_was_include());
  EXPECT_EQ(capture.all(), "");
}

TEST_F(PreprocessorTest, IfdefAndNamesInConditions) {
  pp->add_define("ONE", "1");
  pp->add_define("EXPR", "ONE + 2");
  pp->add_define("HEX", " 0x10 ");
  pp->add_define("NEG", "-3");
  pp->add_define("EMPTY", "");
  EXPECT_EQ(run({"%ifdef ONE", "a", "%endif", "%ifdef TWO", "b", "%endif"}), "a");
  EXPECT_EQ(cond("EXPR == 3"), 1);
  EXPECT_EQ(cond("HEX == 16"), 1);
  EXPECT_EQ(cond("NEG + 3 == 0"), 1);
  EXPECT_EQ(cond("EMPTY"), 0);
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(cond("UNDEFINED"), 0);
  EXPECT_EQ(capture.all(), "error: macro not defined(UNDEFINED) ...\n");
  capture.clear();
  // Inside a false section names are looked up without complaint.
  EXPECT_EQ(run({"%if 0", "%if UNDEFINED", "%endif", "%endif"}), "");
  EXPECT_EQ(capture.all(), "");
}

TEST_F(PreprocessorTest, SelfReferringMacroValueIsRefused) {
  pp->add_define("LOOP", "LOOP + 1");
  pp->add_define("A", "B");
  pp->add_define("B", "A");
  EXPECT_EQ(cond("LOOP"), 1);  // the inner LOOP counts 0
  EXPECT_EQ(cond("A"), 0);
  EXPECT_EQ(capture.all(),
            "error: macro recursion detected for: \"LOOP\"\n"
            "error: macro recursion detected for: \"A\"\n");
}

TEST_F(PreprocessorTest, LongDefinitionChainsAreCut) {
  for (int i = 0; i < 1000; ++i)
    pp->add_define(("C" + std::to_string(i)).c_str(), ("C" + std::to_string(i + 1) + " + 0").c_str());
  pp->add_define("C1000", "1");
  pp->add_define("C40", "1");
  EXPECT_EQ(cond("C0"), 1);
  EXPECT_EQ(capture.all(), "");
  pp->add_define("C40", "C41 + 0");  // now the chain runs to C1000
  EXPECT_EQ(cond("C0"), 0);
  EXPECT_EQ(capture.all(), "error: macro nesting too deep for: \"C64\"\n");
}

TEST_F(PreprocessorTest, DefinedNotemptyFileExistsAndEnv) {
  TempDir dir;
  dir.write("there.cfg", "x");
  pp->add_define("__DIR__", dir.path().c_str());
  pp->add_define("E", "");
  pp->add_define("V", "x");
  g_env["ENVV"] = "1";
  g_env["N"] = "0x20";
  g_env["O"] = "010";
  g_env["EMPTY"] = "";
  EXPECT_EQ(cond("defined(V) && defined(E) && defined(ENVV) && !defined(Q)"), 1);
  EXPECT_EQ(cond("notempty(V) && !notempty(E) && !notempty(Q)"), 1);
  EXPECT_EQ(cond("file_exists(\"${__DIR__}/there.cfg\")"), 1);
  EXPECT_EQ(cond("fileexists(\"${__DIR__}/missing.cfg\")"), 0);
  // env converts with base detection.
  EXPECT_EQ(cond("env(N) == 32 && env(O) == 8 && env(EMPTY) == 0 && env(MISSING) == 0"), 1);
  EXPECT_EQ(capture.all(), "");
}

TEST_F(PreprocessorTest, StreqComparesMacroValues) {
  pp->add_define("HOST", "solaris2");
  pp->add_define("OTHER", "solaris2");
  EXPECT_EQ(cond("streq(HOST, solaris2)"), 1);
  EXPECT_EQ(cond("streq(HOST, linux, \"solaris2\")"), 1);
  EXPECT_EQ(cond("streq(HOST, OTHER)"), 1);
  EXPECT_EQ(cond("streq(HOST, linux)"), 0);
  EXPECT_EQ(cond("streq(NOHOST, NOHOST)"), 0);
  pp->add_define("OTHER", "hpux");
  EXPECT_EQ(cond("streq(HOST, OTHER)"), 0);
  EXPECT_EQ(capture.all(), "");
}

std::vector<std::string> g_intercepted;
void intercept(void *context, int argc, const char *const *resolved) {
  std::string line = static_cast<const char *>(context);
  for (int i = 0; i < argc; ++i) line += std::string(" ") + (resolved[i] ? resolved[i] : "(null)");
  g_intercepted.push_back(line);
}

TEST_F(PreprocessorTest, StreqInterceptorSeesResolvedArguments) {
  static const char tag[] = "streq:";
  pp->add_define("HOST", "solaris2");
  pp->add_define("V", "v1");
  g_intercepted.clear();
  ut_simple_preprocessor_interface::set_streq_interceptor(const_cast<char *>(tag), intercept);
  cond("streq(HOST, V, lit)");
  cond("streq(MISSING, x)");
  ut_simple_preprocessor_interface::set_streq_interceptor(nullptr, nullptr);
  cond("streq(HOST, x)");
  EXPECT_EQ(g_intercepted, (std::vector<std::string>{"streq: solaris2 v1 lit", "streq: (null) x"}));
}

TEST_F(PreprocessorTest, FunctionArgumentCountsAreChecked) {
  for (const char *f : {"defined", "notempty", "file_exists", "fileexists", "env"}) {
    capture.clear();
    EXPECT_EQ(cond((std::string(f) + "()").c_str()), 0) << f;
    EXPECT_EQ(cond((std::string(f) + "(A, B)").c_str()), 0) << f;
    EXPECT_EQ(capture.all(), "error: too many arguments " + std::string(f) + "\nerror: too many arguments " + f + "\n");
  }
  capture.clear();
  EXPECT_EQ(cond("streq(A)"), 0);
  EXPECT_EQ(cond("streq()"), 0);
  EXPECT_EQ(cond("nosuch(A)"), 0);
  EXPECT_EQ(capture.all(),
            "error: too few arguments streq\n"
            "error: too few arguments streq\n"
            "error: unknown function: nosuch\n");
}

}  // namespace
