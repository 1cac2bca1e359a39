// Test support for the service router: a plugin built on the generated
// "plugin" role that records what the router sends it, the endpoints of the
// RouterEcho test service, and a running svc_router process.
//
// Every wait is bounded. Endpoints are reference counted: the test plugin
// owns its echo endpoints and releases them with itself. One thread.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "routerecho_client_impl.h"
#include "routerecho_server_impl.h"
#include "servicerouter_plugin_impl.h"

class STPTransport;

// The programs the build puts beside the tests (KORVO_BIN_DIR, else the
// folder of the running program).
std::string RouterTest_BinDir();

// ---------------------------------------------------------------------------
// RouterEcho endpoints

class EchoServer : public RouterEcho_server_Impl {
 public:
  void msg_Ping(int seq, const char *text) override;
  // Queues `count` notifications of `size` bytes (at most 1 MiB each), then
  // a Pong with seq `count`.
  void msg_Stream(int count, int size) override;
  int pings = 0;
};

class EchoClient : public RouterEcho_client_Impl {
 public:
  void msg_Notify(int seq, const char *data) override;
  void msg_Pong(int seq, const char *text) override { pongs.emplace_back(seq, text ? text : ""); }
  std::vector<std::pair<int, std::string>> pongs;
  int notifies = 0;
  long long notifyBytes = 0;
  int lastNotifySeq = -1;
};

// ---------------------------------------------------------------------------
// Recorded router messages

using RT_Optional = std::optional<std::string>;
struct RT_Reply { std::string name; int localRN, serviceRN, pluginId, cookie; bool found, shared, accepted; };
struct RT_Request { int requester, serviceRN, remoteRN; std::vector<RT_Optional> pairs; };
struct RT_Value { int pluginId; std::string name; RT_Optional value; };
struct RT_Connected { int cookie, pluginId; std::string errors; };
struct RT_PluginIdReply { int cookie, pluginId; std::string name; bool found; };

inline std::string RT_Text(const char *s) { return s ? s : ""; }

class TestPlugin : public ServiceRouter_plugin_Impl {
 public:
  // Connects to 127.0.0.1:port, binds as a router client does (local RN 2,
  // remote RN 1) and negotiates; waits at most `ms` for the plugin id.
  // Null on failure. Release with destroy().
  static TestPlugin *connect(int port, int ms = 5000);
  // The same on a transport that is already connected (its reference is
  // adopted).
  static TestPlugin *adopt(STPTransport *transport, int ms = 5000);
  void destroy();

  STPTransport *link() const { return getTransport(); }
  bool linkAlive() const;
  // Closes the socket at once (a plugin that dies).
  void closeLink();

  // With this set, every connection request is accepted with a new
  // EchoServer (owned here); otherwise requests are only recorded.
  bool serveEcho = false;
  // Answers of ForwardedRequestValueOfNameOnPlugin: name -> value.
  std::vector<std::pair<std::string, std::string>> values;

  // The echo server of this plugin for the (local, remote) RN pair, or null.
  EchoServer *serverFor(int localRN, int remoteRN) const;
  const std::vector<EchoServer *> &servers() const { return echoServers; }

