// FileRegistry through the service router: the synchronous GetFiles round
// trip (client, router, state manager, router, client) with its median and
// 99th percentile, and one-way AddFile throughput from one client; each
// beside a raw TCP relay in the same run (client, relay process, sink
// process, relay, client, with packets of the same sizes), which is the
// floor of one forwarding hop on this machine. The round trips of both
// paths are taken in turns within one benchmark.
//
// The run starts svc_router (by hand, not shared) from KORVO_BIN_DIR or the
// benchmark's own folder with the test host e2e_windows_files_host as the
// provider of the service (the same FileRegistry library that svc_statemgr
// links; svc_statemgr itself would leave as soon as only FileRegistry
// connections are open), connects this process as a router client, and
// stops the router at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_relay.h"
#include "e2e/e2e_process.h"
#include "fileregistry_client_impl.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

FileRegistry_client_Impl *client = nullptr;
const char kType[] = "bench.type";
const char kFile[] = "/home/user/project/src/file.c";

// Wire size of a packet whose body `fill` writes.
template <class F>
int wireSize(F fill) {
  STPAsciiOMsg m(1, 2, STP_TYPE_ASCII, 0, 0, 2, 0, 1);
  fill(&m);
  m.finishMessage(2);
  int hl = 0, bl = 0;
  m.getContent(&hl, &bl);
  return hl + bl;
}

int getFilesRequestSize() {
  return wireSize([](STPAsciiOMsg *m) {
    m->putIdent("GetFiles");
    m->putString("type", kType);
  });
}
int getFilesReplySize() {
  return wireSize([](STPAsciiOMsg *m) {
    m->putNumber("num", 1);
    m->putStartArray("files", 1);
    m->putString(kFile);
    m->putEndArray();
  });
}
int addFileSize() {
  return wireSize([](STPAsciiOMsg *m) {
    m->putIdent("AddFile");
    m->putString("fileName", kFile);
    m->putString("type", kType);
  });
}

// ---- the raw relay ----

// The sink's answers: `cfg` is {request size, requests per answer, answer
// size}; every `per` requests get one answer.
void serveRequests(int fd, const int cfg[3]) {
  std::vector<char> req(cfg[0]), ans(cfg[2], 'a');
  for (long n = 1;; ++n) {
    if (!benchReadFull(fd, req.data(), cfg[0])) break;
    if (n % cfg[1] == 0 && !benchWriteFull(fd, ans.data(), cfg[2])) break;
  }
}

// A relay connection set up for requests of `req` bytes answered by `ans`
// bytes after every `per` requests; -1 on failure.
int relayConnection(int req, int per, int ans) {
  int cfg[3] = {req, per, ans};
  return benchRelayConnection(cfg);
}

using Clock = std::chrono::steady_clock;

// ---- benchmarks ----

// One GetFiles through the router: its time in microseconds, or -1 with the
// error in *why.
double getFilesOnce(std::string *why) {
  auto t0 = Clock::now();
  int num = 0;
  char **files = nullptr;
  TStat st;
  if (!client->send_GetFiles(kType, &num, &files, nullptr, &st) || num != 1) {
    *why = st.message[0] ? st.message : "GetFiles failed";
    return -1;
  }
  double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  free(files[0]);
  free(files);
  return us;
}

// The same sizes through the relay.
double relayOnce(int fd, std::vector<char> &out, std::vector<char> &in) {
  auto t0 = Clock::now();
  if (!benchWriteFull(fd, out.data(), static_cast<long>(out.size())) ||
      !benchReadFull(fd, in.data(), static_cast<long>(in.size())))
    return -1;
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

// GetFiles and the relay's round trip in turns (the first alternating), so
// that both meet the machine in the same state: median_us and p99_us are
// the service's, raw_median_us and raw_p99_us the relay's.
void BM_GetFilesRoundTrip(benchmark::State &state) {
  int req = getFilesRequestSize(), ans = getFilesReplySize();
  int fd = relayConnection(req, 1, ans);
  if (fd < 0) {
    state.SkipWithError("relay connection failed");
    return;
  }
  std::vector<char> out(req, 'r'), in(ans);
  std::vector<double> us[2];
  std::string why;
  long turn = 0;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) {
      int path = static_cast<int>((turn + k) % 2);
      double t = path == 0 ? getFilesOnce(&why) : relayOnce(fd, out, in);
      if (t < 0) {
        state.SkipWithError(path == 0 ? why.c_str() : "relay round trip failed");
        ::close(fd);
        return;
      }
      us[path].push_back(t);
    }
    ++turn;
  }
  ::close(fd);
  benchReportLatencies(state, us[0]);
  benchReportLatencies(state, us[1], "raw_");
  state.counters["request_bytes"] = req;
  state.counters["reply_bytes"] = ans;
}

constexpr int kBatch = 1000;

// kBatch queued AddFile messages, then one GetFiles that is answered only
// after all of them were handled (one connection keeps order).
void BM_AddFileOneWay(benchmark::State &state) {
  char names[16][64];
  for (int i = 0; i < 16; ++i) std::snprintf(names[i], sizeof names[i], "/home/user/src/f%02d.c", i);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) client->send_AddFile(names[i & 15], "bench.add", false);
    int num = 0;
    char **files = nullptr;
    TStat st;
    if (!client->send_GetFiles("bench.add", &num, &files, nullptr, &st) || num != 16) {
      state.SkipWithError("AddFile batch was not confirmed");
      break;
    }
    for (int i = 0; i < num; ++i) free(files[i]);
    free(files);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.counters["bytes"] = addFileSize();
}

// The same batches as raw bytes through the relay: kBatch packets written
// in one go, then one answer from the sink.
void BM_RawRelayOneWay(benchmark::State &state) {
  int size = addFileSize();
  int fd = relayConnection(size, kBatch, 8);
  if (fd < 0) {
    state.SkipWithError("relay connection failed");
    return;
  }
  std::vector<char> batch(static_cast<size_t>(size) * kBatch, 'p'), in(8);
  for (auto _ : state) {
    if (!benchWriteFull(fd, batch.data(), static_cast<int>(batch.size())) || !benchReadFull(fd, in.data(), 8)) {
      state.SkipWithError("relay batch failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  ::close(fd);
}

BENCHMARK(BM_GetFilesRoundTrip)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_RawRelayOneWay)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_AddFileOneWay)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  gen_init(argv[0], 0, 0);
  std::unique_ptr<E2ERouter> router = benchStartRouterClient(
      "bench_fileregistry", argv[0], "e2e_windows_files_host", {"TWL_WindowRegisterService", "FileRegistry"});
  if (!router) return 1;
  client = new FileRegistry_client_Impl;
  bool found = false, accepted = false;
  if (!servicerouter_proxy->getServiceConnection("FileRegistry", client, &found, &accepted, nullptr,
                                                 nullptr, false, false, false) ||
      !client->send_AddFile(kFile, kType, true)) {
    std::fprintf(stderr, "bench_fileregistry: no FileRegistry connection\n");
    return 1;
  }
  benchStartRelay(serveRequests);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  benchStopRelay();
  client->delRef();
  ServiceRouter_Proxy::shutdown(false);
  router->stop();
  return 0;
}
