// ut_string: tagged reference-counted characters; see ut_string.h for the
// block layout. Header words are read and written through memcpy so that
// their access never depends on how the compiler sees the character pointer.
#include "shared/libcxxutil/ut_string.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "shared/indgen.h"

namespace {

constexpr int kPlainHeader = 4;
constexpr int kGrowHeader = 12;
constexpr int32_t kOneRef = 16;
// The static strings start with a count this large so that no sequence of
// references ever brings it to 0 or overflows it.
constexpr int32_t kStaticTag = (1 << 26) * kOneRef + kPlainHeader;

// A static block: the tag followed by an empty text, laid out in one byte
// array so that the tag is reached from the characters within one object.
struct alignas(4) StaticBlock {
  char bytes[8];
};

constexpr StaticBlock make_static_block() {
  auto tag = std::bit_cast<std::array<char, 4>>(kStaticTag);
  return StaticBlock{{tag[0], tag[1], tag[2], tag[3], 0, 0, 0, 0}};
}

// constinit: ut_string values built during static initialisation of other
// files may use these before any dynamic initialiser runs.
constinit StaticBlock g_default_block = make_static_block();
constinit StaticBlock g_empty_block = make_static_block();

char *default_chars() { return g_default_block.bytes + kPlainHeader; }
char *empty_chars() { return g_empty_block.bytes + kPlainHeader; }

int32_t load_word(const char *at) {
  int32_t v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

void store_word(char *at, int32_t v) { std::memcpy(at, &v, sizeof v); }

int32_t tag_of(const char *s) { return load_word(s - 4); }
void set_tag(char *s, int32_t tag) { store_word(s - 4, tag); }
int header_of(const char *s) { return tag_of(s) & 15; }
bool is_growable(const char *s) { return header_of(s) == kGrowHeader; }
int count_of(const char *s) { return tag_of(s) / kOneRef; }

// Growable header: the length word, then the capacity word (bytes from the
// first character to the end of the block), then the tag.
int grow_length(const char *s) { return load_word(s - 12); }
int grow_capacity(const char *s) { return load_word(s - 8); }
void set_grow_length(char *s, int n) { store_word(s - 12, n); }

// A tag is changed in unsigned arithmetic so that an overflow is seen as a
// non-positive tag instead of being undefined.
int32_t tag_plus(int32_t tag, int32_t delta) {
  return static_cast<int32_t>(static_cast<uint32_t>(tag) + static_cast<uint32_t>(delta));
}

char *add_ref(char *s) {
  int32_t tag = tag_plus(tag_of(s), kOneRef);
  // A count that overflowed (or a block that was not a string) is a
  // programming error that must not go on silently.
  if (tag <= 0) __Assert(0, "tag > 0", __FILE__, __LINE__, 0);
  set_tag(s, tag);
  return s;
}

void drop_ref(char *s) {
  int32_t tag = tag_plus(tag_of(s), -kOneRef);
  set_tag(s, tag);
  if (tag > kOneRef || s == default_chars() || s == empty_chars()) return;
  std::free(s - (tag & 15));
}

// Blocks come from the C allocator; running out of memory is fatal.
char *alloc_block(size_t size) {
  void *p = std::calloc(1, size);
  if (!p) gen_outofmemory();
  return static_cast<char *>(p);
}

// A zero-filled plain string with room for n characters (one reference).
char *new_plain_block(int n) {
  char *block = alloc_block(static_cast<size_t>(kPlainHeader) + n + 1);
  char *s = block + kPlainHeader;
  set_tag(s, kOneRef + kPlainHeader);
  return s;
}

// A plain string holding a copy of n bytes of text (one reference).
char *new_plain(const char *text, int n) {
  char *s = new_plain_block(n);
  std::memcpy(s, text, n);
  return s;
}

// An empty growable string with room for a text of n characters, a
// terminator and as much again to append (one reference, zero-filled).
char *new_growable(int n) {
  size_t size = kGrowHeader + (static_cast<size_t>(n) + 1) * 2 + 7;
  if (size > INT32_MAX) gen_outofmemory();
  char *block = alloc_block(size);
  char *s = block + kGrowHeader;
  store_word(s - 8, static_cast<int32_t>(size - kGrowHeader));
  set_tag(s, kOneRef + kGrowHeader);
  return s;
}

// Characters for a text constructor: null -> default, empty -> empty string,
// else a plain copy of at most n bytes (stopping at a zero byte).
char *chars_for(const char *text, int n) {
  if (!text) return add_ref(default_chars());
  size_t len = n > 0 ? strnlen(text, n) : 0;
  if (len == 0) return add_ref(empty_chars());
  return new_plain(text, static_cast<int>(len));
}

int text_length(const char *s) {
  return is_growable(s) ? grow_length(s) : static_cast<int>(std::strlen(s));
}

// A block holding the text of s (length len) with room for `extra` more
// characters. When s is unshared, growable and roomy it is returned itself
// with its count raised to 2 for the moment: the caller's release of the old
// value brings it back to 1.
char *room_for(char *s, int len, int extra) {
  if (is_growable(s) && count_of(s) == 1 && len + extra + 1 <= grow_capacity(s)) {
    set_tag(s, 2 * kOneRef + kGrowHeader);
    return s;
  }
  char *q = new_growable(len + extra);
  std::memcpy(q, s, len);
  return q;
}

// The common case of appending, without touching the count: an unshared
// growable string with room gets the characters written in place. False when
// the general path (which may reallocate) is needed.
bool append_in_place(char *s, const char *text, int m) {
  if (tag_of(s) != kOneRef + kGrowHeader) return false;
  int len = grow_length(s);
  if (len + m + 1 > grow_capacity(s)) return false;
  std::memmove(s + len, text, m);
  s[len + m] = 0;
  set_grow_length(s, len + m);
  return true;
}

void set_end(char *q, int len) {
  q[len] = 0;
  set_grow_length(q, len);
}

bool needs_quotes(const char *text, int n) {
  for (int i = 0; i < n; ++i) {
    if (text[i] == ' ' || text[i] == '"' || text[i] == '\'') return true;
  }
  return false;
}

int quoted_length(const char *text, int n) {
  int len = n + 2;
  for (int i = 0; i < n; ++i) {
    if (text[i] == '\\' || text[i] == '"') ++len;
  }
  return len;
}

// Writes the quoted form of n characters of text at dst. The source never
// lies at or after dst (it is either foreign or the text before dst).
void write_quoted(char *dst, const char *text, int n) {
  *dst++ = '"';
  for (int i = 0; i < n; ++i) {
    if (text[i] == '\\' || text[i] == '"') *dst++ = '\\';
    *dst++ = text[i];
  }
  *dst = '"';
}

}  // namespace

ut_string::ut_string() : chars_(add_ref(default_chars())) {}

ut_string::ut_string(const char *text)
    : chars_(text ? chars_for(text, static_cast<int>(std::strlen(text)))
                  : add_ref(default_chars())) {}

ut_string::ut_string(const char *text, int length) : chars_(chars_for(text, length)) {}

ut_string::ut_string(const ut_string &other) : chars_(add_ref(other.chars_)) {}

ut_string::ut_string(ut_string &&other) noexcept : chars_(other.chars_) {
  other.chars_ = add_ref(default_chars());
}

ut_string::~ut_string() { drop_ref(chars_); }

ut_string &ut_string::operator=(const ut_string &other) {
  assign(other);
  return *this;
}

ut_string &ut_string::operator=(ut_string &&other) noexcept {
  char *tmp = chars_;
  chars_ = other.chars_;
  other.chars_ = tmp;
  return *this;
}

ut_string &ut_string::operator=(const char *text) {
  assign(text);
  return *this;
}

void ut_string::adopt(char *q) {
  char *old = chars_;
  chars_ = q;
  drop_ref(old);
}

void ut_string::assign(const ut_string &other) { adopt(add_ref(other.chars_)); }

void ut_string::assign(const char *text) {
  adopt(text ? chars_for(text, static_cast<int>(std::strlen(text))) : add_ref(default_chars()));
}

void ut_string::assignn(const char *text, int length) { adopt(chars_for(text, length)); }

void ut_string::assign_concat(const char *a, const char *b) {
  size_t la = a ? std::strlen(a) : 0;
  size_t lb = b ? std::strlen(b) : 0;
  if (la + lb == 0) {
    adopt(add_ref(empty_chars()));
    return;
  }
  if (la + lb > INT32_MAX / 2) gen_outofmemory();
  char *q = new_plain_block(static_cast<int>(la + lb));
  if (la) std::memcpy(q, a, la);
  if (lb) std::memcpy(q + la, b, lb);
  adopt(q);
}

void ut_string::clear() { adopt(add_ref(default_chars())); }

void ut_string::appendn(const char *text, int n) {
  if (!text || n <= 0) return;
  append_exact(text, static_cast<int>(strnlen(text, n)));
}

void ut_string::append_exact(const char *text, int m) {
  if (m <= 0 || append_in_place(chars_, text, m)) return;
  int len = text_length(chars_);
  char *q = room_for(chars_, len, m);
  std::memmove(q + len, text, m);
  set_end(q, len + m);
  adopt(q);
}

void ut_string::append(const char *text) {
  if (text) append_exact(text, static_cast<int>(std::strlen(text)));
}

void ut_string::append(char c) {
  if (c) append_exact(&c, 1);
}

void ut_string::append(const ut_string &other) {
  append_exact(other.chars_, text_length(other.chars_));
}

void ut_string::appendnq(const char *text, int n) {
  if (!text || n <= 0) return;
  int m = static_cast<int>(strnlen(text, n));
  if (m == 0) return;
  int len = text_length(chars_);
  int qlen = quoted_length(text, m);
  char *q = room_for(chars_, len, qlen);
  write_quoted(q + len, text, m);
  set_end(q, len + qlen);
  adopt(q);
}

void ut_string::appendq(const char *text) {
  if (text) appendnq(text, static_cast<int>(std::strlen(text)));
}

void ut_string::appendne(const char *text, int n) {
  if (!text || n <= 0) return;
  int m = static_cast<int>(strnlen(text, n));
  if (needs_quotes(text, m)) {
    appendnq(text, m);
  } else {
    appendn(text, m);
  }
}

void ut_string::appende(const char *text) {
  if (text) appendne(text, static_cast<int>(std::strlen(text)));
}

void ut_string::make_private() {
  if (is_growable(chars_) && count_of(chars_) == 1) return;
  int len = text_length(chars_);
  char *q = new_growable(len);
  std::memcpy(q, chars_, len);
  set_end(q, len);
  adopt(q);
}

void ut_string::change_char(int pos, char c) { swap_char(pos, c); }

char ut_string::swap_char(int pos, char c) {
  if (pos < 0 || pos >= text_length(chars_)) return 0;
  make_private();
  char old = chars_[pos];
  chars_[pos] = c;
  if (c == 0) set_grow_length(chars_, pos);
  return old;
}

void ut_string::erase(int pos, int n) {
  int len = text_length(chars_);
  if (n <= 0 || pos < 0 || pos >= len) return;
  if (n > len - pos) n = len - pos;
  make_private();
  std::memmove(chars_ + pos, chars_ + pos + n, len - pos - n);
  std::memset(chars_ + len - n, 0, n);
  set_grow_length(chars_, len - n);
}

void ut_string::replace(int pos, int n, const char *text) {
  int len = text_length(chars_);
  if (pos < 0 || pos > len) return;
  if (n < 0) n = 0;
  if (n > len - pos) n = len - pos;
  int m = text ? static_cast<int>(std::strlen(text)) : 0;
  int result = len - n + m;
  char *q = new_growable(result);
  std::memcpy(q, chars_, pos);
  if (m) std::memcpy(q + pos, text, m);
  std::memcpy(q + pos + m, chars_ + pos + n, len - pos - n);
  set_end(q, result);
  adopt(q);
}

int ut_string::length() const { return text_length(chars_); }

bool ut_string::is_default() const { return chars_ == default_chars(); }

int ut_string::capacity() const {
  return is_growable(chars_) ? grow_capacity(chars_) - 1 : text_length(chars_);
}

int ut_string::ref_count() const { return count_of(chars_); }

int ut_string::compare(const ut_string &other) const {
  const char *a = chars_;
  const char *b = other.chars_;
  int d = static_cast<signed char>(a[0]) - static_cast<signed char>(b[0]);
  if (d != 0 || a[0] == 0) return d;
  return std::strcmp(a + 1, b + 1);
}

bool ut_string::operator==(const ut_string &other) const {
  return chars_ == other.chars_ || compare(other) == 0;
}

ut_string ut_string::substr(int pos, int n) const {
  int len = text_length(chars_);
  if (pos < 0 || pos >= len || n == 0) return ut_string();
  if (n < 0 || n > len - pos) n = len - pos;
  if (pos == 0 && n >= len) return *this;
  return ut_string(chars_ + pos, n);
}

int ut_string::copy(char *buffer, int n, int pos) const {
  int len = text_length(chars_);
  if (!buffer || pos < 0 || pos > len) return 0;
  int avail = len + 1 - pos;
  int count = (n < 0 || n > avail) ? avail : n;
  std::memcpy(buffer, chars_ + pos, count);
  return count;
}

int ut_string::find(char c, int pos) const {
  int len = text_length(chars_);
  if (c == 0 || pos < 0 || pos >= len) return -1;
  const void *hit = std::memchr(chars_ + pos, c, len - pos);
  return hit ? static_cast<int>(static_cast<const char *>(hit) - chars_) : -1;
}

int ut_string::find(const char *text, int pos) const {
  int len = text_length(chars_);
  if (!text || pos < 0 || pos > len) return -1;
  const char *hit = std::strstr(chars_ + pos, text);
  return hit ? static_cast<int>(hit - chars_) : -1;
}

int ut_string::hash(const char *text, int size) {
  if (!text || !*text || size <= 0) return 0;
  uint32_t h = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    h = (h << 4) + *p;
    uint32_t g = h & 0xF0000000u;
    if (g) h ^= (g >> 24) ^ g;
  }
  return static_cast<int>(h % static_cast<uint32_t>(size));
}

ut_string operator+(const ut_string &a, const ut_string &b) {
  ut_string r;
  r.assign_concat(a.c_str(), b.c_str());
  return r;
}

ut_string operator+(const char *a, const ut_string &b) {
  ut_string r;
  r.assign_concat(a, b.c_str());
  return r;
}

ut_string operator+(const ut_string &a, const char *b) {
  ut_string r;
  r.assign_concat(a.c_str(), b);
  return r;
}
