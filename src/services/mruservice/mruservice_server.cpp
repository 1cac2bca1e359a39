// MRUService_Server: handlers, exit condition, factory and the module's
// process-wide objects.
#include "services/mruservice/mruservice_server.h"

#include <initializer_list>
#include <vector>

#include "services/mruservice/column_config.h"
#include "services/mruservice/fcdir_mem.h"
#include "services/mruservice/mru_lists.h"
#include "services/support/service_limits.h"
#include "shared/indgen.h"

namespace {

constexpr char kTooLarge[] = "a name or the store would be too large";

// Whether a store holding `bytes` may take `strings` more (each within the
// string limit). Counted as additions, so a change that replaces something
// is refused a little early, close to the limit only.
bool storeTakes(size_t bytes, std::initializer_list<const char *> strings) {
  for (const char *s : strings) {
    if (!ServiceLimits_StringFits(s)) return false;
    bytes += ServiceLimits_Cost(s);
  }
  return bytes <= kServiceMaxStoreBytes;
}

bool columnsFit(const char *which, const MRUService_ColumnConfig_Array &info) {
  size_t bytes = ColumnConfig_Bytes();
  if (!storeTakes(bytes, {which})) return false;
  bytes += ServiceLimits_Cost(which);
  for (int i = 0; info.columnInfos && i < info.count; ++i) {
    if (!storeTakes(bytes, {info.columnInfos[i].name})) return false;
    bytes += ServiceLimits_Cost(info.columnInfos[i].name);
  }
  return true;
}

bool dirsFit(const MRUService_STRING_ARRAY &dirs) {
  for (int i = 0; dirs.data && i < dirs.count; ++i)
    if (!ServiceLimits_StringFits(dirs.data[i])) return false;
  return true;
}

}  // namespace

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
  if (!storeTakes(WindowConfig_Bytes(&windows_), {which, ""})) {
    *sequenceNumber = *firstWindow = *prevWindow = *x = *y = *width = *height = 0;
    return ServiceLimits_Refuse(this, "[CreateWindow]", kTooLarge);
  }
  if (!WindowConfig_CreateWindow(&windows_, which, window, sequenceNumber, firstWindow, prevWindow,
                                 x, y, width, height))
    gen_warning("[CreateWindow]: could not find window (%d) from %s", window,
                ServiceLimits_SenderName(this).c_str());
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
  if (!dirsFit(dirs)) return ServiceLimits_Refuse(this, "[InitFCDir]", kTooLarge);
  FCDirMem_InitDirs(dirs.data ? dirs.count : 0, dirs.data);
}

void MRUService_Server::msg_ModifyList(const char *which, int operation, int slot,
                                       const char *data, int *ret) {
  // Never creates a list; only what it stores is counted, so a deletion
  // always goes through.
  bool stores = operation != MRU_Modify_Delete;
  if (!ServiceLimits_StringFits(which) || (stores && !storeTakes(MRU_Bytes(), {data}))) {
    *ret = 0;
    return ServiceLimits_Refuse(this, "[ModifyList]", kTooLarge);
  }
  *ret = MRU_ModifyMRUList(which, operation, slot, data) ? 1 : 0;
}

void MRUService_Server::msg_SaveFCDir() { FCDirMem_Save(); }

void MRUService_Server::msg_UpdateColumnInfo(const char *which,
                                             MRUService_ColumnConfig_Array &info) {
  if (!columnsFit(which, info)) return ServiceLimits_Refuse(this, "[UpdateColumnInfo]", kTooLarge);
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

void MRUService_Server::msg_UpdateFCDir(int which, const char *dir) {
  if (!ServiceLimits_StringFits(dir)) return ServiceLimits_Refuse(this, "[UpdateFCDir]", kTooLarge);
  FCDirMem_Update(which, dir);
}

void MRUService_Server::msg_UpdateList(const char *which, const char *fullname) {
  if (!storeTakes(MRU_Bytes(), {which, fullname}))
    return ServiceLimits_Refuse(this, "[UpdateList]", kTooLarge);
  MRU_UpdateList(which, fullname, false);
}

void MRUService_Server::msg_UpdateWindowSavedGeometry(const char *which, int x, int y, int width,
                                                      int height) {
  if (!storeTakes(WindowConfig_Bytes(&windowConfigGlobal), {which}))
    return ServiceLimits_Refuse(this, "[UpdateWindowSavedGeometry]", kTooLarge);
  if (!WindowConfig_UpdateSavedGeometry(&windows_, which, x, y, width, height))
    gen_warning("[UpdateSavedGeometry]: unexpected window class from %s",
                ServiceLimits_SenderName(this).c_str());
}
