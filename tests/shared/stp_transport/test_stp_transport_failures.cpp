// STPTransport failure paths and the less common operations: set-up calls
// refused in the wrong state, socket failures (connect, bind, write, read)
// with their status texts, a packet too big to collect, a send that is never
// written, a wait ended by a handler that closes the connection, the
// negative-depth stop, unbinding, bindAndService, and serviceFirst over
// several transports.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"
#include "stp_transport_testutil.h"

using namespace stptest;

namespace {

STPAsciiOMsg *oneNumber(STPTransport *t, int flags, int n) {
  STPAsciiOMsg *m = t->createAsciiMessage(2, 1, STP_TYPE_ASCII, 0, flags);
  m->putIdent("Msg");
  m->putNumber("n", n);
  return m;
}

TEST(TransportRefusals, SetUpCallsOnABoundTransport) {
  SocketPair pair;
  TransportRef t;
  ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
  TStat st;
  EXPECT_FALSE(t->connect("127.0.0.1", 1, &st));
  EXPECT_EQ(st.code, kStatBadState);
  EXPECT_STREQ(st.message, "[connect]: Already connected");
  EXPECT_FALSE(t->bindFD(0, &st));
  EXPECT_STREQ(st.message, "[bindFD]: Already bound");
  EXPECT_FALSE(t->listen(0, nullptr, &st));
  EXPECT_EQ(st.code, kStatBadState);
  EXPECT_STREQ(st.message, "[listen]: Already connected");
  EXPECT_FALSE(t->startListenOnFD(pair.raw, &st));
  EXPECT_STREQ(st.message, "[startListenOnFD]: Already connected");
  EXPECT_FALSE(t->tryAccept(false, &st));
  EXPECT_EQ(st.code, kStatBadState);
  EXPECT_STREQ(st.message, "[tryAccept]: Already connected");
  // Refusals leave the connection as it was.
  EXPECT_TRUE(t->isBound());
  EXPECT_EQ(t->getFD(), pair.mine);
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 2, 0, 2, 4));
  RecordingListener l;
  t->registerMessageListener(1, 2, &l, STP_TYPE_ASCII);
  t->serviceOnce(200, nullptr);
  EXPECT_EQ(l.numbers(), (std::vector<int>{4}));
  t->unregisterMessageListener(&l);
}

TEST(TransportRefusals, SetUpCallsOnAListeningTransport) {
  TransportRef t;
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, nullptr);
  ASSERT_GE(lfd, 0);
  ASSERT_TRUE(t->startListenOnFD(lfd, nullptr));
  TStat st;
  EXPECT_FALSE(t->listen(0, nullptr, &st));
  EXPECT_EQ(st.code, kStatBadState);
  EXPECT_STREQ(st.message, "[listen]: Already listening as server");
  SocketPair pair;
  EXPECT_FALSE(t->bindFD(pair.mine, &st));
  EXPECT_EQ(st.code, kStatBadState);
  EXPECT_STREQ(st.message, "[bindFD]: Already listening");
  ::close(pair.mine);
  EXPECT_TRUE(t->isListening());
  EXPECT_EQ(t->getFD(), lfd);
  t->closeConnection(nullptr);  // closes the listening socket
}

TEST(TransportSockets, FailedConnectsLeaveTheTransportDead) {
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, nullptr);
  ASSERT_GE(lfd, 0);
  ::close(lfd);  // the port is free again, and nobody listens on it
  struct Case {
    const char *host;
    int port;
    const char *message;
  } cases[] = {{"127.0.0.1", port, "[connectToServer]: connect failed"},
               {"no-such-host.invalid", 1, "[connectToServer]: Unable to resolve host"}};
  for (const Case &c : cases) {
    TransportRef t;
    TStat st;
    EXPECT_FALSE(t->connect(c.host, c.port, &st));
    EXPECT_EQ(st.code, kStatDown);
    EXPECT_STREQ(st.message, c.message);
    EXPECT_TRUE(t->isDead());
  }
}

