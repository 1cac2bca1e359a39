// svc_statemgr: the program entry of the state-manager process.
//
// The process is started by the service router only, with the router's
// connect options on its command line; run by hand it refuses to start.
// Start-up: the service modules' process-wide objects (exit conditions and
// factories, in the fixed module order) exist before main; main initialises
// the runtime library, sets the signal dispositions, checks the launch
// options, loads the state files, connects to the router and registers the
// services, then serves in the event loop until the router has dropped the
// connection. Shut-down releases the router client (connections that keep
// WhiteBoard groups on disk save them), saves the state files and destroys
// the loop; the WhiteBoard store saves its disk groups once more as the
// process exits.
//
// Hang-up, quit, terminate and broken pipe take the same way out: their
// handler only notes the signal (svc_signals.h), the loop leaves, the
// shut-down above saves everything, and the process ends with status 2.
// Between exits, state-file changes are written within about two seconds
// (statefile_saver.h), so that a kill that allows no saving at all loses
// at most those seconds. Assumes one thread.
#include "services/editorservice/editor_kinds.h"
#include "services/mruservice/statefile_saver.h"
#include "services/servicerouter_proxy/service_factory.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "services/state/statefiles.h"
#include "services/state/svc_eventloop.h"
#include "services/state/svc_signals.h"
#include "services/whiteboard/whiteboard_group_file.h"
#include "shared/indgen.h"
#include "windlib/config/defaultconfig.h"
#include "windlib/config/editor_defaultconfig.h"

int main(int argc, char **argv) {
  gen_init(argc > 0 && argv[0] ? argv[0] : "svc_statemgr", 0, 0);
  Svc_SetSignalDispositions();
  Svc_InstallStopSignals();  // without its pipe the runtime's traps stay
  if (!ServiceRouter_Proxy::argsIndicateLaunchedFromServiceRouter(argc, argv)) {
    gen_errorexit(1, "%s may not be run as a standalone program", gen_progname);
    return 1;
  }

  // The editor services read the editor options of the default
  // configuration, which keeps them current from the WhiteBoard.
  EditorService_SetOptions(&editor_service_kind_options);

  // Loaded before any router connection exists. Temporary files left by a
  // save that a crash interrupted are removed first (the state files' own
  // by their _Init).
  WhiteBoard_RemoveStaleTempFiles();
  MRU_Init();
  ColumnConfig_Init();
  WindowConfig_Init();
  FCDirMem_Init();
  StateFileSaver_Enable(StateFileSaver_kDelayMs);

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

  int stopSignal = 0;
  {
    Svc_EventLoop event_loop;
    gen_assert(event_loop.installExitConditionFunc(ServiceFactory::createdAService));
    // Serves until the router has dropped the connection; once every exit
    // condition agrees, the loop asks the router for that itself.
    event_loop.enterLoop();
    stopSignal = Svc_StopSignal();

    StateFileSaver_Disable();
    ServiceRouter_Proxy::shutdown(false);
    MRU_Exit();
    ColumnConfig_Exit();
    WindowConfig_Exit();
    FCDirMem_Exit();
  }  // the loop's cleanup actions run here
  if (stopSignal != 0) Svc_ExitAfterStopSignal(stopSignal);
  return 0;
}
