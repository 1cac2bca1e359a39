// srp_service_registry: the service side of the router client.
// Factories get routing numbers, incoming connections are created by their
// factory, accepted, negotiated by the Negotiator idler and kept in the
// connection lists until the router (or this process) drops them; the
// connection-died listeners hear of every end.
//
// Reference counting of a service endpoint: the factory hands it over with
// one creation reference; each ServiceStatus record holds one more. The
// creation reference is dropped once negotiation has ended, so from then on
// the record in the connected list keeps the endpoint alive, and deleting
// the record (a drop) releases it.
#include "services/servicerouter_proxy/srp_service_registry.h"

#include <algorithm>

#include "services/servicerouter_proxy/service_factory.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_msg.h"
#include "shared/stp_transport/stp_transport.h"

// ---- ServiceStatus

ServiceStatus::ServiceStatus(STPSpecClass *endpoint, bool isSharedObject, int pluginId,
                             bool isServer, SharedObjectConnection *sharedObject)
    : endpoint(endpoint),
      pluginId(pluginId),
      isSharedObjectConnection(isSharedObject),
      isServerConnection(isServer),
      sharedObject(sharedObject) {
  endpoint->addRef();
}

ServiceStatus::~ServiceStatus() {
  deleteSharedObjectConnection(sharedObject);
  endpoint->delRef();
}

// ---- the Negotiator

// Finishes the negotiation of accepted connections from the event loop, so
// that accepting never blocks the router connection.
class SRP_ServiceRegistry::Negotiator : public Idler {
 public:
  explicit Negotiator(SRP_ServiceRegistry *registry) : registry(registry) {}
  ~Negotiator() override {
    setRegistered(false);
    for (Client &c : clients) c.endpoint->delRef();  // creation references
  }
  Negotiator(const Negotiator &) = delete;
  Negotiator &operator=(const Negotiator &) = delete;

  // Takes over the creation reference of `endpoint`.
  void addClient(STPSpecClass *endpoint, int pluginId, ServiceFactory *factory) {
    if (clients.empty()) setRegistered(true);
    endpoint->sendNegotiate(false, nullptr, nullptr);
    // The peer's negotiation may have come before the endpoint existed; it
    // then waits on the transport unclaimed.
    if (STPTransport *t = endpoint->getTransport())
      while (!endpoint->isNegotiated() &&
             t->dequeueAndDeliverMessage(endpoint->getRemoteRN(), endpoint->getLocalRN(),
                                         STP_TYPE_ENDPOINT)) {
      }
    clients.push_back({endpoint, pluginId, factory});
  }

  void handleIdle(IdleNotifier *) override {
    // Handlers called from here may add clients; walk a snapshot and keep
    // what was added meanwhile.
    std::vector<Client> current;
    current.swap(clients);
    std::vector<Client> keep;
    for (Client &c : current) {
      if (c.endpoint->isDown() || c.endpoint->isNegotiated())
        registry->finishNegotiatedConnection(c.endpoint, c.pluginId, c.factory);
      else
        keep.push_back(c);
    }
    keep.insert(keep.end(), clients.begin(), clients.end());
    clients.swap(keep);
    if (clients.empty()) setRegistered(false);
  }

  // Service factories may start conversations once a connection is
  // negotiated: not for passes that allow safe idlers only.
  bool isIdlerSafe() override { return false; }

  int numClients() const { return static_cast<int>(clients.size()); }

  // The factory of a record is not told about its connection any more.
  void forgetFactory(ServiceFactory *factory) {
    for (Client &c : clients)
      if (c.factory == factory) c.factory = nullptr;
  }

 private:
  struct Client {
    STPSpecClass *endpoint;  // creation reference
    int pluginId;
    ServiceFactory *factory;
  };

  void setRegistered(bool on) {
    if (on == registered) return;
    IdleNotifier *n = getIdleNotifier();
    if (!n) return;
    if (on)
      n->addIdleListener(this);
    else
      n->removeIdleListener(this);
    registered = on;
  }

  SRP_ServiceRegistry *registry;  // owner
  std::vector<Client> clients;
  bool registered = false;
};

void SRP_ServiceRegistry::finishNegotiatedConnection(STPSpecClass *endpoint, int peerPluginId,
                                                     ServiceFactory *factory) {
  if (endpoint->isDown()) {
    // Went down while negotiating: it never becomes a connection.
    if (factory) factory->connectionNegotiated(endpoint);
    removeServiceFromPendingServicesList(endpoint);
  } else {
    removeServiceFromPendingServicesList(endpoint);
    if (factory) factory->connectionNegotiated(endpoint);
    if (!endpoint->isDown())
      addServiceToConnectedServicesList(endpoint, false, peerPluginId, true, nullptr);
    ++numServerConnections;
  }
  acceptedConnection = true;
  endpoint->delRef();  // the creation reference
}

