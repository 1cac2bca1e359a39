// FileRegistry_Server: the service "FileRegistry", one endpoint per client
// connection over the process-wide FileRegistry_TypeMap.
//
// Clients add file names under a type, remove them, and ask for a type's
// names, most recently added first. The register is shared by every
// connection, outlives them and is never written to disk. The module's
// process-wide objects (exit condition, register, factory) are built before
// main at the FileRegistry rank of the module order. One thread: handlers
// run inside the event loop.
#pragma once

#include "fileregistry_server_impl.h"
#include "services/fileregistry/fileregistry_typemap.h"
#include "services/support/service_module.h"

class FileRegistry_Server : public FileRegistry_server_Impl {
 public:
  // A new endpoint holding one (the creation) reference; bind it with
  // setTransport. It keeps no state of its own.
  FileRegistry_Server() = default;

  // The handlers work on `typemap`; the dispatcher owns every argument.
  void msg_AddFile(const char *fileName, const char *type) override;
  void msg_GetFiles(const char *type, int *num, char ***files) override;
  void msg_RemoveFile(const char *fileName, const char *type) override;

  // The process-wide register; lives until exit.
  static FileRegistry_TypeMap typemap;
  // Connections that hold the process alive. Never changed from 0:
  // FileRegistry clients do not keep the process running.
  static int _num_connections;

 protected:
  // Endpoints are released through delRef only.
  ~FileRegistry_Server() override = default;
};

// The module's exit condition (allows exit while FileRegistry_Server::_num_connections
// is 0) and its factory (a FileRegistry_Server per connection of "FileRegistry").
using FileRegistry_Server_ExitCondition = ServiceModule<FileRegistry_Server>::ExitCondition;
using FileRegistry_ServiceFactory = ServiceModule<FileRegistry_Server>::Factory;

// The module's factory (built before main), for the program entry and tests.
FileRegistry_ServiceFactory *FileRegistry_GetServiceFactory();
