// ut_options_database_reader: the statement grammar of options-database
// files. A statement is a name (identifier or quoted string) followed by an
// operator; "." descends for the rest of the statement only, so every new
// statement starts again at the current block.
#include <cstring>

#include "shared/indgen.h"
#include "shared/libcxxutil/string_parser.h"
#include "shared/libcxxutil/ut_file_parser.h"
#include "shared/libcxxutil/ut_options_database.h"
#include "shared/libcxxutil/ut_options_database_reader.h"

namespace {

// The boolean words: "false" as a whole word, tokens starting with "no" or
// "off" give 0; tokens starting with "on", "true" or "yes" give 1 (case
// ignored throughout).
bool boolean_word(const char *t, int32_t *out) {
  if (!std::strchr("fFnNoOtTyY", t[0])) return false;
  if (gen_strequal(t, "false") || gen_strcaseprefix(t, "no") || gen_strcaseprefix(t, "off")) {
    *out = 0;
    return true;
  }
  if (gen_strcaseprefix(t, "on") || gen_strcaseprefix(t, "true") || gen_strcaseprefix(t, "yes")) {
    *out = 1;
    return true;
  }
  return false;
}

// The message for an operator that is none of the known ones.
std::string unknown_operator(const std::string &op) {
  return "unknown operator sequence \"" + op.substr(0, 2) + "\" ";
}

}  // namespace

ut_options_database_reader::ut_options_database_reader(ut_options_database &db, ut_file_parser &parser,
                                                       ut_attribute_tree *start)
    : db_(db), parser_(parser), start_(start), current_(start) {}

bool ut_options_database_reader::run() {
  bool failed = false;
  for (const char *t; (t = parser_.eat_next());) {
    int errors = parser_.get_error_count();
    bool ok = statement(t, parser_.prev_was_string());
    // Errors the parser reported itself (such as macro recursion) count too.
    if (ok && parser_.get_error_count() == errors) continue;
    failed = true;
    db_.parse_error_ = true;
    if (!db_.continue_after_errors_) break;
    parser_.skip_remainder_of_line();
  }
  // Blocks left open at the end of the input are closed quietly.
  for (ut_attribute_tree *n = current_; n && n != start_; n = n->get_parent()) n->set_open_block(false);
  return !failed;
}

bool ut_options_database_reader::error(const char *message) {
  gen_error("%s: parse error: %s", parser_.get_last_position(), message);
  return false;
}

// The next token of the current line; false at its end.
bool ut_options_database_reader::next_on_line(std::string &token, bool *quoted) {
  if (parser_.at_eol()) return false;
  token = parser_.eat_next();
  *quoted = parser_.prev_was_string();
  if (*quoted) token = parser_.unquote_prev();
  return true;
}

bool ut_options_database_reader::statement(std::string token, bool quoted) {
  if (!quoted && token == ";") return true;
  if (quoted) token = parser_.unquote_prev();
  ut_attribute_tree *node = current_;
  int depth = depth_;
  for (;;) {
    std::string name, op;
    bool op_quoted = false;
    if (quoted || string_parser::is_OD_identifier_char(token[0])) {
      name = token;
      if (!next_on_line(op, &op_quoted)) return error("unexpected end of file");
    } else {
      op = token;
    }
    if (op_quoted) return error(unknown_operator("\"" + op).c_str());
    if (op == "}") {
      close_block();
      return true;
    }
    if (op == "{") return open_block(node, name, depth);
    if (op == "=" || op == "+=") {
      if (name.empty()) return error("empty attribute name");
      return assign(node, name, op == "+=");
    }
    if (op != ".") return error(unknown_operator(op).c_str());
    if (name.empty()) return error("empty attribute name");
    if (++depth > kMaxDepth) return error("blocks nested too deeply");
    node = node->find_or_add_child_tree(name.c_str());
    if (!next_on_line(token, &quoted)) return error("unexpected end of file");
  }
}

bool ut_options_database_reader::open_block(ut_attribute_tree *node, const std::string &name, int depth) {
  if (name.empty()) return error("empty attribute name");
  if (depth + 1 > kMaxDepth) return error("blocks nested too deeply");
  current_ = node->find_or_add_child_tree(name.c_str());
  current_->set_open_block(true);
  depth_ = depth + 1;
  return true;
}

