// The FileRegistry service over real connections: the exit condition, the
// order of one-way registrations before a request, and what one connection
// registers as seen by another, also after it has gone. Malformed
// requests: test_malformed_requests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fileregistry_client_impl.h"
#include "services/fileregistry/fileregistry_server.h"
#include "services/mruservice/state_file_support.h"
#include "services/service_connections.h"
#include "services/state/svc_eventloop.h"

namespace {

using Names = std::vector<std::string>;

class FileRegistryServerTest : public ::testing::Test {
 protected:
  ServiceConnections net;
  STPSpecClass *lastServer = nullptr;
  TStat st;

  // A new negotiated client connection (owned by `net`).
  FileRegistry_client_Impl *connect() {
    auto *client = new FileRegistry_client_Impl;
    lastServer = net.connect(FileRegistry_GetServiceFactory(), client);
    EXPECT_NE(lastServer, nullptr);
    return client;
  }

  Names getFiles(FileRegistry_client_Impl *client, const char *type) {
    int num = -1;
    char **files = nullptr;
    EXPECT_TRUE(client->send_GetFiles(type, &num, &files, &net.pump, &st)) << st.message;
    return TakeStrings(files, num);
  }
};

TEST_F(FileRegistryServerTest, OpenConnectionsDoNotHoldTheProcess) {
  connect();
  connect();
  EXPECT_TRUE(FileRegistry_GetServiceFactory()->canAcceptNewConnection());
  EXPECT_TRUE(ServiceFactory::createdAService());
  EXPECT_TRUE(FileRegistry_GetServiceFactory()->hasCreatedConnection());
  EXPECT_EQ(std::string(lastServer->getInterfaceName()) + "/" + lastServer->getRole(), "FileRegistry/server");
  Svc_EventLoop loop;  // copies the exit condition the module installed
  EXPECT_TRUE(loop.shouldExit());
  EXPECT_EQ(FileRegistry_Server::_num_connections, 0);
}

TEST_F(FileRegistryServerTest, OneWayAddsAreHandledBeforeTheRequestBehindThem) {
  FileRegistry_client_Impl *c = connect();
  ASSERT_TRUE(c->send_AddFile("a", "wire.order", false, nullptr, &st));
  ASSERT_TRUE(c->send_AddFile("b", "wire.order", false, nullptr, &st));
  ASSERT_TRUE(c->send_AddFile("a", "wire.order", false, nullptr, &st));
  ASSERT_TRUE(c->send_AddFile("e", "", false, nullptr, &st));
  EXPECT_EQ(getFiles(c, "wire.order"), (Names{"a", "b"}));
  EXPECT_EQ(getFiles(c, "never.used"), Names{});
  EXPECT_EQ(getFiles(c, nullptr), (Names{"e"}));  // no type reads the empty type
}

TEST_F(FileRegistryServerTest, RegistrationsAreSharedAndOutliveTheirConnection) {
  FileRegistry_client_Impl *first = connect();
  STPSpecClass *firstServer = lastServer;
  FileRegistry_client_Impl *second = connect();
  ASSERT_TRUE(first->send_AddFile("/src/x.c", "shared.C", true, &net.pump, &st));
  ASSERT_TRUE(first->send_AddFile("/src/y.c", "shared.c", true, &net.pump, &st));
  net.settle();
  EXPECT_EQ(getFiles(second, "shared.C"), (Names{"/src/x.c"}));
  net.drop(firstServer);
  FileRegistry_client_Impl *third = connect();
  EXPECT_EQ(getFiles(third, "shared.C"), (Names{"/src/x.c"}));
  ASSERT_TRUE(third->send_RemoveFile("/src/x.c", "shared.C", true, &net.pump, &st));
  EXPECT_EQ(getFiles(second, "shared.C"), Names{});
  EXPECT_EQ(getFiles(second, "shared.c"), (Names{"/src/y.c"}));
}

}  // namespace
