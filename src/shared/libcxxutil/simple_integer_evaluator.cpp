// simple_integer_evaluator: a precedence-climbing parser that evaluates as
// it parses. All binary operators are left-associative. Arithmetic is done
// in unsigned 32-bit words so that overflow wraps instead of being
// undefined; shift counts are taken modulo 32.
#include "shared/libcxxutil/simple_integer_evaluator.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "shared/indgen.h"
#include "shared/libcxxutil/string_parser.h"

namespace {

enum Op { kNone, kComma, kOrOr, kAndAnd, kOr, kXor, kAnd, kEq, kNe, kLt, kGt, kLe, kGe, kShl, kShr, kAdd, kSub };

struct OpInfo {
  const char *text;
  Op op;
  int prec;
};

// Two-character operators come first so that "<<" is not read as "<".
const OpInfo kOps[] = {
    {"||", kOrOr, 2}, {"&&", kAndAnd, 3}, {"==", kEq, 7}, {"!=", kNe, 7}, {"<=", kLe, 8}, {">=", kGe, 8},
    {"<<", kShl, 9},  {">>", kShr, 9},    {",", kComma, 1}, {"|", kOr, 4}, {"^", kXor, 5}, {"&", kAnd, 6},
    {"<", kLt, 8},    {">", kGt, 8},      {"+", kAdd, 10},  {"-", kSub, 10},
};

int32_t apply(Op op, int32_t a, int32_t b) {
  uint32_t ua = static_cast<uint32_t>(a), ub = static_cast<uint32_t>(b);
  switch (op) {
    case kComma: return b;
    case kOrOr: return a || b;
    case kAndAnd: return a && b;
    case kOr: return static_cast<int32_t>(ua | ub);
    case kXor: return static_cast<int32_t>(ua ^ ub);
    case kAnd: return static_cast<int32_t>(ua & ub);
    case kEq: return a == b;
    case kNe: return a != b;
    case kLt: return a < b;
    case kGt: return a > b;
    case kLe: return a <= b;
    case kGe: return a >= b;
    case kShl: return static_cast<int32_t>(ua << (ub & 31));
    case kShr: return a >> (ub & 31);
    case kAdd: return static_cast<int32_t>(ua + ub);
    case kSub: return static_cast<int32_t>(ua - ub);
    case kNone: break;
  }
  return 0;
}

// One evaluation: the text, the read position and the first error.
class Evaluation {
 public:
  Evaluation(ut_simple_integer_evaluator_client_interface *client, const char *text, bool skipping)
      : client_(client), p_(text), skipping_(skipping) {}

  int32_t run() {
    int32_t v = binary(1);
    skip_blanks();
    if (!failed_ && *p_) fail_near();
    return failed_ ? 0 : v;
  }
  bool failed() const { return failed_; }

 private:
  void skip_blanks() { p_ = string_parser::skip_whitespace(p_); }

  void fail_near() {
    if (!failed_) gen_error("parse error: near: \"%s\"", p_);
    failed_ = true;
  }

  const OpInfo *peek_op() {
    skip_blanks();
    for (const OpInfo &o : kOps)
      if (std::strncmp(p_, o.text, std::strlen(o.text)) == 0) return &o;
    return nullptr;
  }

  // Operators binding at least as tightly as `min_prec`, left to right.
  int32_t binary(int min_prec) {
    int32_t lhs = unary();
    for (;;) {
      if (failed_) return 0;
      const OpInfo *o = peek_op();
      if (!o || o->prec < min_prec) return lhs;
      p_ += std::strlen(o->text);
      bool saved = skipping_;
      if ((o->op == kAndAnd && !lhs) || (o->op == kOrOr && lhs)) skipping_ = true;
      int32_t rhs = binary(o->prec + 1);
      skipping_ = saved;
      lhs = apply(o->op, lhs, rhs);
    }
  }

  // Nesting of "!" and parentheses is bounded so that hostile input cannot
  // exhaust the stack.
  int32_t unary() {
    skip_blanks();
    if (++depth_ > kMaxDepth) return fail_near(), 0;
    int32_t v;
    if (*p_ == '!' && p_[1] != '=') {
      ++p_;
      v = !unary();
    } else {
      v = primary();
    }
    --depth_;
    return v;
  }

  int32_t primary() {
    skip_blanks();
    if (*p_ == '(') {
      ++p_;
      int32_t v = binary(1);
      skip_blanks();
      if (*p_ != ')') return fail_near(), 0;
      ++p_;
      return v;
    }
    int32_t v = 0;
    if (const char *end = string_parser::parse_number(p_, &v)) {
      if (string_parser::is_C_identifier_char(*end)) return p_ = end, fail_near(), 0;
      p_ = end;
      return v;
    }
    if (!string_parser::starts_C_identifier(p_)) return fail_near(), 0;
    const char *end = string_parser::skip_C_identifier(p_);
    std::string name(p_, end);
    p_ = string_parser::skip_whitespace(end);
    if (*p_ != '(') return client_->val_from_name(name.c_str(), skipping_);
    ++p_;
    return call(name);
  }

  // The argument list of a call, after its "(".
  int32_t call(const std::string &name) {
    std::vector<std::string> args;
    skip_blanks();
    if (*p_ == ')') return ++p_, invoke(name, args);
    for (;;) {
      if (!argument(args)) return 0;
      skip_blanks();
      if (*p_ == ')') return ++p_, invoke(name, args);
      if (*p_ != ',') return fail_near(), 0;
      ++p_;
      if (args.size() >= static_cast<size_t>(simple_integer_evaluator::kMaxArguments)) {
        gen_error("parse error: too many arguments");
        failed_ = true;
        return 0;
      }
    }
  }

  bool argument(std::vector<std::string> &args) {
    skip_blanks();
    if (string_parser::starts_string_constant(p_)) {
      const char *end = string_parser::skip_string_constant(p_);
      std::string text(p_, end);
      int n = string_parser::decode_string_constant(text.data(), text.data());
      text.resize(static_cast<size_t>(n));
      args.push_back(std::move(text));
      p_ = end;
      return true;
    }
    if (!string_parser::starts_C_identifier(p_)) return fail_near(), false;
    const char *end = string_parser::skip_C_identifier(p_);
    args.emplace_back(p_, end);
    p_ = end;
    return true;
  }

  int32_t invoke(const std::string &name, const std::vector<std::string> &args) {
    std::vector<const char *> argv;
    for (const std::string &a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return client_->val_from_fcn(name.c_str(), static_cast<int>(args.size()), argv.data(), skipping_);
  }

  ut_simple_integer_evaluator_client_interface *client_;
  const char *p_;
  bool skipping_;
  bool failed_ = false;
  int depth_ = 0;
  static constexpr int kMaxDepth = 200;
};

}  // namespace

int simple_integer_evaluator::evaluate(const char *text, bool skipping) {
  Evaluation e(client_, text ? text : "", skipping);
  int v = e.run();
  had_error_ = e.failed();
  return v;
}
