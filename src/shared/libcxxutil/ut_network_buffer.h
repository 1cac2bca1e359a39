// ut_network_buffer: the growable byte buffer under every STP message.
//
// Integers are stored little-endian whatever the host order; a 64-bit value
// is two 32-bit words, high word first. 16-bit values start at even offsets
// and 32-bit words at offsets divisible by 4, counted from the start of the
// buffer; the writer pads with zero bytes and the reader skips the same bytes.
//
// Reads never fail loudly and never touch memory past `end`: a read that
// needs more bytes than remain moves the cursor to `end` and yields 0 (or a
// null string / zero-filled elements). Small buffers live inside the object,
// so building or copying a short message costs no separate allocation.
// One thread; no locking.
#pragma once

#include <cstdint>

class ut_network_buffer {
public:
  // A buffer of `size` zeroed bytes (negative counts as 0); cursor at the
  // start, `end` at the end of the allocation.
  explicit ut_network_buffer(int size = 0);
  // A buffer holding a copy of `length` bytes of `data`, cursor at the start.
  ut_network_buffer(const void *data, int length);
  virtual ~ut_network_buffer();

  ut_network_buffer(const ut_network_buffer &) = delete;
  ut_network_buffer &operator=(const ut_network_buffer &) = delete;

  // --- growth -------------------------------------------------------------
  // Grows the allocation so that `needed` more bytes fit: new capacity =
  // needed + 2 * old capacity (needed + 14 from empty). Added bytes are
  // zeroed, the cursor keeps its offset, `end` moves to the allocation end.
  void expand_capacity(int needed);

  // --- puts at the cursor (grow as needed, align, advance) ----------------
  void put_uint8(uint8_t v);
  void put_uint16(uint16_t v);
  void put_uint32(uint32_t v);
  void put_uint64(uint64_t v);  // high word, then low word
  void put_real32(float v);
  void put_real64(double v);    // bit pattern as put_uint64
  // The bytes of `s` without its terminator and without a length; nothing
  // for null. The form with `len` writes exactly `len` bytes.
  void put_raw_string(const char *s);
  void put_raw_bytes(const void *data, int len);
  // Length word (strlen + 1) then the bytes and the terminating zero; a null
  // string is the single word 0.
  void put_string(const char *s);
  // `count` elements of `width` bytes: width 1 raw, width 2 aligned to 2 and
  // converted, width 4 aligned to 4 and converted, width 8 as two words high
  // first; other widths raw.
  void put_array(const void *data, int count, int width);
  // A 32-bit count, then put_array.
  void put_dynamic_array(const void *data, int count, int width);
  // Overwrite at a remembered offset (aligned first), advancing the offset;
  // grows when the offset lies beyond the allocation. The cursor stays.
  void put_uint32_at(int &offset, uint32_t v);
  void put_uint64_at(int &offset, uint64_t v);
  void put_array_at(int &offset, const void *data, int count, int width);

  // --- gets at the cursor -------------------------------------------------
  uint8_t get_uint8();
  uint16_t get_uint16();
  uint32_t get_uint32();
  uint64_t get_uint64();
  float get_real32();
  double get_real64();
  // Reads the length word; 0 yields null, otherwise a new zero-terminated
  // heap copy of that many bytes (always terminated, even when the sender
  // left the zero out). The caller frees it with free().
  char *get_string();
  // As get_string, but points into this buffer (valid while the buffer
  // lives and is not grown). A missing terminator is forced in place.
  const char *get_ptr_to_string();
  // Fills `count` elements of `width` bytes into `out` (widths as put_array;
  // width 8 reads two words high first). Elements that do not fit are
  // zero-filled and the cursor is left at `end`.
  void get_array(void *out, int count, int width);
  // Reads a count word, then allocates count * width zeroed bytes and fills
  // them; *count receives the count. A negative count, or one whose elements
  // cannot all lie before `end`, runs out: null, *count 0, cursor at `end`.
  // An empty array gives null with *count 0. The caller frees with free().
  void *get_dynamic_array(int *count, int width);

  // --- gets at a caller-held offset (advance that offset) ----------------
  // Running out sets the offset to the end offset.
  uint8_t get_uint8_from(int &offset);
  uint16_t get_uint16_from(int &offset);
  uint32_t get_uint32_from(int &offset);
  uint64_t get_uint64_from(int &offset);
  float get_real32_from(int &offset);
  double get_real64_from(int &offset);
  char *get_string_from(int &offset);
  const char *get_ptr_to_string_from(int &offset);
  void get_array_from(int &offset, void *out, int count, int width);
  void *get_dynamic_array_from(int &offset, int *count, int width);

  // --- cursor -------------------------------------------------------------
  // Cursor to `offset` (grows when it lies beyond the capacity; negative
  // counts as 0); returns the previous offset.
  int set_pos(int offset);
  // Cursor moved by `delta`, clamped to [begin, end].
  void inc_pos(int delta);
  // `end` to `offset`, clamped to [0, capacity]; returns the previous end.
  int set_end_pos(int offset);
  // `end` to cursor + n (clamped as set_end_pos); returns the previous end.
  int set_end_pos_to_cur_pos_plus(int n);
  // Cursor to end - n, not before the start.
  void set_next_to_end_minus(int n);
  int get_pos() const { return static_cast<int>(next - begin); }
  int get_end_pos() const { return static_cast<int>(end - begin); }
  int get_capacity() const { return capacity; }
  int remaining() const { return static_cast<int>(end - next); }
  unsigned char *get_begin() const { return begin; }

  // One little-endian wire word to a host integer.
  static uint32_t decode_uint32(const void *wire) {
    const auto *p = static_cast<const unsigned char *>(wire);
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  }

protected:
  unsigned char *begin;  // owned block (or the inline storage)
  int capacity;          // bytes allocated
  unsigned char *next;   // read/write cursor
  unsigned char *end;    // end of valid data (writing: allocation end)

  // Aligns `pos` up to `align` (1, 2 or 4) from `begin`.
  unsigned char *aligned(unsigned char *pos, int align) const;
  // Makes room for `n` bytes at the cursor plus worst-case padding.
  void ensure(int n) {
    if (next + n > end) expand_capacity(n);
  }

private:
  static constexpr int kInlineSize = 256;
  unsigned char inline_[kInlineSize];

  void allocate(int size);
  void write_words(unsigned char *at, const void *data, int count, int width);
  bool read_array_at(int &offset, void *out, int count, int width);
};
