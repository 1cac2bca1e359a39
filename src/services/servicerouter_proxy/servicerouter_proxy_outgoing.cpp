// ServiceRouter_Proxy: outgoing service connections. The process asks the
// router for a service by name; the router's ConnectionReplyEvent names
// either a routing-number pair on the router transport (a running provider)
// or a shared library that provides the service (then loaded here and
// reached over a loopback pair). Replies are kept in arrival order until
// the waiter with the same service name and cookie takes them; plugin-id
// answers are kept under their cookie.
#include <algorithm>
#include <cstring>
#include <vector>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "services/servicerouter_proxy/shared_object_connection.h"
#include "shared/indgen.h"

namespace {

void freePendingCon(PendingCon *pc) {
  gen_free(pc->serviceName);
  gen_free(pc->sharedObjectName);
  delete pc;
}

void freePendingPluginId(PendingPluginIdForService *pp) {
  gen_free(pp->serviceName);
  delete pp;
}

}  // namespace

void ServiceRouter_Proxy::freeOutgoingState() {
  for (PendingCon *pc : pendingCons) freePendingCon(pc);
  pendingCons.clear();
  for (auto &entry : pendingPluginIds) freePendingPluginId(entry.second);
  pendingPluginIds.clear();
}

// ---------------------------------------------------------------------------
// Requests

bool ServiceRouter_Proxy::send_RequestServiceConnection(const char *serviceName,
                                                        int providingPluginID,
                                                        const char *working_dir, bool local_only,
                                                        int client_cookie, bool no_reuse,
                                                        bool client_start, bool stp_wait,
                                                        RetryHandler *stp_rh, TStat *stp_stat) {
  // name, value, name, value, ... of the precached resolvers; a view of
  // the resolvers' strings, which the sender only reads.
  std::vector<char *> pairs;
  for (NameValueResolver *r : nameValueResolvers) {
    if (!r->isPrecached()) continue;
    const char *name = r->getName();
    pairs.push_back(const_cast<char *>(name));
    pairs.push_back(const_cast<char *>(r->valueForName(name)));
  }
  ServiceRouter_STRING_ARRAY array;
  array.count = static_cast<int>(pairs.size());
  array.data = pairs.empty() ? nullptr : pairs.data();
  return ServiceRouter_plugin_Impl::send_RequestServiceConnection(
      serviceName, providingPluginID, array, working_dir, local_only, client_cookie, no_reuse,
      client_start, stp_wait, stp_rh, stp_stat);
}

bool ServiceRouter_Proxy::getServiceConnection(const char *serviceName, STPSpecClass *endpoint,
                                               bool *wasFound, bool *wasAccepted,
                                               RetryHandler *rh, const char *workingDir,
                                               bool localOnly, bool noReuse, bool clientStart) {
  if (wasFound) *wasFound = false;
  if (wasAccepted) *wasAccepted = false;
  if (!serviceName || !endpoint) return false;
  if (!ensureSRConnection(rh) || !routerTransport) return false;
  int cookie = getCookie();
  if (!send_RequestServiceConnection(serviceName, -1, workingDir, localOnly, cookie, noReuse,
                                     clientStart))
    return false;
  return awaitConnectionReplyEvent(serviceName, endpoint, cookie, wasFound, wasAccepted, rh);
}

bool ServiceRouter_Proxy::getServiceConnectionFromPlugin(const char *serviceName,
                                                         STPSpecClass *endpoint,
                                                         int providingPluginId,
                                                         RetryHandler *rh) {
  if (!serviceName || !endpoint) return false;
  if (!ensureSRConnection(rh) || !routerTransport) return false;
  int cookie = getCookie();
  if (!send_RequestServiceConnection(serviceName, providingPluginId, nullptr, false, cookie, false,
                                     false))
    return false;
  bool found = false, accepted = false;
  bool connected =
      awaitConnectionReplyEvent(serviceName, endpoint, cookie, &found, &accepted, rh);
  return connected && found && accepted;
}

// ---------------------------------------------------------------------------
// Replies

void ServiceRouter_Proxy::msg_ConnectionReplyEvent(const char *serviceName, int localRN,
                                                   bool wasFound, bool is_shared_object,
                                                   bool wasAccepted, int serviceRN, int plugin_id,
                                                   const char *shared_object_name,
                                                   int client_cookie) {
  PendingCon *pc = new PendingCon;
  pc->serviceName = gen_copy(serviceName ? serviceName : "");
  pc->localRN = localRN;
  pc->wasFound = wasFound;
  pc->isSharedObject = is_shared_object;
  pc->wasAccepted = wasAccepted;
  pc->serviceRN = serviceRN;
  pc->pluginId = plugin_id;
  pc->sharedObjectName = gen_copy(shared_object_name);
  pc->clientCookie = client_cookie;
  pendingCons.push_back(pc);
}

