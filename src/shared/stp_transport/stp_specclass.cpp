// STPSpecClass core: construction and destruction, reference counting,
// attaching to a transport, the interface tables and their lookups, logs,
// up/down marking and the send guard canSendMessage.
// One thread; see stp_specclass.h for the ownership rules.
#include "shared/stp_transport/stp_specclass.h"

#include <cstdlib>
#include <cstring>

#include "shared/indgen.h"
#include "shared/stp_transport/stp_specclass_listener.h"
#include "shared/stp_transport/stp_transport.h"

STPSpecClass::STPSpecClass() : defaultRetryHandler(new STPRetryHandler()) {}

STPSpecClass::~STPSpecClass() {
  gen_assert(refCount == 0);
  // The listener unregisters itself from the transport.
  delete listener;
  listener = nullptr;
  if (transport) transport->delRef();
  transport = nullptr;
  delete defaultRetryHandler;
  freePeerTables();
}

void STPSpecClass::addRef() {
  if (deleting) return;
  ++refCount;
}

void STPSpecClass::delRef() {
  if (deleting) return;
  if (--refCount == 0) {
    deleting = true;
    delete this;
  }
}

void STPSpecClass::setDefaultRetryHandler(RetryHandler *rt) {
  gen_assert(rt != NULL);
  if (rt != defaultRetryHandler) delete defaultRetryHandler;
  defaultRetryHandler = rt;
  retryHandlerExplicit = true;
}

RetryHandler *STPSpecClass::getDefaultRetryHandler() { return defaultRetryHandler; }

void STPSpecClass::hasBeenMarkedDown() {}

void STPSpecClass::setTransport(STPTransport *t, int local, int remote) {
  addRef();
  // Reference the new transport before dropping the old one: they may be the
  // same object with the endpoint holding its last reference.
  if (t) t->addRef();
  // Unregistering also ends the reference the old transport held on this
  // endpoint for its deferred messages, which can no longer reach it.
  if (transport && listener) transport->unregisterMessageListener(listener);
  delete listener;
  listener = nullptr;
  if (transport) transport->delRef();
  transport = t;
  localRN = local != 0 ? local : getDefaultLocalRN();
  remoteRN = remote != 0 ? remote : getDefaultRemoteRN();
  if (transport) {
    listener = new STPSpecClass_HandleMessages(this);
    for (int type : {STP_TYPE_ENDPOINT, STP_TYPE_COMMAND, STP_TYPE_ASCII, STP_TYPE_BINARY})
      transport->registerMessageListener(remoteRN, localRN, listener, type);
    // A handler set explicitly stays; otherwise the default one services
    // the new transport while waiting.
    if (!retryHandlerExplicit) {
      delete defaultRetryHandler;
      defaultRetryHandler = new STPRetryHandler(transport);
    }
  }
  delRef();
}

void STPSpecClass::setLogging(STPLog *log) {
  sendLog = log;
  recvLog = log;
}

void STPSpecClass::setSendLogging(STPLog *log) { sendLog = log; }

void STPSpecClass::setRecvLogging(STPLog *log) { recvLog = log; }

void STPSpecClass::setInterface(const char *iface, const char *roleName, const char *stamp,
                                int ifaceFlags, const STPMessageDesc *own, int ownCount,
                                const STPMessageDesc *peer, int peerCount,
                                const char *const *tags, int tags_count) {
  freePeerTables();
  interfaceName = iface ? iface : "";
  role = roleName ? roleName : "";
  vstamp = stamp ? stamp : "";
  flags = ifaceFlags;
  ownMessages = own;
  peerSpecs = peer;
  ownMessageCount = own ? ownCount : 0;
  peerMessageCount = peer && peerCount > 0 ? peerCount : 0;
  if (peerMessageCount > 0) {
    peerMessages = static_cast<STPMessageDesc *>(calloc(peerMessageCount, sizeof(STPMessageDesc)));
    for (int i = 0; i < peerMessageCount; ++i) {
      peerMessages[i].name = gen_copy(peer[i].name ? peer[i].name : "");
      peerMessages[i].spec = gen_copy(peer[i].spec ? peer[i].spec : "");
      peerMessages[i].id = peer[i].id;
      peerMessages[i].flags = peer[i].flags;
    }
  }
  tagNames = tags;
  tagCount = tags && tags_count > 0 ? tags_count : 0;
  if (tagCount > 0) {
    tagMap = static_cast<int *>(malloc(sizeof(int) * tagCount));
    for (int i = 0; i < tagCount; ++i) tagMap[i] = -1;
  }
}

