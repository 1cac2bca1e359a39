// ut_options_database: construction, macros and the read entry points. The
// statement reader is in ut_options_database_read.cpp, the writers in
// ut_options_database_write.cpp.
#include "shared/libcxxutil/ut_options_database.h"

#include <cstring>
#include <string>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_file_parser.h"
#include "shared/libcxxutil/ut_options_database_reader.h"

ut_options_database::ut_options_database(const char *name, ut_client_interface *client, bool owns_client)
    : db_name_(name), client_(client), owns_client_(owns_client) {
  set_database_root();
  const char *progdir = gen_getprogdir();
  macros_.insert("_KORVO_DIR", progdir ? progdir : "");
  macros_.insert("__KORVO_DIR__", progdir ? progdir : "");
  macros_.insert("__KORVO_HOST__", "solaris2");
}

ut_options_database::~ut_options_database() {
  if (owns_client_) delete client_;
}

bool ut_options_database::read_from_file_name(const char *file) { return read_from_file_name_into_node(file, this); }

bool ut_options_database::read_from_file_name_into_node(const char *file, ut_attribute_tree *node) {
  if (!node) node = this;
  if (client_ && !client_->preprocess_file(file, 0)) return true;
  ut_file_parser parser(false, true, &macros_, client_);
  if (!parser.open_file(file)) {
    file_open_error_ = true;
    return false;
  }
  parser_ = &parser;
  ut_options_database_reader reader(*this, parser, node);
  bool ok = reader.run();
  opened_files_.append_list(parser.get_opened_files_list());
  parser_ = nullptr;
  return ok;
}

bool ut_options_database::read_from_file(FILE *) {
  gen_error("[ut_options_database::read_from_file]: not implemented");
  return false;
}

void ut_options_database::add_macro(const char *name, const char *value) { macros_.insert(name, value); }

void ut_options_database::add_macro(const char *definition) {
  if (!definition) return;
  const char *eq = std::strchr(definition, '=');
  if (!eq) {
    macros_.insert(definition, nullptr);
    return;
  }
  macros_.insert(definition, static_cast<int>(eq - definition), eq + 1);
}

void ut_options_database::add_int32_macro(const char *name, int value) {
  macros_.insert(name, std::to_string(value).c_str());
}

void ut_options_database::add_macros_from_tree(const ut_attribute_tree *node) {
  if (!node) return;
  for (auto *a = node->get_first_attribute(); a; a = node->get_next_attribute(a))
    macros_.insert(a->key, get_attribute_str_value(a));
}

void ut_options_database::add_macros_from_options_database(const ut_options_database *other) {
  if (other) macros_.insert(other->macros_);
}

const char *ut_options_database::get_define_value(const char *name, bool required) const {
  if (const ut_string *v = macros_.find(name)) return v->c_str();
  if (required) gen_error("macro not defined(%s) ...", name ? name : "");
  return nullptr;
}
