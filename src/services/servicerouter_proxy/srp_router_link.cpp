// srp_router_link: start-up, finding, launching and connecting to the
// service router, registering the process, the shared wait of every blocking
// operation, the protocol log, and the socket listener that serves the
// router transport from the event loop.
#include "services/servicerouter_proxy/srp_router_link.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "services/servicerouter_proxy/activeservices_manager.h"
#include "services/servicerouter_proxy/service_factory.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_peer_uid.h"
#include "shared/libcxxutil/ut_process.h"
#include "shared/stp_transport/stp_child_process.h"
#include "shared/stp_transport/stp_log.h"

namespace {

constexpr int kRouterBufferSize = 32768;
constexpr int kServiceOnceWaitMs = 10000;
const char kLocalHost[] = "127.0.0.1";
const char kRouterProgram[] = "svc_router";

// Empty iterations that give a debugger started on this process the time to
// attach before start-up goes on.
constexpr unsigned long kDebuggerAttachSpins = 2415919103UL;

void writeLogBlock(STPLog *log, STPSpecClass *endpoint, const char *text) {
  if (!log) return;
  log->logStart(endpoint, false);
  log->add(text);
  log->logEnd(endpoint, false);
}

// Holds the active-services lock for a scope.
class ManagerFileLock {
 public:
  ManagerFileLock(const char *zone, const char *display, const char *dir)
      : zone_(zone), display_(display), dir_(dir) {
    held_ = ActiveServices_Manager::lockManagerFile(zone, display, dir);
  }
  ~ManagerFileLock() { unlock(); }
  ManagerFileLock(const ManagerFileLock &) = delete;
  ManagerFileLock &operator=(const ManagerFileLock &) = delete;
  bool held() const { return held_; }
  void unlock() {
    if (held_) ActiveServices_Manager::unlockManagerFile(zone_, display_, dir_);
    held_ = false;
  }

 private:
  const char *zone_;
  const char *display_;
  const char *dir_;
  bool held_;
};

}  // namespace

// ---- start-up and release

SRP_RouterLink::~SRP_RouterLink() {
  for (char **s :
       {&zone, &display, &routerHost, &debugPluginName, &debugger, &debuggerOpts, &startupDebugger,
        &startupDebuggerOpts, &routerDir, &routerLogFile, &routerInternalLogFile}) {
    gen_free(*s);
    *s = nullptr;
  }
}

bool SRP_RouterLink::startup(bool persistentFlag, int *argc, char **argv, const char *displayName,
                             bool privateFlag, RetryHandler *rh, bool connectNowFlag,
                             bool mayLaunch) {
  if (startupDone) return true;
  startupDone = true;
  persistent = persistentFlag;
  privateRouter = privateFlag;
  connectNow = connectNowFlag;
  mayLaunchRouter = mayLaunch;

  parseArguments(argc, argv);
  verifyConsistentArgs();
  writeLogBlock(globalLog, &proxy, "Created global ServiceRouter_Proxy.\n");
  selfDebugAtStartup();
  gen_free(display);
  display = gen_copy(displayName);

  if (GlobalServiceFactoryList::numRegistered() > 0 || launchedFromRouter) connectNow = true;
  bool result = connectNow ? doSRConnectNow(rh) : true;
  // The proxy may have been released by a handler during the connection.
  if (servicerouter_proxy == &proxy) started = true;
  return result;
}

void SRP_RouterLink::selfDebugAtStartup() {
  if (!debugAtStartup || !startupDebugger || !startupDebuggerOpts) return;
  std::string command = std::string(startupDebugger) + " " + startupDebuggerOpts + " " +
                        std::to_string(static_cast<int>(getpid()));
  int count = 0;
  char **words = makeArgv(command.c_str(), &count, false);
  int pid = 0;
  bool spawned = count > 0 && systemcall(words, &pid, false);
  freeArgv(words);
  if (!spawned) return;
  volatile unsigned long spins = 0;
  while (spins < kDebuggerAttachSpins) spins = spins + 1;
}

// ---- finding or launching the router

bool SRP_RouterLink::ensureSRConnection(RetryHandler *rh) {
  return connected || doSRConnectNow(rh);
}

