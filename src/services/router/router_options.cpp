// Command-line parsing of svc_router: a table of options, each with a value
// kind, so that every option is read and checked the same way.
#include "services/router/router_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

enum class Kind { kFlag, kText, kInt, kBytes };

struct OptionRow {
  const char *name;
  Kind kind;
  long long min;  // for numbers
  long long max;
};

const OptionRow kOptions[] = {
    {"--help", Kind::kFlag, 0, 0},
    {"-help", Kind::kFlag, 0, 0},
    {"-connect_servicerouter", Kind::kInt, 1, 65535},
    {"-port", Kind::kInt, 0, 65535},
    {"-log", Kind::kText, 0, 0},
    {"-sr_log_internal", Kind::kText, 0, 0},
    {"-sr_zone", Kind::kText, 0, 0},
    {"-not_shared", Kind::kFlag, 0, 0},
    {"-services", Kind::kText, 0, 0},
    {"-start", Kind::kText, 0, 0},
    {"-idle_exit", Kind::kInt, 0, INT_MAX},
    {"-max_pending_bytes", Kind::kBytes, 4096, LLONG_MAX / 4},
    {"-max_total_bytes", Kind::kBytes, 4096, LLONG_MAX / 4},
    {"-max_packet_bytes", Kind::kBytes, 4096, 1LL << 30},
    {"-stall_timeout", Kind::kInt, 1, INT_MAX},
    {"-partial_timeout", Kind::kInt, 1, INT_MAX},
    {"-negotiate_timeout", Kind::kInt, 1, INT_MAX},
    {"-activation_timeout", Kind::kInt, 1, INT_MAX},
    {"-child_wait", Kind::kInt, 0, INT_MAX},
};

const OptionRow *findOption(const char *word) {
  for (const OptionRow &row : kOptions)
    if (std::strcmp(row.name, word) == 0) return &row;
  return nullptr;
}

// A decimal (or 0x hexadecimal) number, with an optional K, M or G suffix
// when `sizes` is set. False when the text is not a number in [min, max].
bool parseNumber(const char *text, bool sizes, long long min, long long max, long long *out) {
  if (!text || !*text || *text == '-') return false;
  errno = 0;
  char *end = nullptr;
  long long v = std::strtoll(text, &end, 0);
  if (errno != 0 || end == text) return false;
  if (sizes && *end) {
    long long unit = 1;
    switch (*end) {
      case 'k': case 'K': unit = 1024LL; break;
      case 'm': case 'M': unit = 1024LL * 1024; break;
      case 'g': case 'G': unit = 1024LL * 1024 * 1024; break;
      default: return false;
    }
    if (v > max / unit) return false;
    v *= unit;
    ++end;
  }
  if (*end) return false;
  if (v < min || v > max) return false;
  *out = v;
  return true;
}

void store(const OptionRow &row, const char *value, long long number, Router_Options *o) {
  const std::string name = row.name;
  if (name == "--help" || name == "-help") o->help = true;
  else if (name == "-connect_servicerouter") o->connectPort = static_cast<int>(number);
  else if (name == "-port") o->port = static_cast<int>(number);
  else if (name == "-log") o->logFile = value;
  else if (name == "-sr_log_internal") o->internalLogFile = value;
  else if (name == "-sr_zone") o->zone = value;
  else if (name == "-not_shared") o->notShared = true;
  else if (name == "-services") o->servicesFile = value;
  else if (name == "-start") o->startNames.push_back(value);
  else if (name == "-idle_exit") o->idleExitMs = static_cast<int>(number);
  else if (name == "-max_pending_bytes") o->maxPendingBytes = number;
  else if (name == "-max_total_bytes") o->maxTotalBytes = number;
  else if (name == "-max_packet_bytes") o->maxPacketBytes = number;
  else if (name == "-stall_timeout") o->stallTimeoutMs = static_cast<int>(number);
  else if (name == "-partial_timeout") o->partialTimeoutMs = static_cast<int>(number);
  else if (name == "-negotiate_timeout") o->negotiateTimeoutMs = static_cast<int>(number);
  else if (name == "-activation_timeout") o->activationTimeoutMs = static_cast<int>(number);
  else if (name == "-child_wait") o->childWaitMs = static_cast<int>(number);
}

}  // namespace

