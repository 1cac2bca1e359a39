// The router's active-services record.
#include "services/router/router_record.h"

#include "services/servicerouter_proxy/activeservices_manager.h"
#include "shared/indgen.h"

namespace {

// How long the end of the router tries to take the lock before removing
// its record without it.
constexpr int kWithdrawLockTries = 20;  // of 100 ms

const char *orNull(const std::string &s) { return s.empty() ? nullptr : s.c_str(); }

}  // namespace

Router_Record::~Router_Record() { delete manager; }

bool Router_Record::publish(int listenPort, const std::string &zoneName, bool launchedByClient,
                            std::string *error) {
  zone = zoneName;
  port = listenPort;
  const char *z = orNull(zone);
  if (!launchedByClient) {
    if (!ActiveServices_Manager::lockManagerFile(z, nullptr, nullptr)) {
      *error = "cannot lock the active-services file";
      return false;
    }
    int other = ActiveServices_Manager::getActiveServiceRouter_Port(z, nullptr, nullptr);
    if (other != 0 && other != port) {
      ActiveServices_Manager::unlockManagerFile(z, nullptr, nullptr);
      *error = "another service router is running for this display (port " +
               std::to_string(other) + "); stop it first or use -not_shared";
      return false;
    }
  }
  manager = new ActiveServices_Manager(port, z, nullptr, nullptr);
  if (!launchedByClient) ActiveServices_Manager::unlockManagerFile(z, nullptr, nullptr);
  char *name = ActiveServices_Manager::getActiveServiceRouterFilename(manager->getKey());
  file = name ? name : "";
  gen_free(name);
  if (!manager->wasWritten()) {
    *error = "cannot write the active-services file " + file;
    delete manager;
    manager = nullptr;
    return false;
  }
  return true;
}

void Router_Record::withdraw() {
  if (!manager) return;
  bool locked = false;
  for (int i = 0; i < kWithdrawLockTries && !locked; ++i) {
    locked = manager->nonblockingManagerFileLock();
    if (!locked) gen_millisleep(100);
  }
  const char *z = orNull(zone);
  if (ActiveServices_Manager::getActiveServiceRouter_Port(z, nullptr, nullptr) == port)
    manager->removeManagerFile();
  if (locked) manager->managerFileUnlock();
  delete manager;
  manager = nullptr;
}
