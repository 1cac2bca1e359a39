// stpgen: reads one interface-definition file and writes its generated
// endpoint code into an output folder.
//
//   stpgen [--check | --testkit] --out <folder> <interface.stp>
//
// Outputs, with <itf> the interface name in lower case: <itf>_parsing.h/.cpp
// (record types and helpers, message tables, tag names) and, per role,
// <itf>_<role>_impl.h/.cpp (the endpoint class). --check only validates;
// --testkit writes only the test support <itf>_testkit.h/.cpp.
// Errors go to the standard error stream as "file:line: what is wrong" and
// make the exit status 1, which stops the build.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "stpgen_emitter.h"
#include "stpgen_reader.h"

int main(int argc, char **argv) {
  bool checkOnly = false, testkit = false;
  std::string outDir, file;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--check")) {
      checkOnly = true;
    } else if (!std::strcmp(argv[i], "--testkit")) {
      testkit = true;
    } else if (!std::strcmp(argv[i], "--out") && i + 1 < argc) {
      outDir = argv[++i];
    } else if (argv[i][0] != '-' && file.empty()) {
      file = argv[i];
    } else {
      std::fprintf(stderr, "usage: stpgen [--check | --testkit] --out <folder> <interface.stp>\n");
      return 2;
    }
  }
  if (file.empty() || (!checkOnly && outDir.empty())) {
    std::fprintf(stderr, "usage: stpgen [--check | --testkit] --out <folder> <interface.stp>\n");
    return 2;
  }
  stpgen::Interface itf;
  std::vector<std::string> errors;
  if (!stpgen::readInterfaceFile(file, itf, errors)) {
    for (auto &e : errors) std::fprintf(stderr, "%s\n", e.c_str());
    return 1;
  }
  if (checkOnly) return 0;
  std::string err;
  bool ok = testkit ? stpgen::emitTestkit(itf, outDir, err) : stpgen::emitInterface(itf, outDir, err);
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", file.c_str(), err.c_str());
    return 1;
  }
  return 0;
}
