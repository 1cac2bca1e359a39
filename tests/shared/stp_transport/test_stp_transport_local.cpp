// STPTransport in one process: a transport bound to one end of a socket pair
// and the test writing raw bytes on the other. Framing across reads, header
// checks, serials and tokens, queues and listeners, the delivery rules and
// deferral, buffer growth, set-up calls refused in the wrong state, socket
// failures and bounded waits.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"
#include "support/stp_packets.h"
#include "support/stp_pump.h"
#include "support/stp_sockets.h"
#include "support/stp_stat.h"

using namespace testsupport;

namespace {

void expectStat(const TStat &st, int code, const char *message) {
  EXPECT_EQ(st.code, code) << st.message;
  EXPECT_STREQ(st.message, message);
}

STPAsciiOMsg *oneNumber(STPTransport *t, int flags, int n) {
  STPAsciiOMsg *m = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, flags);
  m->putIdent("Msg");
  m->putNumber("n", n);
  return m;
}

Bytes packet(int n, int serial = 2, int flags = STP_FLAG_ASYNC) {
  return asciiPacket(1, 2, STP_TYPE_ASCII, 0, serial, 0, flags, n);
}

class TransportLocal : public ::testing::Test {
 protected:
  SocketPair pair;
  TransportRef t;
  RecordingListener listener;

  void SetUp() override {
    ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
    t->registerMessageListener(1, 2, &listener, STP_TYPE_ASCII);
  }
  void TearDown() override {
    t->unregisterMessageListener(&listener);
    EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  }
  void readOnce() { t->serviceOnce(200, nullptr); }
};

// Packets are cut at their lengths whatever the reads: two in one read, one
// read ending five bytes into the next packet, and one byte per read.
TEST_F(TransportLocal, FramingAcrossReads) {
  Bytes bytes = cat({packet(11), packet(22, 3), packet(1, 4), packet(2, 5)});
  size_t firstTwo = 2 * packet(11).size();
  pair.writeRaw(bytes, 0, firstTwo);
  readOnce();
  EXPECT_EQ(listener.numbers(), (std::vector<int>{11, 22}));
  EXPECT_EQ(t->getReadBufferUsed(), 0);
  pair.writeRaw(bytes, firstTwo, bytes.size() - firstTwo - 5);
  t->handleRead(nullptr);
  EXPECT_EQ(listener.numbers(), (std::vector<int>{11, 22, 1}));
  pair.writeRaw(bytes, bytes.size() - 5, 5);
  t->handleRead(nullptr);
  EXPECT_EQ(listener.numbers(), (std::vector<int>{11, 22, 1, 2}));
  Bytes one = packet(33, 6);
  for (size_t i = 0; i < one.size(); ++i) {
    pair.writeRaw(one, i, 1);
    t->handleRead(nullptr);
    ASSERT_EQ(listener.seen.size(), i + 1 < one.size() ? 4u : 5u) << "after byte " << i;
  }
  EXPECT_EQ(listener.seen[4].serial, 6);
  EXPECT_TRUE(listener.seen[4].flag);  // single listener, not an awaited reply
  EXPECT_TRUE(t->getStat().ok());
}

// Each invalid header (and a body no int-sized buffer could collect) closes
// the connection; a large but possible body waits for its bytes.
TEST(TransportHeaders, InvalidHeadersCloseTheConnection) {
  const struct {
    int hl, bl;
    bool closes;
  } cases[] = {{20, 0, true},  {30, 0, true},          {132, 0, true},
               {46, 0, true},  {44, -4, true},         {0, 0, true},
               {44, 0x7ffffff0, true}, {44, 40 << 20, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.hl << "/" << c.bl);
    SocketPair p;
    TransportRef tr;
    ASSERT_TRUE(tr->bindFD(p.mine, nullptr));
    p.writeRaw(rawHeader(c.hl, c.bl, 64));
    tr->serviceOnce(200, nullptr);
    EXPECT_EQ(tr->isDead(), c.closes);
    if (!c.closes) continue;
    expectStat(tr->getStat(), kStatDown, "[handleRead]: remote host sent invalid packet");
    char byte;
    EXPECT_EQ(::read(p.raw, &byte, 1), 0);  // the peer sees the close
  }
}

