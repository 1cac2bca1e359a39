// STPTransport between two processes: a forked server whose behaviour is
// chosen by the request id. Requests with replies, one-way messages and
// deferral while a synchronous request waits. Every wait is bounded.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"
#include "support/stp_packets.h"
#include "support/stp_sockets.h"

using namespace testsupport;

namespace {

// Request ids the server understands.
enum ServerOp {
  kEcho,            // reply n + 1000
  kCountOneWay,     // reply with the number of one-way messages seen
  kUnrelatedFirst,  // send two one-way requests of a new transaction, then reply
  kBackMessage,     // send a one-way request inside the caller's transaction, then reply
};

// Client routing numbers: local 1, remote 2 (the server uses the reverse).
class Server : public ResponseListener {
 public:
  explicit Server(STPTransport *t) : t_(t) {}
  void handleResponse(STPIMsg *msg, bool) override {
    if (msg->flags & STP_FLAG_ASYNC) {
      ++oneWay_;
      return;
    }
    int n = numberOf(msg) + 1000;
    if (msg->id == kCountOneWay) n = oneWay_;
    if (msg->id == kUnrelatedFirst || msg->id == kBackMessage) n -= 1000;
    if (msg->id == kUnrelatedFirst) {
      sendOneWay(555);
      sendOneWay(556);
    } else if (msg->id == kBackMessage) {
      t_->pushToken(msg->token, msg->depth, msg->flags);
      sendOneWay(666);
      t_->popToken();
    }
    std::unique_ptr<STPAsciiOMsg> reply(t_->createAsciiReply(2, 1, msg->serial, 0));
    reply->putNumber("n", n);
    t_->enqueueAndTryMessage(reply.get(), 2, nullptr);
  }

 private:
  STPTransport *t_;
  int oneWay_ = 0;
  void sendOneWay(int n) {
    std::unique_ptr<STPAsciiOMsg> m(t_->createAsciiMessage(2, 1, STP_TYPE_ASCII, 7, STP_FLAG_ASYNC));
    m->putNumber("n", n);
    t_->sendMessage(m.get(), nullptr, nullptr);
  }
};

// Serves until the client goes away (or 20 s pass).
bool serve(STPTransport *t) {
  t->setDefaultToken(2);
  Server server(t);
  t->registerMessageListener(1, 2, &server, STP_TYPE_ASCII);
  long long end = ut_getTimeMillis64() + 20000;
  while (ut_getTimeMillis64() < end && t->serviceOnce(100, nullptr)) {
  }
  return true;
}

class TransportProcesses : public ::testing::Test {
 protected:
  ForkedPeer peer{serve};
  STPTransport *t = peer.transport();
  RecordingListener notes;  // one-way requests from the server

  void SetUp() override {
    ASSERT_NE(t, nullptr);
    t->setDefaultToken(1);
    t->registerMessageListener(2, 1, &notes, STP_TYPE_ASCII);
  }
  void TearDown() override {
    t->unregisterMessageListener(&notes);
    t->closeConnection(nullptr);
    EXPECT_TRUE(peer.exitedOk());
    EXPECT_EQ(STPTransport::getMessageDepth(), 0);
  }
  STPAsciiOMsg *request(int op, int n, int flags = STP_FLAG_REPLY) {
    STPAsciiOMsg *m = t->createAsciiMessage(1, 2, STP_TYPE_ASCII, op, flags);
    m->putNumber("n", n);
    return m;
  }
  // Sends a request and waits (at most 5 s, or without limit when !bounded)
  // for its reply; returns the reply's n, or -1.
  int call(int op, int n, TStat *st, int flags = STP_FLAG_REPLY, bool bounded = true) {
    std::unique_ptr<STPAsciiOMsg> m(request(op, n, flags));
    TimeoutSTPRetryHandler rh(t, 5000);
    int serial = t->sendMessage(m.get(), bounded ? &rh : nullptr, st);
    std::unique_ptr<STPIMsg> reply(serial ? t->awaitResponse(serial, bounded ? &rh : nullptr, st) : nullptr);
    if (!reply) return -1;
    EXPECT_EQ(reply->replyTo, serial);
    return numberOf(reply.get());
  }
};

TEST_F(TransportProcesses, RequestsWithRepliesAndOneWayMessagesInOrder) {
  TStat st;
  EXPECT_EQ(call(kEcho, 1, &st) + call(kEcho, 3, &st, STP_FLAG_REPLY, false), 2004);  // the second without handler
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<STPAsciiOMsg> m(request(kEcho, i, STP_FLAG_ASYNC));
    EXPECT_NE(t->sendMessage(m.get(), nullptr, &st), 0);
    // A one-way send leaves neither depth nor token behind.
    EXPECT_EQ(STPTransport::getMessageDepth() + t->getTokenStackSize(), 0);
  }
  EXPECT_EQ(call(kCountOneWay, 0, &st), 3);
  EXPECT_TRUE(st.ok()) << st.message;
}

// Requests the server sends before its reply, as the delivery rules see
// them while the caller waits: a new transaction waits in the deferred queue
// until the reply was taken, then arrives in order; a strict wait (header
// flag 64) defers even requests the receiver's table does not mark; a
// request inside the caller's transaction, one level deeper, is delivered
// inside the wait.
TEST_F(TransportProcesses, RequestsArrivingWhileACallerWaits) {
  const struct {
    const char *what;
    int op, flags;
    bool transactionOnly;
    std::vector<int> notes;
    int depthSeen;
  } cases[] = {
      {"new transaction", kUnrelatedFirst, STP_FLAG_REPLY, true, {555, 556}, 0},
      {"strict wait", kUnrelatedFirst, STP_FLAG_REPLY | STP_FLAG_ONLY_SAFE, false, {555, 556}, 0},
      {"same transaction", kBackMessage, STP_FLAG_REPLY, true, {666}, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    notes.seen.clear();
    int depthSeen = -1;
    notes.classifyAs = [&](STPIMsg *m) { m->flags |= c.transactionOnly ? STP_FLAG_TRANSACTION : 0; };  // as a table would
    notes.onTaken = [&](STPIMsg *) { depthSeen = depthSeen < 0 ? STPTransport::getMessageDepth() : depthSeen; };
    TStat st;
    EXPECT_EQ(call(c.op, 5, &st, c.flags), 5);
    EXPECT_EQ(t->getDeferredCount(), c.depthSeen ? 0 : 2) << "delivered while the request was waiting";
    EXPECT_TRUE(serviceUntil(t, [&] { return notes.seen.size() == c.notes.size(); }));
    EXPECT_EQ(notes.numbers(), c.notes);
    EXPECT_EQ(depthSeen, c.depthSeen);
    EXPECT_EQ(STPTransport::getTransactionOnlyCount(), 0);
  }
}

}  // namespace
