// STPTransport delivery and waiting: the listener map, handing received
// messages to listeners or to the response, unclaimed and deferred queues,
// the delivery rules (shouldDeliverMessage), and the waits of sendMessage
// and awaitResponse.
//
// The transport alone decides when a message is delivered: the listeners of
// its key classify it, the delivery rules decide, and a message held back
// waits in the deferred queue, which also keeps its listener's owner alive.
// While a send is being written, delivery is suspended process-wide
// (`_dont_deliver`): packets read meanwhile are parsed and deferred. While a
// synchronous request waits (message depth above 0), the delivery rules let
// through only replies, safe messages and deeper messages of the current
// transaction; the rest wait in the deferred queue and are delivered in
// arrival order once the rules allow. One thread.
#include <algorithm>
#include <iterator>
#include <vector>

#include "shared/stp_transport/stp_msg.h"
#include "shared/stp_transport/stp_transport.h"

// ---------------------------------------------------------------------------
// Listener map

void STPTransport::registerMessageListener(int sourceRN, int destRN, ResponseListener *listener,
                                           int type) {
  listeners[MsgHeader2{sourceRN, destRN, type}].push_back(listener);
}

void STPTransport::unregisterMessageListener(ResponseListener *listener) {
  for (auto it = listeners.begin(); it != listeners.end();) {
    std::vector<ResponseListener *> &of = it->second;
    of.erase(std::remove(of.begin(), of.end(), listener), of.end());
    if (of.empty())
      it = listeners.erase(it);
    else
      ++it;
  }
  // Its deferred messages stay queued (delivered by key later) but no
  // longer keep it; the one retain it got is given back.
  bool kept = false;
  for (DeferredMsg &d : deferred) {
    if (d.keeper == listener) d.keeper = nullptr, kept = true;
  }
  for (ResponseListener *&k : delivering) {
    if (k == listener) k = nullptr, kept = true;
  }
  if (kept) listener->release();
}

bool STPTransport::isRegistered(const MsgHeader2 &key, ResponseListener *listener) const {
  auto it = listeners.find(key);
  return it != listeners.end() &&
         std::find(it->second.begin(), it->second.end(), listener) != it->second.end();
}

// ---------------------------------------------------------------------------
// Delivery

bool STPTransport::isAwaited(int serial) const {
  return serial != 0 && std::find(awaited.begin(), awaited.end(), serial) != awaited.end();
}

void STPTransport::deliverMessage(STPIMsg *msg) {
  STPTransportHold hold(this);
  deliver(msg);
}

void STPTransport::deliver(STPIMsg *msg) {
  switch (msg->type) {
    case STP_TYPE_NOOP:
      delete msg;
      return;
    case STP_TYPE_SYNC:
      syncList.push_back(MsgHeader1{msg->sourceRN, msg->destRN});
      delete msg;
      return;
    case STP_TYPE_CHANNEL:
      if (channelHooks.control) channelHooks.control(this, msg);
      delete msg;
      return;
    default:
      break;
  }
  bool awaitedReply = isAwaited(msg->replyTo);
  if (!deliverToListeners(msg, awaitedReply)) return;  // kept as deferred, or deleted
  // Nobody took it, or it is a reply someone waits for. A reply nobody
  // waits for (its asker gave up, or never asked) would stay forever: it
  // is dropped.
  if (msg->replyTo != 0 && awaitedReply)
    responses.push_back(msg);
  else if (msg->replyTo != 0)
    delete msg;
  else
    unclaimed.push_back(msg);
}

