// Encode + decode throughput of a typical ASCII service message and a binary
// router message, the way the transport and generated code handle them: a
// new outgoing message, its fields, finishMessage, then a new incoming copy
// of the packet and a read of every field. Also counts allocations per
// message: `new` (message objects) and C allocations made by the message
// code (buffers and received strings; counted through linker wrapping).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <new>

#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"

namespace {
long g_news = 0;
long g_callocs = 0;
}  // namespace

extern "C" {
void *__real_malloc(size_t);
void *__real_calloc(size_t, size_t);
void *__real_realloc(void *, size_t);
void *__wrap_malloc(size_t n) {
  g_callocs++;
  return __real_malloc(n);
}
void *__wrap_calloc(size_t n, size_t w) {
  g_callocs++;
  return __real_calloc(n, w);
}
void *__wrap_realloc(void *p, size_t n) {
  g_callocs++;
  return __real_realloc(p, n);
}
}

void *operator new(size_t n) {
  g_news++;
  void *p = __real_malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
// The blocks come from the C allocator, so they go back to it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

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

void report(benchmark::State &state, long news, long callocs, int strings) {
  double iters = static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
  state.counters["news/msg"] = news / iters;
  // Received strings are heap copies by contract; the rest is buffers.
  state.counters["buffer_allocs/msg"] = callocs / iters - strings;
  state.counters["string_copies/msg"] = strings;
}

void BM_AsciiServiceMessage(benchmark::State &state) {
  long news = g_news, callocs = g_callocs;
  asciiRoundTrip(state);
  report(state, g_news - news, g_callocs - callocs, 3);
}

void BM_BinaryRouterMessage(benchmark::State &state) {
  long news = g_news, callocs = g_callocs;
  binaryRoundTrip(state);
  report(state, g_news - news, g_callocs - callocs, 4);
}

BENCHMARK(BM_AsciiServiceMessage);
BENCHMARK(BM_BinaryRouterMessage);

}  // namespace

BENCHMARK_MAIN();
