// Router_Core: value queries between plugins, location, persistence,
// environment, forwarded logs, and plugins launched or connected on request.
#include <cstdlib>
#include <cstring>

#include "services/router/router_core.h"
#include "services/router/router_endpoint.h"
#include "services/router/router_log.h"
#include "services/router/router_plugin.h"
#include "services/router/router_transport.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace {

// Unanswered value queries one plugin may have at a time.
constexpr int kMaxOpenQueries = 256;

// The address plugins reach the router at: it listens on this one only.
constexpr const char *kRouterHost = "127.0.0.1";

}  // namespace

// ---------------------------------------------------------------------------
// Value queries: asked of the router, put to the target plugin, and its
// answer handed back. A target that is gone answers with no value.

void Router_Core::valueRequested(int pluginId, int targetId, const char *name) {
  Router_Endpoint *ep = endpointFor(pluginId);
  if (!ep) return;
  Router_Endpoint *target = endpointFor(targetId);
  int open = 0;
  for (const Router_ValueQuery &q : valueQueries)
    if (q.requesterId == pluginId) ++open;
  if (!target || !name || open >= kMaxOpenQueries) {
    ep->send_ValueOfNameOnPluginEvent(targetId, name ? name : "", nullptr);
    return;
  }
  valueQueries.push_back(Router_ValueQuery{pluginId, targetId, name});
  target->send_ForwardedRequestValueOfNameOnPlugin(pluginId, targetId, name);
}

void Router_Core::valueAnswered(int pluginId, int requesterId, int, const char *name,
                                const char *value) {
  std::string key = name ? name : "";
  for (auto it = valueQueries.begin(); it != valueQueries.end(); ++it) {
    if (it->requesterId != requesterId || it->targetId != pluginId || it->name != key) continue;
    valueQueries.erase(it);
    // The answer names the plugin that gave it, whatever it claims.
    if (Router_Endpoint *ep = endpointFor(requesterId))
      ep->send_ValueOfNameOnPluginEvent(pluginId, key.c_str(), value);
    return;
  }
}

void Router_Core::answerPendingValues(int leavingId) {
  std::vector<Router_ValueQuery> unanswered;
  for (auto it = valueQueries.begin(); it != valueQueries.end();) {
    if (it->targetId == leavingId || it->requesterId == leavingId) {
      if (it->requesterId != leavingId) unanswered.push_back(*it);
      it = valueQueries.erase(it);
    } else {
      ++it;
    }
  }
  for (const Router_ValueQuery &q : unanswered)
    if (Router_Endpoint *ep = endpointFor(q.requesterId))
      ep->send_ValueOfNameOnPluginEvent(q.targetId, q.name.c_str(), nullptr);
}

// ---------------------------------------------------------------------------
// Questions about the router and its services

void Router_Core::locationRequested(int pluginId) {
  if (Router_Endpoint *ep = endpointFor(pluginId)) ep->send_LocationEvent(kRouterHost, listenPort);
}

void Router_Core::pluginIdForServiceRequested(int pluginId, int cookie, const char *serviceName,
                                              const char *workingDir, bool startIfNotRunning) {
  Router_Endpoint *ep = endpointFor(pluginId);
  if (!ep) return;
  std::string name = serviceName ? serviceName : "";
  const Router_Service *s = name.empty() ? nullptr : registered.find(name, -1);
  if (s) {
    ep->send_PluginIdForServiceReplyEvent(cookie, name.c_str(), s->pluginId, true);
    return;
  }
  if (startIfNotRunning && !name.empty()) {
    Router_HeldRequest h;
    h.kind = Router_HeldRequest::kPluginId;
    h.requesterId = pluginId;
    h.serviceName = name;
    h.cookie = cookie;
    Router_StartHow how;
    how.requesterId = pluginId;
    how.workingDir = startDirectory(pluginId, workingDir);
    if (holdForActivation(std::move(h), how)) return;
  }
  ep->send_PluginIdForServiceReplyEvent(cookie, name.c_str(), -1, false);
}

void Router_Core::countPersistentServices(int *numPersistent, int *numTotal) const {
  int persistent = 0;
  for (const Router_Service &s : registered.all()) {
    Router_Plugin *p = findPlugin(s.pluginId);
    if (p && p->persistent) ++persistent;
  }
  *numPersistent = persistent;
  *numTotal = static_cast<int>(registered.all().size());
}

void Router_Core::setPersistent(int pluginId, bool persistent) {
  if (Router_Plugin *p = findPlugin(pluginId)) p->persistent = persistent;
}

void Router_Core::setWorkingDir(int pluginId, const char *dir) {
  if (Router_Plugin *p = findPlugin(pluginId)) p->workingDir = dir ? dir : "";
}

