// STPTransport in one process: a transport bound to one end of a socket pair,
// the test writing raw bytes on the other end. Framing, header checks,
// serials, queues, listeners, the delivery rules and buffer growth.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"
#include "stp_transport_testutil.h"

using namespace stptest;

namespace {

class TransportLocal : public ::testing::Test {
 protected:
  SocketPair pair;
  TransportRef t;
  RecordingListener listener;

  void SetUp() override {
    ASSERT_GE(pair.mine, 0);
    ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
    t->registerMessageListener(1, 2, &listener, STP_TYPE_ASCII);
  }
  void TearDown() override { t->unregisterMessageListener(&listener); }

  // Reads once and dispatches what arrived.
  void readOnce() { t->serviceOnce(200, nullptr); }
};

// Packets are cut at their lengths: two in one read, then one read that
// ends five bytes into the next packet.
TEST_F(TransportLocal, PacketsAreCutAtTheirLengthsWhateverTheReads) {
  std::vector<uint8_t> bytes;
  size_t firstTwo = 0;  // the end of the first two packets
  for (int n : {11, 22, 1, 2}) {
    std::vector<uint8_t> p = asciiPacket(1, 2, STP_TYPE_ASCII, 0, 2 + n, 0, 2, n);
    bytes.insert(bytes.end(), p.begin(), p.end());
    if (n == 22) firstTwo = bytes.size();
  }
  pair.writeRaw(bytes, 0, firstTwo);
  readOnce();
  EXPECT_EQ(listener.numbers(), (std::vector<int>{11, 22}));
  EXPECT_EQ(t->getReadBufferUsed(), 0);
  EXPECT_TRUE(t->getStat().ok());
  pair.writeRaw(bytes, firstTwo, bytes.size() - firstTwo - 5);
  t->handleRead(nullptr);
  EXPECT_EQ(listener.numbers(), (std::vector<int>{11, 22, 1}));
  pair.writeRaw(bytes, bytes.size() - 5, 5);
  t->handleRead(nullptr);
  EXPECT_EQ(listener.numbers(), (std::vector<int>{11, 22, 1, 2}));
}

TEST_F(TransportLocal, PacketSplitOverManyReadsIsDeliveredOnceWhenComplete) {
  std::vector<uint8_t> a = asciiPacket(1, 2, STP_TYPE_ASCII, 0, 2, 0, 2, 33);
  for (size_t i = 0; i < a.size(); ++i) {
    pair.writeRaw(a, i, 1);
    t->handleRead(nullptr);
    if (i + 1 < a.size()) {
      ASSERT_TRUE(listener.seen.empty()) << "after byte " << i;
    }
  }
  ASSERT_EQ(listener.seen.size(), 1u);
  EXPECT_EQ(listener.seen[0].n, 33);
  EXPECT_EQ(listener.seen[0].serial, 2);
  EXPECT_TRUE(listener.seen[0].flag);  // single listener, not an awaited reply
}

// Each invalid header closes the connection with the same message.
TEST_F(TransportLocal, InvalidHeadersCloseTheConnection) {
  struct Case {
    int headerLength, bodyLength;
  } cases[] = {{20, 0}, {30, 0}, {132, 0}, {46, 0}, {44, -4}, {0, 0}};
  for (const Case &c : cases) {
    SocketPair p;
    TransportRef tr;
    ASSERT_TRUE(tr->bindFD(p.mine, nullptr));
    p.writeRaw(rawHeader(c.headerLength, c.bodyLength, 64));
    tr->serviceOnce(200, nullptr);
    EXPECT_TRUE(tr->isDead()) << c.headerLength << "/" << c.bodyLength;
    EXPECT_EQ(tr->getStat().code, kStatDown);
    EXPECT_STREQ(tr->getStat().message, "[handleRead]: remote host sent invalid packet");
    // The peer sees the close.
    char byte;
    EXPECT_EQ(::read(p.raw, &byte, 1), 0);
  }
}

TEST_F(TransportLocal, ShortAndLongHeadersAreAccepted) {
  // A 32-byte header leaves the last three words 0; a 48-byte one has its
  // extra word ignored; the body starts at the header length.
  std::vector<uint8_t> full = asciiPacket(1, 2, STP_TYPE_ASCII, 0, 7, 0, 2, 5);
  std::vector<uint8_t> body(full.begin() + 44, full.end());
  std::vector<uint8_t> longer(full.begin(), full.begin() + 44);
  longer.insert(longer.end(), {0xAA, 0xBB, 0xCC, 0xDD});
  longer.insert(longer.end(), body.begin(), body.end());
  putWord(longer, 0, 48);
  pair.writeRaw(longer);
  readOnce();
  ASSERT_EQ(listener.seen.size(), 1u);
  EXPECT_EQ(listener.seen[0].n, 5);
  EXPECT_EQ(listener.seen[0].serial, 7);
}

TEST_F(TransportLocal, PeerClosingMidPacketReportsPeerClosed) {
  std::vector<uint8_t> a = asciiPacket(1, 2, STP_TYPE_ASCII, 0, 2, 0, 2, 9);
  pair.writeRaw(a, 0, a.size() / 2);
  t->handleRead(nullptr);
  pair.closeRaw();
  t->serviceOnce(200, nullptr);
  EXPECT_TRUE(t->isDead());
  EXPECT_EQ(t->getStat().code, kStatPeerClosed);
  EXPECT_STREQ(t->getStat().message, "[handleRead]: peer has closed connection");
  EXPECT_TRUE(listener.seen.empty());
  // Later rounds fail at once instead of waiting.
  TStat st;
  EXPECT_FALSE(t->serviceOnce(5000, &st));
  EXPECT_EQ(st.code, kStatDown);
  EXPECT_STREQ(st.message, "[serviceOnce]: not bound and not listening.");
}

TEST_F(TransportLocal, FirstSerialIsTwoAndSerialsCount) {
  STPAsciiOMsg *m = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, 2);
  m->putIdent("Msg");
  EXPECT_EQ(t->enqueueMessage(m), 2);
  EXPECT_EQ(t->enqueueMessage(m), 3);
  delete m;
  int type = 0, id = 0;
  EXPECT_TRUE(t->getLastMessageID(&type, &id));
  EXPECT_EQ(type, STP_TYPE_ASCII);
  ASSERT_TRUE(t->handleWrite(nullptr));
  std::vector<uint8_t> bytes = pair.readRaw();
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(ut_network_buffer::decode_uint32(bytes.data() + 16), 2u);
}