namespace {

// The first pending reply for that name and cookie, or end().
std::vector<PendingCon *>::iterator findReply(std::vector<PendingCon *> &pending,
                                              const char *serviceName, int cookie) {
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if ((*it)->clientCookie == cookie && std::strcmp((*it)->serviceName, serviceName) == 0)
      return it;
  }
  return pending.end();
}

}  // namespace

// True when the router dropped the endpoint's connection while it was being
// negotiated; the drop is then handled now that the connection has a record.
bool ServiceRouter_Proxy::takeDropWhileConnecting(STPSpecClass *endpoint) {
  std::pair<int, int> rns(endpoint->getLocalRN(), endpoint->getRemoteRN());
  auto it = std::find(dropsWhileConnecting.begin(), dropsWhileConnecting.end(), rns);
  if (it == dropsWhileConnecting.end()) return false;
  dropsWhileConnecting.erase(it);
  msg_ConnectionDroppedEvent(rns.first, rns.second);
  return true;
}

bool ServiceRouter_Proxy::awaitConnectionReplyEvent(const char *serviceName,
                                                    STPSpecClass *endpoint, int cookie,
                                                    bool *wasFound, bool *wasAccepted,
                                                    RetryHandler *rh) {
  if (wasFound) *wasFound = false;
  if (wasAccepted) *wasAccepted = false;
  if (!routerTransport || !serviceName || !endpoint) return false;
  // Drops that arrive from here on may be for the connection being made.
  struct ConnectingScope {
    ServiceRouter_Proxy *proxy;
    explicit ConnectingScope(ServiceRouter_Proxy *p) : proxy(p) { ++proxy->outgoingConnectsInProgress; }
    ~ConnectingScope() {
      if (--proxy->outgoingConnectsInProgress == 0) proxy->dropsWhileConnecting.clear();
    }
  } connecting(this);
  awaitCondition(rh, [&] { return findReply(pendingCons, serviceName, cookie) != pendingCons.end(); });
  auto it = findReply(pendingCons, serviceName, cookie);
  if (it == pendingCons.end()) return false;
  // Taken out before connecting: connecting runs nested waits that may
  // look at the pending list.
  PendingCon *reply = *it;
  pendingCons.erase(it);

  // The service is loaded into this process and reached over a loopback pair.
  auto connectSharedObject = [&]() {
    SharedObjectConnection *so = new SharedObjectConnection;
    if (!so->initializeConnection(reply->sharedObjectName, serviceName, endpoint)) {
      gen_error("Unable to setup connection to shared object service.\n");
      deleteSharedObjectConnection(so);
      return false;
    }
    addServiceToConnectedServicesList(endpoint, true, -1, false, so);
    return true;
  };
  // The service runs in a process reached through the router. When it runs
  // in this very process (its RN is ours) both ends are negotiated here.
  auto connectRouted = [&]() {
    localRNs[reply->localRN] = true;
    endpoint->setTransport(routerTransport, reply->localRN, reply->serviceRN);
    TStat st;
    auto local = localRNs.find(reply->serviceRN);
    bool negotiated = local != localRNs.end() && local->second
                          ? endpoint->negotiate_local(rh, &st)
                          : endpoint->negotiate(rh, &st);
    if (!negotiated) return false;
    addServiceToConnectedServicesList(endpoint, false, reply->pluginId, false, nullptr);
    return !takeDropWhileConnecting(endpoint);
  };

  if (wasFound) *wasFound = reply->wasFound;
  if (wasAccepted) *wasAccepted = reply->wasAccepted;
  bool result = false;
  if (reply->wasFound && (reply->isSharedObject || reply->wasAccepted)) {
    if (globalLog) endpoint->setLogging(globalLog);
    result = reply->isSharedObject ? connectSharedObject() : connectRouted();
  }
  freePendingCon(reply);
  return result;
}

// ---------------------------------------------------------------------------
// Plugin id of a service

int ServiceRouter_Proxy::getPluginIdForService(const char *serviceName, const char *workingDir,
                                               RetryHandler *rh, bool startIfNotRunning,
                                               bool *found) {
  if (found) *found = false;
  int cookie = nextRequestCookie();
  if (!send_RequestPluginIdForService(cookie, serviceName, workingDir, startIfNotRunning))
    return -1;
  awaitCondition(rh, [&] { return pendingPluginIds.count(cookie) != 0; });
  auto it = pendingPluginIds.find(cookie);
  if (it == pendingPluginIds.end()) return -1;
  PendingPluginIdForService *answer = it->second;
  pendingPluginIds.erase(it);
  if (found) *found = answer->found;
  int id = answer->pluginId;
  freePendingPluginId(answer);
  return id;
}

void ServiceRouter_Proxy::msg_PluginIdForServiceReplyEvent(int cookie, const char *service_name,
                                                           int plugin_id, bool found) {
  auto it = pendingPluginIds.find(cookie);
  if (it != pendingPluginIds.end()) freePendingPluginId(it->second);
  PendingPluginIdForService *answer = new PendingPluginIdForService;
  answer->serviceName = gen_copy(service_name);
  answer->pluginId = plugin_id;
  answer->found = found;
  pendingPluginIds[cookie] = answer;
}
