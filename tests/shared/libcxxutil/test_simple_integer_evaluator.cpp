// simple_integer_evaluator: precedence and associativity against the C++
// compiler on every pair of operators, short-circuit skipping, names and
// calls through the client, and the syntax-error messages.
#include "shared/libcxxutil/simple_integer_evaluator.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "shared/runtime_test_support.h"

namespace {

// The table kEvalCases (written at build time): each expression as text and
// as the value the C++ compiler computed for it.
struct EvalCase {
  const char *text;
  int value;
};
#include "eval_cases.inc"

// Answers names from a table and records every call as "name", "f[a|b]",
// with "(skip)" when skipping.
class FakeClient : public ut_simple_integer_evaluator_client_interface {
 public:
  std::map<std::string, int> names{{"A", 4}};
  std::vector<std::string> calls;

  int val_from_name(const char *name, bool skipping) override {
    calls.push_back(std::string(name) + (skipping ? "(skip)" : ""));
    return names.count(name) ? names[name] : 0;
  }
  int val_from_fcn(const char *name, int argc, const char *const *argv, bool skipping) override {
    std::string c = std::string(name) + "[";
    for (int i = 0; i < argc; ++i) c += (i ? "|" : "") + std::string(argv[i]);
    EXPECT_EQ(argv[argc], nullptr);
    calls.push_back(c + "]" + (skipping ? "(skip)" : ""));
    return argc;
  }
};

class EvaluatorTest : public ::testing::Test {
 protected:
  FakeClient client;
  simple_integer_evaluator evaluator{&client};
  MessageCapture capture;
};

TEST_F(EvaluatorTest, ExpressionsMatchTheCompiler) {
  ASSERT_GT(sizeof kEvalCases / sizeof kEvalCases[0], 700u);
  for (const EvalCase &c : kEvalCases) {
    EXPECT_EQ(evaluator.evaluate(c.text, false), c.value) << c.text;
    EXPECT_FALSE(evaluator.had_error()) << c.text;
  }
  EXPECT_EQ(capture.all(), "");
}

TEST_F(EvaluatorTest, ValuesNamesCallsAndErrors) {
  const std::string deep(100000, '('), nots = std::string(100000, '!') + "1";
  const std::string parseError = "error: parse error: near: ";
  struct Case {
    std::string text;
    int value;
    std::string calls;  // the client calls, joined with spaces
    std::string message;
    bool skipping = false;
  } cases[] = {
      // What C++ leaves undefined: wrapping, shift counts modulo 32, arithmetic right shift.
      {"0 - 2147483647 - 2", 2147483647, "", ""}, {"1 << 33", 2, "", ""}, {"(0 - 8) >> 1", -4, "", ""},
      {"  ( 0x10 + 010 )  ", 24, "", ""},
      {"A + f(x, \"a\\\"b\", y_1) + g()", 4 + 3 + 0, "A f[x|a\"b|y_1] g[]", ""},
      {"0 && A || 1 && B", 0, "A(skip) B", ""}, {"1 || f(x)", 1, "f[x](skip)", ""}, {"A", 4, "A(skip)", "", true},
      {"f(a,b,c,d,e,f,g,h,i,j,k,l)", 12, "f[a|b|c|d|e|f|g|h|i|j|k|l]", ""},
      {"f(a,b,c,d,e,f,g,h,i,j,k,l,m)", 0, "", "error: parse error: too many arguments\n"},
      {"A * 0", 0, "A", parseError + "\"* 0\"\n"},  // "*" is not an operator here
      {"1 + * 2", 0, "", parseError + "\"* 2\"\n"}, {"(1 + 2", 0, "", parseError + "\"\"\n"},
      {"1 2", 0, "", parseError + "\"2\"\n"}, {"12abc", 0, "", parseError + "\"abc\"\n"},
      {"", 0, "", parseError + "\"\"\n"}, {"f(1)", 0, "", parseError + "\"1)\"\n"},  // names or strings only
      {deep, 0, "", "*"}, {nots, 0, "", "*"},  // refused, not overflowed
  };
  for (const Case &c : cases) {
    client.calls.clear();
    capture.clear();
    const std::string text = c.text.substr(0, 40);
    EXPECT_EQ(evaluator.evaluate(c.text.c_str(), c.skipping), c.value) << text;
    EXPECT_EQ(evaluator.had_error(), !c.message.empty()) << text;
    if (c.message != "*") {
      EXPECT_EQ(capture.all(), c.message) << text;
    }
    std::string calls;
    for (const std::string &call : client.calls) calls += (calls.empty() ? "" : " ") + call;
    if (c.message.empty()) {
      EXPECT_EQ(calls, c.calls) << text;
    }
  }
}

}  // namespace
