// srp_router_link: the router-client part that owns the link to the router.
//
// SRP_RouterLink holds the router options of the command line, finds,
// launches or connects to the router, negotiates and registers the process,
// waits for the plugin id and runs the shared wait of every blocking
// operation. It owns the router transport and its socket listener, the
// protocol log and the "-sr_log" file. The messages themselves are sent and
// received by the proxy endpoint it belongs to.
//
// Implemented in srp_router_link.cpp (connecting, waits, requests) and
// srp_router_link_args.cpp (the options). One thread, like the proxy.
#pragma once

#include <cstdio>

#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/stp_transport/stp_transport.h"

class RetryHandler;
class ServiceRouter_Proxy;
class STPLog;

// Drives the router transport from the idle notifier. Registers itself with
// the notifier when constructed and removes itself when destroyed or
// stopped. Does not own or reference the transport; the link deletes the
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

class SRP_RouterLink {
 public:
  // `proxy` is the endpoint that talks to the router; it owns this part.
  explicit SRP_RouterLink(ServiceRouter_Proxy &proxy) : proxy(proxy) {}
  // Frees the option strings; the transport and the log must have been
  // released (releaseRouterTransport(), releaseLog()) by then.
  ~SRP_RouterLink();
  SRP_RouterLink(const SRP_RouterLink &) = delete;
  SRP_RouterLink &operator=(const SRP_RouterLink &) = delete;

  // The body of ServiceRouter_Proxy::startup() (same contract).
  bool startup(bool persistent, int *argc, char **argv, const char *display, bool privateRouter,
               RetryHandler *rh, bool connectNow, bool mayLaunchRouter);

  // Options (srp_router_link_args.cpp); see ServiceRouter_Proxy.
  static bool argsIndicateLaunchedFromServiceRouter(int argc, char **argv);
  static bool isSRArgument(int argc, char **argv, int index, int *wordCount);
  void parseArguments(int *argc, char **argv);
  void verifyConsistentArgs();

  // Connecting and registering; see ServiceRouter_Proxy.
  bool ensureSRConnection(RetryHandler *rh);
  bool doSRConnectNow(RetryHandler *rh);
  bool connectToServiceRouter(const char *host, int port);
  bool routerIsOurs(STPTransport *t, int port);
  bool launchServiceRouter(RetryHandler *rh, bool notShared);
  bool init(bool persistent, RetryHandler *rh);
  bool awaitPluginIdFromServiceRouter(RetryHandler *rh);
  bool awaitCondition(RetryHandler *rh, STPWaitPredicate done);

  // Requests and state; see ServiceRouter_Proxy.
  bool requestServiceRouterDisconnect(RetryHandler *rh);
  bool setPluginPersistence(bool persistent, RetryHandler *rh, TStat *stat);
  int getNumPersistentServices(RetryHandler *rh, int *total);
  bool isAlive();
  bool isTransportAlive();
  STPTransport *getTransport();
  // The router transport as it is now (no connecting), or null.
  STPTransport *currentTransport() const { return routerTransport; }
  bool getServiceRouterLocation(const char **host, int *port, RetryHandler *rh);
  STPLog *getGlobalLog() const { return globalLog; }
  void setGlobalLog(STPLog *log);
  // Takes the log off the proxy endpoint, deletes it and closes the log file.
  void releaseLog();
  // Listener deleted, connection closed, reference dropped.
  void releaseRouterTransport();

  // Handlers of the router's answers.
  void onPluginId(int pluginId);
  void onLocation(const char *hostname, int port);
  // Sets the start-up connect flag (a factory registered).
  void requestConnectNow() { connectNow = true; }

  bool launchedFromServiceRouter() const { return launchedFromRouter; }
  int getPluginId() const { return pluginId; }
  bool isConnected() const { return connected; }
  bool isStarted() const { return started; }
  int getCookie() { return nextCookie++; }
  // The pid of a privately launched router, 0 when there is none.
  int getPrivateRouterPid() const { return privateRouterPid; }

  const char *getZone() const { return zone; }
  const char *getDisplay() const { return display; }
  const char *getRouterDirectory() const { return routerDir; }
  const char *getRouterLogFile() const { return routerLogFile; }
  const char *getRouterInternalLogFile() const { return routerInternalLogFile; }
  int getRouterPort() const { return routerPort; }
  int getClientStartCookie() const { return hasClientStartCookie ? clientStartCookie : -1; }
  bool usesPrivateRouter() const { return privateRouter; }
  bool wantsNewRouter() const { return newRouter; }

 private:
  void applyOption(const char *name, const char *value);
  void openLogFile(const char *fileName);
  void selfDebugAtStartup();
  // Makes `transport` (its reference and `listener` pass to the link) the
  // router transport, releasing an earlier one.
  void adoptRouterTransport(STPTransport *transport, SRP_SocketListener *listener);

  ServiceRouter_Proxy &proxy;  // owner
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
};
