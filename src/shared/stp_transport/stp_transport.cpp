// STPTransport core: lifetime and reference counting, the process-wide
// registries (transport map with its one-entry cache, list of all
// transports), status helpers, transaction tokens and the message depth,
// packet creation and queueing into the write buffer.
// One thread; see stp_transport.h for the ownership rules.
#include "shared/stp_transport/stp_transport.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "shared/indgen.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"
#include "shared/stp_transport/stp_msg.h"

int STPTransport::messageDepth = 0;
int STPTransport::_dont_deliver = 0;
int STPTransport::_only_deliver_safemsg_or_backmsg_for_transaction = 0;
STPTransport::ChannelHooks STPTransport::channelHooks;

namespace {

// Process-wide registries: created on first use and kept until exit, so that
// transports destroyed from exit handlers still find them.
struct CookieMap {
  std::map<int, STPTransport *> byCookie;
  int nextCookie = 0;
  int cachedCookie = 0;
  STPTransport *cached = nullptr;
};

CookieMap &cookieMap() {
  static CookieMap *map = new CookieMap;
  return *map;
}

std::vector<STPTransport *> &allTransports() {
  static std::vector<STPTransport *> *list = new std::vector<STPTransport *>;
  return *list;
}

char *allocBuffer(int size) {
  char *p = static_cast<char *>(std::malloc(size > 0 ? size : 1));
  if (!p) gen_outofmemory();
  return p;
}

}  // namespace

// ---------------------------------------------------------------------------
// Lifetime

STPTransport::STPTransport(int bufferSize) {
  if (bufferSize < 64) bufferSize = 64;
  for (Buffer *b : {&wbuf, &rbuf}) {
    b->initialSize = bufferSize;
    b->capacity = bufferSize;
    b->data = allocBuffer(bufferSize);
  }
  CookieMap &m = cookieMap();
  cookie = ++m.nextCookie;
  m.byCookie[cookie] = this;
  STPTransportStacker::addTransport(this);
}

STPTransport::~STPTransport() {
  deleting = true;
  if (!channels.empty() && channelHooks.destroyAll) channelHooks.destroyAll(this);
  closeConnection(nullptr);
  CookieMap &m = cookieMap();
  m.byCookie.erase(cookie);
  if (m.cached == this) {
    m.cached = nullptr;
    m.cachedCookie = 0;
  }
  STPTransportStacker::removeTransport(this);
  dropQueue(responses);
  dropQueue(unclaimed);
  // No deferred message keeps a listener any more: a listener's owner holds
  // the transport until it unregisters.
  std::vector<DeferredMsg> doomed;
  doomed.swap(deferred);
  for (DeferredMsg &d : doomed) delete d.msg;
  listeners.clear();
  std::free(wbuf.data);
  std::free(rbuf.data);
}

void STPTransport::addRef() {
  if (deleting) return;
  ++refCount;
}

void STPTransport::delRef() {
  if (deleting) return;
  if (--refCount == 0) {
    deleting = true;
    delete this;
  }
}

void STPTransport::dropQueue(std::vector<STPIMsg *> &queue) {
  // Deleting may not re-enter the queue, but take the list out first anyway.
  std::vector<STPIMsg *> doomed;
  doomed.swap(queue);
  for (STPIMsg *m : doomed) delete m;
}

STPTransport *STPTransport::lookupCookie(int key) {
  CookieMap &m = cookieMap();
  if (m.cached && m.cachedCookie == key) return m.cached;
  auto it = m.byCookie.find(key);
  if (it == m.byCookie.end()) return nullptr;
  m.cachedCookie = key;
  m.cached = it->second;
  return it->second;
}

void STPTransport::setChannelHooks(const ChannelHooks &hooks) { channelHooks = hooks; }

// ---------------------------------------------------------------------------
// Status helpers

bool STPTransport::fail(int code, const char *message, TStat *out) {
  stat.set(code, message);
  TStat_copy(out, stat);
  return false;
}

bool STPTransport::report(TStat *out) {
  TStat_copy(out, stat);
  return stat.ok();
}

// ---------------------------------------------------------------------------
// Tokens and depth

void STPTransport::setDefaultToken(int origin) {
  defaultToken.origin = static_cast<uint16_t>(origin);
}

STPToken STPTransport::getCurrentToken() const {
  return tokenStack.empty() ? defaultToken : tokenStack.back();
}

STPToken STPTransport::getSendToken() const {
  if (!tokenStack.empty()) return tokenStack.back();
  STPToken t = defaultToken;
  // A new transaction is numbered after the serial its first packet gets.
  t.number = static_cast<uint16_t>(messageCounter + 1);
  return t;
}

void STPTransport::pushToken(int token, int depth, int flags) {
  STPToken t;
  t.origin = static_cast<uint16_t>(static_cast<uint32_t>(token) >> 16);
  t.number = static_cast<uint16_t>(token);
  t.depth = static_cast<uint16_t>(depth);
  t.flags = flags;
  tokenStack.push_back(t);
}

