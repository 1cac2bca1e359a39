// Router_Core: the service router's state and decisions.
//
// It keeps the connected plugins (by plugin id), the routing numbers, the
// registered service names, the brokered connections, the requests held
// while a program is being started, the pending value queries and the
// programs it started. Router_Endpoint calls one operation per received
// message; Router_Loop drives the plugins' sockets, the clock, child exits
// and the end. As the transports' forwarding handler it names the plugin
// link that owns a destination RN: every packet not addressed to the router
// itself is passed on unchanged without being decoded.
//
// The source files split the work: router_core.cpp (plugins, forwarding,
// limits, idleness, the end), router_flow.cpp (flow control, stalled
// consumers, senders' routing numbers), router_connect.cpp (registration, connection
// requests, drops), router_queries.cpp (value queries, location,
// persistence, environment, logs, launch and connect requests),
// router_activation.cpp (held requests, starting listed programs, child
// exits) and router_client_start.cpp (where started programs run, and
// programs the requesting plugin starts).
//
// Messages sent from here are queued, never waited for; the loop writes
// them. A plugin that must go is only marked while handlers may still be
// on the stack, and removed by collect(). One thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "services/router/router_connections.h"
#include "services/router/router_launcher.h"
#include "services/router/router_options.h"
#include "services/router/router_plugin.h"
#include "services/router/router_rn_table.h"
#include "services/router/router_services.h"
#include "services/router/router_services_file.h"
#include "shared/stp_transport/stp_transport.h"

struct ServiceRouter_STRING_ARRAY;
class Router_Endpoint;
class Router_Log;
class Router_Poller;
class Router_Transport;

// What a plugin asks for when it wants a service connection: the fields
// of RequestServiceConnection (local_only needs no field: every provider of
// this router is on this host).
struct Router_ServiceRequest {
  std::string serviceName;
  int providingPluginId = -1;  // -1: any provider
  std::vector<std::optional<std::string>> pairs;
  std::string workingDir;      // empty: none given
  int clientCookie = 0;
  bool noReuse = false;        // a fresh provider instance for this request
  bool clientStart = false;    // the requester starts the provider
};

// A request held until a started program registers the name it asks for.
struct Router_HeldRequest {
  enum Kind { kConnection, kPluginId } kind = kConnection;
  int requesterId = -1;
  std::string serviceName;
  int cookie = 0;
  std::vector<std::optional<std::string>> pairs;  // name/value pairs (connection)
  long long deadline = 0;                          // ut_getTimeMillis64
  int startCookie = 0;  // the start cookie of the instance it waits for
  bool fresh = false;   // only that instance may answer it (no_reuse)
};

// How a program is to be started for a request: in which directory, and
// whether the requester starts it (client start) or the router does.
struct Router_StartHow {
  int requesterId = -1;
  std::string workingDir;    // empty: the router's own directory
  bool clientStart = false;
  bool fresh = false;        // a new instance even when one runs
};

// A value query forwarded to a plugin and not yet answered.
struct Router_ValueQuery {
  int requesterId;
  int targetId;
  std::string name;
};

class Router_Core : public ForwardingHandler {
 public:
  // The options and the log are not owned and outlive the core.
  Router_Core(const Router_Options &options, Router_Log *log);
  ~Router_Core() override;
  Router_Core(const Router_Core &) = delete;
  Router_Core &operator=(const Router_Core &) = delete;

  // ---- set-up
  // Reads the services file: the named one (failure is an error), else the
  // default one beside the program when it exists (failure only warns).
  bool loadServicesFile(std::string *error);
  const Router_ServicesFile &servicesFile() const { return services; }
  // The port plugins connect to; passed to every started program.
  void setListenPort(int port) { listenPort = port; }
  int getListenPort() const { return listenPort; }
  // Starts the program block `name` of the services file, or the provider
  // of the service `name`; false with *error set when nothing is listed
  // under that name or the program cannot be started.
  bool startListed(const std::string &name, std::string *error);