TEST_F(TransportLocal, LongHeaderIsAccepted) {
  Bytes full = packet(5, 7);
  Bytes longer = cat({le(48), Bytes(full.begin() + 4, full.begin() + 44), le(0xDDCCBBAA),
                      Bytes(full.begin() + 44, full.end())});
  pair.writeRaw(longer);
  readOnce();
  EXPECT_EQ(listener.numbers(), (std::vector<int>{5}));
  EXPECT_EQ(listener.seen[0].serial, 7);
}

TEST_F(TransportLocal, PeerClosingMidPacket) {
  Bytes a = packet(9);
  pair.writeRaw(a, 0, a.size() / 2);
  t->handleRead(nullptr);
  pair.closeRaw();
  readOnce();
  EXPECT_TRUE(t->isDead());
  expectStat(t->getStat(), kStatPeerClosed, "[handleRead]: peer has closed connection");
  EXPECT_TRUE(listener.seen.empty());
  TStat st;  // later rounds fail at once instead of waiting
  EXPECT_FALSE(t->serviceOnce(5000, &st));
  expectStat(st, kStatDown, "[serviceOnce]: not bound and not listening.");
}

TEST_F(TransportLocal, SerialsTokensAndTypeZero) {
  STPAsciiOMsg *m = oneNumber(t.t, STP_FLAG_ASYNC, 1);
  EXPECT_EQ(t->enqueueMessage(m), 2);
  EXPECT_EQ(t->enqueueMessage(m), 3);
  delete m;
  int type = 0, id = -1;
  EXPECT_TRUE(t->getLastMessageID(&type, &id));
  EXPECT_EQ(type + id, STP_TYPE_ASCII);
  ASSERT_TRUE(t->handleWrite(nullptr));
  Bytes bytes = pair.readRaw();
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.begin() + 20), le(2));
  STPAsciiOMsg zero(2, 1, 0, 0, 0, 2, 0, 1);
  EXPECT_EQ(t->enqueueMessage(&zero), 0);
  expectStat(t->getStat(), kStatBadState, "[enqueueMessage]: invalid message header");
  EXPECT_EQ(t->getWriteBufferUsed(), 0);

  t->setDefaultToken(7);
  STPAsciiOMsg *req = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, 1);
  // With an empty stack the transaction is numbered after the next serial.
  EXPECT_EQ(static_cast<uint32_t>(req->token), (7u << 16) | 4u);
  EXPECT_EQ(req->depth, 1);
  t->pushToken((3 << 16) | 9, 4, 64);
  STPAsciiOMsg *r = t->createAsciiReply(2, 1, 5, 0);
  EXPECT_EQ(r->token, (3 << 16) | 9);
  EXPECT_EQ(r->depth, 4);
  EXPECT_EQ(r->type + r->id, -2);
  EXPECT_EQ(r->replyTo, 5);
  STPAsciiOMsg *nested = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, 1);
  EXPECT_EQ(nested->depth, 5);
  t->popToken();
  delete req;
  delete r;
  delete nested;
}

// The router's packet size limit: a packet exactly at it goes, one a word
// over it is refused with nothing queued and no serial spent.
TEST_F(TransportLocal, PacketsOverTheRouterLimitAreRefused) {
  const struct {
    int bodyBytes;  // raw bytes written after the header
    int serial;
  } cases[] = {{kSTPMaxPacketBytes - kSTPHeaderLength - 3, 0},
               {kSTPMaxPacketBytes - kSTPHeaderLength - 7, 2}};
  for (const auto &c : cases) {
    STPAsciiOMsg m(2, 1, STP_TYPE_ASCII, 0, 0, 2, 0, 1);
    m.putRawString(std::string(static_cast<size_t>(c.bodyBytes), 'b').c_str(), c.bodyBytes);
    EXPECT_EQ(t->enqueueMessage(&m), c.serial);
    EXPECT_EQ(t->getWriteBufferUsed(), c.serial ? kSTPMaxPacketBytes : 0);
    if (!c.serial)
      expectStat(t->getStat(), kStatBadState, "[enqueueMessage]: packet larger than the router accepts");
  }
}

