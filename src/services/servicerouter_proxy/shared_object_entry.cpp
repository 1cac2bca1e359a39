// The four entry points of a service library (see shared_object_service.h),
// built on SharedObject_Proxy. A service library is this file linked with
// the whole static library of one or more services: their globally
// registered factories are the services the library offers.
//
// The library keeps its own copy of the runtime, the STP code and the
// factory list; the host reaches it only through these functions and the
// loopback descriptions, so the two copies never share state. One thread.
#include "services/servicerouter_proxy/shared_object_proxy.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_specclass.h"

extern "C" {

__attribute__((visibility("default"))) int initializeService(
    const char *serviceName, int *hostStart, int *hostUsed, int *hostCapacity, char **hostData,
    STPHandleReadFunc hostTransportRead, int hostTransportCookie, int **libStart, int **libUsed,
    int **libCapacity, char ***libData, STPHandleReadFunc *libTransportRead,
    int *libTransportCookie, STPHandleReadFunc, int, const char *libraryPath) {
  // Messages of the library's runtime name the library.
  if (!gen_getprogname()) gen_setprogname(gen_basename(libraryPath ? libraryPath : "service"));
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

__attribute__((visibility("default"))) bool negotiate(int handle) {
  STPSpecClass *endpoint = SharedObject_Proxy::getConnectionForCookie(handle);
  if (!endpoint) return false;
  TStat st;
  return endpoint->sendNegotiate(true, nullptr, &st);
}

__attribute__((visibility("default"))) void shutdownService(int handle) {
  SharedObject_Proxy::shutdownConnection(handle);
}

__attribute__((visibility("default"))) void driveIdle(int handle) {
  SharedObject_Proxy::driveIdle(handle);
}

}  // extern "C"
