// Byte-exact tests of ut_network_buffer: wire order, alignment, growth,
// bounded reads and the cursor operations.
#include "shared/libcxxutil/ut_network_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The bytes [0, cursor) of a buffer.
std::vector<uint8_t> written(const ut_network_buffer &b) {
  return std::vector<uint8_t>(b.get_begin(), b.get_begin() + b.get_pos());
}

// A buffer to read from holding exactly `bytes`.
struct Reader : ut_network_buffer {
  explicit Reader(const std::vector<uint8_t> &bytes)
      : ut_network_buffer(bytes.data(), static_cast<int>(bytes.size())) {}
};

TEST(NetBuf, ConstructionZeroesAndClampsNegativeSizes) {
  ut_network_buffer b(300);
  EXPECT_EQ(b.get_capacity(), 300);
  EXPECT_EQ(b.get_pos(), 0);
  EXPECT_EQ(b.get_end_pos(), 300);
  for (int i = 0; i < 300; i++) ASSERT_EQ(b.get_begin()[i], 0) << i;
  ut_network_buffer neg(-5);
  EXPECT_EQ(neg.get_capacity(), 0);
  EXPECT_EQ(neg.get_end_pos(), 0);
  const char data[] = "abc";
  ut_network_buffer copy(data, 3);
  EXPECT_EQ(copy.get_end_pos(), 3);
  EXPECT_EQ(std::memcmp(copy.get_begin(), "abc", 3), 0);
}

TEST(NetBuf, GrowthFollowsTheCapacityRule) {
  ut_network_buffer empty;
  empty.put_uint8(7);  // needs 1 byte: 1 + 14
  EXPECT_EQ(empty.get_capacity(), 15);
  EXPECT_EQ(empty.get_end_pos(), 15);

  ut_network_buffer b(8);
  b.set_pos(6);
  b.put_uint32(0x01020304);  // 4 + 3 padding needed: 7 + 2 * 8
  EXPECT_EQ(b.get_capacity(), 23);
  EXPECT_EQ(b.get_pos(), 12);
  for (int i = 12; i < 23; i++) ASSERT_EQ(b.get_begin()[i], 0) << i;

  // Past the inline storage the contents move to the heap intact.
  ut_network_buffer big(200);
  for (int i = 0; i < 200; i++) big.put_uint8(static_cast<uint8_t>(i));
  big.put_uint8(77);
  EXPECT_EQ(big.get_capacity(), 1 + 400);
  for (int i = 0; i < 200; i++) ASSERT_EQ(big.get_begin()[i], i);
  EXPECT_EQ(big.get_begin()[200], 77);
  for (int i = 201; i < 401; i++) ASSERT_EQ(big.get_begin()[i], 0) << i;
}

