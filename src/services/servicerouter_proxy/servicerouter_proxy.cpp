// servicerouter_proxy: creation and release of the process's router client,
// start-up and shut-down with the reaping of the children the proxy is
// responsible for, and the few handlers that involve more than one part.
// The proxy is also the event loop's router link.
#include "services/servicerouter_proxy/servicerouter_proxy.h"

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

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

ServiceRouter_Proxy::ServiceRouter_Proxy() { Svc_RouterLink::install(&g_routerLink); }

ServiceRouter_Proxy::~ServiceRouter_Proxy() {
  writeLogBlock(link_.getGlobalLog(), this, "Destroying ServiceRouter_Proxy.\n");
  if (Svc_RouterLink::installed() == &g_routerLink) Svc_RouterLink::install(nullptr);
  registry_.releaseRecords();  // the negotiator first, then every record
  link_.releaseLog();
  link_.releaseRouterTransport();
}

ServiceRouter_Proxy *ServiceRouter_Proxy::ensureProxy() {
  if (!servicerouter_proxy) servicerouter_proxy = new ServiceRouter_Proxy();
  return servicerouter_proxy;
}

// ---- start-up

bool ServiceRouter_Proxy::startup(bool persistent, int *argc, char **argv, const char *display,
                                  bool privateRouter, RetryHandler *rh, bool connectNow,
                                  bool mayLaunchRouter) {
  return ensureProxy()->link_.startup(persistent, argc, argv, display, privateRouter, rh,
                                      connectNow, mayLaunchRouter);
}

// ---- the request that carries another part's state

bool ServiceRouter_Proxy::send_RequestServiceConnection(const char *serviceName,
                                                        int providingPluginID,
                                                        const char *working_dir, bool local_only,
                                                        int client_cookie, bool no_reuse,
                                                        bool client_start, bool stp_wait,
                                                        RetryHandler *stp_rh, TStat *stp_stat) {
  // The sender only reads the resolvers' strings.
  std::vector<char *> pairs = plugins_.precachedPairs();
  ServiceRouter_STRING_ARRAY array;
  array.count = static_cast<int>(pairs.size());
  array.data = pairs.empty() ? nullptr : pairs.data();
  return ServiceRouter_plugin_Impl::send_RequestServiceConnection(
      serviceName, providingPluginID, array, working_dir, local_only, client_cookie, no_reuse,
      client_start, stp_wait, stp_rh, stp_stat);
}

// ---- shut-down

bool ServiceRouter_Proxy::shutdown(bool verbose) {
  ServiceRouter_Proxy *p = servicerouter_proxy;
  if (!p) return verbose;
  p->requestServiceRouterDisconnect(nullptr);

  int routerPid = p->link_.getPrivateRouterPid();
  std::vector<int> pids = p->plugins_.getPluginPids();
  std::vector<std::string> names;
  for (int pid : pids) names.push_back(p->plugins_.pluginName(pid));
  servicerouter_proxy = nullptr;
  p->delRef();

  int limit = verbose ? kVerboseReapLimitMs : 0;
  if (routerPid) waitForChildToEnd(routerPid, "svc_router", verbose, limit);
  for (size_t i = 0; i < pids.size(); ++i) {
    std::string name = names[i].empty() ? "plugin" : "plugin " + names[i];
    waitForChildToEnd(pids[i], name.c_str(), verbose, limit);
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
