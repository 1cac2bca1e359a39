// STPSpecClass: one end of a virtual connection over an STPTransport, the
// base class of every protocol endpoint (the generated <Interface>_<role>_Impl
// classes derive from it). It registers itself on the transport for the
// packets addressed to its routing-number pair, negotiates with the peer which
// messages and binary field tags each side knows, classifies incoming
// messages for the transport's delivery decision, dispatches them to the
// subclass, sends the reply, and guards sends with the negotiation result
// and the up/down state of the connection.
//
// Assumes one thread. Endpoints are reference counted (addRef/delRef): a
// handler may drop the last outside reference while the endpoint is still on
// the call stack, so every public operation holds a reference for its
// duration. The endpoint holds one reference on its transport; the transport
// holds only a weak pointer back (the listener), removed when the endpoint
// changes transport or is destroyed, plus one reference while messages for
// the endpoint wait in its deferred queue.
#pragma once

#include <memory>

#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/stp_transport/stp_msg.h"
#include "shared/stp_transport/tstat.h"

class STPTransport;
class STPIMsg;
class STPOMsg;
class STPAsciiIMsg;
class STPAsciiOMsg;
class STPBinaryIMsg;
class STPBinaryOMsg;
class STPLog;
class STPSpecClass_HandleMessages;
class STP_RetryCondition;

// Descriptor flags of an STPMessageDesc row.
enum STPMessageDescFlags {
  kSTPDescSync = 1,         // the sender waits for a reply
  kSTPDescAsync = 2,        // one-way: no reply
  kSTPDescTransaction = 4,  // deliver only inside the current transaction
  kSTPDescSafe = 16,        // may be delivered at any time
  kSTPDescMarked = 128,     // present in some tables; no behaviour depends on it
};

// Ids of endpoint-control packets (type STP_TYPE_ENDPOINT).
enum STPEndpointControlId {
  kSTPCtlNegotiate = 1,
  kSTPCtlGetInterface = 2,
  kSTPCtlSynchronize = 3,
};

// One row of a message table: the message name, its spec string, its number
// and its descriptor flags. Generated tables are static, sorted by name as
// strcmp orders them, with id equal to the row index. Rows held by an
// endpoint (its peer table copy and its extra peer messages) own heap copies
// of name and spec; rows of static tables own nothing.
struct STPMessageDesc {
  const char *name;
  const char *spec;
  int id;
  int flags;
};

class STPSpecClass {
 public:
  // A new endpoint: not negotiated, no transport, both directions up,
  // reference count 1, default retry handler an STPRetryHandler without a
  // transport. Subclass constructors then call setInterface().
  STPSpecClass();

  // Only delRef() destroys an endpoint; destroying one whose reference count
  // is not 0 fails the assertion "refCount == 0".
  virtual ~STPSpecClass();

  // Reference counting. Both do nothing once the endpoint is being deleted;
  // delRef to 0 destroys the object through its virtual destructor.
  void addRef();
  void delRef();
  int getRefCount() const { return refCount; }

  // Replaces the retry handler used when a send is given none; the endpoint
  // takes ownership of rh (non-null; asserts "rt != NULL") and deletes the
  // previous one. A handler set here survives later setTransport() calls.
  virtual void setDefaultRetryHandler(RetryHandler *rt);
  // The handler used when a send is given none; owned by the endpoint.
  virtual RetryHandler *getDefaultRetryHandler();
  // Called once when markAsDown() takes the endpoint down; does nothing here.
  virtual void hasBeenMarkedDown();
  // Routing numbers used when setTransport() is given 0.
  virtual int getDefaultLocalRN() = 0;
  virtual int getDefaultRemoteRN() = 0;
  // Dispatchers of received messages, overridden by generated classes. The
  // message and the reply (null when the sender wants none) stay owned by
  // the caller; id is the own-table index (may be out of range). The base
  // versions only warn.
  virtual void handleAsciiMessage(STPAsciiIMsg *msg, STPAsciiOMsg *reply, int id);
  virtual void handleBinaryMessage(STPBinaryIMsg *msg, STPBinaryOMsg *reply, int id);
  // Returns the number sent back as the reply field "__ret".
  virtual int handleCommandMessage(STPAsciiIMsg *msg, STPAsciiOMsg *reply, int id, int action);

