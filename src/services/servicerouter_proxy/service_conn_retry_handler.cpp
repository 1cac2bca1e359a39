// ServiceConnRetryHandler: STPRetryHandler that also watches one endpoint.
#include "services/servicerouter_proxy/service_conn_retry_handler.h"

#include "services/servicerouter_proxy/servicerouter_proxy.h"

namespace {

// The proxy's router transport when it is connected; never starts a
// connection.
STPTransport *routerTransportIfConnected() {
  ServiceRouter_Proxy *p = servicerouter_proxy;
  if (!p || !p->isConnected() || !p->isTransportAlive()) return nullptr;
  return p->getTransport();
}

}  // namespace

ServiceConnRetryHandler::ServiceConnRetryHandler(STPSpecClass *endpoint, TimeoutOption timeout)
    : STPRetryHandler(routerTransportIfConnected(), timeout), endpoint(endpoint) {}

ServiceConnRetryHandler::ServiceConnRetryHandler(STPSpecClass *endpoint, TimeoutOption timeout,
                                                 STPTransport *transport)
    : STPRetryHandler(transport, timeout), endpoint(endpoint) {}

ServiceConnRetryHandler::~ServiceConnRetryHandler() = default;

bool ServiceConnRetryHandler::retryOp() {
  if (endpoint && endpoint->isDown()) return false;
  return STPRetryHandler::retryOp();
}
