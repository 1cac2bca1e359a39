// STPTransport: one byte-stream connection (a TCP socket, or an in-process
// loopback) carrying STP packets between this process and one peer.
//
// The transport owns the socket, a write buffer and a read buffer. It frames
// packets, assigns serial numbers (the first packet of a connection gets
// serial 2), matches replies to requests, keeps messages that may not be
// delivered yet, and offers waits (until written, until a reply came) that
// service the socket themselves or through a RetryHandler. Several endpoints,
// each a pair of routing numbers, share one transport through the listener
// map.
//
// One thread. Re-entrancy is the design point: a listener may send and wait
// while another message is being handled, and the waits service the same
// socket. Process-wide counters decide what may be delivered meanwhile: the
// message depth, the no-delivery counter `_dont_deliver` (raised while a send
// is being written) and the transaction-only counter.
//
// Transports are reference counted: delRef() to 0 deletes the object. The
// listener map and the forwarding handler hold weak pointers; their owners
// unregister them before going away. Every message handed out (replies from
// awaitResponse) belongs to the caller; every message handed in to a
// listener stays the transport's.
//
// Channels, sync packets, loopback set-up and cookies for shared-object hosts
// are built on this class in a separate module (stp_channels); the members
// marked "channel module" below are declared here and defined there. That
// module's two classes, STPChannel and STPChannelControl, are friends: they
// keep the channel map and wait through waitUntil.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "shared/stp_transport/stp_retry_handlers.h"
#include "shared/stp_transport/tstat.h"

class STPMsg;
class STPOMsg;
class STPIMsg;
class STPAsciiOMsg;
class STPBinaryOMsg;
class STPChannel;
class STPTransport;

// A pair of routing numbers: (local, remote) for channels, (source, dest)
// for received sync packets.
struct MsgHeader1 {
  int first;
  int second;
  bool operator<(const MsgHeader1 &o) const {
    return first != o.first ? first < o.first : second < o.second;
  }
  bool operator==(const MsgHeader1 &o) const { return first == o.first && second == o.second; }
};

// The listener map key: (source RN, destination RN, packet type).
struct MsgHeader2 {
  int sourceRN;
  int destRN;
  int type;
  bool operator==(const MsgHeader2 &o) const {
    return sourceRN == o.sourceRN && destRN == o.destRN && type == o.type;
  }
};

struct MsgHeader2Hash {
  size_t operator()(const MsgHeader2 &k) const {
    uint64_t rns = (static_cast<uint64_t>(static_cast<uint32_t>(k.sourceRN)) << 32) |
                   static_cast<uint32_t>(k.destRN);
    return std::hash<uint64_t>()(rns * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(k.type));
  }
};

// Receives the packets registered for a key. Not owned by the transport.
// The transport alone decides when a message is delivered: it asks the
// listeners of the key to classify the message, applies the delivery rules
// (shouldDeliverMessage), and either calls handleResponse or keeps the
// message in its deferred queue and offers it again when the rules allow.
// Listeners are called only while the transport holds itself.
class ResponseListener {
 public:
  // Adds the delivery class this receiver gives the message to its header
  // flags (STP_FLAG_SAFE, STP_FLAG_TRANSACTION) and may resolve its id.
  // Called before every delivery decision; must be idempotent.
  virtual void classify(STPIMsg *msg) {}
  // Takes a message the transport delivers now. `msg` stays owned by the
  // transport (do not keep it). `flag` is true when the message is not an
  // awaited reply and this is the only listener for its key.
  virtual void handleResponse(STPIMsg *msg, bool flag) = 0;
  // The owner of a listener must outlive the messages deferred for it:
  // retain() is called when the first such message is deferred, release()
  // once the last one was delivered or the listener was unregistered.
  virtual void retain() {}
  virtual void release() {}
  virtual ~ResponseListener() = default;
};

