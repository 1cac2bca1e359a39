// Router_Core: plugin links, forwarding, limits, idleness and the end.
#include "services/router/router_core.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "services/router/router_endpoint.h"
#include "services/router/router_log.h"
#include "services/router/router_plugin.h"
#include "services/router/router_transport.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

// How long a plugin that asked to be disconnected may take to receive what
// is still queued for it.
constexpr int kDisconnectFlushMs = 2000;

// A queue this long is written between two reads of a pass instead of at
// its end (about one read buffer of packets).
constexpr int kEarlyWriteBytes = 32 * 1024;

// The name of the default services file in the site configuration folder.
constexpr const char *kDefaultServicesFile = "services.cfg";

// Forwards everything to one transport: the discard sink, for the rest of
// the bytes of a plugin that is being thrown out.
class SinkForwarder : public ForwardingHandler {
 public:
  explicit SinkForwarder(Router_Transport *t) : sink(t) {}
  STPTransport *getForwardingTransport(int) override {
    sink->discardOutput();
    return sink;
  }

 private:
  Router_Transport *sink;
};

}  // namespace

Router_Core::Router_Core(const Router_Options &o, Router_Log *l)
    : options(o), log(l), sink(new Router_Transport()) {}

Router_Core::~Router_Core() {
  for (auto &entry : plugins) delete entry.second;
  plugins.clear();
  delete sinkForwarder;
  sink->delRef();
}

bool Router_Core::loadServicesFile(std::string *error) {
  if (!options.servicesFile.empty()) {
    if (!services.read(options.servicesFile.c_str(), error)) return false;
    log->note("services file %s: %d programs", options.servicesFile.c_str(),
              static_cast<int>(services.programs().size()));
    return true;
  }
  const char *dir = gen_getsiteconfigdir();
  if (!dir) return true;
  char *path = gen_sconcat(dir, kDefaultServicesFile);
  if (gen_access(path, R_OK) == 0) {
    std::string why;
    if (services.read(path, &why))
      log->note("services file %s: %d programs", path,
                static_cast<int>(services.programs().size()));
    else
      log->warn("%s; no program will be started on demand", why.c_str());
  }
  gen_free(path);
  return true;
}

// ---------------------------------------------------------------------------
// Plugin links

Router_Plugin *Router_Core::addPlugin(Router_Transport *transport) {
  int id = nextPluginId++;
  Router_Plugin *p = new Router_Plugin(this, id, transport, ut_getTimeMillis64());
  plugins[id] = p;
  transport->setForwardingHandler(this);
  transport->setPacketLimit(options.maxPacketBytes);
  if (log->protocolLog()) p->getEndpoint()->setLogging(log->protocolLog());
  log->note("plugin %d connected", id);
  TStat st;
  if (!p->getEndpoint()->sendNegotiate(false, nullptr, &st))
    disconnectPlugin(p, std::string("could not start negotiating: ") + st.message, false);
  return p;
}

Router_Plugin *Router_Core::findPlugin(int id) const {
  auto it = plugins.find(id);
  return it == plugins.end() ? nullptr : it->second;
}

Router_Endpoint *Router_Core::endpointFor(int pluginId) const {
  Router_Plugin *p = findPlugin(pluginId);
  if (!p || p->isClosing() || !p->welcomed) return nullptr;
  return p->getEndpoint();
}

bool Router_Core::acceptsMessagesFrom(int pluginId) const {
  Router_Plugin *p = findPlugin(pluginId);
  return p && !p->isClosing() && !shuttingDown;
}

bool Router_Core::watchLinks(Router_Poller &poller) {
  bool queued = false;
  for (auto &entry : plugins) {
    Router_Plugin *p = entry.second;
    poller.watch(p->watch, p->linkFD(), p->wantsToRead(), p->wantsToWrite(),
                 static_cast<uint64_t>(p->getId()));
    if (p->wantsToDequeueAndDispatch()) queued = true;
  }
  return queued;
}

// Only what the link was watched for is handled: a hung-up socket is
// reported whatever was asked, and a link paused by flow control must not
// be read.
void Router_Core::linkReady(int id, bool readable, bool writable) {
  Router_Plugin *p = findPlugin(id);
  if (!p) return;
  if (readable && p->watch.forReading()) readFrom(p, false);
  if (writable && p->watch.forWriting() && p->wantsToWrite()) pluginWritable(p);
}

void Router_Core::dispatchQueued() {
  for (auto &entry : plugins)
    if (entry.second->wantsToDequeueAndDispatch()) readFrom(entry.second, true);
}

// The forwarding handler is asked on behalf of `reading`: that is whose
// source RNs are checked and who waits when a destination is congested.
void Router_Core::readFrom(Router_Plugin *p, bool dispatchOnly) {
  if (!dispatchOnly) p->lastInputAt = passNow();
  reading = p;
  if (dispatchOnly)
    p->getTransport()->handleDequeueAndDispatch(nullptr);
  else
    p->getTransport()->handleRead(nullptr);
  reading = nullptr;
  afterRead(p);
}