  // ---- plugin links (router_core.cpp)
  // A new plugin on a bound transport (the core adopts the caller's
  // reference); negotiation starts at once. Returns the plugin.
  Router_Plugin *addPlugin(Router_Transport *transport);
  Router_Plugin *findPlugin(int id) const;
  int pluginCount() const { return static_cast<int>(plugins.size()); }
  // Brings the poller's interest in every plugin link up to date (a link
  // is watched under its plugin id); true when a link holds received
  // packets to hand out without waiting for its socket (dispatchQueued).
  bool watchLinks(Router_Poller &poller);
  // The poller found the link of plugin `id` readable and/or writable (a
  // plugin that is gone by now is skipped).
  void linkReady(int id, bool readable, bool writable);
  // Hands out the received packets that links hold.
  void dispatchQueued();
  // Sends the plugin id (and the log request) once the link is negotiated.
  void welcome(int pluginId);
  // Whether messages from the plugin are still handled.
  bool acceptsMessagesFrom(int pluginId) const;
  // A plugin that broke the protocol: disconnected with a warning.
  void protocolViolation(int pluginId, const char *what);

  // ---- loop hooks
  // The time of the current pass (ut_getTimeMillis64), read once: the first
  // call after newPass() reads the clock, later calls reuse it. The loop
  // calls newPass() just before each wait, so the events of a pass share
  // the time read after the wait.
  long long passNow();
  void newPass() { passClock = -1; }
  // Writes what the pass queued for every plugin (each destination's queue
  // once, as much as its socket takes) and checks the cap on all queues.
  // Call at the end of every loop pass.
  void endPass();
  // Limits and deadlines: stalled consumers, partial packets, negotiation
  // time, the cap on all queues, held requests, closing links. Call once per
  // loop pass.
  void checkLimits(long long now);
  // Deletes the plugins whose links may be closed now.
  void collect(long long now);
  // Milliseconds until the next deadline checkLimits or collect acts on
  // (-1: none; the loop then waits for events alone).
  int msUntilNextDeadline(long long now) const;
  // A child process ended (status as from waitpid).
  void childExited(int pid, int status);
  // No connection between two different plugins and no plugin except the
  // ones this router started.
  bool isIdle() const;
  // The end: every plugin is told nothing more and closed once its output
  // is written (or after flushMs). Returns when all links are closed.
  void beginShutdown(long long now, int flushMs);
  bool allClosed() const { return plugins.empty(); }
  Router_Launcher &launcher() { return launches; }

  // ---- ForwardingHandler: the link that owns destRN; the router's own RN
  // is delivered here, unknown RNs go to a sink that discards them, and so
  // does a packet whose source RN the plugin being read does not own.
  STPTransport *getForwardingTransport(int destRN) override;
  STPTransport *getForwardingTransportFrom(int sourceRN, int destRN) override;
  // The link being read may give more in this pass unless its senders wait.
  // Between its reads, long queues are written (writeLongQueues).
  bool keepReading(const STPTransport *) override;

  // ---- flow control (router_flow.cpp)
  // Whether the plugin's link is not read now: it fed a congested plugin,
  // or all queues together are over their cap.
  bool readingPaused(const Router_Plugin *p) const { return p->blockedOn > 0 || totalCongested; }
  bool totalQueuesCongested() const { return totalCongested; }

  // ---- messages (router_connect.cpp)
  void registerServices(int pluginId, const ServiceRouter_STRING_ARRAY &names);
  void unregisterService(int pluginId, int serviceRN);
  void reserveRNBlock(int pluginId, int count);
  void releaseRN(int pluginId, int rn);
  void connectionRequested(int pluginId, const Router_ServiceRequest &request);
  void connectionAccepted(int pluginId, int serviceRN, int remoteRN, bool accept);
  void dropRequested(int pluginId, int localRN, int otherRN);
  void disconnectRequested(int pluginId);

  // ---- messages (router_queries.cpp)
  void valueRequested(int pluginId, int targetId, const char *name);
  void valueAnswered(int pluginId, int requesterId, int targetId, const char *name,
                     const char *value);
  void locationRequested(int pluginId);
  void pluginIdForServiceRequested(int pluginId, int cookie, const char *serviceName,
                                   const char *workingDir, bool startIfNotRunning);
  void pluginLaunchRequested(int pluginId, const ServiceRouter_STRING_ARRAY &argv, int cookie,
                             bool clientStart, const char *workingDir);
  void pluginConnectRequested(int pluginId, const char *host, int port, int cookie);
  void startPluginEvent(int pluginId, int cookie, bool success, const char *errorMessage);
  void countPersistentServices(int *numPersistent, int *numTotal) const;
  void setPersistent(int pluginId, bool persistent);
  void setWorkingDir(int pluginId, const char *dir);
  void setEnvironmentVariable(int pluginId, const char *variable, const char *value);
  void logMessage(int pluginId, const char *message);
  void debugPluginRequested(int pluginId, const char *pluginName, bool doDebug,
                            const char *debugger, const char *debuggerOpts);

