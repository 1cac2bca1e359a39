// End-to-end support for the broadcast services: this test process
// connected to a router (E2ERouter of e2e/e2e_process.h) through the
// process-wide router client, and waits that run the process's idle
// notifier with a time limit.
//
// The test process must not link the service modules themselves (it would
// then offer their services). One thread; every wait is bounded.
#pragma once

#include <string>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace e2e {

// One pass of this process's loop: idlers, timers, one socket wait.
inline void pumpOnce(int ms) {
  IdleNotifier *n = getIdleNotifier();
  n->notifyIdle(false);
  n->notifyTimers();
  n->notifySocketActivity(ms, true);
}

// Runs loop passes until cond() holds or `ms` passed; true when it holds.
template <class F>
bool until(F cond, int ms = 5000) {
  long long end = ut_getTimeMillis64() + ms;
  while (!cond()) {
    if (ut_getTimeMillis64() > end) return false;
    pumpOnce(5);
  }
  return true;
}

// Runs loop passes for `ms` (to let anything in flight arrive).
inline void settle(int ms = 200) {
  long long end = ut_getTimeMillis64() + ms;
  while (ut_getTimeMillis64() < end) pumpOnce(5);
}

// A retry handler for senders and connection requests: waits by running
// the loop, gives up after `ms` (10 s by default).
class LoopPump : public RetryHandler {
 public:
  explicit LoopPump(int ms = 10000) : RetryHandler(kRetryMillisBase + ms) {}
  void idle() override { pumpOnce(5); }
};

// Connects this process's router client to `port`. Call once.
inline bool connectClient(int port) {
  std::string portText = std::to_string(port);
  char prog[] = "e2e_client";
  char opt[] = "-sr_connect_servicerouter_port";
  char hostOpt[] = "-sr_connect_servicerouter_host";
  char host[] = "127.0.0.1";
  char *argv[] = {prog, opt, portText.data(), hostOpt, host, nullptr};
  int argc = 5;
  return ServiceRouter_Proxy::startup(false, &argc, argv, nullptr, false, nullptr, true, false);
}

// Asks the router for a connection to `service` and binds `endpoint` to it.
inline bool connectService(const char *service, STPSpecClass *endpoint) {
  LoopPump rh;
  bool found = false, accepted = false;
  return servicerouter_proxy &&
         servicerouter_proxy->getServiceConnection(service, endpoint, &found, &accepted, &rh, nullptr,
                                                   false, false, false) &&
         found && accepted;
}

// Ends a connection from this side and releases the caller's reference.
inline void disconnect(STPSpecClass *endpoint) {
  if (servicerouter_proxy) {
    LoopPump rh;
    servicerouter_proxy->dropServiceConnection(endpoint, &rh, true);
  }
  endpoint->delRef();
}

}  // namespace e2e