bool SRP_RouterLink::doSRConnectNow(RetryHandler *rh) {
  const bool launched = launchedFromRouter, priv = privateRouter, fresh = newRouter,
             mayLaunch = mayLaunchRouter;
  if (launched && (fresh || priv))
    gen_warning(
        "Incompatible options specified, defaulting to connecting to launching ServiceRouter.\n");
  if (!mayLaunch && (fresh || priv)) return false;

  bool usedExisting = false;
  if (launched) {
    // The host option names the router's host for others; the connection
    // itself always goes to this machine.
    if (!connectToServiceRouter(kLocalHost, routerPort)) {
      gen_error("Unable to connect to ServiceRouter who launched us.\n");
      return false;
    }
  } else {
    if (fresh) ActiveServices_Manager::removeActiveServiceRouterFile(zone, display, routerDir);
    if (priv) {
      if (!launchServiceRouter(rh, true)) {
        gen_warning("Unable to launch private service router.\n");
        return false;
      }
    } else if (routerPort == 0) {
      // The lock is held while a router is launched, so that concurrent
      // clients wait until the new router has recorded itself.
      ManagerFileLock lock(zone, display, routerDir);
      if (!lock.held()) {
        gen_error("Unable to lock service router file.\n");
        return false;
      }
      int port = ActiveServices_Manager::getActiveServiceRouter_Port(zone, display, routerDir);
      if (port == 0) {
        if (!mayLaunch) return false;
        if (!launchServiceRouter(rh, false)) {
          lock.unlock();
          gen_warning("Unable to launch service router.\n");
          return false;
        }
      } else if (!connectToServiceRouter(kLocalHost, port)) {
        if (!mayLaunch) return false;
        if (!launchServiceRouter(rh, false)) {
          lock.unlock();
          gen_warning("Unable to connect to a running or launch a new servicerouter.\n");
          return false;
        }
      } else {
        usedExisting = true;
      }
    } else if (!connectToServiceRouter(kLocalHost, routerPort)) {
      gen_warning("Unable to connect to specified service router.\n");
      return false;
    }
  }
  if (init(persistent, rh)) return true;

  if (usedExisting && mayLaunch) {
    gen_warning("Unable to connect to existing service router, attempting to start our own...\n");
    ManagerFileLock lock(zone, display, routerDir);
    if (!lock.held()) {
      gen_error("Unable to lock service router file.\n");
      return false;
    }
    ActiveServices_Manager::removeActiveServiceRouterFile(zone, display, routerDir);
    if (!launchServiceRouter(rh, false)) {
      lock.unlock();
      gen_warning("Unable to launch new servicerouter.\n");
      return false;
    }
    lock.unlock();
    if (!init(persistent, rh)) {
      gen_warning("Failed to initialize new service router.\n");
      return false;
    }
    return true;
  }
  gen_warning("Unable to initialize service router.\n");
  return false;
}

bool SRP_RouterLink::connectToServiceRouter(const char *host, int port) {
  STPTransport *t = new STPTransport(kRouterBufferSize);
  SRP_SocketListener *listener = new SRP_SocketListener(t);
  TStat stat;
  if (!t->connect(host, port, &stat) || !routerIsOurs(t, port)) {
    delete listener;
    t->closeConnection(nullptr);
    t->delRef();
    return false;
  }
  adoptRouterTransport(t, listener);
  return true;
}

// The kernel tells who owns the router's end of the link: a router of
// another user would see (and could answer) everything this process sends.
bool SRP_RouterLink::routerIsOurs(STPTransport *t, int port) {
  long long uid = -1;
  if (ut_peerIsSameUser(t->getFD(), &uid)) return true;
  std::string where = port > 0 ? " at port " + std::to_string(port) : std::string(" launched");
  if (uid >= 0)
    gen_warning("The service router%s belongs to uid %lld, not to this user: not used.\n",
                where.c_str(), uid);
  else
    gen_warning("Cannot tell who owns the service router%s: not used.\n", where.c_str());
  return false;
}

