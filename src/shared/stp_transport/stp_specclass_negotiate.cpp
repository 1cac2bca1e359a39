// STPSpecClass negotiation: the negotiation packet both sides send (own role,
// version stamp, flags, binary tag names and message table), its receipt
// (tag map, peer table update, extra peer messages), local negotiation, the
// synchronize barrier and the interface request with its answer.
// One thread. Tables are matched by name; a peer that lists names in
// another order or leaves some out is handled the same way.
#include <cstdlib>
#include <cstring>

#include "shared/indgen.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

// A heap copy of `length` bytes of `text` plus a terminator (free() it).
char *copyWord(const char *text, int length) {
  char *s = static_cast<char *>(malloc(length + 1));
  if (length > 0) memcpy(s, text, length);
  s[length] = '\0';
  return s;
}

bool sameWord(const char *name, const char *word, int length) {
  return name && static_cast<int>(strlen(name)) == length && memcmp(name, word, length) == 0;
}

int findName(const char *const *names, int count, const char *word, int length) {
  for (int i = 0; i < count; ++i)
    if (sameWord(names[i], word, length)) return i;
  return -1;
}

STPMessageDesc *findDesc(STPMessageDesc *rows, int count, const char *word, int length) {
  for (int i = 0; i < count; ++i)
    if (sameWord(rows[i].name, word, length)) return &rows[i];
  return nullptr;
}

// Holds a reference on the endpoint and its transport, and counts the
// operation in callerCount, for the duration of a wait.
class WaitScope {
 public:
  WaitScope(STPSpecClass *ep, STPTransport *t, int *callers)
      : ep_(ep), t_(t), callers_(callers) {
    ep_->addRef();
    if (t_) t_->addRef();
    ++*callers_;
  }
  ~WaitScope() {
    --*callers_;
    if (t_) t_->delRef();
    ep_->delRef();
  }
  WaitScope(const WaitScope &) = delete;
  WaitScope &operator=(const WaitScope &) = delete;

 private:
  STPSpecClass *ep_;
  STPTransport *t_;
  int *callers_;
};

}  // namespace

bool STPSpecClass::negotiate(RetryHandler *rh, TStat *stat) {
  return sendNegotiate(true, rh, stat) && awaitNegotiate(rh, stat);
}

bool STPSpecClass::sendNegotiate(bool tryWrite, RetryHandler *rh, TStat *stat) {
  TStat local;
  TStat *st = stat ? stat : &local;
  st->clear();
  if (!transport) {
    st->set(kStatBadState, "[sendNegotiate]: cannot send with NULL transport");
    return false;
  }
  if (!sendingUp) {
    st->set(kStatDown, "[sendNegotiate]: virtual connection is down");
    return false;
  }
  STPAsciiOMsg *msg = transport->createAsciiMessage(localRN, remoteRN, STP_TYPE_ENDPOINT,
                                                    kSTPCtlNegotiate, STP_FLAG_ASYNC);
  msg->putIdent("name", role);
  msg->putString("vstamp", vstamp);
  msg->putNumber("flags", flags);
  msg->putStartArray("tags", tagCount);
  for (int i = 0; i < tagCount; ++i) msg->putIdent(tagNames[i] ? tagNames[i] : "");
  msg->putEndArray();
  msg->putStartArray("msgs", ownMessageCount);
  for (int i = 0; i < ownMessageCount; ++i) {
    msg->putStartStruct();
    msg->putNumber("id", ownMessages[i].id);
    msg->putIdent("name", ownMessages[i].name ? ownMessages[i].name : "");
    msg->putNumber("flags", ownMessages[i].flags);
    msg->putEndStruct();
  }
  msg->putEndArray();
  int serial = tryWrite ? transport->enqueueAndTryMessage(msg, 1, st)
                        : transport->enqueueMessage(msg);
  delete msg;
  if (serial == 0 && st->ok()) TStat_copy(st, transport->getStat());
  return serial != 0 && st->ok();
}

void STPSpecClass::handleNegotiate(STPAsciiIMsg *msg) {
  int len = 0;
  const char *word = msg->getIdent("name", &len);
  free(peerRole);
  peerRole = copyWord(word, len);
  free(peerVstamp);
  peerVstamp = msg->getString("vstamp");
  peerFlags = msg->getNumber("flags");

  STPAsciiIMsgParamState tags;
  int n = msg->getStartArray(tags, "tags");
  for (int i = 0; i < n; ++i) {
    word = msg->getIdent(&len);
    int own = len > 0 ? findName(tagNames, tagCount, word, len) : -1;
    if (own >= 0) tagMap[own] = i;
  }
  msg->getEndArray(tags);

  STPAsciiIMsgParamState msgs;
  n = msg->getStartArray(msgs, "msgs");
  for (int i = 0; i < n; ++i) {
    STPAsciiIMsgParamState rec;
    bool present = msg->getStartStruct(rec);
    int id = msg->getNumber("id");
    word = msg->getIdent("name", &len);
    int peerRowFlags = msg->getNumber("flags");
    msg->getEndStruct(rec);
    if (!present) break;
    if (len > 0) notePeerMessage(word, len, id, peerRowFlags);
  }
  msg->getEndArray(msgs);
  negotiated = true;
}

void STPSpecClass::notePeerMessage(const char *name, int length, int id, int rowFlags) {
  STPMessageDesc *row = findDesc(peerMessages, peerMessageCount, name, length);
  if (!row) row = findDesc(extraPeerMessages, extraPeerMessageCount, name, length);
  if (!row) {
    // A message the peer knows and this side does not: kept so that it can
    // still be sent by name (getSendableMessageDesc).
    size_t size = sizeof(STPMessageDesc) * (extraPeerMessageCount + 1);
    extraPeerMessages = static_cast<STPMessageDesc *>(realloc(extraPeerMessages, size));
    row = &extraPeerMessages[extraPeerMessageCount++];
    row->name = copyWord(name, length);
    row->spec = nullptr;
  }
  row->id = id;
  row->flags = rowFlags;
}