// Refused packets: nothing queued, no serial spent. The size limit is the
// router's: a packet exactly at it still goes.
TEST_F(TransportLocal, MessagesOfTypeZeroOrOverTheRouterLimitAreRefused) {
  const struct {
    int type;
    int bodyBytes;  // raw bytes written after the header
    const char *refusal;
  } cases[] = {
      {0, 0, "[enqueueMessage]: invalid message header"},
      {STP_TYPE_ASCII, kSTPMaxPacketBytes - kSTPHeaderLength - 3,
       "[enqueueMessage]: packet larger than the router accepts"},
      {STP_TYPE_ASCII, kSTPMaxPacketBytes - kSTPHeaderLength - 7, nullptr},
  };
  int next = 2;
  for (const auto &c : cases) {
    STPAsciiOMsg m(2, 1, c.type, 0, 0, 2, 0, 1);
    std::string body(static_cast<size_t>(c.bodyBytes), 'b');
    m.putRawString(body.c_str(), c.bodyBytes);
    int serial = t->enqueueMessage(&m);
    if (c.refusal) {
      EXPECT_EQ(serial, 0);
      EXPECT_EQ(t->getStat().code, kStatBadState);
      EXPECT_STREQ(t->getStat().message, c.refusal);
      EXPECT_EQ(t->getWriteBufferUsed(), 0);
    } else {
      EXPECT_EQ(serial, next++);
      EXPECT_EQ(t->getWriteBufferUsed(), kSTPMaxPacketBytes);
    }
  }
}

TEST_F(TransportLocal, SendTokenAndReplyToken) {
  t->setDefaultToken(7);
  STPAsciiOMsg *m = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, 1);
  // With an empty stack the transaction is numbered after the next serial.
  EXPECT_EQ(static_cast<uint32_t>(m->token), (7u << 16) | 2u);
  EXPECT_EQ(m->depth, 1);
  t->pushToken((3 << 16) | 9, 4, 64);
  STPAsciiOMsg *r = t->createAsciiReply(2, 1, 5, 0);
  EXPECT_EQ(r->token, (3 << 16) | 9);
  EXPECT_EQ(r->depth, 4);
  EXPECT_EQ(r->type, -1);
  EXPECT_EQ(r->id, -1);
  EXPECT_EQ(r->replyTo, 5);
  STPAsciiOMsg *n = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, 1);
  EXPECT_EQ(n->depth, 5);
  t->popToken();
  delete m;
  delete r;
  delete n;
}

