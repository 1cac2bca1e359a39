// The broadcast services end to end: a real svc_router starts the broadcast
// modules in their own process, and this process reaches
// "BroadcastService.Config", "BroadcastService.File.Notify" and
// "BroadcastService.File.Listen" through the router with the generated client roles. The provider lives for the
// whole program, so every test uses its own configuration indexes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configservice_client_impl.h"
#include "filebroadcast_listener_impl.h"
#include "filenotify_notifier_impl.h"
#include "e2e/e2e_process.h"
#include "services/configservice/e2e_support.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

E2ERouter *g_router = nullptr;

// A configuration client that records what it hears, one line per event.
class ConfigClient : public ConfigService_client_Impl {
 public:
  std::vector<std::string> heard;
  void msg_ReceiveEndBlockBroadcast() override { heard.push_back("end"); }
  void msg_ReceiveMessage(int type, const char *message) override {
    heard.push_back("msg " + std::to_string(type) + " " + (message ? message : "(null)"));
  }
  void msg_ReceiveNotification(const char *line) override {
    heard.push_back(std::string("note ") + (line ? line : "(null)"));
  }
  void msg_ReceiveStartBlockBroadcast() override { heard.push_back("start"); }

  // ListenForConfigs: the answered lines.
  std::vector<std::string> listen() {
    ConfigService_STRING_ARRAY items;
    e2e::LoopPump rh;
    std::vector<std::string> out;
    if (!send_ListenForConfigs(&items, &rh, nullptr)) return {"(failed)"};
    for (int i = 0; i < items.count; ++i) out.push_back(items.data[i] ? items.data[i] : "(null)");
    ConfigService_STRING_ARRAY_free(&items);
    return out;
  }
};

// Starts a router that starts the real svc_statemgr (its configuration's own
// WhiteBoard connection keeps it serving while connections come and go) and
// connects this process to it.
class RouterEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_router = new E2ERouter("svc_statemgr", {"BroadcastService.Config",
                                                     "BroadcastService.File.Notify",
                                                     "BroadcastService.File.Listen"});
    ASSERT_GT(g_router->port, 0) << "svc_router did not start";
    ASSERT_TRUE(e2e::connectClient(g_router->port));
  }
  void TearDown() override {
    ServiceRouter_Proxy::shutdown(false);
    delete g_router;
  }
};

const auto *g_env = ::testing::AddGlobalTestEnvironment(new RouterEnvironment);

// A file listener that records every event as its message name and fields.
class FileListener : public FileBroadcast_listener_Impl {
 public:
  std::vector<std::string> heard;
  void add(const char *kind, int src, const char *name) {
    heard.push_back(std::string(kind) + " " + std::to_string(src) + " " + (name ? name : "(null)"));
  }
  void msg_FileCreated(int src, const char *f) override { add("created", src, f); }
  void msg_FileModified(int src, const char *f) override { add("modified", src, f); }
  void msg_FileRemoved(int src, const char *f) override { add("removed", src, f); }
  void msg_FileRemotelyAdded(int src, const char *, const char *f, const char *, const char *,
                             bool dir) override {
    add(dir ? "remotely-added-dir" : "remotely-added", src, f);
  }
  void msg_FileRemotelyModified(int src, const char *, const char *f, const char *, const char *,
                                const char *) override {
    add("remotely-modified", src, f);
  }
  void msg_FileRemotelyRemoved(int src, const char *, const char *f, const char *, const char *) override {
    add("remotely-removed", src, f);
  }
};

template <class T>
T *connected(const char *service) {
  T *t = new T();
  EXPECT_TRUE(e2e::connectService(service, t)) << service;
  return t;
}

