// The main of a test service host: a process that offers the services of
// the module libraries it is linked with (nothing else) and keeps serving
// until the router closes its connection. Built as e2e_windows_files_host
// ("TWL_WindowRegisterService" and "FileRegistry") and broadcast_test_host
// (the three broadcast services).
//
// In svc_statemgr these services never hold the process alive by
// themselves (their exit conditions always allow exit); the process stays
// because other modules count their connections. Tests and benchmarks that
// need the services for a while run them here: the same service libraries,
// router client and event loop, plus one exit condition that never allows
// exit. Started by the router or with "-sr_connect_servicerouter_port PORT".
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "services/state/svc_eventloop.h"
#include "shared/indgen.h"

namespace {

class KeepServing : public ExitCondition {
 public:
  bool allowExit() override { return false; }
  bool mustExit() override { return false; }
};

}  // namespace

int main(int argc, char **argv) {
  gen_init(argc > 0 && argv[0] ? argv[0] : "service_host", 0, 0);
  if (!ServiceRouter_Proxy::startup(false, &argc, argv, nullptr, false, nullptr, true, false)) return 1;
  {
    Svc_EventLoop loop;
    KeepServing keep;
    loop.installExitCondition(&keep);
    loop.enterLoop();
  }
  ServiceRouter_Proxy::shutdown(false);
  return 0;
}
