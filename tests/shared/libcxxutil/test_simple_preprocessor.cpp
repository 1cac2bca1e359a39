// simple_preprocessor: conditional scopes, definitions, messages, include
// names, macro lookup order, and the names and functions of "if"
// conditions with their errors.
#include "shared/libcxxutil/simple_preprocessor.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
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
        [](void *, const char *name) { return g_env.count(name) ? g_env[name].c_str() : nullptr; }, nullptr);
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
  void define(std::initializer_list<std::string> defs) {
    for (const std::string &d : defs) pp->add_define(d.substr(0, d.find('=')).c_str(), d.substr(d.find('=') + 1).c_str());
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
  const std::pair<std::vector<const char *>, const char *> cases[] = {
      {{"%if 0", "a", "%else", "b", "%endif", "c"}, "b c"}, {{"%if 1", "a", "%else", "b", "%endif"}, "a"},
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
  for (const auto &[lines, kept] : cases) EXPECT_EQ(run(lines), kept);
  EXPECT_FALSE(pp->is_defined("X") || pp->get_last_directive_was_include() || pp->elif_is_in_false());
  EXPECT_EQ(capture.all(), "");
  for (const char *line : {"%if 0", "%elif 1"}) pp->process_line(line);
  EXPECT_TRUE(pp->elif_is_in_false());  // no later branch can run
  pp->process_line("%if 0");  // nested inside a true branch
  EXPECT_FALSE(pp->elif_is_in_false());
}

TEST_F(PreprocessorTest, MisplacedAndIllegalDirectivesAreReported) {
  const std::pair<const char *, const char *> cases[] = {  // the error, "" for none
      {"%elif 1", "unexpected directive: elif"}, {"%else", "unexpected directive: else"},
      {"%endif", "unexpected directive: endif"}, {"%if 1", ""}, {"%else", ""}, {"%else", "unexpected directive: else"},
      {"%elsif 1", "unexpected directive: elsif"}, {"%endif", ""},
      {"%frobnicate x", "illegal directive: \"%frobnicate x\""}, {"%include foo", "illegal directive: \"%include foo\""},
      {"%include \"\"", "illegal directive: \"%include \"\"\""}, {"%define", "illegal directive: \"%define\""},
      {"%", "illegal directive: \"%\""},
  };
  for (auto [line, message] : cases) {
    capture.clear();
    EXPECT_EQ(pp->process_line(line), !*message) << line;
    EXPECT_EQ(capture.all(), *message ? "error: " + std::string(message) + "\n" : "") << line;
  }
  capture.clear();
  for (const char *line : {"%info  hello there  ", "%echo e", "%warning careful", "%error broken"}) pp->process_line(line);
  EXPECT_EQ(capture.all(), "info: hello there\ninfo: e\nwarning: careful\nerror: broken\n");
}

TEST_F(PreprocessorTest, DefinitionsLookupOrderAndIncludeNames) {
  macros.insert("M", "from map");
  g_env = {{"M", "from env"}, {"E", "env only"}};
  auto value = [&](const char *name) {
    const char *v = pp->get_define_value(name, false);
    return std::string(v ? v : "<none>") + "|";
  };
  EXPECT_EQ(value("M") + value("E"), "from map|env only|");
  EXPECT_FALSE(client.is_defined_in_env(nullptr) || client.get_context());
  pp->process_line("%define   M   own value   # comment");
  pp->process_line("%define EMPTY");
  EXPECT_EQ(value("M") + value("EMPTY"), "own value||");
  pp->process_line("%undef M");
  EXPECT_EQ(value("M") + value("NOPE"), "from map|<none>|");
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(pp->get_define_value("NOPE", true), nullptr);
  EXPECT_EQ(capture.all(), "error: macro not defined(NOPE) ...\n");

  capture.clear();
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
    ASSERT_TRUE(pp->process_line(c[0]) && pp->get_last_directive_was_include());
    EXPECT_STREQ(pp->get_last_include_file_name(), c[1]);
  }
  pp->process_line("%define X 1");
  EXPECT_FALSE(pp->get_last_directive_was_include());
  EXPECT_EQ(capture.all(), "");
}

TEST_F(PreprocessorTest, ConditionsWithNamesAndFunctions) {
  TempDir dir;
  dir.write("there.cfg", "x");
  define({"ONE=1", "EXPR=ONE + 2", "HEX= 0x10 ", "NEG=-3", "E=", "V=x", "HOST=solaris2", "OTHER=solaris2",
          "LOOP=LOOP + 1", "A=B", "B=A", "__DIR__=" + dir.path(), "C1000=1", "D1000=1", "D40=1"});
  for (int i = 0; i < 1000; ++i) {  // two chains of 1000 definitions; D40 ends the D chain early
    const std::string n = std::to_string(i), next = std::to_string(i + 1);
    define({"C" + n + "=C" + next + " + 0"});
    if (i != 40) define({"D" + n + "=D" + next + " + 0"});
  }
  g_env = {{"ENVV", "1"}, {"N", "0x20"}, {"O", "010"}, {"EMPTY", ""}};
  const std::string tooFew = "error: too few arguments streq\n";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"EXPR == 3 && HEX == 16 && NEG + 3 == 0", 1, ""}, {"E", 0, ""},
      {"UNDEFINED", 0, "error: macro not defined(UNDEFINED) ...\n"},
      {"LOOP", 1, "error: macro recursion detected for: \"LOOP\"\n"},  // the inner LOOP counts 0
      {"A", 0, "error: macro recursion detected for: \"A\"\n"},
      {"D0", 1, ""}, {"C0", 0, "error: macro nesting too deep for: \"C64\"\n"},
      {"defined(V) && defined(E) && defined(ENVV) && !defined(Q)", 1, ""},
      {"notempty(V) && !notempty(E) && !notempty(Q)", 1, ""},
      {"file_exists(\"${__DIR__}/there.cfg\")", 1, ""}, {"fileexists(\"${__DIR__}/missing.cfg\")", 0, ""},
      {"env(N) == 32 && env(O) == 8 && env(EMPTY) == 0 && env(MISSING) == 0", 1, ""},
      {"streq(HOST, solaris2) && streq(HOST, linux, \"solaris2\") && streq(HOST, OTHER)", 1, ""},
      {"streq(HOST, linux) || streq(NOHOST, NOHOST)", 0, ""}, {"streq(A)", 0, tooFew}, {"streq()", 0, tooFew},
      {"nosuch(A)", 0, "error: unknown function: nosuch\n"},
  };
  for (const auto &[expr, value, message] : cases) {
    capture.clear();
    EXPECT_EQ(cond(expr), value) << expr;
    EXPECT_EQ(capture.all(), message) << expr;
  }
  for (std::string f : {"defined", "notempty", "file_exists", "fileexists", "env"}) {
    capture.clear();
    EXPECT_EQ(cond(f + "()") + cond(f + "(A, B)"), 0) << f;
    EXPECT_EQ(capture.all(), "error: too many arguments " + f + "\nerror: too many arguments " + f + "\n");
  }
}

std::vector<std::string> g_intercepted;

TEST_F(PreprocessorTest, StreqInterceptorSeesResolvedArguments) {
  static const char tag[] = "streq:";
  define({"HOST=solaris2", "V=v1"});
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
