// FileRegistry_TypeMap: lists of file names by type, most recent first.
#include "services/fileregistry/fileregistry_typemap.h"

#include "services/support/service_limits.h"

ut_string_list *FileRegistry_TypeMap::listFor(const char *type) {
  auto [it, made] = lists.try_emplace(ut_string(type));
  if (made) bytes_ += ServiceLimits_Cost(type);
  return &it->second;
}

size_t FileRegistry_TypeMap::costOfAdding(const char *fileName, const char *type) const {
  const ut_string_list *list = find(type);
  // A name is counted as new even when it is listed already: looking for it
  // would be a second walk of the list on every AddFile. Near the limit a
  // re-added name is then refused, never one that fits.
  size_t cost = list ? 0 : ServiceLimits_Cost(type);
  if (fileName) cost += ServiceLimits_Cost(fileName);
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
  return it == lists.end() ? nullptr : &it->second;
}

bool FileRegistry_TypeMap::AddFileWithinLimits(const char *fileName, const char *type,
                                               bool *refused) {
  *refused = !ServiceLimits_StringFits(fileName) || !ServiceLimits_StringFits(type);
  if (*refused) return false;
  ut_string key(type);
  auto it = lists.find(key);
  size_t cost = (it == lists.end() ? ServiceLimits_Cost(type) : 0) +
                (fileName ? ServiceLimits_Cost(fileName) : 0);
  *refused = bytes_ + cost > kServiceMaxStoreBytes;
  if (*refused) return false;
  if (it == lists.end()) {
    it = lists.try_emplace(std::move(key)).first;
    bytes_ += ServiceLimits_Cost(type);
  }
  return addTo(&it->second, fileName);
}

bool FileRegistry_TypeMap::AddFile(const char *fileName, const char *type) {
  return addTo(listFor(type), fileName);
}

bool FileRegistry_TypeMap::addTo(ut_string_list *list, const char *fileName) {
  if (!fileName) return false;
  ut_string name(fileName);
  // Re-adding moves a name to the front rather than duplicating it (one
  // walk: the name is listed at most once).
  auto listed = list->find(name);
  if (listed != list->end()) list->erase(listed);
  else bytes_ += ServiceLimits_Cost(fileName);
  list->push_front(name);
  return true;
}

void FileRegistry_TypeMap::RemoveFile(const char *fileName, const char *type) {
  ut_string_list *list = listFor(type);
  if (!fileName) return;
  ut_string name(fileName);
  auto listed = list->find(name);
  if (listed == list->end()) return;
  list->erase(listed);  // there is never more than one
  bytes_ -= ServiceLimits_Cost(fileName);
}

std::vector<std::string> FileRegistry_TypeMap::GetFiles(const char *type) const {
  std::vector<std::string> names;
  const ut_string_list *list = find(type);
  if (!list) return names;
  names.reserve(list->size());
  for (auto it = list->begin(); it != list->end(); ++it) names.emplace_back(it->c_str());
  return names;
}
