// Group: the in-memory maps and their set, get and delete rules.
#include "services/whiteboard/whiteboard_group.h"

#include "shared/indgen.h"

namespace {

bool usableName(const char *name) { return name && *name; }

// Inserts or overwrites; true when the stored value changed.
template <class Map, class Value>
bool storeValue(Map &map, const char *name, const Value &value) {
  if (!usableName(name)) return false;
  ut_string key(name);
  auto it = map.find(key);
  if (it != map.end()) {
    if (it->second == value) return false;
    it->second = value;
    return true;
  }
  map.emplace(key, value);
  return true;
}

template <class Map, class Value>
bool lookUp(const Map &map, const char *name, Value &value) {
  if (!usableName(name)) return false;
  auto it = map.find(ut_string(name));
  if (it == map.end()) return false;
  value = it->second;
  return true;
}

template <class Map>
bool eraseName(Map &map, const ut_string &key) {
  return map.erase(key) > 0;
}

}  // namespace

Group::Group(const char *name) : groupName_(gen_copy(name ? name : "")) {}

Group::~Group() { gen_free(groupName_); }

bool Group::setBoolValue(const char *name, bool value, bool) {
  return storeValue(bools_, name, value);
}

bool Group::setInt32Value(const char *name, int value, bool) {
  return storeValue(int32s_, name, value);
}

bool Group::setStringValue(const char *name, const char *value, bool) {
  return storeValue(strings_, name, ut_string(value ? value : ""));
}

bool Group::setStringListValue(const char *name, const ut_string_list &value, bool) {
  return storeValue(stringLists_, name, value);
}

bool Group::setStringValue(const char *name, const ut_string &value, bool flag) {
  return setStringValue(name, value.c_str(), flag);
}

bool Group::deleteName(const char *name, WhiteBoard_Type type, bool) {
  if (!usableName(name) || !WhiteBoard_IsValidType(type)) return false;
  ut_string key(name);
  bool removed = false;
  if (type == WB_ANY || type == WB_BOOL) removed |= eraseName(bools_, key);
  if (type == WB_ANY || type == WB_INT32) removed |= eraseName(int32s_, key);
  if (type == WB_ANY || type == WB_STRING) removed |= eraseName(strings_, key);
  if (type == WB_ANY || type == WB_STRINGLIST) removed |= eraseName(stringLists_, key);
  return removed;
}

bool Group::getBoolValue(const char *name, bool &value) const {
  return lookUp(bools_, name, value);
}

bool Group::getInt32Value(const char *name, int &value) const {
  return lookUp(int32s_, name, value);
}

bool Group::getStringValue(const char *name, ut_string &value) const {
  return lookUp(strings_, name, value);
}

bool Group::getStringListValue(const char *name, ut_string_list &value) const {
  return lookUp(stringLists_, name, value);
}

bool Group::mergeChangesFromGroup(const Group &other) {
  bool changed = false;
  for (const auto &[name, value] : other.bools_)
    changed |= setBoolValue(name.c_str(), value, false);
  for (const auto &[name, value] : other.int32s_)
    changed |= setInt32Value(name.c_str(), value, false);
  for (const auto &[name, value] : other.strings_)
    changed |= setStringValue(name.c_str(), value.c_str(), false);
  for (const auto &[name, value] : other.stringLists_)
    changed |= setStringListValue(name.c_str(), value, false);
  return changed;
}

bool Group::isEmpty() const {
  return bools_.empty() && int32s_.empty() && strings_.empty() && stringLists_.empty();
}