// A reply is kept from the moment its request is sent (it may come before
// anyone waits) until the wait for it ends; a reply to a serial nobody
// asked about, and a late one, are dropped, so they cannot pile up.
TEST_F(TransportLocal, ReplyIsKeptOnlyWhileItsRequestIsAwaited) {
  TStat st;
  STPAsciiOMsg *request = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, STP_FLAG_REPLY);
  int serial = t->sendMessage(request, nullptr, &st);
  delete request;
  ASSERT_NE(serial, 0) << st.message;
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_REPLY, -1, 2, serial, 0, 77));
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_REPLY, -1, 3, serial + 100, 0, 78));
  readOnce();
  EXPECT_EQ(t->getResponseCount(), 1);  // the unasked one is gone
  STPIMsg *reply = t->awaitResponse(serial, nullptr, &st);
  ASSERT_NE(reply, nullptr);
  EXPECT_TRUE(st.ok());
  EXPECT_EQ(numberOf(reply), 77);
  delete reply;
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  EXPECT_EQ(t->getTokenStackSize(), 0);
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_REPLY, -1, 4, serial, 0, 79));  // a duplicate, late
  readOnce();
  EXPECT_EQ(t->getResponseCount(), 0);
  EXPECT_EQ(t->getUnclaimedCount(), 0);
}

TEST_F(TransportLocal, AwaitResponseTimesOutWithRetryHandler) {
  STPTransport::incrementStackDepth();
  t->pushToken(0, 1, 1);
  TimeoutSTPRetryHandler rh(t.t, 100);
  TStat st;
  EXPECT_EQ(t->awaitResponse(6, &rh, &st), nullptr);
  EXPECT_EQ(st.code, kStatTimedOut);
  EXPECT_STREQ(st.message, "[awaitResponse]: reached timeout while waiting to receive response");
  EXPECT_TRUE(t->isBound());
}

TEST_F(TransportLocal, UnclaimedMessageIsDeliveredLater) {
  pair.writeRaw(asciiPacket(1, 3, STP_TYPE_ENDPOINT, 1, 2, 0, 2, 12));
  readOnce();
  EXPECT_EQ(t->getUnclaimedCount(), 1);
  RecordingListener late;
  t->registerMessageListener(1, 3, &late, STP_TYPE_ENDPOINT);
  EXPECT_FALSE(t->dequeueAndDeliverMessage(1, 3, STP_TYPE_ASCII));
  EXPECT_TRUE(t->dequeueAndDeliverMessage(1, 3, STP_TYPE_ENDPOINT));
  EXPECT_EQ(late.numbers(), (std::vector<int>{12}));
  EXPECT_EQ(t->getUnclaimedCount(), 0);
  t->unregisterMessageListener(&late);
}

TEST_F(TransportLocal, SeveralListenersAndOneThatUnregistersAnother) {
  RecordingListener second;
  RecordingListener third;
  t->registerMessageListener(1, 2, &second, STP_TYPE_ASCII);
  t->registerMessageListener(1, 2, &third, STP_TYPE_ASCII);
  // Whichever of the others runs first removes the third one.
  auto dropThird = [&](STPIMsg *) { t->unregisterMessageListener(&third); };
  listener.onTaken = dropThird;
  second.onTaken = dropThird;
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 2, 0, 2, 8));
  readOnce();
  EXPECT_EQ(listener.seen.size(), 1u);
  EXPECT_EQ(second.seen.size(), 1u);
  EXPECT_FALSE(listener.seen[0].flag);  // more than one listener
  EXPECT_LE(third.seen.size(), 1u);
  t->unregisterMessageListener(&second);
}

TEST_F(TransportLocal, NoopSyncAndUnknownTypesAreConsumed) {
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_NOOP, 0, 2, 0, 0, 0));
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_SYNC, 0, 3, 0, 0, 0));
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_CHANNEL, 1, 4, 0, 0, 0));
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 5, 0, 2, 3));
  readOnce();
  EXPECT_EQ(listener.numbers(), (std::vector<int>{3}));
  EXPECT_EQ(t->getUnclaimedCount(), 0);
}

