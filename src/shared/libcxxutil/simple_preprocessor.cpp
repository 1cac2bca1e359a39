// simple_preprocessor: directive handling and the evaluator's names and
// functions. Scopes are a vector used as a stack; a scope's `active` already
// folds in every enclosing scope, so only the innermost one is consulted.
#include "shared/libcxxutil/simple_preprocessor.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "shared/indgen.h"
#include "shared/libcxxutil/string_parser.h"

void *ut_simple_preprocessor_interface::streq_context_ = nullptr;
ut_simple_preprocessor_interface::streq_interceptor_fn ut_simple_preprocessor_interface::streq_interceptor_ = nullptr;

ut_simple_preprocessor_interface *ut_simple_preprocessor_interface::construct(char directive_char,
                                                                              ut_macro_map *macros,
                                                                              ut_client_interface *client) {
  return new simple_preprocessor(directive_char, macros, client);
}

void ut_simple_preprocessor_interface::set_streq_interceptor(void *context, streq_interceptor_fn fn) {
  streq_context_ = context;
  streq_interceptor_ = fn;
}

namespace {

// Macro values evaluated inside each other at one time; a longer chain of
// definitions is refused rather than allowed to exhaust the stack.
constexpr size_t kMaxNesting = 64;

// Replaces every occurrence of `from` in `text`; the inserted text is not
// searched again.
void replace_all(std::string &text, const char *from, const std::string &to) {
  size_t n = std::strlen(from);
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, n, to);
}

// Whether the whole of `v` (blanks aside) is a number, optionally negative;
// the number is stored in `out`.
bool whole_number(const char *v, int32_t *out) {
  const char *p = string_parser::skip_whitespace(v);
  bool negative = *p == '-';
  if (negative) ++p;
  int32_t n = 0;
  const char *end = string_parser::parse_number(p, &n);
  if (!end || *string_parser::skip_whitespace(end)) return false;
  *out = negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(n)) : n;
  return true;
}

// The leading C identifier of `arg`, or "" when it does not start with one.
std::string leading_identifier(const std::string &arg) {
  const char *p = arg.c_str();
  return std::string(p, string_parser::skip_C_identifier(p));
}

}  // namespace

simple_preprocessor::simple_preprocessor(char directive_char, ut_macro_map *macros, ut_client_interface *client)
    : directive_char_(directive_char), evaluator_(this), macros_(macros), client_(client) {}

bool simple_preprocessor::is_in_false() const { return !scopes_.empty() && !scopes_.back().active; }

bool simple_preprocessor::enclosing_active() const {
  return scopes_.size() < 2 || scopes_[scopes_.size() - 2].active;
}

bool simple_preprocessor::elif_is_in_false() const {
  return !scopes_.empty() && (scopes_.back().taken || !enclosing_active());
}

bool simple_preprocessor::process_line(const char *line) {
  last_was_include_ = false;
  if (!line || *line != directive_char_) return illegal(line ? line : "");
  const char *p = string_parser::skip_whitespace(line + 1);
  const char *name_end = p;
  while ((*name_end >= 'a' && *name_end <= 'z') || (*name_end >= 'A' && *name_end <= 'Z')) ++name_end;
  std::string directive(p, name_end);
  const char *a = string_parser::skip_whitespace(name_end);
  std::string arg(a, string_parser::skip_to_trailing_whitespace(a));
  const char *d = directive.c_str();

  if (!std::strcmp(d, "if") || !std::strcmp(d, "ifdef")) {
    bool skipping = is_in_false();
    bool cond;
    if (d[2] == 0) {
      cond = evaluator_.evaluate(arg.c_str(), skipping) != 0;
    } else {
      std::string name = leading_identifier(arg);
      cond = !skipping && is_defined(name.c_str());
    }
    open_scope(cond);
    return d[2] != 0 || !evaluator_.had_error();
  }
  if (!std::strcmp(d, "elif") || !std::strcmp(d, "elsif") || !std::strcmp(d, "elseif")) return do_elif(d, arg);
  if (!std::strcmp(d, "else")) return do_else();
  if (!std::strcmp(d, "endif")) return do_endif();

  bool known = !std::strcmp(d, "define") || !std::strcmp(d, "undef") || !std::strcmp(d, "info") ||
               !std::strcmp(d, "echo") || !std::strcmp(d, "warning") || !std::strcmp(d, "error") ||
               !std::strcmp(d, "include");
  // Inside a false section nothing else acts, and unknown directives are
  // left alone as well: the section may be meant for another reader.
  if (is_in_false()) return true;
  if (!known) return illegal(line);
  if (!std::strcmp(d, "define")) return do_define(arg) || illegal(line);
  if (!std::strcmp(d, "undef")) {
    std::string name = leading_identifier(arg);
    if (name.empty()) return illegal(line);
    remove_define(name.c_str());
    return true;
  }
  if (!std::strcmp(d, "include")) return do_include(line, arg);
  if (!std::strcmp(d, "warning")) {
    gen_warning("%s", arg.c_str());
  } else if (!std::strcmp(d, "error")) {
    gen_error("%s", arg.c_str());
  } else {
    gen_info("%s", arg.c_str());
  }
  return true;
}

