// FileRegistry_TypeMap: lists of file names by type, most recent first.
#include "services/fileregistry/fileregistry_typemap.h"


ut_string_list *FileRegistry_TypeMap::listFor(const char *type) { return &lists[ut_string(type)]; }

const ut_string_list *FileRegistry_TypeMap::find(const char *type) const {
  auto it = lists.find(ut_string(type));
  return it == lists.end() ? nullptr : &it->second;
}

bool FileRegistry_TypeMap::AddFile(const char *fileName, const char *type) {
  ut_string_list *list = listFor(type);
  if (!fileName) return false;
  ut_string name(fileName);
  // Re-adding moves a name to the front rather than duplicating it.
  list->remove(name);
  list->push_front(name);
  return true;
}

void FileRegistry_TypeMap::RemoveFile(const char *fileName, const char *type) {
  ut_string_list *list = listFor(type);
  if (fileName) list->remove(ut_string(fileName));
}

std::vector<std::string> FileRegistry_TypeMap::GetFiles(const char *type) const {
  std::vector<std::string> names;
  const ut_string_list *list = find(type);
  if (!list) return names;
  names.reserve(list->size());
  for (auto it = list->begin(); it != list->end(); ++it) names.emplace_back(it->c_str());
  return names;
}
