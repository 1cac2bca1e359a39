// Test support for the service router (see router_testkit.h).
#include "services/router/router_testkit.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "shared/libcxxutil/ut_retry_handler.h"
#include "support/stp_pump.h"
#include "shared/stp_transport/stp_msg.h"
#include "shared/stp_transport/stp_transport.h"

std::string RouterTest_BinDir() {
  const char *dir = std::getenv("KORVO_BIN_DIR");
  if (dir && *dir) return dir;
  char self[PATH_MAX] = {};
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  return path.substr(0, path.rfind('/'));
}

// ---------------------------------------------------------------------------
// Echo endpoints

void EchoServer::msg_Ping(int seq, const char *text) {
  ++pings;
  send_Pong(seq, text);
}

void EchoServer::msg_Stream(int count, int size) {
  std::string data(static_cast<size_t>(std::clamp(size, 0, 1 << 20)), 's');
  for (int i = 0; i < count; ++i) send_Notify(i, data.c_str());
  send_Pong(count, "");
}

void EchoClient::msg_Notify(int seq, const char *data) {
  ++notifies;
  lastNotifySeq = seq;
  notifyBytes += data ? static_cast<long long>(std::strlen(data)) : 0;
}

void EchoClient::msg_Pong(int seq, const char *text) { pongs.emplace_back(seq, text ? text : ""); }

// ---------------------------------------------------------------------------
// Test plugin

TestPlugin *TestPlugin::connect(int port, int ms) {
  STPTransport *t = new STPTransport(32768);
  TStat st;
  if (!t->connect("127.0.0.1", port, &st)) {
    t->delRef();
    return nullptr;
  }
  return adopt(t, ms);
}

TestPlugin *TestPlugin::adopt(STPTransport *t, int ms) {
  TestPlugin *p = new TestPlugin();
  p->setTransport(t, 2, 1);
  t->delRef();
  TStat st;
  p->sendNegotiate(true, nullptr, &st);
  if (!RouterTest_Pump({t}, ms, [p] { return p->pluginId != -1; })) {
    p->destroy();
    return nullptr;
  }
  return p;
}

TestPlugin::~TestPlugin() {
  for (EchoServer *s : echoServers) {
    s->setTransport(nullptr);
    s->delRef();
  }
}

void TestPlugin::destroy() {
  STPTransport *t = getTransport();
  if (t) t->closeConnection(nullptr);
  for (EchoServer *s : echoServers) s->setTransport(nullptr);
  setTransport(nullptr);
  delRef();
}

bool TestPlugin::linkAlive() const { return getTransport() && !getTransport()->isDead(); }

void TestPlugin::closeLink() {
  if (getTransport()) getTransport()->closeConnection(nullptr);
}

EchoServer *TestPlugin::serverFor(int localRN, int remoteRN) const {
  for (EchoServer *s : echoServers)
    if (s->getLocalRN() == localRN && s->getRemoteRN() == remoteRN) return s;
  return nullptr;
}

void TestPlugin::msg_ConnectionDroppedEvent(int serviceRN, int remoteRN) {
  drops.emplace_back(serviceRN, remoteRN);
  if (EchoServer *s = serverFor(serviceRN, remoteRN)) s->markAsDown();
}

void TestPlugin::msg_ConnectionReplyEvent(const char *serviceName, int localRN, bool wasFound,
                                          bool is_shared_object, bool wasAccepted, int serviceRN,
                                          int plugin_id, const char *, int client_cookie) {
  replies.push_back(RT_Reply{serviceName ? serviceName : "", localRN, serviceRN, plugin_id,
                             client_cookie, wasFound, is_shared_object, wasAccepted});
}

void TestPlugin::msg_ConnectionRequestedEvent(int requesting_plugin_id, int serviceRN,
                                              int remoteRN,
                                              ServiceRouter_STRING_ARRAY &name_value_pairs) {
  RT_Request r{requesting_plugin_id, serviceRN, remoteRN, {}};
  for (int i = 0; i < name_value_pairs.count; ++i) {
    const char *s = name_value_pairs.data[i];
    r.pairs.push_back(s ? std::optional<std::string>(s) : std::nullopt);
  }
  requests.push_back(r);
  if (!serveEcho) return;
  EchoServer *server = new EchoServer();
  server->setTransport(getTransport(), serviceRN, remoteRN);
  echoServers.push_back(server);
  send_ConnectionAcceptedEvent(serviceRN, remoteRN, true);
  TStat st;
  server->sendNegotiate(false, nullptr, &st);
}

void TestPlugin::msg_ForwardedRequestValueOfNameOnPlugin(int requesting_plugin_id, int,
                                                         const char *name) {
  const char *value = nullptr;
  for (const auto &nv : values)
    if (name && nv.first == name) value = nv.second.c_str();
  send_ValueOfNameOnPluginResponseEvent(requesting_plugin_id, pluginId, name, value);
}

void TestPlugin::msg_LocationEvent(const char *hostname, int port) {
  locationHost = hostname ? hostname : "";
  locationPort = port;
}

void TestPlugin::msg_PluginConnectedEvent(int cookie, int pluginID, const char *errors) {
  connected.push_back(RT_Connected{cookie, pluginID, errors ? errors : ""});
}

void TestPlugin::msg_PluginId(int plugin_id) {
  pluginId = plugin_id;
  getTransport()->setDefaultToken(plugin_id & 0xffff);
}

