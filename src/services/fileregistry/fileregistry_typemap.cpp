// FileRegistry_TypeMap: lists of file names by type, most recent first.
#include "services/fileregistry/fileregistry_typemap.h"

#include "services/servicerouter_proxy/service_limits.h"
#include "shared/indgen.h"

FileRegistry_TypeMap::~FileRegistry_TypeMap() {
  for (auto &entry : lists) delete entry.second;
}

ut_string_list *FileRegistry_TypeMap::listFor(const char *type) {
  ut_string key(type);
  auto it = lists.find(key);
  if (it != lists.end()) return it->second;
  auto *list = new ut_string_list;
  lists.emplace(key, list);
  bytes_ += ServiceLimits_Cost(type);
  return list;
}

size_t FileRegistry_TypeMap::costOfAdding(const char *fileName, const char *type) const {
  const ut_string_list *list = find(type);
  size_t cost = list ? 0 : ServiceLimits_Cost(type);
  if (fileName && !(list && list->find(ut_string(fileName)) != list->end()))
    cost += ServiceLimits_Cost(fileName);
  return cost;
}

bool FileRegistry_TypeMap::fitsAdd(const char *fileName, const char *type) const {
  return ServiceLimits_StringFits(fileName) && ServiceLimits_StringFits(type) &&
         bytes_ + costOfAdding(fileName, type) <= kServiceMaxStoreBytes;
}

bool FileRegistry_TypeMap::fitsRemove(const char *type) const {
  return fitsAdd(nullptr, type);
}

const ut_string_list *FileRegistry_TypeMap::find(const char *type) const {
  auto it = lists.find(ut_string(type));
  return it == lists.end() ? nullptr : it->second;
}

bool FileRegistry_TypeMap::AddFile(const char *fileName, const char *type) {
  ut_string_list *list = listFor(type);
  if (!fileName) return false;
  ut_string name(fileName);
  // Re-adding moves a name to the front rather than duplicating it.
  if (list->find(name) != list->end()) list->remove(name);
  else bytes_ += ServiceLimits_Cost(fileName);
  list->push_front(name);
  return true;
}

void FileRegistry_TypeMap::RemoveFile(const char *fileName, const char *type) {
  ut_string_list *list = listFor(type);
  if (!fileName) return;
  ut_string name(fileName);
  if (list->find(name) == list->end()) return;
  list->remove(name);  // there is never more than one
  bytes_ -= ServiceLimits_Cost(fileName);
}

void FileRegistry_TypeMap::GetFiles(const char *type, int *num, char ***files) const {
  *num = 0;
  *files = nullptr;
  const ut_string_list *list = find(type);
  if (!list || list->empty()) return;
  // gen_calloc and gen_copy allocate with the C allocator, so the receiver
  // may release the result with free.
  char **names = static_cast<char **>(gen_calloc(list->size(), sizeof(char *)));
  int n = 0;
  for (auto it = list->begin(); it != list->end(); ++it) names[n++] = gen_copy(it->c_str());
  *num = n;
  *files = names;
}
