// ut_options_database writing: the nested form (blocks indented by four
// spaces) and the compatibility form (one dotted line per attribute). The
// text is built in memory and written with one call.
//
// Strings are written in double quotes with a backslash before backslashes
// and both kinds of quotes. Line breaks are written as \n and \r and the
// dollar sign as \$, so that values holding them read back unchanged
// instead of splitting the line or being taken for macro references.
#include <cstdio>
#include <string>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

void append_quoted(std::string &out, const char *s) {
  out += '"';
  for (; s && *s; ++s) {
    switch (*s) {
      case '\\':
      case '"':
      case '\'':
      case '$':
        out += '\\';
        out += *s;
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += *s;
    }
  }
  out += '"';
}

// Keys and names made only of letters and digits are written as they are.
void append_name(std::string &out, const char *s) {
  bool plain = s && *s;
  for (const char *p = s; plain && *p; ++p) plain = gen_isalnum(static_cast<unsigned char>(*p));
  if (plain) {
    out += s;
  } else {
    append_quoted(out, s);
  }
}

// A value as the nested form writes it; `lists` false writes every list as
// "..." (the compatibility form).
void append_value(std::string &out, const ut_attribute_tree_attribute *a, bool lists) {
  switch (a->type) {
    case UT_ATTRIBUTE_STR:
      append_quoted(out, a->value.str);
      return;
    case UT_ATTRIBUTE_INT32:
      out += std::to_string(a->value.int32);
      return;
    case UT_ATTRIBUTE_STR_LIST:
      if (!lists) break;
      out += "{ ";
      for (const ut_attribute_str_list *e = a->value.str_list; e; e = e->next) {
        append_quoted(out, e->value);
        if (e->next) out += ", ";
      }
      out += " }";
      return;
    case UT_ATTRIBUTE_INT32_LIST:
      break;
  }
  out += "...";
}

void write_nested(std::string &out, const ut_attribute_tree *node, const std::string &indent) {
  for (auto *a = node->get_first_attribute(); a; a = node->get_next_attribute(a)) {
    out += indent;
    append_name(out, a->key);
    out += " = ";
    append_value(out, a, true);
    out += '\n';
  }
  std::string deeper = indent + "    ";
  for (auto *c = node->get_first_child(); c; c = node->get_next_child(c)) {
    out += indent;
    append_name(out, c->get_name());
    out += " {\n";
    write_nested(out, c, deeper);
    out += indent;
    out += "}\n";
  }
}

void write_compatible(std::string &out, const ut_attribute_tree *node, bool top) {
  ut_string path = top ? ut_string() : node->get_path_name(false);
  for (auto *a = node->get_first_attribute(); a; a = node->get_next_attribute(a)) {
    if (!top) {
      out += path.c_str();
      out += '.';
    }
    out += a->key;
    out += '=';
    append_value(out, a, false);
    out += '\n';
  }
  for (auto *c = node->get_first_child(); c; c = node->get_next_child(c)) write_compatible(out, c, false);
}

}  // namespace

bool ut_options_database::write_to_file(FILE *stream) {
  if (!stream) return false;
  std::string out;
  if (compatibility_mode_) {
    write_compatible(out, this, true);
  } else {
    write_nested(out, this, "");
  }
  if (!out.empty()) fwrite(out.data(), 1, out.size(), stream);
  return !ferror(stream);
}

bool ut_options_database::write_to_file_name(const char *file) {
  FILE *stream = gen_fopen(file, "wt");
  if (!stream) return false;
  bool ok = write_to_file(stream);
  if (fclose(stream) != 0) ok = false;
  if (!ok) gen_error("failed when writing %s", file);
  return ok;
}
