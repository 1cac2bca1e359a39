// BroadcastList: an ordered list of the connections a broadcast service
// sends to (the ConfigService listeners, the file-change forwarders), and
// BroadcastSnapshot, the safe way to walk it while sending.
//
// The list does not own or reference its endpoints; each endpoint adds
// itself and removes itself in its destructor. The list can be a
// namespace-scope object that needs no construction or destruction: its
// storage is created by the first add and freed when the last entry
// leaves, so connections released after static destruction began still
// find a valid (empty) list.
//
// Sends may run code that ends connections (a protocol log, a wait), so a
// fan-out walks a snapshot that holds a reference on every endpoint: an
// endpoint released meanwhile stays alive, marked down, until the snapshot
// goes (its send then fails and is logged as such), and an endpoint added
// meanwhile hears only later broadcasts. One thread.
#pragma once

#include <algorithm>
#include <vector>

template <class T>
class BroadcastList {
 public:
  // Appends `item` unless it is already listed; true when appended.
  bool add(T *item) {
    if (contains(item)) return false;
    if (!items) items = new std::vector<T *>();
    items->push_back(item);
    return true;
  }
  // Removes `item`; false when it was not listed.
  bool remove(T *item) {
    if (!items) return false;
    auto it = std::find(items->begin(), items->end(), item);
    if (it == items->end()) return false;
    items->erase(it);
    if (items->empty()) {
      delete items;
      items = nullptr;
    }
    return true;
  }
  bool contains(const T *item) const {
    return items && std::find(items->begin(), items->end(), item) != items->end();
  }
  int size() const { return items ? static_cast<int>(items->size()) : 0; }
  // Entry i in list order (0 <= i < size()).
  T *at(int i) const { return (*items)[i]; }

 private:
  std::vector<T *> *items = nullptr;  // owned; null while empty
};

// A copy of a BroadcastList taken at construction, holding one reference
// (addRef) on every endpoint until destruction (delRef).
template <class T>
class BroadcastSnapshot {
 public:
  explicit BroadcastSnapshot(const BroadcastList<T> &list) {
    int n = list.size();
    items.reserve(n);
    for (int i = 0; i < n; ++i) {
      T *item = list.at(i);
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