// ---- factories and routing numbers

bool SRP_ServiceRegistry::registerServiceFactory(ServiceFactory *factory, RetryHandler *rh) {
  SRP_RouterLink &link = proxy.routerLink();
  link.requestConnectNow();
  if (link.isConnected()) {
    char *name = const_cast<char *>(factory->getServiceName());
    ServiceRouter_STRING_ARRAY names;
    names.count = 1;
    names.data = &name;
    if (!proxy.send_RegisterServiceList(names, false, rh)) return false;
    factoriesAwaitingRN.push_back(factory);
    return true;
  }
  localFactories.push_back(factory);
  if (link.isStarted()) return link.doSRConnectNow(rh);
  return true;
}

void SRP_ServiceRegistry::forgetServiceFactory(ServiceFactory *factory) {
  auto drop = [factory](std::vector<ServiceFactory *> &list) {
    list.erase(std::remove(list.begin(), list.end(), factory), list.end());
  };
  drop(localFactories);
  drop(factoriesAwaitingRN);
  for (auto it = rnToFactory.begin(); it != rnToFactory.end();)
    it = it->second == factory ? rnToFactory.erase(it) : std::next(it);
  if (negotiator) negotiator->forgetFactory(factory);
}

std::vector<ServiceFactory *> SRP_ServiceRegistry::takeFactoriesToRegister() {
  std::vector<ServiceFactory *> factories;
  if (const std::vector<ServiceFactory *> *global =
          GlobalServiceFactoryList::getServiceFactoryList())
    factories = *global;
  factories.insert(factories.end(), localFactories.begin(), localFactories.end());
  localFactories.clear();
  factoriesAwaitingRN.insert(factoriesAwaitingRN.end(), factories.begin(), factories.end());
  return factories;
}

void SRP_ServiceRegistry::onRNBlockReserved(const ServiceRouter_INT_ARRAY &rn_list) {
  for (int i = 0; i < rn_list.count && rn_list.data; ++i) {
    int rn = rn_list.data[i];
    if (factoriesAwaitingRN.empty()) {
      spareRNs.push_back(rn);
      continue;
    }
    rnToFactory[rn] = factoriesAwaitingRN.front();
    localRNs[rn] = true;
    factoriesAwaitingRN.erase(factoriesAwaitingRN.begin());
  }
}

ServiceFactory *SRP_ServiceRegistry::getFactoryForRN(int rn) const {
  auto it = rnToFactory.find(rn);
  return it == rnToFactory.end() ? nullptr : it->second;
}

bool SRP_ServiceRegistry::isLocalRN(int rn) const {
  auto it = localRNs.find(rn);
  return it != localRNs.end() && it->second;
}

// ---- incoming connections

void SRP_ServiceRegistry::onConnectionRequested(
    int requesting_plugin_id, int serviceRN, int remoteRN,
    const ServiceRouter_STRING_ARRAY &name_value_pairs) {
  gen_assert(requesting_plugin_id != -1);
  ServiceFactory *factory = getFactoryForRN(serviceRN);
  STPSpecClass *endpoint =
      factory ? factory->createService(proxy.routerLink().currentTransport(), serviceRN, remoteRN)
              : nullptr;
  if (!endpoint) {
    proxy.send_ConnectionAcceptedEvent(serviceRN, remoteRN, false);
    return;
  }
  if (STPLog *log = proxy.getGlobalLog()) endpoint->setLogging(log);
  proxy.send_ConnectionAcceptedEvent(serviceRN, remoteRN, true);
  addServiceToPendingServicesList(endpoint, requesting_plugin_id, true);
  proxy.cacheNameValuePairs(requesting_plugin_id, name_value_pairs);
  factory->connectionAccepted(endpoint);

  if (requesting_plugin_id == proxy.getPluginId()) {
    // Both ends live in this process: nothing to exchange.
    endpoint->negotiate_local(nullptr, nullptr);
    removeServiceFromPendingServicesList(endpoint);
    factory->connectionNegotiated(endpoint);
    addServiceToConnectedServicesList(endpoint, false, requesting_plugin_id, true, nullptr);
    endpoint->delRef();  // the creation reference
    acceptedConnection = true;
    ++numServerConnections;
    return;
  }
  if (!negotiator) negotiator = new Negotiator(this);
  negotiator->addClient(endpoint, requesting_plugin_id, factory);
}

