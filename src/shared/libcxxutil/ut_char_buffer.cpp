// ut_char_buffer: one calloc'd block with a movable start. Growth doubles the
// capacity (plus what is needed); when enough characters were dropped at the
// front the text is moved back to the beginning instead of growing.
#include "shared/libcxxutil/ut_char_buffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"

namespace {

constexpr int kDefaultSize = 8;

char *alloc_zeroed(size_t size) {
  void *p = std::calloc(1, size);
  if (!p) gen_outofmemory();
  return static_cast<char *>(p);
}

bool needs_quotes(const char *text, int n) {
  for (int i = 0; i < n; ++i) {
    if (text[i] == ' ' || text[i] == '"' || text[i] == '\'') return true;
  }
  return false;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Output function for the printf engine: appends each produced chunk.
int append_chunk(void *target, const char *chars, int count) {
  static_cast<ut_char_buffer *>(target)->add_strn(chars, count);
  return count;
}

}  // namespace

ut_char_buffer::ut_char_buffer() { init_empty(); }

ut_char_buffer::ut_char_buffer(const char *text) {
  init_empty();
  if (text) assign_bytes(text, static_cast<int>(std::strlen(text)));
}

ut_char_buffer::ut_char_buffer(const char *text, int length) {
  init_empty();
  if (text && length > 0) assign_bytes(text, length);
}

ut_char_buffer::ut_char_buffer(const ut_char_buffer &other) {
  init_empty();
  assign_bytes(other.start, other.length());
}

ut_char_buffer::ut_char_buffer(const ut_string &text) {
  init_empty();
  assign_bytes(text.c_str(), text.length());
}

ut_char_buffer::~ut_char_buffer() { std::free(begin); }

ut_char_buffer &ut_char_buffer::operator=(const ut_char_buffer &other) {
  if (this != &other) assign_bytes(other.start, other.length());
  return *this;
}

ut_char_buffer &ut_char_buffer::operator=(const char *text) {
  assign_bytes(text ? text : "", text ? static_cast<int>(std::strlen(text)) : 0);
  return *this;
}

void ut_char_buffer::init_empty() {
  begin = alloc_zeroed(kDefaultSize);
  capacityEnd = begin + kDefaultSize;
  start = end = begin;
}

void ut_char_buffer::assign_bytes(const char *text, int length) {
  // The text may lie inside this buffer: build the new block first.
  size_t size = static_cast<size_t>(length) + 1 > kDefaultSize ? length + 1 : kDefaultSize;
  char *block = alloc_zeroed(size);
  std::memcpy(block, text, length);
  std::free(begin);
  begin = start = block;
  end = block + length;
  capacityEnd = block + size;
}

void ut_char_buffer::reserve_extra(int extra) {
  size_t needed = static_cast<size_t>(extra) + 1;
  if (static_cast<size_t>(capacityEnd - end) >= needed) return;
  size_t len = end - start;
  size_t cap = capacityEnd - begin;
  if (start > begin && cap >= len + needed) {
    std::memmove(begin, start, len);
    std::memset(begin + len, 0, cap - len);
    start = begin;
    end = begin + len;
    return;
  }
  size_t newcap = needed + 2 * cap;
  size_t startOff = start - begin;
  char *block = static_cast<char *>(std::realloc(begin, newcap));
  if (!block) gen_outofmemory();
  std::memset(block + cap, 0, newcap - cap);
  begin = block;
  capacityEnd = block + newcap;
  start = block + startOff;
  end = start + len;
}

void ut_char_buffer::add_bytes(const char *data, int n) {
  if (n <= 0) return;
  // Remember where data sits relative to the block in case it is our own text
  // and the block moves.
  uintptr_t at = reinterpret_cast<uintptr_t>(data);
  bool inside = at >= reinterpret_cast<uintptr_t>(begin) &&
                at < reinterpret_cast<uintptr_t>(capacityEnd);
  size_t off = inside ? at - reinterpret_cast<uintptr_t>(begin) : 0;
  reserve_extra(n);
  if (inside) data = begin + off;
  std::memmove(end, data, n);
  end += n;
  *end = 0;
}

void ut_char_buffer::add_char(char c) {
  if (c) add_bytes(&c, 1);
}

void ut_char_buffer::add_extra_null_char() {
  reserve_extra(1);
  *end++ = 0;
  *end = 0;
}

void ut_char_buffer::add_strn(const char *text, int n) {
  if (!text || n <= 0) return;
  add_bytes(text, static_cast<int>(strnlen(text, n)));
}

void ut_char_buffer::add_str(const char *text) {
  if (text) add_bytes(text, static_cast<int>(std::strlen(text)));
}

void ut_char_buffer::add_str(const ut_string &text) { add_bytes(text.c_str(), text.length()); }

void ut_char_buffer::add_strq(const char *text) {
  if (text) add_strnq(text, static_cast<int>(std::strlen(text)));
}

void ut_char_buffer::add_strnq(const char *text, int n) {
  if (!text || n < 0) return;
  // Quote from a private copy: the text may lie inside this buffer.
  ut_string copy(text, n);
  const char *s = copy.c_str();
  add_char('"');
  for (; *s; ++s) {
    if (*s == '\\' || *s == '"') add_char('\\');
    add_char(*s);
  }
  add_char('"');
}

void ut_char_buffer::add_stre(const char *text) {
  if (!text) return;
  int n = static_cast<int>(std::strlen(text));
  if (needs_quotes(text, n)) {
    add_strnq(text, n);
  } else {
    add_bytes(text, n);
  }
}

void ut_char_buffer::add_strf(const char *format, ...) {
  if (!format) return;
  va_list args;
  va_start(args, format);
  add_strvf(format, args);
  va_end(args);
}

void ut_char_buffer::add_strvf(const char *format, va_list args) {
  if (!format) return;
  MT_Vsprintf(format, args, this, append_chunk);
}

void ut_char_buffer::remove_first_chars(int n) {
  if (n <= 0) return;
  start = n >= length() ? end : start + n;
}

void ut_char_buffer::remove_last_char() {
  if (end > start) *--end = 0;
}

void ut_char_buffer::remove_initial_spaces_and_tabs() {
  while (start < end && is_blank(*start)) ++start;
}

void ut_char_buffer::remove_trailing_spaces_and_tabs() {
  while (end > start && is_blank(end[-1])) *--end = 0;
}

ut_string ut_char_buffer::substr(int pos, int n) const {
  int len = length();
  if (pos < 0 || pos >= len || n == 0) return ut_string();
  if (n < 0 || n > len - pos) n = len - pos;
  return ut_string(start + pos, n);
}

int ut_char_buffer::copy(char *buffer, int n, int pos) const {
  int len = length();
  if (!buffer || pos < 0 || pos > len) return 0;
  int avail = len + 1 - pos;
  int count = (n < 0 || n > avail) ? avail : n;
  std::memcpy(buffer, start + pos, count);
  return count;
}

void ut_char_buffer::erase(int pos, int n) {
  int len = length();
  if (pos < 0 || pos >= len || n == 0) return;
  if (n < 0 || n > len - pos) n = len - pos;
  std::memmove(start + pos, start + pos + n, len - pos - n);
  end -= n;
  std::memset(end, 0, n);
}

int ut_char_buffer::find(char c, int pos) const {
  int len = length();
  if (pos < 0 || pos >= len) return -1;
  const void *hit = std::memchr(start + pos, c, len - pos);
  return hit ? static_cast<int>(static_cast<const char *>(hit) - start) : -1;
}

int ut_char_buffer::find(const char *text) const {
  if (!text) return -1;
  const char *hit = std::strstr(start, text);
  return hit ? static_cast<int>(hit - start) : -1;
}

char *ut_char_buffer::peel() {
  if (start > begin) {
    size_t len = end - start;
    std::memmove(begin, start, len);
    std::memset(begin + len, 0, capacityEnd - (begin + len));
  }
  char *block = begin;
  init_empty();
  return block;
}

void ut_char_buffer::reset() {
  std::memset(begin, 0, capacityEnd - begin);
  start = end = begin;
}

void ut_char_buffer::ensure_capacity(int n) {
  if (n > length()) reserve_extra(n - length());
}
