// string_parser: see string_parser.h. Character classes are ASCII only, so
// bytes above 127 are never letters or digits whatever the locale says.
#include "shared/libcxxutil/string_parser.h"

#include <cstring>
#include <string>

namespace {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_octal(char c) { return c >= '0' && c <= '7'; }
bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int hex_value(char c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// The character an escape letter stands for; letters without a meaning
// stand for themselves.
char char_for_escape(char c) {
  switch (c) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    default: return c;
  }
}

// Decodes one escape whose letter is at `p` (just after the backslash) and
// returns the position after it.
const char *decode_escape(const char *p, char *out) {
  if (*p == 'x') {
    unsigned v = 0;
    int n = 0;
    ++p;
    while (n < 2 && is_hex(*p)) v = v * 16 + hex_value(*p++), ++n;
    *out = static_cast<char>(v);
    return p;
  }
  if (*p >= '0' && *p <= '3') {
    unsigned v = *p++ - '0';
    for (int n = 0; n < 2 && is_octal(*p); ++n) v = v * 8 + (*p++ - '0');
    *out = static_cast<char>(v);
    return p;
  }
  *out = char_for_escape(*p);
  return p + 1;
}

}  // namespace

const char *string_parser::skip_whitespace(const char *p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

const char *string_parser::skip_to_trailing_whitespace(const char *p) {
  const char *end = p + std::strlen(p);
  while (end > p && (end[-1] == ' ' || end[-1] == '\t')) --end;
  return end;
}

const char *string_parser::skip_to_trailing_comment(const char *p) {
  while (*p && *p != '#') p = starts_string_constant(p) ? skip_string_constant(p) : p + 1;
  return p;
}

bool string_parser::is_OD_identifier_char(char c) {
  return is_letter(c) || is_digit(c) || c == '_' || c == '/';
}

bool string_parser::starts_OD_identifier(const char *p) { return is_OD_identifier_char(*p); }

const char *string_parser::skip_OD_identifier(const char *p) {
  while (is_OD_identifier_char(*p)) ++p;
  return p;
}

const char *string_parser::parse_OD_identifier(const char *p, ut_string &out) {
  if (!starts_OD_identifier(p)) return nullptr;
  const char *end = skip_OD_identifier(p);
  out.assignn(p, static_cast<int>(end - p));
  return end;
}

bool string_parser::is_C_identifier_char(char c) { return is_letter(c) || is_digit(c) || c == '_'; }

bool string_parser::starts_C_identifier(const char *p) { return is_letter(*p) || *p == '_'; }

const char *string_parser::skip_C_identifier(const char *p) {
  if (!starts_C_identifier(p)) return p;
  while (is_C_identifier_char(*p)) ++p;
  return p;
}

const char *string_parser::parse_C_identifier(const char *p, ut_string &out) {
  if (!starts_C_identifier(p)) return nullptr;
  const char *end = skip_C_identifier(p);
  out.assignn(p, static_cast<int>(end - p));
  return end;
}

bool string_parser::starts_string_constant(const char *p) { return *p == '"'; }

const char *string_parser::skip_string_constant(const char *p) {
  if (!starts_string_constant(p)) return p;
  ++p;
  while (*p && *p != '"') {
    if (*p == '\\' && p[1]) ++p;
    ++p;
  }
  return *p == '"' ? p + 1 : p;
}

int string_parser::decode_string_constant(const char *src, char *dst) {
  if (*src == '"') ++src;
  char *out = dst;
  while (*src && *src != '"') {
    if (*src == '\\' && src[1]) {
      src = decode_escape(src + 1, out++);
    } else {
      *out++ = *src++;
    }
  }
  *out = 0;
  return static_cast<int>(out - dst);
}

const char *string_parser::parse_string_constant(const char *p, ut_string &out) {
  if (!starts_string_constant(p)) return nullptr;
  const char *end = skip_string_constant(p);
  std::string buf(p, end);
  int n = decode_string_constant(buf.data(), buf.data());
  out.assignn(buf.data(), n);
  return end;
}

char string_parser::string_escape_char_for_char(char c) {
  switch (c) {
    case '\a': return 'a';
    case '\b': return 'b';
    case '\f': return 'f';
    case '\n': return 'n';
    case '\r': return 'r';
    case '\t': return 't';
    case '\v': return 'v';
    case '\\': return '\\';
    case '"': return '"';
    default: return 0;
  }
}

bool string_parser::starts_number(const char *p) { return is_digit(*p); }

const char *string_parser::skip_number(const char *p) {
  if (!starts_number(p)) return p;
  if (starts_hex_number(p)) return skip_hex_number(p);
  if (*p == '0') {
    while (is_octal(*p)) ++p;
    return p;
  }
  while (is_digit(*p)) ++p;
  return p;
}

const char *string_parser::parse_number(const char *p, int32_t *value) {
  if (!starts_number(p)) return nullptr;
  if (starts_hex_number(p)) return parse_hex_number(p, value);
  uint32_t v = 0;
  uint32_t base = *p == '0' ? 8 : 10;
  const char *end = skip_number(p);
  for (; p < end; ++p) v = v * base + static_cast<uint32_t>(*p - '0');
  *value = static_cast<int32_t>(v);
  return end;
}

bool string_parser::starts_hex_number(const char *p) {
  return p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && is_hex(p[2]);
}

const char *string_parser::skip_hex_number(const char *p) {
  if (!starts_hex_number(p)) return p;
  p += 2;
  while (is_hex(*p)) ++p;
  return p;
}

const char *string_parser::parse_hex_number(const char *p, int32_t *value) {
  if (!starts_hex_number(p)) return nullptr;
  uint32_t v = 0;
  const char *end = skip_hex_number(p);
  for (p += 2; p < end; ++p) v = v * 16 + static_cast<uint32_t>(hex_value(*p));
  *value = static_cast<int32_t>(v);
  return end;
}
