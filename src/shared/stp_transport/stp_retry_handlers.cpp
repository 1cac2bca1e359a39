// STP retry handlers: servicing one transport while waiting, a time-out in
// milliseconds, and waiting by driving the idle notifier for one endpoint.
// One thread.
#include "shared/stp_transport/stp_retry_handlers.h"

#include <algorithm>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

// Rounds of a handler without a transport only pass a little time.
constexpr int kNoTransportSleepMs = 50;
constexpr int kServiceWaitMs = 10000;

int elapsedSince(int now, int then) {
  return static_cast<int>(static_cast<unsigned>(now) - static_cast<unsigned>(then));
}

TimeoutOption optionForMillis(int ms) {
  // Values above the base select exactly (value - base) ms; a time-out of 0
  // or less cannot be expressed that way and is handled by the caller.
  return ms > 0 ? kRetryMillisBase + ms : kRetryMillisBase + 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// STPRetryHandler

STPRetryHandler::STPRetryHandler() = default;

STPRetryHandler::STPRetryHandler(TimeoutOption option) : RetryHandler(option) {}

STPRetryHandler::STPRetryHandler(STPTransport *t) : transport(t) {}

STPRetryHandler::STPRetryHandler(STPTransport *t, TimeoutOption option)
    : RetryHandler(option), transport(t) {}

STPRetryHandler::~STPRetryHandler() = default;

void STPRetryHandler::idle() {
  if (transport)
    transport->serviceOnce(serviceWait(), nullptr);
  else
    gen_millisleep(kNoTransportSleepMs);
}

int STPRetryHandler::serviceWait() const {
  // Up to 10 s per round, but never past the point where retryOp() will
  // give up anyway, so that a short time-out is noticed on time.
  int wait = kServiceWaitMs;
  int now = ut_getTimeMillis();
  if (timeout >= 0 && startTime != -1) wait = std::min(wait, timeout - elapsedSince(now, startTime));
  int deadline = getMaxRunTime();
  if (timeout >= 0 && deadline != -1) wait = std::min(wait, -elapsedSince(now, deadline));
  return std::max(wait, 0);
}

bool STPRetryHandler::retryOp() {
  if (!RetryHandler::retryOp()) return false;
  return transport && !transport->isDead() && transport->getStat().code == kStatOk;
}

// ---------------------------------------------------------------------------
// TimeoutSTPRetryHandler

TimeoutSTPRetryHandler::TimeoutSTPRetryHandler(STPTransport *t, int timeoutMs)
    : STPRetryHandler(t, optionForMillis(timeoutMs)) {
  if (timeoutMs <= 0) timeout = 0;
}

TimeoutSTPRetryHandler::~TimeoutSTPRetryHandler() = default;

// ---------------------------------------------------------------------------
// IdleConnRetryHandler

IdleConnRetryHandler::IdleConnRetryHandler(STPSpecClass *conn, int timeoutMs, int idleWaitMs)
    : TimeoutSTPRetryHandler(conn ? conn->getTransport() : nullptr, timeoutMs),
      connection(conn),
      idleWait(idleWaitMs) {}

IdleConnRetryHandler::~IdleConnRetryHandler() = default;

void IdleConnRetryHandler::idle() {
  IdleNotifier *notifier = getIdleNotifier();
  if (!notifier) {
    // Only during exit, after the notifier was deleted.
    gen_millisleep(idleWait > 0 ? idleWait : kNoTransportSleepMs);
    return;
  }
  notifier->notifyIdle(false);
  notifier->notifyTimers();
  notifier->notifySocketActivity(idleWait, true);
}

bool IdleConnRetryHandler::retryOp() {
  if (!connection || connection->isDown()) return false;
  // The endpoint may have been moved to another transport meanwhile.
  transport = connection->getTransport();
  return STPRetryHandler::retryOp();
}

void IdleConnRetryHandler::completedOp() {}