void Router_Core::pluginWritable(Router_Plugin *p) {
  writeQueue(p);
  checkPluginIO(p);
}

// Writes what the socket takes of the plugin's queue.
void Router_Core::writeQueue(Router_Plugin *p) {
  Router_Transport *t = p->getTransport();
  int before = t->getWriteBufferUsed();
  t->handleWrite(nullptr);
  p->socketFull = t->dataInWriteBuffer();
  updateFlow(p, before);
}

// After packets were taken from a link: what no endpoint took is dropped
// (and is a protocol violation: only the router's own RN is delivered
// here), the plugin is welcomed once negotiated, and a closed link ends it.
void Router_Core::afterRead(Router_Plugin *p) {
  sink->discardOutput();
  if (p->isClosing()) return;
  logSkippedPackets(p);
  if (p->getTransport()->discardStrays(nullptr) > 0)
    protocolViolation(p->getId(), "sent packets the router cannot take");
  if (!p->welcomed && p->getEndpoint()->isNegotiated()) welcome(p->getId());
  checkPluginIO(p);
  outputPending = true;
}

long long Router_Core::passNow() {
  if (passClock < 0) passClock = ut_getTimeMillis64();
  return passClock;
}

// What the reads of a pass forwarded or answered is written at the end of
// the pass, instead of after the next wait: a forwarded packet then costs
// one readiness wait, not two, and a destination fed by several senders in
// one pass gets one write. A write only takes what the socket accepts now;
// the rest waits for the loop to report the socket writable.
void Router_Core::endPass() {
  if (!outputPending) return;
  outputPending = false;
  long long total = 0;
  for (auto &entry : plugins) {
    Router_Plugin *q = entry.second;
    Router_Transport *t = q->getTransport();
    if (!q->isClosing() && !q->socketFull && t->wantsToWrite()) writeQueue(q);
    checkPluginIO(q);  // also a write between reads that failed
    total += t->getWriteBufferUsed();
  }
  updateTotal(passNow(), total);
}

bool Router_Core::keepReading(const STPTransport *) {
  writeLongQueues();
  return !reading || !readingPaused(reading);
}

// A long burst from one sender flows on while it is still being read: what
// it queued for a destination leaves once it fills about a read buffer, not
// after the whole burst was read. Short queues, such as a fan-out's one per
// listener, still wait for the end of the pass and leave in one write each.
// The link being read is written at the end of its pass, and a link whose
// write failed here is ended there, not in the middle of another's read.
void Router_Core::writeLongQueues() {
  for (auto &entry : plugins) {
    Router_Plugin *q = entry.second;
    Router_Transport *t = q->getTransport();
    if (q != reading && !q->isClosing() && !q->socketFull && t->getWriteBufferUsed() >= kEarlyWriteBytes)
      writeQueue(q);
  }
}

// Oversized packets were skipped by the transport; the link stays up.
void Router_Core::logSkippedPackets(Router_Plugin *p) {
  int skipped = p->getTransport()->getSkippedPacketCount();
  if (skipped == p->skippedSeen) return;
  log->warn("plugin %d sent %d packet(s) larger than %lld bytes: skipped", p->getId(),
            skipped - p->skippedSeen, options.maxPacketBytes);
  p->skippedSeen = skipped;
}

void Router_Core::checkPluginIO(Router_Plugin *p) {
  if (p->isClosing()) return;
  Router_Transport *t = p->getTransport();
  if (t->isDead()) {
    const char *why = t->getStat().message;
    if (!why || !*why) why = "connection closed";
    // A broken frame is the plugin's fault; a closed socket is normal.
    if (std::strstr(why, "invalid packet")) {
      log->warn("plugin %d disconnected: %s", p->getId(), why);
    }
    disconnectPlugin(p, why, false);
  }
}

void Router_Core::welcome(int pluginId) {
  Router_Plugin *p = findPlugin(pluginId);
  if (!p || p->welcomed || p->isClosing() || !p->getEndpoint()->isNegotiated()) return;
  p->welcomed = true;
  Router_Endpoint *ep = p->getEndpoint();
  ep->send_PluginId(pluginId);
  if (log->protocolLog()) ep->send_StartLogging();
  log->note("plugin %d negotiated", pluginId);
  if (p->connectRequester != -1) answerPluginConnect(p, pluginId, "");
}

void Router_Core::protocolViolation(int pluginId, const char *what) {
  Router_Plugin *p = findPlugin(pluginId);
  if (!p || p->isClosing()) return;
  log->warn("plugin %d disconnected: it %s", pluginId, what);
  disconnectPlugin(p, what, false);
}

