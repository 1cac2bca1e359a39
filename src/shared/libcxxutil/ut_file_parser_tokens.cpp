// ut_file_parser tokens: splitting the current line into tokens while
// expanding macro references.
//
// Characters come from the source stack: the file line at the bottom and
// the values of macros being expanded above it. A macro source stays on the
// stack until a character is read past its end, so a reference at the very
// end of a value still sees that value as being expanded; this is what
// makes every recursive definition detectable. Each line has an expansion
// allowance, so definitions that double at every level cannot run away.
#include <cstring>

#include "shared/indgen.h"
#include "shared/libcxxutil/string_parser.h"
#include "shared/libcxxutil/ut_file_parser.h"

namespace {

// Two-character operators; any other operator character stands alone.
// Macro values expanded inside each other at one time; deeper nesting is
// refused so that long chains of definitions cannot exhaust time or stack.
constexpr size_t kMaxMacroNesting = 64;

const char *const kPairs[] = {"%=", "*=", "/=", "^=", "&&", "&=", "++", "+=", "--", "-=", "||", "|="};

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool starts_identifier(char c) { return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

// ---------------------------------------------------------------------------
// The character stream.

char ut_file_parser::peek(size_t k) const {
  for (size_t i = sources_.size(); i-- > 0;) {
    const source_stack_elem &s = sources_[i];
    size_t avail = s.text.size() - s.pos;
    if (k < avail) return s.text[s.pos + k];
    k -= avail;
  }
  return 0;
}

char ut_file_parser::get() {
  drop_exhausted();
  if (sources_.empty()) return 0;
  source_stack_elem &s = sources_.back();
  return s.pos < s.text.size() ? s.text[s.pos++] : 0;
}

void ut_file_parser::drop_exhausted() {
  while (sources_.size() > 1 && sources_.back().pos >= sources_.back().text.size()) sources_.pop_back();
}

void ut_file_parser::end_line() {
  if (sources_.empty()) return;
  sources_.resize(1);
  sources_[0].pos = sources_[0].text.size();
}

bool ut_file_parser::in_source_stack(const std::string &name) const {
  for (const source_stack_elem &s : sources_)
    if (!s.macro.is_empty() && name == s.macro.c_str()) return true;
  return false;
}

// Takes `cost` from the line's expansion allowance; reports once when it is
// used up.
bool ut_file_parser::spend(size_t cost) {
  if (cost <= budget_) {
    budget_ -= cost;
    return true;
  }
  budget_ = 0;
  if (!budget_reported_) parse_error("macro expansion too long");
  budget_reported_ = true;
  return false;
}

// Reads a reference at offset `at` of the stream: "$" and a name in braces,
// or "$" and a C identifier. `length` counts every character of it.
bool ut_file_parser::scan_reference(size_t at, std::string &name, size_t &length, bool &braced) const {
  name.clear();
  if (peek(at) != '$') return false;
  if (peek(at + 1) == '{') {
    size_t k = at + 2;
    for (char c; (c = peek(k)) && c != '}'; ++k) name += c;
    if (peek(k) != '}' || name.empty()) return false;
    braced = true;
    length = k + 1 - at;
    return true;
  }
  if (!starts_identifier(peek(at + 1))) return false;
  size_t k = at + 1;
  for (char c; (c = peek(k)) && string_parser::is_C_identifier_char(c); ++k) name += c;
  braced = false;
  length = k - at;
  return true;
}

// ---------------------------------------------------------------------------
// Tokens.

bool ut_file_parser::fill_pending() {
  while (!has_pending_) {
    if (sources_.empty()) return false;
    drop_exhausted();
    pending_gap_ = peek(0);
    while (is_blank(peek(0))) get();
    char c = peek(0);
    if (c == 0) return false;
    if (c == '#') {
      end_line();
      return false;
    }
    if (c == '$' && peek(1) == '{') {
      int r = expand_outside();
      if (r == 0) continue;  // the value is now on the source stack
      if (r == 1) break;     // the bare name became the token
    }
    pending_.clear();
    pending_quoted_ = c == '"';
    if (pending_quoted_) {
      scan_string();
    } else if (slash_identifiers_ && string_parser::is_OD_identifier_char(c)) {
      scan_word(true);
    } else if (string_parser::is_C_identifier_char(c)) {
      scan_word(false);
    } else {
      scan_operator();
    }
    has_pending_ = true;
  }
  return true;
}

bool ut_file_parser::fill_any() {
  while (!fill_pending())
    if (!next_line()) return false;
  return true;
}

void ut_file_parser::take_pending() {
  token_.erase(0, -1);
  token_.add_strn(pending_.data(), static_cast<int>(pending_.size()));
  last_quoted_ = pending_quoted_;
  has_pending_ = false;
}

// "${name}" outside a string: 0 when the value was pushed (or the reference
// dropped), 1 when the undefined name became the pending token, 2 when this
// is no reference and "$" is an operator.
int ut_file_parser::expand_outside() {
  std::string name;
  size_t length = 0;
  bool braced = false;
  if (!scan_reference(0, name, length, braced)) return 2;
  for (size_t i = 0; i < length; ++i) get();
  if (in_source_stack(name)) {
    parse_error("macro recursion detected for: \"%s\"", name.c_str());
    return 0;
  }
  if (sources_.size() > kMaxMacroNesting) {
    parse_error("macro nesting too deep for: \"%s\"", name.c_str());
    return 0;
  }
  const char *value = preprocessor_->get_define_value(name.c_str(), true);
  if (!value) {
    pending_ = name;
    pending_quoted_ = false;
    has_pending_ = true;
    return 1;
  }
  if (!spend(1 + std::strlen(value))) return 0;
  source_stack_elem s;
  s.macro = name.c_str();
  s.text = value;
  sources_.push_back(std::move(s));
  return 0;
}

void ut_file_parser::scan_word(bool slash) {
  char c = peek(0);
  if (!slash && is_digit(c)) {
    // A number: hexadecimal after "0x", else a run of digits.
    if (c == '0' && (peek(1) == 'x' || peek(1) == 'X') && is_hex(peek(2))) {
      pending_ += get();
      pending_ += get();
      while (is_hex(peek(0))) pending_ += get();
    } else {
      while (is_digit(peek(0))) pending_ += get();
    }
    return;
  }
  while ((c = peek(0)) && (slash ? string_parser::is_OD_identifier_char(c) : string_parser::is_C_identifier_char(c)))
    pending_ += get();
}

void ut_file_parser::scan_operator() {
  char c = get();
  pending_ += c;
  char d = peek(0);
  for (const char *pair : kPairs) {
    if (pair[0] == c && pair[1] == d) {
      pending_ += get();
      return;
    }
  }
}

// A double-quoted string up to its closing quote or the end of the line;
// escapes stay as written and macro references are expanded.
void ut_file_parser::scan_string() {
  pending_ += get();
  for (char c; (c = peek(0));) {
    if (c == '\\') {
      pending_ += get();
      if (peek(0)) pending_ += get();
      continue;
    }
    if (c == '$' && expand_in_string()) continue;
    pending_ += get();
    if (c == '"') return;
  }
}

bool ut_file_parser::expand_in_string() {
  std::string name;
  size_t length = 0;
  bool braced = false;
  if (!scan_reference(0, name, length, braced)) return false;
  for (size_t i = 0; i < length; ++i) get();
  std::vector<std::string> active;
  insert_macro(name, braced, active);
  return true;
}

// Appends the value of a macro referenced inside a string, escaping what
// needs it and expanding the references in the value in turn. An undefined
// macro leaves "$name" (unbraced) or the bare name (braced, reported).
void ut_file_parser::insert_macro(const std::string &name, bool braced, std::vector<std::string> &active) {
  bool recursive = in_source_stack(name);
  for (const std::string &a : active) recursive = recursive || a == name;
  if (recursive) {
    parse_error("macro recursion detected for: \"%s\"", name.c_str());
    return;
  }
  if (sources_.size() + active.size() > kMaxMacroNesting) {
    parse_error("macro nesting too deep for: \"%s\"", name.c_str());
    return;
  }
  const char *found = preprocessor_->get_define_value(name.c_str(), braced);
  if (!found) {
    pending_ += braced ? name : "$" + name;
    return;
  }
  std::string value = found;
  if (!spend(1 + value.size())) return;
  active.push_back(name);
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '$') {
      const char *v = value.c_str() + i + 1;
      bool b = *v == '{';
      const char *start = b ? v + 1 : v;
      const char *end = b ? std::strchr(start, '}') : string_parser::skip_C_identifier(start);
      if (end && end > start) {
        insert_macro(std::string(start, end), b, active);
        i = static_cast<size_t>(end - value.c_str()) - (b ? 0 : 1);
        continue;
      }
    }
    char esc = string_parser::string_escape_char_for_char(value[i]);
    if (esc) pending_ += '\\';
    pending_ += esc ? esc : value[i];
  }
  active.pop_back();
}