// A wait for a reply times out without closing. A reply is kept from the
// moment its request is sent (it may come before anyone waits) until the
// wait for it ends; a reply to a serial nobody asked about, and a late one
// (after a time-out or a duplicate), are dropped, so they cannot pile up.
TEST_F(TransportLocal, AwaitResponse) {
  TimeoutSTPRetryHandler rh(t.t, 100);
  TStat st;
  for (bool replied : {false, true}) {
    STPAsciiOMsg *request = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, STP_FLAG_REPLY);
    int serial = t->sendMessage(request, nullptr, &st);
    delete request;
    ASSERT_NE(serial, 0) << st.message;
    if (replied) pair.writeRaw(asciiPacket(1, 2, STP_TYPE_REPLY, -1, 2, serial, 0, 77));
    pair.writeRaw(asciiPacket(1, 2, STP_TYPE_REPLY, -1, 3, serial + 100, 0, 78));  // unasked
    readOnce();
    EXPECT_EQ(t->getResponseCount(), replied ? 1 : 0);
    std::unique_ptr<STPIMsg> reply(t->awaitResponse(serial, &rh, &st));
    EXPECT_EQ(reply ? numberOf(reply.get()) : -1, replied ? 77 : -1);
    EXPECT_EQ(t->getTokenStackSize() + t->getResponseCount(), 0);
    EXPECT_EQ(statText(st), replied ? "0 " : "7 [awaitResponse]: reached timeout while waiting to receive response");
    pair.writeRaw(asciiPacket(1, 2, STP_TYPE_REPLY, -1, 4, serial, 0, 79));  // late
    readOnce();
    EXPECT_EQ(t->getResponseCount() + t->getUnclaimedCount(), 0);
  }
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  EXPECT_TRUE(t->isBound());
}

TEST_F(TransportLocal, UnclaimedNoopSyncAndUnknownTypes) {
  for (int type : {STP_TYPE_NOOP, STP_TYPE_SYNC, STP_TYPE_CHANNEL})
    pair.writeRaw(asciiPacket(1, 2, type, 1, 2, 0, 0, 0));
  pair.writeRaw(asciiPacket(1, 3, STP_TYPE_ENDPOINT, 1, 2, 0, 2, 12));
  pair.writeRaw(packet(3));
  readOnce();
  EXPECT_EQ(listener.numbers(), (std::vector<int>{3}));
  EXPECT_EQ(t->getUnclaimedCount(), 1);  // only the endpoint packet is kept
  RecordingListener late;
  t->registerMessageListener(1, 3, &late, STP_TYPE_ENDPOINT);
  EXPECT_FALSE(t->dequeueAndDeliverMessage(1, 3, STP_TYPE_ASCII));
  EXPECT_TRUE(t->dequeueAndDeliverMessage(1, 3, STP_TYPE_ENDPOINT));
  EXPECT_EQ(late.numbers(), (std::vector<int>{12}));
  EXPECT_EQ(t->getUnclaimedCount(), 0);
  t->unregisterMessageListener(&late);
}

TEST_F(TransportLocal, ListenerThatUnregistersAnother) {
  RecordingListener second, third;
  t->registerMessageListener(1, 2, &second, STP_TYPE_ASCII);
  t->registerMessageListener(1, 2, &third, STP_TYPE_ASCII);
  // Whichever of the others runs first removes the third one.
  listener.onTaken = second.onTaken = [&](STPIMsg *) { t->unregisterMessageListener(&third); };
  pair.writeRaw(packet(8));
  readOnce();
  EXPECT_EQ(listener.seen.size() + second.seen.size(), 2u);
  EXPECT_FALSE(listener.seen[0].flag);  // more than one listener
  EXPECT_LE(third.seen.size(), 1u);
  t->unregisterMessageListener(&second);
}

