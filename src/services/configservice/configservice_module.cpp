// Process-wide objects of the configuration broadcast module, in their
// construction order: the exit condition, then the factory.
#include "services/configservice/configservice_module.h"

#include "services/configservice/config_server.h"

namespace {

ConfigService_Server_ExitCondition g_exitCondition KORVO_MODULE_ORDER(kModuleOrderConfigServer)(true);
ConfigService_Server_ServiceFactory g_factory KORVO_MODULE_ORDER(kModuleOrderConfigServer)(
    kConfigServiceName, -1, true);

}  // namespace

ConfigService_Server_ServiceFactory *ConfigService_GetServiceFactory() { return &g_factory; }

ConfigService_Server_ExitCondition *ConfigService_GetExitCondition() { return &g_exitCondition; }
