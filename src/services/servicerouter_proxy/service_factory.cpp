// service_factory: factories of service objects, the global factory list and
// the connection-died listener base.
#include "services/servicerouter_proxy/service_factory.h"

#include <algorithm>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_specclass.h"

bool ServiceFactory::_created_a_service = false;

namespace {

// Created by the first registration, deleted when the last factory leaves
// (at static destruction), so nothing is left for the leak checker.
std::vector<ServiceFactory *> *g_factoryList = nullptr;

}  // namespace

// ---- ServiceFactory

ServiceFactory::ServiceFactory(const char *name, int maxConnections, bool registerGlobally)
    : serviceName(gen_copy(name)), maxConnections(maxConnections) {
  ServiceRouter_Proxy::ensureProxy();
  if (registerGlobally) {
    GlobalServiceFactoryList::registerServiceFactory(this);
    registeredGlobally = true;
  }
}

ServiceFactory::ServiceFactory(ServiceRouter_Proxy *proxy, const char *name, int maxConnections)
    : serviceName(gen_copy(name)), maxConnections(maxConnections) {
  if (proxy) proxy->registerServiceFactory(this, nullptr);
}

ServiceFactory::~ServiceFactory() {
  if (registeredGlobally) GlobalServiceFactoryList::removeServiceFactory(this);
  if (servicerouter_proxy) servicerouter_proxy->forgetServiceFactory(this);
  gen_free(serviceName);
}

bool ServiceFactory::canAcceptNewConnection() {
  return maxConnections == -1 || numConnections < maxConnections;
}

void ServiceFactory::connectionNegotiated(STPSpecClass *) {}

void ServiceFactory::connectionAccepted(STPSpecClass *) {}

STPSpecClass *ServiceFactory::createService(STPTransport *transport, int localRN, int remoteRN) {
  if (!canAcceptNewConnection()) return nullptr;
  STPSpecClass *service = getService(transport, localRN, remoteRN);
  if (!service) return nullptr;
  _created_a_service = true;
  createdServices.push_back(service);
  createdConnection = true;
  return service;
}

bool ServiceFactory::createdAService() { return _created_a_service; }

// ---- GlobalServiceFactoryList

void GlobalServiceFactoryList::registerServiceFactory(ServiceFactory *factory) {
  if (!g_factoryList) g_factoryList = new std::vector<ServiceFactory *>();
  g_factoryList->push_back(factory);
}

bool GlobalServiceFactoryList::removeServiceFactory(ServiceFactory *factory) {
  if (!g_factoryList) return false;
  auto it = std::find(g_factoryList->begin(), g_factoryList->end(), factory);
  if (it == g_factoryList->end()) return false;
  g_factoryList->erase(it);
  if (g_factoryList->empty()) {
    delete g_factoryList;
    g_factoryList = nullptr;
  }
  return true;
}

const std::vector<ServiceFactory *> *GlobalServiceFactoryList::getServiceFactoryList() {
  return g_factoryList;
}

ServiceFactory *GlobalServiceFactoryList::getFactoryForServiceName(const char *name) {
  if (!g_factoryList || !name) return nullptr;
  for (ServiceFactory *f : *g_factoryList)
    if (gen_strequal(f->getServiceName(), name)) return f;
  return nullptr;
}

int GlobalServiceFactoryList::numRegistered() {
  return g_factoryList ? static_cast<int>(g_factoryList->size()) : 0;
}

// ---- ConnectionDiedListener

ConnectionDiedListener::ConnectionDiedListener(STPSpecClass *connection) : connection(connection) {
  if (connection) connection->addRef();
}

ConnectionDiedListener::~ConnectionDiedListener() {
  if (connection) connection->delRef();
}

void ConnectionDiedListener::connectionDied(STPSpecClass *) {}

bool ConnectionDiedListener::died() { return !connection || connection->isDown(); }