  // Attaches the endpoint to a transport (or detaches it with null): takes a
  // reference on the new transport, drops the old listener and the old
  // transport reference, replaces routing numbers of 0 by the defaults and
  // registers for packets (remoteRN -> localRN) of types 12 to 15. Keeps the
  // negotiation state.
  void setTransport(STPTransport *transport, int localRN = 0, int remoteRN = 0);
  STPTransport *getTransport() const { return transport; }
  int getLocalRN() const { return localRN; }
  int getRemoteRN() const { return remoteRN; }
  // Operations of this endpoint currently on the call stack.
  int getCallerCount() const { return callerCount; }
  bool isNegotiated() const { return negotiated; }
  bool isInterfaceReceived() const { return interfaceReceived; }

  // Protocol logs (not owned, may be null).
  void setLogging(STPLog *log);
  void setSendLogging(STPLog *log);
  void setRecvLogging(STPLog *log);
  STPLog *getSendLog() const { return sendLog; }
  STPLog *getRecvLog() const { return recvLog; }

  // Negotiation. Each fills stat (may be null) and returns true on success.
  // rh may be null: then the transport is serviced with serviceOnce(10000)
  // rounds, without a time limit.
  bool negotiate(RetryHandler *rh, TStat *stat);
  bool sendNegotiate(bool tryWrite, RetryHandler *rh, TStat *stat);
  bool awaitNegotiate(RetryHandler *rh, TStat *stat);
  // Both ends in one process: the tag map and peer ids become identities.
  bool negotiate_local(RetryHandler *rh, TStat *stat);
  // A barrier: both sides call it; returns once the peer's call arrived.
  bool synchronize(RetryHandler *rh, TStat *stat);
  // Asks the peer for its messages' spec strings.
  bool request_interface(RetryHandler *rh, TStat *stat);

  // Up/down state. A direction that went down never comes up again.
  void markAsDown();
  void markSendingAsDown();
  void markReceivingAsDown();
  bool isDown() const { return !sendingUp && !receivingUp; }
  bool isSendingDown() const { return !sendingUp; }
  bool isReceivingDown() const { return !receivingUp; }

  // May a message be sent now? mustReceive: the send waits for a reply;
  // peerSupports: the peer announced the message. Fills stat on refusal.
  bool canSendMessage(bool mustReceive, bool peerSupports, TStat *stat);

  // Adds the delivery class the own table gives `msg` to its header flags
  // (and resolves the id of an ASCII message sent with id -1); the
  // transport asks this before it decides whether to deliver now.
  void classifyMessage(STPIMsg *msg);
  // The receive path, called by the transport through the listener once it
  // decided to deliver. The message stays owned by the transport.
  void handleMessage(STPIMsg *msg, int type, int id, bool flag);

  // Own table lookups: the id of a message name, -1 when unknown or empty.
  int getMessageId(const char *name) const;
  int getMessageId(const char *name, int length) const;
  int getCommandCount() const { return ownMessageCount; }
  // Name of own message i; "" when out of range.
  const char *getCommandName(int i) const;
  // The row a message name is sent with: the peer table row, else the extra
  // peer message row, else null. The row stays owned by the endpoint.
  const STPMessageDesc *getSendableMessageDesc(const char *name) const;
  const STPMessageDesc *getSendableMessageDesc(const char *name, int length) const;

  // What was learned from the peer (valid after negotiation).
  const char *getInterfaceName() const { return interfaceName; }
  const char *getRole() const { return role; }
  const char *getPeerRole() const { return peerRole; }
  const char *getPeerVstamp() const { return peerVstamp; }
  int getPeerFlags() const { return peerFlags; }
  int getPeerMessageCount() const { return peerMessageCount; }
  const STPMessageDesc *getPeerMessages() const { return peerMessages; }
  int getExtraPeerMessageCount() const { return extraPeerMessageCount; }
  const STPMessageDesc *getExtraPeerMessages() const { return extraPeerMessages; }
  int getTagCount() const { return tagCount; }
  // True for an interface of the binary encoding (one with field tags).
  bool isBinaryInterface() const { return tagNames != nullptr; }
  // The own number of the tag named `name`; -1 when there is none.
  int getTagNumber(const char *name) const;
  // The peer's number of own tag `tag`; -1 when the peer does not know it or
  // tag is out of range.
  int getMappedTag(int tag) const;
  // Messages for this endpoint waiting in the transport's deferred queue.
  int getDeferredCount() const;

 protected:
  // Sets the interface description; called once by subclass constructors.
  // The texts and tables are static and not copied, except the peer table,
  // of which the endpoint keeps an owned copy updated by negotiation. For
  // binary interfaces tagNames lists the sorted field names (tagCount of
  // them) and the tag map starts with every entry -1; ASCII interfaces pass
  // null and 0.
  void setInterface(const char *interfaceName, const char *role, const char *vstamp, int flags,
                    const STPMessageDesc *ownMessages, int ownMessageCount,
                    const STPMessageDesc *peerMessages, int peerMessageCount,
                    const char *const *tagNames, int tagCount);