// Chooses where received packets for another routing number go. Its owner
// also writes the transports' queues (once per loop pass, for all of them):
// a read pass of a transport with a handler leaves what it queued unwritten.
class ForwardingHandler {
 public:
  virtual ~ForwardingHandler() = default;
  // The transport that a packet for `destRN` is passed on to unchanged, or
  // null to deliver it here.
  virtual STPTransport *getForwardingTransport(int destRN) = 0;
  // The same for a packet whose source RN is known too; a handler that
  // checks senders overrides it (null still means deliver here).
  virtual STPTransport *getForwardingTransportFrom(int sourceRN, int destRN) {
    return getForwardingTransport(destRN);
  }
  // Whether a read pass of `from` may take more bytes after it dispatched
  // what it read; a handler with flow control says no while `from` waits.
  virtual bool keepReading(const STPTransport *from) { return true; }
};

// A transaction token: origin and number of the transaction, its nesting
// depth and the header flags of the message that opened it.
struct STPToken {
  uint16_t origin = 0;
  uint16_t number = 0;
  uint16_t depth = 0;
  int flags = 0;
  // The header word: origin in the high 16 bits, number in the low 16.
  int word() const { return static_cast<int>((static_cast<uint32_t>(origin) << 16) | number); }
};

// A borrowed reference to a callable returning bool, used for the "done"
// test of a wait. Never allocates; the callable must outlive the call it
// is passed to (a lambda written in the argument list does).
class STPWaitPredicate {
 public:
  template <typename F>
  STPWaitPredicate(F &&f)  // NOLINT: implicit on purpose
      : obj_(const_cast<void *>(static_cast<const void *>(&f))),
        call_([](void *o) -> bool { return (*static_cast<std::remove_reference_t<F> *>(o))(); }) {}
  bool operator()() const { return call_(obj_); }

 private:
  void *obj_;
  bool (*call_)(void *);
};

// Loopback hosts: a plain function called with a cookie. For the handle-read
// function of a transport the cookie is its transport-map cookie; the
// function returns false when no transport is registered under it.
using STPHandleReadFunc = bool (*)(int cookie);

class STPTransport {
 public:
  // Buffers of `bufferSize` bytes each (every caller passes 32768). The
  // transport starts idle (dead), with reference count 1, registered under a
  // new cookie in the transport map and in the list of all transports.
  explicit STPTransport(int bufferSize = 32768);

  STPTransport(const STPTransport &) = delete;
  STPTransport &operator=(const STPTransport &) = delete;

  // Reference counting; both do nothing once the count reached 0. delRef to
  // 0 deletes the transport (closing the connection, deleting every queued
  // message and channel, freeing both buffers).
  void addRef();
  void delRef();
  int getRefCount() const { return refCount; }

  // Closes the socket (plain close when useCloseOnSocketShutdown was set,
  // else shutdown and close; no socket is touched in loopback mode), unbinds
  // and drops the cached addresses; a listening socket is closed too. Sets
  // the status to success: callers record their own failure afterwards.
  void closeConnection(TStat *stat);
  void useCloseOnSocketShutdown(bool on = true) { closeOnShutdown = on; }

  // --- connection set-up: each fills the transport's status and `stat` ---
  // Connects to host (dotted IPv4 or a name) and port; refused with code 3
  // "[connect]: Already connected" / "[connect]: Already listening as server".
  bool connect(const char *host, int port, TStat *stat);
  // Listens on `port` and waits for one client (see listenOnFD).
  bool listen(int port, RetryHandler *rh, TStat *stat);
  // Listens on the socket `fd` and waits until a client was accepted, an
  // error occurred or rh gave up (code 7 "[listenOnFD]: timed out waiting
  // for client"). Without rh the wait has no time limit.
  bool listenOnFD(int fd, bool closeListenSocket, RetryHandler *rh, TStat *stat);
  // Adopts a listening socket without waiting.
  bool startListenOnFD(int fd, TStat *stat);
  // Accepts a waiting client once the listening socket was seen readable;
  // false (status still 0) while none is pending.
  bool tryAccept(bool closeListenSocket, TStat *stat);
  // Adopts a connected socket; the transport now owns and closes it.
  bool bindFD(int fd, TStat *stat);
  // Forgets the socket without closing it; both buffers back to the initial
  // size, response queue and awaited set cleared, serial counter back to 1.
  void unbindFD();
  // Set up, then serviceOnce(10000) until an error or the transport is
  // unbound.
  bool listenAndService(int port, TStat *stat);
  bool bindAndService(int fd, TStat *stat);

