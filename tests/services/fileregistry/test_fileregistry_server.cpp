// The FileRegistry service over real connections: the factory and exit
// condition, what one connection registers as seen by another, and bad
// packets that must neither crash nor leak nor disturb other connections.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fileregistry_client_impl.h"
#include "services/fileregistry/fileregistry_server.h"
#include "services/service_connections.h"
#include "services/state/svc_eventloop.h"
#include "shared/runtime_test_support.h"
#include "shared/stp_transport/stp_amsg.h"

namespace {

using Names = std::vector<std::string>;

class FileRegistryServerTest : public ::testing::Test {
 protected:
  ServiceConnections net;

  // A new negotiated client connection (owned by `net`).
  FileRegistry_client_Impl *connect() {
    auto *client = new FileRegistry_client_Impl;
    STPSpecClass *server = net.connect(FileRegistry_GetServiceFactory(), client);
    EXPECT_NE(server, nullptr);
    lastServer = server;
    return client;
  }

  Names getFiles(FileRegistry_client_Impl *client, const char *type) {
    int num = -1;
    char **files = nullptr;
    TStat st;
    EXPECT_TRUE(client->send_GetFiles(type, &num, &files, &net.pump, &st)) << st.message;
    Names out;
    for (int i = 0; i < num; ++i) out.emplace_back(files[i] ? files[i] : "(null)");
    for (int i = 0; i < num; ++i) free(files[i]);
    free(files);
    return out;
  }

  STPSpecClass *lastServer = nullptr;
};

TEST_F(FileRegistryServerTest, FactoryOffersTheServiceUnlimited) {
  ServiceFactory *factory = FileRegistry_GetServiceFactory();
  EXPECT_STREQ(factory->getServiceName(), "FileRegistry");
  EXPECT_EQ(GlobalServiceFactoryList::getFactoryForServiceName("FileRegistry"), factory);
  EXPECT_TRUE(factory->canAcceptNewConnection());
  connect();
  EXPECT_STREQ(lastServer->getInterfaceName(), "FileRegistry");
  EXPECT_STREQ(lastServer->getRole(), "server");
  EXPECT_TRUE(factory->hasCreatedConnection());
  EXPECT_TRUE(ServiceFactory::createdAService());
}

TEST_F(FileRegistryServerTest, OpenConnectionsDoNotHoldTheProcess) {
  connect();
  connect();
  Svc_EventLoop loop;  // copies the exit condition the module installed
  EXPECT_TRUE(loop.shouldExit());
  EXPECT_EQ(FileRegistry_Server::_num_connections, 0);
}

TEST_F(FileRegistryServerTest, AddFileOrderOverTheWire) {
  FileRegistry_client_Impl *c = connect();
  TStat st;
  ASSERT_TRUE(c->send_AddFile("a", "wire.order", false, nullptr, &st));
  ASSERT_TRUE(c->send_AddFile("b", "wire.order", false, nullptr, &st));
  ASSERT_TRUE(c->send_AddFile("a", "wire.order", false, nullptr, &st));
  // One-way messages are queued; the synchronous request behind them is
  // answered only after they were handled (one connection keeps order).
  EXPECT_EQ(getFiles(c, "wire.order"), (Names{"a", "b"}));
  EXPECT_EQ(getFiles(c, "never.used"), Names{});
}

TEST_F(FileRegistryServerTest, RegistrationsAreSharedAndOutliveTheirConnection) {
  FileRegistry_client_Impl *first = connect();
  STPSpecClass *firstServer = lastServer;
  FileRegistry_client_Impl *second = connect();
  TStat st;
  ASSERT_TRUE(first->send_AddFile("/src/x.c", "shared.C", true, &net.pump, &st));
  ASSERT_TRUE(first->send_AddFile("/src/y.c", "shared.c", true, &net.pump, &st));
  net.settle();
  EXPECT_EQ(getFiles(second, "shared.C"), (Names{"/src/x.c"}));
  EXPECT_EQ(getFiles(second, "shared.c"), (Names{"/src/y.c"}));
  net.drop(firstServer);
  FileRegistry_client_Impl *third = connect();
  EXPECT_EQ(getFiles(third, "shared.C"), (Names{"/src/x.c"}));
  ASSERT_TRUE(third->send_RemoveFile("/src/x.c", "shared.C", true, &net.pump, &st));
  EXPECT_EQ(getFiles(second, "shared.C"), Names{});
  EXPECT_EQ(getFiles(second, "shared.c"), (Names{"/src/y.c"}));
}

TEST_F(FileRegistryServerTest, BadPacketsAreSurvivedAndOthersKeepWorking) {
  FileRegistry_client_Impl *bad = connect();
  FileRegistry_client_Impl *good = connect();
  MessageCapture capture;
  // Missing fields: both strings read as null.
  net.sendRaw(bad, 0, "AddFile", [](STPAsciiOMsg *) {});
  // Explicit null strings.
  net.sendRaw(bad, 0, "AddFile", [](STPAsciiOMsg *m) {
    m->putString("fileName", nullptr);
    m->putString("type", nullptr);
  });
  net.sendRaw(bad, 2, "RemoveFile", [](STPAsciiOMsg *m) { m->putNumber("fileName", 7); });
  // Unknown ids and names, and a field of the wrong kind.
  net.sendRaw(bad, 77, "AddFile", [](STPAsciiOMsg *m) { m->putString("fileName", "x"); });
  net.sendRaw(bad, -1, "NoSuchMessage", [](STPAsciiOMsg *m) { m->putString("type", "bad"); });
  net.sendRaw(bad, 0, "AddFile", [](STPAsciiOMsg *m) {
    m->putStartArray("fileName", 1000000);
    m->putString("type", "bad.kind");
  });
  // A body that is only garbage words.
  net.sendRaw(bad, -1, "%%%", [](STPAsciiOMsg *m) { m->putRawString("(0xffffffff )[ {{{ \"unclosed"); });
  net.settle(50);

  TStat st;
  ASSERT_TRUE(good->send_AddFile("ok", "bad.kind", true, &net.pump, &st));
  EXPECT_EQ(getFiles(good, "bad.kind"), (Names{"ok"}));
  EXPECT_EQ(getFiles(good, ""), Names{});  // the null names registered nothing
  EXPECT_EQ(getFiles(bad, "bad.kind"), (Names{"ok"}));
  // Each AddFile without a name was reported, naming the operation.
  int warnings = 0;
  for (auto &m : capture.messages)
    if (m.second.find("[AddFile]") != std::string::npos) ++warnings;
  EXPECT_EQ(warnings, 3);
}

TEST_F(FileRegistryServerTest, GetFilesWithoutTypeReadsTheEmptyType) {
  FileRegistry_client_Impl *c = connect();
  TStat st;
  ASSERT_TRUE(c->send_AddFile("e", "", true, &net.pump, &st));
  EXPECT_EQ(getFiles(c, nullptr), (Names{"e"}));
}

}  // namespace
