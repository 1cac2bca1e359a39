// ut_string against std::string: building a text by appending, and copying a
// value (a shared reference for ut_string, a deep copy for std::string).
#include <benchmark/benchmark.h>

#include <string>

#include "shared/libcxxutil/ut_string.h"

namespace {

const char kWord[] = "token ";

void BM_UtStringAppendChar(benchmark::State &state) {
  for (auto _ : state) {
    ut_string s;
    for (int64_t i = 0; i < state.range(0); ++i) s.append(static_cast<char>('a' + i % 26));
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_StdStringAppendChar(benchmark::State &state) {
  for (auto _ : state) {
    std::string s;
    for (int64_t i = 0; i < state.range(0); ++i) s += static_cast<char>('a' + i % 26);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UtStringAppendWord(benchmark::State &state) {
  for (auto _ : state) {
    ut_string s;
    for (int64_t i = 0; i < state.range(0); ++i) s.append(kWord);
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_StdStringAppendWord(benchmark::State &state) {
  for (auto _ : state) {
    std::string s;
    for (int64_t i = 0; i < state.range(0); ++i) s += kWord;
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UtStringCopy(benchmark::State &state) {
  ut_string source(std::string(state.range(0), 'x').c_str());
  for (auto _ : state) {
    ut_string copy(source);
    benchmark::DoNotOptimize(copy.c_str());
  }
}

void BM_StdStringCopy(benchmark::State &state) {
  std::string source(state.range(0), 'x');
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
}

// Copy, then modify the copy: the cost copy-on-write defers to the write.
void BM_UtStringCopyThenAppend(benchmark::State &state) {
  ut_string source(std::string(state.range(0), 'x').c_str());
  for (auto _ : state) {
    ut_string copy(source);
    copy.append('!');
    benchmark::DoNotOptimize(copy.c_str());
  }
}

void BM_StdStringCopyThenAppend(benchmark::State &state) {
  std::string source(state.range(0), 'x');
  for (auto _ : state) {
    std::string copy(source);
    copy += '!';
    benchmark::DoNotOptimize(copy.data());
  }
}

}  // namespace

BENCHMARK(BM_UtStringAppendChar)->Arg(16)->Arg(1024)->Arg(65536);
BENCHMARK(BM_StdStringAppendChar)->Arg(16)->Arg(1024)->Arg(65536);
BENCHMARK(BM_UtStringAppendWord)->Arg(16)->Arg(1024)->Arg(65536);
BENCHMARK(BM_StdStringAppendWord)->Arg(16)->Arg(1024)->Arg(65536);
BENCHMARK(BM_UtStringCopy)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_StdStringCopy)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_UtStringCopyThenAppend)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_StdStringCopyThenAppend)->Arg(8)->Arg(64)->Arg(4096);

BENCHMARK_MAIN();
