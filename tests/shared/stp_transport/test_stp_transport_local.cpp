// STPTransport in one process: a transport bound to one end of a socket pair
// and the test writing raw bytes on the other. Framing across reads, header
// checks, serials and tokens, the delivery rules and deferral, set-up calls
// refused in the wrong state, socket failures and bounded waits.
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

using Ints = std::vector<int>;

STPAsciiOMsg *oneNumber(STPTransport *t, int flags, int n, size_t pad = 0) {
  STPAsciiOMsg *m = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, flags);
  m->putIdent("Msg");
  m->putNumber("n", n);
  if (pad) m->putString("pad", std::string(pad, 'p').c_str());
  return m;
}

Bytes packet(int n, int serial = 2, int flags = STP_FLAG_ASYNC) {
  return asciiPacket(1, 2, STP_TYPE_ASCII, 0, serial, 0, flags, n);
}
Bytes reply(int serial, int replyTo, int n) { return asciiPacket(1, 2, STP_TYPE_REPLY, -1, serial, replyTo, 0, n); }

class TransportLocal : public ::testing::Test {
 protected:
  SocketPair pair;
  TransportRef t;
  RecordingListener listener;
  TStat st;

  void SetUp() override {
    ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
    t->registerMessageListener(1, 2, &listener, STP_TYPE_ASCII);
  }
  void TearDown() override {
    t->unregisterMessageListener(&listener);
    EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  }
  void readOnce() { t->serviceOnce(200, nullptr); }
  void smallSendBuffer() {
    int small = 4096;
    ::setsockopt(pair.mine, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  }
};

// Packets are cut at their lengths whatever the reads: two in one read, one
// read ending five bytes into the next packet, and one byte per read.
TEST_F(TransportLocal, FramingAcrossReads) {
  Bytes bytes = cat({packet(11), packet(22, 3), packet(1, 4), packet(2, 5)});
  size_t firstTwo = 2 * packet(11).size(), cuts[] = {0, firstTwo, bytes.size() - 5, bytes.size()};
  Ints want[] = {{11, 22}, {11, 22, 1}, {11, 22, 1, 2}};
  for (int i = 0; i < 3; ++i) {
    pair.writeRaw(bytes, cuts[i], cuts[i + 1] - cuts[i]);
    t->handleRead(nullptr);
    EXPECT_EQ(listener.numbers(), want[i]);
  }
  Bytes one = packet(33, 6);
  for (size_t i = 0; i < one.size(); ++i) {
    pair.writeRaw(one, i, 1);
    t->handleRead(nullptr);
    ASSERT_EQ(listener.seen.size(), i + 1 < one.size() ? 4u : 5u) << "after byte " << i;
  }
  EXPECT_EQ(listener.seen[4].serial, 6);
  EXPECT_TRUE(listener.seen[4].flag);  // single listener, not an awaited reply
  EXPECT_EQ(t->getReadBufferUsed(), 0);
  // A longer header than ours has its extra word skipped.
  Bytes full = packet(5, 7);
  pair.writeRaw(cat({le(48), Bytes(full.begin() + 4, full.begin() + 44), le(0xDDCCBBAA),
                     Bytes(full.begin() + 44, full.end())}));
  readOnce();
  EXPECT_EQ(listener.seen.back().serial * 100 + listener.seen.back().n, 705);
  EXPECT_TRUE(t->getStat().ok());
}

// Each invalid header (and a body no int-sized buffer could collect) closes
// the connection; a large but possible body waits for its bytes.
TEST(TransportHeaders, InvalidHeadersCloseTheConnection) {
  const struct {
    int hl, bl;
    bool closes;
  } cases[] = {{20, 0, true},  {30, 0, true},           {132, 0, true},         {46, 0, true},
               {44, -4, true}, {0, 0, true}, {44, 0x7ffffff0, true}, {44, 40 << 20, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.hl << "/" << c.bl);
    SocketPair p;
    TransportRef tr;
    ASSERT_TRUE(tr->bindFD(p.mine, nullptr));
    p.writeRaw(rawHeader(c.hl, c.bl, 64));
    tr->serviceOnce(200, nullptr);
    EXPECT_EQ(tr->isDead(), c.closes);
    if (!c.closes) continue;
    EXPECT_EQ(statText(tr->getStat()), "1 [handleRead]: remote host sent invalid packet");
    char byte;
    EXPECT_EQ(::read(p.raw, &byte, 1), 0);  // the peer sees the close
  }
}

// The peer dies half way through the reply a caller waits for.
TEST_F(TransportLocal, PeerClosingMidPacketEndsTheReplyWait) {
  std::unique_ptr<STPAsciiOMsg> m(oneNumber(t.t, STP_FLAG_REPLY, 1));
  int serial = t->sendMessage(m.get(), nullptr, &st);
  ASSERT_NE(serial, 0);
  pair.readRaw();  // taken, so the close below is not a reset
  Bytes a = reply(2, serial, 9);
  pair.writeRaw(a, 0, a.size() / 2);
  t->handleRead(nullptr);
  pair.closeRaw();
  TimeoutSTPRetryHandler rh(t.t, 5000);
  EXPECT_EQ(t->awaitResponse(serial, &rh, &st), nullptr);
  EXPECT_EQ(st.code, kStatPeerClosed);
  EXPECT_TRUE(t->isDead() && t->getResponseCount() == 0);
  EXPECT_EQ(statText(t->getStat()), "5 [handleRead]: peer has closed connection");
  EXPECT_FALSE(t->serviceOnce(5000, &st));  // later rounds fail at once instead of waiting
  EXPECT_EQ(statText(st), "1 [serviceOnce]: not bound and not listening.");
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
  EXPECT_EQ(statText(t->getStat()), "3 [enqueueMessage]: invalid message header");
  EXPECT_EQ(t->getWriteBufferUsed(), 0);

  t->setDefaultToken(7);
  std::unique_ptr<STPAsciiOMsg> req(t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, 1));
  // With an empty stack the transaction is numbered after the next serial.
  EXPECT_EQ(static_cast<uint32_t>(req->token), (7u << 16) | 4u);
  EXPECT_EQ(req->depth, 1);
  t->pushToken((3 << 16) | 9, 4, 64);
  std::unique_ptr<STPAsciiOMsg> r(t->createAsciiReply(2, 1, 5, 0));
  EXPECT_EQ(Ints({r->token, r->depth, r->type + r->id, r->replyTo}), Ints({(3 << 16) | 9, 4, -2, 5}));
  std::unique_ptr<STPAsciiOMsg> nested(t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, 1));
  EXPECT_EQ(nested->depth, 5);
  t->popToken();
}

