// The two classes every service module of svc_statemgr needs: an exit
// condition that watches the module's connection count, and a factory that
// builds one endpoint per connection.
//
// A module names them with aliases of these templates and defines its
// process-wide objects itself, at its module rank, so that the order of
// construction (and so of the service names sent to the router) stays with
// the module:
//
//   using MyService_ExitCondition = ServiceExitCondition<MyService_Server>;
//   using MyService_Factory = ServiceEndpointFactory<MyService_Server>;
//   static MyService_ExitCondition my_exit KORVO_MODULE_ORDER(kModuleOrderMRUServer)(true);
//   static MyService_Factory my_factory KORVO_MODULE_ORDER(kModuleOrderMRUServer)("MRUService", -1, true);
//
// One thread.
#pragma once

#include "services/servicerouter_proxy/service_factory.h"
#include "services/state/svc_eventloop.h"

// Allows exit while `Counted::_num_connections` is 0; never demands exit.
// `Counted` is the server class (or the base of the servers) whose static
// counter holds the connections that keep the process alive.
template <class Counted>
class ServiceExitCondition : public ExitCondition {
 public:
  // With `installGlobally`, every event loop consults this condition.
  explicit ServiceExitCondition(bool installGlobally) : ExitCondition(installGlobally) {}
  bool allowExit() override { return Counted::_num_connections == 0; }
  bool mustExit() override { return false; }
};

// Makes a default-constructed `Endpoint` per connection; getService returns
// it bound to the transport with the RN pair, carrying the creation
// reference (never null).
template <class Endpoint>
class ServiceEndpointFactory : public ServiceFactory {
 public:
  ServiceEndpointFactory(const char *name, int maxConnections, bool registerGlobally)
      : ServiceFactory(name, maxConnections, registerGlobally) {}
  STPSpecClass *getService(STPTransport *transport, int localRN, int remoteRN) override {
    return ServiceFactory_NewEndpoint<Endpoint>(transport, localRN, remoteRN);
  }
};

// The pair for a module with one endpoint class that also holds the count.
template <class Server>
struct ServiceModule {
  using ExitCondition = ServiceExitCondition<Server>;
  using Factory = ServiceEndpointFactory<Server>;
};
