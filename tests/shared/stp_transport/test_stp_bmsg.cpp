// The binary codec: exact tag words and values for every type code, and the
// scoped reader on well-formed and malformed bodies.
#include "shared/stp_transport/stp_bmsg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "stp_msg_testutil.h"

namespace {

struct BinOut : STPBinaryOMsg {
  BinOut() : STPBinaryOMsg(1, 2, STP_TYPE_BINARY, 0, 0, 0, 0, 0) {}
};

std::vector<uint8_t> body(const STPOMsg &m) {
  std::vector<uint8_t> b = packetBytes(m);
  return std::vector<uint8_t>(b.begin() + 44, b.end());
}

std::vector<uint8_t> le(uint32_t w) {
  return {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
          static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24)};
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> r;
  for (const auto &p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

std::string str(char *s) {
  std::string r = s ? s : "<null>";
  std::free(s);
  return r;
}

TEST(BinaryWire, TagWordsAndValuesForEveryTypeCode) {
  BinOut m;
  m.putS(1, "ab");
  m.putS(2, nullptr);
  m.put1(3, 0x7f);         // then 3 zero pad bytes before the next tag
  m.put2(4, 0xbeef);       // 2 pad bytes follow
  m.put4(5, -2);
  m.put8(6, 0x0000000100000002LL);
  m.putF(7, 1.0f);
  m.putD(8, -2.0);
  m.finishMessage(2);
  std::vector<uint8_t> want = cat({
      le(0x110), le(3), {'a', 'b', 0, 0},
      le(0x210), le(0),
      le(0x321), {0x7f, 0, 0, 0},
      le(0x422), {0xef, 0xbe, 0, 0},
      le(0x524), le(0xfffffffe),
      le(0x628), {1, 0, 0, 0}, {2, 0, 0, 0},
      le(0x734), le(0x3f800000),
      le(0x838), le(0xc0000000), le(0),
      le(0)});  // the closing zero word
  EXPECT_EQ(body(m), want);
}

TEST(BinaryWire, RecordsAndArraysPatchTheirLength) {
  BinOut m;
  STPBinaryOMsgParamState rec, arr;
  m.putStartStruct(rec, 9);
  m.put1(1, 5);
  m.putStartArray(arr);  // tag 0
  m.putEndArray(arr);
  m.putEndStruct(rec);
  const uint16_t shorts[3] = {1, 2, 3};
  const int ints[2] = {7, -1};
  m.putArray(10, shorts, 3, 2);
  m.putDArray(11, ints, 2, 4);
  m.finishMessage(2);
  std::vector<uint8_t> want = cat({
      le(0x940), le(16),             // record: tag 1 (5 bytes), pad, array (8 bytes)
      le(0x121), {5, 0, 0, 0},
      le(0x050), le(0),
      le(0xa50), le(6), {1, 0, 2, 0, 3, 0, 0, 0},
      le(0xb50), le(12), le(2), le(7), le(0xffffffff),
      le(0)});
  EXPECT_EQ(body(m), want);
}

TEST(BinaryRead, RoundTripOfEveryKind) {
  BinOut m;
  m.putS(1, "hello");
  m.put1(2, 1);
  m.put2(3, 0xffff);
  m.put4(4, -7);
  m.put8(5, -3);
  m.putF(6, 2.5f);
  m.putD(7, 1e100);
  const int ints[3] = {1, 2, 3};
  m.putDArray(8, ints, 3, 4);
  m.putArray(9, ints, 2, 4);
  auto in = receive(m);
  STPBinaryIMsg r(in.get());
  EXPECT_EQ(str(r.getS(1)), "hello");
  EXPECT_EQ(r.get1(2), 1);
  EXPECT_EQ(r.get2(3), 0xffff);
  EXPECT_EQ(r.get4(4), -7);
  EXPECT_EQ(r.get8(5), -3);
  EXPECT_EQ(r.getF(6), 2.5f);
  EXPECT_EQ(r.getD(7), 1e100);
  int count = 0;
  auto *d = static_cast<int *>(r.getDArray(8, &count, 4));
  ASSERT_EQ(count, 3);
  EXPECT_EQ(d[2], 3);
  std::free(d);
  int fixed[3] = {9, 9, 9};
  EXPECT_TRUE(r.getArray(9, fixed, 3, 4));
  EXPECT_EQ(fixed[1], 2);
  EXPECT_EQ(fixed[2], 0);  // only two were sent
  in->rewind();
  EXPECT_EQ(r.getStartSimpleTag(4), STP_BT_INT4);
  EXPECT_EQ(r.getStartSimpleTag(99), 0);
}

TEST(BinaryRead, MissingFieldsReadAsZeroAndLaterFieldsAreFound) {
  BinOut m;
  m.put4(1, 11);
  m.putS(3, "three");
  m.put4(4, 44);
  auto in = receive(m);
  STPBinaryIMsg r(in.get());
  EXPECT_EQ(r.get4(1), 11);
  EXPECT_EQ(r.get4(2), 0);           // absent
  EXPECT_EQ(r.getS(-1), nullptr);    // a field the peer does not know
  EXPECT_EQ(str(r.getS(3)), "three");
  EXPECT_EQ(r.getCS(99), nullptr);
  EXPECT_EQ(r.get4(4), 44);
  EXPECT_EQ(r.get4(1), 0);  // read in order: the scope moved past it
}

TEST(BinaryRead, OutOfOrderLookupsKeepTheScope) {
  BinOut m;
  m.put4(1, 10);
  m.put4(2, 20);
  m.put4(3, 30);
  auto in = receive(m);
  STPBinaryIMsg r(in.get());
  EXPECT_EQ(r.get4(3), 30);
  EXPECT_EQ(r.get4(1), 10);
  EXPECT_EQ(r.get4(2), 20);
  EXPECT_EQ(r.get4(3), 30);
}

TEST(BinaryRead, RepeatedTagsComeBackInOrder) {
  BinOut m;
  STPBinaryOMsgParamState st;
  m.putStartStruct(st, 5);
  m.put4(0, 2);
  m.put4(22, 2);
  m.putS(23, "first");
  m.putS(23, "second");
  m.putEndStruct(st);
  m.put4(6, 66);
  auto in = receive(m);
  STPBinaryIMsg r(in.get());
  STPBinaryIMsgParamState rs;
  ASSERT_TRUE(r.getStartStruct(rs, 5));
  EXPECT_EQ(r.get4(0), 2);
  ASSERT_EQ(r.get4(22), 2);
  EXPECT_EQ(str(r.getS(23)), "first");
  EXPECT_EQ(str(r.getS(23)), "second");
  EXPECT_EQ(r.getS(23), nullptr);
  EXPECT_EQ(r.get4(6), 0);  // outside the record
  r.getEndStruct(rs);
  EXPECT_EQ(r.get4(6), 66);
}

TEST(BinaryRead, AbsentRecordIsEmptyUntilItsEnd) {
  BinOut m;
  m.put4(1, 5);
  m.put4(2, 7);  // not a record
  auto in = receive(m);
  STPBinaryIMsg r(in.get());
  STPBinaryIMsgParamState st;
  EXPECT_FALSE(r.getStartStruct(st, 9));
  EXPECT_EQ(r.get4(1), 0);
  r.getEndStruct(st);
  EXPECT_FALSE(r.getStartArray(st, 2));  // wrong kind of field
  r.getEndArray(st);
  EXPECT_EQ(r.get4(1), 5);
  EXPECT_EQ(r.get4(2), 7);
}

TEST(BinaryRead, MalformedBodiesReadAsAbsent) {
  {  // truncated body: the last field is cut in half
    auto in = packetWithBody(cat({le(0x124), le(1), le(0x224), {2, 0}}));
    STPBinaryIMsg r(in.get());
    EXPECT_EQ(r.get4(1), 1);
    EXPECT_EQ(r.get4(2), 0);
  }
  {  // a skipped field with an absurd length, then the wanted one
    auto in = packetWithBody(cat({le(0x150), le(0x7fffffff), le(0x224), le(9), le(0)}));
    STPBinaryIMsg r(in.get());
    EXPECT_EQ(r.get4(2), 0);
    EXPECT_EQ(r.get4(1), 0);
  }
  {  // the wanted field announces more than the body holds
    auto in = packetWithBody(cat({le(0x140), le(100), le(0x224), le(9), le(0)}));
    STPBinaryIMsg r(in.get());
    STPBinaryIMsgParamState st;
    EXPECT_FALSE(r.getStartStruct(st, 1));
    r.getEndStruct(st);
    EXPECT_EQ(r.get4(2), 0);  // inside the lying record: never reached
  }
  {  // string length larger than the field / body
    auto in = packetWithBody(cat({le(0x110), le(0xfffffff0), {'a', 'b', 'c', 0}}));
    STPBinaryIMsg r(in.get());
    EXPECT_EQ(r.getS(1), nullptr);
  }
  {  // string without its terminating zero, body without closing word
    auto in = packetWithBody(cat({le(0x110), le(3), {'x', 'y', 'z'}}));
    STPBinaryIMsg r(in.get());
    EXPECT_EQ(str(r.getS(1)), "xyz");
    in->rewind();
    EXPECT_STREQ(r.getCS(1), "xy");
  }
  {  // array count that lies, record length that lies inside its parent
    auto in = packetWithBody(cat({le(0x150), le(8), le(1000), le(1), le(0x240), le(4),
                                  le(0x340), le(50), le(0)}));
    STPBinaryIMsg r(in.get());
    int count = 9;
    EXPECT_EQ(r.getDArray(1, &count, 4), nullptr);
    EXPECT_EQ(count, 0);
    STPBinaryIMsgParamState outer, inner;
    ASSERT_TRUE(r.getStartStruct(outer, 2));
    EXPECT_FALSE(r.getStartStruct(inner, 3));  // 50 bytes do not fit in 4
    r.getEndStruct(inner);
    r.getEndStruct(outer);
  }
  {  // an empty body and a body of zero bytes only
    auto none = packetWithBody({});
    STPBinaryIMsg r(none.get());
    EXPECT_EQ(r.get4(0), 0);
    int out[2] = {5, 5};
    EXPECT_FALSE(r.getArray(1, out, 2, 4));
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
  }
}

}  // namespace
