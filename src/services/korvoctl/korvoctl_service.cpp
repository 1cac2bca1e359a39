// korvoctl_service: service connections, serving until interrupted, and
// output fields for subcommands.
#include "services/korvoctl/korvoctl_service.h"

#include <signal.h>

#include <cstdio>

#include "services/korvoctl/korvoctl_session.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/stp_transport/stp_specclass.h"

namespace {

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

}  // namespace

bool KorvoCtl_ConnectService(KorvoCtl_Session &session, const char *what, const char *service,
                             STPSpecClass *endpoint) {
  if (!session.connect()) return false;
  bool found = false, accepted = false;
  if (session.proxy()->getServiceConnection(service, endpoint, &found, &accepted, session.retry(),
                                            gen_getcwd(), false, false, false))
    return true;
  if (!found)
    gen_error("%s: no process provides %s", what, service);
  else if (!accepted)
    gen_error("%s: %s refused the connection", what, service);
  else
    gen_error("%s: could not connect to %s", what, service);
  return false;
}

bool KorvoCtl_ServeUntilInterrupted(KorvoCtl_Session &session, STPSpecClass *endpoint, const char *ready,
                                    const char *what, const char *peer) {
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;  // no SA_RESTART: the socket wait returns
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::printf("%s\n", ready);
  std::fflush(stdout);
  IdleNotifier *notifier = getIdleNotifier();
  while (!interrupted && !endpoint->isDown() && session.proxy()->isTransportAlive()) {
    notifier->notifyIdle(false);
    notifier->notifyTimers();
    notifier->notifySocketActivity(1000, true);
  }
  if (interrupted) return true;
  gen_error("%s: the connection to %s ended", what, peer);
  return false;
}

std::string KorvoCtl_Field(const char *text) {
  if (!text) return "-";
  std::string s = text;
  for (char &c : s)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return s;
}
