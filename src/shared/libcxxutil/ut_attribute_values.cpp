// ut_attribute_values: see ut_attribute_values.h.
#include "shared/libcxxutil/ut_attribute_values.h"

#include "shared/indgen.h"

namespace ut_attribute_values {

void clear(ut_attribute_tree_attribute &a) {
  switch (a.type) {
    case UT_ATTRIBUTE_STR:
      gen_free(a.value.str);
      break;
    case UT_ATTRIBUTE_STR_LIST:
      for (ut_attribute_str_list *n = a.value.str_list; n;) {
        ut_attribute_str_list *next = n->next;
        gen_free(n->value);
        gen_free(n);
        n = next;
      }
      break;
    case UT_ATTRIBUTE_INT32_LIST:
      for (ut_attribute_int32_list *n = a.value.int32_list; n;) {
        ut_attribute_int32_list *next = n->next;
        gen_free(n);
        n = next;
      }
      break;
    case UT_ATTRIBUTE_INT32:
      break;
  }
  a.type = UT_ATTRIBUTE_INT32;
  a.value.int32 = 0;
  a.last = nullptr;
}

void destroy(ut_attribute_tree_attribute &a) {
  clear(a);
  gen_free(a.key);
  a.key = nullptr;
}

void set_str(ut_attribute_tree_attribute &a, const char *value) {
  // The copy is made first: value may point into the old value.
  char *copy = gen_copy(value);
  clear(a);
  a.type = UT_ATTRIBUTE_STR;
  a.value.str = copy;
}

void set_int32(ut_attribute_tree_attribute &a, int32_t value) {
  clear(a);
  a.value.int32 = value;
}

void set_str_list(ut_attribute_tree_attribute &a, const char *const *values, int count) {
  ut_attribute_tree_attribute fresh{};
  fresh.type = UT_ATTRIBUTE_STR_LIST;
  for (int i = 0; i < count; ++i) push_str(fresh, values[i]);
  clear(a);
  a.type = fresh.type;
  a.value = fresh.value;
  a.last = fresh.last;
}

void set_int32_list(ut_attribute_tree_attribute &a, const int32_t *values, int count) {
  ut_attribute_tree_attribute fresh{};
  fresh.type = UT_ATTRIBUTE_INT32_LIST;
  for (int i = 0; i < count; ++i) push_int32(fresh, values[i]);
  clear(a);
  a.type = fresh.type;
  a.value = fresh.value;
  a.last = fresh.last;
}

void push_str(ut_attribute_tree_attribute &a, const char *value) {
  auto *n = static_cast<ut_attribute_str_list *>(gen_calloc(1, sizeof(ut_attribute_str_list)));
  n->value = gen_copy(value);
  if (a.last) {
    static_cast<ut_attribute_str_list *>(a.last)->next = n;
  } else {
    a.value.str_list = n;
  }
  a.last = n;
}

void push_int32(ut_attribute_tree_attribute &a, int32_t value) {
  auto *n = static_cast<ut_attribute_int32_list *>(gen_calloc(1, sizeof(ut_attribute_int32_list)));
  n->value = value;
  if (a.last) {
    static_cast<ut_attribute_int32_list *>(a.last)->next = n;
  } else {
    a.value.int32_list = n;
  }
  a.last = n;
}

}  // namespace ut_attribute_values
