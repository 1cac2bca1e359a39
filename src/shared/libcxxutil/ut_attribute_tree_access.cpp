// ut_attribute_tree access: the typed getters with their warnings, the
// setters, the child shortcuts and the value functions of records.
#include <cstring>

#include "shared/indgen.h"
#include "shared/libcxxutil/string_parser.h"
#include "shared/libcxxutil/ut_attribute_tree.h"
#include "shared/libcxxutil/ut_attribute_values.h"

namespace {

// Whether the whole text is a number (base detection, optional sign).
bool whole_number(const char *text, int32_t *out) {
  const char *p = text;
  while (gen_isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int32_t n = 0;
  const char *end = string_parser::parse_number(p, &n);
  if (!end || *end) return false;
  *out = negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(n)) : n;
  return true;
}

// A drive letter and ":" not followed by a separator.
bool looks_unbackslashed(const char *v) {
  bool letter = (v[0] >= 'a' && v[0] <= 'z') || (v[0] >= 'A' && v[0] <= 'Z');
  return letter && v[1] == ':' && v[2] != '/' && v[2] != '\\';
}

}  // namespace

// ---------------------------------------------------------------------------
// Getters.

const char *ut_attribute_tree::get_str_attribute(const char *key, const char *def) {
  if (ut_attribute_tree_attribute *a = find_typed(key, UT_ATTRIBUTE_STR)) return a->value.str;
  report_missing(key, UT_ATTRIBUTE_STR);
  return def;
}

const char *ut_attribute_tree::get_optional_str_attribute(const char *key, const char *def) const {
  ut_attribute_tree_attribute *a = find_typed(key, UT_ATTRIBUTE_STR);
  return a ? a->value.str : def;
}

int32_t ut_attribute_tree::get_int32_attribute(const char *key, int32_t def) {
  if (ut_attribute_tree_attribute *a = find_typed(key, UT_ATTRIBUTE_INT32)) return a->value.int32;
  report_missing(key, UT_ATTRIBUTE_INT32);
  return def;
}

int32_t ut_attribute_tree::get_optional_int32_attribute(const char *key, int32_t def) const {
  ut_attribute_tree_attribute *a = find_typed(key, UT_ATTRIBUTE_INT32);
  return a ? a->value.int32 : def;
}

bool ut_attribute_tree::get_bool_attribute(const char *key, bool def) {
  ut_attribute_tree_attribute *a = find_attribute(key);
  if (a && (a->type == UT_ATTRIBUTE_INT32 || a->type == UT_ATTRIBUTE_STR)) return get_attribute_bool_value(a, def);
  report_missing(key, UT_ATTRIBUTE_INT32);
  return def;
}

bool ut_attribute_tree::get_optional_bool_attribute(const char *key, bool def) const {
  return get_attribute_bool_value(find_attribute(key), def);
}

const ut_attribute_str_list *ut_attribute_tree::get_str_list_attribute(const char *key) {
  if (ut_attribute_tree_attribute *a = find_typed(key, UT_ATTRIBUTE_STR_LIST)) return a->value.str_list;
  report_missing(key, UT_ATTRIBUTE_STR_LIST);
  return nullptr;
}

const ut_attribute_str_list *ut_attribute_tree::get_optional_str_list_attribute(const char *key) const {
  ut_attribute_tree_attribute *a = find_typed(key, UT_ATTRIBUTE_STR_LIST);
  return a ? a->value.str_list : nullptr;
}

const ut_attribute_int32_list *ut_attribute_tree::get_int32_list_attribute(const char *key) {
  if (ut_attribute_tree_attribute *a = find_typed(key, UT_ATTRIBUTE_INT32_LIST)) return a->value.int32_list;
  report_missing(key, UT_ATTRIBUTE_INT32_LIST);
  return nullptr;
}

const ut_attribute_int32_list *ut_attribute_tree::get_optional_int32_list_attribute(const char *key) const {
  ut_attribute_tree_attribute *a = find_typed(key, UT_ATTRIBUTE_INT32_LIST);
  return a ? a->value.int32_list : nullptr;
}

int32_t ut_attribute_tree::get_attribute_as_int32(const char *key, int32_t def) {
  ut_attribute_tree_attribute *a = find_attribute(key);
  if (!a || (a->type != UT_ATTRIBUTE_INT32 && a->type != UT_ATTRIBUTE_STR)) {
    report_missing(key, UT_ATTRIBUTE_INT32);
    return def;
  }
  return get_optional_attribute_as_int32(key, def);
}

