// BroadcastHarness: connections of the broadcast services in one test
// process, shaped like the state manager's. Every service endpoint shares
// one transport (as they share the router transport in the real process),
// every client endpoint shares the peer transport, and each connection is
// its own routing-number pair. The transports are joined by a socket pair;
// `pump` services both so that one thread can play client and service.
//
// The harness owns one reference on every endpoint it made and on both
// transports; drop() ends a service connection the way the router client
// does when the router reports it dropped (mark down, release).
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"
#include "tools/endpoint_pair.h"

class BroadcastHarness {
 public:
  STPTransport *serviceSide = nullptr;
  STPTransport *clientSide = nullptr;
  PumpBoth pump;

  BroadcastHarness() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    for (int fd : fds) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    serviceSide = new STPTransport(32768);
    clientSide = new STPTransport(32768);
    serviceSide->bindFD(fds[0], nullptr);
    clientSide->bindFD(fds[1], nullptr);
    pump.a = serviceSide;
    pump.b = clientSide;
  }
  ~BroadcastHarness() {
    for (STPSpecClass *e : services) e->delRef();
    for (STPSpecClass *e : clients) e->delRef();
    if (serviceSide) serviceSide->delRef();
    if (clientSide) clientSide->delRef();
  }
  BroadcastHarness(const BroadcastHarness &) = delete;
  BroadcastHarness &operator=(const BroadcastHarness &) = delete;

  // Binds `service` and `client` (the harness takes both references) to a
  // fresh RN pair and negotiates them. False when negotiation failed.
  bool connect(STPSpecClass *service, STPSpecClass *client) {
    services.push_back(service);
    clients.push_back(client);
    int serviceRN = nextRN++;
    int clientRN = nextRN++;
    service->setTransport(serviceSide, serviceRN, clientRN);
    client->setTransport(clientSide, clientRN, serviceRN);
    TStat st;
    return service->sendNegotiate(true, nullptr, &st) && client->negotiate(&pump, &st) &&
           service->awaitNegotiate(&pump, &st);
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

  // Ends a service connection: marks it down and releases the harness's
  // reference. The client side stays (it simply hears nothing more).
  void drop(STPSpecClass *service) {
    auto it = std::find(services.begin(), services.end(), service);
    if (it == services.end()) return;
    services.erase(it);
    service->markAsDown();
    service->delRef();
  }

  // Services both sides until `cond` holds (bounded); true when it does.
  template <class F>
  bool until(F cond) {
    return pump.until(cond);
  }
  // Services both sides for a few rounds, so that anything in flight
  // arrives (used before asserting that something did not arrive).
  void settle(int rounds = 30) {
    for (int i = 0; i < rounds; ++i) pump.idle();
  }

 private:
  std::vector<STPSpecClass *> services;
  std::vector<STPSpecClass *> clients;
  int nextRN = 10;
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
