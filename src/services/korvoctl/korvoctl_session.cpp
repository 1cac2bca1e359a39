// korvoctl's router connection through the process's ServiceRouter_Proxy.
#include "services/korvoctl/korvoctl_session.h"

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_retry_handlers.h"

namespace {

// Longest socket wait of one idle pass while korvoctl waits.
constexpr int kIdleWaitMs = 100;

}  // namespace

KorvoCtl_Session::KorvoCtl_Session(const std::vector<std::string> &routerOptions, int timeoutMs)
    : options(routerOptions), timeout(timeoutMs) {}

KorvoCtl_Session::~KorvoCtl_Session() {
  if (tried) ServiceRouter_Proxy::shutdown(false);
  delete retryHandler;
}

bool KorvoCtl_Session::connect() {
  if (tried) return connected;
  tried = true;
  ServiceRouter_Proxy *p = ServiceRouter_Proxy::ensureProxy();
  retryHandler = new IdleConnRetryHandler(p, timeout, kIdleWaitMs);
  // The proxy reads its options from an argument vector and removes them.
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>("korvoctl"));
  for (std::string &o : options) argv.push_back(o.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(argv.size()) - 1;
  // Not persistent, no display name (DISPLAY), shared router, connect now,
  // may launch a router.
  connected = ServiceRouter_Proxy::startup(false, &argc, argv.data(), nullptr, false, retryHandler,
                                           true, true) &&
              servicerouter_proxy && servicerouter_proxy->getPluginId() != -1;
  if (!connected) {
    gen_error("cannot reach the service router");
    return false;
  }
  proxyObject = servicerouter_proxy;
  return true;
}
