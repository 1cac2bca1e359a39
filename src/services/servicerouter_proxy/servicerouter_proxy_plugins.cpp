// ServiceRouter_Proxy: the router's own services to the process. Launching
// and connecting plugins through the router, starting a plugin when the
// router asks, name/value questions in both directions (most often a
// plugin's current directory, to resolve file names it sent), log
// forwarding and environment variables for plugins the router starts.
//
// Answers arrive through the router transport's dispatch while a caller
// waits in awaitCondition(); each is kept in a table under its cookie (or
// plugin id and name) until the waiter takes it.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "services/servicerouter_proxy/forwarding_stp_log.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_process.h"

namespace {

int g_requestCounter = 0;

const char kInvalidPluginArgs[] = "Invalid arguments specified when attempting to launch plugin.";
const char kUnableToLaunchPlugin[] = "Unable to launch plugin.";
// The router passes the program and the options a plugin needs to find it.
const int kMinStartPluginWords = 7;

// The current directory as the system reports it now (gen_getcwd caches).
char *currentDirectory() {
  char *dir = getcwd(nullptr, 0);
  char *copy = gen_copy(dir ? dir : gen_getcwd());
  free(dir);
  return copy;
}

// Replaces the value stored under key (freeing the old one) with a copy.
void storeCopy(std::map<PluginIdAndNamePair, char *> &table, int pluginId, const char *name,
               const char *value) {
  PluginIdAndNamePair key{pluginId, name};
  auto it = table.find(key);
  if (it != table.end()) {
    gen_free(it->second);
    it->second = gen_copy(value);
  } else {
    table.emplace(key, gen_copy(value));
  }
}

// The program a StartPlugin names: the word joined to this program's
// directory when that file is executable there, else the word itself.
char *pluginProgramPath(const char *word) {
  const char *dir = gen_getprogdir();
  if (dir) {
    char *path = gen_sconcat(dir, word);
    if (gen_canexec(path) == 1) return path;
    gen_free(path);
  }
  return gen_copy(word);
}

}  // namespace

// ---------------------------------------------------------------------------
// NameValueResolver

NameValueResolver::NameValueResolver(bool precached, const char *name, const char *value)
    : precached(precached), name(gen_copy(name)), value(gen_copy(value)) {}

NameValueResolver::~NameValueResolver() {
  gen_free(name);
  gen_free(value);
}

const char *NameValueResolver::getName() { return name; }

bool NameValueResolver::hasValueForName(const char *asked) {
  return name && asked && std::strcmp(name, asked) == 0;
}

const char *NameValueResolver::valueForName(const char *asked) {
  return hasValueForName(asked) ? value : nullptr;
}

// ---------------------------------------------------------------------------
// State

void ServiceRouter_Proxy::initPluginState() {
  char *cwd = currentDirectory();
  nameValueResolvers.push_back(new NameValueResolver(true, "cwd", cwd));
  gen_free(cwd);
}

void ServiceRouter_Proxy::freePluginState() {
  for (NameValueResolver *r : nameValueResolvers) delete r;
  nameValueResolvers.clear();
  for (auto &entry : pendingLaunches) gen_free(entry.second.errors);
  pendingLaunches.clear();
  for (auto &entry : pendingValues) gen_free(entry.second);
  pendingValues.clear();
  pluginPids.clear();
  pluginPidNames.clear();
}

int ServiceRouter_Proxy::nextRequestCookie() { return ++g_requestCounter; }

void ServiceRouter_Proxy::addNameValueResolver(NameValueResolver *resolver) {
  if (resolver) nameValueResolvers.push_back(resolver);
}

int ServiceRouter_Proxy::getNumPrecachedResolvers() const {
  int n = 0;
  for (NameValueResolver *r : nameValueResolvers) n += r->isPrecached() ? 1 : 0;
  return n;
}

