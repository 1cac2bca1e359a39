// broadcast_test_host: a service process that offers only the three
// broadcast services ("BroadcastService.Config", ".File.Notify",
// ".File.Listen") and keeps serving until the router closes its connection.
//
// svc_statemgr lets these services end the process as soon as its other
// modules allow it (their exit conditions never hold it), so tests and
// benchmarks that need the broadcast services for a while run them here:
// same service code, same router client and event loop, plus one exit
// condition that never allows exit. Started with the router's options
// ("-sr_connect_servicerouter_port PORT").
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
  gen_init(argc > 0 && argv[0] ? argv[0] : "broadcast_test_host", 0, 0);
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
