// svc_statemgr: the program entry of the state-manager process.
//
// The process is started by the service router only, with the router's
// connect options on its command line; run by hand it refuses to start.
// Start-up: the service modules' process-wide objects (exit conditions and
// factories, in the fixed module order) exist before main; main initialises
// the runtime library, sets the signal dispositions, checks the launch
// options, loads the state files, connects to the router and registers the
// services, then serves in the event loop until the router has dropped the
// connection. Shut-down releases the router client, saves the state files
// and destroys the loop. Assumes one thread.
#include "services/editorservice/editor_kinds.h"
#include "services/servicerouter_proxy/service_factory.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "services/state/statefiles.h"
#include "services/state/svc_eventloop.h"
#include "services/state/svc_signals.h"
#include "shared/indgen.h"
#include "windlib/config/defaultconfig.h"
#include "windlib/config/editor_defaultconfig.h"

int main(int argc, char **argv) {
  gen_init(argc > 0 && argv[0] ? argv[0] : "svc_statemgr", 0, 0);
  Svc_SetSignalDispositions();
  if (!ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(argc, argv)) {
    gen_errorexit(1, "%s may not be run as a standalone program", gen_progname);
    return 1;
  }

  // The editor services read the editor options of the default
  // configuration, which keeps them current from the WhiteBoard.
  EditorService_SetOptions(&editor_service_kind_options);

  // Loaded before any router connection exists.
  MRU_Init();
  ColumnConfig_Init();
  WindowConfig_Init();
  FCDirMem_Init();

  // Not persistent; router options are removed from argc/argv; no display
  // name; shared router; no retry handler; connect because the process has
  // services (or was launched by a router); may launch a router.
  if (!ServiceRouter_Proxy::startup(false, &argc, argv, nullptr, false, nullptr, false, true)) {
    // The proxy has printed its reason where it has one; nothing more here.
    gen_exit(1);
    return 1;
  }
  // The default configuration connects to this process's own WhiteBoard
  // service; that open connection is what keeps the process serving until
  // the router ends. A failure has been warned about; the process goes on.
  Config_EstablishConnection();

  {
    Svc_EventLoop event_loop;
    gen_assert(event_loop.installExitConditionFunc(ServiceFactory::createdAService));
    // Serves until the router has dropped the connection; once every exit
    // condition agrees, the loop asks the router for that itself.
    event_loop.enterLoop();

    ServiceRouter_Proxy::shutdown(false);
    MRU_Exit();
    ColumnConfig_Exit();
    WindowConfig_Exit();
    FCDirMem_Exit();
  }  // the loop's cleanup actions run here
  return 0;
}
