// svc_statemgr: the state-manager process. It is started by the service
// router only; run by hand it refuses with the launch check below.
#include <cstdio>
#include <cstring>

namespace {

const char *const kRouterOptions[] = {"-connect_servicerouter", "-sr_connect_servicerouter_host",
                                      "-sr_connect_servicerouter_port"};

// True when one of the router's connect options stands before the last word.
bool launchedByRouter(int argc, char **argv) {
  for (int i = 1; i < argc - 1; ++i)
    for (const char *opt : kRouterOptions)
      if (std::strcmp(argv[i], opt) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  if (!launchedByRouter(argc, argv)) {
    const char *name = std::strrchr(argv[0], '/');
    name = name ? name + 1 : argv[0];
    std::fprintf(stderr, "%s: fatal: %s may not be run as a standalone program\n", name, name);
    return 1;
  }
  return 0;
}
