// FileRegistry_Server: handlers, exit condition, factory and the module's
// process-wide objects.
#include "services/fileregistry/fileregistry_server.h"

#include "services/support/service_limits.h"
#include "shared/gen_holder.h"
#include "shared/indgen.h"

// The module's objects, built before main in this order: the exit
// condition (installed globally), the empty register, the factory
// (registered globally; its place in the module order is the place of
// "FileRegistry" among the service names sent to the router).
static FileRegistry_Server_ExitCondition fileregistry_exit_condition
    KORVO_MODULE_ORDER(kModuleOrderFileRegistry)(true);
FileRegistry_TypeMap FileRegistry_Server::typemap KORVO_MODULE_ORDER(kModuleOrderFileRegistry);
static FileRegistry_ServiceFactory fileregistry_factory
    KORVO_MODULE_ORDER(kModuleOrderFileRegistry)("FileRegistry", -1, true);

int FileRegistry_Server::_num_connections = 0;

FileRegistry_ServiceFactory *FileRegistry_GetServiceFactory() { return &fileregistry_factory; }

void FileRegistry_Server::msg_AddFile(const char *fileName, const char *type) {
  bool refused = false;
  if (typemap.AddFileWithinLimits(fileName, type, &refused)) return;
  if (refused)
    ServiceLimits_Refuse(this, "[AddFile]", "a name or the registry would be too large");
  else
    gen_warning("[AddFile] from %s: no file name given", ServiceLimits_SenderName(this).c_str());
}

void FileRegistry_Server::msg_GetFiles(const char *type, int *num, char ***files) {
  const FileRegistry_List *list = typemap.find(type);
  *num = list ? static_cast<int>(list->size()) : 0;
  *files = list ? gen_copy_string_array(list->inOrder()) : nullptr;
}

void FileRegistry_Server::msg_RemoveFile(const char *fileName, const char *type) {
  if (!typemap.fitsRemove(type)) {
    ServiceLimits_Refuse(this, "[RemoveFile]", "the type name or the registry would be too large");
    return;
  }
  typemap.RemoveFile(fileName, type);
}