void simple_preprocessor::open_scope(bool condition) {
  bool outer = !is_in_false();
  ifendif_scope s;
  s.condition = condition;
  s.active = condition && outer;
  s.taken = condition;
  scopes_.push_back(s);
}

bool simple_preprocessor::do_elif(const char *directive, const std::string &arg) {
  if (scopes_.empty() || scopes_.back().else_seen) {
    gen_error("unexpected directive: %s", directive);
    return false;
  }
  bool outer = enclosing_active();
  bool evaluate = outer && !scopes_.back().taken;
  bool cond = evaluate && evaluator_.evaluate(arg.c_str(), false) != 0;
  ifendif_scope &s = scopes_.back();
  s.condition = cond;
  s.active = cond && outer;
  s.taken = s.taken || cond;
  return !evaluate || !evaluator_.had_error();
}

bool simple_preprocessor::do_else() {
  if (scopes_.empty() || scopes_.back().else_seen) {
    gen_error("unexpected directive: else");
    return false;
  }
  bool outer = enclosing_active();
  ifendif_scope &s = scopes_.back();
  s.condition = !s.taken;
  s.active = s.condition && outer;
  s.taken = true;
  s.else_seen = true;
  return true;
}

bool simple_preprocessor::do_endif() {
  if (scopes_.empty()) {
    gen_error("unexpected directive: endif");
    return false;
  }
  scopes_.pop_back();
  return true;
}

bool simple_preprocessor::do_define(const std::string &arg) {
  std::string name = leading_identifier(arg);
  if (name.empty()) return false;
  const char *v = string_parser::skip_whitespace(arg.c_str() + name.size());
  std::string value(v, string_parser::skip_to_trailing_comment(v));
  value.erase(static_cast<size_t>(string_parser::skip_to_trailing_whitespace(value.c_str()) - value.c_str()));
  add_define(name.c_str(), value.c_str());
  return true;
}

bool simple_preprocessor::do_include(const char *line, const std::string &arg) {
  const char *a = arg.c_str();
  if (!string_parser::starts_string_constant(a)) return illegal(line);
  const char *end = string_parser::skip_string_constant(a);
  if (end - a < 2 || end[-1] != '"') return illegal(line);
  std::string name(a, end);
  name.resize(static_cast<size_t>(string_parser::decode_string_constant(name.data(), name.data())));
  if (name.empty()) return illegal(line);
  include_name_ = substitute_dirs(name);
  last_was_include_ = true;
  return true;
}

bool simple_preprocessor::illegal(const char *line) {
  gen_error("illegal directive: \"%s\"", line);
  return false;
}

std::string simple_preprocessor::substitute_dirs(const std::string &name) {
  std::string out = name;
  if (out.find("_KORVO_DIR") != std::string::npos) {
    const char *v = get_define_value("_KORVO_DIR", false);
    if (!v) v = gen_getprogdir();
    std::string korvo = v ? v : ".";  // a program that never named itself
    replace_all(out, "${__KORVO_DIR__}", korvo);
    replace_all(out, "${_KORVO_DIR}", korvo);
    replace_all(out, "_KORVO_DIR", korvo);
  }
  if (out.find("${__DIR__}") != std::string::npos) {
    const char *v = get_define_value("__DIR__", false);
    if (!v) v = gen_getcwd();
    replace_all(out, "${__DIR__}", v ? v : ".");
  }
  return out;
}

