// ServiceConnRetryHandler: the retry handler for waits that concern one
// service connection. It waits like an STPRetryHandler on the router
// transport (or on a given transport) and gives up as soon as the
// connection's endpoint is marked down, so a wait for a dead service ends
// at once instead of at its time-out. One thread.
#pragma once

#include "shared/stp_transport/stp_retry_handlers.h"

class STPSpecClass;
class STPTransport;

class ServiceConnRetryHandler : public STPRetryHandler {
 public:
  // Waits on the router transport of the process's proxy (none when the
  // proxy is not connected: then every wait ends after its first round).
  // `endpoint` is not owned or referenced and must outlive the handler's
  // use; `timeout` selects the time-out (see TimeoutOption).
  ServiceConnRetryHandler(STPSpecClass *endpoint, TimeoutOption timeout);
  // The same on `transport` (not owned).
  ServiceConnRetryHandler(STPSpecClass *endpoint, TimeoutOption timeout, STPTransport *transport);
  ~ServiceConnRetryHandler() override;

  // False once the endpoint is marked down, else the STPRetryHandler rule.
  bool retryOp() override;

  STPSpecClass *getEndpoint() const { return endpoint; }

 private:
  STPSpecClass *endpoint;  // not owned
};
