// A small scripted service router for the router-client tests: the "router"
// role of the ServiceRouter protocol on a TCP socket of this process. It
// records every message a plugin sends as one line of text, answers the
// registration the way the test sets it up (plugin id and a block of RNs),
// and can send any router message. RouterSide also pumps the process's idle
// notifier, so one pump round serves both the router and the proxy under
// test when they live in the same process. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "servicerouter_router_impl.h"
#include "shared/libcxxutil/ut_idle_notifier.h"
#include "shared/stp_transport/stp_transport.h"

namespace srtest {

// Joins the strings of an array with ",".
inline std::string joinArray(const ServiceRouter_STRING_ARRAY &a) {
  std::string out;
  for (int i = 0; i < a.count; ++i) {
    if (i) out += ",";
    out += a.data && a.data[i] ? a.data[i] : "(null)";
  }
  return out;
}

inline std::string str(const char *s) { return s ? s : "(null)"; }

class ScriptedRouter : public ServiceRouter_router_Impl {
 public:
  // Every message received, in order, as "Name arg arg ...".
  std::vector<std::string> log;
  // What RegisterServiceList is answered with: PluginId (unless -1) and one
  // RN per name starting at nextRN, plus extraRNs more. A registration is
  // not answered when answerRegistration is false.
  bool answerRegistration = true;
  int pluginIdToGive = 42;
  int nextRN = 100;
  int extraRNs = 0;
  // The answer to RequestLocation.
  std::string locationHost = "routerhost";
  int locationPort = 4711;

  bool saw(const std::string &line) const {
    for (const std::string &l : log)
      if (l == line) return true;
    return false;
  }
  int count(const std::string &prefix) const {
    int n = 0;
    for (const std::string &l : log)
      if (l.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
  }

  void msg_RegisterServiceList(ServiceRouter_STRING_ARRAY &names) override {
    log.push_back("RegisterServiceList " + joinArray(names));
    if (!answerRegistration) return;
    if (pluginIdToGive != -1) send_PluginId(pluginIdToGive);
    std::vector<int> rns;
    for (int i = 0; i < names.count + extraRNs; ++i) rns.push_back(nextRN++);
    ServiceRouter_INT_ARRAY block;
    block.count = static_cast<int>(rns.size());
    block.data = rns.data();
    send_RNBlockReservedEvent(block);
  }
  void msg_ConnectionAcceptedEvent(int serviceRN, int remoteRN, bool accept) override {
    log.push_back("ConnectionAcceptedEvent " + std::to_string(serviceRN) + " " +
                  std::to_string(remoteRN) + " " + (accept ? "1" : "0"));
  }
  void msg_DebugPlugin(const char *name, bool doDebug, const char *dbg, const char *opts) override {
    log.push_back("DebugPlugin " + str(name) + " " + (doDebug ? "1" : "0") + " " + str(dbg) + " " +
                  str(opts));
  }
  void msg_DropServiceConnection(int localRN, int serviceRN) override {
    log.push_back("DropServiceConnection " + std::to_string(localRN) + " " +
                  std::to_string(serviceRN));
  }
  void msg_LogMessageEvent(const char *message) override { log.push_back("LogMessageEvent " + str(message)); }
  void msg_NumPersistentServices(int *numPersistent, int *numTotal) override {
    log.push_back("NumPersistentServices");
    *numPersistent = 3;
    *numTotal = 8;
  }
  void msg_PersistentService(bool persistent) override {
    log.push_back(std::string("PersistentService ") + (persistent ? "1" : "0"));
  }
  void msg_ReleaseRN(int rn) override { log.push_back("ReleaseRN " + std::to_string(rn)); }
  void msg_RequestLocation() override {
    log.push_back("RequestLocation");
    send_LocationEvent(locationHost.c_str(), locationPort);
  }
  void msg_RequestPluginConnect(const char *host, int port, int cookie) override {
    log.push_back("RequestPluginConnect " + str(host) + " " + std::to_string(port) + " " +
                  std::to_string(cookie));
  }
  void msg_RequestPluginIdForService(int cookie, const char *name, const char *dir, bool start) override {
    log.push_back("RequestPluginIdForService " + std::to_string(cookie) + " " + str(name) + " " +
                  str(dir) + " " + (start ? "1" : "0"));
  }
  void msg_RequestPluginLaunch(ServiceRouter_STRING_ARRAY &argv, int cookie, bool clientStart,
                               const char *dir) override {
    log.push_back("RequestPluginLaunch " + joinArray(argv) + " " + std::to_string(cookie) + " " +
                  (clientStart ? "1" : "0") + " " + str(dir));
  }
  void msg_RequestServiceConnection(const char *name, int provider, ServiceRouter_STRING_ARRAY &pairs,
                                    const char *dir, bool localOnly, int cookie, bool noReuse,
                                    bool clientStart) override {
    log.push_back("RequestServiceConnection " + str(name) + " " + std::to_string(provider) + " " +
                  joinArray(pairs) + " " + str(dir) + " " + (localOnly ? "1" : "0") + " " +
                  std::to_string(cookie) + " " + (noReuse ? "1" : "0") + " " +
                  (clientStart ? "1" : "0"));
  }
  void msg_RequestServiceRouterDisconnect() override { log.push_back("RequestServiceRouterDisconnect"); }
  void msg_RequestValueOfNameOnPlugin(int pluginId, const char *name) override {
    log.push_back("RequestValueOfNameOnPlugin " + std::to_string(pluginId) + " " + str(name));
  }
  void msg_ReserveRNBlock(int count) override { log.push_back("ReserveRNBlock " + std::to_string(count)); }
  void msg_SetEnvironmentVariable(const char *variable, const char *value) override {
    log.push_back("SetEnvironmentVariable " + str(variable) + " " + str(value));
  }
  void msg_SetWorkingDir(const char *dir) override { log.push_back("SetWorkingDir " + str(dir)); }
  void msg_StartPluginEvent(int cookie, bool success, const char *error) override {
    log.push_back("StartPluginEvent " + std::to_string(cookie) + " " + (success ? "1" : "0") + " " +
                  str(error));
  }
  void msg_UnregisterService(int serviceRN) override {
    log.push_back("UnregisterService " + std::to_string(serviceRN));
  }
  void msg_ValueOfNameOnPluginResponseEvent(int requester, int pluginId, const char *name,
                                            const char *value) override {
    log.push_back("ValueOfNameOnPluginResponseEvent " + std::to_string(requester) + " " +
                  std::to_string(pluginId) + " " + str(name) + " " + str(value));
  }
};

// A listening socket on 127.0.0.1 and, once a plugin has connected, the
// router endpoint on that connection. The endpoint's routing numbers mirror
// the proxy's (local 1, remote 2).
class RouterSide {
 public:
  RouterSide() {
    listenFD = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listenFD, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::listen(listenFD, 4);
    socklen_t len = sizeof addr;
    ::getsockname(listenFD, reinterpret_cast<sockaddr *>(&addr), &len);
    port = ntohs(addr.sin_port);
    transport = new STPTransport(32768);
    router = new ScriptedRouter();
  }
  ~RouterSide() {
    router->setTransport(nullptr);
    router->delRef();
    transport->closeConnection(nullptr);
    transport->delRef();
    if (listenFD >= 0) ::close(listenFD);
  }
  RouterSide(const RouterSide &) = delete;
  RouterSide &operator=(const RouterSide &) = delete;