bool SRP_RouterLink::launchServiceRouter(RetryHandler *rh, bool notShared) {
  char *path = gen_sconcat(routerDir ? routerDir : gen_getprogdir(), kRouterProgram);
  if (gen_canexec(path) != 1) {
    gen_free(path);
    return false;
  }
  std::vector<const char *> words = {path};
  if (routerLogFile) words.insert(words.end(), {"-log", routerLogFile});
  if (routerInternalLogFile) words.insert(words.end(), {"-sr_log_internal", routerInternalLogFile});
  if (notShared) words.push_back("-not_shared");
  if (zone) words.insert(words.end(), {"-sr_zone", zone});

  // The listener serves the transport while the child connects back, so a
  // retry handler that runs the idle notifier sees the connection arrive.
  STPTransport *t = new STPTransport(kRouterBufferSize);
  adoptRouterTransport(t, new SRP_SocketListener(t));
  STPChildProcess child(false);
  child.setCommand(const_cast<char *const *>(words.data()), static_cast<int>(words.size()));
  gen_free(path);
  child.insertArgument("-connect_servicerouter", 1);
  child.setTransport(t);
  child.setInsertHostname(false);
  child.setPortArg(2);
  TStat stat;
  bool launched = child.launch(rh, &stat);
  if (!launched || child.getPID() == 0 || !stat.ok() || !routerIsOurs(t, 0)) {
    releaseRouterTransport();
    proxy.setTransport(nullptr);
    return false;
  }
  privateRouterPid = notShared ? child.getPID() : 0;
  return true;
}

void SRP_RouterLink::adoptRouterTransport(STPTransport *transport, SRP_SocketListener *listener) {
  releaseRouterTransport();
  routerTransport = transport;
  socketListener = listener;
  proxy.setTransport(transport, 2, 1);
}

void SRP_RouterLink::releaseRouterTransport() {
  delete socketListener;
  socketListener = nullptr;
  if (!routerTransport) return;
  routerTransport->closeConnection(nullptr);
  routerTransport->delRef();
  routerTransport = nullptr;
}

// ---- registering the process

bool SRP_RouterLink::init(bool persistentFlag, RetryHandler *rh) {
  if (globalLog) proxy.setLogging(globalLog);
  TStat stat;
  if (!proxy.negotiate(rh, &stat)) {
    gen_warning("Negotiation with ServiceRouter failed during initialization: %s.\n", stat.message);
    return false;
  }
  connected = true;
  if (hasClientStartCookie && !proxy.send_StartPluginEvent(clientStartCookie, true, "")) {
    gen_error("Unable to give the ServiceRouter the client start cookie.\n");
    return false;
  }
  if ((!launchedFromRouter || hasClientStartCookie) && !proxy.send_SetWorkingDir(gen_getcwd())) {
    gen_error("Unable to send our working directory to the ServiceRouter.\n");
    return false;
  }

  // Globally registered factories first, then those registered on this
  // proxy before it was connected; the n-th name sent gets the n-th RN.
  std::vector<char *> names;
  for (ServiceFactory *f : proxy.serviceRegistry().takeFactoriesToRegister())
    names.push_back(const_cast<char *>(f->getServiceName()));
  ServiceRouter_STRING_ARRAY nameList;
  nameList.count = static_cast<int>(names.size());
  nameList.data = names.data();
  if (!proxy.send_RegisterServiceList(nameList)) {
    gen_error("Failed to send list of available services.\n");
    return false;
  }

  if (!persistentFlag && !setPluginPersistence(false, nullptr, nullptr)) return false;
  if (debugPluginName || debugger || debuggerOpts)
    proxy.send_DebugPlugin(debugPluginName, true, debugger, debuggerOpts);
  return awaitPluginIdFromServiceRouter(rh);
}

bool SRP_RouterLink::awaitPluginIdFromServiceRouter(RetryHandler *rh) {
  return awaitCondition(rh, [this]() { return pluginId != -1; });
}

bool SRP_RouterLink::awaitCondition(RetryHandler *rh, STPWaitPredicate done) {
  STPTransport *t = routerTransport;
  if (!t) return done();
  // The wait may run handlers that drop references; keep both alive.
  t->addRef();
  proxy.addRef();
  {
    STPTransportStacker stacker(t);
    auto ended = [&]() { return done() || t->isDead() || proxy.isDown(); };
    if (rh) {
      rh->beginOp();
      while (!ended()) {
        rh->idle();
        if (ended() || !rh->retryOp()) break;
      }
      rh->completedOp();
    } else {
      while (!ended()) {
        if (!t->serviceOnce(kServiceOnceWaitMs, nullptr)) break;
      }
    }
  }
  bool result = done();
  t->delRef();
  proxy.delRef();
  return result;
}

// ---- requests to the router