void STPSpecClass::freePeerTables() {
  for (int i = 0; i < peerMessageCount; ++i) {
    free(const_cast<char *>(peerMessages[i].name));
    free(const_cast<char *>(peerMessages[i].spec));
  }
  free(peerMessages);
  peerMessages = nullptr;
  peerMessageCount = 0;
  for (int i = 0; i < extraPeerMessageCount; ++i) {
    free(const_cast<char *>(extraPeerMessages[i].name));
    free(const_cast<char *>(extraPeerMessages[i].spec));
  }
  free(extraPeerMessages);
  extraPeerMessages = nullptr;
  extraPeerMessageCount = 0;
  free(tagMap);
  tagMap = nullptr;
  free(peerRole);
  peerRole = nullptr;
  free(peerVstamp);
  peerVstamp = nullptr;
}

void STPSpecClass::markAsDown() {
  if (!sendingUp && !receivingUp) return;
  sendingUp = false;
  receivingUp = false;
  addRef();
  hasBeenMarkedDown();
  delRef();
}

void STPSpecClass::markSendingAsDown() { sendingUp = false; }

void STPSpecClass::markReceivingAsDown() { receivingUp = false; }

bool STPSpecClass::canSendMessage(bool mustReceive, bool peerSupports, TStat *stat) {
  TStat local;
  TStat *st = stat ? stat : &local;
  st->clear();
  if (!transport || !negotiated) {
    st->set(kStatBadState, "Attempted send before negotiation is complete.");
    return false;
  }
  if (!sendingUp || (mustReceive && !receivingUp)) {
    st->set(kStatDown, "[send]: virtual connection is down");
    return false;
  }
  if (peerSupports || (peerFlags & 1)) return true;
  st->set(kStatUnsupported, "[send]: sending a message the other side does not support");
  return false;
}

namespace {

// True when the first `length` bytes of word equal the whole of name.
bool sameName(const char *name, const char *word, int length) {
  return name && static_cast<int>(strlen(name)) == length && memcmp(name, word, length) == 0;
}

const STPMessageDesc *findRow(const STPMessageDesc *rows, int count, const char *word,
                              int length) {
  for (int i = 0; i < count; ++i)
    if (sameName(rows[i].name, word, length)) return &rows[i];
  return nullptr;
}

}  // namespace

int STPSpecClass::getMessageId(const char *name) const {
  return name ? getMessageId(name, static_cast<int>(strlen(name))) : -1;
}

int STPSpecClass::getMessageId(const char *name, int length) const {
  if (!name || length <= 0) return -1;
  const STPMessageDesc *row = findRow(ownMessages, ownMessageCount, name, length);
  return row ? row->id : -1;
}

const char *STPSpecClass::getCommandName(int i) const {
  if (i < 0 || i >= ownMessageCount || !ownMessages[i].name) return "";
  return ownMessages[i].name;
}

const STPMessageDesc *STPSpecClass::getSendableMessageDesc(const char *name) const {
  return name ? getSendableMessageDesc(name, static_cast<int>(strlen(name))) : nullptr;
}

const STPMessageDesc *STPSpecClass::getSendableMessageDesc(const char *name, int length) const {
  if (!name || length <= 0) return nullptr;
  const STPMessageDesc *row = findRow(peerMessages, peerMessageCount, name, length);
  return row ? row : findRow(extraPeerMessages, extraPeerMessageCount, name, length);
}

int STPSpecClass::getTagNumber(const char *name) const {
  // tagNames is sorted as strcmp orders it.
  int lo = 0, hi = tagCount - 1;
  while (name && lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = std::strcmp(tagNames[mid], name);
    if (c == 0) return mid;
    if (c < 0) lo = mid + 1;
    else hi = mid - 1;
  }
  return -1;
}

int STPSpecClass::getMappedTag(int tag) const {
  if (tag < 0 || tag >= tagCount || !tagMap) return -1;
  return tagMap[tag];
}
