// The module objects of the three broadcast services: factories with their
// service names in construction order, the endpoints they create, and exit
// conditions that never hold the process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "services/configservice/config_server.h"
#include "services/configservice/configservice_module.h"
#include "services/filebroadcast/filebroadcast_forwarder.h"
#include "services/filebroadcast/filebroadcast_module.h"
#include "services/filenotify/filenotify_module.h"
#include "services/filenotify/filenotify_receiver.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

int positionOf(const char *name) {
  const std::vector<ServiceFactory *> *list = GlobalServiceFactoryList::getServiceFactoryList();
  if (!list) return -1;
  for (size_t i = 0; i < list->size(); ++i)
    if (std::strcmp((*list)[i]->getServiceName(), name) == 0) return static_cast<int>(i);
  return -1;
}

TEST(BroadcastModules, FactoriesAreRegisteredInModuleOrder) {
  int config = positionOf("BroadcastService.Config");
  int notify = positionOf("BroadcastService.File.Notify");
  int listen = positionOf("BroadcastService.File.Listen");
  ASSERT_GE(config, 0);
  EXPECT_EQ(notify, config + 1);
  EXPECT_EQ(listen, config + 2);
  EXPECT_EQ(GlobalServiceFactoryList::getFactoryForServiceName("BroadcastService.Config"),
            ConfigService_GetServiceFactory());
  EXPECT_EQ(GlobalServiceFactoryList::getFactoryForServiceName("BroadcastService.File.Notify"),
            FileNotify_GetServiceFactory());
  EXPECT_EQ(GlobalServiceFactoryList::getFactoryForServiceName("BroadcastService.File.Listen"),
            FileBroadcast_GetServiceFactory());
}

TEST(BroadcastModules, FactoriesBindNewEndpointsToTheRoutingPair) {
  STPTransport *t = new STPTransport(32768);
  STPSpecClass *config = ConfigService_GetServiceFactory()->createService(t, 17, 33);
  STPSpecClass *notify = FileNotify_GetServiceFactory()->createService(t, 18, 34);
  int listed = file_forwarder_list.size();
  STPSpecClass *listen = FileBroadcast_GetServiceFactory()->createService(t, 19, 35);
  ASSERT_NE(config, nullptr);
  ASSERT_NE(notify, nullptr);
  ASSERT_NE(listen, nullptr);
  EXPECT_NE(dynamic_cast<ConfigService_Server *>(config), nullptr);
  EXPECT_NE(dynamic_cast<FileNotify_Receiver *>(notify), nullptr);
  EXPECT_NE(dynamic_cast<FileBroadcast_Forwarder *>(listen), nullptr);
  EXPECT_EQ(config->getTransport(), t);
  EXPECT_EQ(config->getLocalRN(), 17);
  EXPECT_EQ(config->getRemoteRN(), 33);
  EXPECT_EQ(listen->getLocalRN(), 19);
  EXPECT_EQ(listen->getRemoteRN(), 35);
  EXPECT_EQ(std::string(listen->getRole()), "forwarder");
  EXPECT_EQ(file_forwarder_list.size(), listed + 1);  // listed from creation on
  EXPECT_EQ(config->getRefCount(), 1);                // the creation reference
  EXPECT_TRUE(ServiceFactory::createdAService());
  config->delRef();
  notify->delRef();
  listen->delRef();
  EXPECT_EQ(file_forwarder_list.size(), listed);
  t->delRef();
}

TEST(BroadcastModules, ExitConditionsAlwaysAllowAndNeverDemandExit) {
  ExitCondition *conditions[] = {ConfigService_GetExitCondition(), FileNotify_GetExitCondition(),
                                 FileBroadcast_GetExitCondition()};
  for (ExitCondition *c : conditions) {
    EXPECT_TRUE(c->allowExit());
    EXPECT_FALSE(c->mustExit());
  }
  // Open connections do not change that.
  ConfigService_Server *s = new ConfigService_Server();
  EXPECT_TRUE(ConfigService_GetExitCondition()->allowExit());
  s->delRef();
}

}  // namespace
