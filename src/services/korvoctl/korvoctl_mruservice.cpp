// korvoctl subcommand "mru": the MRUService, which keeps the IDE's
// most-recently-used lists, list-view column layouts, saved window
// geometry and the last directory of each kind of file dialog.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mruservice_client_impl.h"
#include "services/korvoctl/korvoctl_command.h"
#include "services/korvoctl/korvoctl_service.h"
#include "services/korvoctl/korvoctl_session.h"
#include "shared/gen_holder.h"
#include "shared/indgen.h"

namespace {

int runLists(KorvoCtl_Session &, int, char **);
int runList(KorvoCtl_Session &, int, char **);
int runAdd(KorvoCtl_Session &, int, char **);
int runRemove(KorvoCtl_Session &, int, char **);
int runClear(KorvoCtl_Session &, int, char **);
int runColumns(KorvoCtl_Session &, int, char **);
int runGeometry(KorvoCtl_Session &, int, char **);
int runDirs(KorvoCtl_Session &, int, char **);
int runDir(KorvoCtl_Session &, int, char **);
int runMru(KorvoCtl_Session &session, int argc, char **argv);

const KorvoCtl_Operation kOperations[] = {
    {"lists", "", "Print the name of every list, one per line", "", runLists},
    {"list", "NAME", "Print the items of a list, most recent first, one per line",
     "The line number, counted from 0, is the item's SLOT. List names compare\n"
     "without regard to letter case. Exit status 1 when there is no such list.\n",
     runList},
    {"add", "NAME ITEM", "Make ITEM the most recent item of a list (created when missing)",
     "An item already in the list moves to the front; a list keeps 9 items.\n", runAdd},
    {"remove", "NAME SLOT", "Remove the item at SLOT (0: the most recent)",
     "Exit status 1 when the list has no such slot.\n", runRemove},
    {"clear", "NAME", "Remove a list with all its items",
     "Exit status 1 when there is no such list.\n", runClear},
    {"columns", "SET", "Print the column layout SET, one column per line",
     "NAME<TAB>WIDTH<TAB>SORT<TAB>HIDDEN, SORT one of ascending, descending, -;\n"
     "HIDDEN true or false; \"-\" for a missing name or width. Exit status 1 when\n"
     "the set holds no columns.\n",
     runColumns},
    {"geometry", "CLASS", "Print the saved geometry of a window class",
     "X<TAB>Y<TAB>WIDTH<TAB>HEIGHT, \"-\" for a value never saved. Exit status 1\n"
     "when nothing is saved for the class.\n",
     runGeometry},
    {"dirs", "", "Print the twelve file-dialog directories",
     "KIND<TAB>KEY<TAB>DIR per kind 0 to 11; KEY is the name in fcdir.ini (\"-\"\n"
     "for kind 11, which is never saved), DIR \"-\" when none is set.\n",
     runDirs},
    {"dir", "KIND [DIR]", "Print the directory of a file-dialog kind, or set and save it",
     "KIND is a number from 0 to 11 or its key (EditFileDir, ... any letter\n"
     "case). Setting makes DIR absolute and writes fcdir.ini at once.\n",
     runDir},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

const KorvoCtl_Command kMru = {
    "mru", "OPERATION [ARGS]",
    "Read and change recent lists, column layouts, window geometry and dialog directories",
    "Text fields print tabs and newlines as blanks, a missing text as \"-\".\n", runMru,
    kOperations};

KorvoCtl_Registrar registerMru(kMru);

// The keys of the file-dialog kinds in fcdir.ini; kind 11 has none.
const char *const kDirKeys[12] = {"EditFileDir",    "BuildFileDir",     "ExecutableDir",
                                  "EventFileDir",   "ConfigFileDir",    "TargetFileDir",
                                  "GeneralFileDir", "PlacerFileDir",    "IntegrateFileDir",
                                  "TraceFileDir",   "ConnectionFileDir", nullptr};

int runMru(KorvoCtl_Session &session, int argc, char **argv) {
  return KorvoCtl_RunOperation(kMru, session, argc, argv);
}

int usage(const char *name, const std::string &text) {
  return KorvoCtl_OperationUsageError(kMru, *KorvoCtl_FindOperation(kMru, name), text.c_str());
}

// Holds the connection for one operation and releases it.
struct Connection {
  explicit Connection(KorvoCtl_Session &session) : client(new MRUService_client_Impl) {
    if (!KorvoCtl_ConnectService(session, "mru", "MRUService", client)) {
      client->delRef();
      client = nullptr;
    }
  }
  ~Connection() {
    if (client) client->delRef();
  }
  MRUService_client_Impl *client;
};

bool answered(bool ok, const TStat &st) {
  if (!ok) gen_error("mru: no answer from the MRUService: %s", st.message);
  return ok;
}

// The list names, or the items of list `name`; false when no answer came.
bool fetch(KorvoCtl_Session &session, MRUService_client_Impl *client, const char *name,
           std::vector<std::string> *out) {
  MRUService_STRING_ARRAY a;
  TStat st;
  bool ok = name ? client->send_GetList(name, &a, session.retry(), &st)
                 : client->send_GetListNames(&a, session.retry(), &st);
  if (!answered(ok, st)) return false;
  out->clear();
  for (int i = 0; i < a.count; ++i) out->push_back(a.data[i] ? a.data[i] : "");
  MRUService_STRING_ARRAY_free(&a);
  return true;
}

void printFields(const std::vector<std::string> &lines) {
  for (const std::string &l : lines) std::printf("%s\n", KorvoCtl_Field(l.c_str()).c_str());
}

int runLists(KorvoCtl_Session &session, int argc, char **) {
  if (argc != 1) return usage("lists", "takes no arguments");
  Connection c(session);
  std::vector<std::string> names;
  if (!c.client || !fetch(session, c.client, nullptr, &names)) return kKorvoCtlFailed;
  printFields(names);
  return kKorvoCtlOk;
}

int runList(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc != 2) return usage("list", "needs a list name");
  Connection c(session);
  std::vector<std::string> names, items;
  if (!c.client || !fetch(session, c.client, nullptr, &names)) return kKorvoCtlFailed;
  bool found = false;
  for (const std::string &n : names) found |= strcasecmp(n.c_str(), argv[1]) == 0;
  if (!found) {
    gen_error("mru list: no list named %s", argv[1]);
    return kKorvoCtlFailed;
  }
  if (!fetch(session, c.client, argv[1], &items)) return kKorvoCtlFailed;
  printFields(items);
  return kKorvoCtlOk;
}

int runAdd(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc != 3) return usage("add", "needs a list name and an item");
  if (!*argv[1] || !*argv[2]) return usage("add", "the name and the item must not be empty");
  Connection c(session);
  TStat st;
  std::vector<std::string> items;
  if (!c.client) return kKorvoCtlFailed;
  if (!c.client->send_UpdateList(argv[1], argv[2], true, session.retry(), &st)) {
    gen_error("mru add: not sent: %s", st.message);
    return kKorvoCtlFailed;
  }
  // Answered once the update was handled; the item then leads the list.
  if (!fetch(session, c.client, argv[1], &items)) return kKorvoCtlFailed;
  if (items.empty() || strcasecmp(items[0].c_str(), argv[2]) != 0) {
    gen_error("mru add: %s did not take the item", argv[1]);
    return kKorvoCtlFailed;
  }
  return kKorvoCtlOk;
}

