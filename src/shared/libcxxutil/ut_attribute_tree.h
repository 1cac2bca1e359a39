// ut_attribute_tree: an in-memory tree of named nodes, each with an ordered
// list of typed attributes (string, 32-bit integer, list of strings, list of
// integers). ut_options_database is the root of such a tree with file
// reading and writing.
//
// A node owns its children (kept in insertion order) and its attributes.
// Keys need not be unique: the add_ functions always append, lookups find
// the first record with the key. Names and keys are compared byte for byte;
// a null or empty name or key never matches. Strings are owned copies made
// with gen_copy. Nodes with many children or attributes keep a lookup index
// so that reading large files stays linear. One thread.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "shared/libcxxutil/ut_string.h"

enum ut_attribute_type {
  UT_ATTRIBUTE_STR = 0,        // "str"
  UT_ATTRIBUTE_INT32 = 1,      // "int32"
  UT_ATTRIBUTE_STR_LIST = 2,   // "str_list"
  UT_ATTRIBUTE_INT32_LIST = 3  // "int32_list"
};

// The name of a type as used in messages ("str", "int32", ...).
const char *ut_attribute_type_name(ut_attribute_type type);

struct ut_attribute_str_list {
  ut_attribute_str_list *next;
  char *value;  // owned; may be null
};

struct ut_attribute_int32_list {
  ut_attribute_int32_list *next;
  int32_t value;
};

struct ut_attribute_tree_attribute {
  ut_attribute_type type;
  char *key;  // owned
  union {
    char *str;                             // owned; may be null
    int32_t int32;
    ut_attribute_str_list *str_list;       // owned, may be null (empty)
    ut_attribute_int32_list *int32_list;   // owned, may be null (empty)
  } value;
  void *last;  // last element of a list, for appending
};

class ut_options_database;

class ut_attribute_tree {
 public:
  // A node named `name` (null gives ""), without parent.
  explicit ut_attribute_tree(const char *name = nullptr);
  // Destroys the children and the attributes.
  virtual ~ut_attribute_tree();
  ut_attribute_tree(const ut_attribute_tree &) = delete;
  ut_attribute_tree &operator=(const ut_attribute_tree &) = delete;

  // ---- Structure. Returned nodes belong to the tree.
  ut_attribute_tree *find_child_tree(const char *name) const;
  ut_attribute_tree *find_child_child_tree(const char *name1, const char *name2) const;
  ut_attribute_tree *find_child_child_child_tree(const char *name1, const char *name2, const char *name3) const;
  // Always appends a new child.
  ut_attribute_tree *add_child_tree(const char *name);
  ut_attribute_tree *find_or_add_child_tree(const char *name);
  // Unlinks the first child of that name. With `destroy` it is deleted and
  // null returned; otherwise the caller receives it and owns it. Null when
  // there is no such child.
  ut_attribute_tree *remove_child_tree(const char *name, bool destroy);
  // Counting and iteration, optionally skipping hidden children.
  int count_child_trees(bool skip_hidden = false) const;
  ut_attribute_tree *get_first_child(bool skip_hidden = false) const;
  // The child after `child` (a child of this node), or null.
  ut_attribute_tree *get_next_child(const ut_attribute_tree *child, bool skip_hidden = false) const;
  const char *get_name() const { return name_; }
  ut_attribute_tree *get_parent() const { return parent_; }
  // Reorders the children by name (strcmp), or by the string values of the
  // attributes key1 then key2 (a missing value after any present one) and
  // then by name. Both sorts are stable.
  void sort_children_by_name();
  void sort_children_by_str_attribute(const char *key1, const char *key2);
  // Moves the first child of that name to the front; false when missing.
  bool move_child_to_front(const char *name);
  // The names from the top-level node down to this one joined with "."
  // (the root's own name left out). With `with_file`, when the root is a
  // database that has opened exactly one file, "file:" is put in front.
  ut_string get_path_name(bool with_file) const;
  // The root of the tree this node belongs to.
  ut_attribute_tree *get_root() const;

