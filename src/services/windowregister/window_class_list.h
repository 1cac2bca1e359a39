// WindowClassList: the windows one WindowRegister client has registered,
// grouped by window class.
//
// A WindowClassList holds WindowClass objects in order of first
// registration; a WindowClass holds window records {title, id} in order of
// registration (a deletion moves the class's last record into the gap).
// Class names are compared byte for byte; a null or empty name forms a
// class of its own. Both arrays are plain pointer arrays grown in steps of
// 10 with gen_ExtendPointerArray, whose allocation may fail without ending
// the process: AddWindow then registers nothing. Nothing here sends
// anything: relays hand each hit to a WindowRelayFunc. One thread.
#pragma once

#include <cstddef>

#include "shared/gen_holder.h"
#include "shared/indgen.h"
#include "windowregister_parsing.h"

// Replaces `array` (count used entries, capacity slots) by a zeroed array
// of capacity + step slots holding the first count old entries, and frees
// the old one. Returns step, or 0 (nothing changed) when step is below 1
// or memory runs out. Arrays are allocated through gen_calloc_hook (which
// may fail without ending the process) and freed with gen_free.
template <class T>
int gen_ExtendPointerArray(T **&array, int count, int capacity, int step) {
  if (step < 1 || capacity < 0 || count < 0 || count > capacity) return 0;
  void *block = gen_calloc_hook(static_cast<size_t>(capacity) + step, sizeof(T *));
  if (!block) return 0;
  T **bigger = static_cast<T **>(block);
  for (int i = 0; i < count; ++i) bigger[i] = array[i];
  gen_free(array);
  array = bigger;
  return step;
}

// What a relay asks the owning client to do with a window.
enum WindowRelayKind { kWindowRelayShow, kWindowRelayIconify, kWindowRelayClose };

// Called once per window a relay hits, with the class name (may be null),
// the title (may be null) and the id; the strings stay owned by the
// register. `context` is the caller's.
using WindowRelayFunc = void (*)(void *context, WindowRelayKind kind, const char *className,
                                 const char *title, unsigned long id);

// One registered window. Owns its title.
struct WindowRecord {
  char *title;  // owned (gen_free), may be null
  unsigned long id;
};

class WindowClass {
 public:
  // Copies name (null stays null).
  explicit WindowClass(const char *name);
  // Frees the records and the name.
  ~WindowClass();
  WindowClass(const WindowClass &) = delete;
  WindowClass &operator=(const WindowClass &) = delete;

  const char *getName() const { return name.get(); }
  int getCount() const { return count; }
  // Record i (0 <= i < getCount()), owned by the class.
  const WindowRecord *getWindow(int i) const { return windows[i]; }

  // Index of the record with that id, or -1.
  int FindWindow(unsigned long id) const;
  // Retitles the record with the id, else appends {title, id}. False when
  // the array could not grow (nothing registered).
  bool AddWindow(const char *title, unsigned long id);
  // Retitles the record with the id; false when there is none.
  bool ChangeWindowTitle(const char *title, unsigned long id);
  // Frees the record with the id and moves the last record into its place;
  // false when there is none.
  bool DeleteWindow(unsigned long id);
  // Frees every record.
  void DeleteAllWindows();
  // Fills info[0 .. count-1] with copies of connection name, class name,
  // titles and ids; returns the number filled (getCount()).
  int GetWindowInfo(WindowRegister__WindowInfo *info, const char *serviceName) const;
  // Hands every record whose id equals `id` (every record for id 0) to
  // relay; with a non-zero id stops at the first hit. Close forgets what it
  // hit. Returns the number of hits.
  int Relay(WindowRelayKind kind, unsigned long id, WindowRelayFunc relay, void *context);

 private:
  void removeAt(int index);

  GenString name;  // may be null
  int count = 0;
  int capacity = 0;
  WindowRecord **windows = nullptr;  // owned records, gen_free'd array
};

class WindowClassList {
 public:
  WindowClassList() = default;
  // Frees every class.
  ~WindowClassList();
  WindowClassList(const WindowClassList &) = delete;
  WindowClassList &operator=(const WindowClassList &) = delete;

  int getCount() const { return count; }
  // Class i (0 <= i < getCount()), owned by the list.
  WindowClass *getClass(int i) const { return classes[i]; }
  // The first class matching className (null matches a null or empty
  // name, as does ""), or null.
  WindowClass *FindClass(const char *className) const;

  // Registers {title, id} in the class, making the class when missing; an
  // id already in the class is retitled. False when memory ran out
  // (nothing registered).
  bool AddWindow(const char *className, const char *title, unsigned long id);
  // With a non-empty class name only that class is searched; with a null
  // or empty one the first class holding the id. False when not found.
  bool ChangeWindowTitle(const char *className, const char *title, unsigned long id);
  // Deletes the id from the first class holding it; empty classes stay.
  bool DeleteWindow(unsigned long id);
  // Number of windows over all classes.
  int GetWindowNumber() const;
  // Fills info with the windows class by class (see WindowClass); returns
  // the number filled. info must have room for GetWindowNumber() entries.
  int GetWindowInfo(WindowRegister__WindowInfo *info, const char *serviceName) const;
  // Visits the classes in order, skipping those whose name is null or
  // differs when className is non-null, and relays their hits. With a
  // non-zero id stops at the first hit and returns true, or returns false
  // when there is none; with id 0 visits everything and returns true.
  bool Relay(WindowRelayKind kind, const char *className, unsigned long id,
             WindowRelayFunc relay, void *context);

 private:
  int count = 0;
  int capacity = 0;
  WindowClass **classes = nullptr;  // owned classes, gen_free'd array
};
