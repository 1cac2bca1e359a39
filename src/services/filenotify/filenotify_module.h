// The module objects of "BroadcastService.File.Notify": its exit condition
// and its service factory, built before main at the module's rank (after
// the configuration service, before the forwarder module) and registered
// globally. The program links every object of this library so that they
// exist. One thread.
#pragma once

#include "services/support/service_module.h"

class FileNotify_Receiver;

// Allows exit whenever FileNotify_Receiver::_num_connections is 0, which
// it always is; makes a FileNotify_Receiver for every notifying connection.
using FileNotifier_Receiver_ExitCondition = ServiceModule<FileNotify_Receiver>::ExitCondition;
using FileNotify_Receiver_ServiceFactory = ServiceModule<FileNotify_Receiver>::Factory;

inline constexpr const char *kFileNotifyServiceName = "BroadcastService.File.Notify";

// The module's factory and exit condition (process-wide, never null).
FileNotify_Receiver_ServiceFactory *FileNotify_GetServiceFactory();
FileNotifier_Receiver_ExitCondition *FileNotify_GetExitCondition();
