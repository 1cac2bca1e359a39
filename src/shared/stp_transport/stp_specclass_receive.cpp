// STPSpecClass receive path: the transport listener, classification of an
// incoming message, dispatch by packet type and the reply. Whether a message
// is delivered now or deferred is the transport's decision; it also keeps
// the endpoint alive (through the listener) while messages for it wait.
// One thread; handlers may re-enter the transport and may drop the
// endpoint's last outside reference, so the endpoint holds itself for the
// duration of a dispatch (the transport is held by its dispatch pass).
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

void STPSpecClass_HandleMessages::classify(STPIMsg *msg) { endpoint->classifyMessage(msg); }

void STPSpecClass_HandleMessages::handleResponse(STPIMsg *msg, bool flag) {
  endpoint->handleMessage(msg, msg->type, msg->id, flag);
}

void STPSpecClass_HandleMessages::retain() { endpoint->addRef(); }

void STPSpecClass_HandleMessages::release() { endpoint->delRef(); }

namespace {

// Endpoint-control ids at or above this are ordinary transaction messages;
// below it (negotiate, get interface, synchronize) they are always safe.
constexpr int kFirstTransactionControlId = 9;

}  // namespace

void STPSpecClass::classifyMessage(STPIMsg *msg) {
  const int type = msg->type;
  // ASCII messages may be sent with id -1: the first word names them.
  if ((type == STP_TYPE_COMMAND || type == STP_TYPE_ASCII) && msg->id == -1) {
    STPAsciiIMsg view(msg);
    int len = 0;
    const char *word = view.peekIdent(&len);
    msg->id = getMessageId(word, len);
  }
  const int id = msg->id;
  if (type == STP_TYPE_ENDPOINT) {
    msg->flags |= id >= kFirstTransactionControlId ? STP_FLAG_TRANSACTION : STP_FLAG_SAFE;
  } else if (id >= 0 && id < ownMessageCount) {
    msg->flags |= ownMessages[id].flags & (STP_FLAG_TRANSACTION | STP_FLAG_SAFE);
  }
}

void STPSpecClass::handleMessage(STPIMsg *msg, int type, int id, bool) {
  if (!transport) return;  // detached: nobody to hand it to
  addRef();
  dispatchMessage(msg, type, id);
  delRef();
}

int STPSpecClass::getDeferredCount() const {
  return transport && listener ? transport->getDeferredCount(listener) : 0;
}

void STPSpecClass::dispatchMessage(STPIMsg *msg, int type, int id) {
  // A handler may detach the endpoint: keep using the transport the message
  // came on (its dispatch pass holds it).
  STPTransport *t = transport;
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