  // ---- Flags.
  bool is_database_root() const { return database_root_; }
  bool is_open_block() const { return open_block_; }
  void set_open_block(bool on) { open_block_ = on; }
  bool is_hidden() const { return hidden_; }
  void set_hidden(bool on) { hidden_ = on; }
  // Set when a required getter did not find its attribute.
  bool get_missing_attribute_reported() const { return missing_reported_; }
  void clear_missing_attribute_reported() { missing_reported_ = false; }

  // ---- Attribute lookup. Records belong to the node and stay valid until
  // an attribute is added or removed.
  ut_attribute_tree_attribute *find_attribute(const char *key) const;
  bool has_attribute(const char *key) const { return find_attribute(key) != nullptr; }
  // Removes the first record with the key; false when there is none.
  bool remove_attribute(const char *key);
  int get_num_attributes() const { return static_cast<int>(attrs_.size()); }

  // ---- Getters. The required forms warn "\"%s\": is missing required %s
  // attribute \"%s\"" (path with file, type name, key) and set the
  // missing-attribute flag when the key is missing or of another type; the
  // optional forms return the default silently. Returned strings and lists
  // belong to the node.
  const char *get_str_attribute(const char *key, const char *def = nullptr);
  const char *get_optional_str_attribute(const char *key, const char *def = nullptr) const;
  int32_t get_int32_attribute(const char *key, int32_t def = -1);
  int32_t get_optional_int32_attribute(const char *key, int32_t def = -1) const;
  // An integer is true when not 0; a string as get_attribute_bool_value.
  bool get_bool_attribute(const char *key, bool def = false);
  bool get_optional_bool_attribute(const char *key, bool def = false) const;
  const ut_attribute_str_list *get_str_list_attribute(const char *key);
  const ut_attribute_str_list *get_optional_str_list_attribute(const char *key) const;
  const ut_attribute_int32_list *get_int32_list_attribute(const char *key);
  const ut_attribute_int32_list *get_optional_int32_list_attribute(const char *key) const;
  // An integer directly; a string converted with base detection when the
  // whole string is a number other than -1; otherwise the default.
  int32_t get_attribute_as_int32(const char *key, int32_t def = -1);
  int32_t get_optional_attribute_as_int32(const char *key, int32_t def = -1) const;
  // The string value; a value that looks like a drive letter and ":" not
  // followed by "/" or "\\" draws a warning but is returned all the same.
  const char *get_filename_attribute(const char *key, const char *def = nullptr);
  const char *get_optional_filename_attribute(const char *key, const char *def = nullptr) const;
  // The string value (or the default) in double quotes with backslash
  // escapes, respectively with escapes only; a new string (gen_free), null
  // when value and default are null.
  char *get_str_attribute_quoted(const char *key, const char *def = nullptr);
  char *get_str_attribute_escaped(const char *key, const char *def = nullptr);

  // ---- Setters. Values are copied. A null or empty key is refused (null).
  ut_attribute_tree_attribute *add_str_attribute(const char *key, const char *value);
  ut_attribute_tree_attribute *add_int32_attribute(const char *key, int32_t value);
  ut_attribute_tree_attribute *add_str_list_attribute(const char *key, const char *value);
  ut_attribute_tree_attribute *add_int32_list_attribute(const char *key, int32_t value);
  // Replace value and type of the first record with the key, else append.
  ut_attribute_tree_attribute *add_or_replace_str_attribute(const char *key, const char *value);
  ut_attribute_tree_attribute *add_or_replace_int32_attribute(const char *key, int32_t value);
  ut_attribute_tree_attribute *add_or_replace_str_list_attribute(const char *key, const char *value);
  ut_attribute_tree_attribute *add_or_replace_int32_list_attribute(const char *key, int32_t value);
  // Replace value and type of the first record with the key by a list of
  // `count` values (0 gives an empty list), else append such a record.
  ut_attribute_tree_attribute *set_str_list_attribute(const char *key, const char *const *values, int count);
  ut_attribute_tree_attribute *set_int32_list_attribute(const char *key, const int32_t *values, int count);
  // Concatenates onto an existing string value (a value of another type is
  // discarded first), else appends a new record.
  ut_attribute_tree_attribute *append_str_attribute(const char *key, const char *value);
  // Adds an element at the end of an existing list; an attribute of another
  // type becomes a one-element list; else a new record is appended.
  ut_attribute_tree_attribute *append_str_list_attribute(const char *key, const char *value);
  ut_attribute_tree_attribute *append_int32_list_attribute(const char *key, int32_t value);

