// Process-wide objects of the file-change forwarder module, in their
// construction order: the exit condition, then the factory (the forwarder
// list needs no construction).
#include "services/filebroadcast/filebroadcast_module.h"

#include "services/filebroadcast/filebroadcast_forwarder.h"

namespace {

FileBroadcast_Forwarder_ExitCondition g_exitCondition KORVO_MODULE_ORDER(kModuleOrderFileForwarder)(true);
FileBroadcast_Forwarder_ServiceFactory g_factory KORVO_MODULE_ORDER(kModuleOrderFileForwarder)(
    kFileListenServiceName, -1, true);

}  // namespace

FileBroadcast_Forwarder_ServiceFactory *FileBroadcast_GetServiceFactory() { return &g_factory; }

FileBroadcast_Forwarder_ExitCondition *FileBroadcast_GetExitCondition() { return &g_exitCondition; }