  // A send in progress, used by generated senders as a scope object: holds a
  // reference on the endpoint, the retry handler to use (the given one or
  // the endpoint default) and the status record to fill (the given one or a
  // local one). Only a send that waits needs an STP_RetryCondition on the
  // endpoint: addCondition creates it on first use, so a queued one-way
  // send allocates nothing here. While the condition is added to the
  // handler, a connection marked down ends the wait. The destructor removes
  // the condition (if added) and drops the reference.
  class SendScope {
   public:
    SendScope(STPSpecClass *endpoint, RetryHandler *rh, TStat *stat);
    ~SendScope();
    SendScope(const SendScope &) = delete;
    SendScope &operator=(const SendScope &) = delete;
    RetryHandler *handler() const { return rh_; }
    TStat *stat() const { return stat_; }
    // Adds / removes the retry condition (idempotent).
    void addCondition();
    void removeCondition();

   private:
    STPSpecClass *ep_;
    RetryHandler *rh_;
    std::unique_ptr<STP_RetryCondition> cond_;  // created by the first addCondition
    bool condAdded_ = false;
    TStat local_;
    TStat *stat_;
  };

  // Steps shared by generated senders; peerRow indexes the peer table (the
  // row of the message in the other role's static table).
  // canSendMessage() for that row: peerSupports is "row id != -1" for binary
  // interfaces and always true for ASCII ones.
  bool canSendRow(int peerRow, bool mustReceive, bool binary, TStat *stat);
  // True when the transport's status already holds a failure (the sender then
  // logs "SEND FAILED: <name>\n").
  bool transportHasFailed() const;
  // The start of a generated send: canSendRow, and on refusal the entry
  // "SEND FAILED: <name>" on the send log and null; else newAsciiSend /
  // newBinarySend.
  STPAsciiOMsg *beginAsciiSend(SendScope &scope, int peerRow, bool wantsReply);
  STPBinaryOMsg *beginBinarySend(SendScope &scope, int peerRow, bool wantsReply);
  // Header flags of a send of that row: 1 with a reply, else 2, or 10 when
  // the descriptor has flag 4.
  int sendFlagsForRow(int peerRow, bool wantsReply) const;
  // Sets the header words of a one-way send of a valid peer row: localRN ->
  // remoteRN, the row's id, its flags, no reply serial, the transport's send
  // token and depth. Needs a transport.
  void addressForRow(STPOMsg *msg, int peerRow) const;
  // New request packets addressed localRN -> remoteRN with the id of the peer
  // row; the ASCII form already holds the message name (putIdent). The
  // caller owns the packet (completeOneWay/completeRequest delete it).
  STPAsciiOMsg *newAsciiSend(int peerRow, bool wantsReply);
  STPBinaryOMsg *newBinarySend(int peerRow, bool wantsReply);
  // One-way send: with wait, sendMessage with the condition added and
  // callerCount raised; else only enqueue. Deletes msg. True when queued.
  // With a peer row, the send is first logged on the send log ("SEND: " and
  // the request fields, or "SEND FAILED" when the transport already failed).
  bool completeOneWay(SendScope &scope, STPOMsg *msg, bool wait, int peerRow = -1);
  // completeOneWay without deleting msg.
  bool queueOneWay(SendScope &scope, STPOMsg *msg, bool wait, int peerRow);
  // The one-way send of a message encoded beforehand (the generated
  // send_<Msg> of an ASCII interface: encode_<Msg>, then this): without
  // wait, sendEncoded; with wait, the same checks and header words, then
  // queued and flushed as completeOneWay does with wait. msg stays the
  // caller's.
  bool sendOneWay(STPOMsg *msg, int peerRow, bool wait, RetryHandler *rh, TStat *stat);
  // The check of both: canSendRow for a one-way send, a message and a known
  // row; on refusal "SEND FAILED: <name>" on the send log and stat filled.
  bool readyToSendEncoded(const STPOMsg *msg, int peerRow, TStat *stat);
  // Request with reply: sendMessage, then awaitResponse with the condition
  // added and callerCount raised. Deletes msg. Returns the reply, owned by
  // the caller (delete it), or null with scope.stat() telling why. With a
  // peer row, logs the send as completeOneWay does and the reply that came
  // ("RECV: " and the reply fields) on the receive log.
  STPIMsg *completeRequest(SendScope &scope, STPOMsg *msg, int peerRow = -1);