bool SRP_RouterLink::requestServiceRouterDisconnect(RetryHandler *rh) {
  return proxy.send_RequestServiceRouterDisconnect(true, rh, nullptr);
}

bool SRP_RouterLink::setPluginPersistence(bool flag, RetryHandler *rh, TStat *stat) {
  persistent = flag;
  if (!connected) return true;
  return proxy.send_PersistentService(flag, false, rh, stat);
}

int SRP_RouterLink::getNumPersistentServices(RetryHandler *rh, int *total) {
  int numPersistent = 0, numTotal = 0;
  if (!ensureSRConnection(rh) || !proxy.send_NumPersistentServices(&numPersistent, &numTotal, rh))
    return -1;
  numPersistentTotal = numTotal;
  if (total) *total = numTotal;
  return numPersistent;
}

bool SRP_RouterLink::getServiceRouterLocation(const char **host, int *port, RetryHandler *rh) {
  if (!ensureSRConnection(rh)) return false;
  if (!routerHost) {
    if (!proxy.send_RequestLocation()) return false;
    if (!awaitCondition(rh, [this]() { return routerHost != nullptr; })) return false;
  }
  if (host) *host = routerHost;
  if (port) *port = routerPort;
  return true;
}

// ---- state

bool SRP_RouterLink::isAlive() { return !connected || (isTransportAlive() && !proxy.isDown()); }

bool SRP_RouterLink::isTransportAlive() { return routerTransport && !routerTransport->isDead(); }

STPTransport *SRP_RouterLink::getTransport() {
  return ensureSRConnection(nullptr) ? routerTransport : nullptr;
}

void SRP_RouterLink::setGlobalLog(STPLog *log) {
  STPLog *old = globalLog;
  globalLog = log;
  // The proxy endpoint itself must not keep a log that is being deleted.
  if (old && (proxy.getSendLog() == old || proxy.getRecvLog() == old)) proxy.setLogging(log);
  proxy.serviceRegistry().setLoggingOnAll(log);
  if (old != log) delete old;
}

void SRP_RouterLink::releaseLog() {
  proxy.setLogging(nullptr);
  delete globalLog;
  globalLog = nullptr;
  if (logFile) std::fclose(logFile);
  logFile = nullptr;
}

void SRP_RouterLink::onPluginId(int plugin_id) {
  pluginId = plugin_id;
  if (STPTransport *t = proxy.STPSpecClass::getTransport()) t->setDefaultToken(plugin_id & 0xffff);
}

void SRP_RouterLink::onLocation(const char *hostname, int port) {
  if (routerHost) return;
  routerHost = gen_copy(hostname ? hostname : "");
  routerPort = port;
}

// ---- SRP_SocketListener

SRP_SocketListener::SRP_SocketListener(STPTransport *transport) : transport(transport) {
  if (IdleNotifier *n = getIdleNotifier()) {
    n->addSocketListener(this);
    registered = true;
  }
}

SRP_SocketListener::~SRP_SocketListener() { unregister(); }

void SRP_SocketListener::unregister() {
  if (!registered) return;
  registered = false;
  if (IdleNotifier *n = getIdleNotifier()) n->removeSocketListener(this);
}

bool SRP_SocketListener::hasFD() { return !transport->isDead() && !transport->isLoopbackMode(); }
int SRP_SocketListener::getFD() { return transport->getFD(); }
bool SRP_SocketListener::wantsToRead() { return transport->wantsToRead(); }
bool SRP_SocketListener::wantsToWrite() { return transport->wantsToWrite(); }
bool SRP_SocketListener::wantsToDequeueAndDispatch() {
  return transport->wantsToDequeueAndDispatch();
}
bool SRP_SocketListener::wantsToStop() { return transport->isDead(); }

// Handlers run with a reference on the transport: a message handled here
// may lead to the proxy releasing it.
void SRP_SocketListener::handleRead() {
  STPTransport *t = transport;
  t->addRef();
  t->handleRead(nullptr);
  t->delRef();
}

void SRP_SocketListener::handleWrite() {
  STPTransport *t = transport;
  t->addRef();
  t->handleWrite(nullptr);
  t->delRef();
}

void SRP_SocketListener::handleDequeueAndDispatch() {
  STPTransport *t = transport;
  t->addRef();
  t->handleDequeueAndDispatch(nullptr);
  t->delRef();
}

void SRP_SocketListener::handleStop() { unregister(); }
