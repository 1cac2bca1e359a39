// A small scripted service router for the router-client tests that need
// what the real router never does (no answer, other cookies, a drop in the
// middle of a negotiation, exact message order): the "router" role of the
// ServiceRouter protocol on a TCP socket of this process. It records every
// message a plugin sends as one line of text, answers the registration the
// way the test sets it up, and can send any router message. RouterSide also
// pumps the process's idle notifier, so one pump round serves both the
// router and the proxy under test. Every wait is bounded. startProxy starts
// the proxy under test from a word list.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "servicerouter_router_impl.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/stp_transport/stp_transport.h"

namespace srtest {

// One word of a logged line: a string, "(null)", 1/0, a number, or the
// strings of an array joined with ",".
inline std::string logWord(const char *s) { return s ? s : "(null)"; }
inline std::string logWord(bool b) { return b ? "1" : "0"; }
inline std::string logWord(int i) { return std::to_string(i); }
inline std::string logWord(const ServiceRouter_STRING_ARRAY &a) {
  std::string out;
  for (int i = 0; i < a.count; ++i) {
    if (i) out += ',';
    out += logWord(a.data ? a.data[i] : nullptr);
  }
  return out;
}

// The blank-separated words of a line.
inline std::vector<std::string> words(const std::string &line) {
  std::vector<std::string> out(1);
  for (char c : line)
    if (c == ' ') out.emplace_back();
    else out.back().push_back(c);
  return out;
}

// ServiceRouter_Proxy::startup on `words` (kept alive here until the next
// call), with the wait handler `rh`.
inline bool startProxy(std::vector<std::string> words, RetryHandler *rh, bool connectNow = false,
                       bool mayLaunch = true) {
  static std::vector<std::string> kept;
  static std::vector<char *> argv;
  kept = std::move(words);
  argv.clear();
  for (std::string &w : kept) argv.push_back(w.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(kept.size());
  return ServiceRouter_Proxy::startup(false, &argc, argv.data(), nullptr, false, rh, connectNow, mayLaunch);
}

class ScriptedRouter : public ServiceRouter_router_Impl {
 public:
  // Every message received, in order, as "Name arg arg ...".
  std::vector<std::string> log;
  // RegisterServiceList is answered with PluginId (unless -1) and one RN
  // per name starting at nextRN, plus extraRNs more.
  int pluginIdToGive = 42;
  int nextRN = 100;
  int extraRNs = 0;

  bool saw(const std::string &line) const { return std::count(log.begin(), log.end(), line) > 0; }
  int count(const std::string &prefix) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string &l) {
      return l.compare(0, prefix.size(), prefix) == 0;
    }));
  }
  // The n-th (from 0) logged line starting with `prefix`, or "".
  std::string line(const std::string &prefix, int n = 0) const {
    for (const std::string &l : log)
      if (l.compare(0, prefix.size(), prefix) == 0 && n-- == 0) return l;
    return "";
  }

  void msg_RegisterServiceList(ServiceRouter_STRING_ARRAY &names) override {
    rec("RegisterServiceList", names);
    if (pluginIdToGive != -1) send_PluginId(pluginIdToGive);
    std::vector<int> rns;
    for (int i = 0; i < names.count + extraRNs; ++i) rns.push_back(nextRN++);
    ServiceRouter_INT_ARRAY block;
    block.count = static_cast<int>(rns.size());
    block.data = rns.data();
    send_RNBlockReservedEvent(block);
  }
