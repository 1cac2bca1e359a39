// ConfigService_Server: handlers of the configuration broadcast service and
// the process-wide store and listener list behind them.
#include "services/configservice/config_server.h"

#include "services/servicerouter_proxy/service_factory.h"
#include "services/support/service_limits.h"
#include "shared/gen_holder.h"

int ConfigService_Server::_num_connections = 0;

// Both are constant-initialised; the array's destructor frees the lines at
// exit, after the module's factory (built before it) is gone.
constinit BroadcastList<ConfigService_Server> ConfigService_Server::listenerList;

namespace {

ConfigService_ConfigArray g_configArray KORVO_MODULE_ORDER(kModuleOrderConfigServer);

}  // namespace

ConfigService_Server::ConfigService_Server() = default;

ConfigService_Server::~ConfigService_Server() { listenerList.remove(this); }

ConfigService_ConfigArray &ConfigService_Server::configArray() { return g_configArray; }

void ConfigService_Server::AddConfig(int index, const char *line) { g_configArray.addConfig(index, line); }

void ConfigService_Server::msg_BroadcastConfig(int index, const char *configLine) {
  // Refused lines are neither stored nor passed on.
  if (!g_configArray.fits(index, configLine))
    return ServiceLimits_Refuse(this, "[BroadcastConfig]", "the line or the store would be too large");
  AddConfig(index, configLine);
  // Encoded once; each listener's copy differs only in its header.
  auto notification = encode_ReceiveNotification(configLine);
  BroadcastSnapshot<ConfigService_Server> listeners(listenerList);
  listeners.forEach([&notification](ConfigService_Server *l) { l->sendEncoded_ReceiveNotification(notification.get()); });
}

void ConfigService_Server::msg_BroadcastMessage(int type, const char *message) {
  if (!ServiceLimits_StringFits(message))
    return ServiceLimits_Refuse(this, "[BroadcastMessage]", "the message is too large");
  auto encoded = encode_ReceiveMessage(type, message);
  BroadcastSnapshot<ConfigService_Server> listeners(listenerList);
  listeners.forEach([&encoded](ConfigService_Server *l) { l->sendEncoded_ReceiveMessage(encoded.get()); });
}

void ConfigService_Server::msg_StartBlockBroadcast() {
  BroadcastSnapshot<ConfigService_Server> listeners(listenerList);
  listeners.forEach([](ConfigService_Server *l) { l->send_ReceiveStartBlockBroadcast(true); });
}

void ConfigService_Server::msg_EndBlockBroadcast() {
  BroadcastSnapshot<ConfigService_Server> listeners(listenerList);
  listeners.forEach([](ConfigService_Server *l) { l->send_ReceiveEndBlockBroadcast(true); });
}

void ConfigService_Server::msg_ListenForConfigs(ConfigService_STRING_ARRAY *configItems) {
  if (listenerList.add(this)) listening = true;
  // The reply carries copies; the dispatcher frees them once it is sent.
  std::vector<const char *> lines = g_configArray.lines();
  configItems->count = static_cast<int>(lines.size());
  configItems->data = gen_copy_string_array(lines);
}
