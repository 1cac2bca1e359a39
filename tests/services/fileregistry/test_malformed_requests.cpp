// Malformed requests to every request/reply service, through the generated
// dispatchers: missing and null fields, wrong field kinds, absurd counts,
// unknown ids and names, unterminated strings. Per service, one connection
// sends them; afterwards that connection and a healthy one still work and
// the store holds only what the decoder made of the bad requests.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "configservice_testkit.h"
#include "fileregistry_client_impl.h"
#include "mruservice_client_impl.h"
#include "services/configservice/config_server.h"
#include "services/configservice/configservice_module.h"
#include "services/fileregistry/fileregistry_server.h"
#include "services/mruservice/mruservice_server.h"
#include "services/mruservice/state_file_support.h"
#include "services/service_connections.h"
#include "services/whiteboard/wb_test_support.h"
#include "services/whiteboard/whiteboard_client.h"
#include "services/windowregister/windowregister_server.h"
#include "shared/runtime_test_support.h"
#include "windowregister_client_impl.h"

namespace {

using Strings = std::vector<std::string>;

struct Harness {
  ServiceConnections net;
  MessageCapture capture;
  STPSpecClass *bad = nullptr, *good = nullptr;
  TStat st;
  template <class C>
  C *as(STPSpecClass *c) {
    return dynamic_cast<C *>(c);
  }
};

// A window-register client that ignores relayed requests.
class WindowClient : public WindowRegister_client_Impl {
  void msg_CloseWindow(const char *, const char *, int) override {}
  void msg_IconifyWindow(const char *, const char *, int) override {}
  void msg_ShowWindow(const char *, const char *, int) override {}
};

struct Row {
  const char *service;
  ServiceFactory *(*factory)();
  STPSpecClass *(*client)();
  void (*before)(Harness &);  // with both connections open
  std::vector<std::pair<int, const char *>> packets;
  void (*check)(Harness &);
};

template <auto Get>
ServiceFactory *factory() {
  return Get();
}

void PrintTo(const Row &r, std::ostream *os) { *os << r.service; }

Strings mruList(Harness &h, STPSpecClass *c) {
  MRUService_STRING_ARRAY items;
  EXPECT_TRUE(h.as<MRUService_client_Impl>(c)->send_GetList("Files", &items, &h.net.pump, &h.st));
  return TakeStrings(items.data, items.count);
}

Strings registered(Harness &h, STPSpecClass *c, const char *type) {
  int num = -1;
  char **files = nullptr;
  EXPECT_TRUE(h.as<FileRegistry_client_Impl>(c)->send_GetFiles(type, &num, &files, &h.net.pump, &h.st));
  return TakeStrings(files, num);
}

// "class title id" per listed window.
Strings windows(Harness &h, STPSpecClass *c) {
  WindowRegister__WindowInfoArray info;
  EXPECT_TRUE(h.as<WindowRegister_client_Impl>(c)->send_GetWindowList(&info, &h.net.pump, &h.st));
  Strings out;
  for (int i = 0; i < info.count; ++i)
    out.push_back(wbStr(info.winInfo[i].className) + " " + wbStr(info.winInfo[i].windowName) + " " +
                  std::to_string(info.winInfo[i].win));
  WindowRegister__WindowInfoArray_free(&info);
  return out;
}

Strings configLines(Harness &h, STPSpecClass *c) {
  ConfigService_STRING_ARRAY items;
  EXPECT_TRUE(h.as<ConfigService_client_Recorder>(c)->send_ListenForConfigs(&items, &h.net.pump, &h.st));
  return TakeStrings(items.data, items.count);
}

const Row kRows[] = {
    {"MRUService", factory<MRUService_GetServiceFactory>, []() -> STPSpecClass * { return new MRUService_client_Impl; },
     [](Harness &) { StartStateStores(); },
     {{12, "UpdateList"},
      {10, "UpdateColumnInfo which:\"S\" info:(0xf4240)[ "},
      {7, "InitFCDir dirs:0x5"},
      {11, "UpdateFCDir which:0x7fffffff"},
      {-1, "%%% (0xffffffff )[ {{{ \"unclosed"}},
     [](Harness &h) {
       ASSERT_TRUE(h.as<MRUService_client_Impl>(h.good)->send_UpdateList("Files", "/ok", false, nullptr, &h.st));
       EXPECT_EQ(mruList(h, h.good), Strings{"/ok"});
       EXPECT_EQ(mruList(h, h.bad), Strings{"/ok"});
       StopStateStores();
     }},
    // Missing or null names register nothing and are reported, naming the
    // operation; a field of the wrong kind reads as null.
    {"FileRegistry", factory<FileRegistry_GetServiceFactory>, []() -> STPSpecClass * { return new FileRegistry_client_Impl; },
     [](Harness &) {},
     {{0, "AddFile"},
      {0, "AddFile fileName:null type:null"},
      {2, "RemoveFile fileName:0x7"},
      {77, "AddFile fileName:\"x\""},
      {-1, "NoSuchMessage type:\"bad\""},
      {0, "AddFile fileName:(0xf4240)[ type:\"bad.kind\""},
      {-1, "%%% (0xffffffff )[ {{{ \"unclosed"}},
     [](Harness &h) {
       ASSERT_TRUE(h.as<FileRegistry_client_Impl>(h.good)->send_AddFile("ok", "bad.kind", true, &h.net.pump, &h.st));
       EXPECT_EQ(registered(h, h.bad, "bad.kind"), Strings{"ok"});
       EXPECT_EQ(registered(h, h.good, ""), Strings{});
       int warnings = 0;
       for (auto &m : h.capture.messages) warnings += m.second.find("[AddFile]") != std::string::npos;
       EXPECT_EQ(warnings, 3);
     }},
    // Missing fields register a window without class or title; a number
    // that is not a number reads as 0 and deletes nothing; a request with a
    // reply-shaped record of huge count is answered all the same.
    {"WindowRegister", factory<WindowRegister_GetServiceFactory>,
     []() -> STPSpecClass * { return new WindowClient; },
     [](Harness &h) {
       ASSERT_TRUE(h.as<WindowRegister_client_Impl>(h.good)->send_AddWindow("Ed", "good", 3, &h.net.pump, &h.st));
     },
     {{3, "DeleteWindow win:\"text\""},
      {0, "AddWindow"},
      {1, "ChangeWindowTitle className:null win:0x3039"},
      {99, "AddWindow className:\"X\""},
      {-1, "Nope"},
      {4, "GetWindowList info:{ count:0x7fffffff winInfo:(0x7fffffff)[ "},
      {7, "ShowWindow serviceName:\"__twlWinReg0xffffffff\" win:0xffffffff"}},
     [](Harness &h) {
       EXPECT_EQ(windows(h, h.good), (Strings{"(null) (null) 0", "Ed good 3"}));
       ASSERT_TRUE(h.as<WindowRegister_client_Impl>(h.bad)->send_AddWindow("Sh", "ok", 4, &h.net.pump, &h.st));
       EXPECT_EQ(windows(h, h.bad).size(), 3u);
     }},
    // Index 0 and a null line for a BroadcastConfig without fields; the
    // one-way ListenForConfigs registers the sender whatever it carries.
    {"ConfigService", factory<ConfigService_GetServiceFactory>,
     []() -> STPSpecClass * { return new ConfigService_client_Recorder; },
     [](Harness &) { ConfigService_Server::configArray().clear(); },
     {{0, "BroadcastConfig"},
      {0, "BroadcastConfig index:0xfffffffff configLine:\"no end"},
      {1, "BroadcastMessage type:0x3 message:null"},
      {99, "Nonsense"},
      {-1, "NoSuchMessage"},
      {-1, "ListenForConfigs configItems:{ count:0x7fffffff data:(0x7fffffff)[ \"a\" ] }"}},
     [](Harness &h) {
       EXPECT_EQ(ConfigService_Server::getListenerList().size(), 1);
       ASSERT_TRUE(h.as<ConfigService_client_Recorder>(h.good)->send_BroadcastConfig(8, "fine", true, &h.net.pump, &h.st));
       ASSERT_TRUE(h.net.until([&] { return h.as<ConfigService_client_Recorder>(h.bad)->handled > 0; }));
       // The oversized index stores a line of its own; the unterminated
       // string reads as null.
       EXPECT_EQ(configLines(h, h.good), (Strings{"(null)", "(null)", "fine"}));
       ConfigService_Server::configArray().clear();
     }},
    // Null group or value names store nothing; a bool sent as 5 is true; a
    // string list whose count does not match its items is refused by the
    // decoder as a whole (an empty list); a null string is stored as "".
    {"WhiteBoard", factory<WhiteBoard_GetServiceFactory>,
     []() -> STPSpecClass * { return new WhiteBoard; },
     [](Harness &h) { ASSERT_TRUE(h.as<WhiteBoard>(h.good)->registerGroup("G", true, false, nullptr, false)); },
     {{0, "ChangeBoolValue"}, {1, "ChangeInt32Value"}, {2, "ChangeStringListValue"},
      {3, "ChangeStringValue"}, {4, "DeleteName"}, {5, "RegisterGroup"}, {6, "RequestAllChanges"},
      {7, "RequestChangesInGroup"}, {8, "SaveGroupChangesToFile"},
      {2, "ChangeStringListValue info:{ _group:\"G\" _name:\"l\" _value:(0x7fffffff)[ \"only\" ] } "},
      {0, "ChangeBoolValue info:{ _group:\"G\" _name:\"b\" _value:0x5 } "},
      {3, "ChangeStringValue info:{ _group:\"G\" _name:\"s\" _value:null } "},
      {99, "RegisterGroup groupname:\"X\""},
      {4, "DeleteName group:\"G\" name:\"b\" type:0x7fffffff"}},
     [](Harness &h) {
       WhiteBoard_Image &image = WhiteBoard_Server::whiteboard_image;
       EXPECT_EQ(image.numGroups(), 1);
       EXPECT_EQ(wbDump(*image.getGroup("G")), "b.b=1 s.s= l.l=");
       EXPECT_EQ(wbDump(*h.as<WhiteBoard>(h.good)->getGroup("G")), "b.b=1 s.s= l.l=");
       h.as<WhiteBoard>(h.bad)->setInt("G", "after", 1, true);
       int v = 0;
       EXPECT_TRUE(h.net.until([&] { return h.as<WhiteBoard>(h.good)->getInt("G", "after", v); }));
     }},
};

class MalformedRequests : public ::testing::TestWithParam<Row> {};

TEST_P(MalformedRequests, AreSurvivedAndOthersKeepWorking) {
  const Row &row = GetParam();
  Harness h;
  h.bad = row.client();
  ASSERT_NE(h.net.connect(row.factory(), h.bad), nullptr);
  h.good = row.client();
  ASSERT_NE(h.net.connect(row.factory(), h.good), nullptr);
  row.before(h);
  for (const auto &[id, text] : row.packets) h.net.sendRaw(h.bad, id, text);
  h.net.settle(80);
  row.check(h);
}

INSTANTIATE_TEST_SUITE_P(Services, MalformedRequests, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.service); });

}  // namespace
