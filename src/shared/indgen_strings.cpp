// indgen_strings.cpp: string helpers of the runtime library: copies, joins,
// case-blind comparison, quoting and escapes. Results are new heap strings
// released with gen_free.
#include <cstdlib>
#include <cstring>

#include "shared/indgen.h"

namespace {

// Joins n parts (null parts count as "") into a new string.
char *join(const char *const *parts, int n) {
  size_t lens[5];
  size_t total = 0;
  for (int i = 0; i < n; ++i) {
    lens[i] = parts[i] ? std::strlen(parts[i]) : 0;
    total += lens[i];
  }
  char *result = static_cast<char *>(gen_allocate(nullptr, total + 1, 1));
  char *p = result;
  for (int i = 0; i < n; ++i) {
    if (lens[i]) std::memcpy(p, parts[i], lens[i]);
    p += lens[i];
  }
  *p = 0;
  return result;
}

int lower(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// The escape letter for a byte that gets a named escape, else 0.
char escape_letter(unsigned char c) {
  switch (c) {
    case '\\': return '\\';
    case '"': return '"';
    case '\'': return '\'';
    case '\n': return 'n';
    case '\t': return 't';
    case '\r': return 'r';
    case '\a': return 'a';
    case '\b': return 'b';
    case '\f': return 'f';
    case '\v': return 'v';
    default: return 0;
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the escape after a backslash at *p (p points at the letter);
// advances p past it and returns the byte.
char decode_escape(const char *&p) {
  char c = *p++;
  switch (c) {
    case 'n': return '\n';
    case 't': return '\t';
    case 'r': return '\r';
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'v': return '\v';
    case 'x': {
      int v = 0;
      for (int i = 0; i < 2 && hex_value(*p) >= 0; ++i) v = v * 16 + hex_value(*p++);
      return static_cast<char>(v);
    }
    default:
      break;
  }
  if (c >= '0' && c <= '7') {
    int v = c - '0';
    for (int i = 0; i < 2 && *p >= '0' && *p <= '7'; ++i) v = v * 8 + (*p++ - '0');
    return static_cast<char>(v);
  }
  return c;
}

}  // namespace

char *gen_copy(const char *s) {
  if (!s) return nullptr;
  size_t n = std::strlen(s);
  char *r = static_cast<char *>(gen_allocate(nullptr, n + 1, 1));
  std::memcpy(r, s, n + 1);
  return r;
}

char *gen_copyn(const char *s, int n) {
  if (!s) return nullptr;
  size_t len = n > 0 ? strnlen(s, static_cast<size_t>(n)) : 0;
  char *r = static_cast<char *>(gen_allocate(nullptr, len + 1, 1));
  std::memcpy(r, s, len);
  r[len] = 0;
  return r;
}

char *gen_concat(const char *a, const char *b) {
  const char *parts[] = {a, b};
  return join(parts, 2);
}

char *gen_concat3(const char *a, const char *b, const char *c) {
  const char *parts[] = {a, b, c};
  return join(parts, 3);
}

char *gen_concat4(const char *a, const char *b, const char *c, const char *d) {
  const char *parts[] = {a, b, c, d};
  return join(parts, 4);
}

char *gen_concat5(const char *a, const char *b, const char *c, const char *d, const char *e) {
  const char *parts[] = {a, b, c, d, e};
  return join(parts, 5);
}

char *gen_fconcat(char *a, const char *b) {
  char *r = gen_concat(a, b);
  gen_free(a);
  return r;
}

char *gen_fconcat3(char *a, const char *b, const char *c) {
  char *r = gen_concat3(a, b, c);
  gen_free(a);
  return r;
}

char *gen_fconcat4(char *a, const char *b, const char *c, const char *d) {
  char *r = gen_concat4(a, b, c, d);
  gen_free(a);
  return r;
}

char *gen_concat_sep(const char *first, char sep, const char *second) {
  if (!first) return gen_copy(second ? second : "");
  const char separator[2] = {sep, 0};
  return gen_concat3(first, separator, second);
}

bool gen_strequal(const char *a, const char *b) {
  if (!a || !b) return a == b;
  for (; *a && lower(*a) == lower(*b); ++a, ++b) {
  }
  return lower(*a) == lower(*b);
}

bool gen_strnequal(const char *a, const char *b, int n) {
  if (!a || !b) return a == b;
  for (int i = 0; i < n; ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
    if (a[i] == 0) return true;
  }
  return true;
}

bool gen_strprefix(const char *s, const char *prefix) {
  if (!s || !prefix) return false;
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

bool gen_strcaseprefix(const char *s, const char *prefix) {
  if (!s || !prefix) return false;
  for (; *prefix; ++s, ++prefix) {
    if (lower(*s) != lower(*prefix)) return false;
  }
  return true;
}

const char *gen_strstr(const char *haystack, const char *needle) {
  if (!haystack || !needle) return nullptr;
  return std::strstr(haystack, needle);
}

unsigned long gen_strtoul(const char *s, char **end, int base) { return std::strtoul(s, end, base); }

bool gen_isalnum(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool gen_isspace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char *gen_quotify_string(const char *s) {
  if (!s) s = "";
  size_t n = std::strlen(s);
  char *r = static_cast<char *>(gen_allocate(nullptr, 2 * n + 3, 1));
  char *p = r;
  *p++ = '"';
  for (; *s; ++s) {
    if (*s == '\\' || *s == '"' || *s == '\'') *p++ = '\\';
    *p++ = *s;
  }
  *p++ = '"';
  *p = 0;
  return r;
}

char *gen_dequotify_string(const char *s) {
  if (!s) return nullptr;
  size_t n = std::strlen(s);
  const char *end = s + n;
  if (n >= 2 && (s[0] == '"' || s[0] == '\'') && s[n - 1] == s[0]) {
    ++s;
    --end;
  }
  char *r = static_cast<char *>(gen_allocate(nullptr, n + 1, 1));
  char *p = r;
  while (s < end) {
    if (*s == '\\' && s + 1 < end) {
      ++s;
      *p++ = decode_escape(s);
    } else {
      *p++ = *s++;
    }
  }
  *p = 0;
  return r;
}

char *gen_escapify_string(const char *s) {
  if (!s) return nullptr;
  char *r = static_cast<char *>(gen_allocate(nullptr, 4 * std::strlen(s) + 1, 1));
  char *p = r;
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    char letter = escape_letter(c);
    if (letter) {
      *p++ = '\\';
      *p++ = letter;
    } else if (c < 32 || c == 127) {
      *p++ = '\\';
      *p++ = static_cast<char>('0' + (c >> 6));
      *p++ = static_cast<char>('0' + ((c >> 3) & 7));
      *p++ = static_cast<char>('0' + (c & 7));
    } else {
      *p++ = static_cast<char>(c);
    }
  }
  *p = 0;
  return r;
}

char *gen_binary_to_string(const void *bytes, int count) {
  static const char kHex[] = "0123456789abcdef";
  if (count < 0 || (!bytes && count > 0)) count = 0;
  const unsigned char *b = static_cast<const unsigned char *>(bytes);
  char *r = static_cast<char *>(gen_allocate(nullptr, 2 * static_cast<size_t>(count) + 1, 1));
  for (int i = 0; i < count; ++i) {
    r[2 * i] = kHex[b[i] & 15];
    r[2 * i + 1] = kHex[b[i] >> 4];
  }
  r[2 * count] = 0;
  return r;
}
