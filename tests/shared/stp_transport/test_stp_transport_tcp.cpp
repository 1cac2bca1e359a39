// STPTransport between two real processes over TCP on 127.0.0.1. The test
// forks a small server whose behaviour is chosen by the request id; the
// parent connects and exercises requests with replies, one-way messages,
// deferral while a synchronous request waits, a peer that dies mid-packet
// and partial writes. Every wait is bounded.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"
#include "stp_transport_testutil.h"

using namespace stptest;

namespace {

// Request ids the server understands.
enum ServerOp {
  kEcho = 0,          // reply n + 1000
  kCountOneWay = 1,   // reply with the number of one-way messages seen
  kUnrelatedFirst = 2,  // send two one-way requests of a new transaction, then reply
  kBackMessage = 3,   // send a one-way request inside the caller's transaction, then reply
  kDieMidPacket = 4,  // write half a packet and exit
  kBig = 6,           // reply with the body length received
};

// Client routing numbers: local 1, remote 2 (the server uses the reverse).
constexpr int kClientRN = 1;
constexpr int kServerRN = 2;

class Server : public ResponseListener {
 public:
  explicit Server(STPTransport *t) : t_(t) {}

  bool handleResponse(STPIMsg *msg, bool) override {
    if (msg->flags & STP_FLAG_ASYNC) {
      ++oneWay_;
      return true;
    }
    int n = numberOf(msg);
    switch (msg->id) {
      case kCountOneWay: n = oneWay_; break;
      case kUnrelatedFirst:
        sendOneWay(555);
        sendOneWay(556);
        break;
      case kBackMessage:
        t_->pushToken(msg->token, msg->depth, msg->flags);
        sendOneWay(666);
        t_->popToken();
        break;
      case kDieMidPacket: dieMidPacket(); break;
      case kBig: n = msg->bodyLength; break;
      default: n += 1000; break;
    }
    STPAsciiOMsg *reply = t_->createAsciiReply(kServerRN, kClientRN, msg->serial, 0);
    reply->putIdent("Reply");
    reply->putNumber("n", n);
    t_->enqueueAndTryMessage(reply, 2, nullptr);
    delete reply;
    return true;
  }

 private:
  STPTransport *t_;
  int oneWay_ = 0;

  void sendOneWay(int n) {
    STPAsciiOMsg *m = t_->createAsciiMessage(kServerRN, kClientRN, STP_TYPE_ASCII, 7, STP_FLAG_ASYNC);
    m->putIdent("Note");
    m->putNumber("n", n);
    t_->sendMessage(m, nullptr, nullptr);
    delete m;
  }
  void dieMidPacket() {
    std::vector<uint8_t> p = asciiPacket(kServerRN, kClientRN, STP_TYPE_REPLY, -1, 9, 0, 0, 1);
    ssize_t ignored = ::write(t_->getFD(), p.data(), p.size() / 2);
    (void)ignored;
    ::_exit(0);
  }
};

// The forked server: accepts one client and serves it until it goes away
// (or 20 s pass), then exits without returning into the test framework.
[[noreturn]] void runServer(int lfd) {
  STPTransport *t = new STPTransport(32768);
  t->setDefaultToken(2);
  TimeoutSTPRetryHandler accept(t, 5000);
  if (!t->listenOnFD(lfd, true, &accept, nullptr)) ::_exit(2);
  Server server(t);
  t->registerMessageListener(kClientRN, kServerRN, &server, STP_TYPE_ASCII);
  long long end = ut_getTimeMillis64() + 20000;
  while (ut_getTimeMillis64() < end && t->serviceOnce(100, nullptr)) {
  }
  ::_exit(0);
}

class TransportTcp : public ::testing::Test {
 protected:
  pid_t child = -1;
  TransportRef t;
  RecordingListener notes;  // one-way requests from the server

