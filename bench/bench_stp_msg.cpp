// Encode + decode throughput of a typical ASCII service message and a binary
// router message, the way the transport and generated code handle them: a
// new outgoing message, its fields, finishMessage, then a new incoming copy
// of the packet and a read of every field. Also counts allocations per
// message: `new` (message objects) and C allocations made by the message
// code (buffers and received strings; counted through linker wrapping, see
// bench_alloc_count.h).
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench_alloc_count.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"

namespace {

// One WhiteBoard-style change: a record of group, name and value.
void asciiRoundTrip(benchmark::State &state) {
  for (auto _ : state) {
    auto *out = new STPAsciiOMsg(2, 1, STP_TYPE_ASCII, 3, 0, STP_FLAG_ASYNC, 0x00010002, 1);
    out->putIdent("ChangeStringValue");
    out->putStartStruct("info");
    out->putString("_group", "GeneralConfiguration");
    out->putString("_name", "editor.command");
    out->putString("_value", "xterm -e vi +%d \"%s\"");
    out->putEndStruct();
    out->finishMessage(7);
    int hl = 0, bl = 0;
    const unsigned char *bytes = out->getContent(&hl, &bl);
    auto *in = new STPIMsg(bytes, hl, bl);
    delete out;

    STPAsciiIMsg r(in);
    int len = 0;
    benchmark::DoNotOptimize(r.getIdent(&len));
    STPAsciiIMsgParamState st;
    r.getStartStruct(st, "info");
    char *g = r.getString("_group");
    char *n = r.getString("_name");
    char *v = r.getString("_value");
    r.getEndStruct(st);
    benchmark::DoNotOptimize(g);
    std::free(g);
    std::free(n);
    std::free(v);
    delete in;
  }
}

// A router event: service name, routing numbers, a flag and a short list.
void binaryRoundTrip(benchmark::State &state) {
  static const char *const kNames[3] = {"WhiteBoard", "MRUService", "FileRegistry"};
  for (auto _ : state) {
    auto *out = new STPBinaryOMsg(1, 2, STP_TYPE_BINARY, 5, 0, STP_FLAG_ASYNC, 0x00010002, 1);
    out->putS(12, "BroadcastService.Config");
    out->put4(7, 40);
    out->put4(9, 41);
    out->put1(14, 1);
    STPBinaryOMsgParamState st;
    out->putStartStruct(st, 10);
    out->put4(0, 3);
    out->put4(22, 3);
    for (const char *s : kNames) out->putS(23, s);
    out->putEndStruct(st);
    out->finishMessage(9);
    int hl = 0, bl = 0;
    const unsigned char *bytes = out->getContent(&hl, &bl);
    auto *in = new STPIMsg(bytes, hl, bl);
    delete out;

    STPBinaryIMsg r(in);
    char *service = r.getS(12);
    int local = r.get4(7);
    int remote = r.get4(9);
    bool found = r.get1(14) != 0;
    STPBinaryIMsgParamState rs;
    r.getStartStruct(rs, 10);
    int count = r.get4(0);
    int n = r.get4(22);
    char *names[3] = {};
    for (int i = 0; i < n && i < 3; i++) names[i] = r.getS(23);
    r.getEndStruct(rs);
    benchmark::DoNotOptimize(local + remote + found + count);
    std::free(service);
    for (char *s : names) std::free(s);
    delete in;
  }
}

// Allocations per message since `before`.
void report(benchmark::State &state, const BenchAllocCounts &before, int strings) {
  BenchAllocCounts now = benchAllocCounts();
  long news = now.news - before.news;
  long callocs = now.callocs - before.callocs;
  double iters = static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
  state.counters["news/msg"] = news / iters;
  // Received strings are heap copies by contract; the rest is buffers.
  state.counters["buffer_allocs/msg"] = callocs / iters - strings;
  state.counters["string_copies/msg"] = strings;
}

void BM_AsciiServiceMessage(benchmark::State &state) {
  BenchAllocCounts before = benchAllocCounts();
  asciiRoundTrip(state);
  report(state, before, 3);
}

void BM_BinaryRouterMessage(benchmark::State &state) {
  BenchAllocCounts before = benchAllocCounts();
  binaryRoundTrip(state);
  report(state, before, 4);
}

BENCHMARK(BM_AsciiServiceMessage);
BENCHMARK(BM_BinaryRouterMessage);

}  // namespace

BENCHMARK_MAIN();
