// Router_Endpoint: the router's end of the "ServiceRouter" protocol on one
// plugin link (role "router", bound with local RN 1 and remote RN 2). It
// turns every received message into a call on Router_Core naming the plugin
// it came from; the core decides everything.
//
// It refuses, as a protocol violation, anything a well-behaved plugin never
// sends: service messages before negotiation, unknown message numbers and
// ASCII or command messages (the protocol is binary).
//
// Reference counted like every endpoint (delRef to 0 deletes). The core is
// not owned and outlives the endpoint. One thread.
#pragma once

#include "servicerouter_router_impl.h"

class Router_Core;

class Router_Endpoint : public ServiceRouter_router_Impl {
 public:
  Router_Endpoint(Router_Core *core, int pluginId);

  int getPluginId() const { return pluginId; }

  void handleBinaryMessage(STPBinaryIMsg *msg, STPBinaryOMsg *reply, int id) override;
  void handleAsciiMessage(STPAsciiIMsg *msg, STPAsciiOMsg *reply, int id) override;
  int handleCommandMessage(STPAsciiIMsg *msg, STPAsciiOMsg *reply, int id, int action) override;

  void msg_ConnectionAcceptedEvent(int serviceRN, int remoteRN, bool accept) override;
  void msg_DebugPlugin(const char *plugin_name, bool do_debug, const char *debugger,
                       const char *debugger_opts) override;
  void msg_DropServiceConnection(int localRN, int serviceRN) override;
  void msg_LogMessageEvent(const char *message) override;
  void msg_NumPersistentServices(int *num_persistent, int *num_total) override;
  void msg_PersistentService(bool persistent) override;
  void msg_RegisterServiceList(ServiceRouter_STRING_ARRAY &name_list) override;
  void msg_ReleaseRN(int rn) override;
  void msg_RequestLocation() override;
  void msg_RequestPluginConnect(const char *host, int port, int cookie) override;
  void msg_RequestPluginIdForService(int cookie, const char *serviceName, const char *working_dir,
                                     bool startup_if_not_running) override;
  void msg_RequestPluginLaunch(ServiceRouter_STRING_ARRAY &argv, int cookie, bool client_start,
                               const char *working_dir) override;
  void msg_RequestServiceConnection(const char *serviceName, int providingPluginID,
                                    ServiceRouter_STRING_ARRAY &name_value_pairs,
                                    const char *working_dir, bool local_only, int client_cookie,
                                    bool no_reuse, bool client_start) override;
  void msg_RequestServiceRouterDisconnect() override;
  void msg_RequestValueOfNameOnPlugin(int plugin_id, const char *name) override;
  void msg_ReserveRNBlock(int count) override;
  void msg_SetEnvironmentVariable(const char *variable, const char *value) override;
  void msg_SetWorkingDir(const char *working_dir) override;
  void msg_StartPluginEvent(int cookie, bool success, const char *error_message) override;
  void msg_UnregisterService(int serviceRN) override;
  void msg_ValueOfNameOnPluginResponseEvent(int requesting_plugin_id, int plugin_id,
                                            const char *name, const char *value) override;

 protected:
  ~Router_Endpoint() override = default;

 private:
  Router_Core *core;  // not owned
  int pluginId;
};
