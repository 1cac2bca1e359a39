// korvoctl subcommand "config": the configuration broadcast service
// ("BroadcastService.Config"). Broadcasts configuration lines, messages and
// block brackets, prints the stored lines, or listens and prints every
// broadcast as it arrives, one tab-separated line per event.
#include <cstdio>
#include <cstring>
#include <string>

#include "configservice_client_impl.h"
#include "services/korvoctl/korvoctl_command.h"
#include "services/korvoctl/korvoctl_service.h"
#include "services/korvoctl/korvoctl_session.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"

namespace {

int runConfig(KorvoCtl_Session &session, int argc, char **argv);

const KorvoCtl_Command kConfig = {
    "config", "broadcast|message|start-block|end-block|list|listen [ARGS]",
    "Broadcast configuration lines and messages, or print or follow them",
    "  broadcast INDEX LINE   store LINE under INDEX and pass it to every listener\n"
    "  message TYPE TEXT      pass a typed message to every listener (not stored)\n"
    "  start-block            tell the listeners that a block of broadcasts starts\n"
    "  end-block              ... and that it ends\n"
    "  list                   print every stored line, in index order, one per line\n"
    "  listen                 print \"stored<TAB>LINE\" for every stored line, then\n"
    "                         \"listening\", then one line per event until\n"
    "                         interrupted: \"notification<TAB>LINE\",\n"
    "                         \"message<TAB>TYPE<TAB>TEXT\", \"start-block\", \"end-block\"\n"
    "Tabs and newlines inside texts are printed as blanks; a missing text as \"-\".\n",
    runConfig};

KorvoCtl_Registrar registerConfig(kConfig);

void printLine(const std::string &line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Prints every broadcast it hears, at once.
class PrintingListener : public ConfigService_client_Impl {
 public:
  void msg_ReceiveEndBlockBroadcast() override { printLine("end-block"); }
  void msg_ReceiveMessage(int type, const char *message) override {
    printLine("message\t" + std::to_string(type) + "\t" + KorvoCtl_Field(message));
  }
  void msg_ReceiveNotification(const char *configLine) override {
    printLine("notification\t" + KorvoCtl_Field(configLine));
  }
  void msg_ReceiveStartBlockBroadcast() override { printLine("start-block"); }
};

// Registers as a listener and prints the stored lines, each behind
// `prefix`.
bool printStored(PrintingListener *client, KorvoCtl_Session &session, const char *prefix) {
  ConfigService_STRING_ARRAY items;
  TStat st;
  if (!client->send_ListenForConfigs(&items, session.retry(), &st)) {
    gen_error("config: no answer from the configuration service: %s", st.message);
    return false;
  }
  for (int i = 0; i < items.count; ++i) printLine(prefix + KorvoCtl_Field(items.data[i]));
  ConfigService_STRING_ARRAY_free(&items);
  return true;
}

// Serves the connection until interrupted or disconnected.
bool listen(PrintingListener *client, KorvoCtl_Session &session) {
  if (!printStored(client, session, "stored\t")) return false;
  return KorvoCtl_ServeUntilInterrupted(session, client, "listening", "config", "the configuration service");
}

// Checks the words of an operation; returns an empty text or the problem.
std::string checkArgs(int argc, char **argv) {
  const char *op = argv[1];
  int n = 0;
  if (!std::strcmp(op, "broadcast") || !std::strcmp(op, "message")) {
    if (argc != 4) return std::string(op) + " takes a number and a text";
    if (!KorvoCtl_ParseInt(argv[2], &n)) return std::string("not a number: ") + argv[2];
    return "";
  }
  if (!std::strcmp(op, "start-block") || !std::strcmp(op, "end-block") || !std::strcmp(op, "list") ||
      !std::strcmp(op, "listen"))
    return argc == 2 ? "" : std::string(op) + " takes no arguments";
  return std::string("unknown operation ") + op;
}

bool perform(PrintingListener *client, KorvoCtl_Session &session, int argc, char **argv) {
  const char *op = argv[1];
  if (!std::strcmp(op, "list")) return printStored(client, session, "");
  if (!std::strcmp(op, "listen")) return listen(client, session);
  int n = 0;
  if (argc == 4) KorvoCtl_ParseInt(argv[2], &n);
  TStat st;
  bool sent;
  // Written at once: korvoctl ends right after.
  if (!std::strcmp(op, "broadcast"))
    sent = client->send_BroadcastConfig(n, argv[3], true, session.retry(), &st);
  else if (!std::strcmp(op, "message"))
    sent = client->send_BroadcastMessage(n, argv[3], true, session.retry(), &st);
  else if (!std::strcmp(op, "start-block"))
    sent = client->send_StartBlockBroadcast(true, session.retry(), &st);
  else
    sent = client->send_EndBlockBroadcast(true, session.retry(), &st);
  if (!sent) gen_error("config: %s not sent: %s", op, st.message);
  return sent;
}

int runConfig(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc < 2) return KorvoCtl_UsageError(kConfig, "an operation is needed");
  std::string problem = checkArgs(argc, argv);
  if (!problem.empty()) return KorvoCtl_UsageError(kConfig, problem.c_str());
  auto *client = new PrintingListener;
  bool ok = KorvoCtl_ConnectService(session, "config", "BroadcastService.Config", client) &&
            perform(client, session, argc, argv);
  client->delRef();
  return ok ? kKorvoCtlOk : kKorvoCtlFailed;
}

}  // namespace
