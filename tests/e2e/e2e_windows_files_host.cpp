// e2e_windows_files_host: a service process offering only
// "TWL_WindowRegisterService" and "FileRegistry", serving until the router
// closes its connection.
//
// In svc_statemgr these two services never hold the process alive (their
// exit conditions always allow exit); the process stays because other
// modules count their connections. Tests and benchmarks that need the two
// services for a while run them here: the same service libraries, router
// client and event loop, plus one exit condition that never allows exit.
// Started by the router or with "-sr_connect_servicerouter_port PORT".
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
  gen_init(argc > 0 && argv[0] ? argv[0] : "e2e_windows_files_host", 0, 0);
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
