// window_config: saved window geometry per window class ("windowpos.ini")
// and the live windows each MRUService connection has opened.
//
// One global WindowConfigList holds the saved geometry; each connection
// holds a WindowConfigList of its own with the classes whose windows it
// opened (WindowConfig_AllocList / WindowConfig_FreeList). Geometry values
// are kept in stored form: the value plus one, 0 meaning unset. Class names
// compare ignoring ASCII letter case. Process-wide state; one thread.
#pragma once

#include <cstdio>
#include <vector>

#include "shared/libcxxutil/ut_string.h"

// One live window of a class: the id the client chose and its sequence
// number within the class.
struct WindowEntry {
  int window = 0;
  int sequence = 0;
};

// One window class: its geometry (stored form) and its live windows in
// creation order.
class WindowConfigEntry {
 public:
  WindowConfigEntry *next = nullptr;
  ut_string name;
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<WindowEntry> windows;

  int count() const { return static_cast<int>(windows.size()); }
  // The record of window `window`, or null. Valid until the next Add or
  // Remove.
  WindowEntry *Find(int window);
  // Appends a record for `window`: sequence 0 when the class has no live
  // window, else the last record's sequence plus one.
  WindowEntry *Add(int window);
  // Removes `entry` (a record of this class), keeping the order.
  void Remove(WindowEntry *entry);
  // Stores the four values (stored form); true when any differed.
  bool SetGeometry(int x, int y, int width, int height);
};

// A chain of window classes plus a change flag. Owns its entries.
class WindowConfigList {
 public:
  WindowConfigEntry *first = nullptr;
  bool modified = false;

  explicit WindowConfigList(bool startModified = false) : modified(startModified) {}
  ~WindowConfigList() { Clear(); }
  WindowConfigList(const WindowConfigList &) = delete;
  WindowConfigList &operator=(const WindowConfigList &) = delete;

  // The class called `name`; when missing and `create`, a new entry with
  // everything unset is put at the head of the chain; else null.
  WindowConfigEntry *Find(const char *name, bool create);
  // Appends one entry per "[class]" header of `stream`, with the x, y,
  // width and height lines that follow it.
  void ReadFromFile(FILE *stream);
  // Writes every entry: header, the set values, an empty line.
  void SaveToFile(FILE *stream) const;
  // Splits "key=value" in place; false (nothing set) without "=".
  static bool ParseVariable(char *line, char **key, char **value);
  // Frees every entry.
  void Clear();
};

// The saved geometry (mirrored in "windowpos.ini"); starts out modified, so
// it is written at every orderly exit.
extern WindowConfigList windowConfigGlobal;

// Loads "windowpos.ini" into the global list and decides whether the saved
// geometry can be written back (read-only otherwise: updates then stay on
// their connection). Only the first call after start or WindowConfig_Exit
// loads.
void WindowConfig_Init();
// Writes the global list when modified, then empties it (modified again, as
// at start).
void WindowConfig_Exit();
// Writes "windowpos.ini" when the saved geometry changed since the last
// such save (not merely because an exit always writes it). False when a
// due write failed; the change then stays due.
bool WindowConfig_Save();
// What `list` holds, counted as service_limits.h says (a class name per
// class, an item per live window).
size_t WindowConfig_Bytes(const WindowConfigList *list);
// Whether WindowConfig_Init found the saved geometry unwritable.
bool WindowConfig_IsReadOnly();

// A new empty list for one connection; free with WindowConfig_FreeList.
WindowConfigList *WindowConfig_AllocList();
void WindowConfig_FreeList(WindowConfigList *list);

// Registers window `window` of class `name` on the connection's `list`
// (a class new to the list inherits the saved geometry). Results: its
// sequence number, the id of the class's first window when that one has
// sequence 0 (else 0), the id of the window before it (0 for the first) and
// the geometry in stored form. False when the window was already registered
// (its record is reused); the caller warns, naming the sender.
bool WindowConfig_CreateWindow(WindowConfigList *list, const char *name, int window,
                               int *sequence, int *firstWindow, int *prevWindow, int *x,
                               int *y, int *width, int *height);
// Forgets window `window` of class `name`; *needToSave is true when it was
// the class's first window (sequence 0).
void WindowConfig_DestroyWindow(WindowConfigList *list, const char *name, int window,
                                bool *needToSave);
// The geometry of class `name` (the connection's, else the saved one) as
// plain values, -1 when unset; *firstWindow as for CreateWindow, for
// classes of the connection only.
void WindowConfig_GetSavedGeometry(WindowConfigList *list, const char *name, int *firstWindow,
                                   int *x, int *y, int *width, int *height);
// Stores plain geometry for a class this connection created (negative x or
// y become 0; values are kept below INT_MAX, since the stored form adds 1)
// and, unless read-only, in the saved geometry too. False when the
// connection has no such class; nothing is stored then.
bool WindowConfig_UpdateSavedGeometry(WindowConfigList *list, const char *name, int x, int y,
                                      int width, int height);
