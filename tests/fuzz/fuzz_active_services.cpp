// libFuzzer target for the active-services file as a client reads it: the
// input is the file of the zone "fuzz" in a private temporary folder (the
// folder the file lives in follows TMPDIR), and the client asks it for the
// router's port.
//
// Round trip: a port the client accepts is written by the router's own
// writer under another zone and must be read back unchanged.
#include <cstdlib>
#include <string>

#include "fuzz_files.h"
#include "fuzz_script.h"
#include "services/servicerouter_proxy/activeservices_manager.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzSilenceMessages();
  setenv("TMPDIR", fuzzScratchDir().c_str(), 1);
  gen_forget_temp_dir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  char *file = ActiveServices_Manager::getActiveServiceRouterFilename("fuzz");
  fuzzWriteFile(file, data, size);
  gen_free(file);
  int port = ActiveServices_Manager::getActiveServiceRouter_Port("fuzz", nullptr, nullptr);
  if (port == 0) return 0;
  ActiveServices_Manager written(port, "fuzz-written", nullptr, nullptr);
  fuzzCheck(written.wasWritten(), "router's write");
  fuzzCheck(ActiveServices_Manager::getActiveServiceRouter_Port("fuzz-written", nullptr, nullptr) ==
                port,
            "port written by the router read back");
  return 0;
}
