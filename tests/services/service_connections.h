// ServiceConnections: service connections in one test process shaped like
// the state manager's: every server endpoint shares one transport (as they
// share the router transport), every client endpoint shares the peer
// transport, and each connection is its own routing-number pair. The two
// transports are joined by a socket pair; `pump` services both, so one
// thread can send a request on a client and have it served.
//
// Servers come from a ServiceFactory (createService, as the router client
// does) and are negotiated the way the router client negotiates incoming
// connections. The harness owns every endpoint and both transports.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "services/servicerouter_proxy/service_factory.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"
#include "tools/endpoint_pair.h"

class ServiceConnections {
 public:
  STPTransport *serverSide = nullptr;
  STPTransport *clientSide = nullptr;
  PumpBoth pump;

  ServiceConnections() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    for (int fd : fds) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    TStat st;
    serverSide = new STPTransport(32768);
    clientSide = new STPTransport(32768);
    serverSide->bindFD(fds[0], &st);
    clientSide->bindFD(fds[1], &st);
    pump.a = serverSide;
    pump.b = clientSide;
  }

  ~ServiceConnections() {
    for (STPSpecClass *e : servers) e->delRef();
    for (STPSpecClass *e : clients) e->delRef();
    if (serverSide) serverSide->delRef();
    if (clientSide) clientSide->delRef();
  }

  ServiceConnections(const ServiceConnections &) = delete;
  ServiceConnections &operator=(const ServiceConnections &) = delete;

  // Makes a server through `factory` on a fresh RN pair, binds `client`
  // (the harness takes its reference) to the other end and negotiates both.
  // Returns the server (owned by the harness) or null when anything failed.
  STPSpecClass *connect(ServiceFactory *factory, STPSpecClass *client) {
    clients.push_back(client);
    int serverRN = nextRN++;
    int clientRN = nextRN++;
    STPSpecClass *server = factory->createService(serverSide, serverRN, clientRN);
    if (!server) return nullptr;
    servers.push_back(server);
    client->setTransport(clientSide, clientRN, serverRN);
    TStat st;
    bool ok = server->sendNegotiate(true, nullptr, &st) && client->negotiate(&pump, &st) &&
              server->awaitNegotiate(&pump, &st);
    return ok ? server : nullptr;
  }

  // Ends a connection the way the router client does when the router
  // reports it dropped: marks the server down and releases it.
  void drop(STPSpecClass *server) {
    auto it = std::find(servers.begin(), servers.end(), server);
    if (it == servers.end()) return;
    servers.erase(it);
    server->markAsDown();
    server->delRef();
  }

  // Services both transports for a while (lets one-way messages arrive).
  void settle(int rounds = 20) {
    for (int i = 0; i < rounds; ++i) pump.idle();
  }

 private:
  int nextRN = 100;
  std::vector<STPSpecClass *> servers;  // one reference each
  std::vector<STPSpecClass *> clients;  // one reference each
};
