// Reading the activation list from an options database.
#include "services/router/router_services_file.h"

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

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

}  // namespace

bool Router_ServicesFile::read(const char *fileName, std::string *error) {
  entries.clear();
  ut_options_database db("Services");
  if (!db.read_from_file_name(fileName)) {
    *error = std::string("cannot read services file ") + fileName;
    return false;
  }
  for (ut_attribute_tree *child = db.get_first_child(); child; child = db.get_next_child(child)) {
    Router_Program p;
    p.name = child->get_name();
    p.program = child->get_optional_str_attribute("Program", p.name.c_str());
    p.args = stringsOf(child, "Args");
    p.services = stringsOf(child, "Services");
    if (!p.name.empty() && !p.services.empty()) entries.push_back(std::move(p));
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
