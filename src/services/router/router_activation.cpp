// Router_Core: starting the programs of the services file on demand, the
// requests held meanwhile, and what a started program's registration or
// exit means for them.
//
// A request for a name nobody provides but the services file lists starts
// the listed program (unless it is already starting, or the request wants
// a fresh instance) and waits for the name; while an instance started this
// way runs and has registered, names it did not register are not found.
// The wait ends with the registration (the request then goes on as if the
// name had been there), with the program's first service list not naming
// it, with the program's exit, with a failed client start, or at the
// activation time limit; all but the first answer "not found". A fresh
// (no_reuse) request waits for its own instance only. Nothing is
// remembered of a failure, so the next request tries again.
#include <sys/wait.h>

#include <algorithm>

#include "services/router/router_core.h"
#include "services/router/router_endpoint.h"
#include "services/router/router_log.h"
#include "services/router/router_plugin.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

std::string describeExit(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was ended by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

// Takes the requests that match out of `held`, in order.
template <class Pred>
std::vector<Router_HeldRequest> takeHeld(std::vector<Router_HeldRequest> &held, Pred match) {
  std::vector<Router_HeldRequest> out;
  for (auto it = held.begin(); it != held.end();) {
    if (match(*it)) {
      out.push_back(std::move(*it));
      it = held.erase(it);
    } else {
      ++it;
    }
  }
  return out;
}

}  // namespace

bool Router_Core::startListed(const std::string &name, std::string *error) {
  const Router_Program *program = services.program(name);
  if (!program) program = services.providerOf(name);
  if (!program || !program->sharedObject.empty()) {
    *error = "\"" + name + "\" is neither a program nor a service of a program of the services file";
    return false;
  }
  return startProgram(*program, Router_StartHow(), error) != nullptr;
}

Router_Launch *Router_Core::startProgram(const Router_Program &program, const Router_StartHow &how,
                                         std::string *error) {
  std::vector<std::string> argv;
  argv.push_back(program.program);
  argv.insert(argv.end(), program.args.begin(), program.args.end());
  Router_Launch *l = nullptr;
  if (how.clientStart)
    l = askClientToStart(program.name, argv, how, error);
  else
    l = launches.start(program.name, argv, how.workingDir, listenPort, ut_getTimeMillis64(),
                       error);
  if (!l) {
    log->warn("cannot start %s: %s", program.name.c_str(), error->c_str());
    return nullptr;
  }
  l->program = &program;
  l->fresh = how.fresh;
  if (!how.clientStart) log->note("started %s (pid %d)", program.name.c_str(), l->pid);
  return l;
}

// The request waits for the running (or starting) activation of the
// program, or for a new one; a fresh request always gets its own.
bool Router_Core::holdForActivation(Router_HeldRequest request, const Router_StartHow &how) {
  const Router_Program *program = services.providerOf(request.serviceName);
  if (!program || !program->sharedObject.empty() || shuttingDown) return false;
  // One shared instance per program: a running one that has registered
  // without this name will not provide it, and a second one would not either.
  Router_Launch *l = how.fresh ? nullptr : launches.activationOf(program);
  if (l && l->registered) return false;
  if (!l) {
    std::string error;
    if (!Router_Launcher::usableDirectory(how.workingDir, &error)) {
      log->warn("plugin %d asks for %s: %s", request.requesterId, request.serviceName.c_str(),
                error.c_str());
      return false;
    }
    l = startProgram(*program, how, &error);
    if (!l) return false;
  }
  request.startCookie = l->startCookie;
  request.fresh = how.fresh;
  request.deadline = ut_getTimeMillis64() + options.activationTimeoutMs;
  log->note("plugin %d waits for %s from %s", request.requesterId, request.serviceName.c_str(),
            program->name.c_str());
  held.push_back(std::move(request));
  return true;
}

// `providerId` registered `serviceName`: every request for it goes on,
// except fresh ones waiting for another instance.
void Router_Core::resolveHeld(const std::string &serviceName, int providerId) {
  auto ready = takeHeld(held, [&](const Router_HeldRequest &h) {
    if (h.serviceName != serviceName) return false;
    if (!h.fresh) return true;
    Router_Launch *l = launches.findStartCookie(h.startCookie);
    return l && l->pluginId == providerId;
  });
  for (const Router_HeldRequest &h : ready) {
    const Router_Service *s = registered.find(serviceName, h.fresh ? providerId : -1);
    if (!s) {
      answerHeldNotFound(h);
      continue;
    }
    const Router_Service service = *s;
    if (h.kind == Router_HeldRequest::kConnection) {
      connectToProvider(h.requesterId, service, h.pairs, h.cookie);
    } else if (Router_Endpoint *ep = endpointFor(h.requesterId)) {
      ep->send_PluginIdForServiceReplyEvent(h.cookie, serviceName.c_str(), service.pluginId, true);
    }
  }
}

void Router_Core::answerHeldNotFound(const Router_HeldRequest &h) {
  if (h.kind == Router_HeldRequest::kConnection) {
    replyNotFound(h.requesterId, h.serviceName, h.cookie);
  } else if (Router_Endpoint *ep = endpointFor(h.requesterId)) {
    ep->send_PluginIdForServiceReplyEvent(h.cookie, h.serviceName.c_str(), -1, false);
  }
}

// Answers "not found" to every request still waiting for `launch`.
void Router_Core::failHeld(const Router_Launch &launch, const char *why) {
  const int cookie = launch.startCookie;
  const std::string name = launch.name;
  auto failed =
      takeHeld(held, [cookie](const Router_HeldRequest &h) { return h.startCookie == cookie; });
  for (const Router_HeldRequest &h : failed) {
    log->note("plugin %d gets no %s: %s %s", h.requesterId, h.serviceName.c_str(), name.c_str(),
              why);
    answerHeldNotFound(h);
  }
}

void Router_Core::expireHeld(long long now) {
  auto expired = takeHeld(held, [now](const Router_HeldRequest &h) { return h.deadline <= now; });
  for (const Router_HeldRequest &h : expired) {
    log->warn("no provider of %s registered within %d ms", h.serviceName.c_str(),
              options.activationTimeoutMs);
    answerHeldNotFound(h);
  }
  expireClientStarts(now);
}

// A started program sent its first service list: what it did not register
// of its listed names will not come.
void Router_Core::activationRegistered(Router_Plugin *p) {
  for (auto *table : {&launches.all(), &launches.clientStarts()}) {
    for (auto &entry : *table) {
      Router_Launch &l = entry.second;
      if (l.pluginId != p->getId() || l.registered) continue;
      l.registered = true;
      failHeld(l, "did not register it");
    }
  }
}

void Router_Core::childExited(int pid, int status) {
  Router_Launch *l = launches.findPid(pid);
  if (!l) return;
  std::string how = describeExit(status);
  bool normal = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (normal || shuttingDown)
    log->note("%s (pid %d) %s", l->name.c_str(), pid, how.c_str());
  else
    log->warn("%s (pid %d) %s", l->name.c_str(), pid, how.c_str());
  if (!l->registered) failHeld(*l, how.c_str());
  if (l->requesterId != -1 && !l->answered && l->pluginId == -1) {
    l->answered = true;
    if (Router_Endpoint *ep = endpointFor(l->requesterId))
      ep->send_PluginConnectedEvent(l->requestCookie, -1, "Plugin exited before connecting.");
  }
  launches.remove(pid);
}