// Returns to the nearest enclosing open block, or to the start node. A "}"
// with no block open is ignored.
void ut_options_database_reader::close_block() {
  if (current_ == start_) return;
  current_->set_open_block(false);
  ut_attribute_tree *n = current_->get_parent();
  while (n && n != start_ && !n->is_open_block()) n = n->get_parent();
  current_ = n ? n : start_;
  depth_ = 0;
  for (ut_attribute_tree *p = current_; p && p != start_; p = p->get_parent()) ++depth_;
}

bool ut_options_database_reader::assign(ut_attribute_tree *node, const std::string &key, bool append) {
  value v;
  if (!parse_value(v)) return false;
  const char *k = key.c_str();
  switch (v.type) {
    case UT_ATTRIBUTE_STR:
      append ? node->append_str_attribute(k, v.str.c_str()) : node->add_or_replace_str_attribute(k, v.str.c_str());
      return true;
    case UT_ATTRIBUTE_INT32:
      if (!append) {
        node->add_or_replace_int32_attribute(k, v.int32);
        return true;
      }
      if (!db_.allow_int32_lists_) return error("cannot append an integer value without integer lists");
      node->append_int32_list_attribute(k, v.int32);
      return true;
    default:
      return store_list(node, key, v, append);
  }
}

bool ut_options_database_reader::store_list(ut_attribute_tree *node, const std::string &key, const value &v,
                                            bool append) {
  const char *k = key.c_str();
  std::vector<const char *> strs;
  for (const std::string &s : v.strs) strs.push_back(s.c_str());
  ut_attribute_tree_attribute *a = node->find_attribute(k);
  // Appending to a list of the same type grows it; anything else starts
  // the list afresh, as "=" does.
  if (!append || !a || a->type != v.type) {
    if (v.type == UT_ATTRIBUTE_STR_LIST) {
      node->set_str_list_attribute(k, strs.data(), static_cast<int>(strs.size()));
    } else {
      node->set_int32_list_attribute(k, v.ints.data(), static_cast<int>(v.ints.size()));
    }
    return true;
  }
  for (const char *s : strs) node->append_str_list_attribute(k, s);
  for (int32_t n : v.ints) node->append_int32_list_attribute(k, n);
  return true;
}

bool ut_options_database_reader::parse_value(value &v) {
  std::string t;
  bool quoted = false;
  if (!next_on_line(t, &quoted)) return error("empty attribute value");
  if (quoted) {
    v.type = UT_ATTRIBUTE_STR;
    v.str = t;
    return true;
  }
  if (t == "{") return parse_list(v);
  if (db_.compatibility_mode_) {
    v.type = UT_ATTRIBUTE_STR;
    v.str = t;
    return true;
  }
  v.type = UT_ATTRIBUTE_INT32;
  if (boolean_word(t.c_str(), &v.int32)) return true;
  return parse_number(t, &v.int32);
}

bool ut_options_database_reader::parse_list(value &v) {
  std::string t;
  bool quoted = false;
  if (!next_on_line(t, &quoted)) return error("unexpected end of line");
  v.type = UT_ATTRIBUTE_STR_LIST;
  if (!quoted && t == "}") return true;
  bool ints = db_.allow_int32_lists_ && !quoted;
  if (ints) v.type = UT_ATTRIBUTE_INT32_LIST;
  for (;;) {
    if (ints) {
      int32_t n = 0;
      if (quoted || !parse_number(t, &n)) return quoted ? error("") : false;
      v.ints.push_back(n);
    } else {
      if (!quoted) return error("");
      v.strs.push_back(t);
    }
    if (!next_on_line(t, &quoted)) return error("unexpected end of line");
    if (!quoted && t == "}") return true;
    if (quoted || t != ",") return error("expected '}'");
    if (!next_on_line(t, &quoted)) return error("unexpected end of line");
  }
}

// A number with base detection, optionally as "-" and the number; in
// memory-size mode a K or M right after the digits scales it.
bool ut_options_database_reader::parse_number(std::string token, int32_t *out) {
  bool negative = token == "-";
  if (negative) {
    bool quoted = false;
    if (!next_on_line(token, &quoted)) return error("unexpected end of line");
    if (quoted) return error("");
  }
  int32_t n = 0;
  const char *end = string_parser::parse_number(token.c_str(), &n);
  if (!end) return error("");
  uint32_t u = static_cast<uint32_t>(n);
  if (db_.memory_size_shortcut_) {
    if (*end == 'K' || *end == 'k') u *= 1024u;
    if (*end == 'M' || *end == 'm') u *= 1048576u;
  }
  *out = static_cast<int32_t>(negative ? 0u - u : u);
  return true;
}
