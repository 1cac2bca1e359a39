// servicerouter_proxy: this process's one client of the service router.
//
// ServiceRouter_Proxy is the "plugin" end of the ServiceRouter protocol. It
// reads the router options from the command line, finds, launches or
// connects to the router, negotiates, registers the service names of the
// process's factories and waits for its plugin id; it then accepts the
// service connections the router hands it, requests connections to other
// processes' services, launches plugins, answers and asks name/value
// questions and forwards the protocol log. There is one proxy per process,
// `servicerouter_proxy`, created by the first ServiceFactory (or by
// startup()) and released by shutdown().
//
// The class is implemented in several files:
//   servicerouter_proxy.cpp              construction, start-up, shut-down
//   servicerouter_proxy_args.cpp         the router options of the command line
//   servicerouter_proxy_connect.cpp      finding/launching/connecting the router, waits
//   servicerouter_proxy_services.cpp     factories, RNs, incoming connections, drops
//   servicerouter_proxy_plugins.cpp      plugins, name/value queries, log forwarding
//   servicerouter_proxy_outgoing.cpp     outgoing service connections
//
// Ownership: the proxy owns the router transport (one reference), its
// socket listener, the service-connection records (each holds a reference
// on its endpoint), the negotiator, the name/value resolvers and caches, the
// pending-answer tables and the global log. Factories and connection-died
// listeners are not owned. Assumes one thread; every handler runs from the
// router transport's dispatch, inside the event loop or inside a wait.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "servicerouter_plugin_impl.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/stp_transport/stp_transport.h"

class ConnectionDiedListener;
class RetryHandler;
class ServiceFactory;
class SharedObjectConnection;
class STPLog;

// Key of the name/value tables: ordered by plugin id, then by name.
struct PluginIdAndNamePair {
  int pluginId;
  std::string name;
  bool operator<(const PluginIdAndNamePair &o) const {
    return pluginId != o.pluginId ? pluginId < o.pluginId : name < o.name;
  }
};

// Answers one name for other plugins (servicerouter_proxy_plugins.cpp).
// Precached resolvers are also sent with every outgoing connection request.
class NameValueResolver {
 public:
  // Copies name and value.
  NameValueResolver(bool precached, const char *name, const char *value);
  virtual ~NameValueResolver();
  NameValueResolver(const NameValueResolver &) = delete;
  NameValueResolver &operator=(const NameValueResolver &) = delete;
  virtual const char *getName();
  // True when both names exist and are equal.
  virtual bool hasValueForName(const char *name);
  // The value (owned by the resolver) when hasValueForName(name), else null.
  virtual const char *valueForName(const char *name);
  bool isPrecached() const { return precached; }

 protected:
  bool precached;
  char *name;   // owned
  char *value;  // owned
};

// An answer to a plugin launch or connect, kept under its cookie until the
// waiter takes it (servicerouter_proxy_plugins.cpp).
struct PendingLaunch {
  int pluginId = -1;
  char *errors = nullptr;  // owned, may be null
};

// A received ConnectionReplyEvent, kept until a waiter with that name and
// cookie takes it (servicerouter_proxy_outgoing.cpp).
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

// A received PluginIdForServiceReplyEvent (servicerouter_proxy_outgoing.cpp).
struct PendingPluginIdForService {
  char *serviceName = nullptr;  // owned
  int pluginId = -1;
  bool found = false;
};

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
// is ignored. Lets the proxy release connections without their full type.
void deleteSharedObjectConnection(SharedObjectConnection *connection);

// Drives the router transport from the idle notifier. Registers itself with
// the notifier when constructed and removes itself when destroyed or
// stopped. Does not own or reference the transport; the proxy deletes the
// listener before it releases the transport.
class SRP_SocketListener : public SocketListener {
 public:
  explicit SRP_SocketListener(STPTransport *transport);
  ~SRP_SocketListener() override;
  SRP_SocketListener(const SRP_SocketListener &) = delete;
  SRP_SocketListener &operator=(const SRP_SocketListener &) = delete;

  // A descriptor while the transport is alive and not a loopback.
  bool hasFD() override;
  int getFD() override;
  bool wantsToRead() override;
  bool wantsToWrite() override;
  bool wantsToDequeueAndDispatch() override;
  // True once the transport is dead.
  bool wantsToStop() override;
  void handleRead() override;
  void handleWrite() override;
  void handleDequeueAndDispatch() override;
  // Leaves the idle notifier.
  void handleStop() override;

