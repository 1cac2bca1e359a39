// bench_options_db: read and write of an options database holding N
// attributes in N/100 groups (10,000 in 100 groups is the size a large
// WhiteBoard group file could reach), and one group holding all N, to show
// that the cost grows linearly with the size of the file. Attributes mix
// integers, strings with characters that need escapes, and string lists.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <string>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

std::string scratch(const char *name) {
  const char *base = std::getenv("TMPDIR");
  return std::string(base && *base ? base : "/tmp") + "/bench_options_db_" + std::to_string(getpid()) + "_" + name;
}

// Fills `db` with `count` attributes spread over `groups` children.
void fill(ut_options_database &db, int count, int groups) {
  for (int g = 0; g < groups; ++g) {
    ut_attribute_tree *t = db.add_child_tree(("group " + std::to_string(g)).c_str());
    for (int i = g; i < count; i += groups) {
      std::string key = "value" + std::to_string(i);
      switch (i % 3) {
        case 0: t->add_int32_attribute(key.c_str(), i * 7); break;
        case 1: t->add_str_attribute(key.c_str(), ("path/to/\"file\" " + std::to_string(i)).c_str()); break;
        default:
          t->add_str_list_attribute(key.c_str(), "first");
          t->append_str_list_attribute(key.c_str(), "second \\ item");
      }
    }
  }
}

std::string make_file(int count, int groups) {
  std::string file = scratch(("db" + std::to_string(count) + "_" + std::to_string(groups)).c_str());
  ut_options_database db("bench");
  fill(db, count, groups);
  if (!db.write_to_file_name(file.c_str())) std::abort();
  return file;
}

void BM_Read(benchmark::State &state) {
  int count = static_cast<int>(state.range(0));
  int groups = static_cast<int>(state.range(1));
  std::string file = make_file(count, groups);
  for (auto _ : state) {
    ut_options_database db("bench");
    if (!db.read_from_file_name(file.c_str())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(db.get_first_child());
  }
  state.counters["attributes/s"] = benchmark::Counter(static_cast<double>(count) * state.iterations(),
                                                      benchmark::Counter::kIsRate);
  unlink(file.c_str());
}

void BM_Write(benchmark::State &state) {
  int count = static_cast<int>(state.range(0));
  int groups = static_cast<int>(state.range(1));
  std::string file = scratch("write");
  ut_options_database db("bench");
  fill(db, count, groups);
  for (auto _ : state)
    if (!db.write_to_file_name(file.c_str())) state.SkipWithError("write failed");
  state.counters["attributes/s"] = benchmark::Counter(static_cast<double>(count) * state.iterations(),
                                                      benchmark::Counter::kIsRate);
  unlink(file.c_str());
}

// {attributes, groups}: the target size, half and double of it, and all
// attributes in a single group.
BENCHMARK(BM_Read)->Args({5000, 50})->Args({10000, 100})->Args({20000, 200})->Args({10000, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write)->Args({10000, 100})->Args({20000, 200})->Args({10000, 1})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
