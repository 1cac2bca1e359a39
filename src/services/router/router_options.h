// Router_Options: the command line of svc_router.
//
// Two start modes: by hand (listen on -port N or a free port and print it),
// or launched by a router client ("-connect_servicerouter PORT" first: the
// router connects back to 127.0.0.1:PORT and that process is its first
// plugin). The options a client passes when it launches a router ("-log",
// "-sr_log_internal", "-not_shared", "-sr_zone") are accepted in both modes.
//
// Parsing never exits: a bad command line gives false and a one-line error.
// One thread.
#pragma once

#include <string>
#include <vector>

struct Router_Options {
  // Port to connect back to (launched mode), -1 when started by hand.
  int connectPort = -1;
  // Port to listen on by hand; 0 picks a free one.
  int port = 0;
  std::string logFile;          // "-log": protocol log and forwarded plugin logs
  std::string internalLogFile;  // "-sr_log_internal": the router's own decisions
  std::string zone;             // "-sr_zone": selects the active-services file
  std::string servicesFile;     // "-services": which program provides which names
  std::vector<std::string> startNames;  // "-start", in order
  bool notShared = false;       // "-not_shared": no active-services record
  bool help = false;            // "--help"
  int idleExitMs = 10000;       // "-idle_exit"; 0 = never
  // Flow control: past this many queued bytes a destination's senders are
  // no longer read until it drains below a quarter of it.
  long long maxPendingBytes = 8LL * 1024 * 1024;    // "-max_pending_bytes"
  long long maxTotalBytes = 256LL * 1024 * 1024;    // "-max_total_bytes": all queues
  long long maxPacketBytes = 64LL * 1024 * 1024;    // "-max_packet_bytes": larger ones skipped
  int stallTimeoutMs = 10000;       // "-stall_timeout": over the limit without progress
  int partialTimeoutMs = 30000;     // "-partial_timeout": no byte of a started packet
  int negotiateTimeoutMs = 10000;   // "-negotiate_timeout"
  int activationTimeoutMs = 30000;  // "-activation_timeout"
  int childWaitMs = 10000;          // "-child_wait": at the end, wait for started programs
};

// Parses argv[1 .. argc-1] into *out. On a usage error returns false and
// sets *error to a one-line text (no program name, no newline).
bool Router_ParseOptions(int argc, char **argv, Router_Options *out, std::string *error);

// The --help text (several lines, ends with a newline). Static storage.
const char *Router_UsageText();