// Deferral: a listener that cannot take a message leaves it deferred; it is
// delivered, in arrival order, once the delivery rules allow.
TEST_F(TransportLocal, DeferredMessagesAreDeliveredInOrderWhenAllowed) {
  listener.accept = [&](STPIMsg *m) {
    m->flags |= STP_FLAG_TRANSACTION;  // what the receiving endpoint's table adds
    return t->shouldDeliverMessage(m);
  };
  STPTransport::incrementStackDepth();  // as while a request waits
  const int otherTransaction = (9 << 16) | 1;
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 2, 0, 2, 1, otherTransaction));
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 3, 0, 2, 2, otherTransaction));
  readOnce();
  EXPECT_TRUE(listener.seen.empty());
  EXPECT_EQ(t->getDeferredCount(), 2);
  EXPECT_FALSE(t->wantsToDequeueAndDispatch());
  STPTransport::decrementStackDepth();
  EXPECT_TRUE(t->wantsToDequeueAndDispatch());
  t->handleDequeueAndDispatch(nullptr);
  EXPECT_EQ(listener.numbers(), (std::vector<int>{1, 2}));
  EXPECT_EQ(t->getDeferredCount(), 0);
}

TEST_F(TransportLocal, DeliveryRules) {
  auto msg = [](int src, int replyTo, int flags, int token, int depth) {
    std::vector<uint8_t> b = asciiPacket(src, 2, STP_TYPE_ASCII, 0, 2, replyTo, flags, 0, token, depth);
    return std::make_unique<STPIMsg>(b.data(), 44, static_cast<int>(b.size() - 44));
  };
  auto plain = msg(1, 0, 0, 0, 1);
  EXPECT_TRUE(t->shouldDeliverMessage(plain.get()));  // depth 0
  // A request whose reply is let in below (a reply nobody asked for would
  // be dropped); it leaves its depth and token until awaitResponse.
  STPAsciiOMsg *request = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, STP_FLAG_REPLY);
  int serial = t->sendMessage(request, nullptr, nullptr);
  delete request;
  ASSERT_NE(serial, 0);
  STPTransport::incrementStackDepth();
  t->pushToken((5 << 16) | 6, 2, 0);
  EXPECT_TRUE(t->shouldDeliverMessage(plain.get()));  // no bit 4, counter 0
  EXPECT_TRUE(t->shouldDeliverMessage(msg(1, 9, 4, 0, 1).get()));  // a reply
  auto txn = msg(1, 0, STP_FLAG_TRANSACTION, (5 << 16) | 6, 3);
  EXPECT_TRUE(t->shouldDeliverMessage(txn.get()));  // same transaction, deeper
  EXPECT_FALSE(t->shouldDeliverMessage(msg(1, 0, 4, (5 << 16) | 6, 2).get()));  // not deeper
  EXPECT_FALSE(t->shouldDeliverMessage(msg(1, 0, 4, (5 << 16) | 7, 3).get()));  // other txn
  EXPECT_TRUE(t->shouldDeliverMessage(msg(1, 0, 4 | 16, 0, 1).get()));  // safe
  // A queued response from the same peer at the same depth goes first.
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_REPLY, -1, 2, serial, 0, 0, 0, 3));
  readOnce();
  ASSERT_EQ(t->getResponseCount(), 1);
  EXPECT_FALSE(t->shouldDeliverMessage(txn.get()));
  EXPECT_FALSE(t->shouldDeliverMessage(msg(1, 0, 16, 0, 3).get()));
  EXPECT_TRUE(t->shouldDeliverMessage(msg(4, 0, 16, 0, 3).get()));  // other peer
  t->popToken();
  STPTransport::decrementStackDepth();
  delete t->awaitResponse(serial, nullptr, nullptr);
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
}

TEST_F(TransportLocal, WriteBufferGrowsForBigPacketsAndShrinksWhenWritten) {
  TransportRef small(256);
  SocketPair p;
  ASSERT_TRUE(small->bindFD(p.mine, nullptr));
  STPAsciiOMsg *m = small->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, 2);
  m->putString("s", std::string(1000, 'x').c_str());
  ASSERT_NE(small->enqueueMessage(m), 0);
  int size = small->getWriteBufferUsed();
  EXPECT_EQ(size % 4, 0);
  EXPECT_EQ(small->getWriteBufferCapacity(), size);  // used 0 + max(0, size)
  ASSERT_NE(small->enqueueMessage(m), 0);
  EXPECT_EQ(small->getWriteBufferCapacity(), 2 * size);  // used + max(used, size)
  delete m;
  ASSERT_TRUE(small->handleWrite(nullptr));
  EXPECT_EQ(small->getWriteBufferUsed(), 0);
  EXPECT_EQ(small->getWriteBufferCapacity(), 256);
  EXPECT_EQ(p.readRaw().size(), static_cast<size_t>(2 * size));
}

