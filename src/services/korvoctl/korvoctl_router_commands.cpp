// korvoctl subcommands of the service router itself: where a service is
// provided, where the router listens, and a named value of a plugin.
#include <cstdio>
#include <cstring>

#include "services/korvoctl/korvoctl_command.h"
#include "services/korvoctl/korvoctl_session.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"

namespace {

int runWhereis(KorvoCtl_Session &session, int argc, char **argv);
int runLocation(KorvoCtl_Session &session, int argc, char **argv);
int runValue(KorvoCtl_Session &session, int argc, char **argv);

const KorvoCtl_Command kWhereis = {
    "whereis", "SERVICE [--start]", "Print the plugin id of the process that provides SERVICE",
    "With --start, a service that nobody provides yet is started by the router\n"
    "when its services file lists a program for it.\n"
    "Output: the plugin id, one line. Exit status 1 when nobody provides it.\n",
    runWhereis};
const KorvoCtl_Command kLocation = {
    "location", "", "Print where the service router listens",
    "Output: host and port separated by one blank, one line.\n", runLocation};
const KorvoCtl_Command kValue = {
    "value", "PLUGIN NAME", "Print the value of NAME on the plugin with id PLUGIN",
    "The plugin is asked through the router; \"cwd\" is its working directory.\n"
    "Output: the value, one line. Exit status 1 when the plugin has none.\n",
    runValue};

KorvoCtl_Registrar registerWhereis(kWhereis);
KorvoCtl_Registrar registerLocation(kLocation);
KorvoCtl_Registrar registerValue(kValue);

int runWhereis(KorvoCtl_Session &session, int argc, char **argv) {
  const char *service = nullptr;
  bool start = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--start") == 0)
      start = true;
    else if (argv[i][0] == '-')
      return KorvoCtl_UsageError(kWhereis, (std::string("unknown option ") + argv[i]).c_str());
    else if (service)
      return KorvoCtl_UsageError(kWhereis, "one service name only");
    else
      service = argv[i];
  }
  if (!service || !*service) return KorvoCtl_UsageError(kWhereis, "a service name is needed");
  if (!session.connect()) return kKorvoCtlFailed;
  bool found = false;
  int id = session.proxy()->getPluginIdForService(service, gen_getcwd(), session.retry(), start,
                                                  &found);
  if (!found || id < 0) {
    gen_error("whereis: no process provides %s", service);
    return kKorvoCtlFailed;
  }
  std::printf("%d\n", id);
  return kKorvoCtlOk;
}

int runLocation(KorvoCtl_Session &session, int argc, char **) {
  if (argc != 1) return KorvoCtl_UsageError(kLocation, "takes no arguments");
  if (!session.connect()) return kKorvoCtlFailed;
  const char *host = nullptr;
  int port = 0;
  if (!session.proxy()->getServiceRouterLocation(&host, &port, session.retry()) || !host) {
    gen_error("location: the router did not answer");
    return kKorvoCtlFailed;
  }
  std::printf("%s %d\n", host, port);
  return kKorvoCtlOk;
}

int runValue(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc != 3) return KorvoCtl_UsageError(kValue, "needs a plugin id and a name");
  int plugin = 0;
  if (!KorvoCtl_ParseInt(argv[1], &plugin) || plugin < 0)
    return KorvoCtl_UsageError(kValue, (std::string("not a plugin id: ") + argv[1]).c_str());
  if (!*argv[2]) return KorvoCtl_UsageError(kValue, "the name is empty");
  if (!session.connect()) return kKorvoCtlFailed;
  const char *value = session.proxy()->getValueOfNameForPlugin(plugin, argv[2], session.retry());
  if (!value) {
    gen_error("value: plugin %d has no value for %s", plugin, argv[2]);
    return kKorvoCtlFailed;
  }
  std::printf("%s\n", value);
  return kKorvoCtlOk;
}

}  // namespace
