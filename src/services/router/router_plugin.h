// Router_Plugin: one connected process (a "plugin") as the router sees it:
// its link (transport and router endpoint), its plugin id, what it told the
// router about itself, and where it is in its life:
//
//   negotiating -> welcomed (plugin id sent) -> closing -> removed
//
// The loop watches the plugin's link for what wantsToRead/wantsToWrite say
// and hands what is ready to Router_Core. The router never deletes a plugin
// while one of its handlers runs: closing only marks it, and Router_Core
// removes marked plugins between loop passes.
//
// Owns one reference on its transport and on its endpoint. One thread.
#pragma once

#include <string>
#include <vector>

#include "services/router/router_poller.h"

class Router_Core;
class Router_Endpoint;
class Router_Transport;

class Router_Plugin {
 public:
  // Adopts the caller's reference on `transport` (bound), creates the
  // endpoint bound to it with local RN 1 / remote RN 2.
  Router_Plugin(Router_Core *core, int id, Router_Transport *transport, long long now);
  // Closes the link and releases endpoint and transport.
  ~Router_Plugin();
  Router_Plugin(const Router_Plugin &) = delete;
  Router_Plugin &operator=(const Router_Plugin &) = delete;

  int getId() const { return id; }
  Router_Transport *getTransport() const { return transport; }
  Router_Endpoint *getEndpoint() const { return endpoint; }

  // Stops reading; with a flush deadline the link is closed once its output
  // is written or the deadline (ut_getTimeMillis64) passed, otherwise at the
  // next clean-up. The first reason is kept.
  void startClosing(const std::string &why, long long flushDeadline);
  bool isClosing() const { return closing; }
  // Whether the clean-up may remove this plugin now.
  bool readyForRemoval(long long now) const;

  // What the link waits for: its socket (-1 once closed), reading (not
  // while closing or paused by flow control), writing (queued output), and
  // received packets still to hand out without a socket event.
  int linkFD() const;
  bool wantsToRead() const;
  bool wantsToWrite() const;
  bool wantsToDequeueAndDispatch() const;
  Router_Poller::Watch watch;    // what the loop's poller watches for

  // What the plugin said about itself, and how it came.
  std::string workingDir;
  bool persistent = true;       // until it says otherwise
  bool welcomed = false;        // PluginId sent
  bool startedByRouter = false; // launched by this router (activation or launch request)
  int pid = 0;                  // when started by this router
  std::string programName;      // when started by this router
  long long connectedAt;        // ut_getTimeMillis64 at connection
  // A link the router opened for RequestPluginConnect: who asked, and the
  // cookie to answer with once the plugin is welcomed (-1: nobody).
  int connectRequester = -1;
  int connectCookie = 0;
  std::string reason;           // why it is closing

  // Flow control. A plugin whose queue passed the high-water mark is
  // "congested"; the plugins that fed it meanwhile wait (are not read)
  // until it drains. `blockedOn` counts the congested plugins this one
  // waits for.
  bool congested = false;
  long long congestedSince = 0;
  long long lastProgress = 0;    // last write that took bytes of its queue
  std::vector<int> waitingFeeders;
  int blockedOn = 0;
  // The last write left bytes queued: the socket takes more only once the
  // loop reports it writable, so the core does not try before.
  bool socketFull = false;
  // Time-outs and what was already logged.
  long long lastInputAt;         // ut_getTimeMillis64 of the last readable event
  int skippedSeen = 0;           // oversized packets already logged
  bool forgeryLogged = false;

 private:
  Router_Core *core;             // not owned
  int id;
  Router_Transport *transport;   // one reference
  Router_Endpoint *endpoint;     // one reference
  bool closing = false;
  long long flushDeadline = 0;   // 0: close without flushing
};
