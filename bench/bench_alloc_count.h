// Allocation counting for benchmark programs. Linking bench_alloc_count.cpp
// replaces the global operator new and delete and, with the linker wrapping
// of malloc, calloc and realloc that korvo_add_bench(... COUNT_ALLOCATIONS)
// sets up, counts every allocation the program makes, including the C
// allocations inside statically linked project libraries. One thread.
#pragma once

// Allocations made so far by this process.
struct BenchAllocCounts {
  long news = 0;     // calls of operator new (message and other objects)
  long callocs = 0;  // malloc, calloc and realloc calls (buffers, strings)
  long total() const { return news + callocs; }
};

// The counts so far; subtract two snapshots to count a stretch of work.
BenchAllocCounts benchAllocCounts();
