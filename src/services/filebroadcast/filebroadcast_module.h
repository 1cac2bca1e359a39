// The module objects of "BroadcastService.File.Listen": its exit condition
// and its service factory, built before main at the module's rank (after
// the file-change receiver) and registered globally. The program links
// every object of this library so that they exist. One thread.
#pragma once

#include "services/servicerouter_proxy/service_factory.h"
#include "services/state/svc_eventloop.h"

// Allows exit whenever FileBroadcast_Forwarder::_num_connections is 0,
// which it always is; never demands exit.
class FileBroadcast_Forwarder_ExitCondition : public ExitCondition {
 public:
  explicit FileBroadcast_Forwarder_ExitCondition(bool installGlobally) : ExitCondition(installGlobally) {}
  bool allowExit() override;
  bool mustExit() override;
};

// Creates a FileBroadcast_Forwarder for every listening connection.
class FileBroadcast_Forwarder_ServiceFactory : public ServiceFactory {
 public:
  FileBroadcast_Forwarder_ServiceFactory(const char *name, int maxConnections, bool registerGlobally)
      : ServiceFactory(name, maxConnections, registerGlobally) {}
  // A new FileBroadcast_Forwarder bound to `transport` with the RN pair,
  // holding its creation reference.
  STPSpecClass *getService(STPTransport *transport, int localRN, int remoteRN) override;
};

inline constexpr const char *kFileListenServiceName = "BroadcastService.File.Listen";

// The module's factory and exit condition (process-wide, never null).
FileBroadcast_Forwarder_ServiceFactory *FileBroadcast_GetServiceFactory();
FileBroadcast_Forwarder_ExitCondition *FileBroadcast_GetExitCondition();
