// ConfigService_Server: one connection of the service
// "BroadcastService.Config". Any connection may broadcast configuration
// lines (stored by index in the process-wide configuration array and passed
// on), free-form messages and block brackets; a connection that has sent
// ListenForConfigs is a listener and receives every broadcast, its own
// included, in the order the listeners registered.
//
// Sending discipline: notifications and messages are queued on each
// listener's transport (the event loop writes them); block starts and ends
// are written at once through the listener endpoint's default retry
// handler. A listener whose connection is down misses the message (the
// generated sender logs "SEND FAILED: ...") and the fan-out goes on.
//
// The store and the listener list live for the whole process. Endpoints are
// reference counted: created by the factory with one reference, released
// by the router client; the destructor takes the connection out of the
// listener list. One thread.
#pragma once

#include "configservice_server_impl.h"
#include "services/configservice/config_array.h"
#include "services/support/broadcast_list.h"

class ConfigService_Server : public ConfigService_server_Impl {
 public:
  // Not a listener until it sends ListenForConfigs.
  ConfigService_Server();
  // Leaves the listener list; the lines it broadcast stay stored.
  ~ConfigService_Server() override;

  // Stores the line, then sends ReceiveNotification (the line only) to
  // every listener.
  void msg_BroadcastConfig(int index, const char *configLine) override;
  // Sends ReceiveMessage to every listener; nothing is stored.
  void msg_BroadcastMessage(int type, const char *message) override;
  // Sends ReceiveEndBlockBroadcast to every listener.
  void msg_EndBlockBroadcast() override;
  // Joins the listener list (once) and answers with every stored line in
  // ascending index order.
  void msg_ListenForConfigs(ConfigService_STRING_ARRAY *configItems) override;
  // Sends ReceiveStartBlockBroadcast to every listener.
  void msg_StartBlockBroadcast() override;

  bool isListener() const { return listening; }

  // The process-wide store (configArray): AddConfig stores a copy of the
  // line under `index`.
  static void AddConfig(int index, const char *line);
  static ConfigService_ConfigArray &configArray();

  // The process-wide listener list, in order of registration.
  static const BroadcastList<ConfigService_Server> &getListenerList() { return listenerList; }

  // Connections counted against the exit condition; never changed from 0,
  // so ConfigService connections never keep the process alive.
  static int _num_connections;

 private:
  static BroadcastList<ConfigService_Server> listenerList;
  bool listening = false;
};
