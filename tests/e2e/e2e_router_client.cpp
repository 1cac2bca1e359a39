// e2e_router_client: a router client (ServiceRouter_Proxy) driven line by
// line from standard input, for end-to-end tests of what the router does
// with the fields of its requests.
//
//   e2e_router_client -sr_connect_servicerouter_port PORT
//
// Prints "ready", then answers each command with its result lines and
// "ok <command>" or "fail <command>":
//   setwd DIR                  sends SetWorkingDir
//   connect SERVICE [wd=DIR] [noreuse] [clientstart]
//                              a RouterEcho connection; "provider ID"
//   cwd ID                     the "cwd" value of plugin ID: "cwd VALUE"
//   launch PROGRAM [ARGS...]   a client-started launch: "plugin ID errors TEXT"
//   pids                       the started plugins: "pids [PID...]"
//   files SERVICE FILE         a FileRegistry connection to SERVICE; adds FILE
//                              (type "t") and lists: "file NAME"... "provider ID"
//   mapped TEXT                whether a mapping of this process names TEXT:
//                              "mapped yes|no"
//   quit                       shuts the client down (verbose), then tells for
//                              each started plugin "reaped PID" when the
//                              shut-down reaped it, else "running PID"
// Standard input is read blocking: messages from the router are handled
// while a command waits for its answer.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "fileregistry_client_impl.h"
#include "services/router/router_testkit.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"

namespace {

std::vector<STPSpecClass *> g_connections;  // one reference each

void say(const std::string &line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::vector<std::string> words(const std::string &line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    size_t j = line.find(' ', i);
    if (j == std::string::npos) j = line.size();
    if (j > i) out.push_back(line.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

// Connects `endpoint` to `service` and keeps it; prints the provider.
bool connectTo(const std::string &service, STPSpecClass *endpoint, const char *dir,
               bool noReuse, bool clientStart) {
  bool found = false, accepted = false;
  if (!servicerouter_proxy->getServiceConnection(service.c_str(), endpoint, &found, &accepted,
                                                 nullptr, dir, false, noReuse, clientStart)) {
    endpoint->delRef();
    return false;
  }
  g_connections.push_back(endpoint);
  say("provider " + std::to_string(servicerouter_proxy->getPluginIdForConnection(endpoint)));
  return true;
}

bool connectCommand(const std::vector<std::string> &w) {
  std::string dir;
  bool noReuse = false, clientStart = false;
  for (size_t i = 2; i < w.size(); ++i) {
    if (w[i].rfind("wd=", 0) == 0) dir = w[i].substr(3);
    else if (w[i] == "noreuse") noReuse = true;
    else if (w[i] == "clientstart") clientStart = true;
    else return false;
  }
  return connectTo(w[1], new EchoClient, dir.empty() ? nullptr : dir.c_str(), noReuse,
                   clientStart);
}

bool filesCommand(const std::vector<std::string> &w) {
  auto *c = new FileRegistry_client_Impl;
  c->addRef();  // kept here past the connection list's reference
  bool ok = connectTo(w[1], c, nullptr, false, false) && c->send_AddFile(w[2].c_str(), "t", true);
  int num = 0;
  char **files = nullptr;
  ok = ok && c->send_GetFiles("t", &num, &files);
  for (int i = 0; ok && i < num; ++i) say(std::string("file ") + (files[i] ? files[i] : "-"));
  for (int i = 0; i < num; ++i) std::free(files[i]);
  std::free(files);
  c->delRef();
  return ok;
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

bool mapped(const std::string &text) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(text) != std::string::npos) return true;
  return false;
}

bool run(const std::vector<std::string> &w) {
  const std::string &op = w[0];
  if (op == "setwd" && w.size() == 2) return servicerouter_proxy->send_SetWorkingDir(w[1].c_str());
  if (op == "connect" && w.size() >= 2) return connectCommand(w);
  if (op == "files" && w.size() == 3) return filesCommand(w);
  if (op == "launch" && w.size() >= 2) return launchCommand(w);
  if (op == "cwd" && w.size() == 2) {
    const char *v = servicerouter_proxy->getCwdOfPlugin(std::atoi(w[1].c_str()), nullptr);
    say(std::string("cwd ") + (v ? v : "-"));
    return v != nullptr;
  }
  if (op == "pids" && w.size() == 1) {
    std::string line = "pids";
    for (int pid : servicerouter_proxy->getPluginPids()) line += " " + std::to_string(pid);
    say(line);
    return true;
  }
  if (op == "mapped" && w.size() == 2) {
    say(mapped(w[1]) ? "mapped yes" : "mapped no");
    return true;
  }
  return false;
}

// Shuts down and tells which started plugins the shut-down reaped.
void quit() {
  std::vector<int> pids = servicerouter_proxy->getPluginPids();
  for (STPSpecClass *c : g_connections) c->delRef();
  g_connections.clear();
  ServiceRouter_Proxy::shutdown(true);
  for (int pid : pids) {
    int status = 0;
    bool gone = ::waitpid(pid, &status, WNOHANG) == -1 && errno == ECHILD;
    say((gone ? "reaped " : "running ") + std::to_string(pid));
  }
}

}  // namespace

int main(int argc, char **argv) {
  gen_init(argv[0], 0, 0);
  if (!ServiceRouter_Proxy::startup(false, &argc, argv, nullptr, false, nullptr, true, false)) {
    say("error router");
    return 1;
  }
  say("ready");
  std::string line;
  while (std::getline(std::cin, line)) {
    std::vector<std::string> w = words(line);
    if (w.empty()) continue;
    if (w[0] == "quit") break;
    say((run(w) ? "ok " : "fail ") + line);
  }
  quit();
  return 0;
}
