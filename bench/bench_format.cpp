// bench_format: gen_asprintf against the C library's vasprintf on typical
// log and protocol formats. Each case formats one line into a new heap
// string and frees it.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"

namespace {

char *libc_asprintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *s = nullptr;
  if (vasprintf(&s, format, args) < 0) s = nullptr;
  va_end(args);
  return s;
}

// Runs one format with the same arguments through both engines.
#define FORMAT_CASE(name, ...)                                  \
  void BM_gen_##name(benchmark::State &state) {                 \
    for (auto _ : state) {                                      \
      char *s = gen_asprintf(__VA_ARGS__);                      \
      benchmark::DoNotOptimize(s);                              \
      gen_free(s);                                              \
    }                                                           \
  }                                                             \
  void BM_libc_##name(benchmark::State &state) {                \
    for (auto _ : state) {                                      \
      char *s = libc_asprintf(__VA_ARGS__);                     \
      benchmark::DoNotOptimize(s);                              \
      std::free(s);                                             \
    }                                                           \
  }                                                             \
  BENCHMARK(BM_gen_##name);                                     \
  BENCHMARK(BM_libc_##name)

FORMAT_CASE(send_line, "SEND: %s(%d) -> %d", "ChangeStringValue", 12, 3);
FORMAT_CASE(error_line, "%s: error: [%s]: %s", "svc_statemgr", "CreateWindow",
            "could not find window");
FORMAT_CASE(numbers_line, "rn %d/%d serial %u flags %x len %d from %s", 2, 1, 40961u, 0x1au, 184,
            "127.0.0.1");
FORMAT_CASE(padded_ints, "%08x %-6d|%+5d %lld", 0xbeefu, -42, 7, 1234567890123LL);
FORMAT_CASE(long_string, "value=%s", "a somewhat longer configuration value string that a "
                                     "WhiteBoard client could send in one message body");
FORMAT_CASE(timestamp, "%lld.%.3u: RECV: %s", 1718000000LL, 42u, "SetStringValue");
FORMAT_CASE(float_fixed, "%.3f %g", 3.14159265, 0.000125);

}  // namespace

BENCHMARK_MAIN();