// A message the delivery rules hold back is deferred; it is delivered, in
// arrival order, once the rules allow.
TEST_F(TransportLocal, DeferredMessagesAreDeliveredInOrderWhenAllowed) {
  listener.classifyAs = [](STPIMsg *m) {
    m->flags |= STP_FLAG_TRANSACTION;  // what the receiving endpoint's table adds
  };
  STPTransport::incrementStackDepth();  // as while a request waits
  const int otherTransaction = (9 << 16) | 1;
  for (int n : {1, 2}) pair.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 1 + n, 0, 2, n, otherTransaction));
  readOnce();
  EXPECT_TRUE(listener.seen.empty());
  EXPECT_EQ(t->getDeferredCount(), 2);
  EXPECT_FALSE(t->wantsToDequeueAndDispatch());
  t->handleDequeueAndDispatch(nullptr);  // still not allowed: nothing moves
  EXPECT_TRUE(listener.seen.empty());
  STPTransport::decrementStackDepth();
  EXPECT_TRUE(t->wantsToDequeueAndDispatch());
  t->handleDequeueAndDispatch(nullptr);
  EXPECT_EQ(listener.numbers(), (std::vector<int>{1, 2}));
  EXPECT_EQ(t->getDeferredCount(), 0);
}

// While a request of transaction (5,6) waits at depth 2.
TEST_F(TransportLocal, DeliveryRules) {
  const int txn = (5 << 16) | 6;
  auto deliver = [&](int src, int replyTo, int flags, int token, int depth) {
    Bytes b = asciiPacket(src, 2, STP_TYPE_ASCII, 0, 2, replyTo, flags, 0, token, depth);
    STPIMsg m(b.data(), 44, static_cast<int>(b.size() - 44));
    return t->shouldDeliverMessage(&m);
  };
  EXPECT_TRUE(deliver(1, 0, STP_FLAG_TRANSACTION, 0, 1));  // depth 0: anything
  // A request whose reply is queued below (a reply nobody asked for would
  // be dropped); it keeps its depth and token until awaitResponse.
  STPAsciiOMsg *request = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, STP_FLAG_REPLY);
  int serial = t->sendMessage(request, nullptr, nullptr);
  delete request;
  ASSERT_NE(serial, 0);
  STPTransport::incrementStackDepth();
  t->pushToken(txn, 2, 0);
  const struct {
    const char *what;
    int src, replyTo, flags, token, depth;
    bool queuedReply, want;
  } cases[] = {
      {"not transaction-only", 1, 0, 0, 0, 1, false, true},
      {"a reply", 1, 9, 4, 0, 1, false, true},
      {"same transaction, deeper", 1, 0, 4, txn, 3, false, true},
      {"same transaction, not deeper", 1, 0, 4, txn, 2, false, false},
      {"other transaction", 1, 0, 4, txn + 1, 3, false, false},
      {"safe", 1, 0, 4 | 16, 0, 1, false, true},
      {"behind a queued reply: same transaction", 1, 0, 4, txn, 3, true, false},
      {"behind a queued reply: safe", 1, 0, 16, 0, 3, true, false},
      {"behind a queued reply of another peer", 4, 0, 16, 0, 3, true, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.queuedReply && t->getResponseCount() == 0) {
      pair.writeRaw(asciiPacket(1, 2, STP_TYPE_REPLY, -1, 2, serial, 0, 0, 0, 3));
      readOnce();
      ASSERT_EQ(t->getResponseCount(), 1);
    }
    EXPECT_EQ(deliver(c.src, c.replyTo, c.flags, c.token, c.depth), c.want);
  }
  t->popToken();
  STPTransport::decrementStackDepth();
  delete t->awaitResponse(serial, nullptr, nullptr);
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
}

