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
// The proxy is the endpoint (it sends and receives the router's messages)
// and a facade over four parts, each with its own state:
//   SRP_RouterLink         srp_router_link.h       options, connecting,
//                          launching the router, registration, plugin id,
//                          the shared wait, the protocol log
//   SRP_ServiceRegistry    srp_service_registry.h  factories, RNs, incoming
//                          connections, records, drops, died listeners
//   SRP_PluginClient       srp_plugin_client.h     plugins and their pids,
//                          name/value questions and cache, log forwarding
//   SRP_OutgoingConnector  srp_outgoing_connector.h  outgoing and
//                          shared-object service connections
// Message handlers and the public methods forward to the part concerned;
// servicerouter_proxy.cpp holds creation, start-up and shut-down.
//
// Ownership: the proxy owns its parts; see each part for what it owns.
// Factories and connection-died listeners are not owned. Assumes one
// thread; every handler runs from the router transport's dispatch, inside
// the event loop or inside a wait.
#pragma once

#include <utility>
#include <vector>

#include "servicerouter_plugin_impl.h"
#include "services/servicerouter_proxy/srp_outgoing_connector.h"
#include "services/servicerouter_proxy/srp_plugin_client.h"
#include "services/servicerouter_proxy/srp_router_link.h"
#include "services/servicerouter_proxy/srp_service_registry.h"

