// srp_service_registry: the router-client part that keeps this process's
// services and service connections.
//
// SRP_ServiceRegistry hands the routing numbers the router reserves to the
// factories that wait for them, creates, accepts and negotiates the
// incoming connections the router requests, keeps the connected and
// pending connection records (incoming and outgoing), handles drops from
// either side and tells the connection-died listeners of every end.
//
// Ownership: the records (each holds a reference on its endpoint) and the
// negotiator. Factories and listeners are not owned. One thread.
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "servicerouter_plugin_impl.h"

class ConnectionDiedListener;
class RetryHandler;
class ServiceFactory;
class ServiceRouter_Proxy;
class SharedObjectConnection;
class STPLog;
class STPSpecClass;

// One service connection of this process, incoming (server) or outgoing
// (client). Holds a reference on the endpoint while the record exists; owns
// its shared-object connection.
struct ServiceStatus {
  ServiceStatus(STPSpecClass *endpoint, bool isSharedObject, int pluginId, bool isServer,
                SharedObjectConnection *sharedObject);
  ~ServiceStatus();
  ServiceStatus(const ServiceStatus &) = delete;
  ServiceStatus &operator=(const ServiceStatus &) = delete;
  void startingDeletion() { deletionInProgress = true; }

  STPSpecClass *endpoint;
  int pluginId;
  bool isSharedObjectConnection;
  bool isServerConnection;
  SharedObjectConnection *sharedObject;  // owned, may be null
  bool deletionInProgress = false;
};

// Deletes a shared-object connection (shared_object_connection.cpp); null
// is ignored. Lets the registry release connections without their full type.
void deleteSharedObjectConnection(SharedObjectConnection *connection);

class SRP_ServiceRegistry {
 public:
  // `proxy` is the endpoint that talks to the router; it owns this part.
  explicit SRP_ServiceRegistry(ServiceRouter_Proxy &proxy) : proxy(proxy) {}
  ~SRP_ServiceRegistry() { releaseRecords(); }
  SRP_ServiceRegistry(const SRP_ServiceRegistry &) = delete;
  SRP_ServiceRegistry &operator=(const SRP_ServiceRegistry &) = delete;

  // Factories and routing numbers; see ServiceRouter_Proxy.
  bool registerServiceFactory(ServiceFactory *factory, RetryHandler *rh);
  void forgetServiceFactory(ServiceFactory *factory);
  // Moves the factories registered before connecting, after the globally
  // registered ones, to the RN queue and returns them in that order (the
  // n-th name sent gets the n-th RN).
  std::vector<ServiceFactory *> takeFactoriesToRegister();
  void onRNBlockReserved(const ServiceRouter_INT_ARRAY &rns);
  ServiceFactory *getFactoryForRN(int rn) const;
  bool isLocalRN(int rn) const;
  // Records `rn` as one of this process's RNs.
  void markLocalRN(int rn) { localRNs[rn] = true; }
  const std::vector<int> &getSpareRNs() const { return spareRNs; }
  int getNumFactoriesAwaitingRN() const { return static_cast<int>(factoriesAwaitingRN.size()); }

  // Incoming connections and drops; see ServiceRouter_Proxy.
  void onConnectionRequested(int requestingPluginId, int serviceRN, int remoteRN,
                             const ServiceRouter_STRING_ARRAY &nameValuePairs);
  void onConnectionDropped(int serviceRN, int remoteRN);
  bool dropServiceConnection(STPSpecClass *endpoint, RetryHandler *rh, bool force);

  // An outgoing connection is being negotiated (drops that find no record
  // are kept meanwhile) / has ended negotiating (the last one forgets them).
  void beginOutgoingConnect() { ++outgoingConnectsInProgress; }
  void endOutgoingConnect();
  bool takeDropWhileConnecting(STPSpecClass *endpoint);
  // `endpoint` waits for its peer's negotiation: a drop of its connection,
  // already received or arriving meanwhile, ends the wait (no answer comes).
  void beginNegotiating(STPSpecClass *endpoint);
  void endNegotiating(STPSpecClass *endpoint);

  // Connection-died listeners; see ServiceRouter_Proxy.
  void installConnectionDiedListener(ConnectionDiedListener *listener);
  bool removeConnectionDiedListener(ConnectionDiedListener *listener);
  void notifyConnectionDiedListeners(STPSpecClass *endpoint);

  // Queries; see ServiceRouter_Proxy.
  int getNumServiceConnections() const { return static_cast<int>(connectedServices.size()); }
  int getNumPendingServiceConnections() const { return static_cast<int>(pendingServices.size()); }
  int getNumServerConnections() const { return numServerConnections; }
  bool acceptedAConnection() const { return acceptedConnection; }
  bool isClientServiceConnection(STPSpecClass *endpoint) const;
  STPSpecClass *getServiceConnectionForPluginId(int pluginId) const;
  int getPluginIdForConnection(STPSpecClass *endpoint) const;

  // Record lists; see ServiceRouter_Proxy.
  void addServiceToConnectedServicesList(STPSpecClass *endpoint, bool isSharedObject, int pluginId,
                                         bool isServer, SharedObjectConnection *sharedObject);
  bool removeServiceFromConnectedServicesList(STPSpecClass *endpoint);
  void addServiceToPendingServicesList(STPSpecClass *endpoint, int pluginId, bool isServer);
  bool removeServiceFromPendingServicesList(STPSpecClass *endpoint);

  // Sets `log` on every connected and pending endpoint.
  void setLoggingOnAll(STPLog *log);
  // Deletes the negotiator, then marks every endpoint down and deletes
  // every record.
  void releaseRecords();

 private:
  class Negotiator;
  void handleConnectionDrop(ServiceStatus *record, bool wasConnected);
  void finishNegotiatedConnection(STPSpecClass *endpoint, int pluginId, ServiceFactory *factory);

  ServiceRouter_Proxy &proxy;  // owner
  std::vector<ServiceFactory *> localFactories;       // registered before connecting
  std::vector<ServiceFactory *> factoriesAwaitingRN;  // in the order their names were sent
  std::map<int, ServiceFactory *> rnToFactory;
  std::map<int, bool> localRNs;
  std::vector<int> spareRNs;
  std::vector<ServiceStatus *> connectedServices;  // owned records
  std::vector<ServiceStatus *> pendingServices;    // owned records
  Negotiator *negotiator = nullptr;                // owned
  bool acceptedConnection = false;
  int numServerConnections = 0;
  std::vector<ConnectionDiedListener *> connectionDiedListeners;  // not owned
  // A drop can arrive while an outgoing connection is still negotiating, before
  // it has a record; such drops are kept (local RN, remote RN) until the
  // connection is recorded, then the connection is treated as dropped.
  int outgoingConnectsInProgress = 0;
  std::vector<std::pair<int, int>> dropsWhileConnecting;
  std::vector<STPSpecClass *> negotiating;  // not owned
};
