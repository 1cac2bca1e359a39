// ut_string_list: a doubly-linked list of ut_string values.
//
// The list owns its nodes; each node holds one ut_string (a reference to
// shared characters). An iterator is a node pointer; the null iterator is the
// end. Iterators stay valid until their node is erased. One thread.
#pragma once

#include "shared/libcxxutil/ut_string.h"

struct ut_string_list_node {
  ut_string value;
  ut_string_list_node *next = nullptr;
  ut_string_list_node *prev = nullptr;
};

// A node pointer with the operations of a bidirectional iterator; the null
// node is the end.
class ut_string_list_iterator {
 public:
  ut_string_list_iterator(ut_string_list_node *node = nullptr) : node_(node) {}  // NOLINT

  ut_string_list_node *node() const { return node_; }
  bool is_end() const { return node_ == nullptr; }
  const ut_string &operator*() const { return node_->value; }
  const ut_string *operator->() const { return &node_->value; }
  ut_string_list_iterator &operator++() {
    node_ = node_->next;
    return *this;
  }
  ut_string_list_iterator &operator--() {
    node_ = node_->prev;
    return *this;
  }
  bool operator==(const ut_string_list_iterator &o) const { return node_ == o.node_; }
  bool operator!=(const ut_string_list_iterator &o) const { return node_ != o.node_; }

 private:
  ut_string_list_node *node_;
};

class ut_string_list {
 public:
  ut_string_list() = default;
  // Element-by-element copies (the strings themselves are shared).
  ut_string_list(const ut_string_list &other);
  ut_string_list &operator=(const ut_string_list &other);
  ~ut_string_list();

  void push_front(const ut_string &value);
  void push_front(const char *text);
  void push_back(const ut_string &value);
  void push_back(const char *text);
  // Adds a followed by b (null parts count as "").
  void push_front_concat(const char *a, const char *b);
  void push_back_concat(const char *a, const char *b);
  // Inserts before the iterator's node; at the end for the end iterator.
  void insert(ut_string_list_iterator where, const ut_string &value);
  // Removes the node; returns the iterator of the node after it. Erasing the
  // end iterator does nothing and returns the end.
  ut_string_list_iterator erase(ut_string_list_iterator where);
  // Removes every element equal to value.
  void remove(const ut_string &value);
  // The first element equal to value, or the end.
  ut_string_list_iterator find(const ut_string &value) const;
  void clear();
  // Same count and pairwise equal.
  bool operator==(const ut_string_list &other) const;
  bool operator!=(const ut_string_list &other) const { return !(*this == other); }
  // Ascending by strcmp.
  void sort();
  // Appends copies of the elements of other (other may be this list).
  void append_list(const ut_string_list &other);
  // A new list with the same elements (caller deletes), or null for null.
  static ut_string_list *copy_list(const ut_string_list *list);

  ut_string_list_iterator begin() const { return head; }
  ut_string_list_iterator end() const { return nullptr; }
  int size() const { return count; }
  bool empty() const { return count == 0; }

  ut_string_list_node *head = nullptr;
  ut_string_list_node *tail = nullptr;
  int count = 0;

 private:
  void link_before(ut_string_list_node *where, ut_string_list_node *node);
};
