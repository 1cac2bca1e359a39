// Loopback pairs and host-side loopback with cookies, forwarding, virtual
// channels and sync packets. The tests play the peer by queueing raw
// control packets on the other side of a loopback pair (which takes bytes
// only when the test services it).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_channels.h"
#include "support/stp_packets.h"
#include "support/stp_pump.h"
#include "support/stp_sockets.h"
#include "support/stp_stat.h"

using namespace testsupport;

namespace {

enum { kCreate = 1, kStart = 2, kClose = 3 };

// Queues a bodyless packet (channel control, sync) on t.
void queueRaw(STPTransport *t, int src, int dst, int type, int id) {
  STPAsciiOMsg *m = t->createAsciiMessage(src, dst, type, id, 0);
  ASSERT_NE(t->enqueueMessage(m), 0);
  delete m;
}

// The pending bytes of a transport's write buffer.
Bytes pendingBytes(STPTransport *t) {
  int *start, *used, *cap;
  char **data;
  t->getBufferInfo(&start, &used, &cap, &data);
  return Bytes(*data + *start, *data + *start + *used);
}

struct Loopback : ::testing::Test {
  STPTransport *a = nullptr;
  STPTransport *b = nullptr;
  void SetUp() override { ASSERT_TRUE(STPTransport::createLoopbackPair(&a, &b)); }
  void TearDown() override {
    a->delRef();
    b->delRef();
  }
  // A channel (1, remote) on a whose create the peer has already answered.
  STPChannel *open(int remote) {
    queueRaw(b, remote, 1, STP_TYPE_CHANNEL, kCreate);
    a->handleRead(nullptr);
    Pump rh({b, a});
    TStat st;
    STPChannel *ch = a->createChannel(1, remote, &rh, &st);
    EXPECT_NE(ch, nullptr) << st.message;
    return ch;
  }
};

// A host outside the transport (a shared-object service) with its own
// write buffer, told through a notification function when data waits.
int gNotifiedCookie = 0;
bool recordNotify(int cookie) {
  gNotifiedCookie = cookie;
  return true;
}

TEST(LoopbackHost, NotificationCookiesAndTheHandleReadFunction) {
  int start = 0, used = 0, capacity = 256;
  char *data = static_cast<char *>(calloc(256, 1));
  STPTransport *t = new STPTransport(32768);
  STPTransport::initializeLoopbackSide(t, &start, &used, &capacity, &data, &recordNotify, 77);
  RecordingListener got;
  t->registerMessageListener(2, 1, &got, STP_TYPE_ASCII);
  std::unique_ptr<STPAsciiOMsg> m(t->createAsciiMessage(1, 2, STP_TYPE_ASCII, 3, STP_FLAG_ASYNC));
  TStat st;
  EXPECT_NE(t->sendMessage(m.get(), nullptr, &st), 0) << st.message;  // done once the host was told
  EXPECT_EQ(gNotifiedCookie, 77);
  EXPECT_EQ(pendingBytes(t).size(), 48u);
  // The host queues a packet and calls the function it was given.
  STPAsciiOMsg reply(2, 1, STP_TYPE_ASCII, 4, 0, STP_FLAG_ASYNC, 0, 1);
  reply.finishMessage(2);
  Bytes bytes = packetBytes(reply);
  memcpy(data, bytes.data(), bytes.size());
  used = static_cast<int>(bytes.size());
  STPHandleReadFunc fn = nullptr;
  int cookie = 0;
  ASSERT_TRUE(t->getHandleReadInfo(&fn, &cookie));
  TransportRef other;  // lookups that alternate must not return the cached one
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(STPTransport::getTransportForHandleReadCookie(cookie), t);
    EXPECT_EQ(STPTransport::getTransportForHandleReadCookie(other->getCookie()), other.t);
  }
  EXPECT_TRUE(fn(cookie));
  EXPECT_EQ(got.seen.at(0).id, 4);
  EXPECT_EQ(used, 0);
  t->unregisterMessageListener(&got);
  t->delRef();  // the lookup above was cached; deleting must clear it
  EXPECT_EQ(STPTransport::getTransportForHandleReadCookie(cookie), nullptr);
  EXPECT_FALSE(fn(cookie));
  free(data);
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
  RecordingListener here, there;
  b->registerMessageListener(1, 7, &here, STP_TYPE_ASCII);
  b->registerMessageListener(1, 3, &here, STP_TYPE_ASCII);
  d->registerMessageListener(1, 7, &there, STP_TYPE_ASCII);
  std::unique_ptr<STPAsciiOMsg> m(a->createAsciiMessage(1, 7, STP_TYPE_ASCII, 11, STP_FLAG_ASYNC));
  m->putString("odd", "abc");  // a body whose length is not a multiple of 4
  ASSERT_NE(a->enqueueMessage(m.get()), 0);
  Bytes sent = pendingBytes(a);
  queueRaw(a, 1, 3, STP_TYPE_ASCII, 12);
  ASSERT_TRUE(b->handleRead(nullptr));
  EXPECT_EQ(here.seen.size() * 100 + here.seen.at(0).id, 112u);
  EXPECT_EQ(pendingBytes(c), sent);
  ASSERT_TRUE(d->handleRead(nullptr));
  EXPECT_EQ(there.seen.at(0).id, 11);
  b->setForwardingHandler(nullptr);
  b->unregisterMessageListener(&here);
  d->unregisterMessageListener(&there);
  c->delRef();
  d->delRef();
}