// ---------------------------------------------------------------------------
// The public token operations.

const char *ut_file_parser::eat_next() {
  if (!fill_any()) return nullptr;
  take_pending();
  return token_.c_str();
}

bool ut_file_parser::eat_if(const char *literal) {
  if (!literal || !fill_any() || pending_ != literal) return false;
  take_pending();
  return true;
}

bool ut_file_parser::eat_upto(const char *literal) {
  for (const char *t; (t = eat_next());)
    if (literal && !std::strcmp(t, literal)) return true;
  return false;
}

const char *ut_file_parser::eat_unless(const char *literal) { return eat_unless_either(literal, nullptr); }

const char *ut_file_parser::eat_unless_either(const char *a, const char *b) {
  if (!fill_any()) return nullptr;
  if ((a && pending_ == a) || (b && pending_ == b)) return nullptr;
  take_pending();
  return token_.c_str();
}

bool ut_file_parser::eat_upto_unless(const char *literal, const char *stop) {
  while (fill_any()) {
    if (stop && pending_ == stop) return false;
    take_pending();
    if (literal && !std::strcmp(token_.c_str(), literal)) return true;
  }
  return false;
}

bool ut_file_parser::must_eat(const char *literal) {
  if (literal && fill_any() && pending_ == literal) {
    take_pending();
    return true;
  }
  parse_error("expected '%s'", literal ? literal : "");
  return false;
}

const char *ut_file_parser::unquote_prev() {
  if (!last_quoted_) return nullptr;
  std::string text = token_.c_str();
  text.resize(static_cast<size_t>(string_parser::decode_string_constant(text.data(), text.data())));
  token_.erase(0, -1);
  token_.add_str(text.c_str());
  last_quoted_ = false;
  return token_.c_str();
}

bool ut_file_parser::at_eol() { return !fill_pending(); }

bool ut_file_parser::at_eof() { return !fill_any(); }

void ut_file_parser::skip_remainder_of_line() {
  has_pending_ = false;
  end_line();
}

char ut_file_parser::peek_adjoining_char() { return has_pending_ ? pending_gap_ : peek(0); }

char ut_file_parser::eat_adjoining_char() {
  if (!has_pending_) return get();
  if (pending_gap_ != pending_[0]) return 0;
  pending_.erase(0, 1);
  if (pending_.empty()) has_pending_ = false;
  return pending_gap_;
}
