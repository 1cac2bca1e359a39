// indgen_memory.cpp: the allocator hooks and the library's allocation
// functions. Running out of memory is fatal (status 3).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "shared/indgen.h"
#include "shared/indgen_private.h"

gen_calloc_func gen_calloc_hook = std::calloc;
gen_realloc_func gen_realloc_hook = std::realloc;

void gen_outofmemory(void) {
  if (gen_progname && *gen_progname) {
    gen_private_write_stderr(gen_progname);
    gen_private_write_stderr(": ");
  }
  gen_private_write_stderr("fatal: Out of memory\n");
  gen_exit(3);
  _exit(3);
}

void *gen_calloc(size_t count, size_t size) {
  if (count == 0 || size == 0) count = size = 1;
  if (count > SIZE_MAX / size) gen_outofmemory();
  void *p = gen_calloc_hook(count, size);
  if (!p) gen_outofmemory();
  return p;
}

void *gen_allocate(void *pointer, size_t count, size_t size) {
  if (!pointer) return gen_calloc(count, size);
  if (count == 0 || size == 0) count = size = 1;
  if (count > SIZE_MAX / size) gen_outofmemory();
  void *p = gen_realloc_hook(pointer, count * size);
  if (!p) gen_outofmemory();
  return p;
}

void gen_free(void *pointer) {
  if (pointer) std::free(pointer);
}

void *gen_structcopy(const void *pointer, size_t size) {
  if (!pointer) return nullptr;
  void *p = gen_calloc(1, size);
  std::memcpy(p, pointer, size);
  return p;
}
