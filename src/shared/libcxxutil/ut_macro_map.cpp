// ut_macro_map: a std::map keyed by the name bytes; lookups by C string or
// by (text, length) go through string_view without copying the name.
#include "shared/libcxxutil/ut_macro_map.h"

#include <cstring>
#include <string_view>

namespace {

std::string_view view_of(const char *name, int length) {
  if (!name || length <= 0) return {};
  const void *nul = std::memchr(name, 0, static_cast<size_t>(length));
  size_t n = nul ? static_cast<size_t>(static_cast<const char *>(nul) - name) : static_cast<size_t>(length);
  return std::string_view(name, n);
}

}  // namespace

void ut_macro_map::insert(const ut_string &name, const ut_string &value, bool flag) {
  std::string_view key = view_of(name.c_str(), name.length());
  if (key.empty()) return;
  entry &e = entries_[std::string(key)];
  e.value = value;
  e.flag = flag;
}

void ut_macro_map::insert(const char *name, const char *value, bool flag) {
  insert(name, name ? static_cast<int>(std::strlen(name)) : 0, value, flag);
}

void ut_macro_map::insert(const char *name, int length, const char *value, bool flag) {
  std::string_view key = view_of(name, length);
  if (key.empty()) return;
  entry &e = entries_[std::string(key)];
  e.value = ut_string(value);
  e.flag = flag;
}

void ut_macro_map::insert(const ut_macro_map &other) {
  if (&other == this) return;
  for (const auto &[name, e] : other.entries_) entries_[name] = e;
}

bool ut_macro_map::remove(const ut_string &name) { return remove(name.c_str()); }

bool ut_macro_map::remove(const char *name) {
  return remove(name, name ? static_cast<int>(std::strlen(name)) : 0);
}

bool ut_macro_map::remove(const char *name, int length) {
  std::string_view key = view_of(name, length);
  if (key.empty()) return false;
  auto it = entries_.find(key);
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

const ut_string *ut_macro_map::find(const ut_string &name, bool *flag) const {
  return find(name.c_str(), flag);
}

const ut_string *ut_macro_map::find(const char *name, bool *flag) const {
  return find(name, name ? static_cast<int>(std::strlen(name)) : 0, flag);
}

const ut_string *ut_macro_map::find(const char *name, int length, bool *flag) const {
  std::string_view key = view_of(name, length);
  if (key.empty()) return nullptr;
  auto it = entries_.find(key);
  if (it == entries_.end()) return nullptr;
  if (flag) *flag = it->second.flag;
  return &it->second.value;
}
