// Router_Core: service registration, connection requests, acceptance and
// drops, and the routing numbers behind them.
#include <algorithm>

#include "services/router/router_core.h"
#include "services/router/router_endpoint.h"
#include "services/router/router_log.h"
#include "services/router/router_plugin.h"

namespace {

// Largest block one ReserveRNBlock may ask for.
constexpr int kMaxRNBlock = 4096;

// A borrowed view of owned strings as the generated string array (entries
// point into `pairs`; absent entries are null). Valid while `pairs` lives.
ServiceRouter_STRING_ARRAY viewOf(const std::vector<std::optional<std::string>> &pairs,
                                  std::vector<char *> *storage) {
  storage->clear();
  for (const auto &entry : pairs)
    storage->push_back(entry ? const_cast<char *>(entry->c_str()) : nullptr);
  ServiceRouter_STRING_ARRAY a;
  a.count = static_cast<int>(storage->size());
  a.data = storage->empty() ? nullptr : storage->data();
  return a;
}

void sendRNBlock(Router_Endpoint *ep, std::vector<int> &rnList) {
  ServiceRouter_INT_ARRAY a;
  a.count = static_cast<int>(rnList.size());
  a.data = rnList.empty() ? nullptr : rnList.data();
  ep->send_RNBlockReservedEvent(a);
}

}  // namespace

