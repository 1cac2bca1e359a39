// SharedObject_Proxy and HostFuncListener: the library side of a service
// delivered as a shared object.
#include "services/servicerouter_proxy/shared_object_proxy.h"

#include <map>

#include "services/servicerouter_proxy/service_factory.h"
#include "shared/stp_transport/stp_specclass.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

int g_numConnections = 0;
// Cookie to connection; created on first use, freed when it empties.
std::map<int, HostInfoForSharedObject> *g_hostInfo = nullptr;

HostInfoForSharedObject *findInfo(int cookie) {
  if (!g_hostInfo) return nullptr;
  auto it = g_hostInfo->find(cookie);
  return it != g_hostInfo->end() ? &it->second : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// HostFuncListener

HostFuncListener::HostFuncListener(STPTransport *transport, STPHandleReadFunc hostRead, int hostArg)
    : transport(transport), hostRead(hostRead), hostArg(hostArg) {
  if (IdleNotifier *n = getIdleNotifier()) {
    n->addSocketListener(this);
    registered = true;
  }
}

HostFuncListener::~HostFuncListener() { handleStop(); }

bool HostFuncListener::wantsToRead() {
  if (!transport || !transport->isBound()) return false;
  return transport->wantsToRead() || transport->dataInWriteBuffer();
}

bool HostFuncListener::wantsToDequeueAndDispatch() {
  return transport && transport->wantsToDequeueAndDispatch();
}

void HostFuncListener::handleRead() {
  if (!transport) return;
  transport->addRef();
  if (hostRead) hostRead(hostArg);
  if (transport->wantsToRead()) transport->handleRead(nullptr);
  transport->delRef();
}

void HostFuncListener::handleDequeueAndDispatch() {
  if (transport) transport->handleDequeueAndDispatch(nullptr);
}

void HostFuncListener::handleStop() {
  if (!registered) return;
  registered = false;
  // The notifier may already be gone during exit.
  if (IdleNotifier *n = getIdleNotifier()) n->removeSocketListener(this);
}

// ---------------------------------------------------------------------------
// SharedObject_Proxy

int SharedObject_Proxy::setupNewConnection(const char *serviceName,
                                           const SharedObjectLoopbackInfo &requester,
                                           SharedObjectLoopbackInfo *own) {
  if (!GlobalServiceFactoryList::getServiceFactoryList() || !own) return -1;
  if (!requester.start || !requester.used || !requester.capacity || !requester.data) return -1;
  ServiceFactory *factory = GlobalServiceFactoryList::getFactoryForServiceName(serviceName);
  if (!factory) return -1;

  STPTransport *transport = new STPTransport(32768);
  STPTransport::initializeLoopbackSide(transport, requester.start, requester.used,
                                       requester.capacity, requester.data, requester.readFunc,
                                       requester.readCookie);
  STPSpecClass *endpoint = factory->createService(transport, 2, 1);
  if (!endpoint) {
    TStat st;
    transport->closeConnection(&st);
    transport->delRef();
    return -1;
  }
  transport->getBufferInfo(&own->start, &own->used, &own->capacity, &own->data);
  transport->getHandleReadInfo(&own->readFunc, &own->readCookie);

  int cookie = ++g_numConnections;
  if (!g_hostInfo) g_hostInfo = new std::map<int, HostInfoForSharedObject>;
  HostInfoForSharedObject &info = (*g_hostInfo)[cookie];
  info.endpoint = endpoint;
  info.hostRead = requester.readFunc;
  info.hostArg = requester.readCookie;
  info.listener = new HostFuncListener(transport, requester.readFunc, requester.readCookie);
  // The endpoint holds the transport from here on.
  transport->delRef();
  return cookie;
}

bool SharedObject_Proxy::shutdownConnection(int cookie) {
  HostInfoForSharedObject *info = findInfo(cookie);
  if (!info) return false;
  HostInfoForSharedObject gone = *info;
  g_hostInfo->erase(cookie);
  if (g_hostInfo->empty()) {
    delete g_hostInfo;
    g_hostInfo = nullptr;
  }
  delete gone.listener;
  TStat st;
  if (STPTransport *t = gone.endpoint->getTransport()) t->closeConnection(&st);
  gone.endpoint->markAsDown();
  gone.endpoint->delRef();
  return true;
}

STPSpecClass *SharedObject_Proxy::getConnectionForCookie(int cookie) {
  HostInfoForSharedObject *info = findInfo(cookie);
  return info ? info->endpoint : nullptr;
}

STPTransport *SharedObject_Proxy::getTransportForCookie(int cookie) {
  HostInfoForSharedObject *info = findInfo(cookie);
  return info ? info->endpoint->getTransport() : nullptr;
}

void SharedObject_Proxy::driveIdle(int cookie) {
  HostInfoForSharedObject *info = findInfo(cookie);
  if (!info) return;
  // Handlers run by the read may end this connection: keep what is needed.
  STPHandleReadFunc hostRead = info->hostRead;
  int hostArg = info->hostArg;
  STPTransport *t = info->endpoint->getTransport();
  if (!t) return;
  t->addRef();
  if (t->wantsToRead()) t->handleRead(nullptr);
  if (t->isBound() && t->dataInWriteBuffer() && hostRead) hostRead(hostArg);
  t->delRef();
}

int SharedObject_Proxy::getNumConnections() { return g_numConnections; }
