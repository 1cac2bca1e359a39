// Router_ConnectionTable: the service connections the router brokered.
//
// A connection joins a client end (a fresh RN of the requesting plugin) and
// a service end (the RN the provider registered for the name). The client
// RN is unique, so it is the key. A connection is "pending" from the
// request until the provider accepts it.
//
// Both sides name a connection by the pair (own RN, other RN): the client
// as (clientRN, serviceRN), the provider as (serviceRN, clientRN).
// One thread.
#pragma once

#include <map>
#include <string>
#include <vector>

struct Router_Connection {
  int clientRN = 0;
  int clientId = -1;    // requesting plugin
  int serviceRN = 0;
  int providerId = -1;  // providing plugin
  std::string serviceName;
  int clientCookie = 0;
  bool accepted = false;
};

class Router_ConnectionTable {
 public:
  // Adds a pending connection (replacing one with the same client RN).
  Router_Connection &add(const Router_Connection &c);
  // The connection with that client RN, or null (valid until the table
  // changes).
  Router_Connection *find(int clientRN);
  // The connection a plugin names by (its own RN, the other RN), or null;
  // *isClient tells which side the plugin is on.
  Router_Connection *findFromSide(int pluginId, int ownRN, int otherRN, bool *isClient);
  bool remove(int clientRN);
  // Client RNs of every connection the plugin takes part in.
  std::vector<int> involving(int pluginId) const;
  // Whether some connection joins two different plugins.
  bool anyBetweenDifferentPlugins() const;
  int size() const { return static_cast<int>(connections.size()); }

 private:
  std::map<int, Router_Connection> connections;  // by client RN
};
