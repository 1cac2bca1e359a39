// ServiceConnections: service connections in one test process shaped like
// the state manager's: every server endpoint shares one transport (as they
// share the router transport), every client endpoint shares the peer
// transport, and each connection is its own routing-number pair. The two
// transports are joined by a socket pair; `pump` services both, so one
// thread can send a request on a client and have it served.
//
// Servers come from a ServiceFactory (createService, as the router client
// does) or from the test, and are negotiated the way the router client
// negotiates incoming connections. The harness owns every endpoint and both
// transports. HookLog lets a test act in the middle of a fan-out.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "services/servicerouter_proxy/service_factory.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"
#include "shared/stp_transport/stp_log.h"
#include "support/stp_pump.h"

class ServiceConnections {
 public:
  STPTransport *serverSide = nullptr;
  STPTransport *clientSide = nullptr;
  testsupport::Pump pump;

  ServiceConnections() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    for (int fd : fds) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    TStat st;
    serverSide = new STPTransport(32768);
    clientSide = new STPTransport(32768);
    serverSide->bindFD(fds[0], &st);
    clientSide->bindFD(fds[1], &st);
    pump.add(serverSide);
    pump.add(clientSide);
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
    return negotiate(server, client) ? server : nullptr;
  }

  // The same for a server made by the test: binds `server` and `client`
  // (the harness takes both references) to a fresh RN pair and negotiates
  // them. False when negotiation failed.
  bool connect(STPSpecClass *server, STPSpecClass *client) {
    servers.push_back(server);
    clients.push_back(client);
    int serverRN = nextRN++;
    int clientRN = nextRN++;
    server->setTransport(serverSide, serverRN, clientRN);
    client->setTransport(clientSide, clientRN, serverRN);
    return negotiate(server, client);
  }

  // Makes a new S and C, connects them and returns them (owned by the
  // harness); *ok reports the negotiation.
  template <class S, class C>
  std::pair<S *, C *> make(bool *ok) {
    S *s = new S();
    C *c = new C();
    *ok = connect(s, c);
    return {s, c};
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

  // Services both sides until `cond` holds (bounded); true when it does.
  template <class F>
  bool until(F cond) {
    return pump.until(cond);
  }
  // Services both transports for a while, so that anything in flight
  // arrives (used before asserting that something did not arrive).
  void settle(int rounds = 30) {
    for (int i = 0; i < rounds; ++i) pump.idle();
  }

 private:
  bool negotiate(STPSpecClass *server, STPSpecClass *client) {
    TStat st;
    return server->sendNegotiate(true, nullptr, &st) && client->negotiate(&pump, &st) &&
           server->awaitNegotiate(&pump, &st);
  }

  int nextRN = 100;
  std::vector<STPSpecClass *> servers;  // one reference each
  std::vector<STPSpecClass *> clients;  // one reference each
};

// An STPLog that runs a callback at the start of its first entry (to act
// in the middle of a fan-out) and counts entries.
class HookLog : public STPLog {
 public:
  std::vector<std::string> entries;
  void (*hook)(void *) = nullptr;
  void *hookArg = nullptr;

  using STPLog::add;
  void add(const char *data, int length) override {
    if (entries.empty()) entries.emplace_back();
    entries.back().append(data, length);
  }
  void logStart(STPSpecClass *, bool) override {
    entries.emplace_back();
    if (hook) {
      auto h = hook;
      hook = nullptr;
      h(hookArg);
    }
  }
  void logEnd(STPSpecClass *, bool) override {}
};
