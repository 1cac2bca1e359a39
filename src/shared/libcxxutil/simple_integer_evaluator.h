// simple_integer_evaluator: evaluates the integer conditions of "if"
// directives: 32-bit arithmetic with C's precedence for the operators
// , || && | ^ & == != < > <= >= << >> + - and unary !, parentheses,
// numbers with base detection, names and function calls.
//
// Names and calls are answered by a client (the preprocessor). Evaluation
// is re-entrant, so a client may evaluate a macro's value from within
// val_from_name. Syntax errors are reported through gen_error and make the
// result 0. One thread.
#pragma once

// What the evaluator asks about names and function calls.
class ut_simple_integer_evaluator_client_interface {
 public:
  virtual ~ut_simple_integer_evaluator_client_interface() = default;
  // The value of a name that is not followed by "(". With `skipping` the
  // value is not needed (a false section, or the unevaluated side of && or
  // ||) and nothing should be reported.
  virtual int val_from_name(const char *name, bool skipping) = 0;
  // The value of the call name(argv[0], ..., argv[argc-1]); the arguments
  // are names, or the decoded texts of string constants. The array and its
  // strings belong to the evaluator and live for the duration of the call.
  virtual int val_from_fcn(const char *name, int argc, const char *const *argv, bool skipping) = 0;
};

class simple_integer_evaluator {
 public:
  static constexpr int kMaxArguments = 12;

  // The client is not owned and must outlive the evaluator.
  explicit simple_integer_evaluator(ut_simple_integer_evaluator_client_interface *client) : client_(client) {}

  // The value of `text`; 0 after a syntax error ("parse error: near:
  // \"%s\"" with the text from the point of the error, or "parse error:
  // too many arguments"). A null text counts as empty, which is an error.
  int evaluate(const char *text, bool skipping);
  // Whether the most recent evaluate reported a syntax error.
  bool had_error() const { return had_error_; }

 private:
  ut_simple_integer_evaluator_client_interface *client_;
  bool had_error_ = false;
};
