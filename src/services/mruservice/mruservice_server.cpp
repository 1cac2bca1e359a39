// MRUService_Server: handlers, exit condition, factory and the module's
// process-wide objects.
#include "services/mruservice/mruservice_server.h"

#include <vector>

#include "services/mruservice/column_config.h"
#include "services/mruservice/fcdir_mem.h"
#include "services/mruservice/mru_lists.h"
#include "shared/indgen.h"

// The module's objects, built before main in this order: the exit
// condition (installed globally) and the factory (registered globally; its
// place in the module order is the place of "MRUService" among the service
// names sent to the router).
static MRUService_Server_ExitCondition mruservice_exit_condition
    KORVO_MODULE_ORDER(kModuleOrderMRUServer)(true);
static MRUService_ServiceFactory mruservice_factory
    KORVO_MODULE_ORDER(kModuleOrderMRUServer)("MRUService", -1, true);

int MRUService_Server::_num_connections = 0;

MRUService_ServiceFactory *MRUService_GetServiceFactory() { return &mruservice_factory; }

MRUService_Server::~MRUService_Server() { MRU_Save(); }

void MRUService_Server::msg_CreateWindow(const char *which, int window, int *sequenceNumber,
                                         int *firstWindow, int *prevWindow, int *x, int *y,
                                         int *width, int *height) {
  WindowConfig_CreateWindow(&windows_, which, window, sequenceNumber, firstWindow, prevWindow, x,
                            y, width, height);
}

void MRUService_Server::msg_DestroyWindow(const char *which, int window, int *needToSave) {
  bool save = false;
  WindowConfig_DestroyWindow(&windows_, which, window, &save);
  *needToSave = save ? 1 : 0;
}

void MRUService_Server::msg_GetColumnInfo(const char *which, MRUService_ColumnConfig_Array *info) {
  ColumnConfig_Array columns;
  ColumnConfig_GetColumnInfo(which, &columns);
  info->count = columns.count;
  // The dispatcher releases the reply with MRUService_ColumnConfig_Array_free.
  info->columnInfos = STPArray_new<MRUService_ColumnConfig_Info>(columns.count);
  if (!info->columnInfos) info->count = 0;
  for (int i = 0; i < info->count; ++i) {
    MRUService_ColumnConfig_Info &to = info->columnInfos[i];
    to.name = columns.columnInfos[i].name;  // handed over
    columns.columnInfos[i].name = nullptr;
    to.width = columns.columnInfos[i].width;
    to.sort = columns.columnInfos[i].sort;
    to.hidden = columns.columnInfos[i].hidden ? 1 : 0;
  }
  ColumnConfig_FreeArray(&columns);
}

void MRUService_Server::msg_GetFCDir(int which, char **dir) { *dir = gen_copy(FCDirMem_Get(which)); }

void MRUService_Server::msg_GetList(const char *which, MRUService_STRING_ARRAY *listItems) {
  MRU_GetMRUList(which, &listItems->data, &listItems->count);
}

void MRUService_Server::msg_GetListNames(MRUService_STRING_ARRAY *names) {
  MRU_GetAllMRUListNames(&names->data, &names->count);
}

void MRUService_Server::msg_GetWindowSavedGeometry(const char *which, int *firstWindow, int *x,
                                                   int *y, int *width, int *height) {
  WindowConfig_GetSavedGeometry(&windows_, which, firstWindow, x, y, width, height);
}

void MRUService_Server::msg_InitFCDir(MRUService_STRING_ARRAY &dirs) {
  FCDirMem_InitDirs(dirs.data ? dirs.count : 0, dirs.data);
}

void MRUService_Server::msg_ModifyList(const char *which, int operation, int slot,
                                       const char *data, int *ret) {
  *ret = MRU_ModifyMRUList(which, operation, slot, data) ? 1 : 0;
}

void MRUService_Server::msg_SaveFCDir() { FCDirMem_Save(); }

void MRUService_Server::msg_UpdateColumnInfo(const char *which,
                                             MRUService_ColumnConfig_Array &info) {
  int count = info.columnInfos && info.count > 0 ? info.count : 0;
  std::vector<ColumnConfig_Info> infos;
  for (int i = 0; i < count; ++i) {
    const MRUService_ColumnConfig_Info &from = info.columnInfos[i];
    // Borrowed name: the store copies what it keeps.
    infos.push_back(ColumnConfig_Info{from.name, from.width, from.sort, from.hidden != 0});
  }
  ColumnConfig_Array columns;
  columns.count = count;
  columns.columnInfos = infos.data();
  ColumnConfig_UpdateColumnInfo(which, &columns);
}

void MRUService_Server::msg_UpdateFCDir(int which, const char *dir) { FCDirMem_Update(which, dir); }

void MRUService_Server::msg_UpdateList(const char *which, const char *fullname) {
  MRU_UpdateList(which, fullname, false);
}

void MRUService_Server::msg_UpdateWindowSavedGeometry(const char *which, int x, int y, int width,
                                                      int height) {
  WindowConfig_UpdateSavedGeometry(&windows_, which, x, y, width, height);
}
