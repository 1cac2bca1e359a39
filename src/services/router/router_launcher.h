// Router_Launcher: the programs this router started, by process id.
//
// Every program is started detached with "-connect_servicerouter PORT" (so
// it connects to this router as a plugin) and "-sr_client_start_cookie N":
// the started program reports N back with StartPluginEvent when it
// registers, which tells the router which plugin it became. A launch is
// either an activation (a program of the services file, started because a
// name it provides was asked for) or a launch another plugin requested.
//
// The launcher only keeps the records; Router_Core decides what a start, a
// registration or an exit means. One thread.
#pragma once

#include <map>
#include <string>
#include <vector>

struct Router_Program;

struct Router_Launch {
  int pid = 0;
  int startCookie = 0;
  std::string name;                        // program name for messages
  const Router_Program *program = nullptr; // activation: the services-file entry
  int pluginId = -1;                       // once the program reported its cookie
  bool registered = false;                 // sent its first service list
  long long startedAt = 0;                 // ut_getTimeMillis64
  int requesterId = -1;                    // launch request: who asked
  int requestCookie = 0;                   // ... and the cookie to answer with
  bool answered = false;                   // launch request answered
};

class Router_Launcher {
 public:
  // Starts argv[0] (resolved with Router_ServicesFile::resolveProgram) with
  // the connect options inserted after it and the rest of argv behind, in
  // `workingDir` when not empty. Returns the new record (valid until it is
  // removed) or null with *error set.
  Router_Launch *start(const std::string &name, const std::vector<std::string> &argv,
                       const std::string &workingDir, int routerPort, long long now,
                       std::string *error);
  Router_Launch *findPid(int pid);
  Router_Launch *findStartCookie(int cookie);
  // A running instance of that program started by activation, or null.
  Router_Launch *activationOf(const Router_Program *program);
  void remove(int pid);
  // Forgets the plugin id where a record names it (the plugin went away).
  void forgetPlugin(int pluginId);
  std::map<int, Router_Launch> &all() { return launches; }
  bool empty() const { return launches.empty(); }

 private:
  std::map<int, Router_Launch> launches;  // by pid
  int nextCookie = 1;
};
