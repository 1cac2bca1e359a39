// One plugin link: socket readiness and the closing states.
#include "services/router/router_plugin.h"

#include "services/router/router_core.h"
#include "services/router/router_endpoint.h"
#include "services/router/router_rn_table.h"
#include "services/router/router_transport.h"

Router_Plugin::Router_Plugin(Router_Core *c, int pluginId, Router_Transport *t, long long now)
    : connectedAt(now), lastInputAt(now), core(c), id(pluginId), transport(t) {
  endpoint = new Router_Endpoint(core, id);
  endpoint->setTransport(transport, kRouterOwnRN, kPluginLinkRN);
}

// Closing the socket also takes it out of the loop's poller.
Router_Plugin::~Router_Plugin() {
  transport->setForwardingHandler(nullptr);
  transport->closeConnection(nullptr);
  endpoint->markAsDown();
  endpoint->setTransport(nullptr);
  endpoint->delRef();
  transport->delRef();
}

void Router_Plugin::startClosing(const std::string &why, long long deadline) {
  if (closing) return;
  closing = true;
  reason = why;
  flushDeadline = deadline;
}

bool Router_Plugin::readyForRemoval(long long now) const {
  if (!closing) return false;
  if (flushDeadline == 0 || transport->isDead()) return true;
  return !transport->dataInWriteBuffer() || now >= flushDeadline;
}

int Router_Plugin::linkFD() const { return transport->isBound() ? transport->getFD() : -1; }

bool Router_Plugin::wantsToRead() const {
  return !closing && transport->isBound() && !core->readingPaused(this);
}

bool Router_Plugin::wantsToWrite() const {
  // A plugin closed without flushing gets nothing more.
  return (!closing || flushDeadline != 0) && transport->wantsToWrite();
}

bool Router_Plugin::wantsToDequeueAndDispatch() const {
  return !closing && !core->readingPaused(this) && transport->wantsToDequeueAndDispatch();
}