bool Router_ParseOptions(int argc, char **argv, Router_Options *out, std::string *error) {
  for (int i = 1; i < argc; ++i) {
    const char *word = argv[i] ? argv[i] : "";
    const OptionRow *row = findOption(word);
    if (!row) {
      *error = std::string("unknown option \"") + word + "\" (see --help)";
      return false;
    }
    if (row->kind == Kind::kFlag) {
      store(*row, nullptr, 0, out);
      continue;
    }
    if (i + 1 >= argc || !argv[i + 1]) {
      *error = std::string("option ") + word + " needs a value";
      return false;
    }
    const char *value = argv[++i];
    long long number = 0;
    if (row->kind == Kind::kText && !*value) {
      *error = std::string("option ") + word + " needs a non-empty value";
      return false;
    }
    if ((row->kind == Kind::kInt || row->kind == Kind::kBytes) &&
        !parseNumber(value, row->kind == Kind::kBytes, row->min, row->max, &number)) {
      *error = std::string("option ") + word + ": \"" + value + "\" is not a number from " +
               std::to_string(row->min) + " to " + std::to_string(row->max);
      return false;
    }
    store(*row, value, number, out);
  }
  return true;
}

const char *Router_UsageText() {
  return "usage: svc_router [options]\n"
         "The service router of the Korvo IDE: connects the IDE processes (plugins),\n"
         "hands out routing numbers, brokers service connections and forwards their\n"
         "packets. Listens on 127.0.0.1 only and serves only its own user.\n"
         "\n"
         "Start modes:\n"
         "  (by hand)                    listen on -port N or a free port and print it\n"
         "  -connect_servicerouter PORT  launched by a client: connect back to\n"
         "                               127.0.0.1:PORT (the first plugin), then listen\n"
         "Options:\n"
         "  --help                       this text\n"
         "  -port N                      port to listen on when started by hand (0: any)\n"
         "  -services FILE               which program provides which service names\n"
         "                               (default: <program dir>/config/services.cfg)\n"
         "  -start NAME                  start a listed program (or the provider of a\n"
         "                               listed service) at once; may be repeated\n"
         "  -idle_exit MS                end after MS idle milliseconds (default 10000;\n"
         "                               0 = never)\n"
         "  -not_shared                  do not record this router in the\n"
         "                               active-services file\n"
         "  -sr_zone NAME                zone: selects the active-services file\n"
         "  -log FILE                    protocol log and the plugins' forwarded logs\n"
         "  -sr_log_internal FILE        log of the router's own decisions\n"
         "  -max_pending_bytes N[K|M|G]  queue to one plugin above which the links\n"
         "                               feeding it are not read until it drains\n"
         "                               below N/4 (default 8M)\n"
         "  -max_total_bytes N[K|M|G]    all queues together above which no link is\n"
         "                               read until they drain below 3/4 of N\n"
         "                               (default 256M)\n"
         "  -max_packet_bytes N[K|M|G]   larger packets are skipped (default 64M)\n"
         "  -stall_timeout MS            drop a plugin whose queue stays over the limit\n"
         "                               with nothing read for MS (default 10000)\n"
         "  -partial_timeout MS          drop a plugin that sends nothing for MS in the\n"
         "                               middle of a packet (default 30000)\n"
         "  -negotiate_timeout MS        drop a plugin not negotiated after MS\n"
         "                               (default 10000)\n"
         "  -activation_timeout MS       longest wait for a started program to\n"
         "                               register its services (default 30000)\n"
         "  -child_wait MS               at the end, wait up to MS for started\n"
         "                               programs to exit (default 10000)\n"
         "Ends on SIGTERM, SIGINT or SIGHUP and after the idle time.\n"
         "\n"
         "A plugin's DebugPlugin request (name, debugger, options) makes the next\n"
         "start of that program run as: DEBUGGER OPTIONS... PROGRAM ARGS...\n"
         "Started programs run in the request's working directory, else the\n"
         "requester's (SetWorkingDir), else this router's.\n";
}
