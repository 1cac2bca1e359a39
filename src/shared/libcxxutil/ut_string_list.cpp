// ut_string_list: doubly-linked list of ut_string values. Sorting collects
// the node pointers in a temporary array, sorts that with the library sort and
// relinks the nodes, so no string is copied.
#include "shared/libcxxutil/ut_string_list.h"

#include <cstring>
#include <vector>

#include "shared/indgen.h"

namespace {

int compare_nodes(void *context, const void *a, const void *b) {
  const auto *na = *static_cast<ut_string_list_node *const *>(a);
  const auto *nb = *static_cast<ut_string_list_node *const *>(b);
  return std::strcmp(na->value.c_str(), nb->value.c_str());
}

}  // namespace

ut_string_list::ut_string_list(const ut_string_list &other) { append_list(other); }

ut_string_list &ut_string_list::operator=(const ut_string_list &other) {
  if (this != &other) {
    clear();
    append_list(other);
  }
  return *this;
}

ut_string_list::~ut_string_list() { clear(); }

void ut_string_list::link_before(ut_string_list_node *where, ut_string_list_node *node) {
  node->next = where;
  node->prev = where ? where->prev : tail;
  if (node->prev) {
    node->prev->next = node;
  } else {
    head = node;
  }
  if (where) {
    where->prev = node;
  } else {
    tail = node;
  }
  ++count;
}

void ut_string_list::push_front(const ut_string &value) { insert(head, value); }

void ut_string_list::push_front(const char *text) { push_front(ut_string(text)); }

void ut_string_list::push_back(const ut_string &value) { insert(nullptr, value); }

void ut_string_list::push_back(const char *text) { push_back(ut_string(text)); }

void ut_string_list::push_front_concat(const char *a, const char *b) {
  ut_string s;
  s.assign_concat(a, b);
  push_front(s);
}

void ut_string_list::push_back_concat(const char *a, const char *b) {
  ut_string s;
  s.assign_concat(a, b);
  push_back(s);
}

void ut_string_list::insert(ut_string_list_iterator where, const ut_string &value) {
  auto *node = new ut_string_list_node;
  node->value = value;
  link_before(where.node(), node);
}

ut_string_list_iterator ut_string_list::erase(ut_string_list_iterator where) {
  ut_string_list_node *node = where.node();
  if (!node) return nullptr;
  ut_string_list_node *next = node->next;
  if (node->prev) {
    node->prev->next = next;
  } else {
    head = next;
  }
  if (next) {
    next->prev = node->prev;
  } else {
    tail = node->prev;
  }
  --count;
  delete node;
  return next;
}

void ut_string_list::remove(const ut_string &value) {
  // The value may live in one of the nodes being removed: keep a reference.
  ut_string key(value);
  for (ut_string_list_iterator it = head; !it.is_end();) {
    it = (*it == key) ? erase(it) : ++it;
  }
}

ut_string_list_iterator ut_string_list::find(const ut_string &value) const {
  for (ut_string_list_iterator it = head; !it.is_end(); ++it) {
    if (*it == value) return it;
  }
  return nullptr;
}

void ut_string_list::clear() {
  while (head) erase(head);
}

bool ut_string_list::operator==(const ut_string_list &other) const {
  if (count != other.count) return false;
  ut_string_list_node *a = head;
  ut_string_list_node *b = other.head;
  for (; a && b; a = a->next, b = b->next) {
    if (a->value != b->value) return false;
  }
  return true;
}

void ut_string_list::sort() {
  if (count < 2) return;
  std::vector<ut_string_list_node *> nodes;
  nodes.reserve(count);
  for (ut_string_list_node *n = head; n; n = n->next) nodes.push_back(n);
  twl_sort(nullptr, nodes.data(), nodes.size(), sizeof(ut_string_list_node *), compare_nodes,
           nullptr);
  head = tail = nullptr;
  int n = count;
  count = 0;
  for (int i = 0; i < n; ++i) link_before(nullptr, nodes[i]);
}

void ut_string_list::append_list(const ut_string_list &other) {
  // Walk a fixed number of nodes so that appending a list to itself ends.
  ut_string_list_node *n = other.head;
  for (int left = other.count; left > 0 && n; --left, n = n->next) push_back(n->value);
}

ut_string_list *ut_string_list::copy_list(const ut_string_list *list) {
  return list ? new ut_string_list(*list) : nullptr;
}
