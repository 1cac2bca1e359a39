// mstring.cpp: MString, a growable zero-terminated string. Null arguments
// are reported through gen_error and give -1 (appends), 0 or null.
#include "shared/mstring.h"

#include <climits>
#include <cstring>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"

namespace {

// Room for length + extra characters and the terminator; the block grows to
// at least twice the need so that repeated appends stay cheap. New bytes are
// zeroed.
void reserve(MString *s, int extra) {
  long need = static_cast<long>(s->length) + extra + 1;
  if (need <= s->capacity) return;
  if (need > INT_MAX / 2) gen_outofmemory();
  int grown = static_cast<int>(2 * need);
  s->data = static_cast<char *>(gen_allocate(s->data, static_cast<size_t>(grown), 1));
  std::memset(s->data + s->capacity, 0, static_cast<size_t>(grown - s->capacity));
  s->capacity = grown;
}

int append_bytes(MString *s, const char *text, int n) {
  if (n <= 0) return 0;
  reserve(s, n);
  std::memcpy(s->data + s->length, text, static_cast<size_t>(n));
  s->length += n;
  s->data[s->length] = 0;
  return n;
}

}  // namespace

MString *MString_new(int capacity) {
  auto *s = static_cast<MString *>(gen_calloc(1, sizeof(MString)));
  s->capacity = capacity > 1 ? capacity : 1;
  s->data = static_cast<char *>(gen_calloc(static_cast<size_t>(s->capacity), 1));
  return s;
}

void MString_delete(MString *s) {
  if (!s) {
    gen_error("[MString_delete]: cannot operate on NULL MString");
    return;
  }
  gen_free(s->data);
  gen_free(s);
}

int MString_appendn(MString *s, const char *text, int n) {
  if (!s || !text) {
    gen_error("[MString_appendn]: cannot operate on NULL");
    return -1;
  }
  int len = n > 0 ? static_cast<int>(strnlen(text, static_cast<size_t>(n))) : 0;
  return append_bytes(s, text, len);
}

int MString_append(MString *s, const char *text) {
  if (!s || !text) {
    gen_error("[MString_append]: cannot operate on NULL");
    return -1;
  }
  size_t len = std::strlen(text);
  if (len > INT_MAX / 4) gen_outofmemory();
  return append_bytes(s, text, static_cast<int>(len));
}

int MString_vappendf(MString *s, const char *format, va_list args) {
  if (!s || !format) {
    gen_error("[MString_appendf]: cannot operate on NULL");
    return -1;
  }
  char *text = gen_avsprintf(format, args);
  int n = text ? append_bytes(s, text, static_cast<int>(std::strlen(text))) : -1;
  gen_free(text);
  return n;
}

int MString_appendf(MString *s, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = MString_vappendf(s, format, args);
  va_end(args);
  return n;
}

int MString_ensureCapacity(MString *s, int n) {
  if (!s) {
    gen_error("[MString_ensureCapacity]: cannot operate on NULL MString");
    return 0;
  }
  if (s->capacity > n) return s->capacity;
  if (n > INT_MAX / 2) gen_outofmemory();
  int grown = 2 * (n > 0 ? n : 1);
  s->data = static_cast<char *>(gen_allocate(s->data, static_cast<size_t>(grown), 1));
  std::memset(s->data + s->capacity, 0, static_cast<size_t>(grown - s->capacity));
  s->capacity = grown;
  return n;
}

char *MString_peel(MString *s) {
  if (!s) {
    gen_error("[MString_peel]: cannot operate on NULL MString");
    return nullptr;
  }
  char *text = static_cast<char *>(gen_allocate(s->data, static_cast<size_t>(s->length) + 1, 1));
  text[s->length] = 0;
  gen_free(s);
  return text;
}

char *MString_copy(const MString *s) {
  if (!s) {
    gen_error("[MString_copy]: cannot operate on NULL MString");
    return nullptr;
  }
  return gen_copy(s->data);
}

int MString_len(const MString *s) { return s ? s->length : -1; }

void MString_removeTrailingWhiteSpace(MString *s) {
  if (!s) return;
  while (s->length > 1 && gen_isspace(static_cast<unsigned char>(s->data[s->length - 1]))) {
    s->data[--s->length] = 0;
  }
}