// Classifies, decides and calls the listeners of the message's key. Returns
// false when the message is finished with here (deferred or deleted), true
// when it still needs a queue.
bool STPTransport::deliverToListeners(STPIMsg *msg, bool awaitedReply) {
  MsgHeader2 key{msg->sourceRN, msg->destRN, msg->type};
  auto found = listeners.find(key);
  if (found == listeners.end()) return true;  // a key's list is never left empty
  if (found->second.size() == 1) {
    ResponseListener *l = found->second.front();
    l->classify(msg);
    if (!shouldDeliverMessage(msg)) {
      defer(msg, l);
      return false;
    }
    l->handleResponse(msg, !awaitedReply);
  } else {
    // Listeners may unregister (themselves or others) while being called.
    std::vector<ResponseListener *> snapshot = found->second;
    for (ResponseListener *l : snapshot) l->classify(msg);
    if (!shouldDeliverMessage(msg)) {
      defer(msg, nullptr);
      return false;
    }
    for (ResponseListener *l : snapshot) {
      if (isRegistered(key, l)) l->handleResponse(msg, false);
    }
  }
  if (awaitedReply) return true;
  delete msg;
  return false;
}

void STPTransport::defer(STPIMsg *msg, ResponseListener *keeper) {
  const bool first = keeper && !isKept(keeper);
  deferred.push_back(DeferredMsg{msg, keeper});
  if (first) keeper->retain();
}

bool STPTransport::isKept(const ResponseListener *listener) const {
  for (const DeferredMsg &d : deferred) {
    if (d.keeper == listener) return true;
  }
  return std::find(delivering.begin(), delivering.end(), listener) != delivering.end();
}

int STPTransport::getDeferredCount(const ResponseListener *listener) const {
  int n = 0;
  for (const DeferredMsg &d : deferred) n += d.keeper == listener ? 1 : 0;
  return n;
}

// Offers deferred messages again, oldest first; after each delivery the walk
// starts over, since delivering may change what the rules allow. Each pass
// delivers at most as many messages as were waiting when it began, so a
// listener that keeps deferring cannot make it spin.
void STPTransport::deliverDeferred() {
  size_t budget = deferred.size();
  bool delivered = true;
  while (delivered && budget > 0) {
    delivered = false;
    for (size_t i = 0; i < deferred.size(); ++i) {
      if (!shouldDeliverMessage(deferred[i].msg)) continue;
      DeferredMsg d = deferred[i];
      deferred.erase(deferred.begin() + static_cast<long>(i));
      --budget;
      // The keeper stays retained while its message is being handled.
      delivering.push_back(d.keeper);
      deliver(d.msg);
      ResponseListener *keeper = delivering.back();
      delivering.pop_back();
      if (keeper && !isKept(keeper)) keeper->release();
      delivered = true;
      break;
    }
  }
}

bool STPTransport::shouldDeliverMessage(const STPIMsg *msg) const {
  if (_dont_deliver > 0) return false;
  if (messageDepth == 0 || msg->replyTo != 0) return true;
  // A reply from the same peer at the same depth comes first: it belongs to
  // the exchange that is waiting right now.
  const int depth = msg->depth & 0xffff;
  for (const STPIMsg *r : responses) {
    if (r->sourceRN == msg->sourceRN && (r->depth & 0xffff) == depth) return false;
  }
  if (msg->flags & STP_FLAG_SAFE) return true;
  if (!(msg->flags & STP_FLAG_TRANSACTION) && _only_deliver_safemsg_or_backmsg_for_transaction == 0)
    return true;
  STPToken current = getCurrentToken();
  uint32_t token = static_cast<uint32_t>(msg->token);
  return (token >> 16) == current.origin && (token & 0xffff) == current.number &&
         depth > current.depth;
}

bool STPTransport::dequeueAndDeliverMessage(int sourceRN, int destRN, int type) {
  for (size_t i = 0; i < unclaimed.size(); ++i) {
    STPIMsg *m = unclaimed[i];
    if (m->sourceRN == sourceRN && m->destRN == destRN && m->type == type) {
      unclaimed.erase(unclaimed.begin() + static_cast<long>(i));
      STPTransportHold hold(this);
      deliver(m);
      return true;
    }
  }
  return false;
}

void STPTransport::forgetAwaited(int serial) {
  auto it = std::find(awaited.begin(), awaited.end(), serial);
  if (it != awaited.end()) awaited.erase(it);
}

