// Router_ServicesFile: which program provides which service names, read
// from an options database such as
//
//   svc_statemgr {
//     Services = { "WhiteBoard", "MRUService" }
//   }
//   echo_provider {
//     Program = "/opt/tools/echo_provider"   # default: the block name
//     Args = { "-quiet" }                    # optional extra arguments
//     Services = "Echo"
//   }
//
// A relative Program is looked for beside svc_router first, then on PATH.
// One thread.
#pragma once

#include <string>
#include <vector>

struct Router_Program {
  std::string name;      // the block name ("-start NAME" uses it)
  std::string program;   // as written (default: the name)
  std::vector<std::string> args;
  std::vector<std::string> services;
};

class Router_ServicesFile {
 public:
  // Reads `fileName`; false with *error set when it cannot be read or has a
  // parse error. Blocks without any service name are skipped.
  bool read(const char *fileName, std::string *error);
  // The program that provides `serviceName`, or null (the first listed).
  const Router_Program *providerOf(const std::string &serviceName) const;
  // The program block named `name`, or null.
  const Router_Program *program(const std::string &name) const;
  const std::vector<Router_Program> &programs() const { return entries; }

  // The file to start the program from: an absolute name as is; else the
  // name beside this program when executable there; else a bare name found
  // on PATH; else the name as written.
  static std::string resolveProgram(const std::string &program);

 private:
  std::vector<Router_Program> entries;
};
