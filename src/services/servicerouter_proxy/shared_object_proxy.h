// SharedObject_Proxy: the library side of a service delivered as a shared
// object. A library's entry points (shared_object_service.h) call it to
// set up a connection: it makes a loopback transport wired to the host's,
// lets the globally registered factory of the service build the service
// endpoint on it, and keeps the connection under a cookie until the host
// shuts it down. HostFuncListener keeps the connection moving from the idle
// notifier.
//
// All state is process-wide (the library's own). Ownership: each record
// holds the creation reference of its endpoint (which holds its transport)
// and owns its listener. One thread.
#pragma once

#include "services/servicerouter_proxy/shared_object_service.h"
#include "shared/libcxxutil/ut_idle_notifier.h"

class STPSpecClass;
class STPTransport;

// A socket listener without a descriptor: it wants to read while either
// side of its loopback transport has data waiting. Reading first calls the
// host's read function (so the host takes what this side wrote), then lets
// the transport read what the host wrote. Registers itself with the idle
// notifier when constructed and leaves it when destroyed. The transport is
// not owned and must outlive the listener.
class HostFuncListener : public SocketListener {
 public:
  HostFuncListener(STPTransport *transport, STPHandleReadFunc hostRead, int hostArg);
  ~HostFuncListener() override;
  HostFuncListener(const HostFuncListener &) = delete;
  HostFuncListener &operator=(const HostFuncListener &) = delete;

  bool hasFD() override { return false; }
  int getFD() override { return -1; }
  bool wantsToRead() override;
  bool wantsToWrite() override { return false; }
  bool wantsToDequeueAndDispatch() override;
  bool wantsToStop() override { return false; }
  void handleRead() override;
  void handleWrite() override {}
  void handleDequeueAndDispatch() override;
  void handleStop() override;

 private:
  STPTransport *transport;  // not owned
  STPHandleReadFunc hostRead;
  int hostArg;
  bool registered = false;
};

// One connection of the library: its endpoint (creation reference), its
// listener (owned), and the host's read function with its argument.
struct HostInfoForSharedObject {
  STPSpecClass *endpoint = nullptr;
  HostFuncListener *listener = nullptr;
  STPHandleReadFunc hostRead = nullptr;
  int hostArg = 0;
};

class SharedObject_Proxy {
 public:
  // Builds the library side of a connection to `serviceName`: a loopback
  // transport reading the requester's buffer (and notifying it through its
  // read function), whose own description goes to *own, and the service
  // endpoint made by the globally registered factory of that name (local
  // RN 2, remote RN 1). Returns the new connection's cookie, or -1 when no
  // factory list exists, no factory has the name or it refused.
  static int setupNewConnection(const char *serviceName, const SharedObjectLoopbackInfo &requester,
                                SharedObjectLoopbackInfo *own);
  // Ends a connection: its transport stops reading the host, the listener
  // and the endpoint are released. False for an unknown cookie.
  static bool shutdownConnection(int cookie);
  // The endpoint and transport of a connection (owned by it), or null.
  static STPSpecClass *getConnectionForCookie(int cookie);
  static STPTransport *getTransportForCookie(int cookie);
  // Reads what the host wrote and, when this side then has data waiting,
  // calls the host's read function. Nothing for an unknown cookie.
  static void driveIdle(int cookie);
  // Connections made so far (also the last cookie handed out).
  static int getNumConnections();
};
