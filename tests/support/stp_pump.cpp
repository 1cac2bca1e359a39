// Pump rounds: one short service call per live transport.
#include "stp_pump.h"

#include "shared/stp_transport/stp_transport.h"

namespace testsupport {

Pump::Pump(std::vector<STPTransport *> transports, int ms)
    : RetryHandler(kRetryMillisBase + ms), transports_(std::move(transports)), ms_(ms) {}

void Pump::idle() {
  ++rounds;
  if (onIdle) {
    auto f = std::move(onIdle);
    onIdle = nullptr;
    f();
  }
  for (STPTransport *t : transports_)
    if (!t->isDead()) t->serviceOnce(1, nullptr);
  if (eachRound) eachRound();
}

bool Pump::until(const std::function<bool()> &cond) {
  long long end = ut_getTimeMillis64() + ms_;
  while (!cond() && ut_getTimeMillis64() < end) idle();
  return cond();
}

}  // namespace testsupport
