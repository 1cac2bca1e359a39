// The module objects of "BroadcastService.File.Notify": its exit condition
// and its service factory, built before main at the module's rank (after
// the configuration service, before the forwarder module) and registered
// globally. The program links every object of this library so that they
// exist. One thread.
#pragma once

#include "services/servicerouter_proxy/service_factory.h"
#include "services/state/svc_eventloop.h"

// Allows exit whenever FileNotify_Receiver::_num_connections is 0, which
// it always is; never demands exit.
class FileNotifier_Receiver_ExitCondition : public ExitCondition {
 public:
  explicit FileNotifier_Receiver_ExitCondition(bool installGlobally) : ExitCondition(installGlobally) {}
  bool allowExit() override;
  bool mustExit() override;
};

// Creates a FileNotify_Receiver for every notifying connection.
class FileNotify_Receiver_ServiceFactory : public ServiceFactory {
 public:
  FileNotify_Receiver_ServiceFactory(const char *name, int maxConnections, bool registerGlobally)
      : ServiceFactory(name, maxConnections, registerGlobally) {}
  // A new FileNotify_Receiver bound to `transport` with the RN pair,
  // holding its creation reference.
  STPSpecClass *getService(STPTransport *transport, int localRN, int remoteRN) override;
};

inline constexpr const char *kFileNotifyServiceName = "BroadcastService.File.Notify";

// The module's factory and exit condition (process-wide, never null).
FileNotify_Receiver_ServiceFactory *FileNotify_GetServiceFactory();
FileNotifier_Receiver_ExitCondition *FileNotify_GetExitCondition();
