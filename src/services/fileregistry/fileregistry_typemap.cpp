// FileRegistry_TypeMap: lists of file names by type, most recent first.
#include "services/fileregistry/fileregistry_typemap.h"

#include "services/support/service_limits.h"

namespace {

// A null type is the type "".
std::string_view typeKey(const char *type) { return type ? std::string_view(type) : std::string_view(); }

}  // namespace

bool FileRegistry_List::pushFront(std::string_view name) {
  auto listed = index.find(name);
  if (listed != index.end()) {
    names.splice(names.begin(), names, listed->second);
    return false;
  }
  names.emplace_front(name);
  index.emplace(names.front(), names.begin());
  return true;
}

bool FileRegistry_List::remove(std::string_view name) {
  auto listed = index.find(name);
  if (listed == index.end()) return false;
  auto place = listed->second;
  index.erase(listed);  // before the string its key views goes
  names.erase(place);
  return true;
}

FileRegistry_List *FileRegistry_TypeMap::listFor(const char *type) {
  auto it = lists.find(typeKey(type));
  if (it != lists.end()) return &it->second;
  bytes_ += ServiceLimits_Cost(type);
  return &lists.try_emplace(std::string(typeKey(type))).first->second;
}

bool FileRegistry_TypeMap::fitsAddTo(const FileRegistry_List *list, const char *fileName,
                                     const char *type) const {
  if (!ServiceLimits_StringFits(fileName) || !ServiceLimits_StringFits(type)) return false;
  // A name is counted as new even when it is listed already: near the limit
  // a re-added name is then refused, never one that fits.
  size_t cost = list ? 0 : ServiceLimits_Cost(type);
  if (fileName) cost += ServiceLimits_Cost(fileName);
  return bytes_ + cost <= kServiceMaxStoreBytes;
}

bool FileRegistry_TypeMap::fitsAdd(const char *fileName, const char *type) const {
  return fitsAddTo(find(type), fileName, type);
}

bool FileRegistry_TypeMap::fitsRemove(const char *type) const {
  return fitsAdd(nullptr, type);
}

const FileRegistry_List *FileRegistry_TypeMap::find(const char *type) const {
  auto it = lists.find(typeKey(type));
  return it == lists.end() ? nullptr : &it->second;
}

bool FileRegistry_TypeMap::AddFileWithinLimits(const char *fileName, const char *type,
                                               bool *refused) {
  auto it = lists.find(typeKey(type));
  FileRegistry_List *list = it == lists.end() ? nullptr : &it->second;
  *refused = !fitsAddTo(list, fileName, type);
  if (*refused) return false;
  return addTo(list ? list : listFor(type), fileName);
}

bool FileRegistry_TypeMap::AddFile(const char *fileName, const char *type) {
  return addTo(listFor(type), fileName);
}

bool FileRegistry_TypeMap::addTo(FileRegistry_List *list, const char *fileName) {
  if (!fileName) return false;
  // Re-adding moves a name to the front rather than duplicating it.
  if (list->pushFront(fileName)) bytes_ += ServiceLimits_Cost(fileName);
  return true;
}

void FileRegistry_TypeMap::RemoveFile(const char *fileName, const char *type) {
  FileRegistry_List *list = listFor(type);
  if (fileName && list->remove(fileName)) bytes_ -= ServiceLimits_Cost(fileName);
}

