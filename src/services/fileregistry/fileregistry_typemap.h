// FileRegistry_TypeMap: the register of file names by type behind the
// FileRegistry service.
//
// Each type (an exact, byte-wise key: "C" and "c" are two types) maps to a
// list of file names, most recently added first, without duplicates. A
// type's list, once made, stays for the life of the map even when it
// empties. The process keeps one map (FileRegistry_Server::typemap); tests
// make their own. The map counts what it holds (service_limits.h) so that
// the server can refuse what would make it too big to answer. Nothing here
// touches a socket. One thread.
#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

// One type's file names, most recent first, with an index from name to
// place so that re-adding or removing a name does not walk the list.
class FileRegistry_List {
 public:
  bool empty() const { return names.empty(); }
  size_t size() const { return names.size(); }
  const std::list<std::string> &inOrder() const { return names; }

  // Puts `name` at the front; false when it was listed already (it moves).
  bool pushFront(std::string_view name);
  // Removes `name`; false when it was not listed.
  bool remove(std::string_view name);

 private:
  std::list<std::string> names;
  // Keys view the strings in `names`, which list nodes never move.
  std::unordered_map<std::string_view, std::list<std::string>::iterator> index;
};

class FileRegistry_TypeMap {
 public:
  FileRegistry_TypeMap() = default;
  FileRegistry_TypeMap(const FileRegistry_TypeMap &) = delete;
  FileRegistry_TypeMap &operator=(const FileRegistry_TypeMap &) = delete;

  // Puts fileName at the front of the type's list, removing any earlier
  // occurrence; makes the list when the type has none. A null type is the
  // type "". A null fileName registers nothing and returns false (the list
  // is still made).
  bool AddFile(const char *fileName, const char *type);
  // AddFile for a client: refused (false, *refused set, nothing changed)
  // when the strings or the map would pass the service limits, as fitsAdd
  // says; otherwise AddFile with *refused cleared. Looks the type up once.
  bool AddFileWithinLimits(const char *fileName, const char *type, bool *refused);
  // Removes every occurrence of fileName from the type's list; a type
  // without a list gets an empty one. A null fileName removes nothing.
  void RemoveFile(const char *fileName, const char *type);

  // Whether AddFile / RemoveFile with these arguments keeps every string
  // and the whole map within the service limits (a removal may only grow
  // the map by the type's new empty list).
  bool fitsAdd(const char *fileName, const char *type) const;
  bool fitsRemove(const char *type) const;
  // What the map holds, counted as service_limits.h says.
  size_t bytes() const { return bytes_; }

  // The type's list (owned by the map; its names front to back) or null
  // when there is none. A null type is the type "".
  const FileRegistry_List *find(const char *type) const;
  // Number of types that have a list.
  int typeCount() const { return static_cast<int>(lists.size()); }

 private:
  // The type's list, made when missing.
  FileRegistry_List *listFor(const char *type);
  // Puts fileName at the front of `list` (see AddFile).
  bool addTo(FileRegistry_List *list, const char *fileName);

  // Whether adding fileName to `list` (null: the type has none yet) keeps
  // every string and the whole map within the limits; the name is counted
  // as new (no search of the list).
  bool fitsAddTo(const FileRegistry_List *list, const char *fileName, const char *type) const;

  // Looked up by the request's type without making a string of it.
  std::map<std::string, FileRegistry_List, std::less<>> lists;
  size_t bytes_ = 0;
};
