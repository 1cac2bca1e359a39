// Router_Core: where started programs run, and programs started by the
// requesting plugin instead of the router (client start).
//
// A started program runs in the working directory of the request that
// caused the start; without one, in the requester's SetWorkingDir; without
// that, in the router's own directory.
//
// A client start sends the requester StartPlugin with the command (the
// program as the services file or the request names it, then the options
// that bring it to this router, then its arguments), a start cookie and
// the directory. The requester starts the program; the program registers
// and reports the cookie with StartPluginEvent, which completes what waited
// for it. A StartPluginEvent with success false from the requester, or no
// report within the activation time limit, fails what waited with the
// event's text.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "services/router/router_core.h"
#include "services/router/router_endpoint.h"
#include "services/router/router_log.h"
#include "services/router/router_plugin.h"
#include "shared/gen_holder.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

std::string routerDirectory() {
  MallocString dir(::getcwd(nullptr, 0));
  return dir ? dir.get() : "";
}

}  // namespace

std::string Router_Core::startDirectory(int requesterId, const char *requested) const {
  if (requested && *requested) return requested;
  Router_Plugin *p = findPlugin(requesterId);
  return p ? p->workingDir : "";
}

Router_Launch *Router_Core::askClientToStart(const std::string &name,
                                             const std::vector<std::string> &argv,
                                             const Router_StartHow &how, std::string *error) {
  Router_Endpoint *ep = endpointFor(how.requesterId);
  if (!ep) {
    *error = "the requesting plugin is gone";
    return nullptr;
  }
  if (argv.empty() || argv[0].empty()) {
    *error = "no program to start";
    return nullptr;
  }
  std::vector<std::string> words;
  Router_Launch *l =
      launches.prepareClientStart(name, argv, listenPort, ut_getTimeMillis64(), &words);
  l->startedBy = how.requesterId;
  l->fresh = how.fresh;
  std::vector<char *> ptrs;
  for (std::string &w : words) ptrs.push_back(w.data());
  ServiceRouter_STRING_ARRAY a;
  a.count = static_cast<int>(ptrs.size());
  a.data = ptrs.data();
  // The requester's own directory is not the router's: say which one.
  std::string dir = how.workingDir.empty() ? routerDirectory() : how.workingDir;
  ep->send_StartPlugin(a, l->startCookie, dir.c_str());
  log->note("plugin %d is asked to start %s (cookie %d) in %s", how.requesterId, name.c_str(),
            l->startCookie, dir.c_str());
  return l;
}

void Router_Core::clientStartFailed(int pluginId, int cookie, const char *errorMessage) {
  std::string why = errorMessage && *errorMessage ? errorMessage : "the start failed";
  auto it = launches.clientStarts().find(cookie);
  if (it == launches.clientStarts().end() || it->second.startedBy != pluginId ||
      it->second.pluginId != -1) {
    log->note("plugin %d reports a failed start (cookie %d) nobody waits for: %s", pluginId,
              cookie, why.c_str());
    return;
  }
  failClientStart(it->second, why);
}

// Everything that waited for the start hears `why`: a launch request in
// its answer, a held connection or plugin-id request as "not found" (their
// answers carry no text), with the reason in the warning.
void Router_Core::failClientStart(Router_Launch &launch, const std::string &why) {
  const int cookie = launch.startCookie;
  log->warn("plugin %d could not start %s: %s", launch.startedBy, launch.name.c_str(),
            why.c_str());
  failHeld(launch, why.c_str());
  if (launch.requesterId != -1 && !launch.answered) {
    launch.answered = true;
    if (Router_Endpoint *ep = endpointFor(launch.requesterId))
      ep->send_PluginConnectedEvent(launch.requestCookie, -1, why.c_str());
  }
  launches.removeClientStart(cookie);
}

void Router_Core::expireClientStarts(long long now) {
  std::vector<int> late;
  for (const auto &entry : launches.clientStarts())
    if (entry.second.pluginId == -1 &&
        now - entry.second.startedAt >= options.activationTimeoutMs)
      late.push_back(entry.first);
  for (int cookie : late) {
    auto it = launches.clientStarts().find(cookie);
    if (it != launches.clientStarts().end())
      failClientStart(it->second, "The started plugin did not register within " +
                                      std::to_string(options.activationTimeoutMs) + " ms.");
  }
}

long long Router_Core::nextClientStartDeadline() const {
  long long next = LLONG_MAX;
  for (const auto &entry : launches.clientStarts())
    if (entry.second.pluginId == -1)
      next = std::min(next, entry.second.startedAt + options.activationTimeoutMs);
  return next;
}
