// e2e_script_client: a test client of the FileRegistry, the MRUService or
// the "Editor.Other" service, or of the router itself, driven line by line
// from standard input.
//
//   e2e_script_client files|mru|editor|router -sr_connect_servicerouter_port PORT
//
// It connects to the router named by the options, asks for the service
// (not in router mode), prints "ready" and then runs one command per input
// line, answering each with its results and "ok <command>" (or "fail
// <command>"). Strings are
// single words; "-" stands for a null string. Output is flushed line by
// line. Commands:
//   files:   add TYPE FILE | addbig TYPE BYTES (a name of that many "x")
//            | list TYPE
//   mru:     geometry CLASS WINDOW X Y WIDTH HEIGHT (opens the window and
//            stores its geometry)
//   editor:  builderror FILE LINE WINDOW (EditBuildErrorInFile, asking for
//            a window when WINDOW is not 0)
//   router:  setwd DIR (SetWorkingDir)
//            | connect SERVICE [wd=DIR] [noreuse] [clientstart]
//              (a RouterEcho connection: "provider ID")
//            | cwd ID ("cwd VALUE") | pids (started plugins: "pids PID...")
//            | launch PROGRAM ARGS... (client start: "plugin ID errors TEXT")
//   all:     mapped TEXT (a mapping of this process names it: "mapped yes|no")
//            | quit
// The end of the input, or of the router, quits too. In router mode the
// shut-down is verbose and then prints "reaped PID" for each started plugin
// it reaped ("running PID" otherwise). Exit status 0, or 1 when the
// service could not be reached.
#include <unistd.h>

#include <cstdio>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fileregistry_client_impl.h"
#include "korvoeditor_client_impl.h"
#include "mruservice_client_impl.h"
#include "routerecho_client_impl.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_idle_notifier.h"

