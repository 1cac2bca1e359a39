// Routing-number allocation.
#include "services/router/router_rn_table.h"

#include <climits>

int Router_RNTable::allocate(int pluginId) {
  // The counter only wraps after two billion allocations; skipping the
  // numbers still in use keeps the RNs unique even then.
  for (;;) {
    int rn = next;
    next = next == INT_MAX ? 16 : next + 1;
    if (owners.find(rn) == owners.end()) {
      owners[rn] = pluginId;
      return rn;
    }
  }
}

bool Router_RNTable::release(int rn) { return owners.erase(rn) > 0; }

int Router_RNTable::ownerOf(int rn) const {
  auto it = owners.find(rn);
  return it == owners.end() ? -1 : it->second;
}

int Router_RNTable::releaseAllOf(int pluginId) {
  int n = 0;
  for (auto it = owners.begin(); it != owners.end();) {
    if (it->second == pluginId) {
      it = owners.erase(it);
      ++n;
    } else {
      ++it;
    }
  }
  return n;
}
