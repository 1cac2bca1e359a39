// Router_ServiceRegistry: the service names plugins have registered, with
// the RN each registration got. Several plugins may register the same name;
// a request without a preferred provider goes to the earliest registration
// still present.
//
// One thread.
#pragma once

#include <string>
#include <vector>

struct Router_Service {
  std::string name;
  int rn;
  int pluginId;  // the provider
};

class Router_ServiceRegistry {
 public:
  void add(const std::string &name, int rn, int pluginId);
  // The registration of `name` by `pluginId` (any provider when -1), or
  // null. The pointer is valid until the registry changes.
  const Router_Service *find(const std::string &name, int pluginId) const;
  const Router_Service *findRN(int rn) const;
  // Removes one registration; false when none has that RN.
  bool removeRN(int rn);
  // Removes every registration of the plugin.
  void removePlugin(int pluginId);
  const std::vector<Router_Service> &all() const { return services; }

 private:
  std::vector<Router_Service> services;  // registration order
};
