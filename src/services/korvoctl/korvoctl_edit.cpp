// korvoctl subcommand "edit": opens a file in the configured outside editor
// through one of the editor services ("Editor.Vi", "Editor.Emacs",
// "Editor.Other").
#include <cstdio>
#include <cstring>
#include <string>

#include "korvoeditor_client_impl.h"
#include "services/korvoctl/korvoctl_command.h"
#include "services/korvoctl/korvoctl_service.h"
#include "services/korvoctl/korvoctl_session.h"
#include "shared/indgen.h"
#include "windlib/config/defaultconfig.h"
#include "windlib/config/editor_defaultconfig.h"

namespace {

int runEdit(KorvoCtl_Session &session, int argc, char **argv);

const KorvoCtl_Command kEdit = {
    "edit", "FILE [LINE] [--editor vi|emacs|other]",
    "Open FILE at LINE in an outside editor",
    "  --editor vi|emacs|other  the editor service to ask (Editor.Vi, Editor.Emacs,\n"
    "                           Editor.Other); without it, the one that the\n"
    "                           configuration's ExtEditor_Choice names\n"
    "FILE is taken relative to the current directory, which is also where the\n"
    "editor starts. LINE defaults to 1. The editor's path, argument format and\n"
    "xterm use come from the configuration (ExtEditor_ViPath, ...). Prints\n"
    "SERVICE<tab>FILE<tab>LINE once the request is sent.\n",
    runEdit};

KorvoCtl_Registrar registerEdit(kEdit);

// The editor protocol's client side. The outside-editor services never
// send; requests from other editors are ignored.
class EditClient : public KorvoEditor_client_Impl {
 public:
  void msg_GoToNextError() override {}
  void msg_GoToPreviousError() override {}
  void msg_RequestNextPrevErrorStatus() override {}
  void msg_RetryBuild() override {}
};

struct EditArgs {
  const char *file = nullptr;
  int line = 1;
  const char *service = nullptr;  // null: from the configuration
};

// The service of "--editor KIND", or null for an unknown kind.
const char *serviceForKind(const char *kind) {
  if (gen_strequal(kind, "vi")) return "Editor.Vi";
  if (gen_strequal(kind, "emacs")) return "Editor.Emacs";
  if (gen_strequal(kind, "other")) return "Editor.Other";
  return nullptr;
}

// Reads the words after "edit"; an empty result is success, otherwise the
// usage error to report.
std::string parse(int argc, char **argv, EditArgs *args) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--editor") == 0) {
      if (i + 1 >= argc) return "--editor needs vi, emacs or other";
      args->service = serviceForKind(argv[++i]);
      if (!args->service) return std::string("unknown editor ") + argv[i];
    } else if (positional == 0) {
      args->file = argv[i];
      ++positional;
    } else if (positional == 1) {
      if (!KorvoCtl_ParseInt(argv[i], &args->line)) return std::string("bad line ") + argv[i];
      ++positional;
    } else {
      return std::string("unexpected ") + argv[i];
    }
  }
  if (!args->file || !*args->file) return "a file is needed";
  return "";
}

// The service the configuration chooses (its defaults, the site and user
// configuration files, then the WhiteBoard's values), or null with the
// reason printed.
const char *configuredService() {
  if (!Config_EstablishConnection()) {
    gen_error("edit: could not read the editor choice from the configuration");
    return nullptr;
  }
  const char *service = getEditorServiceName(false, nullptr);
  if (std::strcmp(service, "Editor.Korvo") == 0) {
    gen_error("edit: the configured editor is the built-in Korvo editor, which is not available "
              "here; use --editor vi|emacs|other or set ExtEditor_Choice to Vi, Emacs or Other");
    return nullptr;
  }
  return service;
}

int runEdit(KorvoCtl_Session &session, int argc, char **argv) {
  EditArgs args;
  std::string error = parse(argc, argv, &args);
  if (!error.empty()) return KorvoCtl_UsageError(kEdit, error.c_str());
  if (!session.connect()) return kKorvoCtlFailed;
  const char *service = args.service ? args.service : configuredService();
  if (!service) return kKorvoCtlFailed;
  char *path = gen_dconcat(gen_getcwd(), args.file);
  auto *client = new EditClient;
  bool ok = KorvoCtl_ConnectService(session, "edit", service, client);
  TStat st;
  if (ok && !(ok = client->send_EditFile(path, args.line, nullptr, true, session.retry(), &st)))
    gen_error("edit: the request to %s was not sent: %s", service, st.message);
  if (ok)
    std::printf("%s\t%s\t%d\n", service, KorvoCtl_Field(path).c_str(), args.line);
  client->delRef();
  gen_free(path);
  return ok ? kKorvoCtlOk : kKorvoCtlFailed;
}

}  // namespace