  // ---- Child shortcuts: the default, without a warning, when the child
  // (or grandchild) is missing.
  const char *get_child_str_attribute(const char *child, const char *key, const char *def = nullptr);
  const char *get_child_optional_str_attribute(const char *child, const char *key, const char *def = nullptr) const;
  int32_t get_child_int32_attribute(const char *child, const char *key, int32_t def = -1);
  int32_t get_child_optional_int32_attribute(const char *child, const char *key, int32_t def = -1) const;
  bool get_child_optional_bool_attribute(const char *child, const char *key, bool def = false) const;
  const char *get_child_child_str_attribute(const char *child1, const char *child2, const char *key,
                                            const char *def = nullptr);
  int32_t get_child_child_int32_attribute(const char *child1, const char *child2, const char *key,
                                          int32_t def = -1);

  // ---- Attribute iteration, in insertion order.
  ut_attribute_tree_attribute *get_first_attribute() const;
  ut_attribute_tree_attribute *get_next_attribute(const ut_attribute_tree_attribute *attr) const;
  static ut_attribute_type get_attribute_type(const ut_attribute_tree_attribute *attr) { return attr->type; }
  static const char *get_attribute_key_name(const ut_attribute_tree_attribute *attr) { return attr->key; }
  // Null unless a string.
  static const char *get_attribute_str_value(const ut_attribute_tree_attribute *attr);
  // -1 unless an integer.
  static int32_t get_attribute_int32_value(const ut_attribute_tree_attribute *attr);
  // Null unless an integer list.
  static const ut_attribute_int32_list *get_int32_list_value(const ut_attribute_tree_attribute *attr);
  // An integer: not 0. A string: after leading white space "yes", "1", "on"
  // or "true" (any case). Otherwise `def`.
  static bool get_attribute_bool_value(const ut_attribute_tree_attribute *attr, bool def = false);
  // A null-terminated array of the list's strings (a string attribute gives
  // one element); null and *count 0 for other types. The array is the
  // caller's (gen_free); with `copy` the strings are copies the caller also
  // frees, otherwise they belong to the node.
  static char **get_attribute_strlist_value(const ut_attribute_tree_attribute *attr, bool copy, int *count);

 protected:
  // Set by ut_options_database on its root node.
  void set_database_root() { database_root_ = true; }

 private:
  ut_attribute_tree_attribute *append_record(const char *key, ut_attribute_type type);
  ut_attribute_tree_attribute *find_or_append(const char *key);
  void report_missing(const char *key, ut_attribute_type type);
  ut_attribute_tree_attribute *find_typed(const char *key, ut_attribute_type type) const;
  void link_child(ut_attribute_tree *child);
  void unlink_child(ut_attribute_tree *child);
  void relink_children(const std::vector<ut_attribute_tree *> &order);
  void drop_attribute_index();
  void drop_child_index() { child_index_.clear(); }

  char *name_;
  ut_attribute_tree *parent_ = nullptr;
  ut_attribute_tree *next_sibling_ = nullptr;
  ut_attribute_tree *first_child_ = nullptr;
  ut_attribute_tree *last_child_ = nullptr;
  int child_count_ = 0;
  bool database_root_ = false;
  bool open_block_ = false;
  bool missing_reported_ = false;
  bool hidden_ = false;
  std::vector<ut_attribute_tree_attribute> attrs_;
  // First record (index) and first child per name, kept once a node grows
  // past a handful of entries; empty means "not built".
  mutable std::unordered_map<std::string_view, size_t> attr_index_;
  mutable std::unordered_map<std::string_view, ut_attribute_tree *> child_index_;
};