// ---- drops

namespace {

// Takes the first record of the list whose endpoint has that RN pair out of
// the list; null when there is none.
ServiceStatus *takeByRNs(std::vector<ServiceStatus *> &list, int localRN, int remoteRN) {
  for (auto it = list.begin(); it != list.end(); ++it) {
    STPSpecClass *ep = (*it)->endpoint;
    if (ep->getLocalRN() == localRN && ep->getRemoteRN() == remoteRN) {
      ServiceStatus *s = *it;
      list.erase(it);
      return s;
    }
  }
  return nullptr;
}

ServiceStatus *takeByEndpoint(std::vector<ServiceStatus *> &list, STPSpecClass *endpoint) {
  for (auto it = list.begin(); it != list.end(); ++it) {
    if ((*it)->endpoint == endpoint) {
      ServiceStatus *s = *it;
      list.erase(it);
      return s;
    }
  }
  return nullptr;
}

const ServiceStatus *findByEndpoint(const std::vector<ServiceStatus *> &list,
                                    const STPSpecClass *endpoint) {
  for (const ServiceStatus *s : list)
    if (s->endpoint == endpoint) return s;
  return nullptr;
}

}  // namespace

void SRP_ServiceRegistry::onConnectionDropped(int serviceRN, int remoteRN) {
  if (ServiceStatus *s = takeByRNs(connectedServices, serviceRN, remoteRN)) {
    handleConnectionDrop(s, true);
  } else if (ServiceStatus *p = takeByRNs(pendingServices, serviceRN, remoteRN)) {
    handleConnectionDrop(p, false);
  } else if (outgoingConnectsInProgress > 0) {
    dropsWhileConnecting.emplace_back(serviceRN, remoteRN);
    for (STPSpecClass *e : negotiating)
      if (e->getLocalRN() == serviceRN && e->getRemoteRN() == remoteRN) e->markReceivingAsDown();
  }
}

void SRP_ServiceRegistry::handleConnectionDrop(ServiceStatus *record, bool wasConnected) {
  STPSpecClass *endpoint = record->endpoint;
  if (!record->isServerConnection)
    proxy.send_ReleaseRN(endpoint->getLocalRN());
  else if (wasConnected)
    --numServerConnections;
  record->startingDeletion();
  endpoint->markAsDown();
  notifyConnectionDiedListeners(endpoint);
  delete record;
}

bool SRP_ServiceRegistry::dropServiceConnection(STPSpecClass *endpoint, RetryHandler *rh,
                                                bool force) {
  if (!endpoint) return false;
  if (!force && endpoint->getCallerCount() > 0) return false;
  endpoint->addRef();  // the record below may hold the last reference
  endpoint->markAsDown();
  proxy.send_DropServiceConnection(endpoint->getLocalRN(), endpoint->getRemoteRN(), false, rh);
  if (isClientServiceConnection(endpoint)) proxy.send_ReleaseRN(endpoint->getLocalRN(), false, rh);
  notifyConnectionDiedListeners(endpoint);
  if (ServiceStatus *s = takeByEndpoint(connectedServices, endpoint)) {
    if (s->isServerConnection) --numServerConnections;
    s->startingDeletion();
    delete s;
  }
  endpoint->delRef();
  return true;
}

// True when the router dropped the endpoint's connection while it was being
// negotiated; the drop is then handled now that the connection has a record.
bool SRP_ServiceRegistry::takeDropWhileConnecting(STPSpecClass *endpoint) {
  std::pair<int, int> rns(endpoint->getLocalRN(), endpoint->getRemoteRN());
  auto it = std::find(dropsWhileConnecting.begin(), dropsWhileConnecting.end(), rns);
  if (it == dropsWhileConnecting.end()) return false;
  dropsWhileConnecting.erase(it);
  onConnectionDropped(rns.first, rns.second);
  return true;
}

void SRP_ServiceRegistry::beginNegotiating(STPSpecClass *endpoint) {
  negotiating.push_back(endpoint);
  std::pair<int, int> rns(endpoint->getLocalRN(), endpoint->getRemoteRN());
  if (std::find(dropsWhileConnecting.begin(), dropsWhileConnecting.end(), rns) != dropsWhileConnecting.end())
    endpoint->markReceivingAsDown();
}

void SRP_ServiceRegistry::endNegotiating(STPSpecClass *endpoint) {
  auto it = std::find(negotiating.begin(), negotiating.end(), endpoint);
  if (it != negotiating.end()) negotiating.erase(it);
}