// The router's packet size limit: a packet exactly at it goes, one a word
// over it is refused with nothing queued and no serial spent.
TEST_F(TransportLocal, PacketsOverTheRouterLimitAreRefused) {
  for (int serial : {0, 2}) {
    int body = kSTPMaxPacketBytes - kSTPHeaderLength - (serial ? 7 : 3);  // raw bytes after the header
    STPAsciiOMsg m(2, 1, STP_TYPE_ASCII, 0, 0, 2, 0, 1);
    m.putRawString(std::string(static_cast<size_t>(body), 'b').c_str(), body);
    EXPECT_EQ(t->enqueueMessage(&m), serial);
    EXPECT_EQ(t->getWriteBufferUsed(), serial ? kSTPMaxPacketBytes : 0);
    if (!serial) {
      EXPECT_EQ(statText(t->getStat()), "3 [enqueueMessage]: packet larger than the router accepts");
    }
  }
}

// A wait for a reply times out without closing. A reply is kept from the
// moment its request is sent (it may come before anyone waits) until the
// wait for it ends; a reply to a serial nobody asked about, and a late one
// (after a time-out or a duplicate), are dropped, so they cannot pile up.
TEST_F(TransportLocal, AwaitResponse) {
  TimeoutSTPRetryHandler rh(t.t, 100);
  for (bool replied : {false, true}) {
    std::unique_ptr<STPAsciiOMsg> request(t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, STP_FLAG_REPLY));
    int serial = t->sendMessage(request.get(), nullptr, &st);
    ASSERT_NE(serial, 0) << st.message;
    if (replied) pair.writeRaw(reply(2, serial, 77));
    pair.writeRaw(reply(3, serial + 100, 78));  // unasked
    readOnce();
    EXPECT_EQ(t->getResponseCount(), replied ? 1 : 0);
    std::unique_ptr<STPIMsg> got(t->awaitResponse(serial, &rh, &st));
    EXPECT_EQ(got ? numberOf(got.get()) : -1, replied ? 77 : -1);
    EXPECT_EQ(t->getTokenStackSize() + t->getResponseCount(), 0);
    EXPECT_EQ(statText(st), replied ? "0 " : "7 [awaitResponse]: reached timeout while waiting to receive response");
    pair.writeRaw(reply(4, serial, 79));  // late
    readOnce();
    EXPECT_EQ(t->getResponseCount() + t->getUnclaimedCount(), 0);
  }
  EXPECT_TRUE(t->isBound());
}