void simple_preprocessor::add_define(const char *name, const char *value) {
  defines_.insert(name, value ? value : "");
}

void simple_preprocessor::remove_define(const char *name) { defines_.remove(name); }

bool simple_preprocessor::is_defined(const char *name) {
  if (!name || !*name) return false;
  if (defines_.find(name) || (macros_ && macros_->find(name))) return true;
  return client_ && (client_->is_defined_in_env(name) || client_->lookup_in_env(name));
}

const char *simple_preprocessor::get_define_value(const char *name, bool required) {
  if (name && *name) {
    if (const ut_string *v = defines_.find(name)) return v->c_str();
    if (const ut_string *v = macros_ ? macros_->find(name) : nullptr) return v->c_str();
    if (client_) {
      if (const char *v = client_->lookup_in_env(name)) return v;
      if (client_->is_defined_in_env(name)) return "";
    }
  }
  if (required) gen_error("macro not defined(%s) ...", name ? name : "");
  return nullptr;
}

int simple_preprocessor::val_from_name(const char *name, bool skipping) {
  const char *v = get_define_value(name, !skipping);
  if (!v || !*v) return 0;
  return evaluate_value(name, v, skipping);
}

int simple_preprocessor::evaluate_value(const char *name, const char *value, bool skipping) {
  int32_t n = 0;
  if (whole_number(value, &n)) return n;
  for (const std::string &active : evaluating_) {
    if (active == name) {
      gen_error("macro recursion detected for: \"%s\"", name);
      return 0;
    }
  }
  if (evaluating_.size() >= kMaxNesting) {
    gen_error("macro nesting too deep for: \"%s\"", name);
    return 0;
  }
  // The value is copied: evaluating it may run further lookups that
  // invalidate the pointer.
  std::string text(value);
  evaluating_.push_back(name);
  int v = evaluator_.evaluate(text.c_str(), skipping);
  evaluating_.pop_back();
  return v;
}

int simple_preprocessor::val_from_fcn(const char *name, int argc, const char *const *argv, bool skipping) {
  bool single = !std::strcmp(name, "defined") || !std::strcmp(name, "notempty") ||
                !std::strcmp(name, "file_exists") || !std::strcmp(name, "fileexists") || !std::strcmp(name, "env");
  if (single && argc != 1) {
    gen_error("too many arguments %s", name);
    return 0;
  }
  if (!std::strcmp(name, "defined")) return is_defined(argv[0]);
  if (!std::strcmp(name, "notempty")) {
    const char *v = get_define_value(argv[0], false);
    return v && *v;
  }
  if (!std::strcmp(name, "file_exists") || !std::strcmp(name, "fileexists"))
    return access(substitute_dirs(argv[0]).c_str(), R_OK) == 0;
  if (!std::strcmp(name, "env")) {
    const char *v = client_ ? client_->lookup_in_env(argv[0]) : nullptr;
    if (!v || !*v) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(std::strtoll(v, nullptr, 0)));
  }
  if (!std::strcmp(name, "streq")) {
    if (argc < 2) {
      gen_error("too few arguments %s", name);
      return 0;
    }
    return streq(argc, argv);
  }
  gen_error("unknown function: %s", name);
  return 0;
}

int simple_preprocessor::streq(int argc, const char *const *argv) {
  // Resolved values are copied before the next lookup can replace them.
  std::vector<std::string> values;
  const char *first = get_define_value(argv[0], false);
  bool first_defined = first != nullptr;
  values.emplace_back(first ? first : "");
  for (int i = 1; i < argc; ++i) {
    const char *v = is_defined(argv[i]) ? get_define_value(argv[i], false) : nullptr;
    values.emplace_back(v ? v : argv[i]);
  }
  std::vector<const char *> resolved;
  for (const std::string &v : values) resolved.push_back(v.c_str());
  if (!first_defined) resolved[0] = nullptr;
  if (streq_interceptor_) streq_interceptor_(streq_context_, argc, resolved.data());
  if (!first_defined) return 0;
  for (int i = 1; i < argc; ++i)
    if (values[0] == values[static_cast<size_t>(i)]) return 1;
  return 0;
}