  // Handlers: recorded (and answered where the router waits for it).
  void msg_ConnectionDroppedEvent(int serviceRN, int remoteRN) override;
  void msg_ConnectionReplyEvent(const char *serviceName, int localRN, bool wasFound,
                                bool is_shared_object, bool wasAccepted, int serviceRN,
                                int plugin_id, const char *, int client_cookie) override {
    replies.push_back(RT_Reply{RT_Text(serviceName), localRN, serviceRN, plugin_id,
                               client_cookie, wasFound, is_shared_object, wasAccepted});
  }
  void msg_ConnectionRequestedEvent(int requesting_plugin_id, int serviceRN, int remoteRN,
                                    ServiceRouter_STRING_ARRAY &name_value_pairs) override;
  void msg_ForwardedRequestValueOfNameOnPlugin(int requesting_plugin_id, int my_plugin_id,
                                               const char *name) override;
  void msg_LocationEvent(const char *host, int port) override { locationHost = RT_Text(host), locationPort = port; }
  void msg_PluginConnectedEvent(int cookie, int pluginID, const char *errors) override {
    connected.push_back(RT_Connected{cookie, pluginID, RT_Text(errors)});
  }
  void msg_PluginId(int plugin_id) override;
  void msg_PluginIdForServiceReplyEvent(int cookie, const char *service_name, int plugin_id,
                                        bool found) override {
    pluginIdReplies.push_back(RT_PluginIdReply{cookie, plugin_id, RT_Text(service_name), found});
  }
  void msg_RNBlockReservedEvent(ServiceRouter_INT_ARRAY &rn_list) override {
    rnBlocks.emplace_back(rn_list.data, rn_list.data + rn_list.count);
  }
  void msg_StartLogging() override { ++startLogging; }
  void msg_StartPlugin(ServiceRouter_STRING_ARRAY &, int cookie, const char *) override {
    send_StartPluginEvent(cookie, false, "test plugins start nothing");
  }
  void msg_ValueOfNameOnPluginEvent(int plugin_id, const char *name, const char *value) override {
    valueEvents.push_back(RT_Value{plugin_id, RT_Text(name), value ? RT_Optional(value) : std::nullopt});
  }

  int pluginId = -1;
  std::vector<std::vector<int>> rnBlocks;
  std::vector<RT_Reply> replies;
  std::vector<RT_Request> requests;
  std::vector<std::pair<int, int>> drops;  // (serviceRN, remoteRN)
  std::vector<RT_Value> valueEvents;
  std::vector<RT_Connected> connected;
  std::vector<RT_PluginIdReply> pluginIdReplies;
  std::string locationHost;
  int locationPort = -1;
  int startLogging = 0;

  // Helpers sending the usual requests (queued).
  void registerNames(const std::vector<std::string> &names);
  void requestService(const std::string &name, int cookie, int provider = -1);

 protected:
  ~TestPlugin() override;

 private:
  std::vector<EchoServer *> echoServers;  // one reference each
};

// Services the live links among `links` (a testsupport::Pump) until `done`
// holds or `ms` passed; returns done().
bool RouterTest_Pump(const std::vector<STPTransport *> &links, int ms,
                     const std::function<bool()> &done);

// Connects an EchoClient on `client`'s link to a connection the router
// replied with, and negotiates it against the server side; both links are
// pumped. The client is returned with one reference (release with delRef),
// or null.
EchoClient *RouterTest_OpenEcho(TestPlugin *client, const RT_Reply &reply,
                                const std::vector<STPTransport *> &pumpAlso, int ms = 5000);

// ---------------------------------------------------------------------------
// A svc_router process started by the test (an E2EChild, its standard
// error in a file of its own).

class RouterProcess {
 public:
  ~RouterProcess() {
    if (child && pid > 0) child->signalChild(SIGKILL);
  }
  // Starts svc_router by hand with `args` and reads its banner (5 s at
  // most); false when it did not print its port.
  bool start(const std::vector<std::string> &args);
  // Starts it without reading anything (for launched mode and errors).
  bool spawn(const std::vector<std::string> &args);
  // Waits at most `ms` for the exit; true with *status (waitpid form).
  bool waitExit(int ms, int *status);
  // Sends `sig` and waits at most `ms`.
  bool stop(int sig, int ms, int *status);
  std::string stderrText() const;

  pid_t pid = 0;  // 0 once it ended (or for a caller that let it go)
  int port = 0;
  std::string banner;

 private:
  std::unique_ptr<E2EChild> child;  // kills a router still running when destroyed
  std::string errFile;
};

// Writes `text` to `path`; false on failure.
bool RouterTest_WriteFile(const std::string &path, const std::string &text);
// A unique name for files and zones of one test (pid and a counter).
std::string RouterTest_Unique(const std::string &stem);
