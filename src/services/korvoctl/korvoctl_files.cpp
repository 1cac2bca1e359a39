// korvoctl subcommand "files": the FileRegistry, a register of file names
// by type shared by every IDE process.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fileregistry_client_impl.h"
#include "services/korvoctl/korvoctl_command.h"
#include "services/korvoctl/korvoctl_service.h"
#include "services/korvoctl/korvoctl_session.h"
#include "shared/indgen.h"

namespace {

int runFiles(KorvoCtl_Session &session, int argc, char **argv);

const KorvoCtl_Command kFiles = {
    "files", "add|remove|list TYPE [FILE]", "Add, remove or list the registered files of a type",
    "  add TYPE FILE     register FILE under TYPE (moves it to the front when it\n"
    "                    is there already)\n"
    "  remove TYPE FILE  forget FILE under TYPE\n"
    "  list TYPE         print the files of TYPE, most recently added first,\n"
    "                    one per line (nothing for an unknown type)\n"
    "Types are exact: \"C\" and \"c\" are two types. The register lives in the\n"
    "state manager and is shared by every process; it is not saved.\n",
    runFiles};

KorvoCtl_Registrar registerFiles(kFiles);

// The files of `type`, printed when `print` is set. False when no answer came.
bool listFiles(FileRegistry_client_Impl *client, KorvoCtl_Session &session, const char *type,
               bool print) {
  int num = 0;
  char **files = nullptr;
  TStat st;
  if (!client->send_GetFiles(type, &num, &files, session.retry(), &st)) {
    gen_error("files: no answer from the FileRegistry: %s", st.message);
    return false;
  }
  for (int i = 0; i < num && print; ++i) std::printf("%s\n", KorvoCtl_Field(files[i]).c_str());
  STPArray_free(files, num, STPField_freeString);
  return true;
}

int runFiles(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc < 2) return KorvoCtl_UsageError(kFiles, "add, remove or list is needed");
  const char *op = argv[1];
  bool isList = std::strcmp(op, "list") == 0;
  bool isAdd = std::strcmp(op, "add") == 0;
  bool isRemove = std::strcmp(op, "remove") == 0;
  if (!isList && !isAdd && !isRemove)
    return KorvoCtl_UsageError(kFiles, (std::string("unknown operation ") + op).c_str());
  if (argc != (isList ? 3 : 4))
    return KorvoCtl_UsageError(kFiles, isList ? "list takes a type" : "needs a type and a file");
  const char *type = argv[2];
  auto *client = new FileRegistry_client_Impl;
  bool ok = KorvoCtl_ConnectService(session, "files", "FileRegistry", client);
  if (ok && !isList) {
    TStat st;
    ok = isAdd ? client->send_AddFile(argv[3], type, true, session.retry(), &st)
               : client->send_RemoveFile(argv[3], type, true, session.retry(), &st);
    if (!ok) gen_error("files: %s not sent: %s", op, st.message);
  }
  // A list after add or remove confirms that the register has handled it.
  if (ok) ok = listFiles(client, session, type, isList);
  client->delRef();
  return ok ? kKorvoCtlOk : kKorvoCtlFailed;
}

}  // namespace
