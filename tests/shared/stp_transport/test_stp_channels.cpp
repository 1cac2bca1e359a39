// Loopback pairs and host-side loopback with cookies, forwarding, virtual
// channels and sync packets. In-process tests play the peer by queueing raw
// control packets on the other side of a loopback pair; one test runs the
// whole handshake between two processes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_channels.h"
#include "stp_test_pump.h"

using spectest::PumpHandler;

namespace {

// Queues a bodyless packet (channel control, sync) on t.
void queueRaw(STPTransport *t, int src, int dst, int type, int id) {
  STPAsciiOMsg *m = t->createAsciiMessage(src, dst, type, id, 0);
  ASSERT_NE(t->enqueueMessage(m), 0);
  delete m;
}

// The pending bytes of a transport's write buffer.
std::vector<char> pendingBytes(STPTransport *t) {
  int *start, *used, *cap;
  char **data;
  t->getBufferInfo(&start, &used, &cap, &data);
  return std::vector<char>(*data + *start, *data + *start + *used);
}

uint32_t wordAt(const std::vector<char> &v, size_t word) {
  uint32_t w = 0;
  for (int i = 3; i >= 0; --i) w = (w << 8) | static_cast<unsigned char>(v[word * 4 + i]);
  return w;
}

struct Collect : ResponseListener {
  std::vector<int> ids;
  bool handleResponse(STPIMsg *msg, bool) override {
    ids.push_back(msg->id);
    return true;
  }
};

struct Loopback : ::testing::Test {
  STPTransport *a = nullptr;
  STPTransport *b = nullptr;
  void SetUp() override { ASSERT_TRUE(STPTransport::createLoopbackPair(&a, &b)); }
  void TearDown() override {
    a->delRef();
    b->delRef();
  }
};

TEST_F(Loopback, MessageIsReadByThePeerWithoutASocket) {
  Collect got;
  b->registerMessageListener(1, 2, &got, STP_TYPE_ASCII);
  EXPECT_TRUE(a->isBound() && a->isLoopbackMode() && a->getFD() == -1);
  STPAsciiOMsg *m = a->createAsciiMessage(1, 2, STP_TYPE_ASCII, 5, STP_FLAG_ASYNC);
  ASSERT_NE(a->enqueueMessage(m), 0);
  delete m;
  EXPECT_FALSE(a->wantsToWrite());
  EXPECT_TRUE(b->wantsToRead());
  TStat st;
  ASSERT_TRUE(b->handleRead(&st)) << st.message;
  EXPECT_EQ(got.ids, std::vector<int>{5});
  EXPECT_EQ(a->getWriteBufferUsed(), 0);
  EXPECT_FALSE(b->wantsToRead());
  b->unregisterMessageListener(&got);
}

// A host outside the transport (a shared-object service) with its own
// write buffer, told through a notification function when data waits.
struct Host {
  int start = 0, used = 0, capacity = 256;
  char *data = static_cast<char *>(calloc(256, 1));
  ~Host() { free(data); }
};
int gNotifiedCookie = 0;
bool recordNotify(int cookie) {
  gNotifiedCookie = cookie;
  return true;
}

TEST(LoopbackHost, NotificationCookiesAndTheHandleReadFunction) {
  Host host;
  STPTransport *t = new STPTransport(32768);
  STPTransport::initializeLoopbackSide(t, &host.start, &host.used, &host.capacity, &host.data,
                                       &recordNotify, 77);
  Collect got;
  t->registerMessageListener(2, 1, &got, STP_TYPE_ASCII);
  // A send counts as done once the host was told.
  STPAsciiOMsg *m = t->createAsciiMessage(1, 2, STP_TYPE_ASCII, 3, STP_FLAG_ASYNC);
  TStat st;
  EXPECT_NE(t->sendMessage(m, nullptr, &st), 0) << st.message;
  delete m;
  EXPECT_EQ(gNotifiedCookie, 77);
  EXPECT_EQ(pendingBytes(t).size(), 48u);  // header, closing word

  // The host queues a packet and calls the function it was given.
  STPAsciiOMsg reply(2, 1, STP_TYPE_ASCII, 4, 0, STP_FLAG_ASYNC, 0, 1);
  reply.finishMessage(2);
  int hl = 0, bl = 0;
  const unsigned char *bytes = reply.getContent(&hl, &bl);
  memcpy(host.data, bytes, hl + bl);
  host.used = hl + bl;
  STPHandleReadFunc fn = nullptr;
  int cookie = 0;
  ASSERT_TRUE(t->getHandleReadInfo(&fn, &cookie));
  EXPECT_EQ(STPTransport::getTransportForHandleReadCookie(cookie), t);
  EXPECT_TRUE(fn(cookie));
  EXPECT_EQ(got.ids, std::vector<int>{4});
  EXPECT_EQ(host.used, 0);
  t->unregisterMessageListener(&got);
  // The lookup above was cached; deleting the transport must clear it.
  t->delRef();
  EXPECT_EQ(STPTransport::getTransportForHandleReadCookie(cookie), nullptr);
  EXPECT_FALSE(fn(cookie));
}

TEST(TransportCookies, LookupsAlternateAndSurviveDeletion) {
  STPTransport *x = new STPTransport(32768);
  STPTransport *y = new STPTransport(32768);
  EXPECT_NE(x->getCookie(), y->getCookie());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(STPTransport::getTransportForHandleReadCookie(x->getCookie()), x);
    EXPECT_EQ(STPTransport::getTransportForHandleReadCookie(y->getCookie()), y);
  }
  int yc = y->getCookie();
  y->delRef();
  EXPECT_EQ(STPTransport::getTransportForHandleReadCookie(yc), nullptr);
  EXPECT_EQ(STPTransport::getTransportForHandleReadCookie(x->getCookie()), x);
  x->delRef();
}