  std::string portText() const { return std::to_string(port); }
  bool isConnected() const { return connected; }

  // Accepts a waiting plugin (binding the router endpoint and sending its
  // negotiation), then runs one pass of the idle notifier and services the
  // router transport.
  void pumpOnce(int waitMs = 2) {
    if (!connected) tryAccept();
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
  // Pumps for `ms` whatever happens.
  void pumpFor(int ms) {
    pumpUntil([] { return false; }, ms);
  }

  // Closes the connection to the plugin.
  void disconnect() { transport->closeConnection(nullptr); }

  int port = 0;
  int listenFD = -1;
  STPTransport *transport;
  ScriptedRouter *router;

 private:
  void tryAccept() {
    pollfd p{listenFD, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1) return;
    int fd = ::accept4(listenFD, nullptr, nullptr, SOCK_NONBLOCK);
    if (fd < 0) return;
    transport->bindFD(fd, nullptr);
    router->setTransport(transport, 1, 2);
    router->sendNegotiate(true, nullptr, nullptr);
    connected = true;
  }
  bool connected = false;
};

// A TCP port on 127.0.0.1 that refuses connections while the object lives
// (bound, never listening).
class RefusedPort {
 public:
  RefusedPort() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~RefusedPort() { ::close(fd); }
  RefusedPort(const RefusedPort &) = delete;
  RefusedPort &operator=(const RefusedPort &) = delete;
  int fd;
  int port;
};

// A retry handler that pumps a RouterSide, with a time-out: what the proxy
// is given for its waits when router and proxy share this process.
class RouterPump : public RetryHandler {
 public:
  RouterPump(RouterSide *side, int timeoutMs)
      : RetryHandler(kRetryMillisBase + timeoutMs), side(side) {}
  void idle() override { side->pumpOnce(); }

 private:
  RouterSide *side;
};

}  // namespace srtest
