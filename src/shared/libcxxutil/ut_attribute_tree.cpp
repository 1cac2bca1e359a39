// ut_attribute_tree: structure (children, sorting, paths) and the attribute
// records. Getters and setters are in ut_attribute_tree_access.cpp.
//
// Children form a singly linked sibling list with first and last pointers.
// Destruction walks the subtree with an explicit work list, so a very deep
// tree (a hostile file can describe one) cannot exhaust the stack.
#include "shared/libcxxutil/ut_attribute_tree.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_attribute_values.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

// Nodes with more entries than this keep a name index.
constexpr size_t kIndexThreshold = 16;

bool usable(const char *name) { return name && *name; }

}  // namespace

const char *ut_attribute_type_name(ut_attribute_type type) {
  switch (type) {
    case UT_ATTRIBUTE_STR: return "str";
    case UT_ATTRIBUTE_INT32: return "int32";
    case UT_ATTRIBUTE_STR_LIST: return "str_list";
    case UT_ATTRIBUTE_INT32_LIST: return "int32_list";
  }
  return "unknown";
}

ut_attribute_tree::ut_attribute_tree(const char *name) : name_(gen_copy(name ? name : "")) {}

ut_attribute_tree::~ut_attribute_tree() {
  std::vector<ut_attribute_tree *> work;
  for (ut_attribute_tree *c = first_child_; c; c = c->next_sibling_) work.push_back(c);
  first_child_ = last_child_ = nullptr;
  while (!work.empty()) {
    ut_attribute_tree *node = work.back();
    work.pop_back();
    for (ut_attribute_tree *c = node->first_child_; c; c = c->next_sibling_) work.push_back(c);
    node->first_child_ = node->last_child_ = nullptr;
    delete node;
  }
  for (ut_attribute_tree_attribute &a : attrs_) ut_attribute_values::destroy(a);
  gen_free(name_);
}

// ---------------------------------------------------------------------------
// Structure.

ut_attribute_tree *ut_attribute_tree::find_child_tree(const char *name) const {
  if (!usable(name)) return nullptr;
  if (static_cast<size_t>(child_count_) > kIndexThreshold) {
    if (child_index_.empty())
      for (ut_attribute_tree *c = first_child_; c; c = c->next_sibling_) child_index_.emplace(c->name_, c);
    auto it = child_index_.find(name);
    return it == child_index_.end() ? nullptr : it->second;
  }
  for (ut_attribute_tree *c = first_child_; c; c = c->next_sibling_)
    if (!std::strcmp(c->name_, name)) return c;
  return nullptr;
}

ut_attribute_tree *ut_attribute_tree::find_child_child_tree(const char *name1, const char *name2) const {
  ut_attribute_tree *c = find_child_tree(name1);
  return c ? c->find_child_tree(name2) : nullptr;
}

ut_attribute_tree *ut_attribute_tree::find_child_child_child_tree(const char *name1, const char *name2,
                                                                  const char *name3) const {
  ut_attribute_tree *c = find_child_child_tree(name1, name2);
  return c ? c->find_child_tree(name3) : nullptr;
}

void ut_attribute_tree::link_child(ut_attribute_tree *child) {
  child->parent_ = this;
  child->next_sibling_ = nullptr;
  if (last_child_) {
    last_child_->next_sibling_ = child;
  } else {
    first_child_ = child;
  }
  last_child_ = child;
  ++child_count_;
  if (!child_index_.empty()) child_index_.emplace(child->name_, child);
}

void ut_attribute_tree::unlink_child(ut_attribute_tree *child) {
  ut_attribute_tree *prev = nullptr;
  for (ut_attribute_tree *c = first_child_; c; prev = c, c = c->next_sibling_) {
    if (c != child) continue;
    (prev ? prev->next_sibling_ : first_child_) = c->next_sibling_;
    if (last_child_ == c) last_child_ = prev;
    c->parent_ = c->next_sibling_ = nullptr;
    --child_count_;
    drop_child_index();
    return;
  }
}

ut_attribute_tree *ut_attribute_tree::add_child_tree(const char *name) {
  ut_attribute_tree *child = new ut_attribute_tree(name);
  link_child(child);
  return child;
}

ut_attribute_tree *ut_attribute_tree::find_or_add_child_tree(const char *name) {
  ut_attribute_tree *c = find_child_tree(name);
  return c ? c : add_child_tree(name);
}

ut_attribute_tree *ut_attribute_tree::remove_child_tree(const char *name, bool destroy) {
  ut_attribute_tree *c = find_child_tree(name);
  if (!c) return nullptr;
  unlink_child(c);
  if (!destroy) return c;
  delete c;
  return nullptr;
}

int ut_attribute_tree::count_child_trees(bool skip_hidden) const {
  if (!skip_hidden) return child_count_;
  int n = 0;
  for (ut_attribute_tree *c = first_child_; c; c = c->next_sibling_) n += !c->hidden_;
  return n;
}

ut_attribute_tree *ut_attribute_tree::get_first_child(bool skip_hidden) const {
  ut_attribute_tree *c = first_child_;
  while (c && skip_hidden && c->hidden_) c = c->next_sibling_;
  return c;
}

ut_attribute_tree *ut_attribute_tree::get_next_child(const ut_attribute_tree *child, bool skip_hidden) const {
  if (!child || child->parent_ != this) return nullptr;
  ut_attribute_tree *c = child->next_sibling_;
  while (c && skip_hidden && c->hidden_) c = c->next_sibling_;
  return c;
}

