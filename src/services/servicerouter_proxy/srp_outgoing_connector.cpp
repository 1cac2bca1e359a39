// srp_outgoing_connector: outgoing service connections, routed or to a
// service loaded from a shared object, and plugin-id questions.
#include "services/servicerouter_proxy/srp_outgoing_connector.h"

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

SRP_OutgoingConnector::~SRP_OutgoingConnector() {
  for (PendingCon *pc : pendingCons) freePendingCon(pc);
  for (auto &entry : pendingPluginIds) freePendingPluginId(entry.second);
}

// ---------------------------------------------------------------------------
// Requests

bool SRP_OutgoingConnector::getServiceConnection(const char *serviceName, STPSpecClass *endpoint,
                                                 bool *wasFound, bool *wasAccepted,
                                                 RetryHandler *rh, const char *workingDir,
                                                 bool localOnly, bool noReuse, bool clientStart) {
  if (wasFound) *wasFound = false;
  if (wasAccepted) *wasAccepted = false;
  if (!serviceName || !endpoint) return false;
  if (!proxy.ensureSRConnection(rh) || !proxy.routerLink().currentTransport()) return false;
  int cookie = proxy.getCookie();
  if (!proxy.send_RequestServiceConnection(serviceName, -1, workingDir, localOnly, cookie, noReuse,
                                           clientStart))
    return false;
  return awaitConnectionReplyEvent(serviceName, endpoint, cookie, wasFound, wasAccepted, rh);
}

bool SRP_OutgoingConnector::getServiceConnectionFromPlugin(const char *serviceName,
                                                           STPSpecClass *endpoint,
                                                           int providingPluginId,
                                                           RetryHandler *rh) {
  if (!serviceName || !endpoint) return false;
  if (!proxy.ensureSRConnection(rh) || !proxy.routerLink().currentTransport()) return false;
  int cookie = proxy.getCookie();
  if (!proxy.send_RequestServiceConnection(serviceName, providingPluginId, nullptr, false, cookie,
                                           false, false))
    return false;
  bool found = false, accepted = false;
  bool connected = awaitConnectionReplyEvent(serviceName, endpoint, cookie, &found, &accepted, rh);
  return connected && found && accepted;
}

// ---------------------------------------------------------------------------
// Replies

void SRP_OutgoingConnector::onConnectionReply(const char *serviceName, int localRN, bool wasFound,
                                              bool is_shared_object, bool wasAccepted,
                                              int serviceRN, int plugin_id,
                                              const char *shared_object_name, int client_cookie) {
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

bool SRP_OutgoingConnector::awaitConnectionReplyEvent(const char *serviceName,
                                                      STPSpecClass *endpoint, int cookie,
                                                      bool *wasFound, bool *wasAccepted,
                                                      RetryHandler *rh) {
  if (wasFound) *wasFound = false;
  if (wasAccepted) *wasAccepted = false;
  STPTransport *transport = proxy.routerLink().currentTransport();
  if (!transport || !serviceName || !endpoint) return false;
  // Drops that arrive from here on may be for the connection being made.
  SRP_ServiceRegistry &registry = proxy.serviceRegistry();
  struct ConnectingScope {
    SRP_ServiceRegistry &registry;
    explicit ConnectingScope(SRP_ServiceRegistry &r) : registry(r) {
      registry.beginOutgoingConnect();
    }
    ~ConnectingScope() { registry.endOutgoingConnect(); }
  } connecting(registry);
  proxy.awaitCondition(
      rh, [&] { return findReply(pendingCons, serviceName, cookie) != pendingCons.end(); });
  auto it = findReply(pendingCons, serviceName, cookie);
  if (it == pendingCons.end()) return false;
  // Taken out before connecting: connecting runs nested waits that may
  // look at the pending list.
  PendingCon *reply = *it;
  pendingCons.erase(it);

  if (wasFound) *wasFound = reply->wasFound;
  if (wasAccepted) *wasAccepted = reply->wasAccepted;
  bool result = false;
  if (reply->wasFound && (reply->isSharedObject || reply->wasAccepted)) {
    if (STPLog *log = proxy.getGlobalLog()) endpoint->setLogging(log);
    result = reply->isSharedObject ? connectSharedObject(*reply, serviceName, endpoint)
                                   : connectRouted(*reply, endpoint, rh);
  }
  freePendingCon(reply);
  return result;
}

// The service is loaded into this process and reached over a loopback pair.
bool SRP_OutgoingConnector::connectSharedObject(const PendingCon &reply, const char *serviceName,
                                                STPSpecClass *endpoint) {
  SharedObjectConnection *so = new SharedObjectConnection;
  if (!so->initializeConnection(reply.sharedObjectName, serviceName, endpoint)) {
    gen_error("Unable to setup connection to shared object service.\n");
    deleteSharedObjectConnection(so);
    return false;
  }
  proxy.addServiceToConnectedServicesList(endpoint, true, -1, false, so);
  return true;
}

// The service runs in a process reached through the router. When it runs
// in this very process (its RN is ours) both ends are negotiated here.
bool SRP_OutgoingConnector::connectRouted(const PendingCon &reply, STPSpecClass *endpoint,
                                          RetryHandler *rh) {
  SRP_ServiceRegistry &registry = proxy.serviceRegistry();
  registry.markLocalRN(reply.localRN);
  endpoint->setTransport(proxy.routerLink().currentTransport(), reply.localRN, reply.serviceRN);
  TStat st;
  registry.beginNegotiating(endpoint);
  bool negotiated = registry.isLocalRN(reply.serviceRN) ? endpoint->negotiate_local(rh, &st)
                                                        : endpoint->negotiate(rh, &st);
  registry.endNegotiating(endpoint);
  if (!negotiated) return false;
  registry.addServiceToConnectedServicesList(endpoint, false, reply.pluginId, false, nullptr);
  return !registry.takeDropWhileConnecting(endpoint);
}

// ---------------------------------------------------------------------------
// Plugin id of a service

int SRP_OutgoingConnector::getPluginIdForService(const char *serviceName, const char *workingDir,
                                                 RetryHandler *rh, bool startIfNotRunning,
                                                 bool *found) {
  if (found) *found = false;
  int cookie = SRP_PluginClient::nextRequestCookie();
  if (!proxy.send_RequestPluginIdForService(cookie, serviceName, workingDir, startIfNotRunning))
    return -1;
  proxy.awaitCondition(rh, [&] { return pendingPluginIds.count(cookie) != 0; });
  auto it = pendingPluginIds.find(cookie);
  if (it == pendingPluginIds.end()) return -1;
  PendingPluginIdForService *answer = it->second;
  pendingPluginIds.erase(it);
  if (found) *found = answer->found;
  int id = answer->pluginId;
  freePendingPluginId(answer);
  return id;
}

void SRP_OutgoingConnector::onPluginIdForServiceReply(int cookie, const char *service_name,
                                                      int plugin_id, bool found) {
  auto it = pendingPluginIds.find(cookie);
  if (it != pendingPluginIds.end()) freePendingPluginId(it->second);
  PendingPluginIdForService *answer = new PendingPluginIdForService;
  answer->serviceName = gen_copy(service_name);
  answer->pluginId = plugin_id;
  answer->found = found;
  pendingPluginIds[cookie] = answer;
}