TEST(TransportSockets, ListeningOnAPortInUseFails) {
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, nullptr);
  ASSERT_GE(lfd, 0);
  TStat st;
  EXPECT_EQ(STPTransport::getListenSocket(port, &st), -1);
  EXPECT_EQ(st.code, kStatDown);
  EXPECT_STREQ(st.message, "[getListenSocket]: Could not bind to port");
  TransportRef t;
  EXPECT_FALSE(t->listen(port, nullptr, &st));
  EXPECT_STREQ(st.message, "[getListenSocket]: Could not bind to port");
  EXPECT_TRUE(t->isDead());
  EXPECT_TRUE(STPTransport::closeListenSocket(lfd, &st));
  EXPECT_TRUE(st.ok());
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
  EXPECT_EQ(st.code, kStatDown);
  EXPECT_STREQ(st.message, "[handleWrite]: write failed, dropping connection");
  EXPECT_TRUE(t->isDead());
  EXPECT_FALSE(t->dataInWriteBuffer());  // unbinding dropped the pending bytes
}

TEST(TransportSockets, ResetConnectionIsAReadFailure) {
  int port = 0;
  int lfd = STPTransport::getListenSocket(&port, nullptr);
  ASSERT_GE(lfd, 0);
  TransportRef t;
  ASSERT_TRUE(t->connect("127.0.0.1", port, nullptr));
  int raw = -1;
  for (int i = 0; i < 100 && raw < 0; ++i) {
    raw = STPTransport::acceptClient(lfd, false, nullptr);
    if (raw < 0) ::usleep(10000);
  }
  ::close(lfd);
  ASSERT_GE(raw, 0);
  // Closing with a zero linger time sends a reset instead of an orderly end.
  struct linger hard = {1, 0};
  ASSERT_EQ(::setsockopt(raw, SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
  ::close(raw);
  TStat st;
  for (int i = 0; i < 50 && !t->isDead(); ++i) t->serviceOnce(100, &st);
  EXPECT_TRUE(t->isDead());
  EXPECT_EQ(st.code, kStatDown);
  EXPECT_STREQ(st.message, "[handleRead]: read failed, closing connection");
}

// A body length that no int-sized read buffer could collect is refused at
// once; a large but possible one waits for its bytes.
TEST(TransportSockets, PacketTooBigForAnyReadBufferIsRefused) {
  {
    SocketPair pair;
    TransportRef t;
    ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
    pair.writeRaw(rawHeader(44, 40 << 20, 64));
    t->serviceOnce(200, nullptr);
    EXPECT_TRUE(t->isBound());
    EXPECT_TRUE(t->getStat().ok());
  }
  SocketPair pair;
  TransportRef t;
  ASSERT_TRUE(t->bindFD(pair.mine, nullptr));
  pair.writeRaw(rawHeader(44, 0x7ffffff0, 64));
  t->serviceOnce(200, nullptr);
  EXPECT_TRUE(t->isDead());
  EXPECT_EQ(t->getStat().code, kStatDown);
  EXPECT_STREQ(t->getStat().message, "[handleRead]: remote host sent invalid packet");
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
  EXPECT_EQ(st.code, kStatTimedOut);
  EXPECT_STREQ(st.message, "[sendMessage]: reached timeout while waiting to send message");
  // The failed request leaves no depth, token or suspended delivery behind,
  // and its bytes stay queued for later.
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  EXPECT_EQ(t->getTokenStackSize(), 0);
  EXPECT_EQ(STPTransport::getDontDeliver(), 0);
  EXPECT_TRUE(t->dataInWriteBuffer());
  EXPECT_TRUE(t->isBound());
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
  // Instead of the reply, the peer sends a safe one-way message whose
  // handler closes the connection.
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 2, 0, STP_FLAG_ASYNC | STP_FLAG_SAFE, 7));
  EXPECT_EQ(t->awaitResponse(serial, nullptr, &st), nullptr);
  EXPECT_EQ(st.code, kStatPeerClosed);
  EXPECT_STREQ(st.message, "[awaitResponse]: connection closed while waiting to receive response");
  EXPECT_EQ(closer.numbers(), (std::vector<int>{7}));
  EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  t->unregisterMessageListener(&closer);
}

