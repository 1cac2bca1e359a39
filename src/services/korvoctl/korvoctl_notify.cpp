// korvoctl subcommands "notify" and "listen": the file-change broadcast.
// "notify" sends one event to "BroadcastService.File.Notify"; "listen"
// connects to "BroadcastService.File.Listen", narrows the kinds of event it
// wants, and prints every event as it arrives, one tab-separated line each.
#include <cstdio>
#include <cstring>
#include <string>

#include "filebroadcast_listener_impl.h"
#include "filenotify_notifier_impl.h"
#include "services/korvoctl/korvoctl_command.h"
#include "services/korvoctl/korvoctl_service.h"
#include "services/korvoctl/korvoctl_session.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"

namespace {

int runNotify(KorvoCtl_Session &session, int argc, char **argv);
int runListen(KorvoCtl_Session &session, int argc, char **argv);

const KorvoCtl_Command kNotify = {
    "notify", "KIND ARGS",
    "Tell every file listener that a file changed",
    "  created FILE | modified FILE | removed FILE\n"
    "      a local file changed (a relative FILE is taken from the current folder)\n"
    "  remotely-added REPOSITORY FILE BRANCH USER [--directory]\n"
    "  remotely-modified REPOSITORY FILE BRANCH USER VERSION\n"
    "  remotely-removed REPOSITORY FILE BRANCH USER\n"
    "      a file of a version-control repository changed elsewhere\n",
    runNotify};

const KorvoCtl_Command kListen = {
    "listen", "[--only KIND,KIND...]",
    "Print file-change events as they arrive",
    "Prints \"listening\", then one line per event until interrupted:\n"
    "  created<TAB>FILE, modified<TAB>FILE, removed<TAB>FILE,\n"
    "  remotely-added<TAB>REPOSITORY<TAB>FILE<TAB>BRANCH<TAB>USER<TAB>0|1 (1: a folder),\n"
    "  remotely-modified<TAB>REPOSITORY<TAB>FILE<TAB>BRANCH<TAB>USER<TAB>VERSION,\n"
    "  remotely-removed<TAB>REPOSITORY<TAB>FILE<TAB>BRANCH<TAB>USER.\n"
    "--only limits the events to the kinds named (created, modified, removed,\n"
    "remotely-added, remotely-modified, remotely-removed).\n",
    runListen};

KorvoCtl_Registrar registerNotify(kNotify);
KorvoCtl_Registrar registerListen(kListen);

// The kinds in the order of the listener's filter requests below.
const char *const kKinds[] = {"created", "modified", "removed", "remotely-added", "remotely-modified",
                              "remotely-removed"};
constexpr int kKindCount = 6;

int kindIndex(const char *name) {
  for (int i = 0; i < kKindCount; ++i)
    if (!std::strcmp(name, kKinds[i])) return i;
  return -1;
}

void printFields(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string &f : fields) line += (line.empty() ? "" : "\t") + f;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

using F = std::string;

class PrintingListener : public FileBroadcast_listener_Impl {
 public:
  void msg_FileCreated(int, const char *f) override { printFields({"created", KorvoCtl_Field(f)}); }
  void msg_FileModified(int, const char *f) override { printFields({"modified", KorvoCtl_Field(f)}); }
  void msg_FileRemoved(int, const char *f) override { printFields({"removed", KorvoCtl_Field(f)}); }
  void msg_FileRemotelyAdded(int, const char *r, const char *f, const char *b, const char *u,
                             bool dir) override {
    printFields({"remotely-added", KorvoCtl_Field(r), KorvoCtl_Field(f), KorvoCtl_Field(b), KorvoCtl_Field(u),
                 dir ? "1" : "0"});
  }
  void msg_FileRemotelyModified(int, const char *r, const char *f, const char *b, const char *u,
                                const char *v) override {
    printFields({"remotely-modified", KorvoCtl_Field(r), KorvoCtl_Field(f), KorvoCtl_Field(b),
                 KorvoCtl_Field(u), KorvoCtl_Field(v)});
  }
  void msg_FileRemotelyRemoved(int, const char *r, const char *f, const char *b, const char *u) override {
    printFields({"remotely-removed", KorvoCtl_Field(r), KorvoCtl_Field(f), KorvoCtl_Field(b), KorvoCtl_Field(u)});
  }
};

// ---- notify

// Checks the words of a notification; an empty text or the problem.
std::string checkNotify(int argc, char **argv) {
  int kind = kindIndex(argv[1]);
  int words = argc - 2;
  if (kind < 0) return std::string("unknown kind ") + argv[1];
  if (kind < 3) return words == 1 ? "" : std::string(argv[1]) + " takes a file name";
  if (kind == 3) {
    bool dir = words == 5 && !std::strcmp(argv[6], "--directory");
    return words == 4 || dir ? "" : "remotely-added takes a repository, a file, a branch and a user";
  }
  if (kind == 4) return words == 5 ? "" : "remotely-modified takes a repository, a file, a branch, a user and a version";
  return words == 4 ? "" : "remotely-removed takes a repository, a file, a branch and a user";
}

// A relative local file name made absolute from the current folder; a
// name starting with "/" or "~" is sent as it is (the sender expands "~").
std::string localName(const char *name) {
  if (name[0] == '/' || name[0] == '~') return name;
  const char *cwd = gen_getcwd();  // owned by the library
  return std::string(cwd ? cwd : ".") + "/" + name;
}

bool sendNotify(FileNotify_notifier_Impl *n, KorvoCtl_Session &session, int argc, char **argv) {
  int kind = kindIndex(argv[1]);
  char **a = argv + 2;
  TStat st;
  RetryHandler *rh = session.retry();
  bool sent;
  switch (kind) {
    case 0: sent = n->send_FileCreated(localName(a[0]).c_str(), true, rh, &st); break;
    case 1: sent = n->send_FileModified(localName(a[0]).c_str(), true, rh, &st); break;
    case 2: sent = n->send_FileRemoved(localName(a[0]).c_str(), true, rh, &st); break;
    case 3: sent = n->send_FileRemotelyAdded(a[0], a[1], a[2], a[3], argc == 7, true, rh, &st); break;
    case 4: sent = n->send_FileRemotelyModified(a[0], a[1], a[2], a[3], a[4], true, rh, &st); break;
    default: sent = n->send_FileRemotelyRemoved(a[0], a[1], a[2], a[3], true, rh, &st); break;
  }
  if (!sent) gen_error("notify: %s not sent: %s", argv[1], st.message);
  return sent;
}

int runNotify(KorvoCtl_Session &session, int argc, char **argv) {
  if (argc < 2) return KorvoCtl_UsageError(kNotify, "a kind of event is needed");
  std::string problem = checkNotify(argc, argv);
  if (!problem.empty()) return KorvoCtl_UsageError(kNotify, problem.c_str());
  auto *notifier = new FileNotify_notifier_Impl;
  bool ok = KorvoCtl_ConnectService(session, "notify", "BroadcastService.File.Notify", notifier) &&
            sendNotify(notifier, session, argc, argv);
  notifier->delRef();
  return ok ? kKorvoCtlOk : kKorvoCtlFailed;
}

// ---- listen

// Reads "--only a,b,c" into wanted[]; an empty text or the problem.
std::string parseOnly(int argc, char **argv, bool *wanted) {
  for (int i = 0; i < kKindCount; ++i) wanted[i] = true;
  if (argc == 1) return "";
  if (argc != 3 || std::strcmp(argv[1], "--only") != 0) return "the only option is --only KINDS";
  for (int i = 0; i < kKindCount; ++i) wanted[i] = false;
  std::string list = argv[2];
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int k = kindIndex(name.c_str());
    if (k < 0) return "unknown kind \"" + name + "\"";
    wanted[k] = true;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return "";
}

// Sends the six filter requests (written at once, in order, before any
// event can be missed or wrongly printed).
bool sendFilter(PrintingListener *l, KorvoCtl_Session &session, const bool *wanted) {
  RetryHandler *rh = session.retry();
  TStat st;
  bool ok = l->send_ListenForFileCreated(wanted[0], true, rh, &st) &&
            l->send_ListenForFileModified(wanted[1], true, rh, &st) &&
            l->send_ListenForFileRemoved(wanted[2], true, rh, &st) &&
            l->send_ListenForFileRemotelyAdded(wanted[3], true, rh, &st) &&
            l->send_ListenForFileRemotelyModified(wanted[4], true, rh, &st) &&
            l->send_ListenForFileRemotelyRemoved(wanted[5], true, rh, &st);
  if (!ok) gen_error("listen: filter not sent: %s", st.message);
  return ok;
}

bool serveListener(PrintingListener *l, KorvoCtl_Session &session) {
  return KorvoCtl_ServeUntilInterrupted(session, l, "listening", "listen", "the file-change service");
}

int runListen(KorvoCtl_Session &session, int argc, char **argv) {
  bool wanted[kKindCount];
  std::string problem = parseOnly(argc, argv, wanted);
  if (!problem.empty()) return KorvoCtl_UsageError(kListen, problem.c_str());
  auto *listener = new PrintingListener;
  bool ok = KorvoCtl_ConnectService(session, "listen", "BroadcastService.File.Listen", listener) &&
            sendFilter(listener, session, wanted) && serveListener(listener, session);
  listener->delRef();
  return ok ? kKorvoCtlOk : kKorvoCtlFailed;
}

}  // namespace
