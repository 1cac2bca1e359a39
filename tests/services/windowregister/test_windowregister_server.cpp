// The WindowRegister service over real connections: module order, exit
// condition, registration seen across connections, relayed show, iconify
// and close requests arriving at the owning client, and connections that
// end or cannot be written to. Malformed requests: test_malformed_requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "services/fileregistry/fileregistry_server.h"
#include "services/service_connections.h"
#include "services/windowregister/windowregister_server.h"
#include "windowregister_client_impl.h"

namespace {

using Lines = std::vector<std::string>;

// A client that records the requests relayed to it.
class RecordingClient : public WindowRegister_client_Impl {
 public:
  Lines got;
  void msg_CloseWindow(const char *cls, const char *title, int win) override {
    note("close", cls, title, win);
  }
  void msg_IconifyWindow(const char *cls, const char *title, int win) override {
    note("iconify", cls, title, win);
  }
  void msg_ShowWindow(const char *cls, const char *title, int win) override {
    note("show", cls, title, win);
  }

 private:
  void note(const char *what, const char *cls, const char *title, int win) {
    got.push_back(std::string(what) + " " + (cls ? cls : "(null)") + " " +
                  (title ? title : "(null)") + " " + std::to_string(win));
  }
};

class WindowRegisterServerTest : public ::testing::Test {
 protected:
  ServiceConnections net;
  std::vector<WindowRegister_Server *> servers;

  RecordingClient *connect() {
    auto *client = new RecordingClient;
    STPSpecClass *s = net.connect(WindowRegister_GetServiceFactory(), client);
    EXPECT_NE(s, nullptr);
    servers.push_back(dynamic_cast<WindowRegister_Server *>(s));
    return client;
  }

  void add(RecordingClient *c, const char *cls, const char *title, int win) {
    TStat st;
    EXPECT_TRUE(c->send_AddWindow(cls, title, win, &net.pump, &st)) << st.message;
  }

  // "connection class title id" per listed window, as `c` sees it.
  Lines listing(RecordingClient *c) {
    WindowRegister__WindowInfoArray info;
    TStat st;
    EXPECT_TRUE(c->send_GetWindowList(&info, &net.pump, &st)) << st.message;
    Lines out;
    for (int i = 0; i < info.count; ++i) {
      const WindowRegister__WindowInfo &w = info.winInfo[i];
      out.push_back(std::string(w.serviceName ? w.serviceName : "(null)") + " " +
                    (w.className ? w.className : "(null)") + " " +
                    (w.windowName ? w.windowName : "(null)") + " " + std::to_string(w.win));
    }
    WindowRegister__WindowInfoArray_free(&info);
    return out;
  }

