// BroadcastConfig fan-out through the service router: one client broadcasts
// configuration lines, the configuration service passes each to every
// listener, and the listeners (10 or 100 connections, all in this process
// as they would share one router connection in one IDE process) count what
// arrives. Beside it in the same run, the same traffic as raw bytes: the
// broadcasts go through a raw TCP relay process to a fan-out process that
// answers each with one notification-sized packet per listener, back
// through the relay (the router's two hops, with nothing but copying).
//
//   FanOut/{config,raw}/N   batches of 100 broadcasts; items are deliveries
//                           (broadcasts x listeners), so items_per_second is
//                           deliveries per second.
//   LastListener/{config,raw}/N
//                           one broadcast at a time: the time until the last
//                           of the N listeners has it (median_us, p99_us).
//
// The run starts svc_router (by hand, not shared) with broadcast_test_host
// as the provider of the broadcast services (the modules svc_statemgr links;
// svc_statemgr itself ends as soon as only such connections are open),
// connects this process as a router client and stops the router at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_relay.h"
#include "configservice_client_impl.h"
#include "e2e/e2e_process.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

constexpr int kBatch = 100;
const char kLine[] = "Editor.TabWidth=4";
using Clock = std::chrono::steady_clock;

// ---- the service path ----

class CountingListener : public ConfigService_client_Impl {
 public:
  long long heard = 0;
  void msg_ReceiveEndBlockBroadcast() override {}
  void msg_ReceiveMessage(int, const char *) override {}
  void msg_ReceiveNotification(const char *) override { ++heard; }
  void msg_ReceiveStartBlockBroadcast() override {}
};

CountingListener *sender = nullptr;
std::vector<CountingListener *> listeners;  // the first N listen in a run

bool connectConfig(STPSpecClass *endpoint) {
  bool found = false, accepted = false;
  return servicerouter_proxy->getServiceConnection("BroadcastService.Config", endpoint, &found, &accepted,
                                                   nullptr, nullptr, false, false, false);
}

// Makes sure `n` listeners are registered (more are never dropped: each
// benchmark counts only the first n, and registers listeners in order).
bool ensureListeners(int n) {
  while (static_cast<int>(listeners.size()) < n) {
    auto *l = new CountingListener;
    ConfigService_STRING_ARRAY items;
    if (!connectConfig(l) || !l->send_ListenForConfigs(&items)) return false;
    ConfigService_STRING_ARRAY_free(&items);
    listeners.push_back(l);
  }
  return static_cast<int>(listeners.size()) == n;
}

// Services the router connection until every listener heard `target`.
bool awaitHeard(long long target) {
  STPTransport *t = servicerouter_proxy->getTransport();
  long long deadline = ut_getTimeMillis64() + 10000;
  for (;;) {
    bool all = true;
    for (CountingListener *l : listeners)
      if (l->heard < target) all = false;
    if (all) return true;
    if (ut_getTimeMillis64() > deadline) return false;
    TStat st;
    if (!t->serviceOnce(10, &st)) return false;
  }
}

// Starts a count: nothing is in flight between two rounds, so every
// listener's count starts again from 0.
void resetHeard() {
  for (CountingListener *l : listeners) l->heard = 0;
}

int notificationSize() {
  STPAsciiOMsg m(1, 2, STP_TYPE_ASCII, 0, 0, 10, 0, 1);
  m.putIdent("ReceiveNotification");
  m.putString("configLine", kLine);
  m.finishMessage(2);
  int hl = 0, bl = 0;
  m.getContent(&hl, &bl);
  return hl + bl;
}

int broadcastSize() {
  STPAsciiOMsg m(1, 2, STP_TYPE_ASCII, 0, 0, 2, 0, 1);
  m.putIdent("BroadcastConfig");
  m.putNumber("index", 7);
  m.putString("configLine", kLine);
  m.finishMessage(2);
  int hl = 0, bl = 0;
  m.getContent(&hl, &bl);
  return hl + bl;
}

// ---- the raw path: bench -> relay -> fan-out process -> relay -> bench ----

