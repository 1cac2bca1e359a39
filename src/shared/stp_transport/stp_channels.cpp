// Virtual channels and sync packets: the channel handshake (create, start,
// close) kept in the transport's channel map, the receipt of channel-control
// packets (installed as the transport's channel hooks), the destruction of
// the remaining channels with their transport, and the two-sided sync
// barrier. One thread.
#include "shared/stp_transport/stp_channels.h"

#include <algorithm>
#include <map>
#include <vector>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_msg.h"

namespace {

enum ChannelControlId { kCreate = 1, kStart = 2, kClose = 3 };

}  // namespace

STPChannel *STPTransport::findChannel(int localRN, int remoteRN) const {
  auto it = channels.find(MsgHeader1{localRN, remoteRN});
  return it == channels.end() ? nullptr : it->second;
}

// Receipt of channel-control packets and destruction of a transport's
// channels: the two hooks the transport calls.
struct STPChannelControl {
  static void control(STPTransport *t, STPIMsg *msg) {
    // The packet's destination is our local RN, its source the remote one.
    STPChannel *ch = t->findChannel(msg->destRN, msg->sourceRN);
    switch (msg->id) {
      case kCreate:
        if (!ch) ch = new STPChannel(t, msg->destRN, msg->sourceRN);
        ch->createReceived = true;
        break;
      case kStart:
        if (ch) ch->startReceived = true;
        break;
      case kClose:
        if (ch) ch->closeReceived = true;
        break;
      default:
        break;
    }
  }

  static void destroyAll(STPTransport *t) {
    std::map<MsgHeader1, STPChannel *> doomed;
    doomed.swap(t->channels);
    for (auto &entry : doomed) {
      // The transport is going away: nothing more can be sent on it.
      entry.second->owner = nullptr;
      delete entry.second;
    }
  }

  static void install() {
    STPTransport::ChannelHooks hooks;
    hooks.control = &control;
    hooks.destroyAll = &destroyAll;
    STPTransport::setChannelHooks(hooks);
  }
};

namespace {

// Programs that use channels link this file, so the hooks are in place
// before the first packet is read, even when the peer creates first.
[[maybe_unused]] const bool hooksInstalled = (STPChannelControl::install(), true);

}  // namespace

STPChannel::STPChannel(STPTransport *t, int local, int remote)
    : owner(t), localRN(local), remoteRN(remote) {
  if (owner) owner->channels[MsgHeader1{localRN, remoteRN}] = this;
}

STPChannel::~STPChannel() {
  if (!owner) return;
  if (!closeSent && !owner->isDead()) queueControl(kClose);
  auto it = owner->channels.find(MsgHeader1{localRN, remoteRN});
  if (it != owner->channels.end() && it->second == this) owner->channels.erase(it);
}

bool STPChannel::queueControl(int id) {
  STPAsciiOMsg *msg = owner->createAsciiMessage(localRN, remoteRN, STP_TYPE_CHANNEL, id, 0);
  int serial = owner->enqueueMessage(msg);
  delete msg;
  if (serial == 0) TStat_copy(&stat, owner->getStat());
  if (id == kClose) closeSent = true;
  return serial != 0;
}

bool STPChannel::wait(RetryHandler *rh, bool (*done)(const STPChannel *), const char *timeoutText) {
  owner->addRef();
  bool patient = owner->waitUntil(rh, [this, done]() { return done(this); });
  bool ok = done(this);
  if (!ok) {
    if (!owner->getStat().ok())
      stat = owner->getStat();
    else if (!patient)
      stat.set(kStatTimedOut, timeoutText);
    else
      stat.set(kStatPeerClosed, "[channel]: connection closed while waiting");
  }
  owner->delRef();
  return ok;
}

bool STPChannel::startChannel(RetryHandler *rh, TStat *out) {
  stat.clear();
  if (startSent) {
    stat.set(kStatBadState, "[startChannel]: Channel start already sent.");
  } else if (closeSent) {
    stat.set(kStatBadState, "[startChannel]: Channel close already sent.");
  } else if (closeReceived || !owner) {
    stat.set(kStatChannelClosed, "[startChannel]: Channel has been closed.");
  } else if (queueControl(kStart)) {
    startSent = true;
    auto started = [](const STPChannel *c) {
      return c->closeReceived || (c->startReceived && !c->owner->dataInWriteBuffer());
    };
    if (wait(rh, started, "[startChannel]: reached timeout while waiting to receive start") &&
        closeReceived && !startReceived)
      stat.set(kStatChannelClosed, "[startChannel]: channel already closed before start");
  }
  TStat_copy(out, stat);
  return stat.ok();
}

bool STPChannel::closeChannel(RetryHandler *rh, TStat *out) {
  stat.clear();
  if (closeSent) {
    stat.set(kStatBadState, "[startChannel]: Channel already closed.");
  } else if (!owner) {
    closeSent = true;
  } else if (queueControl(kClose)) {
    auto written = [](const STPChannel *c) { return !c->owner->dataInWriteBuffer(); };
    wait(rh, written, "[closeChannel]: reached timeout while waiting to transmit close");
  }
  TStat_copy(out, stat);
  return stat.ok();
}

STPChannel *STPTransport::createChannel(int localRN, int remoteRN, RetryHandler *rh,
                                        TStat *out) {
  stat.clear();
  STPChannel *ch = findChannel(localRN, remoteRN);
  if (ch && ch->createSent) {
    TStat refused;
    refused.set(kStatBadState, "[createChannel]: Tried to create channel that exists");
    TStat_copy(out, refused);
    return nullptr;
  }
  // The peer's create may have arrived first and made the channel already.
  if (!ch) ch = new STPChannel(this, localRN, remoteRN);
  ch->stat.clear();
  if (ch->queueControl(kCreate)) {
    ch->createSent = true;
    auto acked = [](const STPChannel *c) {
      return c->createReceived && !c->owner->dataInWriteBuffer();
    };
    ch->wait(rh, acked, "[createChannel]: reached timeout while waiting to receive create ack");
  }
  TStat_copy(out, ch->stat);
  if (ch->stat.ok()) return ch;
  // No close for a channel the peer never acknowledged.
  ch->closeSent = true;
  delete ch;
  return nullptr;
}

bool STPTransport::awaitSync(int sourceRN, int destRN, RetryHandler *rh, TStat *out) {
  stat.clear();
  STPAsciiOMsg *msg = createAsciiMessage(sourceRN, destRN, STP_TYPE_SYNC, 0, 0);
  int serial = enqueueMessage(msg);
  delete msg;
  if (serial == 0) return report(out);
  addRef();
  // The peer's sync packet travels from its source (our dest) to us.
  const MsgHeader1 wanted{destRN, sourceRN};
  bool got = false;
  auto done = [&]() {
    if (!got) {
      auto it = std::find(syncList.begin(), syncList.end(), wanted);
      if (it != syncList.end()) {
        syncList.erase(it);
        got = true;
      }
    }
    return got && !dataInWriteBuffer();
  };
  bool patient = waitUntil(rh, done);
  bool ok = got && !dataInWriteBuffer();
  // A peer packet taken by a wait that failed anyway stays for the next one.
  if (got && !ok) syncList.insert(syncList.begin(), wanted);
  if (ok)
    report(out);
  else if (!stat.ok())
    report(out);
  else if (!patient)
    fail(kStatTimedOut, "[awaitSync]: reached timeout while waiting to receive sync packet", out);
  else
    fail(kStatPeerClosed, "[awaitSync]: connection closed while waiting for sync packet", out);
  delRef();
  return ok;
}
