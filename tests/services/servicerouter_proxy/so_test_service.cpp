// A service library for the shared-object tests: it offers the service
// "Test.SharedObject" (the FileRegistry server role, keeping the added file
// names so that GetFiles returns them) through the four entry points, built
// on SharedObject_Proxy. Built twice: once complete and once, with
// SO_TEST_WITHOUT_DRIVEIDLE, without its "driveIdle" entry point.
//
// The library is loaded into the test program, whose exported symbols (the
// STP runtime, the factory list, SharedObject_Proxy) it uses.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fileregistry_server_impl.h"
#include "services/servicerouter_proxy/service_factory.h"
#include "services/servicerouter_proxy/shared_object_proxy.h"

namespace {

class SOFileRegistry : public FileRegistry_server_Impl {
 public:
  void msg_AddFile(const char *fileName, const char *) override {
    files.push_back(fileName ? fileName : "");
  }
  void msg_GetFiles(const char *, int *num, char ***out) override {
    *num = static_cast<int>(files.size());
    *out = static_cast<char **>(std::calloc(files.size() + 1, sizeof(char *)));
    for (size_t i = 0; i < files.size(); ++i) (*out)[i] = strdup(files[i].c_str());
  }
  void msg_RemoveFile(const char *, const char *) override {}

 private:
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

extern "C" {

int initializeService(const char *serviceName, int *hostStart, int *hostUsed, int *hostCapacity,
                      char **hostData, STPHandleReadFunc hostTransportRead,
                      int hostTransportCookie, int **libStart, int **libUsed, int **libCapacity,
                      char ***libData, STPHandleReadFunc *libTransportRead,
                      int *libTransportCookie, STPHandleReadFunc, int, const char *) {
  SharedObjectLoopbackInfo host;
  host.start = hostStart;
  host.used = hostUsed;
  host.capacity = hostCapacity;
  host.data = hostData;
  host.readFunc = hostTransportRead;
  host.readCookie = hostTransportCookie;
  SharedObjectLoopbackInfo own;
  int handle = SharedObject_Proxy::setupNewConnection(serviceName, host, &own);
  if (handle == -1) return -1;
  *libStart = own.start;
  *libUsed = own.used;
  *libCapacity = own.capacity;
  *libData = own.data;
  *libTransportRead = own.readFunc;
  *libTransportCookie = own.readCookie;
  return handle;
}

bool negotiate(int handle) {
  STPSpecClass *endpoint = SharedObject_Proxy::getConnectionForCookie(handle);
  if (!endpoint) return false;
  TStat st;
  return endpoint->sendNegotiate(true, nullptr, &st);
}

void shutdownService(int handle) { SharedObject_Proxy::shutdownConnection(handle); }

#ifndef SO_TEST_WITHOUT_DRIVEIDLE
void driveIdle(int handle) { SharedObject_Proxy::driveIdle(handle); }
#endif

}  // extern "C"
