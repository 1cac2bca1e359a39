// The module objects of "BroadcastService.File.Listen": its exit condition
// and its service factory, built before main at the module's rank (after
// the file-change receiver) and registered globally. The program links
// every object of this library so that they exist. One thread.
#pragma once

#include "services/support/service_module.h"

class FileBroadcast_Forwarder;

// Allows exit whenever FileBroadcast_Forwarder::_num_connections is 0,
// which it always is; makes a FileBroadcast_Forwarder for every listening
// connection.
using FileBroadcast_Forwarder_ExitCondition = ServiceModule<FileBroadcast_Forwarder>::ExitCondition;
using FileBroadcast_Forwarder_ServiceFactory = ServiceModule<FileBroadcast_Forwarder>::Factory;

inline constexpr const char *kFileListenServiceName = "BroadcastService.File.Listen";

// The module's factory and exit condition (process-wide, never null).
FileBroadcast_Forwarder_ServiceFactory *FileBroadcast_GetServiceFactory();
FileBroadcast_Forwarder_ExitCondition *FileBroadcast_GetExitCondition();