// Everything the plugin took part in ends now: the other side of each of
// its connections is told, its names and RNs are freed, requests it made
// are forgotten and questions put to it are answered empty. The link itself
// is closed by collect(), after its output was written when `flush` is set.
void Router_Core::disconnectPlugin(Router_Plugin *p, const std::string &why, bool flush) {
  if (p->isClosing()) return;
  const int id = p->getId();
  p->startClosing(why, flush ? passNow() + kDisconnectFlushMs : 0);
  releaseFeeders(p);
  if (!flush) {
    if (!sinkForwarder) sinkForwarder = new SinkForwarder(sink);
    p->getTransport()->setForwardingHandler(sinkForwarder);
  }
  for (int clientRN : connections.involving(id)) {
    Router_Connection *c = connections.find(clientRN);
    if (c) endConnection(*c, c->clientId == id);
  }
  registered.removePlugin(id);
  rns.releaseAllOf(id);
  held.erase(std::remove_if(held.begin(), held.end(),
                            [id](const Router_HeldRequest &h) { return h.requesterId == id; }),
             held.end());
  answerPendingValues(id);
  launches.forgetPlugin(id);
  for (auto &entry : launches.all())
    if (entry.second.requesterId == id) entry.second.requesterId = -1;
  for (auto &entry : plugins)
    if (entry.second->connectRequester == id) entry.second->connectRequester = -1;
  if (p->connectRequester != -1) answerPluginConnect(p, -1, "Plugin closed the connection.");
  log->note("plugin %d disconnected: %s", id, why.c_str());
}

// ---------------------------------------------------------------------------
// Loop hooks

void Router_Core::checkLimits(long long now) {
  for (auto &entry : plugins) {
    Router_Plugin *p = entry.second;
    if (p->isClosing()) continue;
    Router_Transport *t = p->getTransport();
    if (t->isDead()) {
      checkPluginIO(p);
    } else if (!p->welcomed && now - p->connectedAt >= options.negotiateTimeoutMs) {
      log->warn("plugin %d disconnected: not negotiated within %d ms", p->getId(),
                options.negotiateTimeoutMs);
      disconnectPlugin(p, "negotiation time limit", false);
    } else {
      checkStalls(p, now);
    }
  }
  updateTotal(now, totalQueued());
  expireHeld(now);
  for (auto &entry : launches.all()) {
    Router_Launch &l = entry.second;
    if (!l.awaitsAnswer() || now - l.startedAt < options.activationTimeoutMs) continue;
    l.answered = true;
    if (Router_Endpoint *ep = endpointFor(l.requesterId))
      ep->send_PluginConnectedEvent(l.requestCookie, -1, "Timed out waiting for the plugin.");
  }
}

void Router_Core::collect(long long now) {
  for (auto it = plugins.begin(); it != plugins.end();) {
    if (it->second->readyForRemoval(now)) {
      delete it->second;
      it = plugins.erase(it);
    } else {
      ++it;
    }
  }
}

int Router_Core::msUntilNextDeadline(long long now) const {
  long long next = LLONG_MAX;
  for (const auto &entry : plugins) {
    const Router_Plugin *p = entry.second;
    if (p->isClosing())
      next = std::min(next, now + 50);  // poll the flush
    else if (!p->welcomed)
      next = std::min(next, p->connectedAt + options.negotiateTimeoutMs);
    else
      next = std::min(next, nextFlowDeadline(p));
  }
  for (const Router_HeldRequest &h : held) next = std::min(next, h.deadline);
  for (const auto &entry : launches.all())
    if (entry.second.awaitsAnswer()) next = std::min(next, entry.second.startedAt + options.activationTimeoutMs);
  next = std::min(next, nextClientStartDeadline());
  if (next == LLONG_MAX) return -1;
  return static_cast<int>(std::max(0LL, std::min(next - now, static_cast<long long>(INT_MAX))));
}

bool Router_Core::isIdle() const {
  if (connections.anyBetweenDifferentPlugins()) return false;
  for (const auto &entry : plugins)
    if (!entry.second->isClosing() && !entry.second->startedByRouter) return false;
  return true;
}

void Router_Core::beginShutdown(long long now, int flushMs) {
  shuttingDown = true;
  for (auto &entry : plugins) entry.second->startClosing("router ending", now + flushMs);
  log->note("ending: closing %d plugin links", static_cast<int>(plugins.size()));
}

Router_Plugin *Router_Core::destinationOf(int destRN) const {
  Router_Plugin *p = findPlugin(rns.ownerOf(destRN));
  return p && !p->isClosing() && p->getTransport()->isBound() ? p : nullptr;
}

STPTransport *Router_Core::getForwardingTransport(int destRN) {
  return getForwardingTransportFrom(0, destRN);
}

// Packets for the router's own RN are delivered; for an RN nobody owns (any
// more) they go to the sink. Those of the plugin being read must come from
// one of its own RNs, and may make it wait for a congested destination.
STPTransport *Router_Core::getForwardingTransportFrom(int sourceRN, int destRN) {
  if (destRN == kRouterOwnRN) return nullptr;
  Router_Plugin *to = destinationOf(destRN);
  if (!to) {
    sink->discardOutput();
    return sink;
  }
  if (reading) {
    if (rns.ownerOf(sourceRN) != reading->getId()) return dropForged(sourceRN, destRN);
    noteFeeding(to);
  }
  return to->getTransport();
}
