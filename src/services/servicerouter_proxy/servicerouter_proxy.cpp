// servicerouter_proxy: creation and release of the process's router client,
// start-up (options, self-debugging, connecting when there is a reason to)
// and shut-down with the reaping of the children the proxy is responsible
// for. The proxy is also the event loop's router link.
#include "services/servicerouter_proxy/servicerouter_proxy.h"

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "services/servicerouter_proxy/service_factory.h"
#include "services/state/svc_routerlink.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_process.h"
#include "shared/stp_transport/stp_log.h"

ServiceRouter_Proxy *servicerouter_proxy = nullptr;

namespace {

// What the event loop sees of the router: the process's proxy while it
// exists.
class ProxyRouterLink : public Svc_RouterLink {
 public:
  bool isAlive() override { return servicerouter_proxy && servicerouter_proxy->isAlive(); }
  void requestDisconnect() override {
    if (servicerouter_proxy) servicerouter_proxy->requestServiceRouterDisconnect(nullptr);
  }
  bool createdAService() override { return ServiceFactory::createdAService(); }
};

constinit ProxyRouterLink g_routerLink;

// Empty iterations that give a debugger started on this process the time to
// attach before start-up goes on.
constexpr unsigned long kDebuggerAttachSpins = 2415919103UL;

// The time a verbose shut-down gives each child before killing it.
constexpr int kVerboseReapLimitMs = 4000;

void writeLogBlock(STPLog *log, STPSpecClass *endpoint, const char *text) {
  if (!log) return;
  log->logStart(endpoint, false);
  log->add(text);
  log->logEnd(endpoint, false);
}

}  // namespace

// Released during static destruction when shutdown() was not called.
static GlobalServiceRouterProxyDestroyer g_proxyDestroyer
    KORVO_MODULE_ORDER(kModuleOrderRouterClient);

GlobalServiceRouterProxyDestroyer::~GlobalServiceRouterProxyDestroyer() {
  ServiceRouter_Proxy *proxy = servicerouter_proxy;
  if (!proxy) return;
  servicerouter_proxy = nullptr;
  proxy->delRef();
}

// ---- creation and release

ServiceRouter_Proxy::ServiceRouter_Proxy() {
  initPluginState();
  Svc_RouterLink::install(&g_routerLink);
}

ServiceRouter_Proxy::~ServiceRouter_Proxy() {
  writeLogBlock(globalLog, this, "Destroying ServiceRouter_Proxy.\n");
  if (Svc_RouterLink::installed() == &g_routerLink) Svc_RouterLink::install(nullptr);
  for (char **s : {&zone, &display, &routerHost, &debugPluginName, &debugger, &debuggerOpts,
                   &startupDebugger, &startupDebuggerOpts, &routerDir, &routerLogFile,
                   &routerInternalLogFile}) {
    gen_free(*s);
    *s = nullptr;
  }
  releaseServiceRecords();  // the negotiator first, then every record
  setLogging(nullptr);
  delete globalLog;
  globalLog = nullptr;
  if (logFile) std::fclose(logFile);
  logFile = nullptr;
  releaseRouterTransport();
  freePluginState();
  freeOutgoingState();
  for (auto &entry : nameValueCache) gen_free(entry.second);
  nameValueCache.clear();
}

ServiceRouter_Proxy *ServiceRouter_Proxy::ensureProxy() {
  if (!servicerouter_proxy) servicerouter_proxy = new ServiceRouter_Proxy();
  return servicerouter_proxy;
}

// ---- start-up

bool ServiceRouter_Proxy::startup(bool persistent, int *argc, char **argv, const char *display,
                                  bool privateRouter, RetryHandler *rh, bool connectNow,
                                  bool mayLaunchRouter) {
  ServiceRouter_Proxy *p = ensureProxy();
  if (p->startupDone) return true;
  p->startupDone = true;
  p->persistent = persistent;
  p->privateRouter = privateRouter;
  p->connectNow = connectNow;
  p->mayLaunchRouter = mayLaunchRouter;

  p->parseArguments(argc, argv);
  p->verifyConsistentArgs();
  writeLogBlock(p->globalLog, p, "Created global ServiceRouter_Proxy.\n");
  p->selfDebugAtStartup();
  gen_free(p->display);
  p->display = gen_copy(display);

  if (GlobalServiceFactoryList::numRegistered() > 0 || p->launchedFromRouter) p->connectNow = true;
  bool result = p->connectNow ? p->doSRConnectNow(rh) : true;
  // The proxy may have been released by a handler during the connection.
  if (servicerouter_proxy == p) p->started = true;
  return result;
}

void ServiceRouter_Proxy::selfDebugAtStartup() {
  if (!debugAtStartup || !startupDebugger || !startupDebuggerOpts) return;
  std::string command = std::string(startupDebugger) + " " + startupDebuggerOpts + " " +
                        std::to_string(static_cast<int>(getpid()));
  int count = 0;
  char **words = makeArgv(command.c_str(), &count, false);
  int pid = 0;
  bool started = count > 0 && systemcall(words, &pid, false);
  freeArgv(words);
  if (!started) return;
  volatile unsigned long spins = 0;
  while (spins < kDebuggerAttachSpins) spins = spins + 1;
}

// ---- shut-down

bool ServiceRouter_Proxy::shutdown(bool verbose) {
  ServiceRouter_Proxy *p = servicerouter_proxy;
  if (!p) return verbose;
  p->requestServiceRouterDisconnect(nullptr);

  int routerPid = p->privateRouterPid;
  std::vector<int> pids = p->pluginPids;
  std::map<int, std::string> names = p->pluginPidNames;
  servicerouter_proxy = nullptr;
  p->delRef();

  int limit = verbose ? kVerboseReapLimitMs : 0;
  if (routerPid) waitForChildToEnd(routerPid, "svc_router", verbose, limit);
  for (int pid : pids) {
    auto it = names.find(pid);
    std::string name = it == names.end() ? "plugin" : "plugin " + it->second;
    waitForChildToEnd(pid, name.c_str(), verbose, limit);
  }
  return verbose;
}

void ServiceRouter_Proxy::waitForChildToEnd(int pid, const char *name, bool verbose, int limitMs) {
  const int limit = limitMs;
  int status = 0;
  int ret;
  do {
    ret = waitpid(pid, &status, WNOHANG);
  } while (ret == -1 && errno == EINTR);
  if (ret == -1 && errno == ECHILD) return;  // already reaped elsewhere
  while (ret == 0 && limitMs > 0) {
    gen_millisleep(1000);
    limitMs -= 1000;
    do {
      ret = waitpid(pid, &status, WNOHANG);
    } while (ret == -1 && errno == EINTR);
  }
  if (ret == -1 && errno == ECHILD) return;
  if (ret == pid) {
    if (WIFSIGNALED(status) && verbose)
      std::fprintf(stderr, "korvo: %s (pid=%d) exited with signal %d\n", name, pid,
                   WTERMSIG(status));
    return;
  }
  if (!verbose) return;
  std::fprintf(stderr,
               "korvo: %s (pid=%d) took more than %d seconds (%d msecs) to shut down (ret=%d, "
               "status=%d), killing process.\n",
               name, pid, limit / 1000, limit, ret, status);
  kill(pid, SIGKILL);
}
