// Clean-up operations of the router's plugin transports.
#include "services/router/router_transport.h"

#include "services/router/router_rn_table.h"
#include "shared/stp_transport/stp_msg.h"

namespace {

int dropAll(std::vector<STPIMsg *> &queue, bool *forRouter) {
  if (queue.empty()) return 0;  // the usual case, after every read
  std::vector<STPIMsg *> doomed;
  doomed.swap(queue);
  for (STPIMsg *m : doomed) {
    if (forRouter && m->destRN == kRouterOwnRN) *forRouter = true;
    delete m;
  }
  return static_cast<int>(doomed.size());
}

}  // namespace

int Router_Transport::discardStrays(bool *forRouter) {
  if (forRouter) *forRouter = false;
  // The router never waits for a reply, so every queued response is stray.
  return dropAll(unclaimed, forRouter) + dropAll(responses, forRouter);
}

void Router_Transport::discardOutput() {
  wbuf.start = 0;
  wbuf.used = 0;
}
