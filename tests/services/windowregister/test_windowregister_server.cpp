// The WindowRegister service over real connections: factory, naming,
// exit condition, registration seen across connections, relayed show,
// iconify and close requests arriving at the owning client, connections
// that end or cannot be written to, and malformed packets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "services/fileregistry/fileregistry_server.h"
#include "services/service_connections.h"
#include "services/windowregister/windowregister_server.h"
#include "shared/stp_transport/stp_amsg.h"
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

TEST_F(WindowRegisterServerTest, FactoryNameAndModuleOrder) {
  ServiceFactory *factory = WindowRegister_GetServiceFactory();
  EXPECT_STREQ(factory->getServiceName(), "TWL_WindowRegisterService");
  // Both modules linked: the window register's name precedes the file
  // registry's, whatever the link order.
  const std::vector<ServiceFactory *> *all = GlobalServiceFactoryList::getServiceFactoryList();
  ASSERT_NE(all, nullptr);
  int win = -1, files = -1;
  for (size_t i = 0; i < all->size(); ++i) {
    if ((*all)[i] == factory) win = static_cast<int>(i);
    if ((*all)[i] == FileRegistry_GetServiceFactory()) files = static_cast<int>(i);
  }
  ASSERT_GE(win, 0);
  EXPECT_EQ(files, win + 1);
}

TEST_F(WindowRegisterServerTest, OpenConnectionsDoNotHoldTheProcess) {
  connect();
  Svc_EventLoop loop;
  EXPECT_TRUE(loop.shouldExit());
}

TEST_F(WindowRegisterServerTest, ListShowsEveryConnectionInOrder) {
  RecordingClient *a = connect();
  RecordingClient *b = connect();
  add(b, "Ed", "b1", 1);
  add(a, "Ed", "a1", 1);
  add(a, "Sh", "a2", 2);
  add(a, "Ed", "a1-renamed", 1);
  std::string na = nameOf(0), nb = nameOf(1);
  EXPECT_EQ(listing(b), (Lines{na + " Ed a1-renamed 1", na + " Sh a2 2", nb + " Ed b1 1"}));
  TStat st;
  ASSERT_TRUE(a->send_ChangeWindowTitle(nullptr, "a2-new", 2, &net.pump, &st));
  ASSERT_TRUE(a->send_DeleteWindow(1, false, nullptr, &st));
  // DeleteWindow may only be delivered inside its own transaction while a
  // request waits; in one test process the listing below would be such a
  // wait, so let it arrive first.
  net.settle();
  EXPECT_EQ(listing(b), (Lines{na + " Sh a2-new 2", nb + " Ed b1 1"}));
}

