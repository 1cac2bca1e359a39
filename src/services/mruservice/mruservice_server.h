// MRUService_Server: the service "MRUService", one endpoint per client
// connection over the process-wide state stores (MRU lists, column layouts,
// saved window geometry, file-dialog directories).
//
// Each connection keeps its own table of live windows; everything else is
// shared by all connections. When a connection's endpoint goes away the MRU
// lists are saved (if changed) and its windows are forgotten. The module's
// process-wide objects (exit condition, factory) are built before main at
// the MRU server rank of the module order. One thread: handlers run inside
// the event loop.
#pragma once

#include "mruservice_server_impl.h"
#include "services/mruservice/window_config.h"
#include "services/support/service_module.h"

class MRUService_Server : public MRUService_server_Impl {
 public:
  // A new endpoint holding one (the creation) reference, with an empty
  // window table of its own. Bind it with setTransport.
  MRUService_Server() = default;

  // Handlers: direct calls into the stores. The dispatcher owns every
  // argument and frees the reply values (heap strings and arrays).
  void msg_CreateWindow(const char *which, int window, int *sequenceNumber, int *firstWindow,
                        int *prevWindow, int *x, int *y, int *width, int *height) override;
  void msg_DestroyWindow(const char *which, int window, int *needToSave) override;
  void msg_GetColumnInfo(const char *which, MRUService_ColumnConfig_Array *info) override;
  void msg_GetFCDir(int which, char **dir) override;
  void msg_GetList(const char *which, MRUService_STRING_ARRAY *listItems) override;
  void msg_GetListNames(MRUService_STRING_ARRAY *names) override;
  void msg_GetWindowSavedGeometry(const char *which, int *firstWindow, int *x, int *y,
                                  int *width, int *height) override;
  void msg_InitFCDir(MRUService_STRING_ARRAY &dirs) override;
  void msg_ModifyList(const char *which, int operation, int slot, const char *data,
                      int *ret) override;
  void msg_SaveFCDir() override;
  void msg_UpdateColumnInfo(const char *which, MRUService_ColumnConfig_Array &info) override;
  void msg_UpdateFCDir(int which, const char *dir) override;
  void msg_UpdateList(const char *which, const char *fullname) override;
  void msg_UpdateWindowSavedGeometry(const char *which, int x, int y, int width,
                                     int height) override;

  // Connections that hold the process alive. Never changed from 0:
  // MRUService clients do not keep the process running.
  static int _num_connections;

 protected:
  // Saves the MRU lists if changed; the window table goes with the
  // endpoint. Endpoints are released through delRef only.
  ~MRUService_Server() override;

 private:
  WindowConfigList windows_;  // the classes this client opened
};

// The module's exit condition (allows exit while MRUService_Server::_num_connections
// is 0) and its factory (a MRUService_Server per connection of "MRUService").
using MRUService_Server_ExitCondition = ServiceModule<MRUService_Server>::ExitCondition;
using MRUService_ServiceFactory = ServiceModule<MRUService_Server>::Factory;

// The module's factory (built before main), for tests.
MRUService_ServiceFactory *MRUService_GetServiceFactory();
