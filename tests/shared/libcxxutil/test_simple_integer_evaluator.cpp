// simple_integer_evaluator: precedence and associativity against the C++
// compiler on every pair of operators, short-circuit skipping, names and
// calls through the client, and the syntax-error messages.
#include "shared/libcxxutil/simple_integer_evaluator.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "parser_testutil.h"

namespace {

// The table kEvalCases (written at build time): each expression as text and
// as the value the C++ compiler computed for it.
struct EvalCase {
  const char *text;
  int value;
};
#include "eval_cases.inc"

// Answers names from a table and records every call.
class FakeClient : public ut_simple_integer_evaluator_client_interface {
 public:
  std::map<std::string, int> names;
  std::vector<std::string> calls;  // "name(skipping)" or "f[a|b](skipping)"

  int val_from_name(const char *name, bool skipping) override {
    calls.push_back(std::string(name) + (skipping ? "(skip)" : ""));
    auto it = names.find(name);
    return it == names.end() ? 0 : it->second;
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
  int eval(const char *text, bool skipping = false) { return evaluator.evaluate(text, skipping); }
  FakeClient client;
  simple_integer_evaluator evaluator{&client};
  MessageCapture capture;
};

TEST_F(EvaluatorTest, GeneratedExpressionsMatchTheCompiler) {
  ASSERT_GT(sizeof kEvalCases / sizeof kEvalCases[0], 700u);
  for (const EvalCase &c : kEvalCases) {
    EXPECT_EQ(eval(c.text), c.value) << c.text;
    EXPECT_FALSE(evaluator.had_error()) << c.text;
  }
  EXPECT_EQ(capture.all(), "");
}

// What the generated cases leave out because C++ leaves it undefined.
TEST_F(EvaluatorTest, OverflowAndShiftsOutsideTheCompilerCases) {
  EXPECT_EQ(eval("0 - 2147483647 - 2"), 2147483647);  // wraps
  EXPECT_EQ(eval("1 << 33"), 2);              // shift counts modulo 32
  EXPECT_EQ(eval("(0 - 8) >> 1"), -4);        // arithmetic right shift
  EXPECT_EQ(eval("  ( 0x10 + 010 )  "), 24);
}

TEST_F(EvaluatorTest, NamesAndCallsGoToTheClient) {
  client.names["A"] = 4;
  EXPECT_EQ(eval("A * 0", false), 0);  // "*" is not an operator here
  EXPECT_TRUE(evaluator.had_error());
  client.calls.clear();
  capture.clear();
  EXPECT_EQ(eval("A + f(x, \"a\\\"b\", y_1) + g()"), 4 + 3 + 0);
  ASSERT_EQ(client.calls.size(), 3u);
  EXPECT_EQ(client.calls[0], "A");
  EXPECT_EQ(client.calls[1], "f[x|a\"b|y_1]");
  EXPECT_EQ(client.calls[2], "g[]");
  EXPECT_EQ(capture.all(), "");
}

TEST_F(EvaluatorTest, ShortCircuitSidesAreSkipped) {
  eval("0 && A || 1 && B");
  EXPECT_EQ(client.calls, (std::vector<std::string>{"A(skip)", "B"}));
  client.calls.clear();
  eval("1 || f(x)");
  EXPECT_EQ(client.calls, (std::vector<std::string>{"f[x](skip)"}));
  client.calls.clear();
  eval("A", true);
  EXPECT_EQ(client.calls, (std::vector<std::string>{"A(skip)"}));
}

TEST_F(EvaluatorTest, SyntaxErrorsNameThePlace) {
  EXPECT_EQ(eval("1 + * 2"), 0);
  EXPECT_TRUE(evaluator.had_error());
  EXPECT_EQ(eval("(1 + 2"), 0);
  EXPECT_EQ(eval("1 2"), 0);
  EXPECT_EQ(eval("12abc"), 0);
  EXPECT_EQ(eval(""), 0);
  EXPECT_EQ(eval("f(1)"), 0);  // arguments are names or strings
  EXPECT_EQ(capture.all(),
            "error: parse error: near: \"* 2\"\n"
            "error: parse error: near: \"\"\n"
            "error: parse error: near: \"2\"\n"
            "error: parse error: near: \"abc\"\n"
            "error: parse error: near: \"\"\n"
            "error: parse error: near: \"1)\"\n");
  EXPECT_EQ(eval("1 + 1"), 2);
  EXPECT_FALSE(evaluator.had_error());
}

TEST_F(EvaluatorTest, AtMostTwelveArguments) {
  EXPECT_EQ(eval("f(a,b,c,d,e,f,g,h,i,j,k,l)"), 12);
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(eval("f(a,b,c,d,e,f,g,h,i,j,k,l,m)"), 0);
  EXPECT_EQ(capture.all(), "error: parse error: too many arguments\n");
}

TEST_F(EvaluatorTest, DeepNestingIsRefusedNotOverflowed) {
  std::string deep(100000, '(');
  EXPECT_EQ(eval(deep.c_str()), 0);
  EXPECT_TRUE(evaluator.had_error());
  std::string nots(100000, '!');
  EXPECT_EQ(eval((nots + "1").c_str()), 0);
  EXPECT_TRUE(evaluator.had_error());
}

}  // namespace
