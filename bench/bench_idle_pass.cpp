// The cost of one event-loop pass of the idle notifier with N socket
// listeners on pipes, one of which becomes readable on every pass (the
// shape of a router forwarding one packet per pass). Reports the time and
// the heap allocations per pass; the loop itself should allocate nothing
// once it has run a few passes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "bench_alloc_count.h"
#include "shared/libcxxutil/ut_idle_notifier.h"

namespace {

// The read end of a pipe; drains what arrives.
class PipeListener : public SocketListener {
 public:
  PipeListener() {
    if (::pipe(fds) != 0) fds[0] = fds[1] = -1;
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    getIdleNotifier()->addSocketListener(this);
  }
  ~PipeListener() override {
    getIdleNotifier()->removeSocketListener(this);
    ::close(fds[0]);
    ::close(fds[1]);
  }
  void poke() {
    char c = 1;
    if (::write(fds[1], &c, 1) != 1) reads = -1;
  }
  bool hasFD() override { return true; }
  int getFD() override { return fds[0]; }
  bool wantsToRead() override { return true; }
  bool wantsToWrite() override { return false; }
  bool wantsToDequeueAndDispatch() override { return false; }
  bool wantsToStop() override { return false; }
  void handleRead() override {
    char buf[16];
    if (::read(fds[0], buf, sizeof buf) > 0) ++reads;
  }
  void handleWrite() override {}
  void handleDequeueAndDispatch() override {}
  void handleStop() override {}
  long reads = 0;

 private:
  int fds[2] = {-1, -1};
};

void BM_IdlePass(benchmark::State &state) {
  std::vector<PipeListener> listeners(static_cast<size_t>(state.range(0)));
  IdleNotifier *n = getIdleNotifier();
  PipeListener &busy = listeners.back();
  for (int i = 0; i < 10; ++i) {  // let the notifier's lists grow
    busy.poke();
    n->notifySocketActivity(100, true);
  }
  long allocsBefore = benchAllocCounts().total();
  long readsBefore = busy.reads;
  for (auto _ : state) {
    busy.poke();
    n->notifyIdle(false);
    n->notifyTimers();
    n->notifySocketActivity(100, true);
  }
  if (busy.reads - readsBefore != static_cast<long>(state.iterations())) {
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