struct ForwardTo : ForwardingHandler {
  STPTransport *to;
  explicit ForwardTo(STPTransport *t) : to(t) {}
  STPTransport *getForwardingTransport(int destRN) override { return destRN == 7 ? to : nullptr; }
};

TEST_F(Loopback, ForwardedPacketLeavesUnchangedAndIsNotDeliveredHere) {
  STPTransport *c = nullptr, *d = nullptr;
  ASSERT_TRUE(STPTransport::createLoopbackPair(&c, &d));
  ForwardTo fw(c);
  b->setForwardingHandler(&fw);
  Collect here, there;
  b->registerMessageListener(1, 7, &here, STP_TYPE_ASCII);
  b->registerMessageListener(1, 3, &here, STP_TYPE_ASCII);
  d->registerMessageListener(1, 7, &there, STP_TYPE_ASCII);

  STPAsciiOMsg *m = a->createAsciiMessage(1, 7, STP_TYPE_ASCII, 11, STP_FLAG_ASYNC);
  m->putString("odd", "abc");  // a body whose length is not a multiple of 4
  ASSERT_NE(a->enqueueMessage(m), 0);
  delete m;
  std::vector<char> sent = pendingBytes(a);
  m = a->createAsciiMessage(1, 3, STP_TYPE_ASCII, 12, STP_FLAG_ASYNC);
  ASSERT_NE(a->enqueueMessage(m), 0);
  delete m;

  ASSERT_TRUE(b->handleRead(nullptr));
  EXPECT_EQ(here.ids, std::vector<int>{12});
  EXPECT_EQ(pendingBytes(c), sent);
  ASSERT_TRUE(d->handleRead(nullptr));
  EXPECT_EQ(there.ids, std::vector<int>{11});
  b->setForwardingHandler(nullptr);
  b->unregisterMessageListener(&here);
  d->unregisterMessageListener(&there);
  c->delRef();
  d->delRef();
}

TEST_F(Loopback, ChannelHandshakeWithAPeerThatCreatedFirst) {
  queueRaw(b, 2, 1, STP_TYPE_CHANNEL, 1);  // the peer's create
  ASSERT_TRUE(a->handleRead(nullptr));
  PumpHandler rh({b, a});
  TStat st;
  STPChannel *ch = a->createChannel(1, 2, &rh, &st);
  ASSERT_NE(ch, nullptr) << st.message;
  EXPECT_TRUE(ch->wasCreateSent() && ch->wasCreateReceived());
  EXPECT_EQ(a->createChannel(1, 2, &rh, &st), nullptr);
  EXPECT_EQ(st.code, 3);
  EXPECT_STREQ(st.message, "[createChannel]: Tried to create channel that exists");

  queueRaw(b, 2, 1, STP_TYPE_CHANNEL, 2);  // the peer's start
  EXPECT_TRUE(ch->startChannel(&rh, &st)) << st.message;
  EXPECT_TRUE(ch->isChannelStarted());
  EXPECT_FALSE(ch->startChannel(&rh, &st));
  EXPECT_EQ(st.code, 3);
  EXPECT_STREQ(st.message, "[startChannel]: Channel start already sent.");

  EXPECT_TRUE(ch->closeChannel(&rh, &st)) << st.message;
  EXPECT_TRUE(ch->isChannelClosed());
  EXPECT_FALSE(ch->closeChannel(&rh, &st));
  EXPECT_EQ(st.code, 3);
  EXPECT_STREQ(st.message, "[startChannel]: Channel already closed.");
  delete ch;  // close was sent: nothing more is queued
  EXPECT_EQ(a->getWriteBufferUsed(), 0);
}