namespace {

void say(const std::string &line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

const char *orDash(const char *s) { return s ? s : "-"; }
const char *orNull(const std::string &s) { return s == "-" ? nullptr : s.c_str(); }

// The outside-editor services never send.
class EditorClient : public KorvoEditor_client_Impl {
 public:
  void msg_GoToNextError() override {}
  void msg_GoToPreviousError() override {}
  void msg_RequestNextPrevErrorStatus() override {}
  void msg_RetryBuild() override {}
};

// Standard input as a socket listener of the idle notifier: complete lines
// are collected for the main loop.
class StdinLines : public SocketListener {
 public:
  std::vector<std::string> lines;
  bool eof = false;
  bool hasFD() override { return true; }
  int getFD() override { return 0; }
  bool wantsToRead() override { return !eof; }
  bool wantsToWrite() override { return false; }
  bool wantsToDequeueAndDispatch() override { return false; }
  bool wantsToStop() override { return false; }
  void handleRead() override {
    char buf[4096];
    ssize_t n = read(0, buf, sizeof buf);
    eof = n <= 0;
    partial.append(buf, static_cast<size_t>(eof ? 0 : n));
    for (size_t nl; (nl = partial.find('\n')) != std::string::npos; partial.erase(0, nl + 1))
      lines.push_back(partial.substr(0, nl));
  }
  void handleWrite() override {}
  void handleDequeueAndDispatch() override {}
  void handleStop() override {}

 private:
  std::string partial;
};

std::vector<std::string> words(const std::string &line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool fileCommand(FileRegistry_client_Impl *c, const std::vector<std::string> &w) {
  const std::string &op = w[0];
  if (op == "add" && w.size() == 3) return c->send_AddFile(orNull(w[2]), orNull(w[1]), true);
  if (op == "addbig" && w.size() == 3) {
    std::string big(std::strtoul(w[2].c_str(), nullptr, 10), 'x');
    return c->send_AddFile(big.c_str(), orNull(w[1]), true);
  }
  if (op == "list" && w.size() == 2) {
    int num = 0;
    char **files = nullptr;
    if (!c->send_GetFiles(orNull(w[1]), &num, &files)) return false;
    for (int i = 0; i < num; ++i) say(std::string("file ") + orDash(files[i])), free(files[i]);
    say("end " + std::to_string(num));
    free(files);
    return true;
  }
  return false;
}

bool mruCommand(MRUService_client_Impl *c, const std::vector<std::string> &w) {
  if (w[0] != "geometry" || w.size() != 7) return false;
  auto n = [&](int i) { return std::atoi(w[2 + i].c_str()); };
  int sequence, first, prev, x, y, width, height;
  return c->send_CreateWindow(w[1].c_str(), n(0), &sequence, &first, &prev, &x, &y, &width, &height) &&
         c->send_UpdateWindowSavedGeometry(w[1].c_str(), n(1), n(2), n(3), n(4));
}

bool editorCommand(EditorClient *c, const std::vector<std::string> &w) {
  if (w[0] == "builderror" && w.size() == 4)
    return c->send_EditBuildErrorInFile(orNull(w[1]), std::atoi(w[2].c_str()), w[3] != "0",
                                        "error", true);
  return false;
}

bool mapped(const std::string &text) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// A RouterEcho client that takes no notice of what it is sent.
class QuietEcho : public RouterEcho_client_Impl {
 public:
  void msg_Notify(int, const char *) override {}
  void msg_Pong(int, const char *) override {}
};

// Router mode: connections made by "connect", one reference each.
std::vector<STPSpecClass *> g_connections;

bool connectCommand(const std::vector<std::string> &w) {
  std::string dir;
  bool noReuse = false, clientStart = false, found = false, accepted = false;
  for (size_t i = 2; i < w.size(); ++i) {
    if (w[i].rfind("wd=", 0) == 0) dir = w[i].substr(3);
    else if (w[i] == "noreuse") noReuse = true;
    else if (w[i] == "clientstart") clientStart = true;
    else return false;
  }
  STPSpecClass *c = new QuietEcho;
  g_connections.push_back(c);  // released at the end, connected or not
  if (!servicerouter_proxy->getServiceConnection(w[1].c_str(), c, &found, &accepted, nullptr,
                                                 dir.empty() ? nullptr : dir.c_str(), false,
                                                 noReuse, clientStart))
    return false;
  say("provider " + std::to_string(servicerouter_proxy->getPluginIdForConnection(c)));
  return true;
}

bool launchCommand(const std::vector<std::string> &w) {
  std::vector<char *> argv;
  for (size_t i = 1; i < w.size(); ++i) argv.push_back(const_cast<char *>(w[i].c_str()));
  argv.push_back(nullptr);
  char *errors = nullptr;
  int id = servicerouter_proxy->launchPlugin(argv.data(), static_cast<int>(w.size() - 1),
                                             nullptr, true, &errors);
  say("plugin " + std::to_string(id) + " errors " + (errors ? errors : ""));
  gen_free(errors);
  return id != -1;
}

bool routerCommand(const std::vector<std::string> &w) {
  const std::string &op = w[0];
  if (op == "setwd" && w.size() == 2) return servicerouter_proxy->send_SetWorkingDir(w[1].c_str());
  if (op == "connect" && w.size() >= 2) return connectCommand(w);
  if (op == "launch" && w.size() >= 2) return launchCommand(w);
  if (op == "cwd" && w.size() == 2) {
    const char *v = servicerouter_proxy->getCwdOfPlugin(std::atoi(w[1].c_str()), nullptr);
    say(std::string("cwd ") + orDash(v));
    return v != nullptr;
  }
  if (op == "pids" && w.size() == 1) {
    std::string line = "pids";
    for (int pid : servicerouter_proxy->getPluginPids()) line += " " + std::to_string(pid);
    say(line);
    return true;
  }
  return false;
}

// Router mode's end: which started plugins the shut-down reaped.
void sayReaped(const std::vector<int> &pids) {
  for (int pid : pids) {
    int status = 0;
    bool gone = ::waitpid(pid, &status, WNOHANG) == -1 && errno == ECHILD;
    say((gone ? "reaped " : "running ") + std::to_string(pid));
  }
}

}  // namespace

int main(int argc, char **argv) {
  gen_init(argv[0], 0, 0);
  std::string mode = argc > 1 ? argv[1] : "";
  bool router = mode == "router";
  if (!ServiceRouter_Proxy::startup(false, &argc, argv, nullptr, false, nullptr, true, false)) {
    say("error router");
    return 1;
  }
  STPSpecClass *endpoint = mode == "mru"      ? new MRUService_client_Impl
                           : mode == "editor" ? static_cast<STPSpecClass *>(new EditorClient)
                           : router           ? nullptr
                                              : new FileRegistry_client_Impl;
  const char *service = mode == "mru" ? "MRUService" : mode == "editor" ? "Editor.Other" : "FileRegistry";
  bool found = false, accepted = false;
  if (endpoint && !servicerouter_proxy->getServiceConnection(service, endpoint, &found, &accepted, nullptr,
                                                             nullptr, false, false, false)) {
    say("error connect");
    endpoint->delRef();
    ServiceRouter_Proxy::shutdown(false);
    return 1;
  }
  say("ready");
  StdinLines input;
  IdleNotifier *notifier = getIdleNotifier();
  notifier->addSocketListener(&input);
  bool quit = false;
  while (!quit && servicerouter_proxy->isTransportAlive() && !(endpoint && endpoint->isDown())) {
    notifier->notifyIdle(false);
    notifier->notifyTimers();
    notifier->notifySocketActivity(1000, true);
    std::vector<std::string> lines;
    lines.swap(input.lines);
    for (const std::string &line : lines) {
      std::vector<std::string> w = words(line);
      if (w.empty()) continue;
      if ((quit = w[0] == "quit")) break;
      bool ok = w[0] == "mapped" && w.size() == 2;
      if (ok) say(mapped(w[1]) ? "mapped yes" : "mapped no");
      else if (router) ok = routerCommand(w);
      else if (mode == "mru") ok = mruCommand(static_cast<MRUService_client_Impl *>(endpoint), w);
      else if (mode == "editor") ok = editorCommand(static_cast<EditorClient *>(endpoint), w);
      else ok = fileCommand(static_cast<FileRegistry_client_Impl *>(endpoint), w);
      say((ok ? "ok " : "fail ") + line);
    }
    if (input.eof) quit = true;
  }
  notifier->removeSocketListener(&input);
  if (endpoint) endpoint->delRef();
  for (STPSpecClass *c : g_connections) c->delRef();
  std::vector<int> pids = servicerouter_proxy->getPluginPids();
  ServiceRouter_Proxy::shutdown(router);
  if (router) sayReaped(pids);
  return 0;
}
