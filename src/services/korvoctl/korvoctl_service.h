// korvoctl_service: opening a connection to one service for a korvoctl
// subcommand, and printing text fields in the tab-separated form the
// service subcommands use. One thread.
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

// A text field for tab-separated output: tabs and newlines become blanks,
// a null string is "-".
std::string KorvoCtl_Field(const char *text);
