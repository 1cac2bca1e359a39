// STP retry handlers: the RetryHandler policies used with transports.
//
// STPRetryHandler passes the waiting time by servicing one transport
// (serviceOnce(10000)) and gives up as soon as that transport is dead or
// reports an error. TimeoutSTPRetryHandler is the same with a time-out in
// milliseconds. IdleConnRetryHandler waits by running one pass of the
// process's idle notifier, so every socket of the process is served while a
// caller waits, and gives up when the connection it watches is marked down.
// None of them owns the transport or endpoint it refers to. One thread.
#pragma once

#include "shared/libcxxutil/ut_retry_handler.h"

class STPTransport;
class STPSpecClass;

class STPRetryHandler : public RetryHandler {
 public:
  // Without a transport a wait ends after its first round: idle() only
  // sleeps 50 ms and retryOp() is false.
  STPRetryHandler();
  explicit STPRetryHandler(TimeoutOption option);
  // `transport` is not owned and must outlive the handler's use.
  explicit STPRetryHandler(STPTransport *transport);
  STPRetryHandler(STPTransport *transport, TimeoutOption option);
  ~STPRetryHandler() override;

  // serviceOnce on the transport, waiting up to 10 s but not beyond this
  // handler's time-out or the process deadline; without a transport, sleep
  // 50 ms.
  void idle() override;
  // The base decision, and in addition: a transport is present, it is not
  // dead and its status code is 0.
  bool retryOp() override;

  STPTransport *getTransport() const { return transport; }
  void setTransport(STPTransport *t) { transport = t; }

 protected:
  STPTransport *transport = nullptr;  // not owned
  // Milliseconds the next idle() round may wait.
  int serviceWait() const;
};

// An STPRetryHandler with a time-out of exactly `timeoutMs` milliseconds
// (option timeoutMs + 1000000). A time-out of 0 or less gives up at the
// first retryOp().
class TimeoutSTPRetryHandler : public STPRetryHandler {
 public:
  TimeoutSTPRetryHandler(STPTransport *transport, int timeoutMs);
  ~TimeoutSTPRetryHandler() override;
};

// Waits by driving the process's idle notifier, for one connection: each
// idle() runs one loop pass (idlers with only-safe false, due timers, one
// socket wait of at most `idleWaitMs`, handled). retryOp() is false once
// the connection is marked down, otherwise the STPRetryHandler decision on
// the connection's current transport. The endpoint is not owned and not
// referenced; it must outlive the handler's use.
class IdleConnRetryHandler : public TimeoutSTPRetryHandler {
 public:
  IdleConnRetryHandler(STPSpecClass *connection, int timeoutMs, int idleWaitMs);
  ~IdleConnRetryHandler() override;

  void idle() override;
  bool retryOp() override;
  void completedOp() override;

  STPSpecClass *getConnection() const { return connection; }
  int getIdleWait() const { return idleWait; }

 private:
  STPSpecClass *connection;  // not owned
  int idleWait;
};
