// SharedObjectConnection: loading a service library and connecting an
// endpoint to its service over a loopback transport pair.
#include "services/servicerouter_proxy/shared_object_connection.h"

#include <dlfcn.h>

#include <map>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_retry_handlers.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

// Cookie to connection, created on first use and freed when it empties, so
// that nothing depends on the order of static destruction.
std::map<int, SharedObjectConnection *> *shared_object_connection_map = nullptr;
int g_lastCookie = 0;

void enterConnection(int cookie, SharedObjectConnection *connection) {
  if (!shared_object_connection_map)
    shared_object_connection_map = new std::map<int, SharedObjectConnection *>;
  (*shared_object_connection_map)[cookie] = connection;
}

void leaveConnection(int cookie) {
  if (!shared_object_connection_map) return;
  shared_object_connection_map->erase(cookie);
  if (shared_object_connection_map->empty()) {
    delete shared_object_connection_map;
    shared_object_connection_map = nullptr;
  }
}

}  // namespace

void deleteSharedObjectConnection(SharedObjectConnection *connection) { delete connection; }

SharedObjectConnection *SharedObjectConnection::getConnectionForCookie(int cookie) {
  if (!shared_object_connection_map) return nullptr;
  auto it = shared_object_connection_map->find(cookie);
  return it != shared_object_connection_map->end() ? it->second : nullptr;
}

bool SharedObjectConnection::handleClientTransportRead(int cookie) {
  SharedObjectConnection *c = getConnectionForCookie(cookie);
  if (!c) return false;
  if (c->transport && c->transport->wantsToRead()) c->transport->handleRead(nullptr);
  return true;
}

SharedObjectConnection::~SharedObjectConnection() {
  // Stop reading the library's buffers before the library releases them.
  TStat st;
  if (transport) transport->closeConnection(&st);
  if (libHandle != -1 && shutdownService) shutdownService(libHandle);
  if (registered) leaveConnection(cookie);
  gen_free(path);
  if (library) twl_close_shared_library(library);
  if (endpoint) endpoint->delRef();
  if (transport) transport->delRef();
}

bool SharedObjectConnection::openLibrary(const char *libraryPath) {
  if (!libraryPath || !*libraryPath) return false;
  // Entry points are resolved at once so that a library with missing
  // symbols fails here instead of in the middle of a call. A library stays
  // loaded once opened: it keeps process-wide state of its own (its idle
  // notifier, factory list, transport map) that outlives one connection,
  // and unloading it under that state would strand it.
  const int mode = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
  library = twl_open_shared_library(libraryPath, mode);
  if (library) {
    path = gen_copy(libraryPath);
    return true;
  }
  char *withSuffix = gen_concat(libraryPath, ".so");
  library = twl_open_shared_library(withSuffix, mode);
  if (library) {
    path = withSuffix;
    return true;
  }
  gen_free(withSuffix);
  return false;
}

bool SharedObjectConnection::findEntryPoints() {
  initializeService = reinterpret_cast<SharedObject_InitializeServiceFunc>(
      twl_get_shared_library_func_ptr(library, "initializeService"));
  if (!initializeService) {
    gen_error("Failed to get pointer to initialize function.\n");
    return false;
  }
  shutdownService = reinterpret_cast<SharedObject_ShutdownServiceFunc>(
      twl_get_shared_library_func_ptr(library, "shutdownService"));
  if (!shutdownService) {
    gen_error("Failed to get pointer to shutdownService function.\n");
    return false;
  }
  negotiate = reinterpret_cast<SharedObject_NegotiateFunc>(
      twl_get_shared_library_func_ptr(library, "negotiate"));
  if (!negotiate) {
    gen_error("Failed to get pointer to neogiate function.\n");
    return false;
  }
  driveIdle = reinterpret_cast<SharedObject_DriveIdleFunc>(
      twl_get_shared_library_func_ptr(library, "driveIdle"));
  if (!driveIdle) {
    gen_error("Failed to get pointer to driveIdle function.\n");
    return false;
  }
  return true;
}

bool SharedObjectConnection::setUpLoopback(const char *serviceName) {
  transport = new STPTransport(32768);
  cookie = ++g_lastCookie;
  SharedObjectLoopbackInfo own;
  transport->getBufferInfo(&own.start, &own.used, &own.capacity, &own.data);
  transport->getHandleReadInfo(&own.readFunc, &own.readCookie);
  SharedObjectLoopbackInfo lib;
  libHandle = initializeService(serviceName, own.start, own.used, own.capacity, own.data,
                                own.readFunc, own.readCookie, &lib.start, &lib.used, &lib.capacity,
                                &lib.data, &lib.readFunc, &lib.readCookie,
                                &SharedObjectConnection::handleClientTransportRead, cookie, path);
  enterConnection(cookie, this);
  registered = true;
  if (libHandle == -1) {
    gen_error("Unable to get handle to shared object transport.\n");
    return false;
  }
  if (!lib.start || !lib.used || !lib.capacity || !lib.data) {
    gen_error("Unable to initialize loopback pair.\n");
    return false;
  }
  STPTransport::initializeLoopbackSide(transport, lib.start, lib.used, lib.capacity, lib.data,
                                       lib.readFunc, lib.readCookie);
  return true;
}

bool SharedObjectConnection::negotiateEndpoint() {
  // Every step is bounded by the default time-out, so a library that never
  // answers fails the connection instead of hanging the process.
  STPRetryHandler rh(transport, kRetryDefaultTimeout);
  TStat st;
  endpoint->setTransport(transport, 1, 2);
  if (!endpoint->sendNegotiate(true, &rh, &st)) return false;
  if (!negotiate(libHandle)) return false;
  return endpoint->awaitNegotiate(&rh, &st);
}

bool SharedObjectConnection::initializeConnection(const char *libraryPath,
                                                  const char *serviceName,
                                                  STPSpecClass *endpoint) {
  if (!endpoint || this->endpoint || library) return false;
  endpoint->addRef();
  this->endpoint = endpoint;
  if (!openLibrary(libraryPath)) return false;
  if (!findEntryPoints()) return false;
  if (!setUpLoopback(serviceName)) return false;
  return negotiateEndpoint();
}