void ut_attribute_tree::relink_children(const std::vector<ut_attribute_tree *> &order) {
  first_child_ = last_child_ = nullptr;
  child_count_ = 0;
  drop_child_index();
  for (ut_attribute_tree *c : order) link_child(c);
}

void ut_attribute_tree::sort_children_by_name() {
  std::vector<ut_attribute_tree *> order;
  for (ut_attribute_tree *c = first_child_; c; c = c->next_sibling_) order.push_back(c);
  std::stable_sort(order.begin(), order.end(), [](const ut_attribute_tree *a, const ut_attribute_tree *b) {
    return std::strcmp(a->name_, b->name_) < 0;
  });
  relink_children(order);
}

namespace {

// Orders two optional values: a missing one after any present one.
int compare_optional(const char *a, const char *b) {
  if (!a || !b) return (a == nullptr) - (b == nullptr);
  return std::strcmp(a, b);
}

}  // namespace

void ut_attribute_tree::sort_children_by_str_attribute(const char *key1, const char *key2) {
  std::vector<ut_attribute_tree *> order;
  for (ut_attribute_tree *c = first_child_; c; c = c->next_sibling_) order.push_back(c);
  auto less = [key1, key2](const ut_attribute_tree *a, const ut_attribute_tree *b) {
    int r = compare_optional(a->get_optional_str_attribute(key1), b->get_optional_str_attribute(key1));
    if (r == 0 && key2) r = compare_optional(a->get_optional_str_attribute(key2), b->get_optional_str_attribute(key2));
    if (r == 0) r = std::strcmp(a->name_, b->name_);
    return r < 0;
  };
  std::stable_sort(order.begin(), order.end(), less);
  relink_children(order);
}

bool ut_attribute_tree::move_child_to_front(const char *name) {
  ut_attribute_tree *c = find_child_tree(name);
  if (!c) return false;
  unlink_child(c);
  c->parent_ = this;
  c->next_sibling_ = first_child_;
  first_child_ = c;
  if (!last_child_) last_child_ = c;
  ++child_count_;
  return true;
}

ut_attribute_tree *ut_attribute_tree::get_root() const {
  const ut_attribute_tree *n = this;
  while (n->parent_) n = n->parent_;
  return const_cast<ut_attribute_tree *>(n);
}

ut_string ut_attribute_tree::get_path_name(bool with_file) const {
  std::vector<const char *> names;
  const ut_attribute_tree *n = this;
  for (; n->parent_; n = n->parent_) names.push_back(n->name_);
  std::string path;
  if (with_file && n->database_root_) {
    const ut_string_list &files = static_cast<const ut_options_database *>(n)->get_opened_files_list();
    if (files.size() == 1) path = std::string(files.head->value.c_str()) + ":";
  }
  for (size_t i = names.size(); i-- > 0;) {
    path += names[i];
    if (i) path += '.';
  }
  return ut_string(path.c_str());
}

// ---------------------------------------------------------------------------
// Attribute records.

void ut_attribute_tree::drop_attribute_index() { attr_index_.clear(); }

ut_attribute_tree_attribute *ut_attribute_tree::find_attribute(const char *key) const {
  if (!usable(key)) return nullptr;
  auto *self = const_cast<ut_attribute_tree *>(this);
  if (attrs_.size() > kIndexThreshold) {
    if (attr_index_.empty())
      for (size_t i = 0; i < attrs_.size(); ++i) attr_index_.emplace(attrs_[i].key, i);
    auto it = attr_index_.find(key);
    return it == attr_index_.end() ? nullptr : &self->attrs_[it->second];
  }
  for (ut_attribute_tree_attribute &a : self->attrs_)
    if (!std::strcmp(a.key, key)) return &a;
  return nullptr;
}

ut_attribute_tree_attribute *ut_attribute_tree::find_typed(const char *key, ut_attribute_type type) const {
  ut_attribute_tree_attribute *a = find_attribute(key);
  return a && a->type == type ? a : nullptr;
}

bool ut_attribute_tree::remove_attribute(const char *key) {
  ut_attribute_tree_attribute *a = find_attribute(key);
  if (!a) return false;
  ut_attribute_values::destroy(*a);
  attrs_.erase(attrs_.begin() + (a - attrs_.data()));
  drop_attribute_index();
  return true;
}

ut_attribute_tree_attribute *ut_attribute_tree::append_record(const char *key, ut_attribute_type type) {
  if (!usable(key)) return nullptr;
  ut_attribute_tree_attribute a{};
  a.type = type;
  a.key = gen_copy(key);
  attrs_.push_back(a);
  if (!attr_index_.empty()) attr_index_.emplace(attrs_.back().key, attrs_.size() - 1);
  return &attrs_.back();
}

ut_attribute_tree_attribute *ut_attribute_tree::get_first_attribute() const {
  return attrs_.empty() ? nullptr : const_cast<ut_attribute_tree_attribute *>(attrs_.data());
}

ut_attribute_tree_attribute *ut_attribute_tree::get_next_attribute(const ut_attribute_tree_attribute *attr) const {
  if (!attr || attr < attrs_.data() || attr + 1 >= attrs_.data() + attrs_.size()) return nullptr;
  return const_cast<ut_attribute_tree_attribute *>(attr + 1);
}

void ut_attribute_tree::report_missing(const char *key, ut_attribute_type type) {
  ut_string path = get_path_name(true);
  gen_warning("\"%s\": is missing required %s attribute \"%s\"", path.c_str(), ut_attribute_type_name(type),
              key ? key : "");
  missing_reported_ = true;
}
