// Loopback transports: two transports in one process wired to read each
// other's write buffers directly (no socket), or one transport wired to the
// write buffer of a host outside it (a service loaded as a shared object),
// with the handle-read function and cookie such a host calls when it queued
// data. The reading and the host notification on send live in the transport;
// this file only wires the buffers. One thread.
#include "shared/stp_transport/stp_transport.h"

namespace {

// The host side's "data is waiting for you" call: reads the transport named
// by the cookie; false when no transport is registered under it.
bool handleReadForCookie(int cookie) {
  STPTransport *t = STPTransport::getTransportForHandleReadCookie(cookie);
  if (!t) return false;
  TStat st;
  t->handleRead(&st);
  return true;
}

}  // namespace

bool STPTransport::createLoopbackPair(STPTransport **a, STPTransport **b) {
  if (!a || !b) return false;
  *a = new STPTransport(32768);
  *b = new STPTransport(32768);
  initializeLoopbackPair(*a, *b);
  return true;
}

void STPTransport::initializeLoopbackPair(STPTransport *a, STPTransport *b) {
  if (!a || !b) return;
  initializeLoopbackSide(a, &b->wbuf.start, &b->wbuf.used, &b->wbuf.capacity, &b->wbuf.data,
                         nullptr, 0);
  initializeLoopbackSide(b, &a->wbuf.start, &a->wbuf.used, &a->wbuf.capacity, &a->wbuf.data,
                         nullptr, 0);
}

void STPTransport::initializeLoopbackSide(STPTransport *t, int *start, int *used, int *capacity,
                                          char **data, STPHandleReadFunc notify,
                                          int notifyCookie) {
  if (!t) return;
  t->loopback = true;
  t->peerStart = start;
  t->peerUsed = used;
  t->peerCapacity = capacity;
  t->peerData = data;
  t->hostNotify = notify;
  t->hostNotifyCookie = notifyCookie;
  // A loopback transport counts as bound; it has no socket.
  t->bound = true;
  t->needMore = false;
  t->stat.clear();
}

void STPTransport::getBufferInfo(int **start, int **used, int **capacity, char ***data) {
  if (start) *start = &wbuf.start;
  if (used) *used = &wbuf.used;
  if (capacity) *capacity = &wbuf.capacity;
  if (data) *data = &wbuf.data;
}

bool STPTransport::getHandleReadInfo(STPHandleReadFunc *func, int *key) {
  if (func) *func = &handleReadForCookie;
  if (key) *key = cookie;
  return lookupCookie(cookie) == this;
}

STPTransport *STPTransport::getTransportForHandleReadCookie(int key) { return lookupCookie(key); }
