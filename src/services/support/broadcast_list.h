// BroadcastList: an ordered list of the listeners a service tells about
// changes (the ConfigService listeners, the file-change forwarders, the
// WhiteBoard subscribers and observers), and BroadcastSnapshot, a walk that
// also holds a reference on every endpoint it will send to.
//
// The list does not own or reference its listeners; each one adds itself
// and removes itself (an endpoint in its destructor). The list can be a
// namespace-scope object that needs no construction or destruction: its
// storage is created by the first add and freed when the last entry
// leaves, so connections released after static destruction began still
// find a valid (empty) list.
//
// A listener being told may change the list (a send may end connections,
// an observer may install or remove observers). Both walks follow one
// rule: every listener listed when the walk began is told at most once, a
// listener added meanwhile hears only later walks. forEach walks the list
// in place and skips a listener removed before its turn: while a walk runs
// a removal only empties its slot, and the emptied slots are squeezed out
// when the outermost walk ends. BroadcastSnapshot copies the list and holds
// a reference on every endpoint, so an endpoint released meanwhile stays
// alive, marked down, until the snapshot goes (its send then fails and is
// logged as such). One thread.
#pragma once

#include <algorithm>
#include <vector>

template <class T>
class BroadcastSnapshot;

template <class T>
class BroadcastList {
 public:
  // Appends `item` unless it is already listed; true when appended.
  bool add(T *item) {
    if (contains(item)) return false;
    append(item);
    return true;
  }
  // Appends `item`, also when it is listed already (it is then told once
  // per entry).
  void append(T *item) {
    if (!items) items = new std::vector<T *>();
    items->push_back(item);
    ++live;
  }
  // Removes the first entry of `item`; false when it was not listed.
  bool remove(T *item) {
    if (!items) return false;
    auto it = std::find(items->begin(), items->end(), item);
    if (it == items->end()) return false;
    drop(it);
    return true;
  }
  // Removes every entry of `item`; the number removed.
  int removeAll(T *item) {
    int n = 0;
    while (remove(item)) ++n;
    return n;
  }
  bool contains(const T *item) const {
    return items && std::find(items->begin(), items->end(), item) != items->end();
  }
  int size() const { return live; }
  // Entry i in list order (0 <= i < size()).
  T *at(int i) const {
    for (T *item : *items)
      if (item && i-- == 0) return item;
    return nullptr;
  }

  // Removes every entry (not while a walk runs).
  void clear() {
    delete items;
    items = nullptr;
    live = 0;
  }

  // Calls tell(item) for every entry listed when the call began, in list
  // order, skipping entries removed before their turn. `tell` may add and
  // remove entries and may start another walk.
  template <class Tell>
  void forEach(Tell tell) {
    if (!items) return;
    ++walks;
    for (size_t i = 0, n = items->size(); i < n; ++i)
      if (T *item = (*items)[i]) tell(item);
    if (--walks == 0) squeeze();
  }

 private:
  friend class BroadcastSnapshot<T>;

  void drop(typename std::vector<T *>::iterator it) {
    --live;
    if (walks > 0) {
      *it = nullptr;  // the slot stays until the walks end: indices hold
      return;
    }
    items->erase(it);
    if (items->empty()) {
      delete items;
      items = nullptr;
    }
  }
  void squeeze() {
    items->erase(std::remove(items->begin(), items->end(), nullptr), items->end());
    if (items->empty()) {
      delete items;
      items = nullptr;
    }
  }

  std::vector<T *> *items = nullptr;  // owned; null while empty
  int live = 0;                       // entries not removed
  int walks = 0;                      // forEach calls running
};

// A BroadcastList that is a member of one object (a group's observers, a
// store's subscribers): its storage goes with the object. Namespace-scope
// lists use BroadcastList itself, which is never destroyed.
template <class T>
class OwnedBroadcastList : public BroadcastList<T> {
 public:
  OwnedBroadcastList() = default;
  ~OwnedBroadcastList() { this->clear(); }
  OwnedBroadcastList(const OwnedBroadcastList &) = delete;
  OwnedBroadcastList &operator=(const OwnedBroadcastList &) = delete;
};

// A copy of a BroadcastList taken at construction, holding one reference
// (addRef) on every endpoint until destruction (delRef).
template <class T>
class BroadcastSnapshot {
 public:
  explicit BroadcastSnapshot(const BroadcastList<T> &list) {
    if (!list.items) return;
    items.reserve(list.live);
    for (T *item : *list.items) {
      if (!item) continue;
      item->addRef();
      items.push_back(item);
    }
  }
  ~BroadcastSnapshot() {
    for (T *item : items) item->delRef();
  }
  BroadcastSnapshot(const BroadcastSnapshot &) = delete;
  BroadcastSnapshot &operator=(const BroadcastSnapshot &) = delete;

  // Calls send(item) for every endpoint of the snapshot, in list order.
  template <class Send>
  void forEach(Send send) {
    for (T *item : items) send(item);
  }
  int size() const { return static_cast<int>(items.size()); }

 private:
  std::vector<T *> items;
};
