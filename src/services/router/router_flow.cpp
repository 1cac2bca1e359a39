// Router_Core: flow control, stalled consumers and senders' routing numbers.
//
// Each plugin's queue is the unsent part of its link's write buffer. When a
// packet is forwarded to a plugin whose queue is past the high-water mark,
// that plugin becomes congested and the sender is no longer read until the
// queue drains below a quarter of the mark; the sender's own process then
// waits in its socket, so a busy consumer slows its senders instead of
// being cut off. All queues together have a cap too: above it no link is
// read until they drain below three quarters of it.
//
// Only a consumer that takes nothing of its queue for the stall time while
// over a limit is disconnected: that is a stalled listener, and cutting it
// frees the senders. A link that stops in the middle of a packet is cut
// after the partial-packet time.
#include <algorithm>
#include <climits>

#include "services/router/router_core.h"
#include "services/router/router_log.h"
#include "services/router/router_plugin.h"
#include "services/router/router_transport.h"
#include "shared/libcxxutil/ut_retry_handler.h"

void Router_Core::noteFeeding(Router_Plugin *dest) {
  if (!dest->congested) {
    if (dest->getTransport()->getWriteBufferUsed() < options.maxPendingBytes) return;
    dest->congested = true;
    dest->congestedSince = dest->lastProgress = passNow();
    log->note("plugin %d: %d bytes queued, its senders wait", dest->getId(),
              dest->getTransport()->getWriteBufferUsed());
  }
  std::vector<int> &w = dest->waitingFeeders;
  if (std::find(w.begin(), w.end(), reading->getId()) != w.end()) return;
  w.push_back(reading->getId());
  ++reading->blockedOn;
}

// After a write to `p` (its queue held `queuedBefore` bytes): progress is
// noted, and a congested queue that drained releases its senders.
void Router_Core::updateFlow(Router_Plugin *p, int queuedBefore) {
  int queued = p->getTransport()->getWriteBufferUsed();
  if (queued < queuedBefore && (p->congested || totalCongested))
    p->lastProgress = passNow();
  if (p->congested && queued < options.maxPendingBytes / 4) {
    log->note("plugin %d: queue drained, its senders go on", p->getId());
    releaseFeeders(p);
  }
}

void Router_Core::releaseFeeders(Router_Plugin *p) {
  p->congested = false;
  for (int id : p->waitingFeeders)
    if (Router_Plugin *f = findPlugin(id)) f->blockedOn = std::max(0, f->blockedOn - 1);
  p->waitingFeeders.clear();
}

long long Router_Core::totalQueued() const {
  long long total = 0;
  for (const auto &entry : plugins) total += entry.second->getTransport()->getWriteBufferUsed();
  return total;
}

void Router_Core::updateTotal(long long now, long long total) {
  if (!totalCongested && total > options.maxTotalBytes) {
    totalCongested = true;
    totalCongestedSince = now;
    log->warn("%lld bytes queued for all plugins, above the cap of %lld: reading paused",
              total, options.maxTotalBytes);
  } else if (totalCongested && total < options.maxTotalBytes / 4 * 3) {
    totalCongested = false;
    log->note("queues drained to %lld bytes: reading resumed", total);
  }
}

// Since when a consumer over a limit has taken nothing of its queue; -1
// when it is not over a limit.
long long Router_Core::stallClock(const Router_Plugin *p) const {
  if (p->congested) return std::max(p->congestedSince, p->lastProgress);
  if (totalCongested && p->getTransport()->dataInWriteBuffer())
    return std::max(totalCongestedSince, p->lastProgress);
  return -1;
}

// A stalled consumer, or a link stalled in the middle of a packet, is cut.
void Router_Core::checkStalls(Router_Plugin *p, long long now) {
  Router_Transport *t = p->getTransport();
  if (readingPaused(p)) p->lastInputAt = now;  // waiting for others is no stall
  long long since = stallClock(p);
  if (since >= 0 && now - since >= options.stallTimeoutMs) {
    log->warn("plugin %d disconnected: %d bytes queued for it and nothing taken for %d ms",
              p->getId(), t->getWriteBufferUsed(), options.stallTimeoutMs);
    disconnectPlugin(p, "stalled listener", false);
  } else if (t->isMidPacket() && now - p->lastInputAt >= options.partialTimeoutMs) {
    log->warn("plugin %d disconnected: nothing received for %d ms in the middle of a packet",
              p->getId(), options.partialTimeoutMs);
    disconnectPlugin(p, "partial packet time limit", false);
  }
}

long long Router_Core::nextFlowDeadline(const Router_Plugin *p) const {
  long long next = LLONG_MAX;
  long long since = stallClock(p);
  if (since >= 0) next = std::min(next, since + options.stallTimeoutMs);
  if (p->getTransport()->isMidPacket())
    next = std::min(next, p->lastInputAt + options.partialTimeoutMs);
  return next;
}

// A packet from an RN the sending plugin does not own: someone trying to
// speak for another plugin. Dropped; the first one of each plugin is logged.
STPTransport *Router_Core::dropForged(int sourceRN, int destRN) {
  if (!reading->forgeryLogged) {
    reading->forgeryLogged = true;
    log->warn("plugin %d sent a packet from RN %d, which it does not own, to RN %d: dropped "
              "(later ones of this plugin are dropped without a word)",
              reading->getId(), sourceRN, destRN);
  }
  sink->discardOutput();
  return sink;
}
