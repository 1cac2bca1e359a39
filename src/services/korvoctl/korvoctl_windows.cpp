// korvoctl subcommand "windows": the WindowRegister, the list of the IDE's
// open windows, which shows, iconifies and closes them by relaying the
// request to the process that owns the window.
#include <cstdio>
#include <cstring>
#include <string>

#include "services/korvoctl/korvoctl_command.h"
#include "services/korvoctl/korvoctl_service.h"
#include "services/korvoctl/korvoctl_session.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "windowregister_client_impl.h"

namespace {

int runWindows(KorvoCtl_Session &session, int argc, char **argv);

const KorvoCtl_Command kWindows = {
    "windows", "list|show|iconify-all|show-all|close-all|register [ARGS]",
    "List the IDE's windows, show, iconify or close them, or register one",
    "  list                       print every registered window, one per line:\n"
    "                             CONNECTION<tab>CLASS<tab>TITLE<tab>ID\n"
    "  show CONNECTION [CLASS [ID]]\n"
    "                             ask the owner to show the window ID of CLASS on\n"
    "                             CONNECTION (as printed by list); \"-\" for\n"
    "                             CONNECTION or CLASS means any, ID 0 (the\n"
    "                             default) every window\n"
    "  iconify-all | show-all | close-all\n"
    "                             ask every owner to iconify, show or close all of\n"
    "                             its windows (close-all also empties the list)\n"
    "  register CLASS TITLE ID    register a window and keep it registered until\n"
    "                             interrupted; prints \"registered\", then each\n"
    "                             request that arrives for it:\n"
    "                             show|iconify|close<tab>CLASS<tab>TITLE<tab>ID\n",
    runWindows};

KorvoCtl_Registrar registerWindows(kWindows);

// Prints the requests relayed to it, one line each, at once.
class PrintingClient : public WindowRegister_client_Impl {
 public:
  void msg_CloseWindow(const char *c, const char *t, int w) override { print("close", c, t, w); }
  void msg_IconifyWindow(const char *c, const char *t, int w) override { print("iconify", c, t, w); }
  void msg_ShowWindow(const char *c, const char *t, int w) override { print("show", c, t, w); }

 private:
  static void print(const char *what, const char *c, const char *t, int w) {
    std::printf("%s\t%s\t%s\t%d\n", what, KorvoCtl_Field(c).c_str(), KorvoCtl_Field(t).c_str(), w);
    std::fflush(stdout);
  }
};

const char *anyIfDash(const char *s) { return std::strcmp(s, "-") == 0 ? nullptr : s; }

bool list(PrintingClient *client, KorvoCtl_Session &session) {
  WindowRegister__WindowInfoArray info;
  TStat st;
  if (!client->send_GetWindowList(&info, session.retry(), &st)) {
    gen_error("windows: no answer from the WindowRegister: %s", st.message);
    return false;
  }
  for (int i = 0; i < info.count; ++i) {
    const WindowRegister__WindowInfo &w = info.winInfo[i];
    std::printf("%s\t%s\t%s\t%d\n", KorvoCtl_Field(w.serviceName).c_str(),
                KorvoCtl_Field(w.className).c_str(), KorvoCtl_Field(w.windowName).c_str(), w.win);
  }
  WindowRegister__WindowInfoArray_free(&info);
  return true;
}

// Registers the window, then serves until interrupted or disconnected.
bool registerAndWait(PrintingClient *client, KorvoCtl_Session &session, const char *cls,
                     const char *title, int id) {
  TStat st;
  if (!client->send_AddWindow(cls, title, id, session.retry(), &st)) {
    gen_error("windows: register failed: %s", st.message);
    return false;
  }
  return KorvoCtl_ServeUntilInterrupted(session, client, "registered", "windows", "the WindowRegister");
}

// Checks the words of an operation; returns an empty text or the problem.
std::string checkArgs(const char *op, int argc, char **argv) {
  if (!std::strcmp(op, "list") || !std::strcmp(op, "iconify-all") || !std::strcmp(op, "show-all") ||
      !std::strcmp(op, "close-all"))
    return argc == 2 ? "" : std::string(op) + " takes no arguments";
  int id = 0;
  if (!std::strcmp(op, "show")) {
    if (argc < 3 || argc > 5) return "show takes a connection, a class and an id";
    if (argc == 5 && !KorvoCtl_ParseInt(argv[4], &id)) return std::string("not an id: ") + argv[4];
    return "";
  }
  if (!std::strcmp(op, "register")) {
    if (argc != 5) return "register takes a class, a title and an id";
    if (!KorvoCtl_ParseInt(argv[4], &id)) return std::string("not an id: ") + argv[4];
    return "";
  }
  return std::string("unknown operation ") + op;
}

bool perform(PrintingClient *client, KorvoCtl_Session &session, int argc, char **argv) {
  const char *op = argv[1];
  TStat st;
  bool sent = true;
  if (!std::strcmp(op, "list")) return list(client, session);
  if (!std::strcmp(op, "register")) {
    int id = 0;
    KorvoCtl_ParseInt(argv[4], &id);
    return registerAndWait(client, session, argv[2], argv[3], id);
  }
  if (!std::strcmp(op, "show")) {
    int id = 0;
    if (argc == 5) KorvoCtl_ParseInt(argv[4], &id);
    sent = client->send_ShowWindow(anyIfDash(argv[2]), argc >= 4 ? anyIfDash(argv[3]) : nullptr,
                                   nullptr, id, true, session.retry(), &st);
  } else if (!std::strcmp(op, "iconify-all")) {
    sent = client->send_IconifyAllWindows(true, session.retry(), &st);
  } else if (!std::strcmp(op, "show-all")) {
    sent = client->send_ShowAllWindows(true, session.retry(), &st);
  } else {
    sent = client->send_CloseAllWindows(true, session.retry(), &st);
  }
  if (!sent) gen_error("windows: %s not sent: %s", op, st.message);
  return sent;
}

int runWindows(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc < 2) return KorvoCtl_UsageError(kWindows, "an operation is needed");
  std::string problem = checkArgs(argv[1], argc, argv);
  if (!problem.empty()) return KorvoCtl_UsageError(kWindows, problem.c_str());
  auto *client = new PrintingClient;
  bool ok = KorvoCtl_ConnectService(session, "windows", "TWL_WindowRegisterService", client) &&
            perform(client, session, argc, argv);
  client->delRef();
  return ok ? kKorvoCtlOk : kKorvoCtlFailed;
}

}  // namespace
