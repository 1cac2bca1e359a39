// srp_outgoing_connector: the router-client part that connects this
// process to other processes' services.
//
// SRP_OutgoingConnector asks the router for a service by name; the router's
// ConnectionReplyEvent names either a routing-number pair on the router
// transport (a running provider) or a shared library that provides the
// service (then loaded here and reached over a loopback pair). Replies are
// kept in arrival order until the waiter with the same service name and
// cookie takes them; plugin-id answers are kept under their cookie. The
// connections made are recorded in the service registry. One thread.
#pragma once

#include <map>
#include <vector>

#include "servicerouter_plugin_impl.h"

class RetryHandler;
class ServiceRouter_Proxy;
class STPSpecClass;

// A received ConnectionReplyEvent, kept until a waiter with that name and
// cookie takes it.
struct PendingCon {
  char *serviceName = nullptr;  // owned
  int localRN = 0;
  bool wasFound = false;
  bool isSharedObject = false;
  bool wasAccepted = false;
  int serviceRN = 0;
  int pluginId = -1;
  char *sharedObjectName = nullptr;  // owned
  int clientCookie = 0;
};

// A received PluginIdForServiceReplyEvent.
struct PendingPluginIdForService {
  char *serviceName = nullptr;  // owned
  int pluginId = -1;
  bool found = false;
};

class SRP_OutgoingConnector {
 public:
  // `proxy` is the endpoint that talks to the router; it owns this part.
  explicit SRP_OutgoingConnector(ServiceRouter_Proxy &proxy) : proxy(proxy) {}
  // Frees the replies nobody took.
  ~SRP_OutgoingConnector();
  SRP_OutgoingConnector(const SRP_OutgoingConnector &) = delete;
  SRP_OutgoingConnector &operator=(const SRP_OutgoingConnector &) = delete;

  // See ServiceRouter_Proxy.
  bool getServiceConnection(const char *serviceName, STPSpecClass *endpoint, bool *wasFound,
                            bool *wasAccepted, RetryHandler *rh, const char *workingDir,
                            bool localOnly, bool noReuse, bool clientStart);
  bool getServiceConnectionFromPlugin(const char *serviceName, STPSpecClass *endpoint,
                                      int providingPluginId, RetryHandler *rh);
  bool awaitConnectionReplyEvent(const char *serviceName, STPSpecClass *endpoint, int cookie,
                                 bool *wasFound, bool *wasAccepted, RetryHandler *rh);
  int getPluginIdForService(const char *serviceName, const char *workingDir, RetryHandler *rh,
                            bool startIfNotRunning, bool *found);
  void onConnectionReply(const char *serviceName, int localRN, bool wasFound, bool isSharedObject,
                         bool wasAccepted, int serviceRN, int pluginId,
                         const char *sharedObjectName, int clientCookie);
  void onPluginIdForServiceReply(int cookie, const char *serviceName, int pluginId, bool found);

 private:
  bool connectSharedObject(const PendingCon &reply, const char *serviceName,
                           STPSpecClass *endpoint);
  bool connectRouted(const PendingCon &reply, STPSpecClass *endpoint, RetryHandler *rh);

  ServiceRouter_Proxy &proxy;  // owner
  std::vector<PendingCon *> pendingCons;                        // owned, arrival order
  std::map<int, PendingPluginIdForService *> pendingPluginIds;  // owned
};
