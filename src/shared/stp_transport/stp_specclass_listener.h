// STPSpecClass_HandleMessages: the transport listener of one endpoint. The
// transport calls it for every packet addressed to the endpoint's
// routing-number pair (types 12 to 15); it forwards to the endpoint's
// classification and receive path, and keeps the endpoint referenced while
// the transport defers messages for it. The endpoint owns it; deleting it
// unregisters it from the endpoint's transport. One thread.
#pragma once

#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"

class STPSpecClass_HandleMessages : public ResponseListener {
 public:
  // endpoint is not referenced: the endpoint deletes this listener before
  // it goes away.
  explicit STPSpecClass_HandleMessages(STPSpecClass *endpoint) : endpoint(endpoint) {}
  ~STPSpecClass_HandleMessages() override;
  STPSpecClass_HandleMessages(const STPSpecClass_HandleMessages &) = delete;
  STPSpecClass_HandleMessages &operator=(const STPSpecClass_HandleMessages &) = delete;

  // The endpoint's classifyMessage(msg).
  void classify(STPIMsg *msg) override;
  // The endpoint's handleMessage(msg, type, id, flag).
  void handleResponse(STPIMsg *msg, bool flag) override;
  // A reference on the endpoint while messages for it are deferred.
  void retain() override;
  void release() override;

 private:
  STPSpecClass *endpoint;
};