 private:
  void unregister();
  STPTransport *transport;  // not owned
  bool registered = false;
};

class ServiceRouter_Proxy : public ServiceRouter_plugin_Impl {
 public:
  // ---- Creation, start-up and shut-down (servicerouter_proxy.cpp) ----

  // The process-wide proxy, created (not started) when there is none.
  static ServiceRouter_Proxy *ensureProxy();

  // Parses and removes the router options from *argc/argv (the vector stays
  // null-terminated), then connects when there is a reason to: a factory
  // is registered, the process was launched by a router, or connectNow.
  // persistent: whether the process asks the router to keep it alive;
  // display: X display naming the active-services file (null: $DISPLAY);
  // privateRouter: default for launching a private router; rh: retry
  // handler of every wait (null: the router transport is serviced
  // directly); mayLaunchRouter: permits starting a router when none
  // answers. A second call does nothing and returns true. False when the
  // router could not be reached, negotiated or registered with (a reason
  // has been printed where there is one).
  static bool startup(bool persistent, int *argc, char **argv, const char *display,
                      bool privateRouter, RetryHandler *rh, bool connectNow, bool mayLaunchRouter);

  // Asks the router to disconnect the process, releases the proxy and
  // reaps a privately launched router and the plugins started for the
  // router. With verbose, waits up to 4 s for each, reports children that
  // ended by a signal and kills those still running. Returns verbose.
  static bool shutdown(bool verbose);

  // True when one of the words from the first to the last but one is
  // "-connect_servicerouter", "-sr_connect_servicerouter_host" or
  // "-sr_connect_servicerouter_port".
  static bool argsIndicateLaunchedFromServiceRouter(int argc, char **argv);
  // Whether argv[index] is a router option; *wordCount (may be null) gets
  // the number of words it occupies (2 with a value, 1 for the flags).
  // False past the last argument, for a null vector, and for an option
  // with a value that has no further word.
  static bool isSRArgument(int argc, char **argv, int index, int *wordCount);

  // Reads the router options from index 1 on, removing each recognised
  // option (with its value) from the vector; the values are copied.
  void parseArguments(int *argc, char **argv);
  // Warns about debugger options that have no effect without others.
  void verifyConsistentArgs();

  bool launchedFromServiceRouter() const { return launchedFromRouter; }
  int getPluginId() const { return pluginId; }
  bool isConnected() const { return connected; }
  bool isStarted() const { return started; }
  // A fresh cookie for a request that expects a reply.
  int getCookie() { return nextCookie++; }

  // Option values, for diagnostics and tests (owned by the proxy).
  const char *getZone() const { return zone; }
  const char *getDisplay() const { return display; }
  const char *getRouterDirectory() const { return routerDir; }
  const char *getRouterLogFile() const { return routerLogFile; }
  const char *getRouterInternalLogFile() const { return routerInternalLogFile; }
  int getRouterPort() const { return routerPort; }
  int getClientStartCookie() const { return hasClientStartCookie ? clientStartCookie : -1; }
  bool usesPrivateRouter() const { return privateRouter; }
  bool wantsNewRouter() const { return newRouter; }

  // ---- Reaching the router (servicerouter_proxy_connect.cpp) ----

  // True when connected, else the result of doSRConnectNow(rh).
  bool ensureSRConnection(RetryHandler *rh);
  // Finds, launches or connects to the router as the options say, then
  // init(). Prints the reason of a failure.
  bool doSRConnectNow(RetryHandler *rh);
  // A new router transport connected to host:port and this endpoint bound
  // to it (local RN 2, remote RN 1). False (and no transport) on failure.
  bool connectToServiceRouter(const char *host, int port);
  // Whether the router at the other end of `t` runs as this user (warns when
  // not); `port` only names it in the warning (0: the launched one).
  bool routerIsOurs(STPTransport *t, int port);
  // Starts "svc_router" from the router directory (else this program's)
  // and waits until it has connected back. notShared adds "-not_shared".
  bool launchServiceRouter(RetryHandler *rh, bool notShared);
  // Negotiates with the router and registers the process: start cookie,
  // working directory, service names, persistence, debug request; then
  // waits for the plugin id.
  bool init(bool persistent, RetryHandler *rh);
  bool awaitPluginIdFromServiceRouter(RetryHandler *rh);
  // The shared wait of every blocking operation: with rh, its idle() until
  // `done`, the router transport dies, this endpoint is down or rh gives
  // up; without rh, serviceOnce(10000) rounds on the router transport.
  // Returns whether `done` holds.
  bool awaitCondition(RetryHandler *rh, STPWaitPredicate done);

