// svc_statemgr: the program entry of the state-manager process.
//
// The process is started by the service router only, with the router's
// connect options on its command line; run by hand it refuses to start.
// Start-up order: runtime library, signal dispositions, launch check, then
// (once those modules exist) the saved state files, the router connection,
// the default configuration and the event loop; shut-down runs the same
// steps backwards. Assumes one thread.
#include <cstring>

#include "services/state/svc_signals.h"
#include "shared/indgen.h"

namespace {

const char *const kRouterConnectOptions[] = {"-connect_servicerouter",
                                             "-sr_connect_servicerouter_host",
                                             "-sr_connect_servicerouter_port"};

// True when a router connect option stands anywhere from the program path to
// the last word but one: each option takes a value, so a trailing one cannot
// come from the router. The router client will own this check; main then
// calls it instead.
bool argsIndicateLaunchedFromServiceRouter(int argc, char **argv) {
  for (int i = 0; i < argc - 1; ++i)
    for (const char *option : kRouterConnectOptions)
      if (argv[i] && std::strcmp(argv[i], option) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  gen_init(argc > 0 && argv[0] ? argv[0] : "svc_statemgr", 0, 0);
  Svc_SetSignalDispositions();
  if (!argsIndicateLaunchedFromServiceRouter(argc, argv)) {
    gen_errorexit(1, "%s may not be run as a standalone program", gen_progname);
    return 1;
  }

  // Not built yet: loading the state files, starting the router client,
  // connecting the default configuration, and running Svc_EventLoop with
  // Svc_RouterLink::anyServiceCreated as an exit-condition function until the
  // router drops the connection, then the shut-down steps. Until those
  // modules exist the process says so and ends normally.
  gen_info("the service router connection is not built yet; exiting");
  return 0;
}
