// RetryHandler base: time-out options, the condition list, the process-wide
// deadline and the millisecond clock. One thread.
#include "shared/libcxxutil/ut_retry_handler.h"

#include <sys/time.h>

#include <algorithm>
#include <climits>

namespace {

ut_clock_func clockOverride = nullptr;
int processDeadline = -1;
int defaultTimeoutMs = 15000;

long long wallClockMillis() {
  struct timeval tv;
  ::gettimeofday(&tv, nullptr);
  return static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

// Elapsed time between two readings of the wrapping 32-bit clock.
int elapsed(int now, int then) {
  return static_cast<int>(static_cast<unsigned>(now) - static_cast<unsigned>(then));
}

}  // namespace

long long ut_getTimeMillis64() { return clockOverride ? clockOverride() : wallClockMillis(); }

int ut_getTimeMillis() {
  // Keep the low 32 bits; the conversion wraps the same way on every host.
  return static_cast<int>(static_cast<unsigned>(ut_getTimeMillis64()));
}

void ut_setClockForTesting(ut_clock_func clock) { clockOverride = clock; }

int RetryHandler::timeoutForOption(TimeoutOption option) {
  if (option > kRetryMillisBase) return option - kRetryMillisBase;
  if (option >= 1) {
    // Large multiples would overflow an int; they mean "practically never".
    long long ms = static_cast<long long>(option) * 15000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
  }
  // -1 and the values that are not valid options both select the default.
  return defaultTimeoutMs;
}

RetryHandler::RetryHandler() = default;

RetryHandler::RetryHandler(TimeoutOption option) : timeout(timeoutForOption(option)) {}

RetryHandler::~RetryHandler() = default;

void RetryHandler::beginOp() {
  if (timeout >= 0) startTime = ut_getTimeMillis();
}

bool RetryHandler::retryOp() {
  // By index: a condition may remove itself (or another) while being asked.
  for (size_t i = 0; i < conditions.size(); ++i) {
    if (!conditions[i]->mayRetry()) return false;
  }
  if (timeout < 0) return true;
  int now = ut_getTimeMillis();
  if (processDeadline != -1 && elapsed(now, processDeadline) > 0) return false;
  return elapsed(now, startTime) < timeout;
}

void RetryHandler::completedOp() {}

void RetryHandler::addRetryCondition(RetryCondition *condition) { conditions.push_back(condition); }

bool RetryHandler::removeRetryCondition(RetryCondition *condition) {
  auto it = std::find(conditions.begin(), conditions.end(), condition);
  if (it == conditions.end()) return false;
  conditions.erase(it);
  return true;
}

void RetryHandler::setMaxRunTime(int deadline) { processDeadline = deadline; }

int RetryHandler::getMaxRunTime() { return processDeadline; }

bool RetryHandler::isTimeToDie() {
  return processDeadline != -1 && elapsed(ut_getTimeMillis(), processDeadline) > 0;
}

int RetryHandler::getDefaultTimeout() { return defaultTimeoutMs; }

void RetryHandler::setDefaultTimeout(int ms) { defaultTimeoutMs = ms; }
