// korvoctl_service: service connections and output fields for subcommands.
#include "services/korvoctl/korvoctl_service.h"

#include "services/korvoctl/korvoctl_session.h"
#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/indgen.h"

bool KorvoCtl_ConnectService(KorvoCtl_Session &session, const char *what, const char *service,
                             STPSpecClass *endpoint) {
  if (!session.connect()) return false;
  bool found = false, accepted = false;
  if (session.proxy()->getServiceConnection(service, endpoint, &found, &accepted, session.retry(),
                                            gen_getcwd(), false, false, false))
    return true;
  if (!found)
    gen_error("%s: no process provides %s", what, service);
  else if (!accepted)
    gen_error("%s: %s refused the connection", what, service);
  else
    gen_error("%s: could not connect to %s", what, service);
  return false;
}

std::string KorvoCtl_Field(const char *text) {
  if (!text) return "-";
  std::string s = text;
  for (char &c : s)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return s;
}
