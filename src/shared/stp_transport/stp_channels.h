// STPChannel: a virtual channel between two routing numbers on one
// STPTransport, opened and closed by a three-step handshake of
// channel-control packets (type 6: id 1 create, 2 start, 3 close). Both sides
// call STPTransport::createChannel for the same pair; each side's create is
// the other's acknowledgement. A channel is started when start was both sent
// and received, and closed once close was sent or received.
//
// The transport's channel map owns its channels (key: local RN, remote RN);
// a channel made because the peer's create arrived first waits there until
// createChannel hands it out. Deleting a channel removes it from the map
// and queues its close packet when none was sent; the transport deletes the
// channels still in its map when it goes away. The channel keeps a plain
// pointer to its transport. One thread.
//
// The transport members createChannel, awaitSync and the loopback set-up
// functions (declared in stp_transport.h) are defined with this module.
#pragma once

#include "shared/stp_transport/stp_transport.h"
#include "shared/stp_transport/tstat.h"

class STPChannel {
 public:
  // Normally made by STPTransport::createChannel or on receipt of a create;
  // registers itself in the transport's channel map, replacing nothing (the
  // caller makes sure the pair is free).
  STPChannel(STPTransport *owner, int localRN, int remoteRN);
  // Queues a close packet when none was sent, then leaves the map.
  ~STPChannel();
  STPChannel(const STPChannel &) = delete;
  STPChannel &operator=(const STPChannel &) = delete;

  // Sends start and waits (rh, or serviceOnce rounds without a time limit)
  // until the peer's start arrived and the packet is written. Refused with
  // code 3 when start or close was already sent, code 6 when the peer
  // closed; code 6 also when a close arrives while waiting, 7 when rh gives
  // up. Fills the channel's status and copies it to stat.
  bool startChannel(RetryHandler *rh, TStat *stat);
  // Sends close and waits until it is written. Refused with code 3 when
  // close was already sent; 7 when rh gives up.
  bool closeChannel(RetryHandler *rh, TStat *stat);
  bool isChannelStarted() const { return startSent && startReceived; }
  bool isChannelClosed() const { return closeSent || closeReceived; }

  STPTransport *getTransport() const { return owner; }
  int getLocalRN() const { return localRN; }
  int getRemoteRN() const { return remoteRN; }
  const TStat &getStat() const { return stat; }

  bool wasCreateSent() const { return createSent; }
  bool wasCreateReceived() const { return createReceived; }
  bool wasStartSent() const { return startSent; }
  bool wasStartReceived() const { return startReceived; }
  bool wasCloseSent() const { return closeSent; }
  bool wasCloseReceived() const { return closeReceived; }

 private:
  friend class STPTransport;
  friend struct STPChannelControl;

  // Queues a channel-control packet with `id` from localRN to remoteRN;
  // false (status filled) when the transport refused it.
  bool queueControl(int id);
  // Waits on the owner until done() holds; false when rh gave up or the
  // transport failed (status filled with timeoutText or the failure).
  bool wait(RetryHandler *rh, bool (*done)(const STPChannel *), const char *timeoutText);

  STPTransport *owner;  // not referenced; null once the transport is gone
  int localRN;
  int remoteRN;
  bool createSent = false;
  bool createReceived = false;
  bool startSent = false;
  bool startReceived = false;
  bool closeSent = false;
  bool closeReceived = false;
  TStat stat;
};
