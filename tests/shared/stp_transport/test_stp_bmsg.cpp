// The binary codec: exact tag words and values for every type code, and the
// scoped reader on well-formed and malformed bodies.
#include "shared/stp_transport/stp_bmsg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

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

// Runs a script of reader calls and joins the results with '|'. Words are
// a letter and a tag: 1 2 4 8 F D (numbers), S (string), C (borrowed
// string), T (type code of a simple field), A (counted array of 4-byte
// ints: count and last element), a (two 4-byte ints into a fixed array),
// "{" "[" start a record or array (1/0), "}" "]" end one, "r" rewinds.
std::string run(STPBinaryIMsg &r, const std::string &script) {
  std::istringstream words(script);
  std::vector<STPBinaryIMsgParamState> open;
  std::string out, w;
  for (bool first = true; words >> w; first = false) {
    int tag = w.size() > 1 ? std::stoi(w.substr(1)) : 0;
    std::string v;
    int count = 9, fixed[2] = {5, 5};
    switch (w[0]) {
      case '1': v = std::to_string(r.get1(tag)); break;
      case '2': v = std::to_string(r.get2(tag)); break;
      case '4': v = std::to_string(r.get4(tag)); break;
      case '8': v = std::to_string(r.get8(tag)); break;
      case 'F': v = std::to_string(r.getF(tag)); break;
      case 'D': v = std::to_string(r.getD(tag)); break;
      case 'S': v = str(r.getS(tag)); break;
      case 'C': {
        const char *c = r.getCS(tag);
        v = c ? c : "<null>";
        break;
      }
      case 'T': v = std::to_string(r.getStartSimpleTag(tag)); break;
      case 'A': {
        auto *d = static_cast<int *>(r.getDArray(tag, &count, 4));
        v = std::to_string(count) + ":" + (d ? std::to_string(d[count - 1]) : "-");
        std::free(d);
        break;
      }
      case 'a': {
        bool ok = r.getArray(tag, fixed, 2, 4);  // fills fixed: read it afterwards
        v = std::to_string(ok) + ":" + std::to_string(fixed[0]) + "," + std::to_string(fixed[1]);
        break;
      }
      case '{': open.emplace_back(); v = std::to_string(r.getStartStruct(open.back(), tag)); break;
      case '[': open.emplace_back(); v = std::to_string(r.getStartArray(open.back(), tag)); break;
      case '}': r.getEndStruct(open.back()); open.pop_back(); v = "}"; break;
      case ']': r.getEndArray(open.back()); open.pop_back(); v = "]"; break;
      case 'r': r.getMsg()->rewind(); v = "r"; break;
    }
    out += (first ? "" : " ") + v;
  }
  return out;
}

// A body with every kind of field, a repeated tag in a record and a field
// after it, read in and out of order.
TEST(BinaryRead, EveryKindAndTheScopeRules) {
  BinOut m;
  m.putS(1, "hello");
  m.put1(2, 1);
  m.put2(3, 0xffff);
  m.put4(4, -7);
  m.put8(5, -3);
  m.putF(6, 2.5f);
  m.putD(7, -1e10);
  const int ints[3] = {1, 2, 3};
  m.putDArray(8, ints, 3, 4);
  m.putArray(9, ints, 2, 4);
  STPBinaryOMsgParamState st;
  m.putStartStruct(st, 10);
  m.putS(23, "first");
  m.putS(23, "second");
  m.putEndStruct(st);
  m.put4(11, 66);
  auto in = receive(m);
  STPBinaryIMsg r(in.get());
  const struct {
    const char *script, *want;
  } cases[] = {
      {"S1 12 23 44 85 F6 D7 A8 a9", "hello 1 65535 -7 -3 2.500000 -10000000000.000000 3:3 1:1,2"},
      // Absent, unknown (-1) and later fields; a field behind the scope is
      // found once; a record bounds the scope; a wrong kind reads as absent.
      {"S1 412 S-1 44 C99 411 S1", "hello 0 <null> -7 <null> 66 <null>"},
      {"411 44 411", "66 -7 66"},
      {"{10 S23 S23 S23 411 } 411", "1 first second <null> 0 } 66"},
      {"{4 41 } [1 ] S1 T4 T99", "0 0 } 0 ] <null> 36 0"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.script);
    in->rewind();
    EXPECT_EQ(run(r, c.script), c.want);
  }
}

TEST(BinaryRead, MalformedBodiesReadAsAbsent) {
  const struct {
    const char *what;
    Bytes body;
    const char *script, *want;
  } cases[] = {
      {"last field cut in half", cat({le(0x124), le(1), le(0x224), {2, 0}}), "41 42", "1 0"},
      {"skipped field with an absurd length", cat({le(0x150), le(0x7fffffff), le(0x224), le(9), le(0)}), "42 41", "0 0"},
      {"record longer than the body", cat({le(0x140), le(100), le(0x224), le(9), le(0)}), "{1 } 42", "0 } 0"},
      {"string longer than its field", cat({le(0x110), le(0xfffffff0), {'a', 'b', 'c', 0}}), "S1", "<null>"},
      {"string without its zero", cat({le(0x110), le(3), {'x', 'y', 'z'}}), "S1 r C1", "xyz r xy"},
      {"array count and inner record length that lie",
       cat({le(0x150), le(8), le(1000), le(1), le(0x240), le(4), le(0x340), le(50), le(0)}), "A1 {2 {3 } }", "0:- 1 0 } }"},
      {"empty body", {}, "40 a1", "0 0:0,0"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    auto in = packetWithBody(c.body);
    STPBinaryIMsg r(in.get());
    EXPECT_EQ(run(r, c.script), c.want);
  }
}

}  // namespace