int32_t ut_attribute_tree::get_optional_attribute_as_int32(const char *key, int32_t def) const {
  ut_attribute_tree_attribute *a = find_attribute(key);
  if (!a) return def;
  if (a->type == UT_ATTRIBUTE_INT32) return a->value.int32;
  int32_t n = 0;
  if (a->type == UT_ATTRIBUTE_STR && a->value.str && whole_number(a->value.str, &n) && n != -1) return n;
  return def;
}

const char *ut_attribute_tree::get_filename_attribute(const char *key, const char *def) {
  const char *v = get_str_attribute(key, def);
  if (v && looks_unbackslashed(v))
    gen_warning("filename attribute \"%s\" appears to not have been backslashed \"%s\"", key, v);
  return v;
}

const char *ut_attribute_tree::get_optional_filename_attribute(const char *key, const char *def) const {
  const char *v = get_optional_str_attribute(key, def);
  if (v && looks_unbackslashed(v))
    gen_warning("filename attribute \"%s\" appears to not have been backslashed \"%s\"", key, v);
  return v;
}

char *ut_attribute_tree::get_str_attribute_quoted(const char *key, const char *def) {
  const char *v = get_str_attribute(key, def);
  return v ? gen_quotify_string(v) : nullptr;
}

char *ut_attribute_tree::get_str_attribute_escaped(const char *key, const char *def) {
  const char *v = get_str_attribute(key, def);
  return v ? gen_escapify_string(v) : nullptr;
}

// ---------------------------------------------------------------------------
// Setters.

