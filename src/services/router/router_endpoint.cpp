// The router's protocol endpoint: checks, then hands each message to the core.
#include "services/router/router_endpoint.h"

#include "services/router/router_core.h"

Router_Endpoint::Router_Endpoint(Router_Core *c, int id) : core(c), pluginId(id) {}

void Router_Endpoint::handleBinaryMessage(STPBinaryIMsg *msg, STPBinaryOMsg *reply, int id) {
  if (!core->acceptsMessagesFrom(pluginId)) return;
  if (!isNegotiated()) {
    core->protocolViolation(pluginId, "sent a message before negotiating");
    return;
  }
  if (id < 0 || id >= ServiceRouter_router_msgs_count) {
    core->protocolViolation(pluginId, "sent an unknown message number");
    return;
  }
  // The plugin id goes out before the answer to the plugin's first message.
  core->welcome(pluginId);
  ServiceRouter_router_Impl::handleBinaryMessage(msg, reply, id);
}

void Router_Endpoint::handleAsciiMessage(STPAsciiIMsg *, STPAsciiOMsg *, int) {
  core->protocolViolation(pluginId, "sent an ASCII message to the router");
}

int Router_Endpoint::handleCommandMessage(STPAsciiIMsg *, STPAsciiOMsg *, int, int) {
  core->protocolViolation(pluginId, "sent a command message to the router");
  return -1;
}

void Router_Endpoint::msg_ConnectionAcceptedEvent(int serviceRN, int remoteRN, bool accept) {
  core->connectionAccepted(pluginId, serviceRN, remoteRN, accept);
}

void Router_Endpoint::msg_DebugPlugin(const char *plugin_name, bool do_debug,
                                      const char *debugger, const char *debugger_opts) {
  core->debugPluginRequested(pluginId, plugin_name, do_debug, debugger, debugger_opts);
}

void Router_Endpoint::msg_DropServiceConnection(int localRN, int serviceRN) {
  core->dropRequested(pluginId, localRN, serviceRN);
}

void Router_Endpoint::msg_LogMessageEvent(const char *message) {
  core->logMessage(pluginId, message);
}

void Router_Endpoint::msg_NumPersistentServices(int *num_persistent, int *num_total) {
  core->countPersistentServices(num_persistent, num_total);
}

void Router_Endpoint::msg_PersistentService(bool persistent) {
  core->setPersistent(pluginId, persistent);
}

void Router_Endpoint::msg_RegisterServiceList(ServiceRouter_STRING_ARRAY &name_list) {
  core->registerServices(pluginId, name_list);
}

void Router_Endpoint::msg_ReleaseRN(int rn) { core->releaseRN(pluginId, rn); }

void Router_Endpoint::msg_RequestLocation() { core->locationRequested(pluginId); }

void Router_Endpoint::msg_RequestPluginConnect(const char *host, int port, int cookie) {
  core->pluginConnectRequested(pluginId, host, port, cookie);
}

void Router_Endpoint::msg_RequestPluginIdForService(int cookie, const char *serviceName,
                                                    const char *working_dir,
                                                    bool startup_if_not_running) {
  core->pluginIdForServiceRequested(pluginId, cookie, serviceName, working_dir,
                                    startup_if_not_running);
}

void Router_Endpoint::msg_RequestPluginLaunch(ServiceRouter_STRING_ARRAY &argv, int cookie,
                                              bool client_start, const char *working_dir) {
  core->pluginLaunchRequested(pluginId, argv, cookie, client_start, working_dir);
}

void Router_Endpoint::msg_RequestServiceConnection(const char *serviceName, int providingPluginID,
                                                   ServiceRouter_STRING_ARRAY &name_value_pairs,
                                                   const char *working_dir, bool,
                                                   int client_cookie, bool no_reuse,
                                                   bool client_start) {
  // local_only needs nothing: every provider of this router is local.
  Router_ServiceRequest r;
  r.serviceName = serviceName ? serviceName : "";
  r.providingPluginId = providingPluginID;
  r.pairs = Router_CopyPairs(name_value_pairs);
  r.workingDir = working_dir ? working_dir : "";
  r.clientCookie = client_cookie;
  r.noReuse = no_reuse;
  r.clientStart = client_start;
  core->connectionRequested(pluginId, r);
}

void Router_Endpoint::msg_RequestServiceRouterDisconnect() { core->disconnectRequested(pluginId); }

void Router_Endpoint::msg_RequestValueOfNameOnPlugin(int plugin_id, const char *name) {
  core->valueRequested(pluginId, plugin_id, name);
}

void Router_Endpoint::msg_ReserveRNBlock(int count) { core->reserveRNBlock(pluginId, count); }

void Router_Endpoint::msg_SetEnvironmentVariable(const char *variable, const char *value) {
  core->setEnvironmentVariable(pluginId, variable, value);
}

void Router_Endpoint::msg_SetWorkingDir(const char *working_dir) {
  core->setWorkingDir(pluginId, working_dir);
}

void Router_Endpoint::msg_StartPluginEvent(int cookie, bool success, const char *error_message) {
  core->startPluginEvent(pluginId, cookie, success, error_message);
}

void Router_Endpoint::msg_UnregisterService(int serviceRN) {
  core->unregisterService(pluginId, serviceRN);
}

void Router_Endpoint::msg_ValueOfNameOnPluginResponseEvent(int requesting_plugin_id,
                                                           int plugin_id, const char *name,
                                                           const char *value) {
  core->valueAnswered(pluginId, requesting_plugin_id, plugin_id, name, value);
}
