// twl_shlib.cpp: thin wrappers over the dynamic loader, used for services
// delivered as shared objects.
#include <dlfcn.h>

#include "shared/indgen.h"

void *twl_open_shared_library(const char *file, int flags) { return dlopen(file, flags); }

void *twl_get_shared_library_func_ptr(void *handle, const char *symbol) {
  if (!symbol) return nullptr;
  return dlsym(handle, symbol);
}

void *twl_must_get_shared_library_func_ptr(void *handle, const char *symbol) {
  void *p = twl_get_shared_library_func_ptr(handle, symbol);
  if (!p) gen_error("Could not resolve \"%s\"", symbol);
  return p;
}

const char *twl_last_shared_library_error(void) { return dlerror(); }

int twl_close_shared_library(void *handle) { return handle ? dlclose(handle) : -1; }