// Answers every whole request read with `fan-out` answers, written
// together; `cfg` is {request size, answer size, fan-out}.
void serveFanOut(int fd, const int cfg[3]) {
  std::vector<char> in(65536), out;
  long pending = 0;
  for (;;) {
    ssize_t r = ::read(fd, in.data(), in.size());
    if (r <= 0) break;
    pending += r;
    long requests = pending / cfg[0];
    pending %= cfg[0];
    out.assign(static_cast<size_t>(requests) * cfg[1] * cfg[2], 'n');
    if (!out.empty() && !benchWriteFull(fd, out.data(), static_cast<long>(out.size()))) break;
  }
}

int rawConnection(int fanOut) {
  int cfg[3] = {broadcastSize(), notificationSize(), fanOut};
  return benchRelayConnection(cfg);
}

// ---- benchmarks ----

void BM_FanOutConfig(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  if (!ensureListeners(n)) {
    state.SkipWithError("listeners could not connect");
    return;
  }
  for (auto _ : state) {
    resetHeard();
    for (int i = 0; i < kBatch; ++i) sender->send_BroadcastConfig(7, kLine, false);
    if (!awaitHeard(kBatch)) {
      state.SkipWithError("broadcasts did not arrive");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch * n);
}

void BM_FanOutRaw(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  int fd = rawConnection(n);
  if (fd < 0) {
    state.SkipWithError("relay connection failed");
    return;
  }
  std::vector<char> batch(static_cast<size_t>(broadcastSize()) * kBatch, 'b');
  std::vector<char> in(static_cast<size_t>(notificationSize()) * kBatch * n);
  for (auto _ : state) {
    if (!benchWriteFull(fd, batch.data(), static_cast<long>(batch.size())) ||
        !benchReadFull(fd, in.data(), static_cast<long>(in.size()))) {
      state.SkipWithError("relay batch failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch * n);
  ::close(fd);
}

void BM_LastListenerConfig(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  if (!ensureListeners(n)) {
    state.SkipWithError("listeners could not connect");
    return;
  }
  std::vector<double> us;
  for (auto _ : state) {
    resetHeard();
    auto t0 = Clock::now();
    if (!sender->send_BroadcastConfig(7, kLine, true) || !awaitHeard(1)) {
      state.SkipWithError("broadcast did not arrive");
      break;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  benchReportLatencies(state, us);
}

void BM_LastListenerRaw(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  int fd = rawConnection(n);
  if (fd < 0) {
    state.SkipWithError("relay connection failed");
    return;
  }
  std::vector<char> out(static_cast<size_t>(broadcastSize()), 'b');
  std::vector<char> in(static_cast<size_t>(notificationSize()) * n);
  std::vector<double> us;
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (!benchWriteFull(fd, out.data(), static_cast<long>(out.size())) ||
        !benchReadFull(fd, in.data(), static_cast<long>(in.size()))) {
      state.SkipWithError("relay round failed");
      break;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  benchReportLatencies(state, us);
  ::close(fd);
}

// Listener counts grow from 10 to 100 within each pair, so the service
// benchmarks run with exactly the listeners they name.
BENCHMARK(BM_FanOutRaw)->Arg(10)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FanOutConfig)->Arg(10)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_LastListenerRaw)->Arg(10)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_LastListenerConfig)->Arg(10)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FanOutRaw)->Arg(100)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FanOutConfig)->Arg(100)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_LastListenerRaw)->Arg(100)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_LastListenerConfig)->Arg(100)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  gen_init(argv[0], 0, 0);
  std::unique_ptr<E2ERouter> router = benchStartRouterClient(
      "bench_configservice", argv[0], "broadcast_test_host",
      {"BroadcastService.Config", "BroadcastService.File.Notify", "BroadcastService.File.Listen"});
  if (!router) return 1;
  // The sender does not listen: it only broadcasts.
  sender = new CountingListener;
  if (!connectConfig(sender)) {
    std::fprintf(stderr, "bench_configservice: no BroadcastService.Config connection\n");
    return 1;
  }
  benchStartRelay(serveFanOut);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  benchStopRelay();
  for (CountingListener *l : listeners) l->delRef();
  sender->delRef();
  ServiceRouter_Proxy::shutdown(false);
  router->stop();
  return 0;
}
