// Packet header, framing and the receiver's header check.
#include "shared/stp_transport/stp_msg.h"

#include <gtest/gtest.h>

#include "stp_msg_testutil.h"

namespace {

uint32_t word(const std::vector<uint8_t> &b, int index) {
  return ut_network_buffer::decode_uint32(b.data() + 4 * index);
}

TEST(StpHeader, FinishWritesElevenLittleEndianWords) {
  STPOMsg m(3, 7, STP_TYPE_ASCII, 5, 0, STP_FLAG_ASYNC, 0x00010002, 4);
  m.put_raw_string("Hi ");  // 3 body bytes: padded to 4, then the zero word
  m.finishMessage(2);
  std::vector<uint8_t> b = packetBytes(m);
  ASSERT_EQ(b.size(), 52u);
  const uint32_t want[11] = {44, 8, 3, 7, 2, 0, 14, 5, 2, 0x00010002, 4};
  for (int i = 0; i < 11; i++) EXPECT_EQ(word(b, i), want[i]) << "word " << i;
  EXPECT_EQ(b[0], 44);  // least significant byte first
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 44, b.end()),
            std::vector<uint8_t>({'H', 'i', ' ', 0, 0, 0, 0, 0}));
}

TEST(StpHeader, ReplyAndNegativeWordsAreTwosComplement) {
  STPOMsg m(1, 2, STP_TYPE_REPLY, -1, 9, 0, 0, 0);
  m.finishMessage(3);
  std::vector<uint8_t> b = packetBytes(m);
  EXPECT_EQ(word(b, 1), 4u);  // an empty body is just the closing word
  EXPECT_EQ(word(b, 5), 9u);
  EXPECT_EQ(word(b, 6), 0xffffffffu);
  EXPECT_EQ(word(b, 7), 0xffffffffu);
}

TEST(StpHeader, FinishingTwiceOnlyChangesTheSerial) {
  STPOMsg m(1, 2, STP_TYPE_ASCII, 0, 0, 0, 0, 0);
  m.put_raw_string("abcd");
  m.finishMessage(2);
  m.finishMessage(6);
  std::vector<uint8_t> b = packetBytes(m);
  EXPECT_EQ(b.size(), 52u);
  EXPECT_EQ(word(b, 1), 8u);
  EXPECT_EQ(word(b, 4), 6u);
}

TEST(StpHeader, ReceiverRefusesBadLengths) {
  EXPECT_FALSE(STPMsg::checkHeader(30, 0));
  EXPECT_FALSE(STPMsg::checkHeader(132, 0));
  EXPECT_FALSE(STPMsg::checkHeader(46, 0));
  EXPECT_FALSE(STPMsg::checkHeader(44, -4));
  EXPECT_FALSE(STPMsg::checkHeader(28, 4));
  EXPECT_TRUE(STPMsg::checkHeader(32, 0));
  EXPECT_TRUE(STPMsg::checkHeader(44, 4));
  EXPECT_TRUE(STPMsg::checkHeader(128, 1000));
  int hl = 0, bl = 0;
  const uint8_t neg[8] = {44, 0, 0, 0, 0xfc, 0xff, 0xff, 0xff};
  STPMsg::peekLengths(neg, &hl, &bl);
  EXPECT_EQ(hl, 44);
  EXPECT_EQ(bl, -4);
  EXPECT_FALSE(STPMsg::checkHeader(hl, bl));
}

TEST(StpHeader, FramingRoundsToFourBytes) {
  EXPECT_EQ(STPMsg::packetSize(44, 8), 52);
  EXPECT_EQ(STPMsg::packetSize(44, 9), 56);
  EXPECT_EQ(STPMsg::packetSize(32, 1), 36);
  EXPECT_EQ(STPMsg::packetSize(44, 0), 44);
}

TEST(StpHeader, IncomingDecodesTheHeader) {
  STPOMsg m(11, 12, STP_TYPE_BINARY, 3, 0, STP_FLAG_REPLY, 0x00050006, 2);
  m.put_uint32(0xabcdef01);
  auto in = receive(m);
  EXPECT_EQ(in->headerLength, 44);
  EXPECT_EQ(in->bodyLength, 8);
  EXPECT_EQ(in->sourceRN, 11);
  EXPECT_EQ(in->destRN, 12);
  EXPECT_EQ(in->serial, 2);
  EXPECT_EQ(in->replyTo, 0);
  EXPECT_EQ(in->type, STP_TYPE_BINARY);
  EXPECT_EQ(in->id, 3);
  EXPECT_EQ(in->flags, STP_FLAG_REPLY);
  EXPECT_EQ(in->token, 0x00050006);
  EXPECT_EQ(in->depth, 2);
  EXPECT_FALSE(in->deferred);
  EXPECT_EQ(in->get_pos(), 44);
  EXPECT_EQ(in->get_uint32(), 0xabcdef01u);
}

TEST(StpHeader, ShortHeaderLeavesMissingWordsZeroLongOneIsSkipped) {
  std::vector<uint8_t> p(32, 0);
  for (int i = 0; i < 8; i++) p[4 * i] = static_cast<uint8_t>(i + 1);
  p[0] = 32;
  p[4] = 4;
  p.insert(p.end(), {0x5a, 0, 0, 0});
  STPIMsg shortHeader(p.data(), 32, 4);
  EXPECT_EQ(shortHeader.type, 7);
  EXPECT_EQ(shortHeader.id, 8);
  EXPECT_EQ(shortHeader.flags, 0);
  EXPECT_EQ(shortHeader.token, 0);
  EXPECT_EQ(shortHeader.depth, 0);
  EXPECT_EQ(shortHeader.get_uint32(), 0x5au);  // body starts at 32

  std::vector<uint8_t> q(48, 0);
  q[0] = 48;
  q[4] = 4;
  q[40] = 9;   // depth
  q[44] = 0x77;  // an extra header word, ignored
  q.insert(q.end(), {0x66, 0, 0, 0});
  STPIMsg longHeader(q.data(), 48, 4);
  EXPECT_EQ(longHeader.depth, 9);
  EXPECT_EQ(longHeader.get_uint32(), 0x66u);
  EXPECT_EQ(longHeader.get_uint32(), 0u);  // nothing past the body
}

}  // namespace