  // Sends RequestServiceRouterDisconnect at once (null rh: the endpoint's
  // default handler).
  bool requestServiceRouterDisconnect(RetryHandler *rh);
  // Stores the flag and, when connected, sends PersistentService.
  bool setPluginPersistence(bool persistent, RetryHandler *rh = nullptr, TStat *stat = nullptr);
  // Number of persistent services of the router (-1 on error); *total (may
  // be null) gets the number of all services.
  int getNumPersistentServices(RetryHandler *rh, int *total);

  // True before the first successful negotiation; afterwards while the
  // router transport is alive and this endpoint is not marked down.
  bool isAlive();
  // True when a router transport exists and is not dead.
  bool isTransportAlive();
  // Ensures the connection and returns the router transport (owned by the
  // proxy), or null.
  STPTransport *getTransport();
  // The router's host (owned by the proxy) and port, asked from the router
  // when unknown. False when the connection or the wait failed.
  bool getServiceRouterLocation(const char **host, int *port, RetryHandler *rh);

  // The protocol log of every endpoint (owned by the proxy), or null.
  STPLog *getGlobalLog() const { return globalLog; }
  // Deletes the previous log, takes ownership of `log` (may be null) and
  // sets it on every connected and pending service endpoint.
  void setGlobalLog(STPLog *log);

  void msg_PluginId(int plugin_id) override;
  void msg_LocationEvent(const char *hostname, int port) override;

  // ---- Service factories and connections (servicerouter_proxy_services.cpp) ----

  // Registers a factory after start-up (or before it: then init() sends
  // its name). False on a send error.
  bool registerServiceFactory(ServiceFactory *factory, RetryHandler *rh);
  // Drops every reference to a factory that is going away (its RNs stay
  // local, but requests for them are refused from then on).
  void forgetServiceFactory(ServiceFactory *factory);

  void msg_RNBlockReservedEvent(ServiceRouter_INT_ARRAY &rn_list) override;
  void msg_ConnectionRequestedEvent(int requesting_plugin_id, int serviceRN, int remoteRN,
                                    ServiceRouter_STRING_ARRAY &name_value_pairs) override;
  void msg_ConnectionDroppedEvent(int serviceRN, int remoteRN) override;

  // Ends a service connection from this side: marks the endpoint down,
  // tells the router, notifies the connection-died listeners and deletes
  // its record. Refused (false, nothing sent) while the endpoint has a
  // caller inside it, unless forced.
  bool dropServiceConnection(STPSpecClass *endpoint, RetryHandler *rh, bool force);

  // Listeners are not owned; a listener must be removed before it is
  // deleted (or be removed by a notification, see ConnectionDiedListener).
  void installConnectionDiedListener(ConnectionDiedListener *listener);
  bool removeConnectionDiedListener(ConnectionDiedListener *listener);
  void notifyConnectionDiedListeners(STPSpecClass *endpoint);

  // Stores each complete (name, value) pair of `pairs` (names and values
  // alternate) in the name/value cache under pluginId, replacing what was
  // there; an odd last name and pairs with a missing name or value are
  // skipped.
  void cacheNameValuePairs(int pluginId, const ServiceRouter_STRING_ARRAY &pairs);
  // The cached value (owned by the cache) or null.
  const char *getCachedValue(int pluginId, const char *name) const;

  // Queries.
  int getNumServiceConnections() const { return static_cast<int>(connectedServices.size()); }
  int getNumPendingServiceConnections() const { return static_cast<int>(pendingServices.size()); }
  int getNumServerConnections() const { return numServerConnections; }
  bool acceptedAConnection() const { return acceptedConnection; }
  bool isClientServiceConnection(STPSpecClass *endpoint) const;
  // First among the connected, then the pending connections; null if none.
  STPSpecClass *getServiceConnectionForPluginId(int pluginId) const;
  // -1 when the endpoint is in neither list.
  int getPluginIdForConnection(STPSpecClass *endpoint) const;
  // The factory that owns a local RN, or null.
  ServiceFactory *getFactoryForRN(int rn) const;
  bool isLocalRN(int rn) const;
  // RNs received beyond the waiting factories.
  const std::vector<int> &getSpareRNs() const { return spareRNs; }
  int getNumFactoriesAwaitingRN() const { return static_cast<int>(factoriesAwaitingRN.size()); }

