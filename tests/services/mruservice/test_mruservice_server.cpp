// The MRUService over real connections: the list, window, column and
// directory messages as a client sees them (the stores' rules are tested
// on the stores), what two connections share and what each keeps for
// itself, the save when a connection goes, and the exit condition.
// Malformed requests: test_malformed_requests.
#include <gtest/gtest.h>

#include "mruservice_client_impl.h"
#include "services/mruservice/mruservice_server.h"
#include "services/mruservice/state_file_support.h"
#include "services/service_connections.h"
#include "shared/runtime_test_support.h"

namespace {

using Strings = std::vector<std::string>;
using Ints = std::vector<int>;

class MRUServiceServerTest : public ::testing::Test {
 protected:
  ServiceConnections net;
  STPSpecClass *lastServer = nullptr;
  TStat st;

  void SetUp() override { StartStateStores(); }
  void TearDown() override { StopStateStores(); }

  MRUService_client_Impl *connect() {
    auto *client = new MRUService_client_Impl;
    lastServer = net.connect(MRUService_GetServiceFactory(), client);
    EXPECT_NE(lastServer, nullptr);
    return client;
  }

  Strings getList(MRUService_client_Impl *c, const char *name) {
    MRUService_STRING_ARRAY items;
    EXPECT_TRUE(c->send_GetList(name, &items, &net.pump, &st)) << st.message;
    return TakeStrings(items.data, items.count);
  }
  Strings getNames(MRUService_client_Impl *c) {
    MRUService_STRING_ARRAY names;
    EXPECT_TRUE(c->send_GetListNames(&names, &net.pump, &st)) << st.message;
    return TakeStrings(names.data, names.count);
  }
  int modify(MRUService_client_Impl *c, const char *name, int op, int slot, const char *data) {
    int ret = -1;
    EXPECT_TRUE(c->send_ModifyList(name, op, slot, data, &ret, &net.pump, &st)) << st.message;
    return ret;
  }
  // sequence, firstWindow, prevWindow, x, y, width, height
  Ints createWindow(MRUService_client_Impl *c, const char *cls, int window) {
    Ints r(7, -99);
    EXPECT_TRUE(c->send_CreateWindow(cls, window, &r[0], &r[1], &r[2], &r[3], &r[4], &r[5],
                                     &r[6], &net.pump, &st))
        << st.message;
    return r;
  }
  Ints geometry(MRUService_client_Impl *c, const char *cls) {
    Ints r(5, -99);
    EXPECT_TRUE(c->send_GetWindowSavedGeometry(cls, &r[0], &r[1], &r[2], &r[3], &r[4],
                                               &net.pump, &st))
        << st.message;
    return r;
  }
  std::string getDir(MRUService_client_Impl *c, int kind) {
    char *dir = nullptr;
    EXPECT_TRUE(c->send_GetFCDir(kind, &dir, &net.pump, &st)) << st.message;
    std::string out = dir ? dir : "(null)";
    free(dir);
    return out;
  }
};

TEST_F(MRUServiceServerTest, ListsOverTheWire) {
  MRUService_client_Impl *c = connect();
  Svc_EventLoop loop;  // open MRUService connections never hold the process
  EXPECT_TRUE(loop.shouldExit());
  EXPECT_EQ(modify(c, "Files", 0, 0, "/x"), 0);
  ASSERT_TRUE(c->send_UpdateList("Files", "/a", false, nullptr, &st));
  ASSERT_TRUE(c->send_UpdateList("Dirs", "/d", false, nullptr, &st));
  EXPECT_EQ(getNames(c), (Strings{"Dirs", "Files"}));
  EXPECT_EQ(modify(c, "Files", 0, 20, "/end"), 1);
  EXPECT_EQ(getList(c, "files"), (Strings{"/a", "/end"}));
  EXPECT_EQ(modify(c, "Dirs", 1, -1, nullptr), 1);
  EXPECT_EQ(getNames(c), (Strings{"Files"}));
  EXPECT_EQ(ReadStateFile("mrulist.ini"), "<missing>");
  net.drop(lastServer);  // closing a connection saves the lists
  EXPECT_EQ(ReadStateFile("mrulist.ini"), "[Files]\n/a\n/end\n\n");
}

TEST_F(MRUServiceServerTest, WindowsAreNumberedPerConnectionAndGeometryIsShared) {
  MRUService_client_Impl *one = connect();
  STPSpecClass *oneServer = lastServer;
  MRUService_client_Impl *two = connect();
  EXPECT_EQ(createWindow(one, "Editor", 7), (Ints{0, 7, 0, 0, 0, 0, 0}));
  EXPECT_EQ(createWindow(one, "Editor", 8), (Ints{1, 7, 7, 0, 0, 0, 0}));
  EXPECT_EQ(createWindow(two, "Editor", 7), (Ints{0, 7, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(one->send_UpdateWindowSavedGeometry("editor", 10, -3, 500, 400, &net.pump, &st));
  EXPECT_EQ(geometry(one, "Editor"), (Ints{7, 10, 0, 500, 400}));
  // The other connection already has its own entry for the class; a class
  // entry it creates later inherits the saved values (stored form).
  EXPECT_EQ(geometry(two, "Editor"), (Ints{7, -1, -1, -1, -1}));
  int needToSave = -1;
  ASSERT_TRUE(two->send_DestroyWindow("Editor", 7, &needToSave, &net.pump, &st));
  EXPECT_EQ(needToSave, 1);
  net.drop(oneServer);  // the saved geometry outlives the connection
  MRUService_client_Impl *three = connect();
  EXPECT_EQ(createWindow(three, "EDITOR", 1), (Ints{0, 1, 0, 11, 1, 501, 401}));
  ASSERT_TRUE(three->send_DestroyWindow("Editor", 99, &needToSave, &net.pump, &st));
  EXPECT_EQ(needToSave, 0);
  // Warnings name the sending connection, echo nothing it sent, and the
  // request is answered all the same.
  MessageCapture capture;
  EXPECT_TRUE(three->send_UpdateWindowSavedGeometry("Never", 1, 2, 3, 4, &net.pump, &st));
  EXPECT_EQ(capture.lastText().rfind("[UpdateSavedGeometry]: unexpected window class from ", 0), 0u);
  EXPECT_EQ(createWindow(three, "Editor", 1), (Ints{0, 1, 0, 11, 1, 501, 401}));
  EXPECT_EQ(capture.lastText().rfind("[CreateWindow]: could not find window (1) from ", 0), 0u);
}

TEST_F(MRUServiceServerTest, ColumnLayoutsOverTheWire) {
  MRUService_client_Impl *c = connect();
  MRUService_ColumnConfig_Info cols[2] = {{const_cast<char *>("File"), 101, 1, 0},
                                          {nullptr, 0, -1, 1}};
  MRUService_ColumnConfig_Array in{2, cols};
  ASSERT_TRUE(c->send_UpdateColumnInfo("Browser", in, false, nullptr, &st));
  auto columns = [&](const char *set) {
    MRUService_ColumnConfig_Array out;
    EXPECT_TRUE(c->send_GetColumnInfo(set, &out, &net.pump, &st)) << st.message;
    std::string text;
    for (int i = 0; i < out.count; ++i) {
      const MRUService_ColumnConfig_Info &k = out.columnInfos[i];
      text += std::string(k.name ? k.name : "-") + "/" + std::to_string(k.width) + "/" +
              std::to_string(k.sort) + "/" + std::to_string(k.hidden) + " ";
    }
    MRUService_ColumnConfig_Array_free(&out);
    return text;
  };
  EXPECT_EQ(columns("BROWSER"), "File/101/1/0 -/0/-1/1 ");
  EXPECT_EQ(columns("Missing"), "");
  ColumnConfig_Exit();
  EXPECT_EQ(ReadStateFile("columns.ini"),
            "[Browser]\nname1=File\nwidth1=100\nsort1=ascending\nsort2=descending\n"
            "hidden2=true\n\n");
}

TEST_F(MRUServiceServerTest, FileChoiceDirectories) {
  FCDirMem_Exit();
  WriteStateFile("fcdir.ini", "[File Choice Directories]\nGeneralFileDir=/g\n");
  FCDirMem_Init();
  MRUService_client_Impl *c = connect();
  char *dirs[] = {const_cast<char *>("/e"), const_cast<char *>("/b")};
  ASSERT_TRUE(c->send_InitFCDir(MRUService_STRING_ARRAY{2, dirs}, false, nullptr, &st));
  EXPECT_EQ(getDir(c, 1), "/b");
  EXPECT_EQ(getDir(c, 99), "/g");
  ASSERT_TRUE(c->send_UpdateFCDir(0, "/e2", false, nullptr, &st));
  EXPECT_EQ(getDir(c, 0), "/e2");
  ASSERT_TRUE(c->send_SaveFCDir(true, &net.pump, &st));
  net.settle();
  EXPECT_EQ(ReadStateFile("fcdir.ini"),
            "\n[File Choice Directories]\nEditFileDir=/e2\nBuildFileDir=/b\n"
            "GeneralFileDir=/g\n\n");
}

}  // namespace