std::vector<std::optional<std::string>> Router_CopyPairs(const ServiceRouter_STRING_ARRAY &a) {
  std::vector<std::optional<std::string>> out;
  for (int i = 0; i < a.count && a.data; ++i) {
    if (a.data[i])
      out.emplace_back(std::string(a.data[i]));
    else
      out.emplace_back(std::nullopt);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Names and RNs

void Router_Core::registerServices(int pluginId, const ServiceRouter_STRING_ARRAY &names) {
  Router_Endpoint *ep = endpointFor(pluginId);
  if (!ep) return;
  std::vector<int> rnList;
  std::vector<std::string> added;
  for (int i = 0; i < names.count && names.data; ++i) {
    int rn = rns.allocate(pluginId);
    rnList.push_back(rn);
    const char *name = names.data[i];
    if (!name || !*name) continue;
    registered.add(name, rn, pluginId);
    added.emplace_back(name);
    log->note("plugin %d provides %s (rn %d)", pluginId, name, rn);
  }
  sendRNBlock(ep, rnList);
  for (const std::string &name : added) resolveHeld(name, pluginId);
  Router_Plugin *p = findPlugin(pluginId);
  if (p && p->startedByRouter) activationRegistered(p);
}

void Router_Core::unregisterService(int pluginId, int serviceRN) {
  const Router_Service *s = registered.findRN(serviceRN);
  if (!s || s->pluginId != pluginId) return;
  log->note("plugin %d withdraws %s (rn %d)", pluginId, s->name.c_str(), serviceRN);
  // The RN stays the plugin's: connections made through it go on.
  registered.removeRN(serviceRN);
}

void Router_Core::reserveRNBlock(int pluginId, int count) {
  Router_Endpoint *ep = endpointFor(pluginId);
  if (!ep) return;
  if (count > kMaxRNBlock) {
    protocolViolation(pluginId, "asked for too many routing numbers");
    return;
  }
  std::vector<int> rnList;
  for (int i = 0; i < count; ++i) rnList.push_back(rns.allocate(pluginId));
  sendRNBlock(ep, rnList);
}

void Router_Core::releaseRN(int pluginId, int rn) {
  if (rns.ownerOf(rn) != pluginId) return;  // not its own: nothing to do
  Router_Connection *c = connections.find(rn);
  if (c && c->clientId == pluginId) endConnection(*c, true);
  const Router_Service *s = registered.findRN(rn);
  if (s && s->pluginId == pluginId) registered.removeRN(rn);
  rns.release(rn);
}

// ---------------------------------------------------------------------------
// Connections

// A registered provider answers unless a fresh instance is asked for; then
// a service library of the services file, and last a program of the
// services file started for the request (by the router or the requester).
void Router_Core::connectionRequested(int pluginId, const Router_ServiceRequest &r) {
  if (!endpointFor(pluginId)) return;
  const std::string &name = r.serviceName;
  const bool anyProvider = r.providingPluginId == -1;
  const Router_Service *s = name.empty() || (r.noReuse && anyProvider)
                                ? nullptr
                                : registered.find(name, r.providingPluginId);
  if (s) {
    connectToProvider(pluginId, *s, r.pairs, r.clientCookie);
    return;
  }
  const Router_Program *block = anyProvider ? services.providerOf(name) : nullptr;
  if (block && !block->sharedObject.empty()) {
    replySharedObject(pluginId, *block, name, r.clientCookie);
    return;
  }
  if (!name.empty() && anyProvider) {
    Router_HeldRequest h;
    h.kind = Router_HeldRequest::kConnection;
    h.requesterId = pluginId;
    h.serviceName = name;
    h.cookie = r.clientCookie;
    h.pairs = r.pairs;
    Router_StartHow how;
    how.requesterId = pluginId;
    how.workingDir = startDirectory(pluginId, r.workingDir.c_str());
    how.clientStart = r.clientStart;
    how.fresh = r.noReuse;
    if (holdForActivation(std::move(h), how)) return;
  }
  log->note("plugin %d asks for %s: not provided", pluginId, name.c_str());
  replyNotFound(pluginId, name, r.clientCookie);
}

// The requester loads the library itself: found, a shared object, with no
// provider and no RNs.
void Router_Core::replySharedObject(int requesterId, const Router_Program &block,
                                    const std::string &serviceName, int clientCookie) {
  std::string library = Router_ServicesFile::resolveSharedObject(block.sharedObject);
  if (Router_Endpoint *ep = endpointFor(requesterId))
    ep->send_ConnectionReplyEvent(serviceName.c_str(), 0, true, true, false, 0, -1,
                                  library.c_str(), clientCookie);
  log->note("plugin %d asks for %s: the library %s", requesterId, serviceName.c_str(),
            library.c_str());
}

// A fresh RN for the requester's end; the provider is asked to accept, and
// the requester hears the outcome when the provider answers.
void Router_Core::connectToProvider(int requesterId, const Router_Service &service,
                                    const std::vector<std::optional<std::string>> &pairs,
                                    int clientCookie) {
  Router_Endpoint *provider = endpointFor(service.pluginId);
  if (!endpointFor(requesterId)) return;
  if (!provider) {
    replyNotFound(requesterId, service.name, clientCookie);
    return;
  }
  Router_Connection c;
  c.clientRN = rns.allocate(requesterId);
  c.clientId = requesterId;
  c.serviceRN = service.rn;
  c.providerId = service.pluginId;
  c.serviceName = service.name;
  c.clientCookie = clientCookie;
  connections.add(c);
  std::vector<char *> storage;
  provider->send_ConnectionRequestedEvent(requesterId, c.serviceRN, c.clientRN,
                                          viewOf(pairs, &storage));
  log->note("plugin %d asks for %s: rn %d to rn %d of plugin %d", requesterId,
            service.name.c_str(), c.clientRN, c.serviceRN, c.providerId);
}

void Router_Core::replyNotFound(int requesterId, const std::string &serviceName,
                                int clientCookie) {
  if (Router_Endpoint *ep = endpointFor(requesterId))
    ep->send_ConnectionReplyEvent(serviceName.c_str(), 0, false, false, false, 0, -1, "",
                                  clientCookie);
}

void Router_Core::connectionAccepted(int pluginId, int serviceRN, int remoteRN, bool accept) {
  Router_Connection *c = connections.find(remoteRN);
  // Answers for connections that ended meanwhile, or that are not this
  // plugin's to answer, change nothing.
  if (!c || c->providerId != pluginId || c->serviceRN != serviceRN || c->accepted) return;
  if (Router_Endpoint *client = endpointFor(c->clientId))
    client->send_ConnectionReplyEvent(c->serviceName.c_str(), c->clientRN, true, false, accept,
                                      c->serviceRN, c->providerId, "", c->clientCookie);
  log->note("plugin %d %s rn %d to rn %d", pluginId, accept ? "accepts" : "refuses", c->clientRN,
            c->serviceRN);
  if (accept) {
    c->accepted = true;
  } else {
    rns.release(c->clientRN);
    connections.remove(remoteRN);
  }
}

void Router_Core::dropRequested(int pluginId, int localRN, int otherRN) {
  bool isClient = false;
  Router_Connection *c = connections.findFromSide(pluginId, localRN, otherRN, &isClient);
  if (!c) return;  // already ended, or not this plugin's
  endConnection(*c, isClient);
}

// Removes the connection and tells the side that stays, with the RN pair
// as that side names it. A provider that goes before accepting leaves the
// requester with a refusal instead.
void Router_Core::endConnection(Router_Connection c, bool clientLeaves) {
  connections.remove(c.clientRN);
  log->note("connection rn %d to rn %d (%s) dropped by the %s", c.clientRN, c.serviceRN,
            c.serviceName.c_str(), clientLeaves ? "client" : "provider");
  if (clientLeaves) {
    if (Router_Endpoint *provider = endpointFor(c.providerId))
      provider->send_ConnectionDroppedEvent(c.serviceRN, c.clientRN);
    return;
  }
  Router_Endpoint *client = endpointFor(c.clientId);
  if (c.accepted) {
    if (client) client->send_ConnectionDroppedEvent(c.clientRN, c.serviceRN);
    return;
  }
  if (client)
    client->send_ConnectionReplyEvent(c.serviceName.c_str(), c.clientRN, true, false, false,
                                      c.serviceRN, c.providerId, "", c.clientCookie);
  rns.release(c.clientRN);
}

void Router_Core::disconnectRequested(int pluginId) {
  Router_Plugin *p = findPlugin(pluginId);
  if (p) disconnectPlugin(p, "asked to be disconnected", true);
}