 public:
  // Queues `msg`, a one-way message of peer row `peerRow` whose body was
  // encoded beforehand (by a generated encode_<Msg>), to this endpoint's
  // peer without waiting. The same message can be sent to many endpoints in
  // turn: only its header words are set here (routing numbers, the peer's
  // id for the row, flags, the transport's token and depth; the serial when
  // queued), the body is never changed, and the transport copies the bytes
  // into its write buffer, so the caller keeps ownership. Refused like
  // send_<Msg> ("SEND FAILED: <name>" on the send log and false, `stat`
  // telling why); logged like send_<Msg> when queued. No retry scope and no
  // heap allocation.
  bool sendEncoded(STPOMsg *msg, int peerRow, TStat *stat = nullptr);

 protected:

  // The start of a generated dispatch: false for an id outside the own table
  // (the message is then ignored); else logs the request on the receive log
  // ("RECV: " and the request fields) and moves an ASCII reader past the
  // message name. The end: logs the reply, when there is one, on the send
  // log ("REPLY: " and the reply fields).
  bool beginDispatch(STPIMsg *msg, int id);
  void endDispatch(STPOMsg *reply, int id);

  // Reads the name of the negotiation/interface records and updates the
  // peer tables; see the sources for the walks.
  void handleNegotiate(STPAsciiIMsg *msg);
  void handleGetInterface(STPAsciiIMsg *msg, STPAsciiOMsg *reply);

  // Raised/lowered around operations that may call out (handlers, waits).
  void enterCall() { ++callerCount; }
  void leaveCall() { --callerCount; }

  // --- state ---
  bool negotiated = false;
  bool interfaceReceived = false;
  bool synchronized = false;
  STPTransport *transport = nullptr;  // one reference held
  int localRN = 0;
  int remoteRN = 0;
  STPLog *sendLog = nullptr;  // not owned
  STPLog *recvLog = nullptr;  // not owned
  int callerCount = 0;
  int refCount = 1;
  bool deleting = false;
  bool retryHandlerExplicit = false;
  RetryHandler *defaultRetryHandler = nullptr;  // owned, never null

  // Own side (static texts and tables, not owned).
  const char *interfaceName = "";
  int tagCount = 0;
  const char *const *tagNames = nullptr;
  const char *role = "";
  const char *vstamp = "";
  int flags = 0;
  int ownMessageCount = 0;
  const STPMessageDesc *ownMessages = nullptr;
  // The static table the peer table was copied from: the field lists this
  // side encodes with, whatever the peer announced.
  const STPMessageDesc *peerSpecs = nullptr;

  // Learned from the peer (owned).
  char *peerRole = nullptr;
  char *peerVstamp = nullptr;
  int peerFlags = 0;
  int *tagMap = nullptr;  // tagCount entries
  int peerMessageCount = 0;
  STPMessageDesc *peerMessages = nullptr;
  STPMessageDesc *extraPeerMessages = nullptr;
  int extraPeerMessageCount = 0;

  bool sendingUp = true;
  bool receivingUp = true;
  STPSpecClass_HandleMessages *listener = nullptr;  // owned

 private:
  friend class STPSpecClass_HandleMessages;
  // Shared waiting loop of awaitNegotiate and synchronize: until *flagp is
  // set, an error shows in the transport status or rh gives up. The caller
  // holds the endpoint and its transport for the duration.
  bool waitForFlag(const bool *flagp, const char *timeoutText, RetryHandler *rh, TStat *stat);
  // Receive path after the delivery decision: token and depth, reply,
  // dispatch by packet type, sending the reply.
  void dispatchMessage(STPIMsg *msg, int type, int id);
  void dispatchByType(STPIMsg *msg, int type, int id, STPAsciiOMsg *areply,
                      STPBinaryOMsg *breply);
  // Records what the peer announced for a message name: updates its peer
  // table row, else its extra row, else appends an extra row.
  void notePeerMessage(const char *name, int length, int id, int rowFlags);
  // Stores a spec string received from request_interface in the matching
  // peer or extra row (ignored when neither exists).
  void notePeerSpec(const char *name, int length, const char *spec, int specLength);
  void freePeerTables();
  // The send-log entry of a send of that peer row about to go out.
  void logSend(int peerRow, const STPOMsg *msg);
};

// Vetoes further waiting once its endpoint is down in both directions.
// Holds a reference on the endpoint for its lifetime; generated senders add
// one to the retry handler for the duration of a send.
class STP_RetryCondition : public RetryCondition {
 public:
  explicit STP_RetryCondition(STPSpecClass *endpoint);
  ~STP_RetryCondition() override;
  STP_RetryCondition(const STP_RetryCondition &) = delete;
  STP_RetryCondition &operator=(const STP_RetryCondition &) = delete;
  bool mayRetry() override;

 private:
  STPSpecClass *endpoint;
};
