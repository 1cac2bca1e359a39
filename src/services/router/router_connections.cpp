// The table of brokered service connections.
#include "services/router/router_connections.h"

Router_Connection &Router_ConnectionTable::add(const Router_Connection &c) {
  Router_Connection &slot = connections[c.clientRN];
  slot = c;
  return slot;
}

Router_Connection *Router_ConnectionTable::find(int clientRN) {
  auto it = connections.find(clientRN);
  return it == connections.end() ? nullptr : &it->second;
}

Router_Connection *Router_ConnectionTable::findFromSide(int pluginId, int ownRN, int otherRN,
                                                        bool *isClient) {
  // As the client: (clientRN, serviceRN).
  Router_Connection *c = find(ownRN);
  if (c && c->clientId == pluginId && c->serviceRN == otherRN) {
    *isClient = true;
    return c;
  }
  // As the provider: (serviceRN, clientRN).
  c = find(otherRN);
  if (c && c->providerId == pluginId && c->serviceRN == ownRN) {
    *isClient = false;
    return c;
  }
  return nullptr;
}

bool Router_ConnectionTable::remove(int clientRN) { return connections.erase(clientRN) > 0; }

std::vector<int> Router_ConnectionTable::involving(int pluginId) const {
  std::vector<int> out;
  for (const auto &entry : connections)
    if (entry.second.clientId == pluginId || entry.second.providerId == pluginId)
      out.push_back(entry.first);
  return out;
}

bool Router_ConnectionTable::anyBetweenDifferentPlugins() const {
  for (const auto &entry : connections)
    if (entry.second.clientId != entry.second.providerId) return true;
  return false;
}
