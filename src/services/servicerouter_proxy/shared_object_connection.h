// SharedObjectConnection: the requesting side of a service that the router
// names as a shared library. The library is loaded into this process, its
// four entry points are looked up, and the requesting endpoint is connected
// to the library's service endpoint over a loopback transport pair
// (shared_object_service.h describes the contract).
//
// Ownership: the connection holds a reference on the endpoint and on its
// local transport, owns the library handle and the path string. Every
// initialised connection is entered in the process-wide map under its
// cookie, so that the library's read notifications find it; the destructor
// removes it. The service registry's ServiceStatus record owns the connection (see
// deleteSharedObjectConnection). One thread.
#pragma once

#include "services/servicerouter_proxy/shared_object_service.h"

class STPSpecClass;
class STPTransport;

class SharedObjectConnection {
 public:
  SharedObjectConnection() = default;
  // Tells the library to end its side (when it had set one up), leaves the
  // map, closes the library and releases the endpoint and the transport.
  ~SharedObjectConnection();
  SharedObjectConnection(const SharedObjectConnection &) = delete;
  SharedObjectConnection &operator=(const SharedObjectConnection &) = delete;

  // Opens the library at `libraryPath` (or, failing that, the path with
  // ".so" appended), finds its entry points, sets up the loopback pair with
  // the library's service `serviceName`, binds `endpoint` to this side
  // (local RN 1, remote RN 2) and negotiates. False on any failure; a
  // missing entry point or a refused set-up is reported with gen_error.
  // Call once per object; delete the object after a failure.
  bool initializeConnection(const char *libraryPath, const char *serviceName,
                            STPSpecClass *endpoint);

  // This side's loopback transport (owned by the connection), or null.
  STPTransport *getLocalTransport() const { return transport; }
  STPSpecClass *getEndpoint() const { return endpoint; }
  // The path that opened (owned by the connection), or null.
  const char *getLibraryPath() const { return path; }
  // The library's handle for this connection (-1 before set-up) and this
  // side's cookie (0 before set-up).
  int getLibraryHandle() const { return libHandle; }
  int getCookie() const { return cookie; }

  // The initialised connection registered under `cookie`, or null.
  static SharedObjectConnection *getConnectionForCookie(int cookie);
  // The host read function given to libraries: the connection of `cookie`
  // reads what its library queued. False for an unknown cookie.
  static bool handleClientTransportRead(int cookie);

 private:
  bool openLibrary(const char *libraryPath);
  bool findEntryPoints();
  bool setUpLoopback(const char *serviceName);
  bool negotiateEndpoint();

  STPTransport *transport = nullptr;  // one reference held
  STPSpecClass *endpoint = nullptr;   // one reference held
  char *path = nullptr;               // owned (gen_free)
  void *library = nullptr;            // loader handle
  int libHandle = -1;
  int cookie = 0;
  bool registered = false;  // in the cookie map
  SharedObject_InitializeServiceFunc initializeService = nullptr;
  SharedObject_NegotiateFunc negotiate = nullptr;
  SharedObject_ShutdownServiceFunc shutdownService = nullptr;
  SharedObject_DriveIdleFunc driveIdle = nullptr;
};
