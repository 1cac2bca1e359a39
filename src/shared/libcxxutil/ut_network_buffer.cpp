// ut_network_buffer: little-endian puts and bounded gets over a growable
// block. All bounds arithmetic is done on offsets from `begin`, so a corrupt
// length or count can only make a read run out, never address memory outside
// the block.
#include "shared/libcxxutil/ut_network_buffer.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "shared/indgen.h"

namespace {

inline void store16(unsigned char *p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

inline void store32(unsigned char *p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline uint16_t load16(const unsigned char *p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t load32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Allocation failure ends the process through the runtime library; every
// block handed out can be released with free().
void *netbuf_malloc(size_t n) { return gen_calloc(n, 1); }
void *netbuf_calloc(size_t n, size_t width) { return gen_calloc(n, width); }
void *netbuf_realloc(void *old, size_t n) { return gen_allocate(old, n, 1); }
[[noreturn]] void netbuf_out_of_memory() { gen_outofmemory(); }

inline int align_up(int offset, int align) { return (offset + align - 1) & ~(align - 1); }

// Alignment an array of elements of `width` bytes starts at.
inline int array_align(int width) {
  if (width == 2) return 2;
  if (width == 4 || width == 8) return 4;
  return 1;
}

// Claims `n` bytes at `offset` aligned to `align`. Returns the aligned
// offset and advances `offset` past the bytes, or returns -1 and moves
// `offset` to the end when they do not all lie before `end`.
inline int take(int &offset, int align, long long n, int endOffset) {
  int p = align_up(offset < 0 ? 0 : offset, align);
  if (n < 0 || p > endOffset || endOffset - p < n) {
    offset = endOffset;
    return -1;
  }
  offset = p + static_cast<int>(n);
  return p;
}

}  // namespace

ut_network_buffer::ut_network_buffer(int size) {
  allocate(size < 0 ? 0 : size);
  next = begin;
  end = begin + capacity;
}

ut_network_buffer::ut_network_buffer(const void *data, int length) {
  if (length < 0 || !data) length = 0;
  allocate(length);
  if (length > 0) std::memcpy(begin, data, static_cast<size_t>(length));
  next = begin;
  end = begin + capacity;
}

ut_network_buffer::~ut_network_buffer() {
  if (begin != inline_) std::free(begin);
}

void ut_network_buffer::allocate(int size) {
  capacity = size;
  if (size <= kInlineSize) {
    begin = inline_;
  } else {
    begin = static_cast<unsigned char *>(netbuf_malloc(static_cast<size_t>(size)));
  }
  std::memset(begin, 0, static_cast<size_t>(size));
}

void ut_network_buffer::expand_capacity(int needed) {
  if (needed < 0) needed = 0;
  long long wanted = capacity == 0 ? needed + 14LL : needed + 2LL * capacity;
  if (wanted > INT_MAX) netbuf_out_of_memory();
  int newCapacity = static_cast<int>(wanted);
  int nextOffset = get_pos();
  if (begin == inline_ && newCapacity > kInlineSize) {
    auto *block = static_cast<unsigned char *>(netbuf_malloc(static_cast<size_t>(newCapacity)));
    std::memcpy(block, inline_, static_cast<size_t>(capacity));
    begin = block;
  } else if (begin != inline_) {
    begin = static_cast<unsigned char *>(netbuf_realloc(begin, static_cast<size_t>(newCapacity)));
  }
  std::memset(begin + capacity, 0, static_cast<size_t>(newCapacity - capacity));
  capacity = newCapacity;
  next = begin + nextOffset;
  end = begin + capacity;
}

unsigned char *ut_network_buffer::aligned(unsigned char *pos, int align) const {
  return begin + align_up(static_cast<int>(pos - begin), align);
}

// ---- puts --------------------------------------------------------------

void ut_network_buffer::put_uint8(uint8_t v) {
  ensure(1);
  *next++ = v;
}

void ut_network_buffer::put_uint16(uint16_t v) {
  ensure(2 + 1);
  while (get_pos() & 1) *next++ = 0;
  store16(next, v);
  next += 2;
}

void ut_network_buffer::put_uint32(uint32_t v) {
  ensure(4 + 3);
  while (get_pos() & 3) *next++ = 0;
  store32(next, v);
  next += 4;
}

void ut_network_buffer::put_uint64(uint64_t v) {
  ensure(8 + 3);
  put_uint32(static_cast<uint32_t>(v >> 32));
  put_uint32(static_cast<uint32_t>(v));
}

void ut_network_buffer::put_real32(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  put_uint32(bits);
}

void ut_network_buffer::put_real64(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  put_uint64(bits);
}

void ut_network_buffer::put_raw_string(const char *s) {
  if (s) put_raw_bytes(s, static_cast<int>(std::strlen(s)));
}

void ut_network_buffer::put_raw_bytes(const void *data, int len) {
  if (!data || len <= 0) return;
  ensure(len);
  std::memcpy(next, data, static_cast<size_t>(len));
  next += len;
}

void ut_network_buffer::put_string(const char *s) {
  if (!s) {
    put_uint32(0);
    return;
  }
  int len = static_cast<int>(std::strlen(s)) + 1;
  ensure(4 + 3 + len);
  put_uint32(static_cast<uint32_t>(len));
  put_raw_bytes(s, len);
}

// Converts `count` elements of `width` bytes from host form to wire form at
// `at`, which the caller has aligned and made room for.
void ut_network_buffer::write_words(unsigned char *at, const void *data, int count, int width) {
  const auto *src = static_cast<const unsigned char *>(data);
  for (int i = 0; i < count; i++, src += width) {
    if (width == 2) {
      uint16_t v;
      std::memcpy(&v, src, 2);
      store16(at + 2 * i, v);
    } else if (width == 4) {
      uint32_t v;
      std::memcpy(&v, src, 4);
      store32(at + 4 * i, v);
    } else {  // width 8: high word, then low word
      uint64_t v;
      std::memcpy(&v, src, 8);
      store32(at + 8 * i, static_cast<uint32_t>(v >> 32));
      store32(at + 8 * i + 4, static_cast<uint32_t>(v));
    }
  }
}

void ut_network_buffer::put_array(const void *data, int count, int width) {
  if (!data || count <= 0 || width <= 0) return;
  long long bytes = static_cast<long long>(count) * width;
  if (bytes > INT_MAX - 8) netbuf_out_of_memory();
  int align = array_align(width);
  ensure(static_cast<int>(bytes) + align - 1);
  while (get_pos() & (align - 1)) *next++ = 0;
  if (width == 2 || width == 4 || width == 8) {
    write_words(next, data, count, width);
  } else {
    std::memcpy(next, data, static_cast<size_t>(bytes));
  }
  next += bytes;
}

void ut_network_buffer::put_dynamic_array(const void *data, int count, int width) {
  put_uint32(static_cast<uint32_t>(count < 0 ? 0 : count));
  put_array(data, count, width);
}

void ut_network_buffer::put_uint32_at(int &offset, uint32_t v) {
  offset = align_up(offset < 0 ? 0 : offset, 4);
  if (offset + 4 > capacity) expand_capacity(offset + 4 - capacity);
  store32(begin + offset, v);
  offset += 4;
}

void ut_network_buffer::put_uint64_at(int &offset, uint64_t v) {
  put_uint32_at(offset, static_cast<uint32_t>(v >> 32));
  put_uint32_at(offset, static_cast<uint32_t>(v));
}

void ut_network_buffer::put_array_at(int &offset, const void *data, int count, int width) {
  if (!data || count <= 0 || width <= 0) return;
  long long bytes = static_cast<long long>(count) * width;
  if (bytes > INT_MAX - 8) netbuf_out_of_memory();
  offset = align_up(offset < 0 ? 0 : offset, array_align(width));
  if (offset + bytes > capacity) expand_capacity(static_cast<int>(offset + bytes - capacity));
  if (width == 2 || width == 4 || width == 8) {
    write_words(begin + offset, data, count, width);
  } else {
    std::memcpy(begin + offset, data, static_cast<size_t>(bytes));
  }
  offset += static_cast<int>(bytes);
}

// ---- gets --------------------------------------------------------------

uint8_t ut_network_buffer::get_uint8_from(int &offset) {
  int p = take(offset, 1, 1, get_end_pos());
  return p < 0 ? 0 : begin[p];
}

uint16_t ut_network_buffer::get_uint16_from(int &offset) {
  int p = take(offset, 2, 2, get_end_pos());
  return p < 0 ? 0 : load16(begin + p);
}

uint32_t ut_network_buffer::get_uint32_from(int &offset) {
  int p = take(offset, 4, 4, get_end_pos());
  return p < 0 ? 0 : load32(begin + p);
}

uint64_t ut_network_buffer::get_uint64_from(int &offset) {
  int p = take(offset, 4, 8, get_end_pos());
  if (p < 0) return 0;
  return (static_cast<uint64_t>(load32(begin + p)) << 32) | load32(begin + p + 4);
}

float ut_network_buffer::get_real32_from(int &offset) {
  uint32_t bits = get_uint32_from(offset);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

double ut_network_buffer::get_real64_from(int &offset) {
  uint64_t bits = get_uint64_from(offset);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

char *ut_network_buffer::get_string_from(int &offset) {
  uint32_t len = get_uint32_from(offset);
  if (len == 0) return nullptr;
  int p = take(offset, 1, len, get_end_pos());
  if (p < 0) return nullptr;
  auto *s = static_cast<char *>(netbuf_malloc(len + 1));
  std::memcpy(s, begin + p, len);
  s[len] = '\0';
  return s;
}

const char *ut_network_buffer::get_ptr_to_string_from(int &offset) {
  uint32_t len = get_uint32_from(offset);
  if (len == 0) return nullptr;
  int p = take(offset, 1, len, get_end_pos());
  if (p < 0) return nullptr;
  begin[p + len - 1] = '\0';  // a malformed peer may have left it out
  return reinterpret_cast<const char *>(begin + p);
}

// Reads whole elements while they fit, zero-fills the rest of `out`. Returns
// false (and leaves `offset` at the end) when not all elements fitted.
bool ut_network_buffer::read_array_at(int &offset, void *out, int count, int width) {
  auto *dst = static_cast<unsigned char *>(out);
  int endOffset = get_end_pos();
  int p = align_up(offset < 0 ? 0 : offset, array_align(width));
  long long room = p > endOffset ? 0 : endOffset - p;
  long long fit = room / width;
  int n = fit < count ? static_cast<int>(fit) : count;
  for (int i = 0; i < n; i++, dst += width) {
    const unsigned char *src = begin + p + static_cast<long long>(i) * width;
    if (width == 2) {
      uint16_t v = load16(src);
      std::memcpy(dst, &v, 2);
    } else if (width == 4) {
      uint32_t v = load32(src);
      std::memcpy(dst, &v, 4);
    } else if (width == 8) {
      uint64_t v = (static_cast<uint64_t>(load32(src)) << 32) | load32(src + 4);
      std::memcpy(dst, &v, 8);
    } else {
      std::memcpy(dst, src, static_cast<size_t>(width));
    }
  }
  if (n < count) {
    std::memset(dst, 0, static_cast<size_t>(count - n) * static_cast<size_t>(width));
    offset = endOffset;
    return false;
  }
  offset = p + n * width;
  return true;
}

void ut_network_buffer::get_array_from(int &offset, void *out, int count, int width) {
  if (!out || count <= 0 || width <= 0) return;
  read_array_at(offset, out, count, width);
}

void *ut_network_buffer::get_dynamic_array_from(int &offset, int *count, int width) {
  *count = 0;
  int n = static_cast<int>(get_uint32_from(offset));
  if (n == 0 || width <= 0) return nullptr;
  // The count comes from the peer: it must be backed by bytes in the buffer
  // before anything is allocated for it.
  int probe = offset;
  if (n < 0 || take(probe, array_align(width), static_cast<long long>(n) * width, get_end_pos()) < 0) {
    offset = get_end_pos();
    return nullptr;
  }
  void *out = netbuf_calloc(static_cast<size_t>(n), static_cast<size_t>(width));
  read_array_at(offset, out, n, width);
  *count = n;
  return out;
}

// The cursor forms run the offset forms on the cursor's offset.
#define UT_NB_AT_CURSOR(expr) \
  int offset = get_pos();     \
  auto result = (expr);       \
  next = begin + offset;      \
  return result

uint8_t ut_network_buffer::get_uint8() { UT_NB_AT_CURSOR(get_uint8_from(offset)); }
uint16_t ut_network_buffer::get_uint16() { UT_NB_AT_CURSOR(get_uint16_from(offset)); }
uint32_t ut_network_buffer::get_uint32() { UT_NB_AT_CURSOR(get_uint32_from(offset)); }
uint64_t ut_network_buffer::get_uint64() { UT_NB_AT_CURSOR(get_uint64_from(offset)); }
float ut_network_buffer::get_real32() { UT_NB_AT_CURSOR(get_real32_from(offset)); }
double ut_network_buffer::get_real64() { UT_NB_AT_CURSOR(get_real64_from(offset)); }
char *ut_network_buffer::get_string() { UT_NB_AT_CURSOR(get_string_from(offset)); }
const char *ut_network_buffer::get_ptr_to_string() { UT_NB_AT_CURSOR(get_ptr_to_string_from(offset)); }
void *ut_network_buffer::get_dynamic_array(int *count, int width) {
  UT_NB_AT_CURSOR(get_dynamic_array_from(offset, count, width));
}
#undef UT_NB_AT_CURSOR

void ut_network_buffer::get_array(void *out, int count, int width) {
  int offset = get_pos();
  get_array_from(offset, out, count, width);
  next = begin + offset;
}

// ---- cursor ------------------------------------------------------------

int ut_network_buffer::set_pos(int offset) {
  int previous = get_pos();
  if (offset < 0) offset = 0;
  if (offset > capacity) expand_capacity(offset - capacity);
  next = begin + offset;
  return previous;
}

void ut_network_buffer::inc_pos(int delta) {
  long long target = static_cast<long long>(get_pos()) + delta;
  if (target < 0) target = 0;
  if (target > get_end_pos()) target = get_end_pos();
  next = begin + target;
}

int ut_network_buffer::set_end_pos(int offset) {
  int previous = get_end_pos();
  if (offset < 0) offset = 0;
  if (offset > capacity) offset = capacity;
  end = begin + offset;
  return previous;
}

int ut_network_buffer::set_end_pos_to_cur_pos_plus(int n) {
  return set_end_pos(static_cast<int>(std::min<long long>(INT_MAX, static_cast<long long>(get_pos()) + n)));
}

void ut_network_buffer::set_next_to_end_minus(int n) {
  long long target = static_cast<long long>(get_end_pos()) - n;
  if (target < 0) target = 0;
  if (target > capacity) target = capacity;
  next = begin + target;
}

