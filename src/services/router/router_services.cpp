// The registry of provided service names.
#include "services/router/router_services.h"

#include <algorithm>

void Router_ServiceRegistry::add(const std::string &name, int rn, int pluginId) {
  services.push_back(Router_Service{name, rn, pluginId});
}

const Router_Service *Router_ServiceRegistry::find(const std::string &name, int pluginId) const {
  for (const Router_Service &s : services)
    if (s.name == name && (pluginId == -1 || s.pluginId == pluginId)) return &s;
  return nullptr;
}

const Router_Service *Router_ServiceRegistry::findRN(int rn) const {
  for (const Router_Service &s : services)
    if (s.rn == rn) return &s;
  return nullptr;
}

bool Router_ServiceRegistry::removeRN(int rn) {
  auto it = std::find_if(services.begin(), services.end(),
                         [rn](const Router_Service &s) { return s.rn == rn; });
  if (it == services.end()) return false;
  services.erase(it);
  return true;
}

void Router_ServiceRegistry::removePlugin(int pluginId) {
  services.erase(std::remove_if(services.begin(), services.end(),
                                [pluginId](const Router_Service &s) {
                                  return s.pluginId == pluginId;
                                }),
                 services.end());
}
