// svc_routerlink: the installed router link.
#include "services/state/svc_routerlink.h"

namespace {
Svc_RouterLink *g_link = nullptr;
}  // namespace

void Svc_RouterLink::install(Svc_RouterLink *link) { g_link = link; }

Svc_RouterLink *Svc_RouterLink::installed() { return g_link; }

bool Svc_RouterLink::anyServiceCreated() { return g_link && g_link->createdAService(); }