TEST(TransportDepth, NegativeMessageDepthStopsTheProcess) {
  EXPECT_EXIT(STPTransport::decrementStackDepth(), testing::ExitedWithCode(1),
              "fatal: negative message depth!");
}

TEST(TransportUnbind, ClosingForgetsRepliesAndRestartsTheSerials) {
  SocketPair first;
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
  SocketPair second;
  ASSERT_TRUE(t->bindFD(second.mine, nullptr));
  EXPECT_EQ(t->enqueueMessage(m), 2);  // a new connection starts again at 2
  delete m;
}

TEST(TransportService, BindAndServiceRunsUntilThePeerCloses) {
  SocketPair pair;
  TransportRef t;
  RecordingListener seen;
  t->registerMessageListener(1, 2, &seen, STP_TYPE_ASCII);
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 2, 0, STP_FLAG_ASYNC, 41));
  pair.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 3, 0, STP_FLAG_ASYNC, 42));
  pair.closeRaw();
  TStat st;
  EXPECT_FALSE(t->bindAndService(pair.mine, &st));
  EXPECT_EQ(st.code, kStatPeerClosed);
  EXPECT_STREQ(st.message, "[handleRead]: peer has closed connection");
  EXPECT_EQ(seen.numbers(), (std::vector<int>{41, 42}));
  EXPECT_TRUE(t->isDead());
  t->unregisterMessageListener(&seen);
}

TEST(TransportService, ServiceFirstWritesAndReadsEveryReadyMember) {
  SocketPair pa, pb;
  TransportRef a, b;
  ASSERT_TRUE(a->bindFD(pa.mine, nullptr));
  ASSERT_TRUE(b->bindFD(pb.mine, nullptr));
  RecordingListener seenA, seenB;
  a->registerMessageListener(1, 2, &seenA, STP_TYPE_ASCII);
  b->registerMessageListener(1, 2, &seenB, STP_TYPE_ASCII);
  STPTransport *set[] = {a.t, b.t};

  // Nothing ready: the wait ends after its timeout without an error.
  TStat st;
  long long before = ut_getTimeMillis64();
  EXPECT_TRUE(STPTransport::serviceFirst(100, set, 2, &st));
  EXPECT_GE(ut_getTimeMillis64() - before, 90);
  EXPECT_TRUE(st.ok());

  // b has a packet to read, a has one to write: one call does both.
  pb.writeRaw(asciiPacket(1, 2, STP_TYPE_ASCII, 0, 2, 0, STP_FLAG_ASYNC, 5));
  STPAsciiOMsg *m = oneNumber(a.t, STP_FLAG_ASYNC, 6);
  ASSERT_NE(a->enqueueMessage(m), 0);
  delete m;
  EXPECT_TRUE(STPTransport::serviceFirst(1000, set, 2, &st)) << st.message;
  EXPECT_FALSE(a->dataInWriteBuffer());
  std::vector<uint8_t> written = pa.readRaw();
  ASSERT_GE(written.size(), 44u);
  EXPECT_EQ(written.size() % 4, 0u);
  if (seenB.seen.empty()) STPTransport::serviceFirst(1000, set, 2, &st);
  EXPECT_EQ(seenB.numbers(), (std::vector<int>{5}));
  EXPECT_TRUE(seenA.seen.empty());

  // A member that fails passes its status on.
  pb.closeRaw();
  EXPECT_FALSE(STPTransport::serviceFirst(1000, set, 2, &st));
  EXPECT_EQ(st.code, kStatPeerClosed);
  EXPECT_STREQ(st.message, "[handleRead]: peer has closed connection");
  EXPECT_TRUE(b->isDead());
  EXPECT_TRUE(a->isBound());
  a->unregisterMessageListener(&seenA);
  b->unregisterMessageListener(&seenB);
}

}  // namespace
