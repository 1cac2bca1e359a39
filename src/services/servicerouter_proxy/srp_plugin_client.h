// srp_plugin_client: the router-client part that deals with other plugins.
//
// SRP_PluginClient launches and connects plugins through the router, starts
// the plugins the router asks this process to start (and remembers their
// pids for shut-down), asks and answers name/value questions (most often a
// plugin's current directory, to resolve file names it sent) and caches the
// answers, and turns on log forwarding when the router asks.
//
// Answers arrive through the router transport's dispatch while a caller
// waits in the link's awaitCondition(); each is kept under its cookie (or
// plugin id and name) until the waiter takes it. Owns the resolvers, the
// caches and the pending answers. One thread.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "servicerouter_plugin_impl.h"

class RetryHandler;
class ServiceRouter_Proxy;
class STPSpecClass;

// Key of the name/value tables: ordered by plugin id, then by name.
struct PluginIdAndNamePair {
  int pluginId;
  std::string name;
  bool operator<(const PluginIdAndNamePair &o) const {
    return pluginId != o.pluginId ? pluginId < o.pluginId : name < o.name;
  }
};

// Answers one name for other plugins. Precached resolvers are also sent
// with every outgoing connection request.
class NameValueResolver {
 public:
  // Copies name and value.
  NameValueResolver(bool precached, const char *name, const char *value);
  virtual ~NameValueResolver();
  NameValueResolver(const NameValueResolver &) = delete;
  NameValueResolver &operator=(const NameValueResolver &) = delete;
  virtual const char *getName();
  // True when both names exist and are equal.
  virtual bool hasValueForName(const char *name);
  // The value (owned by the resolver) when hasValueForName(name), else null.
  virtual const char *valueForName(const char *name);
  bool isPrecached() const { return precached; }

 protected:
  bool precached;
  char *name;   // owned
  char *value;  // owned
};

// An answer to a plugin launch or connect, kept under its cookie until the
// waiter takes it.
struct PendingLaunch {
  int pluginId = -1;
  char *errors = nullptr;  // owned, may be null
};

class SRP_PluginClient {
 public:
  // `proxy` is the endpoint that talks to the router; it owns this part.
  // Installs the precached "cwd" resolver.
  explicit SRP_PluginClient(ServiceRouter_Proxy &proxy);
  ~SRP_PluginClient();
  SRP_PluginClient(const SRP_PluginClient &) = delete;
  SRP_PluginClient &operator=(const SRP_PluginClient &) = delete;

  // Launching and connecting plugins; see ServiceRouter_Proxy.
  int launchPlugin(const char *commandLine, RetryHandler *rh, bool clientStart, char **errors);
  int launchPlugin(char **argv, int argc, RetryHandler *rh, bool clientStart, char **errors);
  int connectToPlugin(const char *host, int port, RetryHandler *rh, char **errors);
  int awaitPluginConnectedEvent(int cookie, RetryHandler *rh, char **errors);
  void onPluginConnected(int cookie, int pluginId, const char *errors);
  void onStartPlugin(const ServiceRouter_STRING_ARRAY &args, int cookie, const char *workingDir);
  const std::vector<int> &getPluginPids() const { return pluginPids; }
  // The base name of the program started as `pid`, or "" when unknown.
  std::string pluginName(int pid) const;
  bool notePluginPidExit(int pid);

  // Name/value questions; see ServiceRouter_Proxy.
  const char *getValueOfNameForPlugin(int pluginId, const char *name, RetryHandler *rh);
  bool awaitValueOfNameOnPluginEvent(int pluginId, const char *name, RetryHandler *rh);
  const char *getCwdOfPlugin(int pluginId, RetryHandler *rh);
  char *resolvePluginRelFilename(int pluginId, const char *fileName, RetryHandler *rh);
  char *resolveConRelFilename(STPSpecClass *connection, const char *fileName, RetryHandler *rh);
  void onValueOfName(int pluginId, const char *name, const char *value);
  void onForwardedRequestValueOfName(int requestingPluginId, int myPluginId, const char *name);
  void cacheNameValuePairs(int pluginId, const ServiceRouter_STRING_ARRAY &pairs);
  const char *getCachedValue(int pluginId, const char *name) const;

  // Makes the protocol log of every endpoint a log forwarded to the router.
  void onStartLogging();

  // Resolvers; see ServiceRouter_Proxy.
  void addNameValueResolver(NameValueResolver *resolver);
  int getNumPrecachedResolvers() const;
  // name, value, name, value, ... of the precached resolvers: a view of the
  // resolvers' strings, valid until a resolver is added.
  std::vector<char *> precachedPairs() const;

  static int nextRequestCookie();

 private:
  ServiceRouter_Proxy &proxy;  // owner
  std::map<int, PendingLaunch> pendingLaunches;
  std::vector<NameValueResolver *> nameValueResolvers;  // owned
  std::map<PluginIdAndNamePair, char *> nameValueCache;  // owned values (gen_free)
  std::map<PluginIdAndNamePair, char *> pendingValues;   // owned values, may be null
  std::vector<int> pluginPids;                           // in start order
  std::map<int, std::string> pluginPidNames;             // base name of each program
};
