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
//   file_registry_library {
//     SharedObject = "libkorvo_fileregistry_service.so"
//     Services = "FileRegistry"
//   }
//
// A relative Program is looked for beside svc_router first, then on PATH.
// A SharedObject block names a service library that the requesting
// process loads itself; a relative library name is taken beside
// svc_router when it exists there (with or without ".so"), else passed on
// as written (the loader's search path applies). A block is either a
// program or a shared object.
//
// A block that is not one of these forms (no Services, an attribute the
// router does not know, a nested block, SharedObject with Program or Args,
// an empty name) makes the whole file unreadable, reported as
// "FILE:LINE: block NAME: what is wrong". One thread.
#pragma once

#include <string>
#include <vector>

struct Router_Program {
  std::string name;      // the block name ("-start NAME" uses it)
  std::string program;   // as written (default: the name)
  std::vector<std::string> args;
  std::vector<std::string> services;
  std::string sharedObject;  // non-empty: a service library, not a program
};

class Router_ServicesFile {
 public:
  // Reads `fileName`; false with *error set when it cannot be read, has a
  // parse error or a bad block.
  bool read(const char *fileName, std::string *error);
  // The block that provides `serviceName`, or null (the first listed).
  const Router_Program *providerOf(const std::string &serviceName) const;
  // The program block named `name`, or null.
  const Router_Program *program(const std::string &name) const;
  const std::vector<Router_Program> &programs() const { return entries; }

  // The file to start the program from: an absolute name as is; else the
  // name beside this program when executable there; else a bare name found
  // on PATH; else the name as written.
  static std::string resolveProgram(const std::string &program);
  // The library name a requester is told: an absolute name as is; else
  // the name (or the name with ".so") beside this program when it exists
  // there; else as written.
  static std::string resolveSharedObject(const std::string &library);

 private:
  std::vector<Router_Program> entries;
};

// The line (from 1) on which the block `name` opens in the text `text`
// ("name {" at the start of a line, blanks allowed), or 0.
int Router_BlockLine(const std::string &text, const std::string &name);
