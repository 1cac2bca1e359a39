// router_test_provider: a program the router starts in the tests. It
// connects to the router named by "-connect_servicerouter PORT", reports
// its start cookie, registers the names given with "-provide NAME" and
// serves RouterEcho on every connection until the router closes the link;
// then it exits 0. "-exit STATUS" makes it exit at once instead, without
// connecting (a program that fails at start).
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "services/router/router_testkit.h"
#include "shared/indgen.h"
#include "shared/stp_transport/stp_transport.h"

int main(int argc, char **argv) {
  gen_init(argv[0], 0, 0);
  int port = 0;
  int cookie = -1;
  std::vector<std::string> names;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-connect_servicerouter") == 0) port = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "-sr_client_start_cookie") == 0) cookie = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "-provide") == 0) names.emplace_back(argv[++i]);
    else if (std::strcmp(argv[i], "-exit") == 0) return std::atoi(argv[++i]);
  }
  TestPlugin *p = port > 0 ? TestPlugin::connect(port) : nullptr;
  if (!p) return 1;
  char cwd[4096] = {};
  if (!::getcwd(cwd, sizeof cwd)) std::strcpy(cwd, "/");
  p->values.emplace_back("cwd", cwd);
  p->serveEcho = true;
  if (cookie != -1) p->send_StartPluginEvent(cookie, true, "");
  p->send_SetWorkingDir(cwd);
  p->registerNames(names);
  while (p->linkAlive()) {
    TStat st;
    p->link()->serviceOnce(1000, &st);
  }
  p->destroy();
  return 0;
}
