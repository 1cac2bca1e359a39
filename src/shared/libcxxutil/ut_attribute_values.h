// ut_attribute_values: the values of ut_attribute_tree_attribute records:
// setting, replacing and appending typed values and lists, and freeing
// them. Used by ut_attribute_tree and the options database; not meant for
// other callers.
//
// Every string stored is a gen_copy; list nodes come from gen_calloc. A
// record's `last` always points at the last list node (null when empty).
#pragma once

#include <cstdint>

#include "shared/libcxxutil/ut_attribute_tree.h"

namespace ut_attribute_values {

// Frees the value and the key of the record.
void destroy(ut_attribute_tree_attribute &a);
// Frees the value only; the record then holds integer 0.
void clear(ut_attribute_tree_attribute &a);

// Replace the value (and type) of the record.
void set_str(ut_attribute_tree_attribute &a, const char *value);
void set_int32(ut_attribute_tree_attribute &a, int32_t value);
void set_str_list(ut_attribute_tree_attribute &a, const char *const *values, int count);
void set_int32_list(ut_attribute_tree_attribute &a, const int32_t *values, int count);

// Append an element to a record that already is a list of that type.
void push_str(ut_attribute_tree_attribute &a, const char *value);
void push_int32(ut_attribute_tree_attribute &a, int32_t value);

}  // namespace ut_attribute_values
