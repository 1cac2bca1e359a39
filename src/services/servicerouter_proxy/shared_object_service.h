// shared_object_service: the contract between a process and a service
// library it loads (a service delivered as a shared object instead of by a
// running process).
//
// The two sides talk STP over a loopback transport pair: each side's
// transport reads the other's write buffer directly. A side describes its
// transport to the other with a SharedObjectLoopbackInfo: pointers to the
// four fields of its write buffer (STPTransport::getBufferInfo) and the
// function and cookie that make it read (STPTransport::getHandleReadInfo).
// Nothing in a description is owned by the receiver; the pointers stay
// valid until the side that gave them closes the connection.
//
// A service library exports four C functions with these names and types:
//   "initializeService"  SharedObject_InitializeServiceFunc
//   "negotiate"          SharedObject_NegotiateFunc
//   "shutdownService"    SharedObject_ShutdownServiceFunc
//   "driveIdle"          SharedObject_DriveIdleFunc
// The library side of the contract is SharedObject_Proxy; the requesting
// side is SharedObjectConnection. One thread.
#pragma once

#include "shared/stp_transport/stp_transport.h"

// One side's loopback transport, as seen by the other side.
struct SharedObjectLoopbackInfo {
  int *start = nullptr;
  int *used = nullptr;
  int *capacity = nullptr;
  char **data = nullptr;
  STPHandleReadFunc readFunc = nullptr;
  int readCookie = 0;
};

// Sets up one connection to the service `serviceName`. Receives the host's
// description (six items), fills the six places of the library's own
// description, and gets the host's read function with its argument (the
// library calls it when it has queued data the host should read), the
// host's connection cookie and the path the library was opened under.
// Returns the library-side handle, or -1 when the service cannot be set up.
using SharedObject_InitializeServiceFunc = int (*)(
    const char *serviceName, int *hostStart, int *hostUsed, int *hostCapacity, char **hostData,
    STPHandleReadFunc hostTransportRead, int hostTransportCookie, int **libStart, int **libUsed,
    int **libCapacity, char ***libData, STPHandleReadFunc *libTransportRead,
    int *libTransportCookie, STPHandleReadFunc hostRead, int hostCookie, const char *libraryPath);
// Starts the library side's negotiation of the connection `handle`; false
// when it could not be sent.
using SharedObject_NegotiateFunc = bool (*)(int handle);
// Ends the connection `handle` on the library side (its transport stops
// reading the host's buffer and is released).
using SharedObject_ShutdownServiceFunc = void (*)(int handle);
// Lets the library side of `handle` read and hand written data to the host.
using SharedObject_DriveIdleFunc = void (*)(int handle);