  void SetUp() override {
    int port = 0;
    int lfd = STPTransport::getListenSocket(&port, nullptr);
    ASSERT_GE(lfd, 0);
    // A small receive window on the server side makes big writes partial.
    int small = 8192;
    ::setsockopt(lfd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) runServer(lfd);
    ::close(lfd);
    t->setDefaultToken(1);
    TStat st;
    ASSERT_TRUE(t->connect("127.0.0.1", port, &st)) << st.message;
    t->registerMessageListener(kServerRN, kClientRN, &notes, STP_TYPE_ASCII);
  }

  void TearDown() override {
    t->unregisterMessageListener(&notes);
    t->closeConnection(nullptr);
    int status = 0;
    long long end = ut_getTimeMillis64() + 5000;
    while (::waitpid(child, &status, WNOHANG) == 0) {
      if (ut_getTimeMillis64() > end) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        ADD_FAILURE() << "server did not end";
        break;
      }
      ::usleep(5000);
    }
    EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  }

  STPAsciiOMsg *request(int op, int n, int flags = STP_FLAG_REPLY) {
    STPAsciiOMsg *m = t->createAsciiMessage(kClientRN, kServerRN, STP_TYPE_ASCII, op, flags);
    m->putIdent("Req");
    m->putNumber("n", n);
    return m;
  }

  // Sends a request and waits (at most 5 s) for its reply; returns the
  // reply's n, or -1.
  int call(int op, int n, TStat *st, int flags = STP_FLAG_REPLY) {
    STPAsciiOMsg *m = request(op, n, flags);
    TimeoutSTPRetryHandler rh(t.t, 5000);
    int serial = t->sendMessage(m, &rh, st);
    delete m;
    if (!serial) return -1;
    STPIMsg *reply = t->awaitResponse(serial, &rh, st);
    if (!reply) return -1;
    int v = numberOf(reply);
    EXPECT_EQ(reply->replyTo, serial);
    delete reply;
    return v;
  }
};

TEST_F(TransportTcp, RequestsWithReplies) {
  TStat st;
  EXPECT_EQ(call(kEcho, 1, &st), 1001);
  EXPECT_EQ(call(kEcho, 2, &st), 1002);
  EXPECT_TRUE(st.ok()) << st.message;
  // Without a retry handler the waits have no limit but end on the reply.
  STPAsciiOMsg *m = request(kEcho, 3);
  int serial = t->sendMessage(m, nullptr, &st);
  delete m;
  ASSERT_NE(serial, 0);
  STPIMsg *reply = t->awaitResponse(serial, nullptr, &st);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(numberOf(reply), 1003);
  delete reply;
}

TEST_F(TransportTcp, OneWayMessagesArriveInOrderBeforeTheNextRequest) {
  TStat st;
  for (int i = 0; i < 3; ++i) {
    STPAsciiOMsg *m = request(kEcho, i, STP_FLAG_ASYNC);
    EXPECT_NE(t->sendMessage(m, nullptr, &st), 0);
    delete m;
    // A one-way send leaves neither depth nor token behind.
    EXPECT_EQ(STPTransport::getMessageDepth(), 0);
    EXPECT_EQ(t->getTokenStackSize(), 0);
  }
  EXPECT_EQ(call(kCountOneWay, 0, &st), 3);
}

// The server answers a request by first sending two requests of its own (a
// new transaction), then the reply. The client's listener marks them
// transaction-only, as an endpoint would for such messages, and asks the
// delivery rules: they wait in the deferred queue until the reply was taken,
// then arrive in order.
TEST_F(TransportTcp, UnrelatedRequestWhileWaitingIsDeferredThenDeliveredInOrder) {
  int repliesTaken = 0;
  std::vector<int> takenAfterReplies;
  notes.accept = [&](STPIMsg *m) {
    m->flags |= STP_FLAG_TRANSACTION;
    return t->shouldDeliverMessage(m);
  };
  notes.onTaken = [&](STPIMsg *) { takenAfterReplies.push_back(repliesTaken); };
  TStat st;
  EXPECT_EQ(call(kUnrelatedFirst, 5, &st), 5);
  repliesTaken = 1;
  EXPECT_TRUE(notes.seen.empty()) << "delivered while the request was waiting";
  EXPECT_EQ(t->getDeferredCount(), 2);
  EXPECT_TRUE(serviceUntil(t.t, [&] { return notes.seen.size() == 2; }));
  EXPECT_EQ(notes.numbers(), (std::vector<int>{555, 556}));
  EXPECT_EQ(takenAfterReplies, (std::vector<int>{1, 1}));
}

