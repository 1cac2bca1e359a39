// End-to-end support for the broadcast services: a real svc_router started
// by hand on a free port (it starts svc_statemgr from its services file on
// the first request for one of its services), this test process connected
// to it through the process-wide router client, and waits that run the
// process's idle notifier with a time limit.
//
// The test process must not link the service modules themselves (it would
// then offer their services). One thread; every wait is bounded.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace e2e {

// The folder of the built programs.
inline std::string binDir() {
  const char *d = getenv("KORVO_BIN_DIR");
  return d ? d : ".";
}

// One pass of this process's loop: idlers, timers, one socket wait.
inline void pumpOnce(int ms) {
  IdleNotifier *n = getIdleNotifier();
  n->notifyIdle(false);
  n->notifyTimers();
  n->notifySocketActivity(ms, true);
}

// Runs loop passes until cond() holds or `ms` passed; true when it holds.
template <class F>
bool until(F cond, int ms = 5000) {
  long long end = ut_getTimeMillis64() + ms;
  while (!cond()) {
    if (ut_getTimeMillis64() > end) return false;
    pumpOnce(5);
  }
  return true;
}

// Runs loop passes for `ms` (to let anything in flight arrive).
inline void settle(int ms = 200) {
  long long end = ut_getTimeMillis64() + ms;
  while (ut_getTimeMillis64() < end) pumpOnce(5);
}

// A retry handler for senders and connection requests: waits by running
// the loop, gives up after `ms` (10 s by default).
class LoopPump : public RetryHandler {
 public:
  explicit LoopPump(int ms = 10000) : RetryHandler(kRetryMillisBase + ms) {}
  void idle() override { pumpOnce(5); }
};

// svc_router on a free port, its output in a file under TMPDIR.
class RouterProcess {
 public:
  pid_t pid = -1;
  int port = 0;
  std::string logPath;

  // Starts the router and waits (up to 5 s) for its port; false on failure.
  bool start() {
    const char *tmp = getenv("TMPDIR");
    logPath = std::string(tmp ? tmp : "/tmp") + "/svc_router." + std::to_string(getpid()) + ".err";
    std::string prog = binDir() + "/svc_router";
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a test that died
      int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      // KORVO_E2E_ROUTER_LOG=1 keeps the router's protocol and decision
      // logs beside its output (for debugging a failing run).
      std::string plog = logPath + ".protocol", ilog = logPath + ".decisions";
      if (getenv("KORVO_E2E_ROUTER_LOG"))
        execl(prog.c_str(), prog.c_str(), "-port", "0", "-not_shared", "-idle_exit", "0", "-child_wait",
              "3000", "-activation_timeout", "5000", "-log", plog.c_str(), "-sr_log_internal", ilog.c_str(), static_cast<char *>(nullptr));
      execl(prog.c_str(), prog.c_str(), "-port", "0", "-not_shared", "-idle_exit", "0", "-child_wait",
            "3000", "-activation_timeout", "5000", static_cast<char *>(nullptr));
      _exit(127);
    }
    if (pid < 0) return false;
    for (int i = 0; i < 500 && port == 0; ++i) {
      usleep(10000);
      port = readPort();
    }
    return port > 0;
  }
  // Ends the router (SIGTERM; it ends what it started) and reaps it.
  void stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) {
        pid = -1;
        return;
      }
      usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }

 private:
  int readPort() const {
    FILE *f = fopen(logPath.c_str(), "r");
    if (!f) return 0;
    char line[512];
    int found = 0;
    while (!found && fgets(line, sizeof line, f)) {
      const char *p = strstr(line, "listening on 127.0.0.1 port ");
      if (p) found = atoi(p + strlen("listening on 127.0.0.1 port "));
    }
    fclose(f);
    return found;
  }
};

// A program started with the router's connect options for `port`, its
// output appended to `logPath`; the caller reaps it (waitpid).
inline pid_t startPlugin(const std::string &program, int port, const std::string &logPath) {
  std::string prog = binDir() + "/" + program;
  std::string portText = std::to_string(port);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execl(prog.c_str(), prog.c_str(), "-sr_connect_servicerouter_port", portText.c_str(),
          static_cast<char *>(nullptr));
    _exit(127);
  }
  return pid;
}

// Waits (up to `ms`) until some plugin has registered `service`, without
// asking the router to start a provider.
inline bool awaitProvider(const char *service, int ms) {
  long long end = ut_getTimeMillis64() + ms;
  while (ut_getTimeMillis64() < end) {
    LoopPump rh;
    bool found = false;
    if (servicerouter_proxy &&
        servicerouter_proxy->getPluginIdForService(service, nullptr, &rh, false, &found) >= 0 && found)
      return true;
    settle(50);
  }
  return false;
}

// Connects this process's router client to `port`. Call once.
inline bool connectClient(int port) {
  std::string portText = std::to_string(port);
  char prog[] = "e2e_client";
  char opt[] = "-sr_connect_servicerouter_port";
  char hostOpt[] = "-sr_connect_servicerouter_host";
  char host[] = "127.0.0.1";
  char *argv[] = {prog, opt, portText.data(), hostOpt, host, nullptr};
  int argc = 5;
  return ServiceRouter_Proxy::startup(false, &argc, argv, nullptr, false, nullptr, true, false);
}

// Asks the router for a connection to `service` and binds `endpoint` to it.
inline bool connectService(const char *service, STPSpecClass *endpoint) {
  LoopPump rh;
  bool found = false, accepted = false;
  return servicerouter_proxy &&
         servicerouter_proxy->getServiceConnection(service, endpoint, &found, &accepted, &rh, nullptr,
                                                   false, false, false) &&
         found && accepted;
}

// Ends a connection from this side and releases the caller's reference.
inline void disconnect(STPSpecClass *endpoint) {
  if (servicerouter_proxy) {
    LoopPump rh;
    servicerouter_proxy->dropServiceConnection(endpoint, &rh, true);
  }
  endpoint->delRef();
}

}  // namespace e2e
