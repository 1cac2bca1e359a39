// srp_router_link_args: the router options of the command line. Every
// option is removed from the argument vector once recognised; an option that
// takes a value is recognised only when a value follows it.
#include <cstdio>
#include <cstring>

#include "services/servicerouter_proxy/srp_router_link.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_log.h"

namespace {

enum Option {
  kOptConnect,
  kOptConnectHost,
  kOptConnectPort,
  kOptLog,
  kOptLogRouter,
  kOptLogAll,
  kOptLogRouterInternal,
  kOptZone,
  kOptClientStartCookie,
  kOptShared,
  kOptPrivate,
  kOptReuse,
  kOptNew,
  kOptDebug,
  kOptDebugger,
  kOptDebuggerOpts,
  kOptDebugStartup,
  kOptDebugDebugger,
  kOptDebugDebuggerOpts,
  kOptDir,
};

struct OptionDesc {
  const char *name;
  bool takesValue;
  Option id;
};

constexpr OptionDesc kOptions[] = {
    {"-connect_servicerouter", true, kOptConnect},
    {"-sr_connect_servicerouter_host", true, kOptConnectHost},
    {"-sr_connect_servicerouter_port", true, kOptConnectPort},
    {"-sr_log", true, kOptLog},
    {"-sr_log_router", true, kOptLogRouter},
    {"-sr_log_all", true, kOptLogAll},
    {"-sr_log_router_internal", true, kOptLogRouterInternal},
    {"-sr_zone", true, kOptZone},
    {"-sr_client_start_cookie", true, kOptClientStartCookie},
    {"-sr_shared", false, kOptShared},
    {"-sr_private", false, kOptPrivate},
    {"-sr_reuse", false, kOptReuse},
    {"-sr_new", false, kOptNew},
    {"-sr_debug", true, kOptDebug},
    {"-sr_debugger", true, kOptDebugger},
    {"-sr_debugger_opts", true, kOptDebuggerOpts},
    {"-sr_debug_startup", false, kOptDebugStartup},
    {"-sr_debug_debugger", true, kOptDebugDebugger},
    {"-sr_debug_debugger_opts", true, kOptDebugDebuggerOpts},
    {"-sr_dir", true, kOptDir},
};

const OptionDesc *findOption(const char *word) {
  if (!word) return nullptr;
  for (const OptionDesc &o : kOptions)
    if (std::strcmp(o.name, word) == 0) return &o;
  return nullptr;
}

// Replaces an owned option string by a copy of `value` (the later option
// wins).
void replaceString(char **field, const char *value) {
  gen_free(*field);
  *field = gen_copy(value);
}

int parseNumber(const char *value) { return static_cast<int>(gen_strtoul(value, nullptr, 0)); }

// Removes `count` words at `index`, moving the rest (and the terminating
// null) down.
void removeWords(int *argc, char **argv, int index, int count) {
  for (int i = index; i + count < *argc; ++i) argv[i] = argv[i + count];
  *argc -= count;
  argv[*argc] = nullptr;
}

}  // namespace

bool SRP_RouterLink::argsIndicateLaunchedFromServiceRouter(int argc, char **argv) {
  if (!argv) return false;
  for (int i = 0; i < argc - 1; ++i) {
    const OptionDesc *o = findOption(argv[i]);
    if (o && (o->id == kOptConnect || o->id == kOptConnectHost || o->id == kOptConnectPort))
      return true;
  }
  return false;
}

bool SRP_RouterLink::isSRArgument(int argc, char **argv, int index, int *wordCount) {
  if (!argv || index < 0 || index >= argc) return false;
  const OptionDesc *o = findOption(argv[index]);
  if (!o) return false;
  if (o->takesValue && (index + 1 >= argc || !argv[index + 1])) return false;
  if (wordCount) *wordCount = o->takesValue ? 2 : 1;
  return true;
}

void SRP_RouterLink::parseArguments(int *argc, char **argv) {
  if (!argc || !argv) return;
  int i = 1;
  while (i < *argc) {
    int words = 0;
    if (!isSRArgument(*argc, argv, i, &words)) {
      ++i;
      continue;
    }
    applyOption(argv[i], words == 2 ? argv[i + 1] : nullptr);
    removeWords(argc, argv, i, words);
  }
}

void SRP_RouterLink::applyOption(const char *name, const char *value) {
  const OptionDesc *o = findOption(name);
  if (!o) return;
  switch (o->id) {
    case kOptConnect:
    case kOptConnectPort:
      launchedFromRouter = true;
      routerPort = parseNumber(value);
      break;
    case kOptConnectHost:
      launchedFromRouter = true;
      replaceString(&routerHost, value);
      break;
    case kOptLog:
      openLogFile(value);
      break;
    case kOptLogRouter:
    case kOptLogAll:
      replaceString(&routerLogFile, value);
      break;
    case kOptLogRouterInternal:
      replaceString(&routerInternalLogFile, value);
      break;
    case kOptZone:
      replaceString(&zone, value);
      break;
    case kOptClientStartCookie:
      clientStartCookie = parseNumber(value);
      hasClientStartCookie = true;
      break;
    case kOptShared:
      privateRouter = false;
      break;
    case kOptPrivate:
      privateRouter = true;
      break;
    case kOptReuse:
      newRouter = false;
      break;
    case kOptNew:
      newRouter = true;
      break;
    case kOptDebug:
      replaceString(&debugPluginName, value);
      break;
    case kOptDebugger:
      replaceString(&debugger, value);
      break;
    case kOptDebuggerOpts:
      replaceString(&debuggerOpts, value);
      break;
    case kOptDebugStartup:
      debugAtStartup = true;
      break;
    case kOptDebugDebugger:
      replaceString(&startupDebugger, value);
      break;
    case kOptDebugDebuggerOpts:
      replaceString(&startupDebuggerOpts, value);
      break;
    case kOptDir: {
      // A directory that does not resolve is kept as given; launching from
      // it then fails with the usual message.
      char *real = gen_realpath(value);
      gen_free(routerDir);
      routerDir = real ? real : gen_copy(value);
      break;
    }
  }
}

void SRP_RouterLink::openLogFile(const char *fileName) {
  FILE *f = std::fopen(fileName, "w");
  if (!f) return;
  setGlobalLog(new TimestampedSTPFileLog(f, false));
  if (logFile) std::fclose(logFile);
  logFile = f;
}

void SRP_RouterLink::verifyConsistentArgs() {
  if (debugger && !debugPluginName)
    gen_warning("Must specify -sr_debug for -sr_debugger to have meaning.");
  if (debuggerOpts && !debugPluginName)
    gen_warning("Must specify -sr_debug for -sr_debugger_opts to have meaning.");
  if (debugAtStartup && (!startupDebugger || !startupDebuggerOpts))
    gen_warning(
        "Must specify both -sr_debug_debugger and -sr_debug_debugger_opts when "
        "-sr_debug_startup is passed.");
  if ((startupDebugger || startupDebuggerOpts) && !debugAtStartup)
    gen_warning("Must specify -sr_debug_startup with -sr_debug_debugger and -sr_debug_debugger_opts.");
}