  bool isListening() const { return listening; }
  bool isBound() const { return bound; }
  bool isDead() const { return !bound && !listening; }
  bool isLoopbackMode() const { return loopback; }
  // The transport's own status record (the last operation's outcome).
  const TStat &getStat() const { return stat; }
  // The bound descriptor, else the listening one, else -1.
  int getFD() const;
  // Dotted IPv4 text of the peer / local address, cached on first use;
  // "" when unknown. Owned by the transport.
  const char *getRemoteAddr();
  const char *getLocalAddr();
  // This transport's key in the transport map.
  int getCookie() const { return cookie; }

  // --- socket helpers (fill `stat`; return a descriptor or -1) ---
  static int connectToServer(const char *host, int port, TStat *stat);
  static int getListenSocket(int port, TStat *stat);
  // Port 0 in *port picks a free port; *port receives the port bound.
  static int getListenSocket(int *port, TStat *stat);
  static bool closeListenSocket(int fd, TStat *stat);
  static int acceptClient(int listenFD, bool closeListenSocket, TStat *stat);

  // --- messages ---
  // New request packets, owned by the caller: token = the send token, depth
  // = its depth + 1.
  STPAsciiOMsg *createAsciiMessage(int sourceRN, int destRN, int type, int id, int flags);
  STPBinaryOMsg *createBinaryMessage(int sourceRN, int destRN, int type, int id, int flags);
  // New reply packets (type -1, id -1), owned by the caller: the current
  // token and its depth unchanged.
  STPAsciiOMsg *createAsciiReply(int sourceRN, int destRN, int replyTo, int flags);
  STPBinaryOMsg *createBinaryReply(int sourceRN, int destRN, int replyTo, int flags);

  // Assigns the next serial, finishes the packet and appends it to the write
  // buffer. Returns the serial, or 0 (code 3 "[enqueueMessage]: invalid
  // message header" for type 0; code 3 "[enqueueMessage]: packet larger
  // than the router accepts" above kSTPMaxPacketBytes, nothing queued).
  // msg stays owned by the caller.
  int enqueueMessage(STPOMsg *msg);
  // Enqueue, then at most `tries` write attempts with delivery suspended.
  // Returns the serial, 0 when it was not queued or a write failed.
  int enqueueAndTryMessage(STPOMsg *msg, int tries, TStat *stat);
  // Enqueue and wait until the whole write buffer is written. A synchronous
  // request (flags without bit 2) keeps the message depth raised and its
  // token pushed until awaitResponse(). Returns the serial or 0.
  int sendMessage(STPOMsg *msg, RetryHandler *rh, TStat *stat);
  // The reply to `serial`, owned by the caller (delete it), or null with the
  // status saying why. Always lowers the depth and pops the token that
  // sendMessage left.
  STPIMsg *awaitResponse(int serial, RetryHandler *rh, TStat *stat);
  // Delivers the first unclaimed message with that source, destination and
  // type; false when there is none. Like deliverMessage, one hold for the
  // delivery.
  bool dequeueAndDeliverMessage(int sourceRN, int destRN, int type);
  // Hands a received message to its listeners or queues it; takes ownership.
  // A reply that no listener takes and nobody awaits is deleted. Holds the
  // transport while the listeners run.
  void deliverMessage(STPIMsg *msg);
  // May `msg` be handed to its endpoint now? (The delivery rules.)
  bool shouldDeliverMessage(const STPIMsg *msg) const;

