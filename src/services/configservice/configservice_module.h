// The module objects of "BroadcastService.Config": its exit condition and
// its service factory, built before main at the module's rank (after the
// router client, before the file-change services) and registered globally.
// The program links every object of this library so that they exist.
// One thread.
#pragma once

#include "services/servicerouter_proxy/service_factory.h"
#include "services/state/svc_eventloop.h"

// Allows exit whenever ConfigService_Server::_num_connections is 0, which
// it always is; never demands exit.
class ConfigService_Server_ExitCondition : public ExitCondition {
 public:
  explicit ConfigService_Server_ExitCondition(bool installGlobally) : ExitCondition(installGlobally) {}
  bool allowExit() override;
  bool mustExit() override;
};

// Creates a ConfigService_Server for every connection to the service.
class ConfigService_Server_ServiceFactory : public ServiceFactory {
 public:
  ConfigService_Server_ServiceFactory(const char *name, int maxConnections, bool registerGlobally)
      : ServiceFactory(name, maxConnections, registerGlobally) {}
  // A new ConfigService_Server bound to `transport` with the RN pair,
  // holding its creation reference.
  STPSpecClass *getService(STPTransport *transport, int localRN, int remoteRN) override;
};

// The service name.
inline constexpr const char *kConfigServiceName = "BroadcastService.Config";

// The module's factory and exit condition (process-wide, never null).
ConfigService_Server_ServiceFactory *ConfigService_GetServiceFactory();
ConfigService_Server_ExitCondition *ConfigService_GetExitCondition();