void TestPlugin::msg_PluginIdForServiceReplyEvent(int cookie, const char *service_name,
                                                  int plugin_id, bool found) {
  pluginIdReplies.push_back(RT_PluginIdReply{cookie, plugin_id, service_name ? service_name : "",
                                             found});
}

void TestPlugin::msg_RNBlockReservedEvent(ServiceRouter_INT_ARRAY &rn_list) {
  rnBlocks.emplace_back(rn_list.data, rn_list.data + rn_list.count);
}

void TestPlugin::msg_StartLogging() { ++startLogging; }

void TestPlugin::msg_StartPlugin(ServiceRouter_STRING_ARRAY &, int cookie, const char *) {
  send_StartPluginEvent(cookie, false, "test plugins start nothing");
}

void TestPlugin::msg_ValueOfNameOnPluginEvent(int plugin_id, const char *name, const char *value) {
  valueEvents.push_back(RT_Value{plugin_id, name ? name : "",
                                 value ? std::optional<std::string>(value) : std::nullopt});
}

void TestPlugin::registerNames(const std::vector<std::string> &names) {
  std::vector<char *> ptrs;
  for (const std::string &n : names) ptrs.push_back(const_cast<char *>(n.c_str()));
  ServiceRouter_STRING_ARRAY a;
  a.count = static_cast<int>(ptrs.size());
  a.data = ptrs.empty() ? nullptr : ptrs.data();
  send_RegisterServiceList(a);
}

void TestPlugin::requestService(const std::string &name, int cookie, int provider) {
  std::string cwd = "/tmp/client-cwd";
  char *pairs[] = {const_cast<char *>("cwd"), const_cast<char *>(cwd.c_str())};
  ServiceRouter_STRING_ARRAY a;
  a.count = 2;
  a.data = pairs;
  send_RequestServiceConnection(name.c_str(), provider, a, "/tmp", false, cookie, false, false);
}

// ---------------------------------------------------------------------------
// Pumping

bool RouterTest_Pump(const std::vector<STPTransport *> &links, int ms,
                     const std::function<bool()> &done) {
  std::vector<STPTransport *> live;
  for (STPTransport *t : links)
    if (t) live.push_back(t);
  testsupport::Pump pump(live, ms);
  return pump.until(done);
}

EchoClient *RouterTest_OpenEcho(TestPlugin *client, const RT_Reply &reply,
                                const std::vector<STPTransport *> &pumpAlso, int ms) {
  if (!reply.found || !reply.accepted) return nullptr;
  EchoClient *c = new EchoClient();
  c->setTransport(client->link(), reply.localRN, reply.serviceRN);
  TStat st;
  c->sendNegotiate(false, nullptr, &st);
  // The server's negotiation may have come before this endpoint existed.
  client->link()->dequeueAndDeliverMessage(reply.serviceRN, reply.localRN, STP_TYPE_ENDPOINT);
  std::vector<STPTransport *> links = pumpAlso;
  links.push_back(client->link());
  if (!RouterTest_Pump(links, ms, [c] { return c->isNegotiated(); })) {
    c->setTransport(nullptr);
    c->delRef();
    return nullptr;
  }
  return c;
}

// ---------------------------------------------------------------------------
// Router process

RouterProcess::~RouterProcess() {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  if (outFd >= 0) ::close(outFd);
}

bool RouterProcess::spawn(const std::vector<std::string> &args) {
  std::string program = RouterTest_BinDir() + "/svc_router";
  const char *tmp = std::getenv("TMPDIR");
  errFile = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + RouterTest_Unique("router_err");
  int out[2];
  if (::pipe(out) != 0) return false;
  pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(out[1], 1);
    int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) ::dup2(err, 2);
    ::close(out[0]);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  outFd = out[0];
  return true;
}

bool RouterProcess::start(const std::vector<std::string> &args) {
  if (!spawn(args)) return false;
  long long end = ut_getTimeMillis64() + 5000;
  ::fcntl(outFd, F_SETFL, O_NONBLOCK);
  while (banner.find('\n') == std::string::npos && ut_getTimeMillis64() < end) {
    char buf[512];
    ssize_t n = ::read(outFd, buf, sizeof buf);
    if (n > 0) {
      banner.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else {
      ::usleep(10000);
    }
  }
  size_t at = banner.find(" port ");
  if (at == std::string::npos) return false;
  port = std::atoi(banner.c_str() + at + 6);
  return port > 0;
}

bool RouterProcess::waitExit(int ms, int *status) {
  if (pid <= 0) return false;
  long long end = ut_getTimeMillis64() + ms;
  for (;;) {
    pid_t r = ::waitpid(pid, status, WNOHANG);
    if (r == pid) {
      pid = 0;
      return true;
    }
    if (ut_getTimeMillis64() >= end) return false;
    ::usleep(10000);
  }
}

bool RouterProcess::stop(int sig, int ms, int *status) {
  if (pid <= 0) return false;
  ::kill(pid, sig);
  return waitExit(ms, status);
}

std::string RouterProcess::stderrText() const {
  std::ifstream in(errFile);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool RouterTest_WriteFile(const std::string &path, const std::string &text) {
  std::ofstream out(path);
  out << text;
  return static_cast<bool>(out);
}

std::string RouterTest_Unique(const std::string &stem) {
  static int counter = 0;
  return stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}