TEST(NetBuf, IntegersAreLittleEndianAlignedFromTheStart) {
  ut_network_buffer b(0);
  b.put_uint8(0xAA);
  b.put_uint16(0x1234);        // one pad byte
  b.put_uint8(0xBB);
  b.put_uint32(0xDEADBEEF);    // three pad bytes
  b.put_uint64(0x0000000100000002ULL);  // high word first
  std::vector<uint8_t> want = {0xAA, 0x00, 0x34, 0x12, 0xBB, 0, 0, 0,
                               0xEF, 0xBE, 0xAD, 0xDE,
                               1, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_EQ(written(b), want);
}

TEST(NetBuf, FloatsAreTheirBitPatterns) {
  ut_network_buffer b(0);
  b.put_real32(1.0f);   // 0x3f800000
  b.put_real64(-2.0);   // 0xc000000000000000
  std::vector<uint8_t> want = {0, 0, 0x80, 0x3f, 0, 0, 0, 0xc0, 0, 0, 0, 0};
  EXPECT_EQ(written(b), want);
  Reader r(want);
  EXPECT_EQ(r.get_real32(), 1.0f);
  EXPECT_EQ(r.get_real64(), -2.0);
}

TEST(NetBuf, StringsCarryLengthAndTerminator) {
  ut_network_buffer b(0);
  b.put_string("ab");
  b.put_string(nullptr);
  b.put_raw_string("xy");
  b.put_raw_string(nullptr);
  b.put_string("");
  std::vector<uint8_t> want = {3, 0, 0, 0, 'a', 'b', 0, 0, 0, 0, 0, 0, 'x', 'y',
                               0, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(written(b), want);

  Reader r(std::vector<uint8_t>(want.begin(), want.begin() + 12));
  char *s = r.get_string();
  EXPECT_STREQ(s, "ab");
  std::free(s);
  EXPECT_EQ(r.get_string(), nullptr);  // length 0
  EXPECT_EQ(r.get_pos(), 12);
}

TEST(NetBuf, ArraysAlignAndConvertPerWidth) {
  ut_network_buffer b(0);
  const uint8_t bytes[3] = {1, 2, 3};
  const uint16_t shorts[2] = {0x0102, 0x0304};
  const uint32_t words[1] = {0x05060708};
  b.put_array(bytes, 3, 1);
  b.put_array(shorts, 2, 2);
  b.put_dynamic_array(words, 1, 4);
  std::vector<uint8_t> want = {1, 2, 3, 0, 2, 1, 4, 3, 1, 0, 0, 0, 8, 7, 6, 5};
  EXPECT_EQ(written(b), want);

  Reader r(want);
  uint8_t b3[3];
  uint16_t s2[2];
  r.get_array(b3, 3, 1);
  r.get_array(s2, 2, 2);
  int count = -1;
  auto *w = static_cast<uint32_t *>(r.get_dynamic_array(&count, 4));
  EXPECT_EQ(b3[2], 3);
  EXPECT_EQ(s2[1], 0x0304);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(w[0], 0x05060708u);
  std::free(w);
}

TEST(NetBuf, EightByteElementsReadHighWordFirst) {
  Reader r({1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0});
  uint64_t v[2];
  r.get_array(v, 2, 8);
  EXPECT_EQ(v[0], 0x0000000100000002ULL);
  EXPECT_EQ(v[1], 9u);
  ut_network_buffer w(0);
  w.put_array(v, 2, 8);
  EXPECT_EQ(written(w), std::vector<uint8_t>({1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0}));
}

TEST(NetBuf, OverwriteAtOffsetAlignsAndAdvances) {
  ut_network_buffer b(16);
  int at = 1;
  b.put_uint32_at(at, 0x11223344);
  EXPECT_EQ(at, 8);
  b.put_uint64_at(at, 0x0000000500000006ULL);
  EXPECT_EQ(at, 16);
  EXPECT_EQ(b.get_pos(), 0);  // the cursor does not move
  EXPECT_EQ(ut_network_buffer::decode_uint32(b.get_begin() + 4), 0x11223344u);
  EXPECT_EQ(ut_network_buffer::decode_uint32(b.get_begin() + 8), 5u);
  EXPECT_EQ(ut_network_buffer::decode_uint32(b.get_begin() + 12), 6u);
  int far = 40;  // beyond the allocation: grows
  b.put_uint32_at(far, 7);
  EXPECT_GE(b.get_capacity(), 44);
  EXPECT_EQ(ut_network_buffer::decode_uint32(b.get_begin() + 40), 7u);
}

TEST(NetBuf, ReadsThatRunOutYieldZeroAndStopAtEnd) {
  Reader r({1, 2, 3, 4, 5, 6});
  EXPECT_EQ(r.get_uint32(), 0x04030201u);
  EXPECT_EQ(r.get_uint32(), 0u);  // only two bytes remain
  EXPECT_EQ(r.get_pos(), 6);
  EXPECT_EQ(r.get_uint8(), 0);

  Reader r64({1, 0, 0, 0, 2, 0});
  EXPECT_EQ(r64.get_uint64(), 0u);  // half a value is not a value
  EXPECT_EQ(r64.get_pos(), 6);

  Reader padded({9, 0xff, 8, 7});
  EXPECT_EQ(padded.get_uint8(), 9);
  EXPECT_EQ(padded.get_uint16(), 0x0708);  // the pad byte is skipped
  EXPECT_EQ(padded.get_pos(), 4);
  Reader shortOne({9, 8, 7});
  EXPECT_EQ(shortOne.get_uint8(), 9);
  EXPECT_EQ(shortOne.get_uint16(), 0);  // aligned to 2, one byte short
  EXPECT_EQ(shortOne.get_pos(), 3);
}

TEST(NetBuf, LyingLengthsAndCountsReadAsAbsent) {
  // A string length larger than the rest of the buffer.
  Reader s({200, 0, 0, 0, 'a', 'b'});
  EXPECT_EQ(s.get_string(), nullptr);
  EXPECT_EQ(s.get_pos(), 6);
  // A huge or negative array count allocates nothing.
  Reader huge({0xff, 0xff, 0xff, 0x7f, 1, 0, 0, 0});
  int count = 5;
  EXPECT_EQ(huge.get_dynamic_array(&count, 4), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(huge.get_pos(), 8);
  Reader neg({0xff, 0xff, 0xff, 0xff});
  EXPECT_EQ(neg.get_dynamic_array(&count, 1), nullptr);
  EXPECT_EQ(count, 0);
  // A fixed array longer than the data: the whole elements that fit, then zeros.
  Reader part({1, 0, 0, 0, 2, 0, 0, 0, 3, 0});
  uint32_t out[4] = {9, 9, 9, 9};
  part.get_array(out, 4, 4);
  EXPECT_EQ(out[0], 1u);
  EXPECT_EQ(out[1], 2u);
  EXPECT_EQ(out[2], 0u);
  EXPECT_EQ(out[3], 0u);
  EXPECT_EQ(part.get_pos(), 10);
}

TEST(NetBuf, PointerStringsAreForcedToEndInZero) {
  Reader r({3, 0, 0, 0, 'a', 'b', 'c'});
  const char *p = r.get_ptr_to_string();
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "ab");  // the missing terminator replaced the last byte
  Reader h({3, 0, 0, 0, 'a', 'b', 'c'});
  char *copy = h.get_string();
  EXPECT_STREQ(copy, "abc");  // the heap copy gets an extra terminator
  std::free(copy);
}

TEST(NetBuf, FromOffsetTwinsLeaveTheCursorAlone) {
  Reader r({0xAA, 0, 0x22, 0x11, 4, 3, 2, 1, 2, 0, 0, 0, 'h', 0});
  int at = 1;
  EXPECT_EQ(r.get_uint16_from(at), 0x1122);
  EXPECT_EQ(r.get_uint32_from(at), 0x01020304u);
  char *s = r.get_string_from(at);
  EXPECT_STREQ(s, "h");
  std::free(s);
  EXPECT_EQ(at, 14);
  EXPECT_EQ(r.get_uint8_from(at), 0);  // ran out
  EXPECT_EQ(at, 14);
  EXPECT_EQ(r.get_pos(), 0);
}

TEST(NetBuf, CursorOperationsClamp) {
  ut_network_buffer b(20);
  EXPECT_EQ(b.set_pos(12), 0);
  EXPECT_EQ(b.set_pos(40), 12);  // grows
  EXPECT_GE(b.get_capacity(), 40);
  b.set_pos(10);
  b.inc_pos(-50);
  EXPECT_EQ(b.get_pos(), 0);
  int cap = b.get_capacity();
  EXPECT_EQ(b.set_end_pos(cap + 100), cap);
  EXPECT_EQ(b.get_end_pos(), cap);
  b.set_end_pos(16);
  b.inc_pos(99);
  EXPECT_EQ(b.get_pos(), 16);
  b.set_pos(4);
  EXPECT_EQ(b.set_end_pos_to_cur_pos_plus(6), 16);
  EXPECT_EQ(b.get_end_pos(), 10);
  b.set_next_to_end_minus(3);
  EXPECT_EQ(b.get_pos(), 7);
  b.set_next_to_end_minus(30);
  EXPECT_EQ(b.get_pos(), 0);
  EXPECT_EQ(b.remaining(), 10);
}

}  // namespace
