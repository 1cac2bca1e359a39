// Test support for the service router (see router_testkit.h).
#include "services/router/router_testkit.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

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

void TestPlugin::msg_ConnectionRequestedEvent(int requesting_plugin_id, int serviceRN,
                                              int remoteRN,
                                              ServiceRouter_STRING_ARRAY &name_value_pairs) {
  RT_Request r{requesting_plugin_id, serviceRN, remoteRN, {}};
  for (int i = 0; i < name_value_pairs.count; ++i)
    r.pairs.push_back(name_value_pairs.data[i] ? RT_Optional(name_value_pairs.data[i]) : std::nullopt);
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

void TestPlugin::msg_PluginId(int plugin_id) {
  pluginId = plugin_id;
  getTransport()->setDefaultToken(plugin_id & 0xffff);
}


void TestPlugin::registerNames(const std::vector<std::string> &names) {
  std::vector<char *> ptrs;
  for (const std::string &n : names) ptrs.push_back(const_cast<char *>(n.c_str()));
  ServiceRouter_STRING_ARRAY a{static_cast<int>(ptrs.size()), ptrs.empty() ? nullptr : ptrs.data()};
  send_RegisterServiceList(a);
}

void TestPlugin::requestService(const std::string &name, int cookie, int provider) {
  char *pairs[] = {const_cast<char *>("cwd"), const_cast<char *>("/tmp/client-cwd")};
  ServiceRouter_STRING_ARRAY a{2, pairs};
  send_RequestServiceConnection(name.c_str(), provider, a, "/tmp", false, cookie, false, false);
}

// ---------------------------------------------------------------------------
// Pumping

bool RouterTest_Pump(const std::vector<STPTransport *> &links, int ms,
                     const std::function<bool()> &done) {
  std::vector<STPTransport *> live;
  std::copy_if(links.begin(), links.end(), std::back_inserter(live), [](STPTransport *t) { return t; });
  return testsupport::Pump(live, ms).until(done);
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

bool RouterProcess::spawn(const std::vector<std::string> &args) {
  errFile = e2eTempPath("router_err");
  child = std::make_unique<E2EChild>(RouterTest_BinDir() + "/svc_router", args, errFile);
  pid = child->pid > 0 ? child->pid : 0;
  return pid > 0;
}

bool RouterProcess::start(const std::vector<std::string> &args) {
  if (!spawn(args)) return false;
  // The banner's last line says how to stop it.
  for (std::string l; banner.find("Ctrl-C") == std::string::npos;) {
    l = child->readLine(5000);
    if (l == "<timeout>" || l == "<eof>") break;
    banner += l + "\n";
  }
  size_t at = banner.find(" port ");
  port = at == std::string::npos ? 0 : std::atoi(banner.c_str() + at + 6);
  return port > 0;
}

bool RouterProcess::waitExit(int ms, int *status) {
  int code = pid > 0 ? child->waitExit(ms) : -1;
  if (code < 0) return false;
  *status = code >= 128 ? code - 128 : code << 8;  // waitpid's form
  pid = 0;
  return true;
}

bool RouterProcess::stop(int sig, int ms, int *status) {
  if (pid > 0) child->signalChild(sig);
  return pid > 0 && waitExit(ms, status);
}

std::string RouterProcess::stderrText() const { return e2eReadFile(errFile); }

bool RouterTest_WriteFile(const std::string &path, const std::string &text) {
  return static_cast<bool>(std::ofstream(path) << text);
}

std::string RouterTest_Unique(const std::string &stem) {
  static int counter = 0;
  return stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}