class ConnectionDiedListener;
class RetryHandler;
class ServiceFactory;
class SharedObjectConnection;
class STPLog;

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

  // ---- The router link (SRP_RouterLink) ----

  // True when one of the words from the first to the last but one is
  // "-connect_servicerouter", "-sr_connect_servicerouter_host" or
  // "-sr_connect_servicerouter_port".
  static bool argsIndicateLaunchedFromServiceRouter(int argc, char **argv) {
    return SRP_RouterLink::argsIndicateLaunchedFromServiceRouter(argc, argv);
  }
  // Whether argv[index] is a router option; *wordCount (may be null) gets
  // the number of words it occupies (2 with a value, 1 for the flags).
  // False past the last argument, for a null vector, and for an option
  // with a value that has no further word.
  static bool isSRArgument(int argc, char **argv, int index, int *wordCount) {
    return SRP_RouterLink::isSRArgument(argc, argv, index, wordCount);
  }
  // Reads the router options from index 1 on, removing each recognised
  // option (with its value) from the vector; the values are copied.
  void parseArguments(int *argc, char **argv) { link_.parseArguments(argc, argv); }
  // Warns about debugger options that have no effect without others.
  void verifyConsistentArgs() { link_.verifyConsistentArgs(); }

  bool launchedFromServiceRouter() const { return link_.launchedFromServiceRouter(); }
  int getPluginId() const { return link_.getPluginId(); }
  bool isConnected() const { return link_.isConnected(); }
  bool isStarted() const { return link_.isStarted(); }
  // A fresh cookie for a request that expects a reply.
  int getCookie() { return link_.getCookie(); }

  // Option values, for diagnostics and tests (owned by the proxy).
  const char *getZone() const { return link_.getZone(); }
  const char *getDisplay() const { return link_.getDisplay(); }
  const char *getRouterDirectory() const { return link_.getRouterDirectory(); }
  const char *getRouterLogFile() const { return link_.getRouterLogFile(); }
  const char *getRouterInternalLogFile() const { return link_.getRouterInternalLogFile(); }
  int getRouterPort() const { return link_.getRouterPort(); }
  int getClientStartCookie() const { return link_.getClientStartCookie(); }
  bool usesPrivateRouter() const { return link_.usesPrivateRouter(); }
  bool wantsNewRouter() const { return link_.wantsNewRouter(); }

  // True when connected, else the result of doSRConnectNow(rh).
  bool ensureSRConnection(RetryHandler *rh) { return link_.ensureSRConnection(rh); }
  // Finds, launches or connects to the router as the options say, then
  // init(). Prints the reason of a failure.
  bool doSRConnectNow(RetryHandler *rh) { return link_.doSRConnectNow(rh); }
  // A new router transport connected to host:port and this endpoint bound
  // to it (local RN 2, remote RN 1). False (and no transport) on failure.
  bool connectToServiceRouter(const char *host, int port) {
    return link_.connectToServiceRouter(host, port);
  }
  // Whether the router at the other end of `t` runs as this user (warns when
  // not); `port` only names it in the warning (0: the launched one).
  bool routerIsOurs(STPTransport *t, int port) { return link_.routerIsOurs(t, port); }
  // Starts "svc_router" from the router directory (else this program's)
  // and waits until it has connected back. notShared adds "-not_shared".
  bool launchServiceRouter(RetryHandler *rh, bool notShared) {
    return link_.launchServiceRouter(rh, notShared);
  }
  // Negotiates with the router and registers the process: start cookie,
  // working directory, service names, persistence, debug request; then
  // waits for the plugin id.
  bool init(bool persistent, RetryHandler *rh) { return link_.init(persistent, rh); }
  bool awaitPluginIdFromServiceRouter(RetryHandler *rh) {
    return link_.awaitPluginIdFromServiceRouter(rh);
  }
  // The shared wait of every blocking operation: with rh, its idle() until
  // `done`, the router transport dies, this endpoint is down or rh gives
  // up; without rh, serviceOnce(10000) rounds on the router transport.
  // Returns whether `done` holds.
  bool awaitCondition(RetryHandler *rh, STPWaitPredicate done) {
    return link_.awaitCondition(rh, std::move(done));
  }

  // Sends RequestServiceRouterDisconnect at once (null rh: the endpoint's
  // default handler).
  bool requestServiceRouterDisconnect(RetryHandler *rh) {
    return link_.requestServiceRouterDisconnect(rh);
  }
  // Stores the flag and, when connected, sends PersistentService.
  bool setPluginPersistence(bool persistent, RetryHandler *rh = nullptr, TStat *stat = nullptr) {
    return link_.setPluginPersistence(persistent, rh, stat);
  }
  // Number of persistent services of the router (-1 on error); *total (may
  // be null) gets the number of all services.
  int getNumPersistentServices(RetryHandler *rh, int *total) {
    return link_.getNumPersistentServices(rh, total);
  }

  // True before the first successful negotiation; afterwards while the
  // router transport is alive and this endpoint is not marked down.
  bool isAlive() { return link_.isAlive(); }
  // True when a router transport exists and is not dead.
  bool isTransportAlive() { return link_.isTransportAlive(); }
  // Ensures the connection and returns the router transport (owned by the
  // proxy), or null.
  STPTransport *getTransport() { return link_.getTransport(); }
  // The router's host (owned by the proxy) and port, asked from the router
  // when unknown. False when the connection or the wait failed.
  bool getServiceRouterLocation(const char **host, int *port, RetryHandler *rh) {
    return link_.getServiceRouterLocation(host, port, rh);
  }

  // The protocol log of every endpoint (owned by the proxy), or null.
  STPLog *getGlobalLog() const { return link_.getGlobalLog(); }
  // Deletes the previous log, takes ownership of `log` (may be null) and
  // sets it on every connected and pending service endpoint.
  void setGlobalLog(STPLog *log) { link_.setGlobalLog(log); }

  void msg_PluginId(int plugin_id) override { link_.onPluginId(plugin_id); }
  void msg_LocationEvent(const char *hostname, int port) override {
    link_.onLocation(hostname, port);
  }

  // ---- Service factories and connections (SRP_ServiceRegistry) ----

  // Registers a factory after start-up (or before it: then init() sends
  // its name). False on a send error.
  bool registerServiceFactory(ServiceFactory *factory, RetryHandler *rh) {
    return registry_.registerServiceFactory(factory, rh);
  }
  // Drops every reference to a factory that is going away (its RNs stay
  // local, but requests for them are refused from then on).
  void forgetServiceFactory(ServiceFactory *factory) { registry_.forgetServiceFactory(factory); }

  void msg_RNBlockReservedEvent(ServiceRouter_INT_ARRAY &rn_list) override {
    registry_.onRNBlockReserved(rn_list);
  }
  void msg_ConnectionRequestedEvent(int requesting_plugin_id, int serviceRN, int remoteRN,
                                    ServiceRouter_STRING_ARRAY &name_value_pairs) override {
    registry_.onConnectionRequested(requesting_plugin_id, serviceRN, remoteRN, name_value_pairs);
  }
  void msg_ConnectionDroppedEvent(int serviceRN, int remoteRN) override {
    registry_.onConnectionDropped(serviceRN, remoteRN);
  }

  // Ends a service connection from this side: marks the endpoint down,
  // tells the router, notifies the connection-died listeners and deletes
  // its record. Refused (false, nothing sent) while the endpoint has a
  // caller inside it, unless forced.
  bool dropServiceConnection(STPSpecClass *endpoint, RetryHandler *rh, bool force) {
    return registry_.dropServiceConnection(endpoint, rh, force);
  }

  // Listeners are not owned; a listener must be removed before it is
  // deleted (or be removed by a notification, see ConnectionDiedListener).
  void installConnectionDiedListener(ConnectionDiedListener *listener) {
    registry_.installConnectionDiedListener(listener);
  }
  bool removeConnectionDiedListener(ConnectionDiedListener *listener) {
    return registry_.removeConnectionDiedListener(listener);
  }
  void notifyConnectionDiedListeners(STPSpecClass *endpoint) {
    registry_.notifyConnectionDiedListeners(endpoint);
  }

  // Queries.
  int getNumServiceConnections() const { return registry_.getNumServiceConnections(); }
  int getNumPendingServiceConnections() const {
    return registry_.getNumPendingServiceConnections();
  }
  int getNumServerConnections() const { return registry_.getNumServerConnections(); }
  bool acceptedAConnection() const { return registry_.acceptedAConnection(); }
  bool isClientServiceConnection(STPSpecClass *endpoint) const {
    return registry_.isClientServiceConnection(endpoint);
  }
  // First among the connected, then the pending connections; null if none.
  STPSpecClass *getServiceConnectionForPluginId(int pluginId) const {
    return registry_.getServiceConnectionForPluginId(pluginId);
  }
  // -1 when the endpoint is in neither list.
  int getPluginIdForConnection(STPSpecClass *endpoint) const {
    return registry_.getPluginIdForConnection(endpoint);
  }
  // The factory that owns a local RN, or null.
  ServiceFactory *getFactoryForRN(int rn) const { return registry_.getFactoryForRN(rn); }
  bool isLocalRN(int rn) const { return registry_.isLocalRN(rn); }
  // RNs received beyond the waiting factories.
  const std::vector<int> &getSpareRNs() const { return registry_.getSpareRNs(); }
  int getNumFactoriesAwaitingRN() const { return registry_.getNumFactoriesAwaitingRN(); }

  // List maintenance. Adding creates a record (which references the
  // endpoint); removing deletes the first record of the endpoint and
  // returns whether there was one. takeDropWhileConnecting: true when the
  // router dropped the endpoint's connection while it was being negotiated;
  // the drop is then handled now that the connection has a record.
  bool takeDropWhileConnecting(STPSpecClass *endpoint) {
    return registry_.takeDropWhileConnecting(endpoint);
  }
  void addServiceToConnectedServicesList(STPSpecClass *endpoint, bool isSharedObject, int pluginId,
                                         bool isServer, SharedObjectConnection *sharedObject) {
    registry_.addServiceToConnectedServicesList(endpoint, isSharedObject, pluginId, isServer,
                                                sharedObject);
  }
  bool removeServiceFromConnectedServicesList(STPSpecClass *endpoint) {
    return registry_.removeServiceFromConnectedServicesList(endpoint);
  }
  void addServiceToPendingServicesList(STPSpecClass *endpoint, int pluginId, bool isServer) {
    registry_.addServiceToPendingServicesList(endpoint, pluginId, isServer);
  }
  bool removeServiceFromPendingServicesList(STPSpecClass *endpoint) {
    return registry_.removeServiceFromPendingServicesList(endpoint);
  }

  // ---- Plugins, name/value queries, log forwarding (SRP_PluginClient) ----

  // Launch through the router; the plugin id or -1. *errors (may be null)
  // gets the router's error text, a new string the caller frees (gen_free).
  int launchPlugin(const char *commandLine, RetryHandler *rh, bool clientStart, char **errors) {
    return plugins_.launchPlugin(commandLine, rh, clientStart, errors);
  }
  int launchPlugin(char **argv, int argc, RetryHandler *rh, bool clientStart, char **errors) {
    return plugins_.launchPlugin(argv, argc, rh, clientStart, errors);
  }
  int connectToPlugin(const char *host, int port, RetryHandler *rh, char **errors) {
    return plugins_.connectToPlugin(host, port, rh, errors);
  }
  int awaitPluginConnectedEvent(int cookie, RetryHandler *rh, char **errors) {
    return plugins_.awaitPluginConnectedEvent(cookie, rh, errors);
  }
  // Stores each complete (name, value) pair of `pairs` (names and values
  // alternate) in the name/value cache under pluginId, replacing what was
  // there; an odd last name and pairs with a missing name or value are
  // skipped.
  void cacheNameValuePairs(int pluginId, const ServiceRouter_STRING_ARRAY &pairs) {
    plugins_.cacheNameValuePairs(pluginId, pairs);
  }
  // The cached value (owned by the cache) or null.
  const char *getCachedValue(int pluginId, const char *name) const {
    return plugins_.getCachedValue(pluginId, name);
  }
  // The value (owned by the cache) or null.
  const char *getValueOfNameForPlugin(int pluginId, const char *name, RetryHandler *rh) {
    return plugins_.getValueOfNameForPlugin(pluginId, name, rh);
  }
  bool awaitValueOfNameOnPluginEvent(int pluginId, const char *name, RetryHandler *rh) {
    return plugins_.awaitValueOfNameOnPluginEvent(pluginId, name, rh);
  }
  const char *getCwdOfPlugin(int pluginId, RetryHandler *rh) {
    return plugins_.getCwdOfPlugin(pluginId, rh);
  }
  // New strings (gen_free), null for a null name.
  char *resolvePluginRelFilename(int pluginId, const char *fileName, RetryHandler *rh) {
    return plugins_.resolvePluginRelFilename(pluginId, fileName, rh);
  }
  char *resolveConRelFilename(STPSpecClass *connection, const char *fileName, RetryHandler *rh) {
    return plugins_.resolveConRelFilename(connection, fileName, rh);
  }
  // Takes ownership of the resolver.
  void addNameValueResolver(NameValueResolver *resolver) {
    plugins_.addNameValueResolver(resolver);
  }
  int getNumPrecachedResolvers() const { return plugins_.getNumPrecachedResolvers(); }
  bool setEnvironmentVariable(const char *variable, const char *value) {
    return send_SetEnvironmentVariable(variable, value);
  }
  const std::vector<int> &getPluginPids() const { return plugins_.getPluginPids(); }
  bool notePluginPidExit(int pid) { return plugins_.notePluginPidExit(pid); }
  // The class-wide counter behind launch, connect and plugin-id cookies.
  static int nextRequestCookie() { return SRP_PluginClient::nextRequestCookie(); }

  void msg_PluginConnectedEvent(int cookie, int pluginID, const char *errors) override {
    plugins_.onPluginConnected(cookie, pluginID, errors);
  }
  void msg_StartPlugin(ServiceRouter_STRING_ARRAY &args, int cookie,
                       const char *working_dir) override {
    plugins_.onStartPlugin(args, cookie, working_dir);
  }
  void msg_StartLogging() override { plugins_.onStartLogging(); }
  void msg_ValueOfNameOnPluginEvent(int plugin_id, const char *name, const char *value) override {
    plugins_.onValueOfName(plugin_id, name, value);
  }
  void msg_ForwardedRequestValueOfNameOnPlugin(int requesting_plugin_id, int my_plugin_id,
                                               const char *name) override {
    plugins_.onForwardedRequestValueOfName(requesting_plugin_id, my_plugin_id, name);
  }

  // ---- Outgoing service connections (SRP_OutgoingConnector) ----

  // Asks the router for a connection to `serviceName` and binds `endpoint`
  // to it. *wasFound / *wasAccepted report the router's answer.
  bool getServiceConnection(const char *serviceName, STPSpecClass *endpoint, bool *wasFound,
                            bool *wasAccepted, RetryHandler *rh, const char *workingDir,
                            bool localOnly, bool noReuse, bool clientStart) {
    return outgoing_.getServiceConnection(serviceName, endpoint, wasFound, wasAccepted, rh,
                                          workingDir, localOnly, noReuse, clientStart);
  }
  bool getServiceConnectionFromPlugin(const char *serviceName, STPSpecClass *endpoint,
                                      int providingPluginId, RetryHandler *rh) {
    return outgoing_.getServiceConnectionFromPlugin(serviceName, endpoint, providingPluginId, rh);
  }
  bool awaitConnectionReplyEvent(const char *serviceName, STPSpecClass *endpoint, int cookie,
                                 bool *wasFound, bool *wasAccepted, RetryHandler *rh) {
    return outgoing_.awaitConnectionReplyEvent(serviceName, endpoint, cookie, wasFound,
                                               wasAccepted, rh);
  }
  // The provider's plugin id or -1; *found (may be null) reports the answer.
  int getPluginIdForService(const char *serviceName, const char *workingDir, RetryHandler *rh,
                            bool startIfNotRunning, bool *found) {
    return outgoing_.getPluginIdForService(serviceName, workingDir, rh, startIfNotRunning, found);
  }
  // RequestServiceConnection with the precached name/value pairs added.
  using ServiceRouter_plugin_Impl::send_RequestServiceConnection;
  bool send_RequestServiceConnection(const char *serviceName, int providingPluginID,
                                     const char *working_dir, bool local_only, int client_cookie,
                                     bool no_reuse, bool client_start, bool stp_wait = false,
                                     RetryHandler *stp_rh = nullptr, TStat *stp_stat = nullptr);

  void msg_ConnectionReplyEvent(const char *serviceName, int localRN, bool wasFound,
                                bool is_shared_object, bool wasAccepted, int serviceRN,
                                int plugin_id, const char *shared_object_name,
                                int client_cookie) override {
    outgoing_.onConnectionReply(serviceName, localRN, wasFound, is_shared_object, wasAccepted,
                                serviceRN, plugin_id, shared_object_name, client_cookie);
  }
  void msg_PluginIdForServiceReplyEvent(int cookie, const char *service_name, int plugin_id,
                                        bool found) override {
    outgoing_.onPluginIdForServiceReply(cookie, service_name, plugin_id, found);
  }

  // ---- The parts, for one another (owned by the proxy) ----
  SRP_RouterLink &routerLink() { return link_; }
  SRP_ServiceRegistry &serviceRegistry() { return registry_; }

 private:
  friend class GlobalServiceRouterProxyDestroyer;

  // Created through ensureProxy(); released through delRef (shutdown()).
  ServiceRouter_Proxy();
  ~ServiceRouter_Proxy() override;

  static void waitForChildToEnd(int pid, const char *name, bool verbose, int limitMs);

  SRP_RouterLink link_{*this};
  SRP_ServiceRegistry registry_{*this};
  SRP_PluginClient plugins_{*this};
  SRP_OutgoingConnector outgoing_{*this};
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
