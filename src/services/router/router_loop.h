// Router_Loop: the router's sockets, signals and main loop.
//
// It listens on 127.0.0.1 only (a given port or a free one), accepts every
// plugin that connects from the router's own user (others are closed before
// a byte is read), optionally connects back to the client that
// launched the router (that link is the first plugin), and waits on all its
// sockets at once (Router_Poller) until SIGTERM, SIGINT or SIGHUP arrives
// or the router has been idle for the -idle_exit time. Signals and child
// exits reach the loop through a pipe, so a wait never misses them. At the
// end it closes every plugin link (after writing what is queued for it) and
// waits a bounded time for the programs the router started.
//
// One thread; one loop per process (the signal handlers are process-wide).
#pragma once

#include <string>

#include "services/router/router_options.h"
#include "services/router/router_poller.h"

class Router_Core;
class Router_Log;
class Router_Acceptor;
class ut_WakePipe;

class Router_Loop {
 public:
  // Core, options and log are not owned and outlive the loop.
  Router_Loop(Router_Core *core, const Router_Options &options, Router_Log *log);
  ~Router_Loop();
  Router_Loop(const Router_Loop &) = delete;
  Router_Loop &operator=(const Router_Loop &) = delete;

  // Installs the signal handlers and listens; false with *error set.
  bool listen(int port, std::string *error);
  int getPort() const { return port; }
  // Connects to the launching client at 127.0.0.1:connectPort and makes
  // that link the first plugin; false with *error set.
  bool connectBack(int connectPort, std::string *error);
  // Runs until a stop signal or the idle time.
  void run();
  // Stops accepting and closes every link, waiting up to 2 s for their
  // output to be written.
  void closeLinks();
  // Waits up to `childWaitMs` for the started programs to end (they do once
  // their link is gone); a second stop signal cuts the wait short.
  void waitForChildren(int childWaitMs);
  // The signal that ended the loop, 0 when it ended idle.
  int stopSignal() const;

 private:
  void reapChildren();
  int passTimeout(long long now, long long idleSince) const;
  void onePass(int timeoutMs);

  Router_Core *core;
  const Router_Options &options;
  Router_Log *log;
  Router_Acceptor *acceptor = nullptr;   // owned
  ut_WakePipe *signals = nullptr;  // owned; the signal handlers write to it
  Router_Poller poller;
  Router_Poller::Watch signalWatch;
  int port = 0;
};