void STPTransport::popToken() {
  if (!tokenStack.empty()) tokenStack.pop_back();
}

void STPTransport::incrementStackDepth() { ++messageDepth; }

void STPTransport::decrementStackDepth() {
  if (--messageDepth < 0) gen_errorexit(1, "negative message depth!");
}

bool STPTransport::getLastMessageID(int *type, int *id) const {
  if (type) *type = lastValid ? lastType : 0;
  if (id) *id = lastValid ? lastId : 0;
  return lastValid;
}

// ---------------------------------------------------------------------------
// Packets

STPAsciiOMsg *STPTransport::createAsciiMessage(int sourceRN, int destRN, int type, int id,
                                               int flags) {
  STPToken t = getSendToken();
  return new STPAsciiOMsg(sourceRN, destRN, type, id, 0, flags, t.word(), t.depth + 1);
}

STPBinaryOMsg *STPTransport::createBinaryMessage(int sourceRN, int destRN, int type, int id,
                                                 int flags) {
  STPToken t = getSendToken();
  return new STPBinaryOMsg(sourceRN, destRN, type, id, 0, flags, t.word(), t.depth + 1);
}

STPAsciiOMsg *STPTransport::createAsciiReply(int sourceRN, int destRN, int replyTo, int flags) {
  STPToken t = getCurrentToken();
  return new STPAsciiOMsg(sourceRN, destRN, STP_TYPE_REPLY, -1, replyTo, flags, t.word(), t.depth);
}

STPBinaryOMsg *STPTransport::createBinaryReply(int sourceRN, int destRN, int replyTo, int flags) {
  STPToken t = getCurrentToken();
  return new STPBinaryOMsg(sourceRN, destRN, STP_TYPE_REPLY, -1, replyTo, flags, t.word(),
                           t.depth);
}

int STPTransport::enqueueMessage(STPOMsg *msg) {
  if (!msg || msg->type == 0) {
    fail(kStatBadState, "[enqueueMessage]: invalid message header", nullptr);
    return 0;
  }
  // Before a serial is spent: the packet as it will be on the stream.
  if (STPOMsg::finishedSize(msg->get_pos()) > kSTPMaxPacketBytes) {
    fail(kStatBadState, "[enqueueMessage]: packet larger than the router accepts", nullptr);
    return 0;
  }
  // The counter starts at 1, so a connection's first serial is 2; 0 never
  // names a packet because it means "no reply" in replyTo.
  if (++messageCounter == 0) ++messageCounter;
  msg->finishMessage(messageCounter);
  int headerLength = 0;
  int bodyLength = 0;
  const unsigned char *bytes = msg->getContent(&headerLength, &bodyLength);
  appendToWriteBuffer(bytes, headerLength + bodyLength);
  lastValid = true;
  lastType = msg->type;
  lastId = msg->id;
  return messageCounter;
}

void STPTransport::appendToWriteBuffer(const void *bytes, int length) {
  int size = (length + 3) & ~3;  // packets occupy whole words on the stream
  if (wbuf.start + wbuf.used + size > wbuf.capacity) {
    if (wbuf.used + size <= wbuf.capacity) {
      // Room enough once the pending bytes sit at the front.
      std::memmove(wbuf.data, wbuf.data + wbuf.start, wbuf.used);
      wbuf.start = 0;
    } else {
      wbuf.regrow(wbuf.used + (wbuf.used > size ? wbuf.used : size));
    }
  }
  char *at = wbuf.data + wbuf.start + wbuf.used;
  std::memcpy(at, bytes, length);
  std::memset(at + length, 0, size - length);
  wbuf.used += size;
}

void STPTransport::Buffer::regrow(int newCapacity) {
  char *grown = allocBuffer(newCapacity);
  std::memcpy(grown, data + start, used);
  std::free(data);
  data = grown;
  capacity = newCapacity;
  start = 0;
}

void STPTransport::Buffer::clear() {
  if (capacity != initialSize) {
    std::free(data);
    data = allocBuffer(initialSize);
    capacity = initialSize;
  }
  start = 0;
  used = 0;
}

void STPTransport::resetBuffers() {
  wbuf.clear();
  rbuf.clear();
  needMore = false;
  skipRemaining = 0;
}

// ---------------------------------------------------------------------------
// STPTransportStacker

STPTransportStacker::STPTransportStacker(STPTransport *transport) {
  if (transport || !allTransports().empty()) {
    STPTransport::incrementStackDepth();
    raised = true;
  }
}

STPTransportStacker::~STPTransportStacker() {
  if (raised) STPTransport::decrementStackDepth();
}

void STPTransportStacker::addTransport(STPTransport *transport) {
  allTransports().push_back(transport);
}

void STPTransportStacker::removeTransport(STPTransport *transport) {
  std::vector<STPTransport *> &list = allTransports();
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == transport) {
      list.erase(list.begin() + static_cast<long>(i));
      return;
    }
  }
}

int STPTransportStacker::getTransportCount() { return static_cast<int>(allTransports().size()); }
