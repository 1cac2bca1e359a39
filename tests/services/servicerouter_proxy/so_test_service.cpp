// The service of a test service library: "Test.SharedObject" (the
// FileRegistry server role, keeping the added file names so that GetFiles
// returns them). The library's entry points are shared_object_entry.cpp;
// loaded into the test program, it uses that program's symbols (the STP
// runtime, the factory list, SharedObject_Proxy) instead of copies.
#include <string>
#include <vector>

#include "fileregistry_server_impl.h"
#include "services/servicerouter_proxy/service_factory.h"
#include "shared/gen_holder.h"

namespace {

class SOFileRegistry : public FileRegistry_server_Impl {
 public:
  void msg_AddFile(const char *fileName, const char *) override { files.push_back(fileName ? fileName : ""); }
  void msg_GetFiles(const char *, int *num, char ***out) override {
    *num = static_cast<int>(files.size());
    *out = gen_copy_string_array(files);
  }
  void msg_RemoveFile(const char *, const char *) override {}
  std::vector<std::string> files;
};

class SOFactory : public ServiceFactory {
 public:
  SOFactory() : ServiceFactory("Test.SharedObject", -1, true) {}
  STPSpecClass *getService(STPTransport *transport, int localRN, int remoteRN) override {
    SOFileRegistry *s = new SOFileRegistry;
    s->setTransport(transport, localRN, remoteRN);
    return s;
  }
};

SOFactory g_factory;

}  // namespace
