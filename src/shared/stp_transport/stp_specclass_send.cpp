// STPSpecClass sending: the retry condition that ends a wait once the
// endpoint is down, and the steps every generated sender shares (resolve the
// retry handler, check the send is allowed, build the packet with the peer's
// message id, send and optionally wait for the reply). A message encoded
// beforehand (one-way messages of ASCII interfaces, broadcasts) is only
// addressed and queued: its body is never touched, so one message serves
// every peer of a fan-out. One thread.
#include "shared/indgen.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_speclog.h"
#include "shared/stp_transport/stp_transport.h"

STP_RetryCondition::STP_RetryCondition(STPSpecClass *ep) : endpoint(ep) { endpoint->addRef(); }

STP_RetryCondition::~STP_RetryCondition() { endpoint->delRef(); }

bool STP_RetryCondition::mayRetry() { return !endpoint->isDown(); }

STPSpecClass::SendScope::SendScope(STPSpecClass *endpoint, RetryHandler *rh, TStat *stat)
    : ep_(endpoint), stat_(stat ? stat : &local_) {
  ep_->addRef();
  RetryHandler *rt = rh ? rh : ep_->getDefaultRetryHandler();
  gen_assert(rt != NULL);
  rh_ = rt;
  stat_->clear();
}

STPSpecClass::SendScope::~SendScope() {
  removeCondition();
  cond_.reset();
  ep_->delRef();
}

void STPSpecClass::SendScope::addCondition() {
  if (condAdded_ || !rh_) return;
  if (!cond_) cond_ = std::make_unique<STP_RetryCondition>(ep_);
  rh_->addRetryCondition(cond_.get());
  condAdded_ = true;
}

void STPSpecClass::SendScope::removeCondition() {
  if (!condAdded_) return;
  rh_->removeRetryCondition(cond_.get());
  condAdded_ = false;
}

bool STPSpecClass::canSendRow(int peerRow, bool mustReceive, bool binary, TStat *stat) {
  bool known = peerRow >= 0 && peerRow < peerMessageCount;
  bool supported = binary ? known && peerMessages[peerRow].id != -1 : true;
  return canSendMessage(mustReceive, supported, stat);
}

bool STPSpecClass::transportHasFailed() const {
  return transport && transport->getStat().code != kStatOk;
}

int STPSpecClass::sendFlagsForRow(int peerRow, bool wantsReply) const {
  if (wantsReply) return STP_FLAG_REPLY;
  bool known = peerRow >= 0 && peerRow < peerMessageCount;
  if (known && (peerMessages[peerRow].flags & kSTPDescTransaction))
    return STP_FLAG_ASYNC | STP_FLAG_DESC4;
  return STP_FLAG_ASYNC;
}

void STPSpecClass::addressForRow(STPOMsg *msg, int peerRow) const {
  STPToken t = transport->getSendToken();
  msg->sourceRN = localRN;
  msg->destRN = remoteRN;
  msg->replyTo = 0;
  msg->id = peerMessages[peerRow].id;
  msg->flags = sendFlagsForRow(peerRow, false);
  msg->token = t.word();
  msg->depth = t.depth + 1;
}

STPAsciiOMsg *STPSpecClass::newAsciiSend(int peerRow, bool wantsReply) {
  if (!transport || peerRow < 0 || peerRow >= peerMessageCount) return nullptr;
  const STPMessageDesc &row = peerMessages[peerRow];
  STPAsciiOMsg *msg = transport->createAsciiMessage(localRN, remoteRN, STP_TYPE_ASCII, row.id,
                                                    sendFlagsForRow(peerRow, wantsReply));
  msg->putIdent(row.name);
  return msg;
}

STPBinaryOMsg *STPSpecClass::newBinarySend(int peerRow, bool wantsReply) {
  if (!transport || peerRow < 0 || peerRow >= peerMessageCount) return nullptr;
  return transport->createBinaryMessage(localRN, remoteRN, STP_TYPE_BINARY,
                                        peerMessages[peerRow].id,
                                        sendFlagsForRow(peerRow, wantsReply));
}

namespace {

// The name of a row of a static table of `count` rows; "" when out of range.
const char *rowName(const STPMessageDesc *table, int count, int row) {
  return table && row >= 0 && row < count && table[row].name ? table[row].name : "";
}

}  // namespace

STPAsciiOMsg *STPSpecClass::beginAsciiSend(SendScope &scope, int peerRow, bool wantsReply) {
  if (canSendRow(peerRow, wantsReply, false, scope.stat())) return newAsciiSend(peerRow, wantsReply);
  STPSpecLog_writeFailed(sendLog, this, rowName(peerSpecs, peerMessageCount, peerRow));
  return nullptr;
}

