// The binary codec: exact tag words and values for every type code, and the
// scoped reader on well-formed and malformed bodies.
#include "shared/stp_transport/stp_bmsg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/stp_packets.h"

using namespace testsupport;

namespace {

struct BinOut : STPBinaryOMsg {
  BinOut() : STPBinaryOMsg(1, 2, STP_TYPE_BINARY, 0, 0, 0, 0, 0) {}
  Bytes body() {
    finishMessage(2);
    Bytes b = packetBytes(*this);
    return Bytes(b.begin() + 44, b.end());
  }
};

std::string str(char *s) {
  std::string r = s ? s : "<null>";
  std::free(s);
  return r;
}

TEST(BinaryWire, TagWordsValuesAndPatchedLengths) {
  BinOut scalars;
  scalars.putS(1, "ab");
  scalars.putS(2, nullptr);
  scalars.put1(3, 0x7f);    // 3 pad bytes follow
  scalars.put2(4, 0xbeef);  // 2 pad bytes follow
  scalars.put4(5, -2);
  scalars.put8(6, 0x0000000100000002LL);
  scalars.putF(7, 1.0f);
  scalars.putD(8, -2.0);
  BinOut nested;
  STPBinaryOMsgParamState rec, arr;
  nested.putStartStruct(rec, 9);
  nested.put1(1, 5);
  nested.putStartArray(arr);  // tag 0
  nested.putEndArray(arr);
  nested.putEndStruct(rec);
  const uint16_t shorts[3] = {1, 2, 3};
  const int ints[2] = {7, -1};
  nested.putArray(10, shorts, 3, 2);
  nested.putDArray(11, ints, 2, 4);
  const struct {
    BinOut *m;
    Bytes want;
  } cases[] = {
      {&scalars, cat({le(0x110), le(3), {'a', 'b', 0, 0}, le(0x210), le(0), le(0x321),
                      {0x7f, 0, 0, 0}, le(0x422), {0xef, 0xbe, 0, 0}, le(0x524), le(0xfffffffe),
                      le(0x628), le(1), le(2), le(0x734), le(0x3f800000), le(0x838), le(0xc0000000),
                      le(0), le(0)})},
      {&nested, cat({le(0x940), le(16), le(0x121), {5, 0, 0, 0}, le(0x050), le(0), le(0xa50), le(6),
                     {1, 0, 2, 0, 3, 0, 0, 0}, le(0xb50), le(12), le(2), le(7), le(0xffffffff),
                     le(0)})},
  };
  for (const auto &c : cases) EXPECT_EQ(c.m->body(), c.want);
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

// Lookups move a scope forward: absent and unknown (-1) tags read as zero
// without losing later fields; a field behind the scope is found by going
// round once; repeated tags come back in order; a record bounds the scope.
TEST(BinaryRead, ScopeRules) {
  BinOut m;
  m.put4(1, 11);
  m.putS(3, "three");
  m.put4(4, 44);
  STPBinaryOMsgParamState st;
  m.putStartStruct(st, 5);
  m.putS(23, "first");
  m.putS(23, "second");
  m.putEndStruct(st);
  m.put4(6, 66);
  auto in = receive(m);
  STPBinaryIMsg r(in.get());
  EXPECT_EQ(r.get4(4), 44);
  EXPECT_EQ(r.get4(1), 11);
  EXPECT_EQ(r.get4(2), 0);
  EXPECT_EQ(r.getS(-1), nullptr);
  EXPECT_EQ(str(r.getS(3)), "three");
  EXPECT_EQ(r.getCS(99), nullptr);
  STPBinaryIMsgParamState rs;
  ASSERT_TRUE(r.getStartStruct(rs, 5));
  std::string first = str(r.getS(23)), second = str(r.getS(23)), third = str(r.getS(23));
  EXPECT_EQ(first + second + third, "firstsecond<null>");
  EXPECT_EQ(r.get4(6), 0);  // outside the record
  r.getEndStruct(rs);
  EXPECT_EQ(r.get4(6), 66);
  in->rewind();
  EXPECT_FALSE(r.getStartStruct(rs, 4));  // not a record: empty until its end
  EXPECT_EQ(r.get4(1), 0);
  r.getEndStruct(rs);
  EXPECT_FALSE(r.getStartArray(rs, 3));  // a string, not an array
  r.getEndArray(rs);
  EXPECT_EQ(r.get4(1), 11);
}

TEST(BinaryRead, MalformedBodiesReadAsAbsent) {
  struct Case {
    const char *what;
    Bytes body;
    std::function<std::string(STPBinaryIMsg &)> read;
    const char *want;
  };
  auto n = [](long long v) { return std::to_string(v); };
  const Case cases[] = {
      {"last field cut in half", cat({le(0x124), le(1), le(0x224), {2, 0}}),
       [&](STPBinaryIMsg &r) {
         std::string s = n(r.get4(1));
         return s + n(r.get4(2));
       }, "10"},
      {"skipped field with an absurd length",
       cat({le(0x150), le(0x7fffffff), le(0x224), le(9), le(0)}),
       [&](STPBinaryIMsg &r) {
         std::string s = n(r.get4(2));
         return s + n(r.get4(1));
       }, "00"},
      {"record longer than the body", cat({le(0x140), le(100), le(0x224), le(9), le(0)}),
       [&](STPBinaryIMsg &r) {
         STPBinaryIMsgParamState st;
         std::string s = n(r.getStartStruct(st, 1));
         r.getEndStruct(st);
         return s + n(r.get4(2));
       },
       "00"},
      {"string longer than its field", cat({le(0x110), le(0xfffffff0), {'a', 'b', 'c', 0}}),
       [&](STPBinaryIMsg &r) { return str(r.getS(1)); }, "<null>"},
      {"string without its zero", cat({le(0x110), le(3), {'x', 'y', 'z'}}),
       [&](STPBinaryIMsg &r) {
         std::string s = str(r.getS(1));
         r.getMsg()->rewind();
         return s + "|" + r.getCS(1);
       },
       "xyz|xy"},
      {"array count and inner record length that lie",
       cat({le(0x150), le(8), le(1000), le(1), le(0x240), le(4), le(0x340), le(50), le(0)}),
       [&](STPBinaryIMsg &r) {
         int count = 9;
         std::string s = n(r.getDArray(1, &count, 4) != nullptr);
         s += n(count);
         STPBinaryIMsgParamState outer, inner;
         s += n(r.getStartStruct(outer, 2));
         s += n(r.getStartStruct(inner, 3));
         r.getEndStruct(inner);
         r.getEndStruct(outer);
         return s;
       },
       "0010"},
      {"empty body", {},
       [&](STPBinaryIMsg &r) {
         int out[2] = {5, 5};
         std::string s = n(r.get4(0));
         s += n(r.getArray(1, out, 2, 4));
         return s + n(out[0]) + n(out[1]);
       },
       "0000"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    auto in = packetWithBody(c.body);
    STPBinaryIMsg r(in.get());
    EXPECT_EQ(c.read(r), c.want);
  }
}

}  // namespace
