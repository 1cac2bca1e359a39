// STPSpecClass receive path: the transport listener, classification of an
// incoming message, deferral (with the extra reference that keeps the
// endpoint alive while its messages wait), dispatch by packet type and the
// reply. One thread; handlers may re-enter the transport and may drop the
// endpoint's last outside reference, so the endpoint and the transport are
// both held for the duration of a dispatch.
#include <cstring>

#include "shared/indgen.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_specclass_listener.h"
#include "shared/stp_transport/stp_speclog.h"
#include "shared/stp_transport/stp_transport.h"

STPSpecClass_HandleMessages::~STPSpecClass_HandleMessages() {
  STPTransport *t = endpoint ? endpoint->getTransport() : nullptr;
  if (t) t->unregisterMessageListener(this);
}

bool STPSpecClass_HandleMessages::handleResponse(STPIMsg *msg, bool flag) {
  return endpoint->handleMessage(msg, msg->type, msg->id, flag);
}

namespace {

// Endpoint-control ids at or above this are ordinary transaction messages;
// below it (negotiate, get interface, synchronize) they are always safe.
constexpr int kFirstTransactionControlId = 9;

}  // namespace

bool STPSpecClass::handleMessage(STPIMsg *msg, int type, int id, bool flag) {
  if (!transport) return true;  // detached: nobody to hand it to
  addRef();
  // ASCII messages may be sent with id -1: the first word names them.
  if ((type == STP_TYPE_COMMAND || type == STP_TYPE_ASCII) && id == -1) {
    STPAsciiIMsg view(msg);
    int len = 0;
    const char *word = view.peekIdent(&len);
    msg->id = id = getMessageId(word, len);
  }
  // Classification: which delivery class the own table gives the message.
  if (type == STP_TYPE_ENDPOINT) {
    msg->flags |= id >= kFirstTransactionControlId ? STP_FLAG_TRANSACTION : STP_FLAG_SAFE;
  } else if (id >= 0 && id < ownMessageCount) {
    msg->flags |= ownMessages[id].flags & (STP_FLAG_TRANSACTION | STP_FLAG_SAFE);
  }
  if (!transport->shouldDeliverMessage(msg)) {
    // The transport keeps it in its deferred queue and offers it again; the
    // endpoint must outlive every message of its own waiting there.
    if (!msg->deferred) {
      msg->deferred = true;
      if (++deferredCount == 1) addRef();
    }
    delRef();
    return false;
  }
  dispatchMessage(msg, type, id);
  if (msg->deferred && deferredCount > 0) {
    msg->deferred = false;
    if (--deferredCount == 0) delRef();
  }
  delRef();
  return true;
}

void STPSpecClass::dispatchMessage(STPIMsg *msg, int type, int id) {
  STPTransport *t = transport;
  STPTransportHold hold(t);  // a handler may detach the endpoint
  STPTransport::incrementStackDepth();
  t->pushToken(msg->token, msg->depth, msg->flags);
  STPAsciiOMsg *areply = nullptr;
  STPBinaryOMsg *breply = nullptr;
  if (msg->flags & STP_FLAG_REPLY) {
    if (type == STP_TYPE_BINARY)
      breply = t->createBinaryReply(localRN, remoteRN, msg->serial, 0);
    else
      areply = t->createAsciiReply(localRN, remoteRN, msg->serial, 0);
  }
  ++callerCount;
  dispatchByType(msg, type, id, areply, breply);
  --callerCount;
  STPOMsg *reply = areply ? static_cast<STPOMsg *>(areply) : breply;
  if (reply && STPOMsg::finishedSize(reply->get_pos()) > kSTPMaxPacketBytes) {
    // Too big for the router, which would not pass it on. The asker gets an
    // empty reply (every field reads as 0 or null) at once instead of
    // waiting for a reply that never comes.
    gen_warning("reply of %d bytes to connection %d refused: larger than %d bytes", reply->get_pos(),
                remoteRN, kSTPMaxPacketBytes);
    delete reply;
    if (type == STP_TYPE_BINARY)
      reply = t->createBinaryReply(localRN, remoteRN, msg->serial, 0);
    else
      reply = t->createAsciiReply(localRN, remoteRN, msg->serial, 0);
  }
  if (reply) {
    // The reply goes back on the transport the request came from.
    if (sendingUp) {
      TStat st;
      t->enqueueAndTryMessage(reply, 2, &st);
    }
    delete reply;
  }
  t->popToken();
  STPTransport::decrementStackDepth();
}

void STPSpecClass::dispatchByType(STPIMsg *msg, int type, int id, STPAsciiOMsg *areply,
                                  STPBinaryOMsg *breply) {
  switch (type) {
    case STP_TYPE_ENDPOINT: {
      STPAsciiIMsg view(msg);
      if (id == kSTPCtlNegotiate)
        handleNegotiate(&view);
      else if (id == kSTPCtlGetInterface)
        handleGetInterface(&view, areply);
      else if (id == kSTPCtlSynchronize)
        synchronized = true;
      break;
    }
    case STP_TYPE_COMMAND: {
      STPAsciiIMsg view(msg);
      int action = view.getNumber("__action");
      view.getMsg()->rewind();
      int ret = handleCommandMessage(&view, areply, id, action);
      if (areply) areply->putNumber("__ret", ret);
      break;
    }
    case STP_TYPE_ASCII: {
      STPAsciiIMsg view(msg);
      handleAsciiMessage(&view, areply, id);
      break;
    }
    case STP_TYPE_BINARY: {
      STPBinaryIMsg view(msg);
      handleBinaryMessage(&view, breply, id);
      break;
    }
    default:
      gen_warning("oops");
      break;
  }
}

bool STPSpecClass::beginDispatch(STPIMsg *msg, int id) {
  if (id < 0 || id >= ownMessageCount) return false;
  if (recvLog) STPSpecLog_write(recvLog, this, true, "RECV: ", ownMessages[id], false, msg, STPSpecLogSide::Received);
  if (!isBinaryInterface()) {
    // The body starts with the message name; the fields follow it.
    STPAsciiIMsg view(msg);
    int len = 0;
    view.getIdent(&len);
  }
  return true;
}

void STPSpecClass::endDispatch(STPOMsg *reply, int id) {
  if (reply && sendLog && id >= 0 && id < ownMessageCount)
    STPSpecLog_writeSent(sendLog, this, true, "REPLY: ", ownMessages[id], true, reply);
}

void STPSpecClass::handleAsciiMessage(STPAsciiIMsg *, STPAsciiOMsg *, int) {
  gen_warning("unexpected stp ascii message");
}

void STPSpecClass::handleBinaryMessage(STPBinaryIMsg *, STPBinaryOMsg *, int) {
  gen_warning("unexpected stp binary message");
}

int STPSpecClass::handleCommandMessage(STPAsciiIMsg *, STPAsciiOMsg *, int, int) {
  gen_warning("unexpected stp command message");
  return 0;
}
