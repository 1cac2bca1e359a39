// Router_Transport: the STP transport of one plugin link, with the two
// clean-up operations the router needs that a plain transport does not
// offer: dropping received messages that no endpoint took (a plugin must
// not be able to fill the router's memory with them) and forgetting queued
// output (the discard sink that packets for unknown RNs are forwarded to).
//
// Reference counted like every transport (delRef to 0 deletes). One thread.
#pragma once

#include "shared/stp_transport/stp_transport.h"

class Router_Transport : public STPTransport {
 public:
  Router_Transport() : STPTransport(32768) {}

  // Deletes every received message that is waiting without a taker (replies
  // nobody awaits, messages for no listener). Returns how many there were;
  // *forRouter (may be null) is set when one of them was addressed to the
  // router's own RN.
  int discardStrays(bool *forRouter);
  // Forgets every byte queued for writing.
  void discardOutput();

 protected:
  ~Router_Transport() override = default;
};