TEST_F(WindowRegisterServerTest, AnotherProcessShowsIconifiesAndClosesMyWindow) {
  RecordingClient *owner = connect();
  RecordingClient *other = connect();
  add(owner, "Ed", "main.c", 11);
  add(owner, "Ed", "util.c", 12);
  TStat st;
  ASSERT_TRUE(other->send_ShowWindow(nameOf(0).c_str(), "Ed", "ignored", 12, true, &net.pump, &st));
  ASSERT_TRUE(other->send_IconifyAllWindows(true, &net.pump, &st));
  ASSERT_TRUE(net.pump.until([&] { return owner->got.size() >= 3; }));
  EXPECT_EQ(owner->got, (Lines{"show Ed util.c 12", "iconify Ed main.c 11", "iconify Ed util.c 12"}));
  owner->got.clear();
  ASSERT_TRUE(other->send_CloseAllWindows(true, &net.pump, &st));
  ASSERT_TRUE(net.pump.until([&] { return owner->got.size() >= 2; }));
  EXPECT_EQ(owner->got, (Lines{"close Ed main.c 11", "close Ed util.c 12"}));
  EXPECT_EQ(listing(other), Lines{});
  EXPECT_TRUE(other->got.empty());
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

TEST_F(WindowRegisterServerTest, EndedConnectionLeavesWithItsWindows) {
  RecordingClient *a = connect();
  RecordingClient *b = connect();
  add(a, "Ed", "a", 1);
  add(b, "Ed", "b", 2);
  net.drop(servers[0]);
  EXPECT_EQ(listing(b), (Lines{nameOf(1) + " Ed b 2"}));
  TStat st;
  ASSERT_TRUE(b->send_ShowAllWindows(true, &net.pump, &st));
  ASSERT_TRUE(net.pump.until([&] { return !b->got.empty(); }));
  net.settle();
  EXPECT_TRUE(a->got.empty());
}

TEST_F(WindowRegisterServerTest, UndeliverableRelayIsDroppedAndStillForgotten) {
  RecordingClient *a = connect();
  RecordingClient *b = connect();
  add(a, "Ed", "a", 1);
  add(b, "Ed", "b", 2);
  servers[0]->markSendingAsDown();  // a's connection can no longer be written
  TStat st;
  ASSERT_TRUE(b->send_CloseAllWindows(true, &net.pump, &st));
  ASSERT_TRUE(net.pump.until([&] { return !b->got.empty(); }));
  net.settle();
  EXPECT_TRUE(a->got.empty());
  EXPECT_EQ(b->got, (Lines{"close Ed b 2"}));
  EXPECT_EQ(listing(b), Lines{});
}

TEST_F(WindowRegisterServerTest, MalformedRequestsAreSurvived) {
  RecordingClient *bad = connect();
  RecordingClient *good = connect();
  add(good, "Ed", "good", 3);
  // A number that is not a number reads as 0: deletes nothing.
  net.sendRaw(bad, 3, "DeleteWindow", [](STPAsciiOMsg *m) { m->putString("win", "text"); });
  // Missing fields: null class, null title, id 0; a window all the same.
  net.sendRaw(bad, 0, "AddWindow", [](STPAsciiOMsg *) {});
  net.sendRaw(bad, 1, "ChangeWindowTitle", [](STPAsciiOMsg *m) {
    m->putString("className", nullptr);
    m->putNumber("win", 12345);
  });
  net.sendRaw(bad, 99, "AddWindow", [](STPAsciiOMsg *m) { m->putString("className", "X"); });
  net.sendRaw(bad, -1, "Nope", [](STPAsciiOMsg *) {});
  // A request carrying a reply-shaped record with a huge count.
  net.sendRaw(bad, 4, "GetWindowList", [](STPAsciiOMsg *m) {
    m->putStartStruct("info");
    m->putNumber("count", 0x7fffffff);
    m->putStartArray("winInfo", 0x7fffffff);
  });
  net.sendRaw(bad, 7, "ShowWindow", [](STPAsciiOMsg *m) {
    m->putString("serviceName", "__twlWinReg0xffffffff");
    m->putNumber("win", -1);
  });
  net.settle(50);
  Lines seen = listing(good);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], nameOf(0) + " (null) (null) 0");
  EXPECT_EQ(seen[1], nameOf(1) + " Ed good 3");
  EXPECT_TRUE(good->got.empty());
  // Both connections still work.
  add(bad, "Sh", "ok", 4);
  EXPECT_EQ(listing(bad).size(), 3u);
}

TEST_F(WindowRegisterServerTest, LocalCountsAndList) {
  RecordingClient *a = connect();
  RecordingClient *b = connect();
  add(a, "Ed", "a", 1);
  add(b, "Ed", "b", 2);
  add(b, "Ed", "c", 3);
  EXPECT_EQ(servers[1]->GetWindowNumber(true), 2);
  EXPECT_EQ(servers[1]->GetWindowNumber(false), 3);
  WindowRegister__WindowInfoArray info;
  servers[1]->GetLocalWindowList(&info);
  ASSERT_EQ(info.count, 2);
  EXPECT_STREQ(info.winInfo[1].windowName, "c");
  EXPECT_EQ(std::string(info.winInfo[1].serviceName), nameOf(1));
  WindowRegister__WindowInfoArray_free(&info);
}

}  // namespace