TEST_F(TransportLocal, ReadBufferGrowsForBigPacketsAndShrinksWhenDrained) {
  TransportRef small(256);
  SocketPair p;
  RecordingListener l;
  ASSERT_TRUE(small->bindFD(p.mine, nullptr));
  small->registerMessageListener(1, 2, &l, STP_TYPE_ASCII);
  STPAsciiOMsg m(1, 2, STP_TYPE_ASCII, 0, 0, 2, 0, 1);
  m.putNumber("n", 5);
  m.putString("s", std::string(20000, 'y').c_str());
  m.finishMessage(2);
  int hl = 0, bl = 0;
  const unsigned char *bytes = m.getContent(&hl, &bl);
  p.writeRaw(std::vector<uint8_t>(bytes, bytes + hl + bl));
  EXPECT_TRUE(serviceUntil(small.t, [&] { return !l.seen.empty(); }));
  EXPECT_EQ(l.numbers(), (std::vector<int>{5}));
  EXPECT_EQ(small->getReadBufferUsed(), 0);
  EXPECT_EQ(small->getReadBufferCapacity(), 256);  // it grew past 10x, so it shrank
  small->unregisterMessageListener(&l);
}

TEST(TransportStacker, RaisesDepthForItsLifetime) {
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  {
    TransportRef t;
    STPTransportStacker s(t.t);
    EXPECT_EQ(STPTransport::getMessageDepth(), 1);
    STPTransportStacker any(nullptr);  // a transport exists
    EXPECT_EQ(STPTransport::getMessageDepth(), 2);
  }
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  if (STPTransportStacker::getTransportCount() == 0) {
    STPTransportStacker none(nullptr);
    EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  }
}

TEST(TransportStates, ServiceOnceOnIdleTransportFails) {
  TransportRef t;
  TStat st;
  EXPECT_TRUE(t->isDead());
  EXPECT_FALSE(t->serviceOnce(0, &st));
  EXPECT_EQ(st.code, kStatDown);
  EXPECT_STREQ(st.message, "[serviceOnce]: not bound and not listening.");
  EXPECT_FALSE(t->tryAccept(true, &st));
  EXPECT_STREQ(st.message, "[tryAccept]: Not listening as server");
  STPTransport *set[] = {t.t};
  EXPECT_FALSE(STPTransport::serviceFirst(0, set, 1, &st));
  EXPECT_STREQ(st.message, "[serviceFirst]: not bound and not listening.");
}

TEST(TransportStates, ListenTimesOutWithoutClient) {
  TransportRef t;
  int port = 0;
  TStat st;
  int lfd = STPTransport::getListenSocket(&port, &st);
  ASSERT_GE(lfd, 0);
  EXPECT_GT(port, 0);
  TimeoutSTPRetryHandler rh(t.t, 100);
  EXPECT_FALSE(t->listenOnFD(lfd, true, &rh, &st));
  EXPECT_EQ(st.code, kStatTimedOut);
  EXPECT_STREQ(st.message, "[listenOnFD]: timed out waiting for client");
  EXPECT_TRUE(t->isListening());
  EXPECT_FALSE(t->startListenOnFD(lfd, &st));
  EXPECT_STREQ(st.message, "[startListenOnFD]: Already listening as server");
  EXPECT_FALSE(t->connect("127.0.0.1", port, &st));
  EXPECT_STREQ(st.message, "[connect]: Already listening as server");
  t->closeConnection(&st);
  EXPECT_TRUE(st.ok());
  EXPECT_TRUE(t->isDead());
}

TEST(TransportStates, ListenAcceptsALocalClient) {
  TransportRef server;
  TransportRef client;
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, nullptr);
  ASSERT_GE(lfd, 0);
  ASSERT_TRUE(server->startListenOnFD(lfd, nullptr));
  ASSERT_TRUE(client->connect("127.0.0.1", port, nullptr));
  bool accepted = false;
  serviceUntil(server.t, [&] { return accepted = accepted || server->tryAccept(true, nullptr); });
  EXPECT_TRUE(accepted);
  EXPECT_TRUE(server->isBound());
  EXPECT_FALSE(server->isListening());
  EXPECT_STREQ(server->getRemoteAddr(), "127.0.0.1");
  EXPECT_STREQ(client->getLocalAddr(), "127.0.0.1");
}

}  // namespace
