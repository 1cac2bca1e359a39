// simple_preprocessor: conditional scopes, definitions, messages, include
// names, macro lookup order, and the names and functions of "if"
// conditions with their errors.
#include "shared/libcxxutil/simple_preprocessor.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "shared/runtime_test_support.h"

namespace {

// A host environment for the client interface.
std::map<std::string, std::string> g_env;

class PreprocessorTest : public ::testing::Test {
 protected:
  PreprocessorTest() {
    g_env.clear();
    client.set_env_callback(
        nullptr, nullptr, [](void *, const char *name) { return g_env.count(name) > 0; },
        [](void *, const char *name) -> const char * {
          auto it = g_env.find(name);
          return it == g_env.end() ? nullptr : it->second.c_str();
        },
        nullptr);
    pp.reset(ut_simple_preprocessor_interface::construct('%', &macros, &client));
  }
  // Runs the lines; returns the non-directive lines kept, joined with spaces.
  std::string run(const std::vector<const char *> &lines) {
    std::string kept;
    for (const char *l : lines) {
      if (l[0] == '%') pp->process_line(l);
      else if (!pp->is_in_false()) kept += (kept.empty() ? "" : " ") + std::string(l);
    }
    return kept;
  }
  int cond(const std::string &expr) {
    pp->process_line(("%if " + expr).c_str());
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
// a false section stays false, and so does its else; false sections ignore
// everything but scopes.
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
      {{"%ifdef ONE", "a", "%endif", "%ifdef TWO", "b", "%endif"}, "a"},
      {{"%if 0", "%define X 1", "%error no", "%bogus", "%include \"f\"", "%if UNDEFINED", "%endif", "%endif"}, ""},
  };
  pp->add_define("ONE", "1");
  for (const Case &c : cases) EXPECT_EQ(run(c.lines), c.kept);
  EXPECT_FALSE(pp->is_defined("X"));
  EXPECT_FALSE(pp->get_last_directive_was_include());
  EXPECT_EQ(capture.all(), "");
  EXPECT_FALSE(pp->elif_is_in_false());
  for (const char *line : {"%if 0", "%elif 1"}) pp->process_line(line);
  EXPECT_TRUE(pp->elif_is_in_false());  // no later branch can run
  pp->process_line("%if 0");  // nested inside a true branch
  EXPECT_FALSE(pp->elif_is_in_false());
}

TEST_F(PreprocessorTest, MisplacedAndIllegalDirectivesAreReported) {
  struct Case {
    const char *line;
    bool ok;
    const char *message;
  } cases[] = {
      {"%elif 1", false, "unexpected directive: elif"}, {"%else", false, "unexpected directive: else"},
      {"%endif", false, "unexpected directive: endif"}, {"%if 1", true, ""}, {"%else", true, ""},
      {"%else", false, "unexpected directive: else"}, {"%elsif 1", false, "unexpected directive: elsif"},
      {"%endif", true, ""}, {"%frobnicate x", false, "illegal directive: \"%frobnicate x\""},
      {"%include foo", false, "illegal directive: \"%include foo\""},
      {"%include \"\"", false, "illegal directive: \"%include \"\"\""},
      {"%define", false, "illegal directive: \"%define\""}, {"%", false, "illegal directive: \"%\""},
  };
  for (const Case &c : cases) {
    capture.clear();
    EXPECT_EQ(pp->process_line(c.line), c.ok) << c.line;
    EXPECT_EQ(capture.all(), *c.message ? "error: " + std::string(c.message) + "\n" : "") << c.line;
  }
  capture.clear();
  for (const char *line : {"%info  hello there  ", "%echo e", "%warning careful", "%error broken"}) pp->process_line(line);
  EXPECT_EQ(capture.all(), "info: hello there\ninfo: e\nwarning: careful\nerror: broken\n");
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
  pp->process_line("%undef M");
  EXPECT_STREQ(pp->get_define_value("M", false), "from map");
  EXPECT_EQ(pp->get_define_value("NOPE", false), nullptr);
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(pp->get_define_value("NOPE", true), nullptr);
  EXPECT_EQ(capture.all(), "error: macro not defined(NOPE) ...\n");
}

TEST_F(PreprocessorTest, IncludeNamesHaveTheirDirectoriesSubstituted) {
  // Without "_KORVO_DIR", the program's directory; "." when it is unknown
  // (as in this test program, which never names itself).
  ASSERT_TRUE(pp->process_line("%include \"${_KORVO_DIR}/e\""));
  const char *prog = gen_getprogdir();
  EXPECT_EQ(std::string(pp->get_last_include_file_name()), std::string(prog ? prog : ".") + "/e");
  pp->add_define("__DIR__", "/cur");
  macros.insert("_KORVO_DIR", "/prog");
  const char *cases[][2] = {{"%include \"${__DIR__}/a.cfg\"", "/cur/a.cfg"},
                            {"%include \"${__KORVO_DIR__}/b\" # trailing", "/prog/b"},
                            {"%include \"${_KORVO_DIR}/c\"", "/prog/c"},
                            {"%include \"_KORVO_DIR/d\\x41\"", "/prog/dA"}};
  for (auto &c : cases) {
    ASSERT_TRUE(pp->process_line(c[0]));
    EXPECT_TRUE(pp->get_last_directive_was_include());
    EXPECT_STREQ(pp->get_last_include_file_name(), c[1]);
  }
  pp->process_line("%define X 1");
  EXPECT_FALSE(pp->get_last_directive_was_include());
  EXPECT_EQ(capture.all(), "");
}

TEST_F(PreprocessorTest, ConditionsWithNamesAndFunctions) {
  TempDir dir;
  dir.write("there.cfg", "x");
  for (const char *d : {"ONE=1", "EXPR=ONE + 2", "HEX= 0x10 ", "NEG=-3", "E=", "V=x", "HOST=solaris2",
                        "OTHER=solaris2", "LOOP=LOOP + 1", "A=B", "B=A"}) {
    std::string def = d;
    pp->add_define(def.substr(0, def.find('=')).c_str(), def.substr(def.find('=') + 1).c_str());
  }
  pp->add_define("__DIR__", dir.path().c_str());
  g_env = {{"ENVV", "1"}, {"N", "0x20"}, {"O", "010"}, {"EMPTY", ""}};
  struct Case {
    std::string expr;
    int value;
    std::string message;
  } cases[] = {
      {"EXPR == 3 && HEX == 16 && NEG + 3 == 0", 1, ""}, {"E", 0, ""},
      {"UNDEFINED", 0, "error: macro not defined(UNDEFINED) ...\n"},
      {"LOOP", 1, "error: macro recursion detected for: \"LOOP\"\n"},  // the inner LOOP counts 0
      {"A", 0, "error: macro recursion detected for: \"A\"\n"},
      {"defined(V) && defined(E) && defined(ENVV) && !defined(Q)", 1, ""},
      {"notempty(V) && !notempty(E) && !notempty(Q)", 1, ""},
      {"file_exists(\"${__DIR__}/there.cfg\")", 1, ""}, {"fileexists(\"${__DIR__}/missing.cfg\")", 0, ""},
      {"env(N) == 32 && env(O) == 8 && env(EMPTY) == 0 && env(MISSING) == 0", 1, ""},
      {"streq(HOST, solaris2) && streq(HOST, linux, \"solaris2\") && streq(HOST, OTHER)", 1, ""},
      {"streq(HOST, linux) || streq(NOHOST, NOHOST)", 0, ""},
      {"streq(A)", 0, "error: too few arguments streq\n"}, {"streq()", 0, "error: too few arguments streq\n"},
      {"nosuch(A)", 0, "error: unknown function: nosuch\n"},
  };
  for (const Case &c : cases) {
    capture.clear();
    EXPECT_EQ(cond(c.expr), c.value) << c.expr;
    EXPECT_EQ(capture.all(), c.message) << c.expr;
  }
  for (std::string f : {"defined", "notempty", "file_exists", "fileexists", "env"}) {
    capture.clear();
    EXPECT_EQ(cond(f + "()") + cond(f + "(A, B)"), 0) << f;
    EXPECT_EQ(capture.all(), "error: too many arguments " + f + "\nerror: too many arguments " + f + "\n");
  }
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

std::vector<std::string> g_intercepted;

TEST_F(PreprocessorTest, StreqInterceptorSeesResolvedArguments) {
  static const char tag[] = "streq:";
  pp->add_define("HOST", "solaris2");
  pp->add_define("V", "v1");
  g_intercepted.clear();
  ut_simple_preprocessor_interface::set_streq_interceptor(
      const_cast<char *>(tag), [](void *context, int argc, const char *const *resolved) {
        std::string line = static_cast<const char *>(context);
        for (int i = 0; i < argc; ++i) line += std::string(" ") + (resolved[i] ? resolved[i] : "(null)");
        g_intercepted.push_back(line);
      });
  cond("streq(HOST, V, lit)");
  cond("streq(MISSING, x)");
  ut_simple_preprocessor_interface::set_streq_interceptor(nullptr, nullptr);
  cond("streq(HOST, x)");
  EXPECT_EQ(g_intercepted, (std::vector<std::string>{"streq: solaris2 v1 lit", "streq: (null) x"}));
}

}  // namespace
