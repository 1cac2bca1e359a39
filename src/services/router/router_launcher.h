// Router_Launcher: the programs this router started, by process id, and
// the ones it asked a plugin to start (client starts), by start cookie.
//
// Every program is started detached with "-connect_servicerouter PORT" (so
// it connects to this router as a plugin) and "-sr_client_start_cookie N":
// the started program reports N back with StartPluginEvent when it
// registers, which tells the router which plugin it became. A launch is
// either an activation (a program of the services file, started because a
// name it provides was asked for) or a launch another plugin requested.
//
// A client start is the same without a process of ours: the router sends
// the command to the requesting plugin (StartPlugin), which starts it; the
// record lives until the program reports its cookie and goes, or the start
// fails or times out.
//
// A program named by a DebugPlugin request is started once under the named
// debugger: "DEBUGGER [OPTIONS...] PROGRAM ARGS...".
//
// The launcher only keeps the records; Router_Core decides what a start, a
// registration or an exit means. One thread.
#pragma once

#include <map>
#include <string>
#include <vector>

struct Router_Program;

struct Router_Launch {
  int pid = 0;                             // 0 for a client start
  int startCookie = 0;
  std::string name;                        // program name for messages
  const Router_Program *program = nullptr; // activation: the services-file entry
  int pluginId = -1;                       // once the program reported its cookie
  bool registered = false;                 // sent its first service list
  long long startedAt = 0;                 // ut_getTimeMillis64
  int requesterId = -1;                    // launch request: who asked
  int requestCookie = 0;                   // ... and the cookie to answer with
  bool answered = false;                   // launch request answered
  int startedBy = -1;                      // client start: the plugin asked to start it
  bool fresh = false;                      // no_reuse: serves only its own requests
  // A launch request still to be answered (its time limit runs).
  bool awaitsAnswer() const { return requesterId != -1 && !answered; }
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
  // Records a client start of argv and fills *words with the command the
  // starting plugin runs (argv[0] unresolved: the plugin resolves it, the
  // connect options, then the rest of argv). The record is valid until it
  // is removed.
  Router_Launch *prepareClientStart(const std::string &name, const std::vector<std::string> &argv,
                                    int routerPort, long long now,
                                    std::vector<std::string> *words);
  Router_Launch *findPid(int pid);
  Router_Launch *findStartCookie(int cookie);
  // A running (or starting) instance of that program started by
  // activation and open to every request, or null.
  Router_Launch *activationOf(const Router_Program *program);
  void remove(int pid);
  void removeClientStart(int cookie);
  // Forgets the plugin id where a record names it (the plugin went away);
  // a client start whose plugin went is removed.
  void forgetPlugin(int pluginId);
  std::map<int, Router_Launch> &all() { return launches; }
  const std::map<int, Router_Launch> &all() const { return launches; }
  std::map<int, Router_Launch> &clientStarts() { return clientStarted; }
  const std::map<int, Router_Launch> &clientStarts() const { return clientStarted; }
  // Whether processes of ours are still running.
  bool empty() const { return launches.empty(); }

  // The next start of the program `name` (a block name or a program's
  // base name) runs under `debugger` with `options` (split at blanks).
  // An empty debugger forgets the request.
  void setDebugger(const std::string &name, const std::string &debugger,
                   const std::string &options);
  // `words` as they are to be run: under the debugger recorded for
  // `name` or for the base name of words[0] (which the call uses up), or
  // unchanged.
  std::vector<std::string> underDebugger(const std::string &name,
                                         const std::vector<std::string> &words);

  // Whether `dir` can be a started program's working directory (empty:
  // the router's own, always usable); false with *why set otherwise.
  static bool usableDirectory(const std::string &dir, std::string *why);

 private:
  std::vector<std::string> commandWords(const std::string &program,
                                        const std::vector<std::string> &argv, int routerPort,
                                        int cookie) const;

  struct Debugger {
    std::string command;
    std::string options;
  };
  std::map<int, Router_Launch> launches;       // by pid
  std::map<int, Router_Launch> clientStarted;  // by start cookie
  std::map<std::string, Debugger> debuggers;   // by program name
  int nextCookie = 1;
};