// Buffers grow to hold a big packet and go back to their initial size once
// it was written or read.
TEST(TransportBuffers, GrowForBigPacketsAndShrinkAfterwards) {
  SocketPair out, in;
  TransportRef w(256), r(256);
  ASSERT_TRUE(w->bindFD(out.mine, nullptr));
  ASSERT_TRUE(r->bindFD(in.mine, nullptr));
  STPAsciiOMsg *m = w->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, 2);
  m->putString("s", std::string(1000, 'x').c_str());
  ASSERT_NE(w->enqueueMessage(m), 0);
  ASSERT_NE(w->enqueueMessage(m), 0);
  int size = w->getWriteBufferUsed();
  delete m;
  ASSERT_TRUE(w->handleWrite(nullptr));
  EXPECT_EQ(w->getWriteBufferCapacity(), 256);
  EXPECT_EQ(out.readRaw().size(), static_cast<size_t>(size));

  RecordingListener l;
  r->registerMessageListener(1, 2, &l, STP_TYPE_ASCII);
  STPAsciiOMsg big(1, 2, STP_TYPE_ASCII, 0, 0, 2, 0, 1);
  big.putNumber("n", 5);
  big.putString("s", std::string(20000, 'y').c_str());
  big.finishMessage(2);
  in.writeRaw(packetBytes(big));
  EXPECT_TRUE(serviceUntil(r.t, [&] { return !l.seen.empty(); }));
  EXPECT_EQ(l.numbers(), (std::vector<int>{5}));
  EXPECT_EQ(r->getReadBufferCapacity(), 256);  // it grew past 10x, so it shrank
  r->unregisterMessageListener(&l);
}

// A stacker raises the depth while any transport exists, for its lifetime.
TEST(TransportStacker, RaisesDepthWhileATransportExists) {
  {
    TransportRef t;
    STPTransportStacker s(t.t), any(nullptr);
    EXPECT_EQ(STPTransport::getMessageDepth(), 2);
  }
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  if (STPTransportStacker::getTransportCount() == 0) {
    STPTransportStacker none(nullptr);
    EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  }
}

