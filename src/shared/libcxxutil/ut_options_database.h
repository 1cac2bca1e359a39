// ut_options_database: the root of an attribute tree together with what is
// needed to read it from and write it to a text file: a macro map (with the
// predefined "_KORVO_DIR", "__KORVO_DIR__" and "__KORVO_HOST__"), the list of
// files opened while reading, and an optional client interface.
//
// File syntax, one statement per line (comments, "%" directives, includes
// and macro references are handled by ut_file_parser):
//   key = value          add or replace an attribute
//   key += value         append (strings concatenate, lists grow)
//   name {  ...  }       a child block
//   a.b.key = value      descend into children for this line only
// Values: "string" (C escapes), integers (0x hex, leading-0 octal, optional
// "-", K/M suffixes in memory-size mode), boolean words (yes/on/true: 1,
// no.../off/false: 0), { "s1", "s2" } string lists, { 1, 2 } integer lists
// when allowed.
//
// Reading a file into the database and writing it back:
//   ut_options_database db("MyGroup");
//   if (!db.read_from_file_name(path)) { ... db.got_file_open_or_parse_error() ... }
//   db.find_child_tree("String")->get_optional_str_attribute("name");
//   db.write_to_file_name(path);
// One thread.
#pragma once

#include <cstdio>

#include "shared/libcxxutil/ut_attribute_tree.h"
#include "shared/libcxxutil/ut_client_interface.h"
#include "shared/libcxxutil/ut_macro_map.h"
#include "shared/libcxxutil/ut_string.h"
#include "shared/libcxxutil/ut_string_list.h"

class ut_file_parser;

class ut_options_database : public ut_attribute_tree {
 public:
  // `name` is copied (the root node's own tree name stays empty). The
  // client interface may be null; with `owns_client` it is deleted with the
  // database.
  explicit ut_options_database(const char *name, ut_client_interface *client = nullptr, bool owns_client = false);
  ~ut_options_database() override;

  const char *get_database_name() const { return db_name_.c_str(); }
  ut_attribute_tree *get_root_node() { return this; }
  ut_client_interface *get_client_interface() const { return client_; }

  // ---- Reading. Both return false when the file could not be opened (the
  // file-open flag is set, nothing is reported) or held a parse error
  // (reported as "%s: parse error: %s" with the position; the parse-error
  // flag is set). What was read before an error stays in the tree. With a
  // client interface whose preprocess_file refuses the file, nothing is
  // read and the result is true.
  bool read_from_file_name(const char *file);
  bool read_from_file_name_into_node(const char *file, ut_attribute_tree *node);
  // Not available: reports "[ut_options_database::read_from_file]: not
  // implemented" and returns false.
  bool read_from_file(FILE *stream);
  bool got_file_open_or_parse_error() const { return file_open_error_ || parse_error_; }
  // Every file opened by reads, main and included, in opening order.
  const ut_string_list &get_opened_files_list() const { return opened_files_; }

  // ---- Writing, in the nested form or (compatibility mode) as one dotted
  // line per attribute. write_to_file_name returns false silently when the
  // file cannot be opened, and reports "failed when writing %s" when a write
  // or the close fails. write_to_file returns false when the stream's error
  // indicator is set afterwards.
  bool write_to_file_name(const char *file);
  bool write_to_file(FILE *stream);

  // ---- Modes (all off at construction).
  void set_compatibility_mode(bool on) { compatibility_mode_ = on; }
  bool get_compatibility_mode() const { return compatibility_mode_; }
  void set_memory_size_shortcut_mode(bool on) { memory_size_shortcut_ = on; }
  bool get_memory_size_shortcut_mode() const { return memory_size_shortcut_; }
  void set_allow_int32_lists(bool on) { allow_int32_lists_ = on; }
  bool get_allow_int32_lists() const { return allow_int32_lists_; }
  // With this set, a parse error skips the rest of its line instead of
  // ending the read.
  void set_continue_after_errors(bool on) { continue_after_errors_ = on; }
  bool get_continue_after_errors() const { return continue_after_errors_; }

  // ---- Macros.
  void add_macro(const char *name, const char *value);
  // "name=value", or a bare "name" (defined with a null value).
  void add_macro(const char *definition);
  void add_int32_macro(const char *name, int value);
  // Every attribute of `node` as a macro: key and string value (null for
  // attributes that are not strings).
  void add_macros_from_tree(const ut_attribute_tree *node);
  void add_macros_from_options_database(const ut_options_database *other);
  // The macro's value (owned by the map; "" for a macro defined without a
  // value) or null; a missing required macro is reported as "macro not
  // defined(%s) ...".
  const char *get_define_value(const char *name, bool required) const;
  ut_macro_map &get_macros() { return macros_; }

 private:
  friend class ut_options_database_reader;

  ut_string db_name_;
  ut_macro_map macros_;
  ut_file_parser *parser_ = nullptr;  // only while a read runs
  ut_string_list opened_files_;
  ut_client_interface *client_;
  bool owns_client_;
  bool file_open_error_ = false;
  bool parse_error_ = false;
  bool continue_after_errors_ = false;
  bool compatibility_mode_ = false;
  bool memory_size_shortcut_ = false;
  bool allow_int32_lists_ = false;
};