TEST_F(Loopback, ChannelHandshakeAndRepeatedCalls) {
  Pump rh({b, a});
  TStat st;
  STPChannel *ch = open(2);
  ASSERT_NE(ch, nullptr);
  EXPECT_TRUE(ch->wasCreateSent() && ch->wasCreateReceived());
  EXPECT_EQ(a->createChannel(1, 2, &rh, &st), nullptr);
  EXPECT_EQ(statText(st), "3 [createChannel]: Tried to create channel that exists");
  queueRaw(b, 2, 1, STP_TYPE_CHANNEL, kCreate);  // a repeated create changes nothing
  queueRaw(b, 2, 1, STP_TYPE_CHANNEL, kStart);
  ASSERT_TRUE(a->handleRead(nullptr));  // the peer's start comes before ours is written
  EXPECT_TRUE(ch->startChannel(&rh, &st) && ch->isChannelStarted()) << st.message;
  EXPECT_FALSE(ch->startChannel(&rh, &st));
  EXPECT_EQ(statText(st), "3 [startChannel]: Channel start already sent.");
  EXPECT_TRUE(ch->closeChannel(&rh, &st) && ch->isChannelClosed()) << st.message;
  EXPECT_FALSE(ch->closeChannel(&rh, &st));
  EXPECT_EQ(statText(st), "3 [startChannel]: Channel already closed.");
  delete ch;  // close was sent: nothing more is queued
  EXPECT_EQ(a->getWriteBufferUsed(), 0);
}

// Starts that cannot succeed: the peer closed first, the peer closes while
// we wait, the peer never answers, our own close was sent.
TEST_F(Loopback, StartsThatFail) {
  TStat st;
  STPChannel *closed = open(3);
  queueRaw(b, 3, 1, STP_TYPE_CHANNEL, kClose);
  ASSERT_TRUE(a->handleRead(nullptr) && closed->isChannelClosed());
  Pump rh({b, a});
  EXPECT_FALSE(closed->startChannel(&rh, &st));
  EXPECT_EQ(statText(st), "6 [startChannel]: Channel has been closed.");

  STPChannel *waiting = open(4);
  rh.onIdle = [&]() { queueRaw(b, 4, 1, STP_TYPE_CHANNEL, kClose); };
  EXPECT_FALSE(waiting->startChannel(&rh, &st));
  EXPECT_EQ(statText(st), "6 [startChannel]: channel already closed before start");
  EXPECT_EQ(waiting->getStat().code, 6);

  STPChannel *silent = open(5);
  Pump brief({b, a}, 100);
  EXPECT_FALSE(silent->startChannel(&brief, &st));
  EXPECT_EQ(statText(st), "7 [startChannel]: reached timeout while waiting to receive start");
  EXPECT_TRUE(silent->wasStartSent() && !silent->isChannelStarted());

  STPChannel *own = open(6);
  ASSERT_TRUE(own->closeChannel(&rh, &st)) << st.message;
  EXPECT_FALSE(own->startChannel(&rh, &st));
  EXPECT_EQ(statText(st), "3 [startChannel]: Channel close already sent.");
  EXPECT_FALSE(own->wasStartSent());
  for (STPChannel *ch : {closed, waiting, silent, own}) delete ch;
}

TEST_F(Loopback, DestroyingAnUnclosedChannelQueuesItsCloseOnce) {
  STPChannel *ch = open(5);
  ASSERT_EQ(a->getWriteBufferUsed(), 0);
  delete ch;
  Bytes bytes = pendingBytes(a);
  ASSERT_EQ(bytes.size(), 48u);
  EXPECT_EQ(Bytes(bytes.begin() + 8, bytes.begin() + 16), cat({le(1), le(5)}));
  EXPECT_EQ(Bytes(bytes.begin() + 24, bytes.begin() + 32), cat({le(STP_TYPE_CHANNEL), le(kClose)}));
  // A close that the peer never takes times out, and is not queued again.
  ch = open(6);
  Pump onlyHere({a}, 100);
  TStat st;
  EXPECT_FALSE(ch->closeChannel(&onlyHere, &st));
  EXPECT_EQ(statText(st), "7 [closeChannel]: reached timeout while waiting to transmit close");
  EXPECT_TRUE(ch->wasCloseSent());
  int queued = a->getWriteBufferUsed();
  delete ch;
  EXPECT_EQ(a->getWriteBufferUsed(), queued);
}

TEST_F(Loopback, CreateTimesOutWithoutAckAndQueuesNoClose) {
  Pump rh({}, 100);
  TStat st;
  EXPECT_EQ(a->createChannel(1, 9, &rh, &st), nullptr);
  EXPECT_EQ(statText(st), "7 [createChannel]: reached timeout while waiting to receive create ack");
  Bytes bytes = pendingBytes(a);
  ASSERT_EQ(bytes.size(), 48u);  // only the create
  EXPECT_EQ(Bytes(bytes.begin() + 28, bytes.begin() + 32), le(kCreate));
  EXPECT_EQ(a->createChannel(1, 9, &rh, &st), nullptr);  // gone: not "exists"
  EXPECT_EQ(st.code, 7);
}

TEST_F(Loopback, SyncThatArrivedEarlyEndsTheWaitOnceWritten) {
  queueRaw(b, 2, 1, STP_TYPE_SYNC, 0);
  ASSERT_TRUE(a->handleRead(nullptr));
  Pump rh({b, a});
  TStat st;
  EXPECT_TRUE(a->awaitSync(1, 2, &rh, &st)) << st.message;
  EXPECT_TRUE(a->getWriteBufferUsed() == 0 && rh.rounds <= 1);
  Pump shortWait({b}, 100);  // consumed: a second wait needs a new one
  EXPECT_FALSE(a->awaitSync(1, 2, &shortWait, &st));
  EXPECT_EQ(statText(st), "7 [awaitSync]: reached timeout while waiting to receive sync packet");
}

}  // namespace