// Set-up calls refused in the wrong state leave the connection as it was.
TEST(TransportRefusals, WrongStateCallsAreRefused) {
  using Call = std::function<bool(STPTransport *, int fd, TStat *)>;
  enum State { kIdle, kBound, kListening };
  const struct {
    State state;
    Call call;
    int code;
    const char *message;
  } cases[] = {
      {kBound, [](STPTransport *t, int, TStat *s) { return t->connect("127.0.0.1", 1, s); }, 3, "[connect]: Already connected"},
      {kBound, [](STPTransport *t, int, TStat *s) { return t->bindFD(0, s); }, 3, "[bindFD]: Already bound"},
      {kBound, [](STPTransport *t, int, TStat *s) { return t->listen(0, nullptr, s); }, 3, "[listen]: Already connected"},
      {kBound, [](STPTransport *t, int fd, TStat *s) { return t->startListenOnFD(fd, s); }, 3, "[startListenOnFD]: Already connected"},
      {kBound, [](STPTransport *t, int, TStat *s) { return t->tryAccept(false, s); }, 3, "[tryAccept]: Already connected"},
      {kListening, [](STPTransport *t, int, TStat *s) { return t->listen(0, nullptr, s); }, 3, "[listen]: Already listening as server"},
      {kListening, [](STPTransport *t, int fd, TStat *s) { return t->bindFD(fd, s); }, 3, "[bindFD]: Already listening"},
      {kListening, [](STPTransport *t, int fd, TStat *s) { return t->startListenOnFD(fd, s); }, 3, "[startListenOnFD]: Already listening as server"},
      {kListening, [](STPTransport *t, int, TStat *s) { return t->connect("127.0.0.1", 1, s); }, 3, "[connect]: Already listening as server"},
      {kIdle, [](STPTransport *t, int, TStat *s) { return t->serviceOnce(0, s); }, kStatDown, "[serviceOnce]: not bound and not listening."},
      {kIdle, [](STPTransport *t, int, TStat *s) { return t->tryAccept(true, s); }, 3, "[tryAccept]: Not listening as server"},
      {kIdle, [](STPTransport *t, int, TStat *s) { return STPTransport::serviceFirst(0, &t, 1, s); }, kStatDown, "[serviceFirst]: not bound and not listening."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    SocketPair pair;
    TransportRef t;
    int lfd = -1, port = 0;
    if (c.state == kBound) {
      ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
    }
    if (c.state == kListening) {
      ASSERT_GE(lfd = STPTransport::getListenSocket(&port, nullptr), 0);
      ASSERT_TRUE(t->startListenOnFD(lfd, nullptr));
    }
    TStat st;
    EXPECT_FALSE(c.call(t.t, c.state == kBound ? pair.raw : pair.mine, &st));
    expectStat(st, c.code, c.message);
    EXPECT_EQ(t->getFD(), c.state == kBound ? pair.mine : lfd);
    if (c.state != kBound) ::close(pair.mine);
  }
}

TEST(TransportSockets, ListenTimesOutThenAcceptsAClient) {
  TransportRef server, client;
  int port = 0;
  TStat st;
  int lfd = STPTransport::getListenSocket(&port, &st);
  ASSERT_GE(lfd, 0);
  TimeoutSTPRetryHandler rh(server.t, 100);
  EXPECT_FALSE(server->listenOnFD(lfd, true, &rh, &st));
  expectStat(st, kStatTimedOut, "[listenOnFD]: timed out waiting for client");
  EXPECT_TRUE(server->isListening());
  ASSERT_TRUE(client->connect("127.0.0.1", port, nullptr));
  bool accepted = false;
  serviceUntil(server.t, [&] { return accepted = accepted || server->tryAccept(true, nullptr); });
  EXPECT_TRUE(accepted && server->isBound() && !server->isListening());
  EXPECT_STREQ(server->getRemoteAddr(), "127.0.0.1");
  EXPECT_STREQ(client->getLocalAddr(), "127.0.0.1");
  server->closeConnection(&st);
  EXPECT_TRUE(st.ok() && server->isDead());
}

TEST(TransportSockets, ConnectAndListenFailures) {
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, nullptr);
  ASSERT_GE(lfd, 0);
  TStat st;
  EXPECT_EQ(STPTransport::getListenSocket(port, &st), -1);  // in use
  expectStat(st, kStatDown, "[getListenSocket]: Could not bind to port");
  TransportRef t;
  EXPECT_FALSE(t->listen(port, nullptr, &st));
  expectStat(st, kStatDown, "[getListenSocket]: Could not bind to port");
  EXPECT_TRUE(STPTransport::closeListenSocket(lfd, &st));  // now nobody listens there
  EXPECT_FALSE(t->connect("127.0.0.1", port, &st));
  expectStat(st, kStatDown, "[connectToServer]: connect failed");
  EXPECT_FALSE(t->connect("no-such-host.invalid", 1, &st));
  expectStat(st, kStatDown, "[connectToServer]: Unable to resolve host");
  EXPECT_TRUE(t->isDead());
}

TEST(TransportSockets, WriteToAVanishedPeerDropsTheConnection) {
  SocketPair pair;
  TransportRef t;
  ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
  pair.closeRaw();
  STPAsciiOMsg *m = oneNumber(t.t, STP_FLAG_ASYNC, 1);
  ASSERT_NE(t->enqueueMessage(m), 0);
  delete m;
  TStat st;
  EXPECT_FALSE(t->handleWrite(&st));
  expectStat(st, kStatDown, "[handleWrite]: write failed, dropping connection");
  EXPECT_TRUE(t->isDead());
  EXPECT_FALSE(t->dataInWriteBuffer());
}

