// service_factory: how a service module offers a service through the
// service router, and how code watches a service connection end.
//
// A ServiceFactory stands for one service name. Its name is registered with
// the router, which answers with a routing number (RN); when another process
// asks for the service, the router proxy calls createService() with the
// router transport and the RN pair, and the factory's getService() builds
// the endpoint. The GlobalServiceFactoryList keeps the factories built with
// the register-globally flag, in construction order: that is the order of
// the names sent at start-up and of the RNs they receive.
//
// Service modules build their exit condition and their factories as
// process-wide objects before main. Their construction order is the fixed
// module order of the program; KORVO_MODULE_ORDER gives each module's
// statics their rank, so the order does not depend on the link order:
//
//   static MyService_ExitCondition my_exit KORVO_MODULE_ORDER(kModuleOrderMRUServer)(true);
//   static MyService_Factory my_factory KORVO_MODULE_ORDER(kModuleOrderMRUServer)("MRUService", -1, true);
//
// Objects of equal rank are built in the order they appear in their file.
// One thread.
#pragma once

#include <vector>

class STPSpecClass;
class STPTransport;
class ServiceRouter_Proxy;

// Static-construction ranks of the program's modules (lower first). Every
// ranked object is constructed before any unranked one.
enum KorvoModuleOrder {
  kModuleOrderRouterClient = 1001,      // proxy destroyer, shared-object map
  kModuleOrderConfigServer = 1002,      // BroadcastService.Config
  kModuleOrderFileNotifyReceiver = 1003,  // BroadcastService.File.Notify
  kModuleOrderFileForwarder = 1004,     // BroadcastService.File.Listen
  kModuleOrderMRUServer = 1005,         // MRUService
  kModuleOrderMRULists = 1006,          // MRU list statics
  kModuleOrderWindowRegister = 1007,    // TWL_WindowRegisterService
  kModuleOrderFileRegistry = 1008,      // FileRegistry
  kModuleOrderWhiteBoardServer = 1009,  // WhiteBoard
  kModuleOrderEditorServer = 1010,      // Editor.Emacs, Editor.Vi, Editor.Other
  kModuleOrderEditorDefaults = 1011,    // editor default configuration
};

// Places a namespace-scope object at its module's rank.
#define KORVO_MODULE_ORDER(rank) __attribute__((init_priority(rank)))

class ServiceFactory {
 public:
  // Copies `name`; creates the process-wide ServiceRouter_Proxy when there
  // is none yet; with `registerGlobally` set, appends this factory to the
  // GlobalServiceFactoryList. `maxConnections` -1 means unlimited.
  ServiceFactory(const char *name, int maxConnections, bool registerGlobally);
  // Copies `name` and registers the factory with `proxy` at once (see
  // ServiceRouter_Proxy::registerServiceFactory).
  ServiceFactory(ServiceRouter_Proxy *proxy, const char *name, int maxConnections);
  // Leaves the global list (a factory must outlive every proxy table that
  // names it: the proxy is released before static destruction).
  virtual ~ServiceFactory();
  ServiceFactory(const ServiceFactory &) = delete;
  ServiceFactory &operator=(const ServiceFactory &) = delete;

  // True when the maximum is -1 or the connection count is below it.
  virtual bool canAcceptNewConnection();
  // Builds the service endpoint and binds it to `transport` with the RN
  // pair (setTransport(transport, localRN, remoteRN)). Returns it holding
  // one reference (the creation reference, which the proxy drops once the
  // connection is negotiated), or null to refuse the connection.
  virtual STPSpecClass *getService(STPTransport *transport, int localRN, int remoteRN) = 0;
  // Called once the connection has been negotiated, or has gone down while
  // negotiating. Does nothing here.
  virtual void connectionNegotiated(STPSpecClass *service);
  // Called when the router's request for a connection has been accepted,
  // before any message of it is handled: the proxy knows the requesting
  // process then (getPluginIdForConnection) and holds the values it sent
  // with the request (getCachedValue). It may have left by the time its
  // messages are handled. Does nothing here.
  virtual void connectionAccepted(STPSpecClass *service);

  // getService() when canAcceptNewConnection() allows it; notes the new
  // object (see getCreatedServices) and that a service was created. The
  // result carries the creation reference; null when refused.
  STPSpecClass *createService(STPTransport *transport, int localRN, int remoteRN);

  const char *getServiceName() const { return serviceName; }
  int getNumConnections() const { return numConnections; }
  bool hasCreatedConnection() const { return createdConnection; }
  // Every object this factory created, in creation order. The entries are
  // not referenced: an entry may name an endpoint that has been released;
  // use them for identity only.
  const std::vector<STPSpecClass *> &getCreatedServices() const { return createdServices; }

  // True once any factory of the process has created a service object.
  // Shaped as an event-loop exit-condition function.
  static bool createdAService();

 protected:
  char *serviceName;   // owned (gen_free)
  int maxConnections;  // -1: unlimited
  // Not maintained here (every factory of the program is unlimited); a
  // factory with a finite maximum counts its own connections.
  int numConnections = 0;
  bool createdConnection = false;
  std::vector<STPSpecClass *> createdServices;  // not referenced

 private:
  bool registeredGlobally = false;
  static bool _created_a_service;
};

// The usual body of getService(): a new Endpoint (default-constructed, one
// reference) bound to `transport` with the RN pair. The caller owns the
// returned reference.
template <class Endpoint>
STPSpecClass *ServiceFactory_NewEndpoint(STPTransport *transport, int localRN, int remoteRN) {
  Endpoint *endpoint = new Endpoint();
  endpoint->setTransport(transport, localRN, remoteRN);
  return endpoint;
}

// The process-wide ordered list of globally registered factories. It is
// created by the first registration and lives until the last factory in it
// is destroyed. Nothing is owned.
class GlobalServiceFactoryList {
 public:
  // Appends `factory`.
  static void registerServiceFactory(ServiceFactory *factory);
  // Removes `factory`; false when it was not in the list.
  static bool removeServiceFactory(ServiceFactory *factory);
  // The list in registration order, or null when none was ever created (or
  // it has emptied out at exit).
  static const std::vector<ServiceFactory *> *getServiceFactoryList();
  // The first factory named exactly `name`, or null.
  static ServiceFactory *getFactoryForServiceName(const char *name);
  static int numRegistered();
};

// Told when a service connection ends (dropped by the router or on
// request). Install it with ServiceRouter_Proxy::installConnectionDiedListener;
// the proxy does not own it. After a notification, a listener whose
// connection is the one that ended and whose died() is true is removed from
// the proxy's list (not deleted).
class ConnectionDiedListener {
 public:
  // Watches `connection` (may be null: then it only hears about others) and
  // holds a reference on it until destroyed.
  explicit ConnectionDiedListener(STPSpecClass *connection);
  virtual ~ConnectionDiedListener();
  ConnectionDiedListener(const ConnectionDiedListener &) = delete;
  ConnectionDiedListener &operator=(const ConnectionDiedListener &) = delete;

  // Called for every connection that ends, watched or not. Does nothing
  // here.
  virtual void connectionDied(STPSpecClass *connection);
  // True when the watched connection has ended (it is marked down), or
  // when there is none.
  virtual bool died();
  STPSpecClass *getConnection() const { return connection; }

 private:
  STPSpecClass *connection;  // one reference held, may be null
};