TEST_F(Loopback, StartAfterThePeerClosedAndCloseWhileWaitingForStart) {
  PumpHandler rh({b, a});
  TStat st;
  queueRaw(b, 3, 1, STP_TYPE_CHANNEL, 1);
  queueRaw(b, 4, 1, STP_TYPE_CHANNEL, 1);
  ASSERT_TRUE(a->handleRead(nullptr));
  STPChannel *closed = a->createChannel(1, 3, &rh, &st);
  STPChannel *waiting = a->createChannel(1, 4, &rh, &st);
  ASSERT_TRUE(closed && waiting);

  queueRaw(b, 3, 1, STP_TYPE_CHANNEL, 3);
  ASSERT_TRUE(a->handleRead(nullptr));
  EXPECT_TRUE(closed->isChannelClosed());
  EXPECT_FALSE(closed->startChannel(&rh, &st));
  EXPECT_EQ(st.code, 6);
  EXPECT_STREQ(st.message, "[startChannel]: Channel has been closed.");

  PumpHandler both({b, a});
  both.onIdle = [&]() { queueRaw(b, 4, 1, STP_TYPE_CHANNEL, 3); };
  EXPECT_FALSE(waiting->startChannel(&both, &st));
  EXPECT_EQ(st.code, 6);
  EXPECT_STREQ(st.message, "[startChannel]: channel already closed before start");
  EXPECT_EQ(waiting->getStat().code, 6);
  delete closed;
  delete waiting;
}

TEST_F(Loopback, DestroyingAnUnclosedChannelQueuesItsClose) {
  PumpHandler rh({b, a});
  queueRaw(b, 5, 1, STP_TYPE_CHANNEL, 1);
  ASSERT_TRUE(a->handleRead(nullptr));
  STPChannel *ch = a->createChannel(1, 5, &rh, nullptr);
  ASSERT_NE(ch, nullptr);
  ASSERT_EQ(a->getWriteBufferUsed(), 0);
  delete ch;
  std::vector<char> bytes = pendingBytes(a);
  ASSERT_EQ(bytes.size(), 48u);
  EXPECT_EQ(wordAt(bytes, 2), 1u);  // source
  EXPECT_EQ(wordAt(bytes, 3), 5u);  // destination
  EXPECT_EQ(wordAt(bytes, 6), 6u);  // channel control
  EXPECT_EQ(wordAt(bytes, 7), 3u);  // close
}

TEST_F(Loopback, CreateTimesOutWithoutAckAndQueuesNoClose) {
  PumpHandler rh({}, 100);
  TStat st;
  EXPECT_EQ(a->createChannel(1, 9, &rh, &st), nullptr);
  EXPECT_EQ(st.code, 7);
  EXPECT_STREQ(st.message, "[createChannel]: reached timeout while waiting to receive create ack");
  std::vector<char> bytes = pendingBytes(a);
  ASSERT_EQ(bytes.size(), 48u);  // only the create
  EXPECT_EQ(wordAt(bytes, 7), 1u);
  // The failed channel is gone: a new attempt is not "exists".
  EXPECT_EQ(a->createChannel(1, 9, &rh, &st), nullptr);
  EXPECT_EQ(st.code, 7);
}

TEST_F(Loopback, SyncFromThePeerThatArrivedEarlyEndsTheWaitOnceWritten) {
  queueRaw(b, 2, 1, STP_TYPE_SYNC, 0);
  ASSERT_TRUE(a->handleRead(nullptr));
  PumpHandler rh({b, a});
  TStat st;
  EXPECT_TRUE(a->awaitSync(1, 2, &rh, &st)) << st.message;
  EXPECT_EQ(a->getWriteBufferUsed(), 0);
  EXPECT_LE(rh.rounds, 1);
  // The packet was consumed: a second wait needs a new one.
  PumpHandler shortWait({b}, 100);
  EXPECT_FALSE(a->awaitSync(1, 2, &shortWait, &st));
  EXPECT_EQ(st.code, 7);
  EXPECT_STREQ(st.message, "[awaitSync]: reached timeout while waiting to receive sync packet");
}

// Both processes run the same handshake over a real connection.
bool handshake(STPTransport *t, int local, int remote, bool closer) {
  TimeoutSTPRetryHandler rh(t, 5000);
  TStat st;
  STPChannel *ch = t->createChannel(local, remote, &rh, &st);
  if (!ch || !ch->startChannel(&rh, &st) || !t->awaitSync(local, remote, &rh, &st)) return false;
  bool ok;
  if (closer) {
    ok = ch->closeChannel(&rh, &st);
  } else {
    rh.beginOp();
    while (!ch->isChannelClosed() && rh.retryOp()) t->serviceOnce(100, nullptr);
    ok = ch->isChannelClosed();
  }
  delete ch;
  return ok;
}

TEST(ChannelProcesses, BothSidesCreateStartSyncAndClose) {
  spectest::ForkedPeer peer([](STPTransport *t) { return handshake(t, 2, 1, false); });
  ASSERT_NE(peer.transport(), nullptr);
  EXPECT_TRUE(handshake(peer.transport(), 1, 2, true));
  EXPECT_TRUE(peer.exitedOk());
}

}  // namespace
