// Byte-exact tests of ut_network_buffer: wire order, alignment, strings and
// arrays, bounded reads of short or lying input, and the cursor operations.
#include "shared/libcxxutil/ut_network_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Buf = ut_network_buffer &;

// The bytes [0, cursor) of a buffer after `writes`.
Bytes written(const std::function<void(Buf)> &writes) {
  ut_network_buffer b(0);
  writes(b);
  return Bytes(b.get_begin(), b.get_begin() + b.get_pos());
}

// A buffer to read from holding exactly `bytes`.
struct Reader : ut_network_buffer {
  explicit Reader(const Bytes &bytes) : ut_network_buffer(bytes.data(), static_cast<int>(bytes.size())) {}
};

// A heap string read from the buffer as text ("<null>" for none), freed.
std::string taken(char *s) {
  std::string out = s ? s : "<null>";
  std::free(s);
  return out;
}

TEST(NetBuf, WritesAreLittleEndianAndAlignedFromTheStart) {
  const uint8_t u8[3] = {1, 2, 3};
  const uint16_t u16[2] = {0x0102, 0x0304};
  const uint32_t u32[1] = {0x05060708};
  const uint64_t u64[2] = {0x0000000100000002ULL, 9};
  const std::pair<Bytes, Bytes> cases[] = {
      {written([](Buf b) { b.put_uint8(0xAA), b.put_uint16(0x1234), b.put_uint8(0xBB), b.put_uint32(0xDEADBEEF); }),
       {0xAA, 0, 0x34, 0x12, 0xBB, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE}},
      {written([](Buf b) { b.put_uint8(1), b.put_uint64(0x0000000100000002ULL); }),  // high word first
       {1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}},
      {written([](Buf b) { b.put_real32(1.0f), b.put_real64(-2.0); }), {0, 0, 0x80, 0x3f, 0, 0, 0, 0xc0, 0, 0, 0, 0}},
      {written([](Buf b) { b.put_string("ab"), b.put_string(nullptr), b.put_raw_string("xy"); }),
       {3, 0, 0, 0, 'a', 'b', 0, 0, 0, 0, 0, 0, 'x', 'y'}},
      {written([](Buf b) { b.put_raw_string(nullptr), b.put_string(""); }), {1, 0, 0, 0, 0}},
      {written([&](Buf b) { b.put_array(u8, 3, 1), b.put_array(u16, 2, 2), b.put_dynamic_array(u32, 1, 4); }),
       {1, 2, 3, 0, 2, 1, 4, 3, 1, 0, 0, 0, 8, 7, 6, 5}},
      {written([&](Buf b) { b.put_array(u64, 2, 8); }), {1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
  // Growing past the inline storage keeps the contents and zeroes the rest.
  ut_network_buffer big(200);
  for (int i = 0; i < 200; i++) big.put_uint8(static_cast<uint8_t>(i));
  big.put_uint32(0x01020304);
  for (int i = 0; i < 200; i++) ASSERT_EQ(big.get_begin()[i], i);
  EXPECT_EQ(ut_network_buffer::decode_uint32(big.get_begin() + 200), 0x01020304u);
  for (int i = big.get_pos(); i < big.get_capacity(); i++) ASSERT_EQ(big.get_begin()[i], 0) << i;
}

TEST(NetBuf, ReadsRoundTripAndShortOrLyingInputReadsAsZeroOrAbsent) {
  Reader r({1, 2, 3, 0, 2, 1, 4, 3, 0, 0, 0x80, 0x3f, 0, 0, 0, 0xc0, 0, 0, 0, 0, 1, 0, 0, 0, 8, 7, 6, 5, 3, 0, 0, 0,
            'h', 'i', 0, 0, 0, 0, 0, 0});
  uint8_t b3[3];
  uint16_t s2[2];
  r.get_array(b3, 3, 1);
  r.get_array(s2, 2, 2);
  EXPECT_EQ(b3[2] + s2[1], 3 + 0x0304);
  EXPECT_EQ(r.get_real32(), 1.0f);
  EXPECT_EQ(r.get_real64(), -2.0);
  int count = -1;
  auto *w = static_cast<uint32_t *>(r.get_dynamic_array(&count, 4));
  ASSERT_EQ(count, 1);
  EXPECT_EQ(w[0], 0x05060708u);
  std::free(w);
  EXPECT_EQ(taken(r.get_string()), "hi");
  EXPECT_EQ(r.get_string(), nullptr);
  Reader words({1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0});  // 8-byte elements: high word first
  uint64_t v[2];
  words.get_array(v, 2, 8);
  EXPECT_EQ(std::pair(v[0], v[1]), std::pair(uint64_t{0x0000000100000002ULL}, uint64_t{9}));
  Reader ptr({3, 0, 0, 0, 'a', 'b', 'c'}), heap({3, 0, 0, 0, 'a', 'b', 'c'});
  EXPECT_STREQ(ptr.get_ptr_to_string(), "ab");  // the missing terminator replaced the last byte
  EXPECT_EQ(taken(heap.get_string()), "abc");   // the heap copy gets an extra terminator

  auto noArray = [](int size) {
    return [size](Reader &r) {
      int n = 5;
      return r.get_dynamic_array(&n, size) != nullptr || n != 0;
    };
  };
  struct Case {
    Bytes input;
    std::function<uint64_t(Reader &)> read;
    uint64_t value;
    int pos;
  } cases[] = {
      {{1, 2, 3, 4, 5, 6}, [](Reader &r) { return r.get_uint32() + r.get_uint32(); }, 0x04030201u, 6},
      {{1, 0, 0, 0, 2, 0}, [](Reader &r) { return r.get_uint64(); }, 0, 6},  // half a value is no value
      {{9, 0xff, 8, 7}, [](Reader &r) { return r.get_uint8() + r.get_uint16(); }, 9 + 0x0708, 4},  // pad skipped
      {{9, 8, 7}, [](Reader &r) { return r.get_uint8() + r.get_uint16(); }, 9, 3},
      {{200, 0, 0, 0, 'a', 'b'}, [](Reader &r) { return r.get_string() != nullptr; }, 0, 6},  // lying length
      {{0xff, 0xff, 0xff, 0x7f, 1, 0, 0, 0}, noArray(4), 0, 8},  // huge count: nothing allocated
      {{0xff, 0xff, 0xff, 0xff}, noArray(1), 0, 4},              // negative count
      {{1, 0, 0, 0, 2, 0, 0, 0, 3, 0}, [](Reader &r) {  // whole elements that fit, then zeros
         uint32_t out[4] = {9, 9, 9, 9};
         r.get_array(out, 4, 4);
         return uint64_t{out[0]} << 48 | uint64_t{out[1]} << 32 | out[2] << 16 | out[3];
       }, 0x0001000200000000ULL, 10},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    Reader in(cases[i].input);
    EXPECT_EQ(cases[i].read(in), cases[i].value) << "case " << i;
    EXPECT_EQ(in.get_pos(), cases[i].pos) << "case " << i;
  }
}

TEST(NetBuf, OffsetAccessLeavesTheCursorAloneAndCursorOperationsClamp) {
  ut_network_buffer b(16);
  int at = 1, far = 40;  // far: beyond the allocation, grows
  b.put_uint32_at(at, 0x11223344);
  b.put_uint64_at(at, 0x0000000500000006ULL);
  b.put_uint32_at(far, 7);
  EXPECT_EQ(std::pair(at, b.get_pos()), std::pair(16, 0));
  const std::pair<int, uint32_t> words[] = {{4, 0x11223344u}, {8, 5u}, {12, 6u}, {40, 7u}};
  for (auto [off, value] : words) EXPECT_EQ(ut_network_buffer::decode_uint32(b.get_begin() + off), value) << off;
  Reader r({0xAA, 0, 0x22, 0x11, 4, 3, 2, 1, 2, 0, 0, 0, 'h', 0});
  at = 1;
  EXPECT_EQ(r.get_uint16_from(at), 0x1122);
  EXPECT_EQ(r.get_uint32_from(at), 0x01020304u);
  EXPECT_EQ(taken(r.get_string_from(at)), "h");
  EXPECT_EQ(r.get_uint8_from(at), 0);  // ran out
  EXPECT_EQ(std::pair(at, r.get_pos()), std::pair(14, 0));

  ut_network_buffer c(20);
  EXPECT_EQ(c.set_pos(12), 0);
  EXPECT_EQ(c.set_pos(40), 12);  // grows
  c.inc_pos(-50);
  EXPECT_EQ(c.get_pos(), 0);
  const int cap = c.get_capacity();
  EXPECT_EQ(c.set_end_pos(cap + 100), cap);
  EXPECT_EQ(c.get_end_pos(), cap);
  c.set_end_pos(16);
  c.inc_pos(99);
  EXPECT_EQ(c.get_pos(), 16);
  c.set_pos(4);
  EXPECT_EQ(c.set_end_pos_to_cur_pos_plus(6), 16);
  EXPECT_EQ(c.get_end_pos(), 10);
  c.set_next_to_end_minus(3);
  EXPECT_EQ(c.get_pos(), 7);
  c.set_next_to_end_minus(30);
  EXPECT_EQ(c.remaining(), 10);
  ut_network_buffer heap(300), neg(-5);  // beyond the inline storage, zeroed
  EXPECT_EQ(heap.get_begin()[299] + neg.get_capacity() + neg.get_end_pos(), 0);
}

}  // namespace
