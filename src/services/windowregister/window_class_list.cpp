// WindowClass and WindowClassList: one client's windows by class.
#include "services/windowregister/window_class_list.h"

#include <cstring>
#include <memory>

namespace {

// Records and classes grow by this many slots at a time.
constexpr int kGrowStep = 10;

// Byte-wise name equality; null equals only null.
bool sameName(const char *a, const char *b) {
  if (!a || !b) return a == b;
  return std::strcmp(a, b) == 0;
}

bool isNullOrEmpty(const char *s) { return !s || !*s; }

void freeRecord(WindowRecord *record) {
  gen_free(record->title);
  gen_free(record);
}

}  // namespace

// ---- WindowClass ----

WindowClass::WindowClass(const char *name) : name(gen_copy(name)) {}

WindowClass::~WindowClass() {
  DeleteAllWindows();
  gen_free(windows);
}

int WindowClass::FindWindow(unsigned long id) const {
  for (int i = 0; i < count; ++i)
    if (windows[i]->id == id) return i;
  return -1;
}

bool WindowClass::AddWindow(const char *title, unsigned long id) {
  if (ChangeWindowTitle(title, id)) return true;
  // Keeps one slot spare: the array grows as soon as count + 1 reaches it.
  if (count + 1 >= capacity) {
    int step = gen_ExtendPointerArray(windows, count, capacity, kGrowStep);
    if (step == 0) return false;
    capacity += step;
  }
  auto *record = static_cast<WindowRecord *>(gen_calloc(1, sizeof(WindowRecord)));
  record->title = gen_copy(title);
  record->id = id;
  windows[count++] = record;
  return true;
}

bool WindowClass::ChangeWindowTitle(const char *title, unsigned long id) {
  int i = FindWindow(id);
  if (i < 0) return false;
  char *copy = gen_copy(title);
  gen_free(windows[i]->title);
  windows[i]->title = copy;
  return true;
}

void WindowClass::removeAt(int index) {
  freeRecord(windows[index]);
  // The last record fills the gap, so the order of the others changes.
  windows[index] = windows[count - 1];
  windows[--count] = nullptr;
}

bool WindowClass::DeleteWindow(unsigned long id) {
  int i = FindWindow(id);
  if (i < 0) return false;
  removeAt(i);
  return true;
}

void WindowClass::DeleteAllWindows() {
  for (int i = 0; i < count; ++i) {
    freeRecord(windows[i]);
    windows[i] = nullptr;
  }
  count = 0;
}

int WindowClass::GetWindowInfo(WindowRegister__WindowInfo *info, const char *serviceName) const {
  for (int i = 0; i < count; ++i) {
    info[i].serviceName = gen_copy(serviceName);
    info[i].className = gen_copy(name.get());
    info[i].windowName = gen_copy(windows[i]->title);
    info[i].win = static_cast<int>(windows[i]->id);
  }
  return count;
}

int WindowClass::Relay(WindowRelayKind kind, unsigned long id, WindowRelayFunc relay,
                       void *context) {
  if (id != 0) {
    int i = FindWindow(id);
    if (i < 0) return 0;
    relay(context, kind, name.get(), windows[i]->title, id);
    if (kind == kWindowRelayClose) removeAt(i);
    return 1;
  }
  int hits = count;
  for (int i = 0; i < count; ++i) relay(context, kind, name.get(), windows[i]->title, windows[i]->id);
  if (kind == kWindowRelayClose) DeleteAllWindows();
  return hits;
}

// ---- WindowClassList ----

WindowClassList::~WindowClassList() {
  for (int i = 0; i < count; ++i) delete classes[i];
  gen_free(classes);
}

WindowClass *WindowClassList::FindClass(const char *className) const {
  bool wantEmpty = isNullOrEmpty(className);
  for (int i = 0; i < count; ++i) {
    const char *name = classes[i]->getName();
    if (wantEmpty ? isNullOrEmpty(name) : sameName(name, className)) return classes[i];
  }
  return nullptr;
}

bool WindowClassList::AddWindow(const char *className, const char *title, unsigned long id) {
  WindowClass *cls = FindClass(className);
  if (cls) return cls->AddWindow(title, id);
  if (count + 1 >= capacity) {
    int step = gen_ExtendPointerArray(classes, count, capacity, kGrowStep);
    if (step == 0) return false;
    capacity += step;
  }
  // A class is only kept with the window that made it.
  auto made = std::make_unique<WindowClass>(className);
  if (!made->AddWindow(title, id)) return false;
  classes[count++] = made.release();
  return true;
}

bool WindowClassList::ChangeWindowTitle(const char *className, const char *title,
                                        unsigned long id) {
  if (!isNullOrEmpty(className)) {
    WindowClass *cls = FindClass(className);
    return cls && cls->ChangeWindowTitle(title, id);
  }
  for (int i = 0; i < count; ++i)
    if (classes[i]->ChangeWindowTitle(title, id)) return true;
  return false;
}

bool WindowClassList::DeleteWindow(unsigned long id) {
  for (int i = 0; i < count; ++i)
    if (classes[i]->DeleteWindow(id)) return true;
  return false;
}

int WindowClassList::GetWindowNumber() const {
  int total = 0;
  for (int i = 0; i < count; ++i) total += classes[i]->getCount();
  return total;
}

int WindowClassList::GetWindowInfo(WindowRegister__WindowInfo *info,
                                   const char *serviceName) const {
  int filled = 0;
  for (int i = 0; i < count; ++i) filled += classes[i]->GetWindowInfo(info + filled, serviceName);
  return filled;
}

bool WindowClassList::Relay(WindowRelayKind kind, const char *className, unsigned long id,
                            WindowRelayFunc relay, void *context) {
  for (int i = 0; i < count; ++i) {
    WindowClass *cls = classes[i];
    if (className && !sameName(cls->getName(), className)) continue;
    if (cls->Relay(kind, id, relay, context) > 0 && id != 0) return true;
  }
  return id == 0;
}
