// svc_routerlink: what the event loop needs to know about the process's
// connection to the service router, and nothing more.
//
// The router client implements this interface (or wraps itself in an
// adapter) and installs it once at start-up; the loop and main only talk to
// the installed link. Tests install a fake. Assumes one thread.
#pragma once

class Svc_RouterLink {
 public:
  virtual ~Svc_RouterLink() = default;

  // True while the process should keep serving: before the first connection
  // to the router, and afterwards while the router connection is open and
  // its endpoint is not marked down.
  virtual bool isAlive() = 0;
  // Asks the router to disconnect this process (sent at once, not queued).
  // Failures are the link's own business; the loop asks again later.
  virtual void requestDisconnect() = 0;
  // True once any service object has been created for a client.
  virtual bool createdAService() = 0;

  // Makes `link` the process's link (null removes it). The link stays the
  // caller's; it must outlive its installation.
  static void install(Svc_RouterLink *link);
  // The installed link, or null.
  static Svc_RouterLink *installed();
  // createdAService() of the installed link, false without one. Shaped as an
  // exit-condition function for Svc_EventLoop::installExitConditionFunc.
  static bool anyServiceCreated();
};
