// Packet header and framing: the exact header words written, the receiver's
// length check, and decoding of short, standard and long headers.
#include "shared/stp_transport/stp_msg.h"

#include <gtest/gtest.h>

#include "support/stp_packets.h"

using namespace testsupport;

namespace {

// Header words, then body bytes (padded to 4, plus the closing zero word).
TEST(StpHeader, FinishedPacketsAreExactBytes) {
  STPOMsg text(3, 7, STP_TYPE_ASCII, 5, 0, STP_FLAG_ASYNC, 0x00010002, 4);
  text.put_raw_string("Hi ");
  text.finishMessage(2);
  STPOMsg reply(1, 2, STP_TYPE_REPLY, -1, 9, 0, 0, 0);  // negative words, empty body
  reply.finishMessage(3);
  STPOMsg twice(1, 2, STP_TYPE_ASCII, 0, 0, 0, 0, 0);  // refinishing changes only the serial
  twice.put_raw_string("abcd");
  twice.finishMessage(2);
  twice.finishMessage(6);
  const struct {
    STPOMsg *m;
    Bytes want;
  } cases[] = {
      {&text, cat({le(44), le(8), le(3), le(7), le(2), le(0), le(14), le(5), le(2), le(0x00010002),
                   le(4), {'H', 'i', ' ', 0}, le(0)})},
      {&reply, cat({le(44), le(4), le(1), le(2), le(3), le(9), le(0xffffffff), le(0xffffffff),
                    le(0), le(0), le(0), le(0)})},
      {&twice, cat({le(44), le(8), le(1), le(2), le(6), le(0), le(STP_TYPE_ASCII), le(0), le(0),
                    le(0), le(0), {'a', 'b', 'c', 'd'}, le(0)})},
  };
  for (const auto &c : cases) EXPECT_EQ(packetBytes(*c.m), c.want);
}

TEST(StpHeader, ReceiverChecksLengthsAndFramesToFourBytes) {
  const struct {
    int hl, bl;
    bool ok;
    int size;
  } cases[] = {{30, 0, false, 0},   {132, 0, false, 0}, {46, 0, false, 0},  {44, -4, false, 0},
               {28, 4, false, 0},   {32, 0, true, 32},  {32, 1, true, 36},  {44, 4, true, 48},
               {44, 9, true, 56},   {128, 1000, true, 1128}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.hl << "/" << c.bl);
    EXPECT_EQ(STPMsg::checkHeader(c.hl, c.bl), c.ok);
    EXPECT_EQ(c.ok ? STPMsg::packetSize(c.hl, c.bl) : 0, c.size);
  }
  int hl = 0, bl = 0;
  Bytes neg = cat({le(44), le(0xfffffffc)});
  STPMsg::peekLengths(neg.data(), &hl, &bl);
  EXPECT_EQ(bl, -4);
}

TEST(StpHeader, IncomingDecodesTheHeader) {
  STPOMsg m(11, 12, STP_TYPE_BINARY, 3, 0, STP_FLAG_REPLY, 0x00050006, 2);
  m.put_uint32(0xabcdef01);
  auto in = receive(m);
  const int got[] = {in->headerLength, in->bodyLength, in->sourceRN, in->destRN, in->serial,
                     in->replyTo,      in->type,       in->id,       in->flags,  in->token,
                     in->depth,        in->get_pos()};
  const int want[] = {44, 8, 11, 12, 2, 0, STP_TYPE_BINARY, 3, STP_FLAG_REPLY, 0x00050006, 2, 44};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(got[i], want[i]) << "field " << i;
  EXPECT_EQ(in->get_uint32(), 0xabcdef01u);
  // A 32-byte header leaves the last three words zero; a 48-byte one has its
  // extra word skipped. The body starts at the header length either way
  // (braced lists are read left to right).
  Bytes shortP = cat({le(32), le(4), le(3), le(4), le(5), le(6), le(7), le(8), le(0x5a)});
  Bytes longP = cat({rawHeader(48, 4, 40), le(9), le(0x77), le(0x66)});
  STPIMsg s(shortP.data(), 32, 4), l(longP.data(), 48, 4);
  using U = std::vector<uint32_t>;
  EXPECT_EQ(U({uint32_t(s.type), uint32_t(s.id), uint32_t(s.flags + s.token + s.depth), s.get_uint32()}), U({7, 8, 0, 0x5a}));
  EXPECT_EQ(U({uint32_t(l.depth), l.get_uint32(), l.get_uint32()}), U({9, 0x66, 0}));  // nothing past the body
}

}  // namespace