STPIMsg *STPTransport::takeResponse(int serial) {
  for (size_t i = 0; i < responses.size(); ++i) {
    if (responses[i]->replyTo == serial) {
      STPIMsg *m = responses[i];
      responses.erase(responses.begin() + static_cast<long>(i));
      return m;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Waiting

bool STPTransport::waitUntil(RetryHandler *rh, STPWaitPredicate done) {
  if (rh) rh->beginOp();
  bool patient = true;
  // No early exit for a dead transport: the round reports why it is dead
  // (serviceOnce fails with its own status).
  while (!done()) {
    if (rh)
      rh->idle();
    else
      serviceOnce(10000, nullptr);
    if (done() || !stat.ok() || isDead()) break;
    if (rh && !rh->retryOp()) {
      patient = false;
      break;
    }
  }
  if (rh) rh->completedOp();
  return patient;
}

int STPTransport::enqueueAndTryMessage(STPOMsg *msg, int tries, TStat *out) {
  stat.clear();
  int serial = enqueueMessage(msg);
  if (!serial) {
    report(out);
    return 0;
  }
  if (loopback && hostNotify) {
    hostNotify(hostNotifyCookie);
    report(out);
    return serial;
  }
  // Writing calls no listener: no hold needed.
  ++_dont_deliver;
  for (int i = 0; i < tries && dataInWriteBuffer() && stat.ok() && bound; ++i) handleWrite(nullptr);
  --_dont_deliver;
  return report(out) ? serial : 0;
}

int STPTransport::sendMessage(STPOMsg *msg, RetryHandler *rh, TStat *out) {
  stat.clear();
  int serial = enqueueMessage(msg);
  if (!serial) {
    report(out);
    return 0;
  }
  STPTransportHold hold(this);
  // A request's reply may come while the request is still being written;
  // it is awaited from now on, so that it is kept (awaitResponse takes the
  // mark off again).
  const bool wantsReply = !(msg->flags & STP_FLAG_ASYNC);
  if (wantsReply) awaited.push_back(serial);
  incrementStackDepth();
  pushToken(msg->token, msg->depth, msg->flags);
  int result = serial;
  if (loopback && hostNotify) {
    hostNotify(hostNotifyCookie);
  } else {
    ++_dont_deliver;
    handleWrite(nullptr);
    if (stat.ok() && dataInWriteBuffer())
      waitUntil(rh, [this]() { return !dataInWriteBuffer(); });
    --_dont_deliver;
    if (!stat.ok()) {
      result = 0;
    } else if (dataInWriteBuffer()) {
      fail(kStatTimedOut, "[sendMessage]: reached timeout while waiting to send message", nullptr);
      result = 0;
    }
  }
  // A synchronous request keeps its depth and token until awaitResponse.
  if (result == 0 || (msg->flags & STP_FLAG_ASYNC)) {
    decrementStackDepth();
    popToken();
  }
  if (result == 0 && wantsReply) forgetAwaited(serial);
  report(out);
  return result;
}

STPIMsg *STPTransport::awaitResponse(int serial, RetryHandler *rh, TStat *out) {
  stat.clear();
  STPTransportHold hold(this);
  STPIMsg *reply = takeResponse(serial);
  if (!reply) {
    bool strict = (getCurrentToken().flags & STP_FLAG_ONLY_SAFE) != 0;
    if (strict) ++_only_deliver_safemsg_or_backmsg_for_transaction;
    if (!isAwaited(serial)) awaited.push_back(serial);
    waitUntil(rh, [&]() {
      if (!reply) reply = takeResponse(serial);
      return reply != nullptr || isDead();
    });
    if (strict) --_only_deliver_safemsg_or_backmsg_for_transaction;
    if (reply) {
      // The reply is what the caller waited for, even if the connection
      // went down right after it arrived.
      stat.clear();
    } else if (stat.ok()) {
      if (isDead())
        fail(kStatPeerClosed,
             "[awaitResponse]: connection closed while waiting to receive response", nullptr);
      else
        fail(kStatTimedOut, "[awaitResponse]: reached timeout while waiting to receive response",
             nullptr);
    }
  }
  // From here on a late reply to `serial` is dropped on arrival.
  forgetAwaited(serial);
  decrementStackDepth();
  popToken();
  report(out);
  return reply;
}