void SRP_ServiceRegistry::endOutgoingConnect() {
  if (--outgoingConnectsInProgress == 0) dropsWhileConnecting.clear();
}

// ---- connection-died listeners

void SRP_ServiceRegistry::installConnectionDiedListener(ConnectionDiedListener *listener) {
  if (listener) connectionDiedListeners.push_back(listener);
}

bool SRP_ServiceRegistry::removeConnectionDiedListener(ConnectionDiedListener *listener) {
  auto it = std::find(connectionDiedListeners.begin(), connectionDiedListeners.end(), listener);
  if (it == connectionDiedListeners.end()) return false;
  connectionDiedListeners.erase(it);
  return true;
}

void SRP_ServiceRegistry::notifyConnectionDiedListeners(STPSpecClass *endpoint) {
  // Listeners may install or remove listeners while being told: walk a
  // snapshot, skip those removed meanwhile, remove the finished ones after.
  std::vector<ConnectionDiedListener *> snapshot = connectionDiedListeners;
  std::vector<ConnectionDiedListener *> finished;
  for (ConnectionDiedListener *l : snapshot) {
    if (std::find(connectionDiedListeners.begin(), connectionDiedListeners.end(), l) ==
        connectionDiedListeners.end())
      continue;
    l->connectionDied(endpoint);
    if (l->getConnection() == endpoint && l->died()) finished.push_back(l);
  }
  for (ConnectionDiedListener *l : finished) removeConnectionDiedListener(l);
}

// ---- queries

bool SRP_ServiceRegistry::isClientServiceConnection(STPSpecClass *endpoint) const {
  const ServiceStatus *s = findByEndpoint(connectedServices, endpoint);
  if (!s) s = findByEndpoint(pendingServices, endpoint);
  return s && !s->isServerConnection;
}

STPSpecClass *SRP_ServiceRegistry::getServiceConnectionForPluginId(int peerPluginId) const {
  for (const std::vector<ServiceStatus *> *list : {&connectedServices, &pendingServices})
    for (const ServiceStatus *s : *list)
      if (s->pluginId == peerPluginId) return s->endpoint;
  return nullptr;
}

int SRP_ServiceRegistry::getPluginIdForConnection(STPSpecClass *endpoint) const {
  const ServiceStatus *s = findByEndpoint(connectedServices, endpoint);
  if (!s) s = findByEndpoint(pendingServices, endpoint);
  return s ? s->pluginId : -1;
}

// ---- list maintenance

void SRP_ServiceRegistry::addServiceToConnectedServicesList(STPSpecClass *endpoint,
                                                            bool isSharedObject, int peerPluginId,
                                                            bool isServer,
                                                            SharedObjectConnection *sharedObject) {
  connectedServices.push_back(
      new ServiceStatus(endpoint, isSharedObject, peerPluginId, isServer, sharedObject));
}

bool SRP_ServiceRegistry::removeServiceFromConnectedServicesList(STPSpecClass *endpoint) {
  ServiceStatus *s = takeByEndpoint(connectedServices, endpoint);
  if (!s) return false;
  s->startingDeletion();
  delete s;
  return true;
}

void SRP_ServiceRegistry::addServiceToPendingServicesList(STPSpecClass *endpoint, int peerPluginId,
                                                          bool isServer) {
  pendingServices.push_back(new ServiceStatus(endpoint, false, peerPluginId, isServer, nullptr));
}

bool SRP_ServiceRegistry::removeServiceFromPendingServicesList(STPSpecClass *endpoint) {
  ServiceStatus *s = takeByEndpoint(pendingServices, endpoint);
  if (!s) return false;
  s->startingDeletion();
  delete s;
  return true;
}

void SRP_ServiceRegistry::setLoggingOnAll(STPLog *log) {
  for (ServiceStatus *s : connectedServices) s->endpoint->setLogging(log);
  for (ServiceStatus *s : pendingServices) s->endpoint->setLogging(log);
}

void SRP_ServiceRegistry::releaseRecords() {
  delete negotiator;
  negotiator = nullptr;
  // Marking an endpoint down may call back into the proxy; take the lists
  // out first so that nothing walks them meanwhile.
  std::vector<ServiceStatus *> records;
  records.swap(connectedServices);
  records.insert(records.end(), pendingServices.begin(), pendingServices.end());
  pendingServices.clear();
  for (ServiceStatus *s : records) {
    s->startingDeletion();
    s->endpoint->markAsDown();
    delete s;
  }
}
