// korvoctl_service: opening a connection to one service for a korvoctl
// subcommand, serving it until interrupted, and printing text fields in the
// tab-separated form the service subcommands use. One thread.
#pragma once

#include <string>

class KorvoCtl_Session;
class STPSpecClass;

// Connects the session (when it is not yet) and binds `endpoint` to a new
// connection to `service`, negotiated. The proxy keeps its own reference on
// the endpoint; the caller keeps its own and releases it with delRef. False
// with an error printed ("<what>: ...") when the router or the service
// cannot be reached.
bool KorvoCtl_ConnectService(KorvoCtl_Session &session, const char *what, const char *service,
                             STPSpecClass *endpoint);

// Serves the session's router connection (events for `endpoint` are
// printed by its handlers) until SIGINT or SIGTERM, or until `endpoint` is
// down or the router connection ends. Installs the signal handlers first,
// then prints the line `ready` (flushed), so a caller reading it knows an
// interrupt is caught. True when interrupted; false with "<what>: the
// connection to <peer> ended" printed when the connection ended.
bool KorvoCtl_ServeUntilInterrupted(KorvoCtl_Session &session, STPSpecClass *endpoint, const char *ready,
                                    const char *what, const char *peer);

// A text field for tab-separated output: tabs and newlines become blanks,
// a null string is "-".
std::string KorvoCtl_Field(const char *text);
