// The module objects of the three broadcast services: factories listed in
// module order, the endpoints they create, and exit conditions that never
// hold the process.
#include <gtest/gtest.h>

#include <algorithm>

#include "services/configservice/config_server.h"
#include "services/configservice/configservice_module.h"
#include "services/filebroadcast/filebroadcast_forwarder.h"
#include "services/filebroadcast/filebroadcast_module.h"
#include "services/filenotify/filenotify_module.h"
#include "services/filenotify/filenotify_receiver.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

TEST(BroadcastModules, FactoriesAreListedInModuleOrderAndMakeBoundEndpoints) {
  ServiceFactory *factories[] = {ConfigService_GetServiceFactory(), FileNotify_GetServiceFactory(),
                                 FileBroadcast_GetServiceFactory()};
  const std::vector<ServiceFactory *> &all = *GlobalServiceFactoryList::getServiceFactoryList();
  auto first = std::find(all.begin(), all.end(), factories[0]);
  ASSERT_LE(first + 3, all.end());
  EXPECT_TRUE(std::equal(factories, factories + 3, first));
  EXPECT_EQ(GlobalServiceFactoryList::getFactoryForServiceName("BroadcastService.File.Listen"),
            factories[2]);

  STPTransport *t = new STPTransport(32768);
  int listed = file_forwarder_list.size();
  STPSpecClass *made[3];
  for (int i = 0; i < 3; ++i) {
    made[i] = factories[i]->createService(t, 17 + i, 33 + i);
    ASSERT_NE(made[i], nullptr);
    EXPECT_EQ(made[i]->getTransport(), t);
    EXPECT_EQ(made[i]->getLocalRN() * 100 + made[i]->getRemoteRN(), (17 + i) * 100 + 33 + i);
  }
  EXPECT_NE(dynamic_cast<ConfigService_Server *>(made[0]), nullptr);
  EXPECT_NE(dynamic_cast<FileNotify_Receiver *>(made[1]), nullptr);
  EXPECT_NE(dynamic_cast<FileBroadcast_Forwarder *>(made[2]), nullptr);
  EXPECT_EQ(file_forwarder_list.size(), listed + 1);  // listed from creation on
  ExitCondition *conditions[] = {ConfigService_GetExitCondition(), FileNotify_GetExitCondition(),
                                 FileBroadcast_GetExitCondition()};
  for (ExitCondition *c : conditions) {
    EXPECT_TRUE(c->allowExit());  // open connections do not hold the process
    EXPECT_FALSE(c->mustExit());
  }
  for (STPSpecClass *e : made) e->delRef();
  EXPECT_EQ(file_forwarder_list.size(), listed);
  t->delRef();
}

}  // namespace
