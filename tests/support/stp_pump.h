// Pump: a retry handler that services a set of transports each round, so one
// thread can play both ends of a connection (send a request on one side,
// answer it on the other) with every wait bounded by a time-out.
#pragma once

#include <functional>
#include <vector>

#include "shared/libcxxutil/ut_retry_handler.h"

class STPTransport;

namespace testsupport {

class Pump : public RetryHandler {
 public:
  // Services `transports` (those not dead) once per round; waits that use
  // this handler give up after `ms` milliseconds.
  explicit Pump(std::vector<STPTransport *> transports = {}, int ms = 3000);

  // Adds a transport to the serviced set.
  void add(STPTransport *t) { transports_.push_back(t); }
  // Runs once, at the start of the next round ("while a caller waits").
  std::function<void()> onIdle;
  // Runs at the end of every round, after the transports were serviced
  // (e.g. a scripted peer that answers what arrived).
  std::function<void()> eachRound;
  // Rounds run so far.
  int rounds = 0;

  void idle() override;
  // Runs rounds until cond() holds or the time-out passed; returns cond().
  bool until(const std::function<bool()> &cond);

 private:
  std::vector<STPTransport *> transports_;
  int ms_;
};

}  // namespace testsupport