bool ServiceRouter_Proxy::setEnvironmentVariable(const char *variable, const char *value) {
  return send_SetEnvironmentVariable(variable, value);
}

bool ServiceRouter_Proxy::notePluginPidExit(int pid) {
  for (auto it = pluginPids.begin(); it != pluginPids.end(); ++it) {
    if (*it != pid) continue;
    pluginPids.erase(it);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Launching and connecting plugins through the router

int ServiceRouter_Proxy::launchPlugin(const char *commandLine, RetryHandler *rh, bool clientStart,
                                      char **errors) {
  int argc = 0;
  char **argv = makeArgv(commandLine, &argc, false);
  int id = launchPlugin(argv, argc, rh, clientStart, errors);
  freeArgv(argv);
  return id;
}

int ServiceRouter_Proxy::launchPlugin(char **argv, int argc, RetryHandler *rh, bool clientStart,
                                      char **errors) {
  if (errors) *errors = nullptr;
  if (!argv || argc <= 0 || !argv[0] || !*argv[0]) return -1;
  if (!ensureSRConnection(rh)) return -1;
  int cookie = nextRequestCookie();
  // A view of the caller's words; the caller keeps owning them.
  ServiceRouter_STRING_ARRAY words;
  words.count = argc;
  words.data = argv;
  if (!send_RequestPluginLaunch(words, cookie, clientStart, nullptr)) return -1;
  return awaitPluginConnectedEvent(cookie, rh, errors);
}

int ServiceRouter_Proxy::connectToPlugin(const char *host, int port, RetryHandler *rh,
                                         char **errors) {
  if (errors) *errors = nullptr;
  if (!host || !*host) {
    if (errors) *errors = gen_copy("Invalid host specified.");
    return -1;
  }
  if (!ensureSRConnection(rh)) {
    if (errors) *errors = gen_copy("Unable to connect to ServiceRouter.");
    return -1;
  }
  int cookie = nextRequestCookie();
  if (!send_RequestPluginConnect(host, port, cookie)) return -1;
  return awaitPluginConnectedEvent(cookie, rh, errors);
}

int ServiceRouter_Proxy::awaitPluginConnectedEvent(int cookie, RetryHandler *rh, char **errors) {
  if (errors) *errors = nullptr;
  bool arrived = awaitCondition(rh, [&] { return pendingLaunches.count(cookie) != 0; });
  auto it = pendingLaunches.find(cookie);
  if (!arrived || it == pendingLaunches.end()) return -1;
  int id = it->second.pluginId;
  if (errors) {
    *errors = it->second.errors;
  } else {
    gen_free(it->second.errors);
  }
  pendingLaunches.erase(it);
  return id;
}

void ServiceRouter_Proxy::msg_PluginConnectedEvent(int cookie, int pluginID, const char *errors) {
  PendingLaunch &entry = pendingLaunches[cookie];
  gen_free(entry.errors);
  entry.pluginId = pluginID;
  entry.errors = gen_copy(errors);
}

// ---------------------------------------------------------------------------
// Starting a plugin for the router

void ServiceRouter_Proxy::msg_StartPlugin(ServiceRouter_STRING_ARRAY &args, int cookie,
                                          const char *working_dir) {
  if (args.count < kMinStartPluginWords || !args.data) {
    send_StartPluginEvent(cookie, false, kInvalidPluginArgs);
    return;
  }
  if (!args.data[0] || !*args.data[0]) {
    send_StartPluginEvent(cookie, false, kUnableToLaunchPlugin);
    return;
  }
  char **argv = copyArgv(args.data, args.count);
  char *program = pluginProgramPath(argv[0]);
  delete[] argv[0];
  argv[0] = new char[strlen(program) + 1];
  strcpy(argv[0], program);
  gen_free(program);

  int pid = 0;
  {
    CwdChanger inDir(working_dir && *working_dir ? working_dir : nullptr);
    // A program that cannot be found, or a directory that cannot be
    // entered, fails the start here, so that the router hears of it.
    if (!inDir.Failed()) pid = spawnProgram(argv, false);
  }
  if (pid <= 0) {
    send_StartPluginEvent(cookie, false, kUnableToLaunchPlugin);
  } else {
    // The plugin reports itself with StartPluginEvent when it registers.
    pluginPidNames[pid] = gen_basename(static_cast<const char *>(argv[0]));
    pluginPids.push_back(pid);
  }
  freeArgv(argv);
}

// ---------------------------------------------------------------------------
// Name/value questions

void ServiceRouter_Proxy::msg_ForwardedRequestValueOfNameOnPlugin(int requesting_plugin_id,
                                                                  int my_plugin_id,
                                                                  const char *name) {
  // Every resolver is asked; a later one overrides an earlier one.
  const char *value = nullptr;
  for (NameValueResolver *r : nameValueResolvers) {
    if (r->hasValueForName(name)) value = r->valueForName(name);
  }
  send_ValueOfNameOnPluginResponseEvent(requesting_plugin_id, my_plugin_id, name, value);
}

void ServiceRouter_Proxy::msg_ValueOfNameOnPluginEvent(int plugin_id, const char *name,
                                                       const char *value) {
  if (!name) return;
  storeCopy(nameValueCache, plugin_id, name, value);
  storeCopy(pendingValues, plugin_id, name, value);
}

bool ServiceRouter_Proxy::awaitValueOfNameOnPluginEvent(int pluginId, const char *name,
                                                        RetryHandler *rh) {
  PluginIdAndNamePair key{pluginId, name};
  bool arrived = awaitCondition(rh, [&] { return pendingValues.count(key) != 0; });
  auto it = pendingValues.find(key);
  if (!arrived || it == pendingValues.end()) return false;
  gen_free(it->second);
  pendingValues.erase(it);
  return true;
}

const char *ServiceRouter_Proxy::getValueOfNameForPlugin(int pluginId, const char *name,
                                                         RetryHandler *rh) {
  if (!name) return nullptr;
  PluginIdAndNamePair key{pluginId, name};
  auto it = nameValueCache.find(key);
  if (it != nameValueCache.end()) return it->second;
  if (!send_RequestValueOfNameOnPlugin(pluginId, name)) return nullptr;
  awaitValueOfNameOnPluginEvent(pluginId, name, rh);
  it = nameValueCache.find(key);
  return it != nameValueCache.end() ? it->second : nullptr;
}

const char *ServiceRouter_Proxy::getCwdOfPlugin(int pluginId, RetryHandler *rh) {
  auto it = nameValueCache.find(PluginIdAndNamePair{pluginId, "cwd"});
  if (it != nameValueCache.end() && it->second) return it->second;
  return getValueOfNameForPlugin(pluginId, "cwd", rh);
}

char *ServiceRouter_Proxy::resolvePluginRelFilename(int pluginId, const char *fileName,
                                                    RetryHandler *rh) {
  if (!fileName) return nullptr;
  if (gen_absolutefilename(fileName) || pluginId == -1) return gen_copy(fileName);
  const char *cwd = getCwdOfPlugin(pluginId, rh);
  if (!cwd) return gen_copy(fileName);
  char *joined = gen_dconcat(cwd, fileName);
  return gen_canonicalfilename(joined);
}

char *ServiceRouter_Proxy::resolveConRelFilename(STPSpecClass *connection, const char *fileName,
                                                 RetryHandler *rh) {
  if (!fileName) return nullptr;
  int pluginId = getPluginIdForConnection(connection);
  if (pluginId == -1) return gen_copy(fileName);
  return resolvePluginRelFilename(pluginId, fileName, rh);
}

// ---------------------------------------------------------------------------
// Log forwarding

void ServiceRouter_Proxy::msg_StartLogging() { setGlobalLog(new ForwardingSTPLog(this)); }