TEST_F(TransportLocal, UnclaimedNoopSyncAndUnknownTypes) {
  for (int type : {STP_TYPE_NOOP, STP_TYPE_SYNC, STP_TYPE_CHANNEL}) pair.writeRaw(asciiPacket(1, 2, type, 1, 2, 0, 0, 0));
  pair.writeRaw(asciiPacket(1, 3, STP_TYPE_ENDPOINT, 1, 2, 0, 2, 12));
  pair.writeRaw(packet(3));
  readOnce();
  EXPECT_EQ(listener.numbers(), Ints{3});
  EXPECT_EQ(t->getUnclaimedCount(), 1);  // only the endpoint packet is kept
  RecordingListener late;
  t->registerMessageListener(1, 3, &late, STP_TYPE_ENDPOINT);
  EXPECT_FALSE(t->dequeueAndDeliverMessage(1, 3, STP_TYPE_ASCII));
  EXPECT_TRUE(t->dequeueAndDeliverMessage(1, 3, STP_TYPE_ENDPOINT));
  EXPECT_EQ(late.numbers(), Ints{12});
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

// An answer queued while a packet is delivered leaves with the read pass that
// delivered it, not only when a later wait finds the socket writable.
TEST_F(TransportLocal, AnswersQueuedDuringAReadLeaveWithThatRead) {
  listener.onTaken = [&](STPIMsg *) {
    std::unique_ptr<STPAsciiOMsg> answer(oneNumber(t.t, STP_FLAG_ASYNC, 9));
    t->enqueueMessage(answer.get());
  };
  pair.writeRaw(packet(8));
  ASSERT_TRUE(t->handleRead(nullptr));
  EXPECT_FALSE(t->dataInWriteBuffer());
  EXPECT_FALSE(pair.readRaw(0).empty());
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
  std::unique_ptr<STPAsciiOMsg> request(t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, STP_FLAG_REPLY));
  int serial = t->sendMessage(request.get(), nullptr, nullptr);
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
}

