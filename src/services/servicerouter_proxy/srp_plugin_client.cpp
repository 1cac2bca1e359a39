// srp_plugin_client: the router's own services to the process. Launching
// and connecting plugins through the router, starting a plugin when the
// router asks, name/value questions in both directions (most often a
// plugin's current directory, to resolve file names it sent), log
// forwarding and environment variables for plugins the router starts.
//
// Answers arrive through the router transport's dispatch while a caller
// waits in awaitCondition(); each is kept in a table under its cookie (or
// plugin id and name) until the waiter takes it.
#include "services/servicerouter_proxy/srp_plugin_client.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "services/servicerouter_proxy/forwarding_stp_log.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/gen_holder.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_process.h"

namespace {

int g_requestCounter = 0;

const char kInvalidPluginArgs[] = "Invalid arguments specified when attempting to launch plugin.";
const char kUnableToLaunchPlugin[] = "Unable to launch plugin.";
// The router passes the program and the options a plugin needs to find it.
const int kMinStartPluginWords = 7;

// The current directory as the system reports it now (gen_getcwd caches).
GenString currentDirectory() {
  MallocString dir(getcwd(nullptr, 0));
  return GenString(gen_copy(dir ? dir.get() : gen_getcwd()));
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
std::string pluginProgramPath(const char *word) {
  if (const char *dir = gen_getprogdir()) {
    GenString path(gen_sconcat(dir, word));
    if (gen_canexec(path.get()) == 1) return path.get();
  }
  return word;
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

SRP_PluginClient::SRP_PluginClient(ServiceRouter_Proxy &proxy) : proxy(proxy) {
  nameValueResolvers.push_back(new NameValueResolver(true, "cwd", currentDirectory().get()));
}

SRP_PluginClient::~SRP_PluginClient() {
  for (NameValueResolver *r : nameValueResolvers) delete r;
  for (auto &entry : pendingLaunches) gen_free(entry.second.errors);
  for (auto &entry : pendingValues) gen_free(entry.second);
  for (auto &entry : nameValueCache) gen_free(entry.second);
}

int SRP_PluginClient::nextRequestCookie() { return ++g_requestCounter; }

void SRP_PluginClient::addNameValueResolver(NameValueResolver *resolver) {
  if (resolver) nameValueResolvers.push_back(resolver);
}

int SRP_PluginClient::getNumPrecachedResolvers() const {
  int n = 0;
  for (NameValueResolver *r : nameValueResolvers) n += r->isPrecached() ? 1 : 0;
  return n;
}

std::vector<char *> SRP_PluginClient::precachedPairs() const {
  std::vector<char *> pairs;
  for (NameValueResolver *r : nameValueResolvers) {
    if (!r->isPrecached()) continue;
    const char *name = r->getName();
    pairs.push_back(const_cast<char *>(name));
    pairs.push_back(const_cast<char *>(r->valueForName(name)));
  }
  return pairs;
}

bool SRP_PluginClient::notePluginPidExit(int pid) {
  for (auto it = pluginPids.begin(); it != pluginPids.end(); ++it) {
    if (*it != pid) continue;
    pluginPids.erase(it);
    return true;
  }
  return false;
}

std::string SRP_PluginClient::pluginName(int pid) const {
  auto it = pluginPidNames.find(pid);
  return it == pluginPidNames.end() ? std::string() : it->second;
}

// ---------------------------------------------------------------------------
// Launching and connecting plugins through the router

int SRP_PluginClient::launchPlugin(const char *commandLine, RetryHandler *rh, bool clientStart,
                                   char **errors) {
  int argc = 0;
  char **argv = makeArgv(commandLine, &argc, false);
  int id = launchPlugin(argv, argc, rh, clientStart, errors);
  freeArgv(argv);
  return id;
}

int SRP_PluginClient::launchPlugin(char **argv, int argc, RetryHandler *rh, bool clientStart,
                                   char **errors) {
  if (errors) *errors = nullptr;
  if (!argv || argc <= 0 || !argv[0] || !*argv[0]) return -1;
  if (!proxy.ensureSRConnection(rh)) return -1;
  int cookie = nextRequestCookie();
  // A view of the caller's words; the caller keeps owning them.
  ServiceRouter_STRING_ARRAY words;
  words.count = argc;
  words.data = argv;
  if (!proxy.send_RequestPluginLaunch(words, cookie, clientStart, nullptr)) return -1;
  return awaitPluginConnectedEvent(cookie, rh, errors);
}

int SRP_PluginClient::connectToPlugin(const char *host, int port, RetryHandler *rh, char **errors) {
  if (errors) *errors = nullptr;
  if (!host || !*host) {
    if (errors) *errors = gen_copy("Invalid host specified.");
    return -1;
  }
  if (!proxy.ensureSRConnection(rh)) {
    if (errors) *errors = gen_copy("Unable to connect to ServiceRouter.");
    return -1;
  }
  int cookie = nextRequestCookie();
  if (!proxy.send_RequestPluginConnect(host, port, cookie)) return -1;
  return awaitPluginConnectedEvent(cookie, rh, errors);
}

int SRP_PluginClient::awaitPluginConnectedEvent(int cookie, RetryHandler *rh, char **errors) {
  if (errors) *errors = nullptr;
  bool arrived = proxy.awaitCondition(rh, [&] { return pendingLaunches.count(cookie) != 0; });
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

void SRP_PluginClient::onPluginConnected(int cookie, int pluginID, const char *errors) {
  PendingLaunch &entry = pendingLaunches[cookie];
  gen_free(entry.errors);
  entry.pluginId = pluginID;
  entry.errors = gen_copy(errors);
}

// ---------------------------------------------------------------------------
// Starting a plugin for the router

void SRP_PluginClient::onStartPlugin(const ServiceRouter_STRING_ARRAY &args, int cookie,
                                     const char *working_dir) {
  if (args.count < kMinStartPluginWords || !args.data) {
    proxy.send_StartPluginEvent(cookie, false, kInvalidPluginArgs);
    return;
  }
  if (!args.data[0] || !*args.data[0]) {
    proxy.send_StartPluginEvent(cookie, false, kUnableToLaunchPlugin);
    return;
  }
  // The words with the program resolved, and the null-terminated vector
  // the spawn takes (a null word stays null). `words` is never resized, so
  // the vector's pointers stay valid.
  std::vector<std::string> words(args.count);
  std::vector<char *> argv(args.count + 1, nullptr);
  words[0] = pluginProgramPath(args.data[0]);
  for (int i = 0; i < args.count; ++i) {
    if (i > 0 && args.data[i]) words[i] = args.data[i];
    if (i == 0 || args.data[i]) argv[i] = words[i].data();
  }

  int pid = 0;
  {
    CwdChanger inDir(working_dir && *working_dir ? working_dir : nullptr);
    // A program that cannot be found, or a directory that cannot be
    // entered, fails the start here, so that the router hears of it.
    if (!inDir.Failed()) pid = spawnProgram(argv.data(), false);
  }
  if (pid <= 0) {
    proxy.send_StartPluginEvent(cookie, false, kUnableToLaunchPlugin);
  } else {
    // The plugin reports itself with StartPluginEvent when it registers.
    pluginPidNames[pid] = gen_basename(words[0].c_str());
    pluginPids.push_back(pid);
  }
}

// ---------------------------------------------------------------------------
// Name/value questions

void SRP_PluginClient::onForwardedRequestValueOfName(int requesting_plugin_id, int my_plugin_id,
                                                     const char *name) {
  // Every resolver is asked; a later one overrides an earlier one.
  const char *value = nullptr;
  for (NameValueResolver *r : nameValueResolvers) {
    if (r->hasValueForName(name)) value = r->valueForName(name);
  }
  proxy.send_ValueOfNameOnPluginResponseEvent(requesting_plugin_id, my_plugin_id, name, value);
}

void SRP_PluginClient::onValueOfName(int plugin_id, const char *name, const char *value) {
  if (!name) return;
  storeCopy(nameValueCache, plugin_id, name, value);
  storeCopy(pendingValues, plugin_id, name, value);
}

bool SRP_PluginClient::awaitValueOfNameOnPluginEvent(int pluginId, const char *name,
                                                     RetryHandler *rh) {
  PluginIdAndNamePair key{pluginId, name};
  bool arrived = proxy.awaitCondition(rh, [&] { return pendingValues.count(key) != 0; });
  auto it = pendingValues.find(key);
  if (!arrived || it == pendingValues.end()) return false;
  gen_free(it->second);
  pendingValues.erase(it);
  return true;
}

const char *SRP_PluginClient::getValueOfNameForPlugin(int pluginId, const char *name,
                                                      RetryHandler *rh) {
  if (!name) return nullptr;
  PluginIdAndNamePair key{pluginId, name};
  auto it = nameValueCache.find(key);
  if (it != nameValueCache.end()) return it->second;
  if (!proxy.send_RequestValueOfNameOnPlugin(pluginId, name)) return nullptr;
  awaitValueOfNameOnPluginEvent(pluginId, name, rh);
  it = nameValueCache.find(key);
  return it != nameValueCache.end() ? it->second : nullptr;
}

const char *SRP_PluginClient::getCwdOfPlugin(int pluginId, RetryHandler *rh) {
  auto it = nameValueCache.find(PluginIdAndNamePair{pluginId, "cwd"});
  if (it != nameValueCache.end() && it->second) return it->second;
  return getValueOfNameForPlugin(pluginId, "cwd", rh);
}

char *SRP_PluginClient::resolvePluginRelFilename(int pluginId, const char *fileName,
                                                 RetryHandler *rh) {
  if (!fileName) return nullptr;
  if (gen_absolutefilename(fileName) || pluginId == -1) return gen_copy(fileName);
  const char *cwd = getCwdOfPlugin(pluginId, rh);
  if (!cwd) return gen_copy(fileName);
  char *joined = gen_dconcat(cwd, fileName);
  return gen_canonicalfilename(joined);
}

char *SRP_PluginClient::resolveConRelFilename(STPSpecClass *connection, const char *fileName,
                                              RetryHandler *rh) {
  if (!fileName) return nullptr;
  int pluginId = proxy.getPluginIdForConnection(connection);
  if (pluginId == -1) return gen_copy(fileName);
  return resolvePluginRelFilename(pluginId, fileName, rh);
}

void SRP_PluginClient::cacheNameValuePairs(int peerPluginId,
                                           const ServiceRouter_STRING_ARRAY &pairs) {
  if (!pairs.data) return;
  for (int i = 0; i + 1 < pairs.count; i += 2) {
    const char *name = pairs.data[i];
    const char *value = pairs.data[i + 1];
    if (!name || !value) continue;
    char *&slot = nameValueCache[PluginIdAndNamePair{peerPluginId, name}];
    gen_free(slot);
    slot = gen_copy(value);
  }
}

const char *SRP_PluginClient::getCachedValue(int peerPluginId, const char *name) const {
  if (!name) return nullptr;
  auto it = nameValueCache.find(PluginIdAndNamePair{peerPluginId, name});
  return it == nameValueCache.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------
// Log forwarding

void SRP_PluginClient::onStartLogging() { proxy.setGlobalLog(new ForwardingSTPLog(&proxy)); }
