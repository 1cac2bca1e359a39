// Starting programs that connect back to the router, directly or through
// a plugin (client start), optionally under a debugger.
#include "services/router/router_launcher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "services/router/router_services_file.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_process.h"

namespace {

// The address plugins reach the router at.
constexpr const char *kRouterHost = "127.0.0.1";

// The owned, null-terminated vector freeArgv releases.
char **buildArgv(const std::vector<std::string> &words) {
  std::vector<char *> ptrs;
  for (const std::string &w : words) ptrs.push_back(const_cast<char *>(w.c_str()));
  return copyArgv(ptrs.data(), static_cast<int>(ptrs.size()));
}

std::vector<std::string> splitBlanks(const std::string &text) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = text.find_first_of(" \t", i);
    if (j == std::string::npos) j = text.size();
    if (j > i) out.push_back(text.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

}  // namespace

// The program, the options that take it to this router (the host too, so
// that a client-started program has the seven words a plugin expects at
// least), then the caller's arguments.
std::vector<std::string> Router_Launcher::commandWords(const std::string &program,
                                                       const std::vector<std::string> &argv,
                                                       int routerPort, int cookie) const {
  std::vector<std::string> words{program,
                                 "-connect_servicerouter",
                                 std::to_string(routerPort),
                                 "-sr_client_start_cookie",
                                 std::to_string(cookie),
                                 "-sr_connect_servicerouter_host",
                                 kRouterHost};
  words.insert(words.end(), argv.begin() + 1, argv.end());
  return words;
}

Router_Launch *Router_Launcher::start(const std::string &name,
                                      const std::vector<std::string> &argv,
                                      const std::string &workingDir, int routerPort,
                                      long long now, std::string *error) {
  if (argv.empty() || argv[0].empty()) {
    *error = "no program to start";
    return nullptr;
  }
  int cookie = nextCookie++;
  std::vector<std::string> words = underDebugger(
      name, commandWords(Router_ServicesFile::resolveProgram(argv[0]), argv, routerPort, cookie));
  words[0] = Router_ServicesFile::resolveProgram(words[0]);  // the debugger, if any
  char **vec = buildArgv(words);
  int pid = 0;
  {
    CwdChanger cwd(workingDir.empty() ? nullptr : workingDir.c_str());
    if (cwd.Failed())
      *error = "cannot change to directory " + workingDir;
    else
      pid = spawnProgram(vec, false);
  }
  freeArgv(vec);
  if (pid <= 0) {
    if (error->empty()) *error = "cannot start " + words[0];
    return nullptr;
  }
  Router_Launch &l = launches[pid];
  l = Router_Launch();
  l.pid = pid;
  l.startCookie = cookie;
  l.name = name;
  l.startedAt = now;
  return &l;
}

Router_Launch *Router_Launcher::prepareClientStart(const std::string &name,
                                                   const std::vector<std::string> &argv,
                                                   int routerPort, long long now,
                                                   std::vector<std::string> *words) {
  int cookie = nextCookie++;
  *words = underDebugger(name, commandWords(argv[0], argv, routerPort, cookie));
  Router_Launch &l = clientStarted[cookie];
  l = Router_Launch();
  l.startCookie = cookie;
  l.name = name;
  l.startedAt = now;
  return &l;
}

Router_Launch *Router_Launcher::findPid(int pid) {
  auto it = launches.find(pid);
  return it == launches.end() ? nullptr : &it->second;
}

Router_Launch *Router_Launcher::findStartCookie(int cookie) {
  auto it = clientStarted.find(cookie);
  if (it != clientStarted.end()) return &it->second;
  for (auto &entry : launches)
    if (entry.second.startCookie == cookie) return &entry.second;
  return nullptr;
}

Router_Launch *Router_Launcher::activationOf(const Router_Program *program) {
  for (auto *table : {&launches, &clientStarted})
    for (auto &entry : *table)
      if (entry.second.program == program && !entry.second.fresh) return &entry.second;
  return nullptr;
}

void Router_Launcher::remove(int pid) { launches.erase(pid); }

void Router_Launcher::removeClientStart(int cookie) { clientStarted.erase(cookie); }

void Router_Launcher::forgetPlugin(int pluginId) {
  for (auto &entry : launches)
    if (entry.second.pluginId == pluginId) entry.second.pluginId = -1;
  for (auto it = clientStarted.begin(); it != clientStarted.end();) {
    if (it->second.pluginId == pluginId)
      it = clientStarted.erase(it);
    else
      ++it;
  }
}

void Router_Launcher::setDebugger(const std::string &name, const std::string &debugger,
                                  const std::string &options) {
  if (debugger.empty())
    debuggers.erase(name);
  else
    debuggers[name] = Debugger{debugger, options};
}

std::vector<std::string> Router_Launcher::underDebugger(const std::string &name,
                                                        const std::vector<std::string> &words) {
  auto it = debuggers.find(name);
  if (it == debuggers.end() && !words.empty()) it = debuggers.find(gen_basename(words[0].c_str()));
  if (it == debuggers.end()) return words;
  std::vector<std::string> out{it->second.command};
  for (const std::string &w : splitBlanks(it->second.options)) out.push_back(w);
  out.insert(out.end(), words.begin(), words.end());
  debuggers.erase(it);
  return out;
}

bool Router_Launcher::usableDirectory(const std::string &dir, std::string *why) {
  if (dir.empty()) return true;
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) {
    *why = "working directory \"" + dir + "\": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *why = "working directory \"" + dir + "\" is not a directory";
    return false;
  }
  if (::access(dir.c_str(), X_OK) != 0) {
    *why = "working directory \"" + dir + "\" cannot be entered: " + std::strerror(errno);
    return false;
  }
  return true;
}
