// ServiceConnections: service connections in one test process shaped like
// the state manager's: every server endpoint shares one transport (as they
// share the router transport), every client endpoint shares the peer
// transport, and each connection is its own routing-number pair. `pump`
// services both, so one thread can send a request and have it served. The
// harness owns every endpoint. HookLog (and dropOnFirstSend) lets a test
// act in the middle of a fan-out.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "services/servicerouter_proxy/service_factory.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_log.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"
#include "support/stp_pump.h"
#include "support/stp_sockets.h"

// An STPLog that runs a callback at the start of its first entry (to act
// in the middle of a fan-out) and collects entries.
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
    if (hook) std::exchange(hook, nullptr)(hookArg);
  }
  void logEnd(STPSpecClass *, bool) override {}
};

class ServiceConnections {
  HookLog dropHook_;  // declared first: it outlives every endpoint and transport
  testsupport::TransportPair tp_;

 public:
  STPTransport *const serverSide = tp_.a;
  STPTransport *const clientSide = tp_.b;
  testsupport::Pump pump{{tp_.a, tp_.b}};

  ServiceConnections() = default;
  ~ServiceConnections() {
    for (STPSpecClass *e : servers) e->delRef();
    for (STPSpecClass *e : clients) e->delRef();
  }
  ServiceConnections(const ServiceConnections &) = delete;
  ServiceConnections &operator=(const ServiceConnections &) = delete;

  // A server from `factory` (as the router client makes them) joined to
  // `client` (the harness takes its reference). The server, or null.
  STPSpecClass *connect(ServiceFactory *factory, STPSpecClass *client) {
    clients.push_back(client);
    STPSpecClass *server = factory->createService(serverSide, nextRN, nextRN + 1);
    if (!server) return nullptr;
    servers.push_back(server);
    client->setTransport(clientSide, nextRN + 1, nextRN);
    nextRN += 2;
    return negotiate(server, client) ? server : nullptr;
  }

  // Joins `server` and `client` (the harness takes both references) on a
  // fresh routing-number pair and negotiates them.
  bool connect(STPSpecClass *server, STPSpecClass *client) {
    servers.push_back(server);
    clients.push_back(client);
    server->setTransport(serverSide, nextRN, nextRN + 1);
    client->setTransport(clientSide, nextRN + 1, nextRN);
    nextRN += 2;
    return negotiate(server, client);
  }

  template <class S, class C>
  std::pair<S *, C *> make(bool *ok) {
    S *s = new S();
    C *c = new C();
    *ok = connect(s, c);
    return {s, c};
  }

  // Ends a connection as the router client does when the router reports it
  // dropped: marks the server down and releases it.
  void drop(STPSpecClass *server) {
    auto it = std::find(servers.begin(), servers.end(), server);
    if (it == servers.end()) return;
    servers.erase(it);
    server->markAsDown();
    server->delRef();
  }

  template <class F>
  bool until(F cond) {
    return pump.until(cond);
  }
  // Lets anything in flight arrive (before asserting that something did not).
  void settle(int rounds = 30) {
    for (int i = 0; i < rounds; ++i) pump.idle();
  }

  // Sends a hand-made ASCII message `name` with id `id` from `client`;
  // `fill` adds its fields.
  template <class F>
  void sendRaw(STPSpecClass *client, int id, const char *name, F fill, int flags = 2) {
    STPAsciiOMsg *m = clientSide->createAsciiMessage(client->getLocalRN(),
                                                     client->getRemoteRN(), 14, id, flags);
    m->putIdent(name);
    fill(m);
    TStat st;
    EXPECT_NE(clientSide->sendMessage(m, &pump, &st), 0) << st.message;
    delete m;
  }
  void sendRaw(STPSpecClass *client, int id, const char *name) {
    sendRaw(client, id, name, [](STPAsciiOMsg *) {});
  }

  // The first send `on` logs ends `victim`'s connection: a listener dropped
  // in the middle of a fan-out.
  void dropOnFirstSend(STPSpecClass *on, STPSpecClass *victim) {
    dropVictim_ = victim;
    dropHook_.hook = [](void *arg) {
      auto *self = static_cast<ServiceConnections *>(arg);
      self->drop(self->dropVictim_);
    };
    dropHook_.hookArg = this;
    on->setSendLogging(&dropHook_);
  }

 private:
  bool negotiate(STPSpecClass *server, STPSpecClass *client) {
    TStat st;
    return server->sendNegotiate(true, nullptr, &st) && client->negotiate(&pump, &st) &&
           server->awaitNegotiate(&pump, &st);
  }

  int nextRN = 100;
  STPSpecClass *dropVictim_ = nullptr;
  std::vector<STPSpecClass *> servers;  // one reference each
  std::vector<STPSpecClass *> clients;  // one reference each
};