  // List maintenance. Adding creates a record (which references the
  // endpoint); removing deletes the first record of the endpoint and
  // returns whether there was one.
  bool takeDropWhileConnecting(STPSpecClass *endpoint);
  void addServiceToConnectedServicesList(STPSpecClass *endpoint, bool isSharedObject, int pluginId,
                                         bool isServer, SharedObjectConnection *sharedObject);
  bool removeServiceFromConnectedServicesList(STPSpecClass *endpoint);
  void addServiceToPendingServicesList(STPSpecClass *endpoint, int pluginId, bool isServer);
  bool removeServiceFromPendingServicesList(STPSpecClass *endpoint);

  // ---- Plugins, name/value queries, log forwarding (servicerouter_proxy_plugins.cpp) ----

  // Launch through the router; the plugin id or -1. *errors (may be null)
  // gets the router's error text, a new string the caller frees (gen_free).
  int launchPlugin(const char *commandLine, RetryHandler *rh, bool clientStart, char **errors);
  int launchPlugin(char **argv, int argc, RetryHandler *rh, bool clientStart, char **errors);
  int connectToPlugin(const char *host, int port, RetryHandler *rh, char **errors);
  int awaitPluginConnectedEvent(int cookie, RetryHandler *rh, char **errors);
  // The value (owned by the cache) or null.
  const char *getValueOfNameForPlugin(int pluginId, const char *name, RetryHandler *rh);
  bool awaitValueOfNameOnPluginEvent(int pluginId, const char *name, RetryHandler *rh);
  const char *getCwdOfPlugin(int pluginId, RetryHandler *rh);
  // New strings (gen_free), null for a null name.
  char *resolvePluginRelFilename(int pluginId, const char *fileName, RetryHandler *rh);
  char *resolveConRelFilename(STPSpecClass *connection, const char *fileName, RetryHandler *rh);
  // Takes ownership of the resolver.
  void addNameValueResolver(NameValueResolver *resolver);
  int getNumPrecachedResolvers() const;
  bool setEnvironmentVariable(const char *variable, const char *value);
  const std::vector<int> &getPluginPids() const { return pluginPids; }
  bool notePluginPidExit(int pid);
  // The class-wide counter behind launch, connect and plugin-id cookies.
  static int nextRequestCookie();

  void msg_PluginConnectedEvent(int cookie, int pluginID, const char *errors) override;
  void msg_StartPlugin(ServiceRouter_STRING_ARRAY &args, int cookie,
                       const char *working_dir) override;
  void msg_StartLogging() override;
  void msg_ValueOfNameOnPluginEvent(int plugin_id, const char *name, const char *value) override;
  void msg_ForwardedRequestValueOfNameOnPlugin(int requesting_plugin_id, int my_plugin_id,
                                               const char *name) override;

  // ---- Outgoing service connections (servicerouter_proxy_outgoing.cpp) ----

  // Asks the router for a connection to `serviceName` and binds `endpoint`
  // to it. *wasFound / *wasAccepted report the router's answer.
  bool getServiceConnection(const char *serviceName, STPSpecClass *endpoint, bool *wasFound,
                            bool *wasAccepted, RetryHandler *rh, const char *workingDir,
                            bool localOnly, bool noReuse, bool clientStart);
  bool getServiceConnectionFromPlugin(const char *serviceName, STPSpecClass *endpoint,
                                      int providingPluginId, RetryHandler *rh);
  bool awaitConnectionReplyEvent(const char *serviceName, STPSpecClass *endpoint, int cookie,
                                 bool *wasFound, bool *wasAccepted, RetryHandler *rh);
  // The provider's plugin id or -1; *found (may be null) reports the answer.
  int getPluginIdForService(const char *serviceName, const char *workingDir, RetryHandler *rh,
                            bool startIfNotRunning, bool *found);
  // RequestServiceConnection with the precached name/value pairs added.
  using ServiceRouter_plugin_Impl::send_RequestServiceConnection;
  bool send_RequestServiceConnection(const char *serviceName, int providingPluginID,
                                     const char *working_dir, bool local_only, int client_cookie,
                                     bool no_reuse, bool client_start, bool stp_wait = false,
                                     RetryHandler *stp_rh = nullptr, TStat *stp_stat = nullptr);

  void msg_ConnectionReplyEvent(const char *serviceName, int localRN, bool wasFound,
                                bool is_shared_object, bool wasAccepted, int serviceRN,
                                int plugin_id, const char *shared_object_name,
                                int client_cookie) override;
  void msg_PluginIdForServiceReplyEvent(int cookie, const char *service_name, int plugin_id,
                                        bool found) override;