  // Several listeners may share a key. unregister removes every
  // registration of that listener.
  void registerMessageListener(int sourceRN, int destRN, ResponseListener *listener, int type);
  void unregisterMessageListener(ResponseListener *listener);
  // Not owned; null removes it.
  void setForwardingHandler(ForwardingHandler *handler) { forwardingHandler = handler; }
  ForwardingHandler *getForwardingHandler() const { return forwardingHandler; }

  // Transaction tokens.
  void setDefaultToken(int origin);
  STPToken getCurrentToken() const;
  // The token new requests carry: the current one, or with an empty stack
  // the default token numbered after the serial the next packet will get.
  STPToken getSendToken() const;
  void pushToken(int token, int depth, int flags);
  void popToken();
  int getTokenStackSize() const { return static_cast<int>(tokenStack.size()); }
  // The process-wide message depth. Going below 0 ends the process (status
  // 1, "negative message depth!").
  static void incrementStackDepth();
  static void decrementStackDepth();
  static int getMessageDepth() { return messageDepth; }
  // Type and id of the last queued packet; false when none was queued.
  bool getLastMessageID(int *type, int *id) const;

  // --- servicing ---
  // One round: wait at most timeoutMs for socket activity and handle it.
  // False with the status set when the transport is dead or failed.
  bool serviceOnce(int timeoutMs, TStat *stat);
  // One wait over several transports; each ready one writes, then reads.
  static bool serviceFirst(int timeoutMs, STPTransport *const *transports, int count,
                           TStat *stat);
  bool handleRead(TStat *stat);
  bool handleWrite(TStat *stat);
  bool handleDequeueAndDispatch(TStat *stat);
  bool wantsToRead() const;
  bool wantsToWrite() const { return bound && !loopback && wbuf.used > 0; }
  bool dataInWriteBuffer() const { return wbuf.used > 0; }
  bool wantsToDequeueAndDispatch() const;
  // Packets larger than `bytes` on the wire (0: no limit) are skipped: their
  // bytes are dropped as they arrive instead of being collected, and the
  // connection stays up. Each one skipped is counted.
  void setPacketLimit(long long bytes) { packetLimit = bytes; }
  int getSkippedPacketCount() const { return skippedPackets; }
  // Whether part of a packet (kept or being skipped) waits for more bytes.
  bool isMidPacket() const { return rbuf.used > 0 || skipRemaining > 0; }

  // Inspection, for tests and diagnostics.
  int getResponseCount() const { return static_cast<int>(responses.size()); }
  int getUnclaimedCount() const { return static_cast<int>(unclaimed.size()); }
  int getDeferredCount() const { return static_cast<int>(deferred.size()); }
  // Deferred messages that keep `listener` (see ResponseListener::retain).
  int getDeferredCount(const ResponseListener *listener) const;
  int getWriteBufferUsed() const { return wbuf.used; }
  int getWriteBufferCapacity() const { return wbuf.capacity; }
  int getReadBufferUsed() const { return rbuf.used; }
  int getReadBufferCapacity() const { return rbuf.capacity; }
  int getInitialBufferSize() const { return wbuf.initialSize; }
  int getMessageCounter() const { return messageCounter; }

  // Process-wide delivery counters.
  static int getDontDeliver() { return _dont_deliver; }
  static int getTransactionOnlyCount() {
    return _only_deliver_safemsg_or_backmsg_for_transaction;
  }

