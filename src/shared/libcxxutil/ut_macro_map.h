// ut_macro_map: the macro definitions of an options database and of the
// preprocessor: an ordered map from name (compared byte for byte) to a value
// string and a flag.
//
// A value may be the null (default) ut_string: a macro defined without a
// value. The map owns its entries; values are shared ut_strings. One thread.
#pragma once

#include <map>
#include <string>

#include "shared/libcxxutil/ut_string.h"

class ut_macro_map {
 public:
  struct entry {
    ut_string value;
    bool flag = false;
  };
  using const_iterator = std::map<std::string, entry, std::less<>>::const_iterator;

  // Adds the macro or replaces its value and flag. A null or empty name is
  // ignored.
  void insert(const ut_string &name, const ut_string &value, bool flag = false);
  void insert(const char *name, const char *value, bool flag = false);
  // The name is the first `length` bytes of `name`.
  void insert(const char *name, int length, const char *value, bool flag = false);
  // Copies every entry of `other` into this map (replacing equal names).
  void insert(const ut_macro_map &other);

  // Deletes the macro; false when it was not defined.
  bool remove(const ut_string &name);
  bool remove(const char *name);
  bool remove(const char *name, int length);

  // The value of the macro, or null when it is not defined. The pointer
  // belongs to the map and stays valid until the entry is replaced or
  // removed. With `flag`, the entry's flag is stored there when found.
  const ut_string *find(const ut_string &name, bool *flag = nullptr) const;
  const ut_string *find(const char *name, bool *flag = nullptr) const;
  const ut_string *find(const char *name, int length, bool *flag = nullptr) const;

  int size() const { return static_cast<int>(entries_.size()); }
  void clear() { entries_.clear(); }
  // Entries in ascending name order.
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  std::map<std::string, entry, std::less<>> entries_;
};