 private:
  friend class GlobalServiceRouterProxyDestroyer;
  class Negotiator;

  // Created through ensureProxy(); released through delRef (shutdown()).
  ServiceRouter_Proxy();
  ~ServiceRouter_Proxy() override;

  // servicerouter_proxy.cpp, servicerouter_proxy_args.cpp
  void applyOption(const char *name, const char *value);
  void openLogFile(const char *fileName);
  void selfDebugAtStartup();
  static void waitForChildToEnd(int pid, const char *name, bool verbose, int limitMs);

  // servicerouter_proxy_connect.cpp: makes `transport` (its reference and
  // `listener` pass to the proxy) the router transport, releasing an earlier
  // one; and the release itself (listener deleted, connection closed).
  void adoptRouterTransport(STPTransport *transport, SRP_SocketListener *listener);
  void releaseRouterTransport();

  // servicerouter_proxy_services.cpp
  void handleConnectionDrop(ServiceStatus *record, bool wasConnected);
  void finishNegotiatedConnection(STPSpecClass *endpoint, int pluginId, ServiceFactory *factory);
  void releaseServiceRecords();

  // Set-up and release of the plugin and outgoing-connection state, called
  // by the constructor and the destructor (servicerouter_proxy_plugins.cpp,
  // servicerouter_proxy_outgoing.cpp).
  void initPluginState();
  void freePluginState();
  void freeOutgoingState();

  // ---- start-up and connection state ----
  int nextCookie = 0;
  int pluginId = -1;
  bool connected = false;
  bool persistent = false;
  bool connectNow = false;
  bool started = false;
  bool launchedFromRouter = false;
  bool mayLaunchRouter = true;
  bool startupDone = false;
  char *zone = nullptr;  // owned strings (gen_free) from here on
  int clientStartCookie = -1;
  bool hasClientStartCookie = false;
  char *display = nullptr;
  bool privateRouter = false;
  bool newRouter = false;
  int privateRouterPid = 0;
  int routerPort = 0;
  char *routerHost = nullptr;
  char *debugPluginName = nullptr;
  char *debugger = nullptr;
  char *debuggerOpts = nullptr;
  bool debugAtStartup = false;
  char *startupDebugger = nullptr;
  char *startupDebuggerOpts = nullptr;
  char *routerDir = nullptr;
  char *routerLogFile = nullptr;
  char *routerInternalLogFile = nullptr;
  STPLog *globalLog = nullptr;  // owned
  FILE *logFile = nullptr;      // owned ("-sr_log")
  SRP_SocketListener *socketListener = nullptr;  // owned
  STPTransport *routerTransport = nullptr;       // one reference held
  int numPersistentTotal = 0;

  // ---- service connections ----
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
  std::map<PluginIdAndNamePair, char *> nameValueCache;           // owned values (gen_free)

  // ---- plugins, name/value queries ----
  std::map<int, PendingLaunch> pendingLaunches;
  std::vector<NameValueResolver *> nameValueResolvers;      // owned
  std::map<PluginIdAndNamePair, char *> pendingValues;      // owned values, may be null
  std::vector<int> pluginPids;                              // in start order
  std::map<int, std::string> pluginPidNames;                // base name of each program

  // ---- outgoing connections ----
  std::vector<PendingCon *> pendingCons;                         // owned, arrival order
  std::map<int, PendingPluginIdForService *> pendingPluginIds;   // owned
  // A drop can arrive while an outgoing connection is still negotiating, before
  // it has a record; such drops are kept (local RN, remote RN) until the
  // connection is recorded, then the connection is treated as dropped.
  int outgoingConnectsInProgress = 0;
  std::vector<std::pair<int, int>> dropsWhileConnecting;
};

// The process's proxy, or null before it is created and after shutdown().
extern ServiceRouter_Proxy *servicerouter_proxy;

// A process-wide object whose destruction releases a proxy that shutdown()
// did not release (no children are waited for then).
class GlobalServiceRouterProxyDestroyer {
 public:
  GlobalServiceRouterProxyDestroyer() = default;
  ~GlobalServiceRouterProxyDestroyer();
  GlobalServiceRouterProxyDestroyer(const GlobalServiceRouterProxyDestroyer &) = delete;
  GlobalServiceRouterProxyDestroyer &operator=(const GlobalServiceRouterProxyDestroyer &) = delete;
};