// The entries of `lines` that start with `prefix`, in order.
std::vector<std::string> withPrefix(const std::vector<std::string> &lines, const std::string &prefix) {
  std::vector<std::string> out;
  for (const std::string &l : lines)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

TEST(BroadcastE2E, LateListenerGetsStoredLinesInIndexOrderAndItsOwnBroadcast) {
  ConfigClient *sender = connected<ConfigClient>("BroadcastService.Config");
  e2e::LoopPump rh;
  ASSERT_TRUE(sender->send_BroadcastConfig(1005, "e2e-a five", true, &rh));
  ASSERT_TRUE(sender->send_BroadcastConfig(1001, "e2e-a one", true, &rh));
  ASSERT_TRUE(sender->send_BroadcastConfig(1003, "e2e-a three", true, &rh));

  ConfigClient *late = connected<ConfigClient>("BroadcastService.Config");
  EXPECT_EQ(withPrefix(late->listen(), "e2e-a"),
            (std::vector<std::string>{"e2e-a one", "e2e-a three", "e2e-a five"}));
  // A listener hears its own broadcast; the sender (not a listener) does not.
  ASSERT_TRUE(late->send_BroadcastConfig(1003, "e2e-a THREE", true, &rh));
  ASSERT_TRUE(e2e::until([&] { return !late->heard.empty(); }));
  e2e::settle();
  EXPECT_EQ(late->heard, (std::vector<std::string>{"note e2e-a THREE"}));
  EXPECT_TRUE(sender->heard.empty());
  e2e::disconnect(sender);
  e2e::disconnect(late);
}

TEST(BroadcastE2E, BlockBracketsArriveInOrderAroundNotifications) {
  ConfigClient *a = connected<ConfigClient>("BroadcastService.Config");
  ConfigClient *b = connected<ConfigClient>("BroadcastService.Config");
  a->listen();
  b->listen();
  e2e::LoopPump rh;
  ASSERT_TRUE(a->send_StartBlockBroadcast(true, &rh));
  ASSERT_TRUE(a->send_BroadcastConfig(2001, "e2e-b x", true, &rh));
  ASSERT_TRUE(b->send_BroadcastMessage(7, "e2e-b hello", true, &rh));
  ASSERT_TRUE(a->send_EndBlockBroadcast(true, &rh));
  ASSERT_TRUE(e2e::until([&] { return a->heard.size() >= 4 && b->heard.size() >= 4; }));
  std::vector<std::string> expected{"start", "note e2e-b x", "msg 7 e2e-b hello", "end"};
  EXPECT_EQ(a->heard, expected);
  EXPECT_EQ(b->heard, expected);
  e2e::disconnect(a);
  e2e::disconnect(b);
}

TEST(BroadcastE2E, DisconnectedListenerStopsReceivingOthersGoOn) {
  ConfigClient *a = connected<ConfigClient>("BroadcastService.Config");
  ConfigClient *b = connected<ConfigClient>("BroadcastService.Config");
  a->listen();
  b->listen();
  e2e::disconnect(b);
  e2e::settle();
  e2e::LoopPump rh;
  ASSERT_TRUE(a->send_BroadcastConfig(3001, "e2e-c after", true, &rh));
  ASSERT_TRUE(e2e::until([&] { return !a->heard.empty(); }));
  EXPECT_EQ(a->heard, (std::vector<std::string>{"note e2e-c after"}));
  e2e::disconnect(a);
}

TEST(BroadcastE2E, FileListenerWithFilterGetsOnlyWhatItAskedFor) {
  FileListener *all = connected<FileListener>("BroadcastService.File.Listen");
  FileListener *removals = connected<FileListener>("BroadcastService.File.Listen");
  FileNotify_notifier_Impl *notifier = connected<FileNotify_notifier_Impl>("BroadcastService.File.Notify");
  e2e::LoopPump rh;
  ASSERT_TRUE(removals->send_ListenForAll(false, true, &rh));
  ASSERT_TRUE(removals->send_ListenForFileRemoved(true, true, &rh));
  ASSERT_TRUE(removals->send_ListenForFileRemotelyAdded(false, true, &rh));
  ASSERT_TRUE(removals->send_ListenForFileRemotelyModified(false, true, &rh));
  e2e::settle();
  ASSERT_TRUE(notifier->send_FileCreated("/e2e/c", true, &rh));
  ASSERT_TRUE(notifier->send_FileRemoved("/e2e/r", true, &rh));
  ASSERT_TRUE(notifier->send_FileRemotelyAdded("repo", "/e2e/d", "main", "ann", true, true, &rh));
  ASSERT_TRUE(notifier->send_FileRemotelyRemoved("repo", "/e2e/rr", "main", "ann", true, &rh));
  ASSERT_TRUE(e2e::until([&] { return all->heard.size() >= 4 && removals->heard.size() >= 2; }));
  e2e::settle();
  EXPECT_EQ(all->heard, (std::vector<std::string>{"created -1 /e2e/c", "removed -1 /e2e/r",
                                                  "remotely-added-dir -1 /e2e/d",
                                                  "remotely-removed -1 /e2e/rr"}));
  EXPECT_EQ(removals->heard, (std::vector<std::string>{"removed -1 /e2e/r", "remotely-removed -1 /e2e/rr"}));
  e2e::disconnect(notifier);
  e2e::disconnect(all);
  e2e::disconnect(removals);
}

TEST(BroadcastE2E, MalformedRequestsLeaveTheServiceWorking) {
  ConfigClient *bad = connected<ConfigClient>("BroadcastService.Config");
  ConfigClient *good = connected<ConfigClient>("BroadcastService.Config");
  good->listen();
  STPTransport *t = bad->getTransport();
  e2e::LoopPump rh;
  const char *bodies[] = {"BroadcastConfig", "BroadcastConfig index:0x7fffffffff configLine:\"open",
                          "BroadcastMessage type:zz message:", "NoSuchMessage a:1"};
  int ids[] = {0, 0, 1, 77};
  for (int i = 0; i < 4; ++i) {
    STPAsciiOMsg *m = t->createAsciiMessage(bad->getLocalRN(), bad->getRemoteRN(), 14, ids[i], 2);
    m->putIdent(bodies[i]);
    TStat st;
    EXPECT_NE(t->sendMessage(m, &rh, &st), 0) << st.message;
    delete m;
  }
  ASSERT_TRUE(e2e::until([&] { return good->heard.size() >= 3; }));
  ASSERT_TRUE(good->send_BroadcastConfig(4001, "e2e-d fine", true, &rh));
  ASSERT_TRUE(e2e::until([&] { return !good->heard.empty() && good->heard.back() == "note e2e-d fine"; }));
  e2e::disconnect(bad);
  e2e::disconnect(good);
}

}  // namespace
