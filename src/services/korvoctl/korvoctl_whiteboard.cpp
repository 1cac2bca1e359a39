// korvoctl subcommand "wb": the WhiteBoard, the typed settings store that
// every IDE process shares. Reading a group asks the server for a snapshot;
// every change is followed by one, which confirms that the server has
// handled it before korvoctl ends.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "services/korvoctl/korvoctl_command.h"
#include "services/korvoctl/korvoctl_service.h"
#include "services/korvoctl/korvoctl_session.h"
#include "services/korvoctl/korvoctl_wb_client.h"
#include "services/korvoctl/korvoctl_wb_text.h"
#include "shared/indgen.h"

namespace {

int runGroups(KorvoCtl_Session &, int, char **);
int runGet(KorvoCtl_Session &, int, char **);
int runSet(KorvoCtl_Session &, int, char **);
int runDelete(KorvoCtl_Session &, int, char **);
int runWatch(KorvoCtl_Session &, int, char **);
int runDump(KorvoCtl_Session &, int, char **);
int runLoad(KorvoCtl_Session &, int, char **);
int runSave(KorvoCtl_Session &, int, char **);
int runWb(KorvoCtl_Session &session, int argc, char **argv);

const KorvoCtl_Operation kOperations[] = {
    {"groups", "", "Print the name of every group that holds values, one per line", "", runGroups},
    {"get", "GROUP [NAME]", "Print the values of GROUP, or those of NAME in it",
     "One line per value: NAME<TAB>TYPE<TAB>VALUE, TYPE one of bool, int, string,\n"
     "list. A list prints its elements in fields of their own. A name that holds\n"
     "several types prints one line per type. A backslash, TAB, newline or\n"
     "carriage return inside a name or value prints as \\\\, \\t, \\n or \\r.\n"
     "Exit status 1 when the name (or the whole group) holds no value.\n",
     runGet},
    {"set", "GROUP NAME --bool|--int|--string|--list VALUE...", "Set one value",
     "  --bool true|false|1|0    --int NUMBER (32 bits)\n"
     "  --string TEXT            --list [ELEMENT...] (each word one element)\n"
     "Every word after the type option is a value, also one that starts\n"
     "with \"-\". The group is created when it does not exist; it is not kept\n"
     "on disk unless someone registered it so (see save).\n",
     runSet},
    {"delete", "GROUP NAME [--type bool|int|string|list]", "Delete a name, of one type or of all",
     "Exit status 1 when the name holds no value of that type.\n", runDelete},
    {"watch", "[GROUP...]", "Print every change other processes make, until interrupted",
     "Without GROUP, watches the groups that hold values when it starts. Prints\n"
     "\"watching\", then one line per change:\n"
     "  TIME<TAB>set<TAB>GROUP<TAB>NAME<TAB>TYPE<TAB>VALUE...\n"
     "  TIME<TAB>delete<TAB>GROUP<TAB>NAME<TAB>TYPE (TYPE \"any\": every type)\n"
     "TIME is UTC, as 2026-01-31T12:00:00.000Z; fields are escaped as for get.\n"
     "A group named here is created when it does not exist.\n",
     runWatch},
    {"dump", "[GROUP...]", "Write groups (all without GROUP) as text that load reads back",
     "The format (docs/korvoctl_whiteboard_text.md): a [GROUP] line, then\n"
     "NAME TYPE VALUE... per value, strings in double quotes with \\\" \\\\ \\t \\n\n"
     "\\r and \\xHH escapes. Groups and values come in byte order of their names.\n",
     runDump},
    {"load", "[FILE]", "Set the values of a dump read from FILE (or standard input)",
     "The whole text is checked first; any error is printed as FILE:LINE: message\n"
     "and then nothing is sent (exit status 1). Names the text does not hold\n"
     "are left as they are.\n",
     runLoad},
    {"save", "GROUP [FILE]", "Ask the state manager to write GROUP to its file (or to FILE) now",
     "The group is merged into the file: names the file holds and the group\n"
     "does not are kept. Without FILE, the group's own file in the WhiteBoard\n"
     "folder of the user's configuration directory.\n",
     runSave},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

const KorvoCtl_Command kWb = {
    "wb", "OPERATION [ARGS]", "Read, change, watch, dump and load the WhiteBoard settings",
    "Values live in named groups; each name may hold a bool, an int (32 bits), a\n"
    "string and a list of strings at once. Changes reach every process that\n"
    "watches the group.\n",
    runWb, kOperations};

KorvoCtl_Registrar registerWb(kWb);

int runWb(KorvoCtl_Session &session, int argc, char **argv) {
  return KorvoCtl_RunOperation(kWb, session, argc, argv);
}

const KorvoCtl_Operation &op(const char *name) { return *KorvoCtl_FindOperation(kWb, name); }

int usage(const char *name, const std::string &text) {
  return KorvoCtl_OperationUsageError(kWb, op(name), text.c_str());
}

// Holds the connection for one operation and releases it.
struct Connection {
  explicit Connection(KorvoCtl_Session &session) : client(KorvoCtl_WbClient::connect(session)) {}
  ~Connection() {
    if (client) client->delRef();
  }
  KorvoCtl_WbClient *client;
};

bool holds(const std::vector<KorvoCtl_WbValue> &values, const KorvoCtl_WbValue &v) {
  for (const KorvoCtl_WbValue &have : values)
    if (KorvoCtl_WbSameValue(have, v)) return true;
  return false;
}

// The names of the groups that hold values, sorted, each once.
std::vector<std::string> groupNames(const std::vector<KorvoCtl_WbValue> &values) {
  std::vector<std::string> groups;
  for (const KorvoCtl_WbValue &v : values)
    if (groups.empty() || groups.back() != v.group) groups.push_back(v.group);
  return groups;
}

int runGroups(KorvoCtl_Session &session, int argc, char **) {
  if (argc != 1) return usage("groups", "takes no arguments");
  Connection c(session);
  std::vector<KorvoCtl_WbValue> values;
  if (!c.client || !c.client->snapshot(nullptr, &values)) return kKorvoCtlFailed;
  for (const std::string &g : groupNames(values))
    std::printf("%s\n", KorvoCtl_WbEscapeField(g).c_str());
  return kKorvoCtlOk;
}

int runGet(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc < 2 || argc > 3) return usage("get", "needs a group and at most one name");
  Connection c(session);
  std::vector<KorvoCtl_WbValue> values;
  if (!c.client || !c.client->snapshot(argv[1], &values)) return kKorvoCtlFailed;
  bool printed = false;
  for (const KorvoCtl_WbValue &v : values) {
    if (argc == 3 && v.name != argv[2]) continue;
    std::printf("%s\n", KorvoCtl_WbGetLine(v).c_str());
    printed = true;
  }
  if (printed) return kKorvoCtlOk;
  if (argc == 3)
    gen_error("wb get: %s holds no value named %s", argv[1], argv[2]);
  else
    gen_error("wb get: no values in group %s", argv[1]);
  return kKorvoCtlFailed;
}

// Reads "GROUP NAME --TYPE VALUE..." into `v`; empty text or the problem.
std::string parseSet(int argc, char **argv, KorvoCtl_WbValue *v) {
  if (argc < 4) return "needs a group, a name and a type option";
  v->group = argv[1];
  v->name = argv[2];
  if (v->group.empty() || v->name.empty()) return "the group and the name must not be empty";
  std::string option = argv[3];
  v->type = option.rfind("--", 0) == 0 ? KorvoCtl_WbTypeFromName(option.substr(2)) : -1;
  if (v->type <= kWbAny) return "not a type option: " + option + " (--bool, --int, --string or --list)";
  int n = argc - 4;
  if (v->type != kWbList && n != 1) return option + " takes exactly one value";
  if (v->type == kWbBool && !KorvoCtl_WbParseBool(argv[4], &v->boolValue))
    return std::string("not true, false, 1 or 0: ") + argv[4];
  if (v->type == kWbInt && !KorvoCtl_WbParseInt(argv[4], &v->intValue))
    return std::string("not a 32-bit whole number: ") + argv[4];
  if (v->type == kWbString || v->type == kWbList) v->strings.assign(argv + 4, argv + argc);
  return "";
}

// Sends the values of `groups` (registered first) and checks with a
// snapshot of each group that the server holds them all.
bool sendAndConfirm(KorvoCtl_WbClient *client, const std::vector<std::string> &groups,
                    const std::vector<KorvoCtl_WbValue> &values) {
  for (const std::string &g : groups)
    if (!client->registerGroup(g, false)) return false;
  for (const KorvoCtl_WbValue &v : values)
    if (!client->send(v)) return false;
  for (const std::string &g : groups) {
    std::vector<KorvoCtl_WbValue> now;
    if (!client->snapshot(g.c_str(), &now)) return false;
    for (const KorvoCtl_WbValue &v : values)
      if (v.group == g && !holds(now, v)) {
        gen_error("wb: the WhiteBoard did not keep %s %s in %s", v.name.c_str(),
                  KorvoCtl_WbTypeName(v.type), g.c_str());
        return false;
      }
  }
  return true;
}

int runSet(KorvoCtl_Session &session, int argc, char **argv) {
  KorvoCtl_WbValue v;
  std::string problem = parseSet(argc, argv, &v);
  if (!problem.empty()) return usage("set", problem);
  Connection c(session);
  bool ok = c.client && sendAndConfirm(c.client, {v.group}, {v});
  return ok ? kKorvoCtlOk : kKorvoCtlFailed;
}

// True when `values` holds `name` with a type that `type` selects.
bool holdsName(const std::vector<KorvoCtl_WbValue> &values, const std::string &name, int type) {
  for (const KorvoCtl_WbValue &v : values)
    if (v.name == name && (type == kWbAny || v.type == type)) return true;
  return false;
}

int runDelete(KorvoCtl_Session &session, int argc, char **argv) {
  int type = kWbAny;
  if (argc == 5 && std::strcmp(argv[3], "--type") == 0) {
    type = KorvoCtl_WbTypeFromName(argv[4]);
    if (type <= kWbAny) return usage("delete", std::string("not a type: ") + argv[4]);
  } else if (argc != 3) {
    return usage("delete", "needs a group, a name and at most --type TYPE");
  }
  Connection c(session);
  std::vector<KorvoCtl_WbValue> values;
  if (!c.client || !c.client->snapshot(argv[1], &values)) return kKorvoCtlFailed;
  if (!holdsName(values, argv[2], type)) {
    gen_error("wb delete: %s holds no such value named %s", argv[1], argv[2]);
    return kKorvoCtlFailed;
  }
  if (!c.client->sendDelete(argv[1], argv[2], type) || !c.client->snapshot(argv[1], &values))
    return kKorvoCtlFailed;
  return holdsName(values, argv[2], type) ? kKorvoCtlFailed : kKorvoCtlOk;
}

int runWatch(KorvoCtl_Session &session, int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (!*argv[i]) return usage("watch", "a group name must not be empty");
  Connection c(session);
  std::vector<KorvoCtl_WbValue> values;
  if (!c.client || !c.client->snapshot(nullptr, &values)) return kKorvoCtlFailed;
  std::vector<std::string> groups = argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                                             : groupNames(values);
  if (groups.empty()) {
    gen_error("wb watch: no group holds values yet; name the groups to watch");
    return kKorvoCtlFailed;
  }
  for (const std::string &g : groups)
    if (!c.client->registerGroup(g, true)) return kKorvoCtlFailed;
  // Answered after the registrations, so every change from now on is seen.
  if (!c.client->snapshot(groups[0].c_str(), &values)) return kKorvoCtlFailed;
  c.client->startPrinting();
  return KorvoCtl_ServeUntilInterrupted(session, c.client, "watching", "wb watch", "the WhiteBoard")
             ? kKorvoCtlOk
             : kKorvoCtlFailed;
}

int runDump(KorvoCtl_Session &session, int argc, char **argv) {
  std::vector<std::string> groups;
  for (int i = 1; i < argc; ++i) {
    if (!*argv[i]) return usage("dump", "a group name must not be empty");
    if (std::find(groups.begin(), groups.end(), argv[i]) == groups.end()) groups.push_back(argv[i]);
  }
  Connection c(session);
  std::vector<KorvoCtl_WbValue> values, group;
  if (!c.client) return kKorvoCtlFailed;
  if (groups.empty()) {
    if (!c.client->snapshot(nullptr, &values)) return kKorvoCtlFailed;
    groups = groupNames(values);
  } else {
    for (const std::string &g : groups) {
      if (!c.client->snapshot(g.c_str(), &group)) return kKorvoCtlFailed;
      values.insert(values.end(), group.begin(), group.end());
    }
  }
  std::fputs(KorvoCtl_WbFormatDump(groups, values).c_str(), stdout);
  return kKorvoCtlOk;
}

// The whole of `path` ("-": standard input); false when it cannot be read.
bool readAll(const std::string &path, std::string *text) {
  if (path == "-") {
    text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return !in.bad();
}

int runLoad(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc > 2) return usage("load", "takes at most one file");
  std::string path = argc == 2 ? argv[1] : "-", text;
  if (!readAll(path, &text)) {
    gen_error("wb load: cannot read %s", path.c_str());
    return kKorvoCtlFailed;
  }
  KorvoCtl_WbDump dump;
  std::vector<std::string> errors;
  if (!KorvoCtl_WbParseDump(text, path == "-" ? "<stdin>" : path, &dump, &errors)) {
    std::fflush(stdout);
    for (const std::string &e : errors) std::fprintf(stderr, "%s\n", e.c_str());
    gen_error("wb load: nothing was sent");
    return kKorvoCtlFailed;
  }
  Connection c(session);
  bool ok = c.client && sendAndConfirm(c.client, dump.groups, dump.values);
  return ok ? kKorvoCtlOk : kKorvoCtlFailed;
}

int runSave(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc < 2 || argc > 3) return usage("save", "needs a group and at most one file");
  // The state manager has a working directory of its own.
  std::string file = argc == 3 ? argv[2] : "";
  if (!file.empty() && file[0] != '/') file = std::string(gen_getcwd()) + "/" + file;
  Connection c(session);
  std::vector<KorvoCtl_WbValue> values;
  if (!c.client || !c.client->snapshot(argv[1], &values)) return kKorvoCtlFailed;
  if (values.empty()) {
    gen_error("wb save: no values in group %s", argv[1]);
    return kKorvoCtlFailed;
  }
  // The snapshot behind the request is answered once the file is written.
  if (!c.client->sendSave(argv[1], file.empty() ? nullptr : file.c_str()) ||
      !c.client->snapshot(argv[1], &values))
    return kKorvoCtlFailed;
  if (!file.empty() && access(file.c_str(), F_OK) != 0) {
    gen_error("wb save: the state manager did not write %s", file.c_str());
    return kKorvoCtlFailed;
  }
  return kKorvoCtlOk;
}

}  // namespace
