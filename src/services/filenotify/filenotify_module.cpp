// Process-wide objects of the file-change receiver module, in their
// construction order: the exit condition, then the factory.
#include "services/filenotify/filenotify_module.h"

#include "services/filenotify/filenotify_receiver.h"

namespace {

FileNotifier_Receiver_ExitCondition g_exitCondition KORVO_MODULE_ORDER(kModuleOrderFileNotifyReceiver)(true);
FileNotify_Receiver_ServiceFactory g_factory KORVO_MODULE_ORDER(kModuleOrderFileNotifyReceiver)(
    kFileNotifyServiceName, -1, true);

}  // namespace

FileNotify_Receiver_ServiceFactory *FileNotify_GetServiceFactory() { return &g_factory; }

FileNotifier_Receiver_ExitCondition *FileNotify_GetExitCondition() { return &g_exitCondition; }
