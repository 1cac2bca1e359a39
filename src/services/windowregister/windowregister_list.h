// WindowRegister_List: the IDE-wide register of windows, one entry per
// client connection of the WindowRegister service, in order of creation.
//
// An entry (WindowRegister_Entry) is a connection as the register sees it:
// its name, its WindowClassList, and relayWindow(), which passes a show,
// iconify or close request on to the client that owns the window. The
// service's server endpoint is such an entry; tests use plain ones. The
// list names its entries "__twlWinReg0x0", "__twlWinReg0x1", ... from a
// counter that is never reset, and holds them without owning them. One
// thread; relays never change the list.
#pragma once

#include <vector>

#include "services/windowregister/window_class_list.h"
#include "shared/gen_holder.h"

class WindowRegister_Entry {
 public:
  // Takes ownership of name, a heap string (gen_free), normally from
  // WindowRegister_List::nextConnectionName().
  explicit WindowRegister_Entry(char *name);
  // Frees the name and the classes. Does not leave any list.
  virtual ~WindowRegister_Entry();
  WindowRegister_Entry(const WindowRegister_Entry &) = delete;
  WindowRegister_Entry &operator=(const WindowRegister_Entry &) = delete;

  const char *getName() const { return name.get(); }
  WindowClassList &getClassList() { return classList; }
  const WindowClassList &getClassList() const { return classList; }

  // Relays to every window of this connection matching className (null:
  // any class) and id (0: any id); see WindowClassList::Relay. CloseWindow
  // also forgets what it hit.
  bool ShowWindow(const char *className, unsigned long id);
  bool IconifyWindow(const char *className, unsigned long id);
  bool CloseWindow(const char *className, unsigned long id);

  // Passes one request on to the owning client. The strings belong to the
  // register. A request that cannot be delivered is dropped.
  virtual void relayWindow(WindowRelayKind kind, const char *className, const char *title,
                           unsigned long id) = 0;

 private:
  GenString name;
  WindowClassList classList;
};

class WindowRegister_List {
 public:
  WindowRegister_List() = default;
  WindowRegister_List(const WindowRegister_List &) = delete;
  WindowRegister_List &operator=(const WindowRegister_List &) = delete;

  // The next connection name, "__twlWinReg0x%x" of clientSeqNo, which is
  // then incremented. A new string; the caller frees it (gen_free).
  char *nextConnectionName();

  // Appends / removes (the first occurrence; false when absent). Entries
  // are not owned.
  void add(WindowRegister_Entry *entry);
  bool remove(WindowRegister_Entry *entry);
  int size() const { return static_cast<int>(entries.size()); }
  WindowRegister_Entry *get(int i) const { return entries[i]; }
  // The entry named exactly `name`, or null.
  WindowRegister_Entry *find(const char *name) const;

  // Windows over all connections.
  int GetWindowNumber() const;
  // Fills info with every window: connection by connection in list order,
  // class by class, record by record, strings copied. With no window:
  // count 0 and no array. The array is made with new[] and its strings
  // with the C allocator, as WindowRegister__WindowInfoArray_free expects.
  void GetWindowInfo(WindowRegister__WindowInfoArray *info) const;
  // The ShowWindow request of a client: with serviceName null, each
  // connection in order until one shows a window (className null: any
  // class; id 0: every window of the first connection tried); otherwise
  // only the connection of that (non-empty) name. True when shown.
  bool ShowWindow(const char *serviceName, const char *className, unsigned long id);
  // Relays to every window of every connection (class null, id 0).
  // After CloseAllWindows no window is registered; the classes stay.
  void ShowAllWindows();
  void IconifyAllWindows();
  void CloseAllWindows();

  // Counts connections named so far; starts at 0, never reset.
  int clientSeqNo = 0;

 private:
  void relayAll(WindowRelayKind kind);

  std::vector<WindowRegister_Entry *> entries;  // not owned, creation order
};