// Each handler logs its name and arguments.
#define SR_LOG(name, params, ...) \
  void msg_##name params override { rec(#name __VA_OPT__(, ) __VA_ARGS__); }
  SR_LOG(ConnectionAcceptedEvent, (int s, int r, bool a), s, r, a)
  SR_LOG(DebugPlugin, (const char *n, bool d, const char *g, const char *o), n, d, g, o)
  SR_LOG(DropServiceConnection, (int l, int s), l, s)
  SR_LOG(LogMessageEvent, (const char *m), m)
  SR_LOG(PersistentService, (bool p), p)
  SR_LOG(ReleaseRN, (int rn), rn)
  SR_LOG(RequestLocation, ())
  SR_LOG(RequestPluginConnect, (const char *h, int p, int c), h, p, c)
  SR_LOG(RequestPluginIdForService, (int c, const char *n, const char *d, bool s), c, n, d, s)
  SR_LOG(RequestPluginLaunch, (ServiceRouter_STRING_ARRAY &a, int c, bool s, const char *d), a, c, s, d)
  SR_LOG(RequestServiceConnection, (const char *n, int p, ServiceRouter_STRING_ARRAY &pairs,
         const char *d, bool l, int c, bool nr, bool cs), n, p, pairs, d, l, c, nr, cs)
  SR_LOG(RequestServiceRouterDisconnect, ())
  SR_LOG(RequestValueOfNameOnPlugin, (int p, const char *n), p, n)
  SR_LOG(ReserveRNBlock, (int c), c)
  SR_LOG(SetEnvironmentVariable, (const char *n, const char *v), n, v)
  SR_LOG(SetWorkingDir, (const char *d), d)
  SR_LOG(StartPluginEvent, (int c, bool s, const char *e), c, s, e)
  SR_LOG(UnregisterService, (int rn), rn)
  SR_LOG(ValueOfNameOnPluginResponseEvent, (int r, int p, const char *n, const char *v), r, p, n, v)
#undef SR_LOG
  void msg_NumPersistentServices(int *p, int *t) override { *p = *t = 0; }

 private:
  template <class... T>
  void rec(const char *name, const T &...args) {
    std::string l = name;
    ((l.append(" ").append(logWord(args))), ...);
    log.push_back(l);
  }
};

// A listening socket on 127.0.0.1 and, once a plugin has connected, the
// router endpoint on that connection (local RN 1, remote RN 2, as the
// proxy expects). With closeListener() the port refuses connections.
class RouterSide {
 public:
  RouterSide() {
    listenFD = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFD, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::listen(listenFD, 4);
    socklen_t len = sizeof addr;
    ::getsockname(listenFD, reinterpret_cast<sockaddr *>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  ~RouterSide() {
    router->setTransport(nullptr);
    router->delRef();
    transport->closeConnection(nullptr);
    transport->delRef();
    closeListener();
  }
  RouterSide(const RouterSide &) = delete;
  RouterSide &operator=(const RouterSide &) = delete;

  std::string portText() const { return std::to_string(port); }
  void closeListener() {
    if (listenFD >= 0) ::close(listenFD);
    listenFD = -1;
  }

  // Accepts a waiting plugin (binding the router endpoint and sending its
  // negotiation), then runs one pass of the idle notifier and services the
  // router transport.
  void pumpOnce(int waitMs = 2) {
    pollfd p{listenFD, POLLIN, 0};
    if (!connected && listenFD >= 0 && ::poll(&p, 1, 0) == 1) {
      int fd = ::accept4(listenFD, nullptr, nullptr, SOCK_NONBLOCK);
      if (fd >= 0 && (connected = true)) {
        transport->bindFD(fd, nullptr);
        router->setTransport(transport, 1, 2);
        router->sendNegotiate(true, nullptr, nullptr);
      }
    }
    if (IdleNotifier *n = getIdleNotifier()) {
      n->notifyIdle(false);
      n->notifyTimers();
      n->notifySocketActivity(waitMs, true);
    }
    if (connected && !transport->isDead()) transport->serviceOnce(waitMs, nullptr);
  }

  // Pumps until `done` or `ms` have passed; returns done().
  bool pumpUntil(const std::function<bool()> &done, int ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      pumpOnce();
    }
    return true;
  }
  void pumpFor(int ms) { pumpUntil([] { return false; }, ms); }

  int port = 0;
  int listenFD = -1;
  bool connected = false;
  STPTransport *transport = new STPTransport(32768);
  ScriptedRouter *router = new ScriptedRouter();
};

// A retry handler that pumps a RouterSide, with a time-out, and then runs
// the test's responder (which looks at the router's log and sends the
// answers the script calls for).
class RouterPump : public RetryHandler {
 public:
  RouterPump(RouterSide *side, int timeoutMs, std::function<void()> responder = {})
      : RetryHandler(kRetryMillisBase + timeoutMs), side(side), responder(std::move(responder)) {}
  void idle() override {
    side->pumpOnce();
    if (responder) responder();
  }

 private:
  RouterSide *side;
  std::function<void()> responder;
};

}  // namespace srtest
