// Router_Log: the router's two logs. The internal log records the router's
// own decisions (plugins coming and going, connections, drops, launches);
// the protocol log receives the endpoints' SEND/RECV entries and the log
// texts that plugins forward. Either may be absent. Warnings about a plugin
// the router had to disconnect also go to the standard error stream.
//
// The object owns both files. One thread.
#pragma once

#include <cstdio>

class STPLog;

class Router_Log {
 public:
  Router_Log() = default;
  ~Router_Log();
  Router_Log(const Router_Log &) = delete;
  Router_Log &operator=(const Router_Log &) = delete;

  // Open the files ("w"); false when a name was given and could not be
  // opened (the caller reports it).
  bool openInternal(const char *fileName);
  bool openProtocol(const char *fileName);

  // One line in the internal log, with a time stamp; printf-style (the
  // runtime library's engine). Nothing without an internal log.
  void note(const char *format, ...);
  // As note, and also gen_warning on the standard error stream.
  void warn(const char *format, ...);

  // The protocol log for endpoints (owned here), or null.
  STPLog *protocolLog() const { return protocol; }
  // Appends a text a plugin forwarded, marked with its plugin id.
  void pluginText(int pluginId, const char *text);

 private:
  void writeLine(const char *text);

  FILE *internal = nullptr;  // owned
  STPLog *protocol = nullptr;  // owned; owns its stream
};