STPBinaryOMsg *STPSpecClass::beginBinarySend(SendScope &scope, int peerRow, bool wantsReply) {
  if (canSendRow(peerRow, wantsReply, true, scope.stat())) return newBinarySend(peerRow, wantsReply);
  STPSpecLog_writeFailed(sendLog, this, rowName(peerSpecs, peerMessageCount, peerRow));
  return nullptr;
}

void STPSpecClass::logSend(int peerRow, const STPOMsg *msg) {
  if (!sendLog || !peerSpecs || peerRow < 0 || peerRow >= peerMessageCount || !msg) return;
  const STPMessageDesc &row = peerSpecs[peerRow];
  if (transportHasFailed())
    STPSpecLog_writeFailed(sendLog, this, row.name);
  else
    STPSpecLog_writeSent(sendLog, this, true, "SEND: ", row, false, msg);
}

bool STPSpecClass::completeOneWay(SendScope &scope, STPOMsg *msg, bool wait, int peerRow) {
  bool queued = queueOneWay(scope, msg, wait, peerRow);
  delete msg;
  return queued;
}

bool STPSpecClass::queueOneWay(SendScope &scope, STPOMsg *msg, bool wait, int peerRow) {
  if (sendLog) logSend(peerRow, msg);
  STPTransport *t = transport;
  if (!t || !msg) {
    scope.stat()->set(kStatBadState, "Attempted send before negotiation is complete.");
    return false;
  }
  t->addRef();
  int serial;
  if (wait) {
    scope.addCondition();
    ++callerCount;
    serial = t->sendMessage(msg, scope.handler(), scope.stat());
    --callerCount;
    scope.removeCondition();
  } else {
    serial = t->enqueueMessage(msg);
    if (serial == 0) TStat_copy(scope.stat(), t->getStat());
  }
  t->delRef();
  return serial != 0;
}

bool STPSpecClass::readyToSendEncoded(const STPOMsg *msg, int peerRow, TStat *stat) {
  bool sendable = canSendRow(peerRow, false, msg && msg->type == STP_TYPE_BINARY, stat);
  if (sendable && (!msg || peerRow < 0 || peerRow >= peerMessageCount)) {
    stat->set(kStatBadState, "[send]: no message or unknown message row");
    sendable = false;
  }
  if (!sendable) STPSpecLog_writeFailed(sendLog, this, rowName(peerSpecs, peerMessageCount, peerRow));
  return sendable;
}

bool STPSpecClass::sendOneWay(STPOMsg *msg, int peerRow, bool wait, RetryHandler *rh, TStat *stat) {
  if (!wait) return sendEncoded(msg, peerRow, stat);
  SendScope scope(this, rh, stat);
  if (!readyToSendEncoded(msg, peerRow, scope.stat())) return false;
  addressForRow(msg, peerRow);
  return queueOneWay(scope, msg, true, peerRow);
}

bool STPSpecClass::sendEncoded(STPOMsg *msg, int peerRow, TStat *stat) {
  TStat local;
  TStat *st = stat ? stat : &local;
  if (!readyToSendEncoded(msg, peerRow, st)) return false;
  addressForRow(msg, peerRow);
  if (sendLog) logSend(peerRow, msg);
  int serial = transport->enqueueMessage(msg);
  if (serial == 0) TStat_copy(st, transport->getStat());
  return serial != 0;
}

STPIMsg *STPSpecClass::completeRequest(SendScope &scope, STPOMsg *msg, int peerRow) {
  if (sendLog) logSend(peerRow, msg);
  STPTransport *t = transport;
  if (!t || !msg) {
    delete msg;
    scope.stat()->set(kStatBadState, "Attempted send before negotiation is complete.");
    return nullptr;
  }
  t->addRef();
  scope.addCondition();
  ++callerCount;
  int serial = t->sendMessage(msg, scope.handler(), scope.stat());
  delete msg;
  STPIMsg *reply = serial != 0 ? t->awaitResponse(serial, scope.handler(), scope.stat()) : nullptr;
  --callerCount;
  scope.removeCondition();
  t->delRef();
  if (reply && recvLog && peerSpecs && peerRow >= 0 && peerRow < peerMessageCount)
    STPSpecLog_write(recvLog, this, false, "RECV: ", peerSpecs[peerRow], true, reply, STPSpecLogSide::Received);
  return reply;
}