  // ---- inspection (tests, logs)
  const Router_RNTable &rnTable() const { return rns; }
  const Router_ServiceRegistry &registry() const { return registered; }
  const Router_ConnectionTable &connectionTable() const { return connections; }

 private:
  // router_core.cpp
  Router_Endpoint *endpointFor(int pluginId) const;
  void disconnectPlugin(Router_Plugin *p, const std::string &why, bool flush);
  void checkPluginIO(Router_Plugin *p);
  void pluginWritable(Router_Plugin *p);
  void writeQueue(Router_Plugin *p);
  void afterRead(Router_Plugin *p);
  void readFrom(Router_Plugin *p, bool dispatchOnly);
  void logSkippedPackets(Router_Plugin *p);
  void writeLongQueues();
  // router_flow.cpp
  Router_Plugin *destinationOf(int destRN) const;
  void noteFeeding(Router_Plugin *dest);
  void updateFlow(Router_Plugin *p, int queuedBefore);
  void releaseFeeders(Router_Plugin *p);
  long long totalQueued() const;
  // `total`: the bytes queued for all plugins (totalQueued()).
  void updateTotal(long long now, long long total);
  void checkStalls(Router_Plugin *p, long long now);
  long long stallClock(const Router_Plugin *p) const;
  // When the plugin's stall or partial-packet limit runs out (LLONG_MAX:
  // no such limit runs).
  long long nextFlowDeadline(const Router_Plugin *p) const;
  STPTransport *dropForged(int sourceRN, int destRN);
  // router_connect.cpp
  void connectToProvider(int requesterId, const Router_Service &service,
                         const std::vector<std::optional<std::string>> &pairs,
                         int clientCookie);
  void replyNotFound(int requesterId, const std::string &serviceName, int clientCookie);
  void replySharedObject(int requesterId, const Router_Program &block,
                         const std::string &serviceName, int clientCookie);
  void endConnection(Router_Connection c, bool clientLeaves);
  // router_queries.cpp
  void answerPendingValues(int leavingId);
  void answerPluginConnect(Router_Plugin *p, int newId, const char *errors);
  // router_activation.cpp
  bool holdForActivation(Router_HeldRequest request, const Router_StartHow &how);
  void resolveHeld(const std::string &serviceName, int providerId);
  void failHeld(const Router_Launch &launch, const char *why);
  void answerHeldNotFound(const Router_HeldRequest &h);
  void expireHeld(long long now);
  void activationRegistered(Router_Plugin *p);
  Router_Launch *startProgram(const Router_Program &program, const Router_StartHow &how,
                              std::string *error);
  // router_client_start.cpp
  std::string startDirectory(int requesterId, const char *requested) const;
  Router_Launch *askClientToStart(const std::string &name, const std::vector<std::string> &argv,
                                  const Router_StartHow &how, std::string *error);
  void clientStartFailed(int pluginId, int cookie, const char *errorMessage);
  void failClientStart(Router_Launch &launch, const std::string &why);
  void expireClientStarts(long long now);
  long long nextClientStartDeadline() const;

  const Router_Options &options;
  Router_Log *log;  // not owned
  int listenPort = 0;
  int nextPluginId = 1;
  std::map<int, Router_Plugin *> plugins;  // owned, by id
  Router_RNTable rns;
  Router_ServiceRegistry registered;
  Router_ConnectionTable connections;
  Router_ServicesFile services;
  Router_Launcher launches;
  std::vector<Router_HeldRequest> held;
  std::vector<Router_ValueQuery> valueQueries;
  Router_Transport *sink;  // one reference; discards what it is given
  ForwardingHandler *sinkForwarder = nullptr;  // owned; sends everything to sink
  bool shuttingDown = false;
  Router_Plugin *reading = nullptr;  // the plugin whose packets are being cut
  bool totalCongested = false;       // all queues together over the cap
  long long totalCongestedSince = 0;
  long long passClock = -1;     // see passNow(); -1: not read in this pass
  bool outputPending = false;   // a read of this pass may have queued output
};

// Copies of the entries of a string array (null entries stay absent).
std::vector<std::optional<std::string>> Router_CopyPairs(const ServiceRouter_STRING_ARRAY &a);