TEST(TransportSockets, ResetConnectionIsAReadFailure) {
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, nullptr);
  ASSERT_GE(lfd, 0);
  TransportRef t;
  ASSERT_TRUE(t->connect("127.0.0.1", port, nullptr));
  int raw = -1;
  for (int i = 0; i < 100 && raw < 0; ++i, ::usleep(10000))
    raw = STPTransport::acceptClient(lfd, false, nullptr);
  ::close(lfd);
  ASSERT_GE(raw, 0);
  struct linger hard = {1, 0};  // a zero linger time sends a reset
  ASSERT_EQ(::setsockopt(raw, SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
  ::close(raw);
  TStat st;
  for (int i = 0; i < 50 && !t->isDead(); ++i) t->serviceOnce(100, &st);
  expectStat(st, kStatDown, "[handleRead]: read failed, closing connection");
}

TEST(TransportWaits, SendThatIsNeverWrittenTimesOut) {
  SocketPair pair;  // the raw end never reads
  TransportRef t;
  ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
  int small = 4096;
  ::setsockopt(pair.mine, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  STPAsciiOMsg *m = oneNumber(t.t, STP_FLAG_REPLY, 1);
  m->putString("pad", std::string(1 << 20, 'p').c_str());
  TimeoutSTPRetryHandler rh(t.t, 100);
  TStat st;
  EXPECT_EQ(t->sendMessage(m, &rh, &st), 0);
  delete m;
  expectStat(st, kStatTimedOut, "[sendMessage]: reached timeout while waiting to send message");
  // No depth, token or suspended delivery is left behind; the bytes stay.
  EXPECT_EQ(STPTransport::getMessageDepth() + t->getTokenStackSize() + STPTransport::getDontDeliver(), 0);
  EXPECT_TRUE(t->dataInWriteBuffer() && t->isBound());
}

// A message read while a send is still being written is deferred, and
// delivered only once the send is done.
TEST(TransportWaits, NothingIsDeliveredWhileASendIsBeingWritten) {
  SocketPair pair;
  TransportRef t;
  ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
  int small = 4096;
  ::setsockopt(pair.mine, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  RecordingListener l;
  std::vector<int> suspendedAtDelivery;
  l.onTaken = [&](STPIMsg *) { suspendedAtDelivery.push_back(STPTransport::getDontDeliver()); };
  t->registerMessageListener(1, 2, &l, STP_TYPE_ASCII);
  pair.writeRaw(packet(5));
  STPAsciiOMsg *m = oneNumber(t.t, STP_FLAG_ASYNC, 1);
  m->putString("pad", std::string(1 << 17, 'p').c_str());
  Pump rh({t.t}, 5000);
  rh.eachRound = [&] { pair.readRaw(0); };  // the peer takes what was written
  TStat st;
  EXPECT_NE(t->sendMessage(m, &rh, &st), 0) << st.message;
  delete m;
  EXPECT_GT(rh.rounds, 0);
  EXPECT_EQ(t->getDeferredCount(), 1);
  EXPECT_TRUE(serviceUntil(t.t, [&] { return !l.seen.empty(); }));
  EXPECT_EQ(suspendedAtDelivery, std::vector<int>{0});
  t->unregisterMessageListener(&l);
}

TEST(TransportWaits, HandlerClosingTheConnectionEndsTheReplyWait) {
  SocketPair pair;
  TransportRef t;
  ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
  RecordingListener closer;
  closer.onTaken = [&](STPIMsg *) { t->closeConnection(nullptr); };
  t->registerMessageListener(1, 2, &closer, STP_TYPE_ASCII);
  STPAsciiOMsg *m = oneNumber(t.t, STP_FLAG_REPLY, 1);
  TStat st;
  int serial = t->sendMessage(m, nullptr, &st);
  delete m;
  ASSERT_NE(serial, 0);
  // Instead of the reply comes a safe one-way message whose handler closes.
  pair.writeRaw(packet(7, 2, STP_FLAG_ASYNC | STP_FLAG_SAFE));
  EXPECT_EQ(t->awaitResponse(serial, nullptr, &st), nullptr);
  expectStat(st, kStatPeerClosed, "[awaitResponse]: connection closed while waiting to receive response");
  EXPECT_EQ(closer.numbers(), (std::vector<int>{7}));
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  t->unregisterMessageListener(&closer);
}

TEST(TransportDepth, NegativeMessageDepthStopsTheProcess) {
  EXPECT_EXIT(STPTransport::decrementStackDepth(), testing::ExitedWithCode(1),
              "fatal: negative message depth!");
}

TEST(TransportUnbind, ClosingForgetsRepliesAndRestartsTheSerials) {
  SocketPair first, second;
  TransportRef t;
  ASSERT_TRUE(t->bindFD(first.mine, nullptr));
  STPAsciiOMsg *m = oneNumber(t.t, STP_FLAG_ASYNC, 1);
  EXPECT_EQ(t->enqueueMessage(m), 2);
  STPAsciiOMsg *request = oneNumber(t.t, STP_FLAG_REPLY, 1);
  EXPECT_EQ(t->sendMessage(request, nullptr, nullptr), 3);
  delete request;
  first.writeRaw(asciiPacket(1, 2, STP_TYPE_REPLY, -1, 5, 3, 0, 9));
  ASSERT_TRUE(serviceUntil(t.t, [&] { return t->getResponseCount() == 1; }));
  t->closeConnection(nullptr);
  EXPECT_EQ(t->getResponseCount(), 0);
  EXPECT_EQ(t->awaitResponse(3, nullptr, nullptr), nullptr);  // ends the request's depth
  EXPECT_FALSE(t->dataInWriteBuffer());
  ASSERT_TRUE(t->bindFD(second.mine, nullptr));
  EXPECT_EQ(t->enqueueMessage(m), 2);  // a new connection starts again at 2
  delete m;
}

TEST(TransportService, BindAndServiceRunsUntilThePeerCloses) {
  SocketPair pair;
  TransportRef t;
  RecordingListener seen;
  t->registerMessageListener(1, 2, &seen, STP_TYPE_ASCII);
  pair.writeRaw(cat({packet(41), packet(42, 3)}));
  pair.closeRaw();
  TStat st;
  EXPECT_FALSE(t->bindAndService(pair.mine, &st));
  expectStat(st, kStatPeerClosed, "[handleRead]: peer has closed connection");
  EXPECT_EQ(seen.numbers(), (std::vector<int>{41, 42}));
  t->unregisterMessageListener(&seen);
}

TEST(TransportService, ServiceFirstWritesAndReadsEveryReadyMember) {
  SocketPair pa, pb;
  TransportRef a, b;
  ASSERT_TRUE(a->bindFD(pa.mine, nullptr));
  ASSERT_TRUE(b->bindFD(pb.mine, nullptr));
  RecordingListener seenB;
  b->registerMessageListener(1, 2, &seenB, STP_TYPE_ASCII);
  STPTransport *set[] = {a.t, b.t};
  TStat st;
  long long before = ut_getTimeMillis64();
  EXPECT_TRUE(STPTransport::serviceFirst(100, set, 2, &st));  // nothing ready
  EXPECT_GE(ut_getTimeMillis64() - before, 90);
  // b has a packet to read, a has one to write: one call does both.
  pb.writeRaw(packet(5));
  STPAsciiOMsg *m = oneNumber(a.t, STP_FLAG_ASYNC, 6);
  ASSERT_NE(a->enqueueMessage(m), 0);
  delete m;
  EXPECT_TRUE(STPTransport::serviceFirst(1000, set, 2, &st)) << st.message;
  EXPECT_FALSE(a->dataInWriteBuffer());
  EXPECT_GE(pa.readRaw().size(), 44u);
  if (seenB.seen.empty()) STPTransport::serviceFirst(1000, set, 2, &st);
  EXPECT_EQ(seenB.numbers(), (std::vector<int>{5}));
  pb.closeRaw();  // a member that fails passes its status on
  EXPECT_FALSE(STPTransport::serviceFirst(1000, set, 2, &st));
  expectStat(st, kStatPeerClosed, "[handleRead]: peer has closed connection");
  EXPECT_TRUE(b->isDead() && a->isBound());
  b->unregisterMessageListener(&seenB);
}

}  // namespace
