// Reading the activation list from an options database, and checking each
// block for a form the router understands.
#include "services/router/router_services_file.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

const char *const kKnownKeys[] = {"Program", "Args", "Services", "SharedObject"};

// The strings of a string or string-list attribute (none when missing).
std::vector<std::string> stringsOf(const ut_attribute_tree *node, const char *key) {
  std::vector<std::string> out;
  const ut_attribute_tree_attribute *attr = node->find_attribute(key);
  if (!attr) return out;
  int count = 0;
  char **values = ut_attribute_tree::get_attribute_strlist_value(attr, false, &count);
  for (int i = 0; i < count; ++i)
    if (values[i] && *values[i]) out.emplace_back(values[i]);
  gen_free(values);
  return out;
}

// What is wrong with a block, or "" when nothing is.
std::string problemOf(const ut_attribute_tree *node, const Router_Program &p) {
  int known = 0;
  for (const char *key : kKnownKeys) known += node->has_attribute(key) ? 1 : 0;
  if (p.name.empty()) return "a block needs a name";
  if (node->get_first_child()) return "nested blocks are not allowed";
  if (known != node->get_num_attributes())
    return "unknown attribute (known: Program, Args, Services, SharedObject)";
  if (p.services.empty()) return "no Services listed";
  if (node->has_attribute("SharedObject")) {
    if (p.sharedObject.empty()) return "SharedObject is empty";
    if (node->has_attribute("Program") || node->has_attribute("Args"))
      return "a SharedObject block cannot have Program or Args";
  }
  return "";
}

std::string readText(const char *fileName) {
  std::ifstream in(fileName);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool isFile(const std::string &path) { return gen_access(path.c_str(), R_OK) == 0; }

}  // namespace

int Router_BlockLine(const std::string &text, const std::string &name) {
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line.compare(at, name.size(), name) != 0) continue;
    size_t brace = line.find_first_not_of(" \t", at + name.size());
    if (brace != std::string::npos && line[brace] == '{') return number;
  }
  return 0;
}

bool Router_ServicesFile::read(const char *fileName, std::string *error) {
  entries.clear();
  ut_options_database db("Services");
  if (!db.read_from_file_name(fileName)) {
    *error = std::string("cannot read services file ") + fileName;
    return false;
  }
  for (ut_attribute_tree *child = db.get_first_child(); child; child = db.get_next_child(child)) {
    Router_Program p;
    p.name = child->get_name() ? child->get_name() : "";
    p.program = child->get_optional_str_attribute("Program", p.name.c_str());
    p.args = stringsOf(child, "Args");
    p.services = stringsOf(child, "Services");
    p.sharedObject = child->get_optional_str_attribute("SharedObject", "");
    std::string problem = problemOf(child, p);
    if (!problem.empty()) {
      *error = std::string(fileName) + ":" +
               std::to_string(Router_BlockLine(readText(fileName), p.name)) + ": block \"" +
               p.name + "\": " + problem;
      entries.clear();
      return false;
    }
    entries.push_back(std::move(p));
  }
  return true;
}

const Router_Program *Router_ServicesFile::providerOf(const std::string &serviceName) const {
  for (const Router_Program &p : entries)
    for (const std::string &s : p.services)
      if (s == serviceName) return &p;
  return nullptr;
}

const Router_Program *Router_ServicesFile::program(const std::string &name) const {
  for (const Router_Program &p : entries)
    if (p.name == name) return &p;
  return nullptr;
}

std::string Router_ServicesFile::resolveProgram(const std::string &program) {
  if (program.empty() || program[0] == '/') return program;
  std::string result = program;
  const char *dir = gen_getprogdir();
  char *beside = dir ? gen_sconcat(dir, program.c_str()) : nullptr;
  if (beside && gen_canexec(beside) == 1) {
    result = beside;
  } else if (program.find('/') == std::string::npos) {
    char *found = gen_findexec(program.c_str(), false, 0);
    if (found) result = found;
    gen_free(found);
  }
  gen_free(beside);
  return result;
}

std::string Router_ServicesFile::resolveSharedObject(const std::string &library) {
  if (library.empty() || library[0] == '/') return library;
  const char *dir = gen_getprogdir();
  if (!dir) return library;
  char *beside = gen_sconcat(dir, library.c_str());
  std::string path = beside;
  gen_free(beside);
  if (isFile(path)) return path;
  if (isFile(path + ".so")) return path + ".so";
  return library;
}