// A strict wait (request flag ONLY_SAFE) defers even messages no table marks
// as transaction-only; they are delivered, in order, after the reply.
TEST_F(TransportLocal, StrictWaitDefersUnmarkedMessagesUntilTheReply) {
  std::unique_ptr<STPAsciiOMsg> m(oneNumber(t.t, STP_FLAG_REPLY | STP_FLAG_ONLY_SAFE, 1));
  int serial = t->sendMessage(m.get(), nullptr, &st);
  ASSERT_NE(serial, 0);
  Pump rh({t.t}, 3000);
  rh.onIdle = [&] { pair.writeRaw(cat({packet(1), packet(2, 3), reply(4, serial, 77)})); };
  std::unique_ptr<STPIMsg> got(t->awaitResponse(serial, &rh, &st));
  EXPECT_EQ(got ? numberOf(got.get()) : -1, 77);
  EXPECT_EQ(t->getDeferredCount() * 10 + STPTransport::getTransactionOnlyCount(), 20);
  EXPECT_TRUE(listener.seen.empty() && t->wantsToDequeueAndDispatch());
  t->handleDequeueAndDispatch(nullptr);
  EXPECT_EQ(listener.numbers(), Ints({1, 2}));
}

// The read buffer grows to hold a big packet and goes back to its initial
// size once it was read; a stacker raises the depth while it lives.
TEST(TransportBuffers, GrowForBigPacketsAndShrinkAfterwards) {
  SocketPair in;
  TransportRef r(256);
  ASSERT_TRUE(r->bindFD(in.mine, nullptr));
  RecordingListener l;
  r->registerMessageListener(1, 2, &l, STP_TYPE_ASCII);
  STPAsciiOMsg big(1, 2, STP_TYPE_ASCII, 0, 0, 2, 0, 1);
  big.putNumber("n", 5);
  big.putString("s", std::string(20000, 'y').c_str());
  big.finishMessage(2);
  in.writeRaw(packetBytes(big));
  EXPECT_TRUE(serviceUntil(r.t, [&] { return !l.seen.empty(); }));
  EXPECT_EQ(l.numbers(), Ints{5});
  EXPECT_EQ(r->getReadBufferCapacity(), 256);  // it grew past 10x, so it shrank
  r->unregisterMessageListener(&l);
  {
    STPTransportStacker s(r.t), any(nullptr);
    EXPECT_EQ(STPTransport::getMessageDepth(), 2);
  }
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
}

