// A FileRegistry service for the router-client tests: it keeps the added
// file names (GetFiles returns them), made by a factory of any name.
#pragma once

#include <string>
#include <vector>

#include "fileregistry_server_impl.h"
#include "services/servicerouter_proxy/service_factory.h"
#include "shared/gen_holder.h"

namespace srtest {

class TestService : public FileRegistry_server_Impl {
 public:
  std::vector<std::string> added;
  void msg_AddFile(const char *f, const char *) override { added.push_back(f ? f : ""); }
  void msg_GetFiles(const char *, int *num, char ***files) override {
    *num = static_cast<int>(added.size());
    *files = gen_copy_string_array(added);
  }
  void msg_RemoveFile(const char *, const char *) override {}
};

class TestFactory : public ServiceFactory {
 public:
  explicit TestFactory(const char *name) : ServiceFactory(name, -1, true) {}
  STPSpecClass *getService(STPTransport *t, int localRN, int remoteRN) override {
    TestService *s = new TestService();
    s->setTransport(t, localRN, remoteRN);
    return s;
  }
};

}  // namespace srtest
