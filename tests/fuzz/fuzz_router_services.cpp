// libFuzzer target for the services file of svc_router: the input is the
// file, read in a private folder as "svc_router -services FILE" reads it.
//
// Checks on what was read: every program kept has a name and at least one
// service, no name is empty, and the look-ups find each program by its
// name and a provider for each service it lists.
#include <string>

#include "fuzz_files.h"
#include "fuzz_script.h"
#include "services/router/router_services_file.h"

namespace {

bool consistent(const Router_ServicesFile &file) {
  for (const Router_Program &p : file.programs()) {
    if (p.name.empty() || p.services.empty() || !file.program(p.name)) return false;
    for (const std::string &a : p.args)
      if (a.empty()) return false;
    for (const std::string &s : p.services) {
      const Router_Program *provider = s.empty() ? nullptr : file.providerOf(s);
      if (!provider) return false;
      bool lists = false;
      for (const std::string &t : provider->services) lists = lists || t == s;
      if (!lists) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzSilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = fuzzScratchPath("services.cfg");
  fuzzWriteFile(path, data, size);
  Router_ServicesFile file;
  std::string error;
  if (file.read(path.c_str(), &error)) fuzzCheck(consistent(file), "programs as read");
  else fuzzCheck(!error.empty() && file.programs().empty(), "failed read");
  return 0;
}
