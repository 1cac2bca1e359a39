// window_config: window classes, their live windows, and "windowpos.ini".
//
// File format: per class a "[class]" line, then x=, y=, width= and height=
// lines with plain values (each only when set), then an empty line.
#include "services/mruservice/window_config.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "services/mruservice/statefile_io.h"
#include "services/support/service_limits.h"
#include "services/servicerouter_proxy/service_factory.h"
#include "shared/indgen.h"

WindowConfigList windowConfigGlobal KORVO_MODULE_ORDER(kModuleOrderMRULists)(true);

namespace {

constexpr const char *kFileName = "windowpos.ini";

bool window_readonly = false;
// A change to the saved geometry not yet written by WindowConfig_Save.
// (The list's own flag starts set, so that every exit writes the file.)
bool window_unsaved = false;
// Set by WindowConfig_Init, cleared by WindowConfig_Exit: a second Init
// would merge the file into what is loaded.
bool window_loaded = false;

bool write_global(const char *path) {
  return StateFile_Write(path, [](FILE *out) { windowConfigGlobal.SaveToFile(out); });
}

// Whether the saved geometry could be written: the file when it exists,
// else the directory it would be made in (or, when that does not exist
// yet, the home directory it would be created in).
bool geometry_writable(const char *path) {
  if (gen_access(path, F_OK) == 0) return gen_access(path, W_OK) == 0;
  const char *dir = cfg_GetUserConfigDir(false);
  if (!dir) return false;
  if (gen_access(dir, F_OK) == 0) return gen_access(dir, W_OK) == 0;
  char *parent = gen_dirname(dir);
  bool ok = parent && gen_access(parent, W_OK) == 0;
  gen_free(parent);
  return ok;
}

void apply_value(WindowConfigEntry *entry, const char *key, const char *value) {
  int stored = StateFile_ParseNumber(value) + 1;
  if (gen_strequal(key, "x")) entry->x = stored;
  else if (gen_strequal(key, "y")) entry->y = stored;
  else if (gen_strequal(key, "width")) entry->width = stored;
  else if (gen_strequal(key, "height")) entry->height = stored;
}

}  // namespace

WindowEntry *WindowConfigEntry::Find(int window) {
  for (WindowEntry &w : windows)
    if (w.window == window) return &w;
  return nullptr;
}

WindowEntry *WindowConfigEntry::Add(int window) {
  int sequence = windows.empty() ? 0 : windows.back().sequence + 1;
  windows.push_back(WindowEntry{window, sequence});
  return &windows.back();
}

void WindowConfigEntry::Remove(WindowEntry *entry) {
  if (entry < windows.data() || entry >= windows.data() + windows.size()) return;
  windows.erase(windows.begin() + (entry - windows.data()));
}

bool WindowConfigEntry::SetGeometry(int nx, int ny, int nwidth, int nheight) {
  bool changed = x != nx || y != ny || width != nwidth || height != nheight;
  x = nx;
  y = ny;
  width = nwidth;
  height = nheight;
  return changed;
}

WindowConfigEntry *WindowConfigList::Find(const char *name, bool create) {
  for (WindowConfigEntry *e = first; e; e = e->next)
    if (gen_strequal(e->name.c_str(), name)) return e;
  if (!create) return nullptr;
  auto *entry = new WindowConfigEntry;
  entry->name = name ? name : "";
  entry->next = first;
  first = entry;
  return entry;
}

void WindowConfigList::ReadFromFile(FILE *stream) {
  WindowConfigEntry **tail = &first;
  while (*tail) tail = &(*tail)->next;
  WindowConfigEntry *current = nullptr;
  StateFileReader reader;
  reader.section = [&](const char *name) {
    current = new WindowConfigEntry;
    current->name = name;
    *tail = current;
    tail = &current->next;
    return true;
  };
  reader.line = [&](char *text) {
    char *key, *value;
    if (ParseVariable(text, &key, &value)) apply_value(current, key, value);
    return true;
  };
  StateFile_ReadStream(stream, reader);
}

void WindowConfigList::SaveToFile(FILE *stream) const {
  for (const WindowConfigEntry *e = first; e; e = e->next) {
    std::fprintf(stream, "[%s]\n", e->name.c_str());
    if (e->x) std::fprintf(stream, "x=%d\n", e->x - 1);
    if (e->y) std::fprintf(stream, "y=%d\n", e->y - 1);
    if (e->width) std::fprintf(stream, "width=%d\n", e->width - 1);
    if (e->height) std::fprintf(stream, "height=%d\n", e->height - 1);
    std::fputs("\n", stream);
  }
}

bool WindowConfigList::ParseVariable(char *line, char **key, char **value) {
  char *v = StateFile_SplitAssignment(line);
  if (!v) return false;
  *key = line;
  *value = v;
  return true;
}

