// Router_RNTable: the routing numbers (RNs) handed out by the router and the
// plugin that owns each. An RN names one end of a virtual connection; every
// packet whose destination is an RN of this table is forwarded to the
// owner's connection.
//
// RNs are unique across the router: they come from a counter that never
// hands out a number still in use. RN 1 is the router's own end of every
// plugin link and RN 2 the plugin's end; neither is ever allocated.
// One thread.
#pragma once

#include <unordered_map>
#include <vector>

// The router's end and the plugin's end of each plugin link.
constexpr int kRouterOwnRN = 1;
constexpr int kPluginLinkRN = 2;

class Router_RNTable {
 public:
  // A fresh RN owned by `pluginId`.
  int allocate(int pluginId);
  // Frees `rn`; false when it was not allocated.
  bool release(int rn);
  // The owner of `rn`, or -1.
  int ownerOf(int rn) const;
  // Frees every RN of the plugin; returns how many.
  int releaseAllOf(int pluginId);
  int size() const { return static_cast<int>(owners.size()); }

 private:
  std::unordered_map<int, int> owners;  // rn -> plugin id
  int next = 16;                        // numbers below are left free
};
