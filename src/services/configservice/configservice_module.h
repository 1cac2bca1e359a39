// The module objects of "BroadcastService.Config": its exit condition and
// its service factory, built before main at the module's rank (after the
// router client, before the file-change services) and registered globally.
// The program links every object of this library so that they exist.
// One thread.
#pragma once

#include "services/support/service_module.h"

class ConfigService_Server;

// Allows exit whenever ConfigService_Server::_num_connections is 0, which
// it always is; makes a ConfigService_Server for every connection.
using ConfigService_Server_ExitCondition = ServiceModule<ConfigService_Server>::ExitCondition;
using ConfigService_Server_ServiceFactory = ServiceModule<ConfigService_Server>::Factory;

// The service name.
inline constexpr const char *kConfigServiceName = "BroadcastService.Config";

// The module's factory and exit condition (process-wide, never null).
ConfigService_Server_ServiceFactory *ConfigService_GetServiceFactory();
ConfigService_Server_ExitCondition *ConfigService_GetExitCondition();
