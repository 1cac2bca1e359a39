// Emitter entry: names the output files, writes each one only when its text
// changed (so an unchanged interface rebuilds nothing downstream).
#include <cctype>
#include <fstream>
#include <sstream>

#include "stpgen_emit_internal.h"

namespace stpgen {
namespace {

bool writeIfChanged(const std::string &path, const std::string &text, std::string &error) {
  {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      std::stringstream ss;
      ss << in.rdbuf();
      if (ss.str() == text) return true;
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  out << text;
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

std::string baseName(const std::string &path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string banner(const Interface &itf, const std::string &what) {
  return "// GENERATED FILE - do not edit. Made by stpgen from " + baseName(itf.file) +
         "\n// (interfaces/" + baseName(itf.file) + "); change the interface file instead.\n// " + what + "\n";
}

std::string fileStem(const Interface &itf) {
  std::string s = itf.name;
  for (char &c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

bool emitInterface(const Interface &itf, const std::string &outDir, std::string &error) {
  std::string stem = outDir + "/" + fileStem(itf);
  if (!writeIfChanged(stem + "_parsing.h", emitParsingHeader(itf), error)) return false;
  if (!writeIfChanged(stem + "_parsing.cpp", emitParsingSource(itf), error)) return false;
  for (int r = 0; r < 2; ++r) {
    std::string base = stem + "_" + itf.roles[r].name + "_impl";
    if (!writeIfChanged(base + ".h", emitClassHeader(itf, r), error)) return false;
    if (!writeIfChanged(base + ".cpp", emitClassSource(itf, r), error)) return false;
  }
  return true;
}

bool emitTestkit(const Interface &itf, const std::string &outDir, std::string &error) {
  std::string stem = outDir + "/" + fileStem(itf);
  return writeIfChanged(stem + "_testkit.h", emitTestkitHeader(itf), error) &&
         writeIfChanged(stem + "_testkit.cpp", emitTestkitSource(itf), error);
}

}  // namespace stpgen
