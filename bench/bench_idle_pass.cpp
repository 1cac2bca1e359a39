// The cost of one event-loop pass of the idle notifier with N socket
// listeners on pipes, one of which becomes readable on every pass (the
// shape of a router forwarding one packet per pass). Reports the time and
// the heap allocations per pass; the loop itself should allocate nothing
// once it has run a few passes.
#include <benchmark/benchmark.h>
#include <vector>

#include "bench_alloc_count.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_wake_pipe.h"

namespace {

void BM_IdlePass(benchmark::State &state) {
  std::vector<ut_WakePipe> listeners(static_cast<size_t>(state.range(0)));
  IdleNotifier *n = getIdleNotifier();
  ut_WakePipe &busy = listeners.back();
  for (int i = 0; i < 10; ++i) {  // let the notifier's lists grow
    busy.poke();
    n->notifySocketActivity(100, true);
  }
  long allocsBefore = benchAllocCounts().total();
  long readsBefore = busy.wakes();
  for (auto _ : state) {
    busy.poke();
    n->notifyIdle(false);
    n->notifyTimers();
    n->notifySocketActivity(100, true);
  }
  if (busy.wakes() - readsBefore != static_cast<long>(state.iterations())) {
    state.SkipWithError("a pass missed the readable pipe");
    return;
  }
  state.counters["allocs_per_pass"] =
      static_cast<double>(benchAllocCounts().total() - allocsBefore) /
      static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK(BM_IdlePass)->Arg(4)->Arg(100)->UseRealTime();

BENCHMARK_MAIN();
