// service_limits: string and item costs, sender names and refusals.
#include "services/support/service_limits.h"

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"

std::string ServiceLimits_SenderName(const STPSpecClass *endpoint) {
  auto *ep = const_cast<STPSpecClass *>(endpoint);
  int plugin = servicerouter_proxy && ep ? servicerouter_proxy->getPluginIdForConnection(ep) : -1;
  if (plugin != -1) return "plugin " + std::to_string(plugin);
  return "connection " + std::to_string(endpoint ? endpoint->getRemoteRN() : 0);
}

void ServiceLimits_Refuse(const STPSpecClass *endpoint, const char *message, const char *reason) {
  gen_warning("%s from %s refused: %s", message, ServiceLimits_SenderName(endpoint).c_str(),
              reason);
}