void WindowConfigList::Clear() {
  while (first) {
    WindowConfigEntry *next = first->next;
    delete first;
    first = next;
  }
}

void WindowConfig_Init() {
  if (window_loaded) return;
  window_loaded = true;
  StateFile_RemoveStaleTemp(kFileName);
  char *path = StateFile_Path(kFileName, false);
  window_readonly = !path || !geometry_writable(path);
  FILE *stream = path ? gen_fopen(path, "r") : nullptr;
  if (stream) {
    windowConfigGlobal.ReadFromFile(stream);
    std::fclose(stream);
  }
  gen_free(path);
}

void WindowConfig_Exit() {
  if (windowConfigGlobal.modified) {
    char *path = StateFile_Path(kFileName, true);
    write_global(path);
    gen_free(path);
  }
  windowConfigGlobal.Clear();
  windowConfigGlobal.modified = true;
  window_readonly = false;
  window_unsaved = false;
  window_loaded = false;
}

bool WindowConfig_Save() {
  if (!window_unsaved) return true;
  char *path = StateFile_Path(kFileName, true);
  bool ok = write_global(path);
  gen_free(path);
  if (ok) window_unsaved = false;
  return ok;
}

bool WindowConfig_IsReadOnly() { return window_readonly; }

size_t WindowConfig_Bytes(const WindowConfigList *list) {
  size_t bytes = 0;
  for (const WindowConfigEntry *e = list->first; e; e = e->next)
    bytes += ServiceLimits_Cost(e->name.c_str()) + e->windows.size() * ServiceLimits_Cost(size_t{0});
  return bytes;
}

WindowConfigList *WindowConfig_AllocList() { return new WindowConfigList; }

void WindowConfig_FreeList(WindowConfigList *list) { delete list; }

bool WindowConfig_CreateWindow(WindowConfigList *list, const char *name, int window,
                               int *sequence, int *firstWindow, int *prevWindow, int *x,
                               int *y, int *width, int *height) {
  WindowConfigEntry *entry = list->Find(name, false);
  if (!entry) {
    WindowConfigEntry *saved = windowConfigGlobal.Find(name, false);
    entry = list->Find(name, true);
    if (saved) entry->SetGeometry(saved->x, saved->y, saved->width, saved->height);
  }
  WindowEntry *record = entry->Find(window);
  bool created = record == nullptr;
  if (created) record = entry->Add(window);
  int index = static_cast<int>(record - entry->windows.data());
  const WindowEntry &head = entry->windows.front();
  *sequence = record->sequence;
  *firstWindow = head.sequence == 0 ? head.window : 0;
  *prevWindow = index > 0 ? entry->windows[index - 1].window : 0;
  *x = entry->x;
  *y = entry->y;
  *width = entry->width;
  *height = entry->height;
  return created;
}

void WindowConfig_DestroyWindow(WindowConfigList *list, const char *name, int window,
                                bool *needToSave) {
  *needToSave = false;
  WindowConfigEntry *entry = list->Find(name, false);
  WindowEntry *record = entry ? entry->Find(window) : nullptr;
  if (!record) return;
  *needToSave = record->sequence == 0;
  entry->Remove(record);
}

void WindowConfig_GetSavedGeometry(WindowConfigList *list, const char *name, int *firstWindow,
                                   int *x, int *y, int *width, int *height) {
  WindowConfigEntry *entry = list->Find(name, false);
  bool own = entry != nullptr;
  if (!entry) entry = windowConfigGlobal.Find(name, false);
  if (!entry) {
    *firstWindow = 0;
    *x = *y = *width = *height = -1;
    return;
  }
  bool first = own && entry->count() > 0 && entry->windows.front().sequence == 0;
  *firstWindow = first ? entry->windows.front().window : 0;
  *x = entry->x - 1;
  *y = entry->y - 1;
  *width = entry->width - 1;
  *height = entry->height - 1;
}

bool WindowConfig_UpdateSavedGeometry(WindowConfigList *list, const char *name, int x, int y,
                                      int width, int height) {
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  // The stored form is the value plus 1; a client's INT_MAX must not wrap.
  x = std::min(x, INT_MAX - 1);
  y = std::min(y, INT_MAX - 1);
  width = std::min(width, INT_MAX - 1);
  height = std::min(height, INT_MAX - 1);
  WindowConfigEntry *entry = list->Find(name, false);
  if (!entry) return false;
  if (entry->SetGeometry(x + 1, y + 1, width + 1, height + 1)) list->modified = true;
  if (window_readonly) return true;
  WindowConfigEntry *saved = windowConfigGlobal.Find(name, true);
  if (saved->SetGeometry(x + 1, y + 1, width + 1, height + 1)) {
    windowConfigGlobal.modified = true;
    window_unsaved = true;
    StateFile_NoteChange();
  }
  return true;
}