// Deletes `slot` of list `name` (-1: the whole list); false when it has no
// such slot or list.
bool deleteSlot(KorvoCtl_Session &session, const char *name, int slot) {
  Connection c(session);
  if (!c.client) return false;
  int ret = 0;
  TStat st;
  if (!answered(c.client->send_ModifyList(name, 1, slot, "", &ret, session.retry(), &st), st))
    return false;
  if (ret == 1) return true;
  if (slot < 0)
    gen_error("mru clear: no list named %s", name);
  else
    gen_error("mru remove: list %s has no slot %d", name, slot);
  return false;
}

int runRemove(KorvoCtl_Session &session, int argc, char **argv) {
  int slot = 0;
  if (argc != 3) return usage("remove", "needs a list name and a slot");
  if (!KorvoCtl_ParseInt(argv[2], &slot) || slot < 0)
    return usage("remove", std::string("not a slot: ") + argv[2]);
  return deleteSlot(session, argv[1], slot) ? kKorvoCtlOk : kKorvoCtlFailed;
}

int runClear(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc != 2) return usage("clear", "needs a list name");
  return deleteSlot(session, argv[1], -1) ? kKorvoCtlOk : kKorvoCtlFailed;
}

// A stored number (the value plus one, 0 for none) as printed.
std::string stored(int value) { return value == 0 ? "-" : std::to_string(value - 1); }

