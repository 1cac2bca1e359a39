// svc_router: the project's service router. See router_options.h for the
// start modes and router_core.h for what it does.
//
// Exit status: 0 after a normal end (signal or idle time), 1 when it could
// not start (socket, record, logs, services file, a -start program), 2 for
// a bad command line.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "services/router/router_core.h"
#include "services/router/router_log.h"
#include "services/router/router_loop.h"
#include "services/router/router_options.h"
#include "services/router/router_record.h"
#include "shared/indgen.h"

namespace {

int usageError(const std::string &text) {
  gen_error("%s", text.c_str());
  std::fprintf(stderr, "usage: svc_router [options]   (svc_router --help for more)\n");
  return 2;
}

// What a person who started the router by hand needs to know. The first
// line is stable for scripts: "svc_router: listening on 127.0.0.1 port N (pid P)".
void printBanner(const Router_Options &o, int port, const Router_Record &record) {
  std::printf("svc_router: listening on 127.0.0.1 port %d (pid %d)\n", port,
              static_cast<int>(::getpid()));
  if (o.notShared)
    std::printf("svc_router: not shared (-not_shared): clients must be given the port\n");
  else
    std::printf("svc_router: active-services file %s\n", record.fileName().c_str());
  std::printf("svc_router: try  korvoctl location | korvoctl whereis SERVICE [--start] |"
              " korvoctl value PLUGIN NAME\n");
  if (o.idleExitMs > 0)
    std::printf("svc_router: ends after %d ms without clients; stop with Ctrl-C\n", o.idleExitMs);
  else
    std::printf("svc_router: stop with Ctrl-C (or SIGTERM)\n");
  std::fflush(stdout);
}

// A router launched by a client outlives it: it leaves the client's session
// (a Ctrl-C meant for the client's job does not reach it) and lets go of the
// client's standard streams, so that a script reading the client's output
// is not kept waiting until the router ends. Its warnings still reach the
// internal log when there is one.
void detachFromLauncher() {
  ::setsid();
  int null = ::open("/dev/null", O_RDWR);
  if (null < 0) return;
  ::dup2(null, 0);
  ::dup2(null, 1);
  ::dup2(null, 2);
  if (null > 2) ::close(null);
}

// A start that failed after the logs were opened: reported on the error
// stream and, since a launched router has let go of it, in the log.
int startFailure(Router_Log &log, const std::string &text) {
  gen_error("%s", text.c_str());
  log.note("cannot start: %s", text.c_str());
  return 1;
}

// Everything after the command line was read; returns the exit status.
int runRouter(const Router_Options &o) {
  Router_Log log;
  if (!log.openInternal(o.internalLogFile.c_str())) {
    gen_error("cannot open the internal log %s", o.internalLogFile.c_str());
    return 1;
  }
  if (!log.openProtocol(o.logFile.c_str())) {
    gen_error("cannot open the log %s", o.logFile.c_str());
    return 1;
  }
  if (o.connectPort >= 0) detachFromLauncher();
  Router_Core core(o, &log);
  std::string error;
  if (!core.loadServicesFile(&error)) return startFailure(log, error);
  for (const std::string &name : o.startNames)
    if (!core.servicesFile().program(name) && !core.servicesFile().providerOf(name))
      return usageError("-start " + name + ": not listed in the services file");
  Router_Loop loop(&core, o, &log);
  const bool launched = o.connectPort >= 0;
  if (!loop.listen(launched ? 0 : o.port, &error)) return startFailure(log, error);
  // The record goes out before the launching client is connected: that
  // client unlocks the file once the router has connected back.
  Router_Record record;
  if (!o.notShared && !record.publish(loop.getPort(), o.zone, launched, &error))
    return startFailure(log, error);
  log.note("listening on 127.0.0.1 port %d", loop.getPort());
  int status = 0;
  if (launched && !loop.connectBack(o.connectPort, &error)) status = startFailure(log, error);
  if (!launched) printBanner(o, loop.getPort(), record);
  for (size_t i = 0; status == 0 && i < o.startNames.size(); ++i)
    if (!core.startListed(o.startNames[i], &error)) status = 1;
  if (status == 0) loop.run();
  // Clients must not find a router that no longer listens: the record goes
  // as soon as the links are closed, before the wait for started programs.
  loop.closeLinks();
  record.withdraw();
  loop.waitForChildren(o.childWaitMs);
  log.note("ended");
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  gen_init(argc > 0 && argv[0] ? argv[0] : "svc_router", 0, 0);
  Router_Options options;
  std::string error;
  if (!Router_ParseOptions(argc, argv, &options, &error)) return usageError(error);
  if (options.help) {
    std::fputs(Router_UsageText(), stdout);
    return 0;
  }
  return runRouter(options);
}