ut_attribute_tree_attribute *ut_attribute_tree::add_str_attribute(const char *key, const char *value) {
  ut_attribute_tree_attribute *a = append_record(key, UT_ATTRIBUTE_INT32);
  if (a) ut_attribute_values::set_str(*a, value);
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::add_int32_attribute(const char *key, int32_t value) {
  ut_attribute_tree_attribute *a = append_record(key, UT_ATTRIBUTE_INT32);
  if (a) ut_attribute_values::set_int32(*a, value);
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::add_str_list_attribute(const char *key, const char *value) {
  ut_attribute_tree_attribute *a = append_record(key, UT_ATTRIBUTE_INT32);
  if (a) ut_attribute_values::set_str_list(*a, &value, 1);
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::add_int32_list_attribute(const char *key, int32_t value) {
  ut_attribute_tree_attribute *a = append_record(key, UT_ATTRIBUTE_INT32);
  if (a) ut_attribute_values::set_int32_list(*a, &value, 1);
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::find_or_append(const char *key) {
  ut_attribute_tree_attribute *a = find_attribute(key);
  return a ? a : append_record(key, UT_ATTRIBUTE_INT32);
}

ut_attribute_tree_attribute *ut_attribute_tree::add_or_replace_str_attribute(const char *key, const char *value) {
  ut_attribute_tree_attribute *a = find_or_append(key);
  if (a) ut_attribute_values::set_str(*a, value);
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::add_or_replace_int32_attribute(const char *key, int32_t value) {
  ut_attribute_tree_attribute *a = find_or_append(key);
  if (a) ut_attribute_values::set_int32(*a, value);
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::add_or_replace_str_list_attribute(const char *key,
                                                                                  const char *value) {
  return set_str_list_attribute(key, &value, 1);
}

ut_attribute_tree_attribute *ut_attribute_tree::add_or_replace_int32_list_attribute(const char *key, int32_t value) {
  return set_int32_list_attribute(key, &value, 1);
}

ut_attribute_tree_attribute *ut_attribute_tree::set_str_list_attribute(const char *key, const char *const *values,
                                                                       int count) {
  ut_attribute_tree_attribute *a = find_or_append(key);
  if (a) ut_attribute_values::set_str_list(*a, values, count);
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::set_int32_list_attribute(const char *key, const int32_t *values,
                                                                         int count) {
  ut_attribute_tree_attribute *a = find_or_append(key);
  if (a) ut_attribute_values::set_int32_list(*a, values, count);
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::append_str_attribute(const char *key, const char *value) {
  ut_attribute_tree_attribute *a = find_attribute(key);
  if (!a) return add_str_attribute(key, value);
  if (a->type != UT_ATTRIBUTE_STR) {
    ut_attribute_values::set_str(*a, value);
    return a;
  }
  char *joined = gen_concat(a->value.str, value);
  gen_free(a->value.str);
  a->value.str = joined;
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::append_str_list_attribute(const char *key, const char *value) {
  ut_attribute_tree_attribute *a = find_attribute(key);
  if (!a) return add_str_list_attribute(key, value);
  if (a->type == UT_ATTRIBUTE_STR_LIST) {
    ut_attribute_values::push_str(*a, value);
  } else {
    ut_attribute_values::set_str_list(*a, &value, 1);
  }
  return a;
}

ut_attribute_tree_attribute *ut_attribute_tree::append_int32_list_attribute(const char *key, int32_t value) {
  ut_attribute_tree_attribute *a = find_attribute(key);
  if (!a) return add_int32_list_attribute(key, value);
  if (a->type == UT_ATTRIBUTE_INT32_LIST) {
    ut_attribute_values::push_int32(*a, value);
  } else {
    ut_attribute_values::set_int32_list(*a, &value, 1);
  }
  return a;
}

// ---------------------------------------------------------------------------
// Child shortcuts.

const char *ut_attribute_tree::get_child_str_attribute(const char *child, const char *key, const char *def) {
  ut_attribute_tree *c = find_child_tree(child);
  return c ? c->get_str_attribute(key, def) : def;
}

const char *ut_attribute_tree::get_child_optional_str_attribute(const char *child, const char *key,
                                                                const char *def) const {
  ut_attribute_tree *c = find_child_tree(child);
  return c ? c->get_optional_str_attribute(key, def) : def;
}

int32_t ut_attribute_tree::get_child_int32_attribute(const char *child, const char *key, int32_t def) {
  ut_attribute_tree *c = find_child_tree(child);
  return c ? c->get_int32_attribute(key, def) : def;
}

int32_t ut_attribute_tree::get_child_optional_int32_attribute(const char *child, const char *key,
                                                              int32_t def) const {
  ut_attribute_tree *c = find_child_tree(child);
  return c ? c->get_optional_int32_attribute(key, def) : def;
}

bool ut_attribute_tree::get_child_optional_bool_attribute(const char *child, const char *key, bool def) const {
  ut_attribute_tree *c = find_child_tree(child);
  return c ? c->get_optional_bool_attribute(key, def) : def;
}

const char *ut_attribute_tree::get_child_child_str_attribute(const char *child1, const char *child2,
                                                             const char *key, const char *def) {
  ut_attribute_tree *c = find_child_child_tree(child1, child2);
  return c ? c->get_str_attribute(key, def) : def;
}

int32_t ut_attribute_tree::get_child_child_int32_attribute(const char *child1, const char *child2, const char *key,
                                                           int32_t def) {
  ut_attribute_tree *c = find_child_child_tree(child1, child2);
  return c ? c->get_int32_attribute(key, def) : def;
}

// ---------------------------------------------------------------------------
// Record values.

const char *ut_attribute_tree::get_attribute_str_value(const ut_attribute_tree_attribute *attr) {
  return attr && attr->type == UT_ATTRIBUTE_STR ? attr->value.str : nullptr;
}

int32_t ut_attribute_tree::get_attribute_int32_value(const ut_attribute_tree_attribute *attr) {
  return attr && attr->type == UT_ATTRIBUTE_INT32 ? attr->value.int32 : -1;
}

const ut_attribute_int32_list *ut_attribute_tree::get_int32_list_value(const ut_attribute_tree_attribute *attr) {
  return attr && attr->type == UT_ATTRIBUTE_INT32_LIST ? attr->value.int32_list : nullptr;
}

bool ut_attribute_tree::get_attribute_bool_value(const ut_attribute_tree_attribute *attr, bool def) {
  if (!attr) return def;
  if (attr->type == UT_ATTRIBUTE_INT32) return attr->value.int32 != 0;
  if (attr->type != UT_ATTRIBUTE_STR || !attr->value.str) return def;
  const char *v = attr->value.str;
  while (gen_isspace(static_cast<unsigned char>(*v))) ++v;
  return gen_strequal(v, "yes") || gen_strequal(v, "1") || gen_strequal(v, "on") || gen_strequal(v, "true");
}

char **ut_attribute_tree::get_attribute_strlist_value(const ut_attribute_tree_attribute *attr, bool copy,
                                                      int *count) {
  int n = 0;
  if (count) *count = 0;
  if (!attr || (attr->type != UT_ATTRIBUTE_STR && attr->type != UT_ATTRIBUTE_STR_LIST)) return nullptr;
  if (attr->type == UT_ATTRIBUTE_STR) {
    n = 1;
  } else {
    for (const ut_attribute_str_list *e = attr->value.str_list; e; e = e->next) ++n;
  }
  char **array = static_cast<char **>(gen_calloc(static_cast<size_t>(n) + 1, sizeof(char *)));
  if (attr->type == UT_ATTRIBUTE_STR) {
    array[0] = copy ? gen_copy(attr->value.str) : attr->value.str;
  } else {
    int i = 0;
    for (const ut_attribute_str_list *e = attr->value.str_list; e; e = e->next)
      array[i++] = copy ? gen_copy(e->value) : e->value;
  }
  if (count) *count = n;
  return array;
}
