// KorvoCtl_Session: korvoctl's connection to the service router, made on
// the first connect() through the process's ServiceRouter_Proxy exactly as
// any IDE process makes it: the router named by the router options, else
// the one recorded in the active-services file, else a shared router that
// the proxy launches. The "-sr_" options of the command line are handed to
// the proxy unchanged.
//
// Every wait goes through one retry handler with the session's time-out, so
// korvoctl never waits without bound. The destructor disconnects. One
// session per process (the proxy is process-wide). One thread.
#pragma once

#include <string>
#include <vector>

class RetryHandler;
class ServiceRouter_Proxy;

class KorvoCtl_Session {
 public:
  // `routerOptions` are the "-sr_" words (with their values) in command-line
  // order; `timeoutMs` bounds each wait.
  KorvoCtl_Session(const std::vector<std::string> &routerOptions, int timeoutMs);
  ~KorvoCtl_Session();
  KorvoCtl_Session(const KorvoCtl_Session &) = delete;
  KorvoCtl_Session &operator=(const KorvoCtl_Session &) = delete;

  // Connects (once); false with an error printed when the router cannot be
  // reached.
  bool connect();
  // Valid after a successful connect(); owned by the process.
  ServiceRouter_Proxy *proxy() const { return proxyObject; }
  // The retry handler for the proxy's waits (owned by the session).
  RetryHandler *retry() const { return retryHandler; }
  int timeoutMs() const { return timeout; }

 private:
  std::vector<std::string> options;
  int timeout;
  ServiceRouter_Proxy *proxyObject = nullptr;
  RetryHandler *retryHandler = nullptr;
  bool tried = false;
  bool connected = false;
};
