// svc_statemgr's launch check: it refuses a start without the router's
// options, and a router that cannot be reached ends it with status 1 and
// only the proxy's own message. (Serving under the real router is the
// end-to-end tests' part.)
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_process.h"
#include "scripted_router.h"

namespace srtest {
namespace {

const std::string kErrFile = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/statemgr.err";

// Without the router's connect options (or with one lacking its value) the
// program refuses to run; with one before the last word it passes the check
// and, nothing answering, ends with status 1 and only the proxy's message.
TEST(StateMgrProcessTest, LaunchCheckRefusesAStandaloneStart) {
  RouterSide closed;
  closed.closeListener();
  const std::string refusal = "svc_statemgr: fatal: svc_statemgr may not be run as a standalone program\n";
  const std::string unreachable = "svc_statemgr: error: Unable to connect to ServiceRouter who launched us.\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, refusal}, {{"-sr_debug_startup", "x"}, refusal}, {{"-connect_servicerouter"}, refusal},
      {{"x", "-sr_connect_servicerouter_port"}, refusal},
      {{"-x", "-connect_servicerouter", closed.portText(), "-y"}, unreachable},
      {{"-x", "-sr_connect_servicerouter_port", closed.portText(), "-y"}, unreachable}};
  for (const auto &[args, said] : cases) {
    SCOPED_TRACE(args.size());
    E2EChild child(e2eBinDir() + "/svc_statemgr", args, kErrFile);
    EXPECT_EQ(child.waitExit(10000), 1);
    std::ifstream in(kErrFile);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), said);
  }
}

}  // namespace
}  // namespace srtest
