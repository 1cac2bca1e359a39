// Starting programs that connect back to the router.
#include "services/router/router_launcher.h"

#include "services/router/router_services_file.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_process.h"

namespace {

// The owned, null-terminated vector freeArgv releases.
char **buildArgv(const std::vector<std::string> &words) {
  std::vector<char *> ptrs;
  for (const std::string &w : words) ptrs.push_back(const_cast<char *>(w.c_str()));
  return copyArgv(ptrs.data(), static_cast<int>(ptrs.size()));
}

}  // namespace

Router_Launch *Router_Launcher::start(const std::string &name,
                                      const std::vector<std::string> &argv,
                                      const std::string &workingDir, int routerPort,
                                      long long now, std::string *error) {
  if (argv.empty() || argv[0].empty()) {
    *error = "no program to start";
    return nullptr;
  }
  int cookie = nextCookie++;
  std::vector<std::string> words;
  words.push_back(Router_ServicesFile::resolveProgram(argv[0]));
  words.push_back("-connect_servicerouter");
  words.push_back(std::to_string(routerPort));
  words.push_back("-sr_client_start_cookie");
  words.push_back(std::to_string(cookie));
  words.insert(words.end(), argv.begin() + 1, argv.end());
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

Router_Launch *Router_Launcher::findPid(int pid) {
  auto it = launches.find(pid);
  return it == launches.end() ? nullptr : &it->second;
}

Router_Launch *Router_Launcher::findStartCookie(int cookie) {
  for (auto &entry : launches)
    if (entry.second.startCookie == cookie) return &entry.second;
  return nullptr;
}

Router_Launch *Router_Launcher::activationOf(const Router_Program *program) {
  for (auto &entry : launches)
    if (entry.second.program == program) return &entry.second;
  return nullptr;
}

void Router_Launcher::remove(int pid) { launches.erase(pid); }

void Router_Launcher::forgetPlugin(int pluginId) {
  for (auto &entry : launches)
    if (entry.second.pluginId == pluginId) entry.second.pluginId = -1;
}