  // --- channel module (stp_channels.cpp, library korvo_stp_channels) ---
  STPChannel *createChannel(int localRN, int remoteRN, RetryHandler *rh, TStat *stat);
  bool awaitSync(int sourceRN, int destRN, RetryHandler *rh, TStat *stat);
  static bool createLoopbackPair(STPTransport **a, STPTransport **b);
  static void initializeLoopbackPair(STPTransport *a, STPTransport *b);
  static void initializeLoopbackSide(STPTransport *t, int *peerStart, int *peerUsed,
                                     int *peerCapacity, char **peerData,
                                     STPHandleReadFunc notify, int notifyCookie);
  void getBufferInfo(int **start, int **used, int **capacity, char ***data);
  bool getHandleReadInfo(STPHandleReadFunc *func, int *cookie);
  static STPTransport *getTransportForHandleReadCookie(int cookie);

  // Hooks the channel module installs once: `control` gets every received
  // channel-control packet (type 6; the transport deletes it afterwards),
  // `destroyAll` is called by the destructor when the channel map is not
  // empty and must delete every channel and clear the map.
  struct ChannelHooks {
    void (*control)(STPTransport *transport, STPIMsg *msg) = nullptr;
    void (*destroyAll)(STPTransport *transport) = nullptr;
  };
  static void setChannelHooks(const ChannelHooks &hooks);

  // The transport registered under `cookie`, or null; repeated lookups of
  // the same cookie are answered from a one-entry cache.
  static STPTransport *lookupCookie(int cookie);

 protected:
  // Deleted through delRef() only.
  virtual ~STPTransport();

  // A byte buffer: pending bytes are data[start, start + used).
  struct Buffer {
    int start = 0;
    int used = 0;
    int initialSize = 0;
    int capacity = 0;
    char *data = nullptr;
    // Moves the pending bytes to the front of a new block of `newCapacity`
    // bytes (at least `used`) and frees the old one.
    void regrow(int newCapacity);
    // Drops the pending bytes; a block that has grown or shrunk goes back to
    // the initial size.
    void clear();
  };

  // --- state (fields in the documented order) ---
  bool deleting = false;
  int refCount = 1;
  TStat stat;
  int messageCounter = 1;
  bool listening = false;
  int listenFD = -1;
  bool acceptPending = false;
  bool bound = false;
  int fd = -1;
  bool closeOnShutdown = false;
  std::string remoteAddr;
  std::string localAddr;
  bool lastValid = false;
  int lastType = 0;
  int lastId = 0;
  Buffer wbuf;
  Buffer rbuf;
  bool needMore = false;
  long long packetLimit = 0;    // 0: none
  long long skipRemaining = 0;  // bytes of a skipped packet still to come
  int skippedPackets = 0;
  std::vector<STPIMsg *> responses;  // owned, arrival order
  std::vector<STPIMsg *> unclaimed;  // owned, arrival order
  // A message the delivery rules hold back, and the listener it keeps alive
  // (null when several listeners share its key or the keeper unregistered).
  struct DeferredMsg {
    STPIMsg *msg;  // owned
    ResponseListener *keeper;
  };
  std::vector<DeferredMsg> deferred;  // arrival order
  // Keepers of deferred messages being delivered right now, innermost last;
  // an entry is nulled when its listener unregisters meanwhile.
  std::vector<ResponseListener *> delivering;
  std::vector<STPToken> tokenStack;  // newest last; capacity is reused
  STPToken defaultToken;
  // Serials whose replies are kept: from sendMessage of a request to the
  // end of its awaitResponse. Replies to any other serial are dropped.
  std::vector<int> awaited;
  // The listeners of each key, in registration order (not owned). A hash:
  // a process with a hundred endpoints looked its key up in a tree of a
  // hundred entries for every message.
  std::unordered_map<MsgHeader2, std::vector<ResponseListener *>, MsgHeader2Hash> listeners;
  std::vector<MsgHeader1> syncList;  // received sync packets (source, dest)
  ForwardingHandler *forwardingHandler = nullptr;  // not owned
  // Loopback: the peer's write-buffer fields and the host notification.
  bool loopback = false;
  int *peerStart = nullptr;
  int *peerUsed = nullptr;
  int *peerCapacity = nullptr;
  char **peerData = nullptr;
  STPHandleReadFunc hostNotify = nullptr;
  int hostNotifyCookie = 0;
  std::map<MsgHeader1, STPChannel *> channels;  // owned by the channel module
  int cookie = 0;

