// indgen_init.cpp: start and end of the runtime library: program identity,
// signal traps and the host byte-order check.
#include <cstdint>
#include <cstring>

#include "shared/indgen.h"
#include "shared/indgen_private.h"

const char *gen_progname = nullptr;
const char *gen_execname = nullptr;

namespace {

char *g_progname;   // owned storage behind gen_progname
char *g_execname;   // owned storage behind gen_execname
bool g_destructed;

// 1 little-endian, 2 big-endian, 0 neither.
int host_byte_order() {
  const uint32_t word = 0x01020304u;
  unsigned char bytes[4];
  std::memcpy(bytes, &word, 4);
  if (bytes[0] == 4 && bytes[1] == 3 && bytes[2] == 2 && bytes[3] == 1) return 1;
  if (bytes[0] == 1 && bytes[1] == 2 && bytes[2] == 3 && bytes[3] == 4) return 2;
  return 0;
}

}  // namespace

const char *gen_getprogname(void) { return gen_progname; }

void gen_setprogname(const char *name) {
  gen_free(g_progname);
  g_progname = gen_copy(name);
  gen_progname = g_progname;
}

void gen_init(const char *progpath, int flag, int viewpathing_mode) {
  gen_free(g_execname);
  g_execname = gen_copy(progpath);
  gen_execname = g_execname;
  char *name = gen_copy(progpath ? progpath : "");
  size_t len = std::strlen(name);
  while (len > 1 && name[len - 1] == '/') name[--len] = 0;
  gen_setprogname(gen_basename(name));
  gen_free(name);
  g_destructed = false;
  trapsetup();
  if (host_byte_order() == 0) gen_errorexit(1, "Could not determine host endianness");
}

void gen_destruct(void) {
  if (g_destructed) return;
  g_destructed = true;
  gen_cleanupconfigdirs();
  gen_forget_temp_dir();
  gen_private_forget_env_caches();
  gen_free(g_execname);
  g_execname = nullptr;
  gen_execname = nullptr;
  gen_setprogname(nullptr);
}