// Set-up calls refused in the wrong state leave the connection as it was.
TEST(TransportRefusals, WrongStateCallsAreRefused) {
  using Call = std::function<bool(STPTransport *, int fd, TStat *)>;
  enum State { kIdle, kBound, kListening };
  const Call connect = [](STPTransport *t, int, TStat *s) { return t->connect("127.0.0.1", 1, s); },
             bind = [](STPTransport *t, int fd, TStat *s) { return t->bindFD(fd, s); },
             listen = [](STPTransport *t, int, TStat *s) { return t->listen(0, nullptr, s); },
             listenOn = [](STPTransport *t, int fd, TStat *s) { return t->startListenOnFD(fd, s); },
             accept = [](STPTransport *t, int, TStat *s) { return t->tryAccept(true, s); };
  const struct {
    State state;
    Call call;
    const char *stat;
  } cases[] = {
      {kBound, connect, "3 [connect]: Already connected"},
      {kBound, bind, "3 [bindFD]: Already bound"},
      {kBound, listen, "3 [listen]: Already connected"},
      {kBound, listenOn, "3 [startListenOnFD]: Already connected"},
      {kBound, accept, "3 [tryAccept]: Already connected"},
      {kListening, listen, "3 [listen]: Already listening as server"},
      {kListening, bind, "3 [bindFD]: Already listening"},
      {kListening, listenOn, "3 [startListenOnFD]: Already listening as server"},
      {kListening, connect, "3 [connect]: Already listening as server"},
      {kIdle, [](STPTransport *t, int, TStat *s) { return t->serviceOnce(0, s); }, "1 [serviceOnce]: not bound and not listening."},
      {kIdle, accept, "3 [tryAccept]: Not listening as server"},
      {kIdle, [](STPTransport *t, int, TStat *s) { return STPTransport::serviceFirst(0, &t, 1, s); },
       "1 [serviceFirst]: not bound and not listening."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.stat);
    SocketPair pair;
    TransportRef t;
    int lfd = -1, port = 0;
    if (c.state == kBound) {
      ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
    } else if (c.state == kListening) {
      ASSERT_GE(lfd = STPTransport::getListenSocket(&port, nullptr), 0);
      ASSERT_TRUE(t->startListenOnFD(lfd, nullptr));
    }
    TStat st;
    EXPECT_FALSE(c.call(t.t, c.state == kBound ? pair.raw : pair.mine, &st));
    EXPECT_EQ(statText(st), c.stat);
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
  EXPECT_EQ(statText(st), "7 [listenOnFD]: timed out waiting for client");
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
  EXPECT_EQ(statText(st), "1 [getListenSocket]: Could not bind to port");
  TransportRef t;
  EXPECT_FALSE(t->listen(port, nullptr, &st));
  EXPECT_EQ(statText(st), "1 [getListenSocket]: Could not bind to port");
  EXPECT_TRUE(STPTransport::closeListenSocket(lfd, &st));  // now nobody listens there
  EXPECT_FALSE(t->connect("127.0.0.1", port, &st));
  EXPECT_EQ(statText(st), "1 [connectToServer]: connect failed");
  EXPECT_FALSE(t->connect("no-such-host.invalid", 1, &st));
  EXPECT_EQ(statText(st), "1 [connectToServer]: Unable to resolve host");
  EXPECT_TRUE(t->isDead());
}

TEST_F(TransportLocal, WriteToAVanishedPeerDropsTheConnection) {
  pair.closeRaw();
  std::unique_ptr<STPAsciiOMsg> m(oneNumber(t.t, STP_FLAG_ASYNC, 1));
  ASSERT_NE(t->enqueueMessage(m.get()), 0);
  EXPECT_FALSE(t->handleWrite(&st));
  EXPECT_EQ(statText(st), "1 [handleWrite]: write failed, dropping connection");
  EXPECT_TRUE(t->isDead() && !t->dataInWriteBuffer());
}

TEST(TransportSockets, ResetConnectionIsAReadFailure) {
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, nullptr);
  ASSERT_GE(lfd, 0);
  TransportRef t;
  ASSERT_TRUE(t->connect("127.0.0.1", port, nullptr));
  int raw = -1;
  for (int i = 0; i < 100 && raw < 0; ++i, ::usleep(10000)) raw = STPTransport::acceptClient(lfd, false, nullptr);
  ::close(lfd);
  ASSERT_GE(raw, 0);
  struct linger hard = {1, 0};  // a zero linger time sends a reset
  ASSERT_EQ(::setsockopt(raw, SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
  ::close(raw);
  TStat st;
  for (int i = 0; i < 50 && !t->isDead(); ++i) t->serviceOnce(100, &st);
  EXPECT_EQ(statText(st), "1 [handleRead]: read failed, closing connection");
}

TEST_F(TransportLocal, SendThatIsNeverWrittenTimesOut) {
  smallSendBuffer();  // and the raw end never reads
  std::unique_ptr<STPAsciiOMsg> m(oneNumber(t.t, STP_FLAG_REPLY, 1, 1 << 20));
  TimeoutSTPRetryHandler rh(t.t, 100);
  EXPECT_EQ(t->sendMessage(m.get(), &rh, &st), 0);
  EXPECT_EQ(statText(st), "7 [sendMessage]: reached timeout while waiting to send message");
  // No depth, token or suspended delivery is left behind; the bytes stay.
  EXPECT_EQ(STPTransport::getMessageDepth() + t->getTokenStackSize() + STPTransport::getDontDeliver(), 0);
  EXPECT_TRUE(t->dataInWriteBuffer() && t->isBound());
}

// A big send goes out in partial writes over later rounds and arrives
// whole. A message read while it is still being written is deferred, and
// delivered only once the send is done.
TEST_F(TransportLocal, PartialWritesAndNothingIsDeliveredWhileASendIsBeingWritten) {
  smallSendBuffer();
  Ints suspendedAtDelivery;
  listener.onTaken = [&](STPIMsg *) { suspendedAtDelivery.push_back(STPTransport::getDontDeliver()); };
  pair.writeRaw(packet(5));
  std::unique_ptr<STPAsciiOMsg> m(oneNumber(t.t, STP_FLAG_ASYNC, 1, 1 << 17));
  Pump rh({t.t}, 5000);
  Bytes got;
  auto take = [&](int ms) {
    Bytes b = pair.readRaw(ms);
    got.insert(got.end(), b.begin(), b.end());
  };
  rh.eachRound = [&] { take(0); };  // the peer takes what was written
  EXPECT_NE(t->sendMessage(m.get(), &rh, &st), 0) << st.message;
  EXPECT_GT(rh.rounds, 1);
  take(200);
  EXPECT_TRUE(got == packetBytes(*m)) << got.size();
  EXPECT_EQ(t->getWriteBufferCapacity(), t->getInitialBufferSize());
  EXPECT_EQ(t->getDeferredCount(), 1);
  EXPECT_TRUE(serviceUntil(t.t, [&] { return !listener.seen.empty(); }));
  EXPECT_EQ(suspendedAtDelivery, Ints{0});
}

TEST_F(TransportLocal, HandlerClosingTheConnectionEndsTheReplyWait) {
  listener.onTaken = [&](STPIMsg *) { t->closeConnection(nullptr); };
  std::unique_ptr<STPAsciiOMsg> m(oneNumber(t.t, STP_FLAG_REPLY, 1));
  int serial = t->sendMessage(m.get(), nullptr, &st);
  ASSERT_NE(serial, 0);
  // Instead of the reply comes a safe one-way message whose handler closes.
  pair.writeRaw(packet(7, 2, STP_FLAG_ASYNC | STP_FLAG_SAFE));
  EXPECT_EQ(t->awaitResponse(serial, nullptr, &st), nullptr);
  EXPECT_EQ(statText(st), "5 [awaitResponse]: connection closed while waiting to receive response");
  EXPECT_EQ(listener.numbers(), Ints{7});
}

TEST(TransportDepth, StackerWithoutTransportsAndNegativeDepth) {
  if (STPTransportStacker::getTransportCount() == 0) {
    STPTransportStacker none(nullptr);
    EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  }
  EXPECT_EXIT(STPTransport::decrementStackDepth(), testing::ExitedWithCode(1), "fatal: negative message depth!");
}

TEST_F(TransportLocal, ClosingForgetsRepliesAndRestartsTheSerials) {
  std::unique_ptr<STPAsciiOMsg> m(oneNumber(t.t, STP_FLAG_ASYNC, 1)), request(oneNumber(t.t, STP_FLAG_REPLY, 1));
  EXPECT_EQ(t->enqueueMessage(m.get()), 2);
  EXPECT_EQ(t->sendMessage(request.get(), nullptr, nullptr), 3);
  pair.writeRaw(reply(5, 3, 9));
  ASSERT_TRUE(serviceUntil(t.t, [&] { return t->getResponseCount() == 1; }));
  t->closeConnection(nullptr);
  EXPECT_EQ(t->getResponseCount(), 0);
  EXPECT_EQ(t->awaitResponse(3, nullptr, nullptr), nullptr);  // ends the request's depth
  EXPECT_FALSE(t->dataInWriteBuffer());
  SocketPair second;
  ASSERT_TRUE(t->bindFD(second.mine, nullptr));
  EXPECT_EQ(t->enqueueMessage(m.get()), 2);  // a new connection starts again at 2
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
  EXPECT_EQ(statText(st), "5 [handleRead]: peer has closed connection");
  EXPECT_EQ(seen.numbers(), Ints({41, 42}));
  t->unregisterMessageListener(&seen);
}

}  // namespace