// Programs this router starts later inherit its environment.
void Router_Core::setEnvironmentVariable(int pluginId, const char *variable, const char *value) {
  if (!variable || !*variable || std::strchr(variable, '=')) {
    log->note("plugin %d: environment variable name refused", pluginId);
    return;
  }
  if (value)
    ::setenv(variable, value, 1);
  else
    ::unsetenv(variable);
  log->note("plugin %d sets %s for later launches", pluginId, variable);
}

void Router_Core::logMessage(int pluginId, const char *message) {
  log->pluginText(pluginId, message);
}

// Recorded for the next start of that program (by this router or by a
// client start); do_debug false forgets an earlier request.
void Router_Core::debugPluginRequested(int pluginId, const char *pluginName, bool doDebug,
                                       const char *debugger, const char *debuggerOpts) {
  std::string name = pluginName ? pluginName : "";
  std::string command = doDebug && debugger ? debugger : "";
  if (name.empty() || (doDebug && command.empty())) {
    log->warn("plugin %d asks to debug \"%s\" without %s: ignored", pluginId, name.c_str(),
              name.empty() ? "a program name" : "a debugger");
    return;
  }
  launches.setDebugger(name, command, debuggerOpts ? debuggerOpts : "");
  if (doDebug)
    log->note("plugin %d: the next start of %s runs under %s %s", pluginId, name.c_str(),
              command.c_str(), debuggerOpts ? debuggerOpts : "");
  else
    log->note("plugin %d: %s is no longer debugged", pluginId, name.c_str());
}

// ---------------------------------------------------------------------------
// Plugins started or connected on request. The answer (PluginConnectedEvent)
// goes out once the new plugin is known: a started one reports its start
// cookie, a connected one finishes negotiating.

void Router_Core::pluginLaunchRequested(int pluginId, const ServiceRouter_STRING_ARRAY &argv,
                                        int cookie, bool clientStart, const char *workingDir) {
  Router_Endpoint *ep = endpointFor(pluginId);
  if (!ep) return;
  std::vector<std::string> words;
  for (int i = 0; i < argv.count && argv.data; ++i)
    if (argv.data[i]) words.emplace_back(argv.data[i]);
  Router_StartHow how;
  how.requesterId = pluginId;
  how.workingDir = startDirectory(pluginId, workingDir);
  how.clientStart = clientStart;
  std::string error;
  Router_Launch *l = nullptr;
  if (words.empty() || words[0].empty()) {
    error = "no program";
  } else if (Router_Launcher::usableDirectory(how.workingDir, &error)) {
    std::string name = gen_basename(words[0].c_str());
    l = clientStart ? askClientToStart(name, words, how, &error)
                    : launches.start(name, words, how.workingDir, listenPort,
                                     ut_getTimeMillis64(), &error);
  }
  if (!l) {
    log->warn("plugin %d asks to launch a plugin: %s", pluginId, error.c_str());
    ep->send_PluginConnectedEvent(cookie, -1, ("Unable to launch plugin: " + error + ".").c_str());
    return;
  }
  l->requesterId = pluginId;
  l->requestCookie = cookie;
  if (!clientStart) log->note("plugin %d launched %s (pid %d)", pluginId, l->name.c_str(), l->pid);
}

void Router_Core::pluginConnectRequested(int pluginId, const char *host, int port, int cookie) {
  Router_Endpoint *ep = endpointFor(pluginId);
  if (!ep) return;
  Router_Transport *t = new Router_Transport();
  TStat st;
  if (!host || !*host || port <= 0 || port > 65535 || !t->connect(host, port, &st)) {
    t->delRef();
    ep->send_PluginConnectedEvent(cookie, -1, "Unable to connect to plugin.");
    return;
  }
  Router_Plugin *p = addPlugin(t);
  p->connectRequester = pluginId;
  p->connectCookie = cookie;
}

void Router_Core::answerPluginConnect(Router_Plugin *p, int newId, const char *errors) {
  int requester = p->connectRequester;
  p->connectRequester = -1;
  if (Router_Endpoint *ep = endpointFor(requester))
    ep->send_PluginConnectedEvent(p->connectCookie, newId, errors);
}

void Router_Core::startPluginEvent(int pluginId, int cookie, bool success,
                                   const char *errorMessage) {
  if (!success) {
    clientStartFailed(pluginId, cookie, errorMessage);
    return;
  }
  Router_Launch *l = launches.findStartCookie(cookie);
  Router_Plugin *p = findPlugin(pluginId);
  if (!l || l->pluginId != -1 || !p) return;
  l->pluginId = pluginId;
  p->startedByRouter = true;
  p->pid = l->pid;
  p->programName = l->name;
  log->note("plugin %d is %s (pid %d)", pluginId, l->name.c_str(), l->pid);
  if (l->requesterId != -1 && !l->answered) {
    l->answered = true;
    if (Router_Endpoint *ep = endpointFor(l->requesterId))
      ep->send_PluginConnectedEvent(l->requestCookie, pluginId, "");
  }
}