// With header flag 64 on the request, the wait only lets through safe
// messages and messages of its own transaction, whatever the receiver's
// table says.
TEST_F(TransportTcp, StrictWaitDefersUnflaggedRequests) {
  int depthSeen = -1;
  notes.accept = [&](STPIMsg *m) { return t->shouldDeliverMessage(m); };
  notes.onTaken = [&](STPIMsg *) {
    if (depthSeen < 0) depthSeen = STPTransport::getMessageDepth();
  };
  TStat st;
  EXPECT_EQ(call(kUnrelatedFirst, 5, &st, STP_FLAG_REPLY | STP_FLAG_ONLY_SAFE), 5);
  EXPECT_EQ(STPTransport::getTransactionOnlyCount(), 0);
  EXPECT_TRUE(serviceUntil(t.t, [&] { return notes.seen.size() == 2; }));
  EXPECT_EQ(depthSeen, 0);
}

// A request the server sends inside the caller's transaction, one level
// deeper, is delivered while the caller still waits.
TEST_F(TransportTcp, BackMessageOfTheSameTransactionIsDeliveredWhileWaiting) {
  int depthSeen = -1;
  notes.accept = [&](STPIMsg *m) {
    m->flags |= STP_FLAG_TRANSACTION;
    return t->shouldDeliverMessage(m);
  };
  notes.onTaken = [&](STPIMsg *) { depthSeen = STPTransport::getMessageDepth(); };
  TStat st;
  EXPECT_EQ(call(kBackMessage, 1, &st), 1);
  EXPECT_EQ(notes.numbers(), (std::vector<int>{666}));
  EXPECT_EQ(depthSeen, 1);  // handled inside the wait
}

TEST_F(TransportTcp, PeerClosingMidPacketEndsTheWaitWithCodeFive) {
  TStat st;
  EXPECT_EQ(call(kDieMidPacket, 0, &st), -1);
  EXPECT_EQ(st.code, kStatPeerClosed);
  EXPECT_TRUE(t->isDead());
  // Sending on the dead transport fails at once.
  STPAsciiOMsg *m = request(kEcho, 0);
  EXPECT_EQ(t->sendMessage(m, nullptr, &st), 0);
  EXPECT_EQ(st.code, kStatDown);
  delete m;
}

TEST_F(TransportTcp, PartialWritesAreCompletedByLaterHandleWrite) {
  int small = 8192;
  ::setsockopt(t->getFD(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  STPAsciiOMsg *m = request(kBig, 0);
  m->putString("s", std::string(2 << 20, 'q').c_str());
  int serial = t->enqueueMessage(m);
  int bodyLength = m->bodyLength;
  delete m;
  ASSERT_NE(serial, 0);
  STPTransport::incrementStackDepth();  // what sendMessage does for a request
  t->pushToken(0, 1, STP_FLAG_REPLY);
  ASSERT_TRUE(t->handleWrite(nullptr));
  EXPECT_GT(t->getWriteBufferUsed(), 0) << "the first write should be partial";
  int rounds = 0;
  long long end = ut_getTimeMillis64() + 10000;
  while (t->dataInWriteBuffer() && ut_getTimeMillis64() < end) {
    ASSERT_TRUE(t->serviceOnce(50, nullptr)) << t->getStat().message;
    ++rounds;
  }
  EXPECT_FALSE(t->dataInWriteBuffer());
  EXPECT_GT(rounds, 1);
  EXPECT_EQ(t->getWriteBufferCapacity(), t->getInitialBufferSize());
  TimeoutSTPRetryHandler rh(t.t, 5000);
  TStat st;
  STPIMsg *reply = t->awaitResponse(serial, &rh, &st);
  ASSERT_NE(reply, nullptr) << st.message;
  EXPECT_EQ(numberOf(reply), bodyLength);
  delete reply;
}

}  // namespace
