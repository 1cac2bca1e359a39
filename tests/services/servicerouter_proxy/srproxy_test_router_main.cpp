// A stand-in "svc_router" program for the router-launch tests. Started by
// the proxy with "-connect_servicerouter PORT ...", it appends its command
// line and pid to the file SRPROXY_TEST_ROUTER_RECORD, connects back, speaks
// the scripted router role (plugin id 61) until the proxy closes the
// connection, then ends the way SRPROXY_TEST_ROUTER_MODE says: "linger"
// (stay 3 s, then exit 0), "hang" (stay 20 s), "signal" (die by SIGTERM) or
// anything else (exit 0). It never runs longer than 30 s.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scripted_router.h"
#include "shared/indgen.h"

int main(int argc, char **argv) {
  gen_init(argv[0], 0, 0);
  const char *path = std::getenv("SRPROXY_TEST_ROUTER_RECORD");
  if (FILE *f = path ? std::fopen(path, "a") : nullptr) {
    for (int i = 0; i < argc; ++i) std::fprintf(f, "%s%s", i ? " " : "", argv[i]);
    std::fprintf(f, "\npid %d\n", static_cast<int>(getpid()));
    std::fclose(f);
  }
  int port = -1;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "-connect_servicerouter") == 0) port = std::atoi(argv[i + 1]);
  STPTransport *t = new STPTransport(32768);
  if (port <= 0 || !t->connect("127.0.0.1", port, nullptr)) return 2;
  srtest::ScriptedRouter *router = new srtest::ScriptedRouter();
  router->pluginIdToGive = 61;
  router->setTransport(t, 1, 2);
  router->sendNegotiate(true, nullptr, nullptr);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!t->isDead() && std::chrono::steady_clock::now() < end) t->serviceOnce(200, nullptr);
  router->setTransport(nullptr);
  router->delRef();
  t->delRef();
  const std::string mode = std::getenv("SRPROXY_TEST_ROUTER_MODE") ? std::getenv("SRPROXY_TEST_ROUTER_MODE") : "";
  if (mode == "linger") sleep(3);
  if (mode == "hang") sleep(20);
  if (mode == "signal") {
    signal(SIGTERM, SIG_DFL);
    raise(SIGTERM);
  }
  return 0;
}
