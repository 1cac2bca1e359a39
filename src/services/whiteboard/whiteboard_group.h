// Group: one named group of the WhiteBoard store, shared by the server
// (GroupServer) and the client side. A group holds four independent name
// spaces, one per value type (bool, int32, string, string list), each an
// ordered map from value name to value.
//
// The setters and deleteName are virtual so that a derived group can react
// to changes; their trailing flag is not used here (a client-side group uses
// it to keep quiet about changes it applies itself). Group files are read
// and merged through loadFromFile / mergeChangesFromGroup (defined beside the
// group-file code). One thread.
#pragma once

#include <map>

#include "shared/libcxxutil/ut_string.h"
#include "shared/libcxxutil/ut_string_list.h"

// The value types of the WhiteBoard, with their type codes. WB_ANY stands
// for every type at once in a deletion.
enum WhiteBoard_Type { WB_ANY = 0, WB_BOOL = 1, WB_INT32 = 2, WB_STRING = 3, WB_STRINGLIST = 4 };

// True for the type codes 0..4.
inline bool WhiteBoard_IsValidType(int type) { return type >= WB_ANY && type <= WB_STRINGLIST; }

class Group {
 public:
  using BoolMap = std::map<ut_string, bool>;
  using Int32Map = std::map<ut_string, int>;
  using StringMap = std::map<ut_string, ut_string>;
  using StringListMap = std::map<ut_string, ut_string_list>;

  // `name` is copied; null is taken as "".
  explicit Group(const char *name);
  virtual ~Group();
  Group(const Group &) = delete;
  Group &operator=(const Group &) = delete;

  // Store `value` under `name` in that type's map. True when something
  // changed (a new name or a different value, strings and lists compared
  // by content); false when the value was already there, or when `name` is
  // null or empty (such a name could not be written to a group file). A
  // null string value is kept as the empty string. `flag` is unused here.
  virtual bool setBoolValue(const char *name, bool value, bool flag);
  virtual bool setInt32Value(const char *name, int value, bool flag);
  virtual bool setStringValue(const char *name, const char *value, bool flag);
  virtual bool setStringListValue(const char *name, const ut_string_list &value, bool flag);
  // Removes `name` from the map of `type`, or from all four for WB_ANY.
  // True when at least one entry was removed; a code outside 0..4 removes
  // nothing.
  virtual bool deleteName(const char *name, WhiteBoard_Type type, bool flag);

  // The group's name (owned by the group).
  const char *getGroupName() const { return groupName_; }

  // True and `value` filled when `name` is in that type's map; otherwise
  // false and `value` untouched.
  bool getBoolValue(const char *name, bool &value) const;
  bool getInt32Value(const char *name, int &value) const;
  bool getStringValue(const char *name, ut_string &value) const;
  bool getStringListValue(const char *name, ut_string_list &value) const;

  // Forwards to the virtual setter with the string's characters.
  bool setStringValue(const char *name, const ut_string &value, bool flag);

  // Reads the group file at `path` into this group through the virtual
  // setters (flag false). False for a null path; a file that is missing or
  // cannot be parsed counts as empty (true, nothing changed). Names absent
  // from the file are left alone.
  bool loadFromFile(const char *path);
  // Stores every value of `other` in this group through the virtual
  // setters (flag false), type by type (bool, int32, string, string list)
  // and in name order. True when at least one setter changed something.
  bool mergeChangesFromGroup(const Group &other);

  // Read access to the four maps, in value-name order.
  const BoolMap &boolValues() const { return bools_; }
  const Int32Map &int32Values() const { return int32s_; }
  const StringMap &stringValues() const { return strings_; }
  const StringListMap &stringListValues() const { return stringLists_; }
  // True when the group holds no value of any type.
  bool isEmpty() const;

 protected:
  char *groupName_;  // owned (gen_free)
  BoolMap bools_;
  Int32Map int32s_;
  StringMap strings_;
  StringListMap stringLists_;
};