bool STPSpecClass::awaitNegotiate(RetryHandler *rh, TStat *stat) {
  TStat local;
  TStat *st = stat ? stat : &local;
  st->clear();
  if (!transport) {
    st->set(kStatBadState, "[awaitTags]: cannot receive tags on NULL transport");
    return false;
  }
  if (!receivingUp) {
    st->set(kStatDown, "[awaitTags]: virtual connection is down");
    return false;
  }
  STPTransport *t = transport;
  WaitScope scope(this, t, &callerCount);
  // Negotiation packets that arrived before the listener was registered
  // wait in the transport's unclaimed queue.
  while (!negotiated && t->dequeueAndDeliverMessage(remoteRN, localRN, STP_TYPE_ENDPOINT)) {
  }
  return waitForFlag(&negotiated, "awaitNegotiate: timed out waiting for reply.", rh, st);
}

bool STPSpecClass::waitForFlag(const bool *flagp, const char *timeoutText, RetryHandler *rh,
                               TStat *st) {
  STPTransport *t = transport;
  bool ok = true;
  if (rh) rh->beginOp();
  while (!*flagp) {
    if (rh && !rh->retryOp()) {
      // The transport's own failure says more than a time-out.
      if (t->getStat().code != kStatOk)
        TStat_copy(st, t->getStat());
      else
        st->set(kStatTimedOut, timeoutText);
      ok = false;
      break;
    }
    if (rh) {
      rh->idle();
    } else {
      TStat round;
      t->serviceOnce(10000, &round);
    }
    if (!*flagp && t->getStat().code != kStatOk) {
      TStat_copy(st, t->getStat());
      ok = false;
      break;
    }
    if (!*flagp && !receivingUp) {  // the connection went down meanwhile: no answer comes
      st->set(kStatDown, "[waitForFlag]: virtual connection is down");
      ok = false;
      break;
    }
  }
  if (rh) rh->completedOp();
  return ok;
}

bool STPSpecClass::negotiate_local(RetryHandler *, TStat *stat) {
  if (stat) stat->clear();
  for (int i = 0; i < tagCount; ++i) tagMap[i] = i;
  for (int i = 0; i < peerMessageCount; ++i) peerMessages[i].id = i;
  negotiated = true;
  return true;
}

bool STPSpecClass::synchronize(RetryHandler *rh, TStat *stat) {
  TStat local;
  TStat *st = stat ? stat : &local;
  if (!canSendMessage(false, true, st)) return false;
  WaitScope scope(this, transport, &callerCount);
  STPAsciiOMsg *msg = transport->createAsciiMessage(localRN, remoteRN, STP_TYPE_ENDPOINT,
                                                    kSTPCtlSynchronize, STP_FLAG_ASYNC);
  // One write attempt right away: the peer's packet may already be here,
  // and then the wait below returns before servicing the socket.
  int serial = transport->enqueueAndTryMessage(msg, 1, st);
  delete msg;
  if (serial == 0) return false;
  if (!waitForFlag(&synchronized, "awaitNegotiate: timed out waiting for reply.", rh, st))
    return false;
  synchronized = false;
  return true;
}

bool STPSpecClass::request_interface(RetryHandler *rh, TStat *stat) {
  TStat local;
  TStat *st = stat ? stat : &local;
  if (!canSendMessage(true, true, st)) return false;
  STPTransport *t = transport;
  WaitScope scope(this, t, &callerCount);
  STPAsciiOMsg *msg = t->createAsciiMessage(localRN, remoteRN, STP_TYPE_ENDPOINT,
                                            kSTPCtlGetInterface, STP_FLAG_REPLY);
  int serial = t->sendMessage(msg, rh, st);
  delete msg;
  if (serial == 0) return false;
  STPIMsg *reply = t->awaitResponse(serial, rh, st);
  if (!reply) return false;
  STPAsciiIMsg view(reply);
  STPAsciiIMsgParamState msgs;
  int n = view.getStartArray(msgs, "msgs");
  for (int i = 0; i < n; ++i) {
    STPAsciiIMsgParamState rec;
    bool present = view.getStartStruct(rec);
    int len = 0, speclen = 0;
    const char *name = view.getIdent("name", &len);
    const char *spec = view.getQuotedIdent("fmt", &speclen);
    if (present && len > 0) notePeerSpec(name, len, spec, speclen);
    view.getEndStruct(rec);
    if (!present) break;
  }
  view.getEndArray(msgs);
  delete reply;
  interfaceReceived = true;
  return true;
}

void STPSpecClass::notePeerSpec(const char *name, int length, const char *spec, int specLength) {
  STPMessageDesc *row = findDesc(peerMessages, peerMessageCount, name, length);
  if (!row) row = findDesc(extraPeerMessages, extraPeerMessageCount, name, length);
  if (!row) return;
  free(const_cast<char *>(row->spec));
  row->spec = copyWord(spec, specLength);
}

void STPSpecClass::handleGetInterface(STPAsciiIMsg *, STPAsciiOMsg *reply) {
  if (!reply) return;
  reply->putStartArray("msgs", ownMessageCount);
  for (int i = 0; i < ownMessageCount; ++i) {
    reply->putStartStruct();
    reply->putIdent("name", ownMessages[i].name ? ownMessages[i].name : "");
    reply->putQuotedIdent("fmt", ownMessages[i].spec ? ownMessages[i].spec : "");
    reply->putEndStruct();
  }
  reply->putEndArray();
}
