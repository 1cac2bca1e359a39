// LoggedPair: the support library's EndpointPair of two generated endpoints,
// negotiated, with each side's send and receive protocol logs kept as
// StringLogs so tests compare log entries exactly.
#pragma once

#include "support/stp_endpoint_pair.h"
#include "tools/string_log.h"

template <class A, class B>
struct LoggedPair : testsupport::EndpointPair<A, B> {
  StringLog aSend, aRecv, bSend, bRecv;
  bool negotiated = false;
  LoggedPair() {
    this->a->setSendLogging(&aSend);
    this->a->setRecvLogging(&aRecv);
    this->b->setSendLogging(&bSend);
    this->b->setRecvLogging(&bRecv);
    negotiated = this->negotiate();
  }
  void clearLogs() {
    for (StringLog *l : {&aSend, &aRecv, &bSend, &bRecv}) l->clear();
  }
};