  // Process-wide counters.
  static int messageDepth;
  static int _dont_deliver;
  static int _only_deliver_safemsg_or_backmsg_for_transaction;
  static ChannelHooks channelHooks;

 private:
  friend class STPTransportStacker;
  // The channel module: a channel enters and leaves `channels` itself and
  // waits through waitUntil; the receipt hooks look channels up and delete
  // them with the transport. Nothing else touches the map.
  friend class STPChannel;
  friend struct STPChannelControl;
  // The channel for (localRN, remoteRN) in `channels`, or null. Defined
  // with the channel module.
  STPChannel *findChannel(int localRN, int remoteRN) const;
  // Fills the transport status and copies it to `out`; returns ok().
  bool fail(int code, const char *message, TStat *out);
  bool report(TStat *out);
  bool checkIdleFor(const char *connected, const char *listeningText, TStat *out);
  // Appends packet bytes (rounded up to 4, zero padded) to the write buffer.
  void appendToWriteBuffer(const void *bytes, int length);
  void resetBuffers();
  void dropQueue(std::vector<STPIMsg *> &queue);
  void closeSocket(int sock);
  // The read path.
  int readSocket();
  void readLoopbackPeer();
  bool dispatchPackets();
  bool forwardPacket(const char *packet, int size, int sourceRN, int destRN);
  void skipBuffered();
  // The bodies of handleRead, handleDequeueAndDispatch and deliverMessage
  // without holds: their callers hold the transport for the pass.
  void readPass();
  void readTurns();
  void dispatchPass();
  void deliver(STPIMsg *msg);
  void handleReady(bool readable, bool writable);
  void deliverDeferred();
  bool deliverToListeners(STPIMsg *msg, bool awaitedReply);
  void defer(STPIMsg *msg, ResponseListener *keeper);
  bool isKept(const ResponseListener *listener) const;
  bool isAwaited(int serial) const;
  void forgetAwaited(int serial);
  bool isRegistered(const MsgHeader2 &key, ResponseListener *listener) const;
  STPIMsg *takeResponse(int serial);

  // The shared wait of every waiting operation (also for the channel
  // module): with rh, beginOp, then rounds of idle() and retryOp(), then
  // completedOp; without rh, rounds of serviceOnce(10000) with no time
  // limit. done() is asked before the first round and after each; after a
  // round the wait also ends when the status shows an error or the
  // transport is dead.
  // Returns false only when rh gave up.
  bool waitUntil(RetryHandler *rh, STPWaitPredicate done);
};

// Raises the message depth for its lifetime. With a transport it always
// raises it; without one it raises it only when some transport exists.
// addTransport/removeTransport keep the list of all transports (the
// transport constructor and destructor call them).
class STPTransportStacker {
 public:
  explicit STPTransportStacker(STPTransport *transport);
  ~STPTransportStacker();
  STPTransportStacker(const STPTransportStacker &) = delete;
  STPTransportStacker &operator=(const STPTransportStacker &) = delete;

  static void addTransport(STPTransport *transport);
  static void removeTransport(STPTransport *transport);
  static int getTransportCount();

 private:
  bool raised = false;
};

// Holds a reference on a transport for the life of a scope, so that code
// called from inside (listeners, endpoint handlers, nested waits) may drop
// the last outside reference without the transport being freed under the
// caller. `transport` must be alive (count above 0) when the hold is made.
class STPTransportHold {
 public:
  explicit STPTransportHold(STPTransport *transport) : t_(transport) { t_->addRef(); }
  ~STPTransportHold() { t_->delRef(); }
  STPTransportHold(const STPTransportHold &) = delete;
  STPTransportHold &operator=(const STPTransportHold &) = delete;

 private:
  STPTransport *t_;
};