  // The name connection i got (names depend on how many came before).
  std::string nameOf(int i) { return servers[i]->getName(); }
};

// With both modules linked, the window register's factory precedes the
// file registry's whatever the link order; open connections do not hold
// the process.
TEST_F(WindowRegisterServerTest, ModuleOrderAndExitCondition) {
  const std::vector<ServiceFactory *> &all = *GlobalServiceFactoryList::getServiceFactoryList();
  auto win = std::find(all.begin(), all.end(), WindowRegister_GetServiceFactory());
  ASSERT_NE(win, all.end());
  EXPECT_EQ(std::next(win) - all.begin(),
            std::find(all.begin(), all.end(), FileRegistry_GetServiceFactory()) - all.begin());
  connect();
  Svc_EventLoop loop;
  EXPECT_TRUE(loop.shouldExit());
}

// Registrations, retitles and deletions of every connection reach the
// shared listing (its order is the register's, tested there); a server's
// local counts and list cover only its own windows. Show, iconify and close
// requests from another connection reach the owning client.
TEST_F(WindowRegisterServerTest, ListingAndRelaysAcrossConnections) {
  RecordingClient *a = connect(), *b = connect();
  add(b, "Ed", "b1", 1);
  add(a, "Ed", "a1", 1);
  add(a, "Sh", "a2", 2);
  add(a, "Sh", "a3", 3);
  TStat st;
  ASSERT_TRUE(a->send_ChangeWindowTitle(nullptr, "a2-new", 2, &net.pump, &st));
  ASSERT_TRUE(a->send_DeleteWindow(3, false, nullptr, &st));
  // DeleteWindow may only be delivered inside its own transaction while a
  // request waits; in one test process the listing below would be such a
  // wait, so let it arrive first.
  net.settle();
  std::string na = nameOf(0), nb = nameOf(1);
  EXPECT_EQ(listing(b), (Lines{na + " Ed a1 1", na + " Sh a2-new 2", nb + " Ed b1 1"}));
  EXPECT_EQ(servers[0]->GetWindowNumber(true), 2);
  EXPECT_EQ(servers[0]->GetWindowNumber(false), 3);
  WindowRegister__WindowInfoArray info;
  servers[1]->GetLocalWindowList(&info);
  ASSERT_EQ(info.count, 1);
  EXPECT_EQ(std::string(info.winInfo[0].serviceName) + " " + info.winInfo[0].windowName, nb + " b1");
  WindowRegister__WindowInfoArray_free(&info);

  ASSERT_TRUE(b->send_ShowWindow(na.c_str(), "Sh", "ignored", 2, true, &net.pump, &st));
  ASSERT_TRUE(b->send_IconifyAllWindows(true, &net.pump, &st));
  ASSERT_TRUE(b->send_ShowAllWindows(true, &net.pump, &st));
  ASSERT_TRUE(b->send_CloseAllWindows(true, &net.pump, &st));
  ASSERT_TRUE(net.pump.until([&] { return a->got.size() >= 7; }));
  net.settle();
  EXPECT_EQ(a->got, (Lines{"show Sh a2-new 2", "iconify Ed a1 1", "iconify Sh a2-new 2", "show Ed a1 1",
                           "show Sh a2-new 2", "close Ed a1 1", "close Sh a2-new 2"}));
  EXPECT_EQ(b->got, (Lines{"iconify Ed b1 1", "show Ed b1 1", "close Ed b1 1"}));
  EXPECT_EQ(listing(b), Lines{});
}

TEST_F(WindowRegisterServerTest, RelaysAreWrittenBeforeTheCallReturns) {
  RecordingClient *owner = connect();
  add(owner, "Ed", "one", 1);
  add(owner, "Ed", "two", 2);
  EXPECT_TRUE(servers[0]->IconifyWindow(nullptr, 0));
  // Nothing waits in the server's queue: only the client side is serviced.
  EXPECT_FALSE(net.serverSide->wantsToWrite());
  TStat st;
  for (int i = 0; i < 200 && owner->got.size() < 2; ++i) net.clientSide->serviceOnce(1, &st);
  EXPECT_EQ(owner->got, (Lines{"iconify Ed one 1", "iconify Ed two 2"}));
}

// A connection that ended leaves with its windows; one that can no longer
// be written misses the relay, and its windows are forgotten on close all
// the same.
TEST_F(WindowRegisterServerTest, EndedOrUnwritableConnectionsMissRelays) {
  RecordingClient *a = connect(), *b = connect(), *c = connect();
  add(a, "Ed", "a", 1);
  add(b, "Ed", "b", 2);
  add(c, "Ed", "c", 3);
  net.drop(servers[0]);
  servers[1]->markSendingAsDown();
  EXPECT_EQ(listing(c), (Lines{nameOf(1) + " Ed b 2", nameOf(2) + " Ed c 3"}));
  TStat st;
  ASSERT_TRUE(c->send_CloseAllWindows(true, &net.pump, &st));
  ASSERT_TRUE(net.pump.until([&] { return !c->got.empty(); }));
  net.settle();
  EXPECT_TRUE(a->got.empty());
  EXPECT_TRUE(b->got.empty());
  EXPECT_EQ(c->got, (Lines{"close Ed c 3"}));
  EXPECT_EQ(listing(c), Lines{});
}

}  // namespace
