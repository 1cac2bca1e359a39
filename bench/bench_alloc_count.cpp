// Counting replacements of the allocation functions for benchmark programs:
// operator new takes its blocks straight from the real malloc (so a `new`
// is counted once, as a new), operator delete gives them back to free, and
// the wrapped C allocation functions count and pass on. Needs the linker
// options -Wl,--wrap=malloc,--wrap=calloc,--wrap=realloc. One thread.
#include "bench_alloc_count.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
BenchAllocCounts g_counts;
}  // namespace

BenchAllocCounts benchAllocCounts() { return g_counts; }

extern "C" {
void *__real_malloc(size_t);
void *__real_calloc(size_t, size_t);
void *__real_realloc(void *, size_t);
void *__wrap_malloc(size_t n) {
  g_counts.callocs++;
  return __real_malloc(n);
}
void *__wrap_calloc(size_t n, size_t w) {
  g_counts.callocs++;
  return __real_calloc(n, w);
}
void *__wrap_realloc(void *p, size_t n) {
  g_counts.callocs++;
  return __real_realloc(p, n);
}
}

void *operator new(size_t n) {
  g_counts.news++;
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