int runColumns(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc != 2) return usage("columns", "needs a set name");
  Connection c(session);
  MRUService_ColumnConfig_Array info;
  TStat st;
  if (!c.client || !answered(c.client->send_GetColumnInfo(argv[1], &info, session.retry(), &st), st))
    return kKorvoCtlFailed;
  for (int i = 0; i < info.count; ++i) {
    const MRUService_ColumnConfig_Info &col = info.columnInfos[i];
    const char *sort = col.sort == 0 ? "-" : col.sort < 0 ? "descending" : "ascending";
    std::printf("%s\t%s\t%s\t%s\n", KorvoCtl_Field(col.name).c_str(), stored(col.width).c_str(),
                sort, col.hidden ? "true" : "false");
  }
  int count = info.count;
  MRUService_ColumnConfig_Array_free(&info);
  if (count > 0) return kKorvoCtlOk;
  gen_error("mru columns: no columns in set %s", argv[1]);
  return kKorvoCtlFailed;
}

std::string plain(int value) { return value == -1 ? "-" : std::to_string(value); }

int runGeometry(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc != 2) return usage("geometry", "needs a window class");
  Connection c(session);
  int first = 0, x = -1, y = -1, w = -1, h = -1;
  TStat st;
  if (!c.client ||
      !answered(c.client->send_GetWindowSavedGeometry(argv[1], &first, &x, &y, &w, &h,
                                                      session.retry(), &st),
                st))
    return kKorvoCtlFailed;
  if (x == -1 && y == -1 && w == -1 && h == -1) {
    gen_error("mru geometry: nothing saved for class %s", argv[1]);
    return kKorvoCtlFailed;
  }
  std::printf("%s\t%s\t%s\t%s\n", plain(x).c_str(), plain(y).c_str(), plain(w).c_str(),
              plain(h).c_str());
  return kKorvoCtlOk;
}

// The directory of `kind` (null when none is set); false when no answer came.
bool getDir(KorvoCtl_Session &session, MRUService_client_Impl *client, int kind, std::string *dir,
            bool *set) {
  char *d = nullptr;
  TStat st;
  if (!answered(client->send_GetFCDir(kind, &d, session.retry(), &st), st)) return false;
  MallocString owned(d);
  *set = d != nullptr;
  *dir = d ? d : "";
  return true;
}

int runDirs(KorvoCtl_Session &session, int argc, char **) {
  if (argc != 1) return usage("dirs", "takes no arguments");
  Connection c(session);
  if (!c.client) return kKorvoCtlFailed;
  for (int kind = 0; kind < 12; ++kind) {
    std::string dir;
    bool set = false;
    if (!getDir(session, c.client, kind, &dir, &set)) return kKorvoCtlFailed;
    std::printf("%d\t%s\t%s\n", kind, kDirKeys[kind] ? kDirKeys[kind] : "-",
                set ? KorvoCtl_Field(dir.c_str()).c_str() : "-");
  }
  return kKorvoCtlOk;
}

// A kind given as a number 0..11 or as its key; -1 for anything else.
int dirKind(const char *text) {
  int kind = -1;
  if (KorvoCtl_ParseInt(text, &kind)) return kind >= 0 && kind < 12 ? kind : -1;
  for (int k = 0; k < 12; ++k)
    if (kDirKeys[k] && strcasecmp(kDirKeys[k], text) == 0) return k;
  return -1;
}

// Sets and saves the directory, then reads it back.
bool setDir(KorvoCtl_Session &session, MRUService_client_Impl *client, int kind, std::string dir) {
  if (dir[0] != '/') dir = std::string(gen_getcwd()) + "/" + dir;
  TStat st;
  if (!client->send_UpdateFCDir(kind, dir.c_str(), true, session.retry(), &st) ||
      !client->send_SaveFCDir(true, session.retry(), &st)) {
    gen_error("mru dir: not sent: %s", st.message);
    return false;
  }
  std::string now;
  bool set = false;
  if (!getDir(session, client, kind, &now, &set)) return false;
  if (set && now == dir) return true;
  gen_error("mru dir: the MRUService did not take %s", dir.c_str());
  return false;
}

int runDir(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc != 2 && argc != 3) return usage("dir", "needs a kind and at most one directory");
  int kind = dirKind(argv[1]);
  if (kind < 0) return usage("dir", std::string("not a kind (0 to 11 or a key): ") + argv[1]);
  if (argc == 3 && !*argv[2]) return usage("dir", "the directory must not be empty");
  Connection c(session);
  if (!c.client) return kKorvoCtlFailed;
  if (argc == 3) return setDir(session, c.client, kind, argv[2]) ? kKorvoCtlOk : kKorvoCtlFailed;
  std::string dir;
  bool set = false;
  if (!getDir(session, c.client, kind, &dir, &set)) return kKorvoCtlFailed;
  if (!set) {
    gen_error("mru dir: no directory for kind %d", kind);
    return kKorvoCtlFailed;
  }
  std::printf("%s\n", KorvoCtl_Field(dir.c_str()).c_str());
  return kKorvoCtlOk;
}

}  // namespace
