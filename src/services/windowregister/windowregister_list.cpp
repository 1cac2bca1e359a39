// WindowRegister_Entry and WindowRegister_List: the register over all
// client connections.
#include "services/windowregister/windowregister_list.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "shared/mt_vsprintf.h"

namespace {

// Hands a hit to the entry that owns it.
void relayToEntry(void *context, WindowRelayKind kind, const char *className, const char *title,
                  unsigned long id) {
  static_cast<WindowRegister_Entry *>(context)->relayWindow(kind, className, title, id);
}

}  // namespace

// ---- WindowRegister_Entry ----

WindowRegister_Entry::WindowRegister_Entry(char *name) : name(name) {}

WindowRegister_Entry::~WindowRegister_Entry() = default;

bool WindowRegister_Entry::ShowWindow(const char *className, unsigned long id) {
  return classList.Relay(kWindowRelayShow, className, id, relayToEntry, this);
}

bool WindowRegister_Entry::IconifyWindow(const char *className, unsigned long id) {
  return classList.Relay(kWindowRelayIconify, className, id, relayToEntry, this);
}

bool WindowRegister_Entry::CloseWindow(const char *className, unsigned long id) {
  return classList.Relay(kWindowRelayClose, className, id, relayToEntry, this);
}

// ---- WindowRegister_List ----

char *WindowRegister_List::nextConnectionName() {
  return gen_asprintf("__twlWinReg0x%x", static_cast<unsigned>(clientSeqNo++));
}

void WindowRegister_List::add(WindowRegister_Entry *entry) { entries.push_back(entry); }

bool WindowRegister_List::remove(WindowRegister_Entry *entry) {
  auto it = std::find(entries.begin(), entries.end(), entry);
  if (it == entries.end()) return false;
  entries.erase(it);
  return true;
}

WindowRegister_Entry *WindowRegister_List::find(const char *name) const {
  if (!name) return nullptr;
  for (WindowRegister_Entry *entry : entries)
    if (std::strcmp(entry->getName(), name) == 0) return entry;
  return nullptr;
}

int WindowRegister_List::GetWindowNumber() const {
  int total = 0;
  for (const WindowRegister_Entry *entry : entries) total += entry->getClassList().GetWindowNumber();
  return total;
}

void WindowRegister_List::GetWindowInfo(WindowRegister__WindowInfoArray *info) const {
  info->count = 0;
  info->winInfo = nullptr;
  int total = GetWindowNumber();
  if (total == 0) return;
  // Value-initialised: every pointer starts null, so _free is safe on it.
  info->winInfo = STPArray_new<WindowRegister__WindowInfo>(total);
  if (!info->winInfo) return;
  int filled = 0;
  for (const WindowRegister_Entry *entry : entries)
    filled += entry->getClassList().GetWindowInfo(info->winInfo + filled, entry->getName());
  info->count = filled;
}

bool WindowRegister_List::ShowWindow(const char *serviceName, const char *className,
                                     unsigned long id) {
  if (!serviceName) {
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i]->ShowWindow(className, id)) return true;
    return false;
  }
  if (!*serviceName) return false;
  // Names are unique while the process runs, so at most one entry matches.
  WindowRegister_Entry *entry = find(serviceName);
  return entry && entry->ShowWindow(className, id);
}

void WindowRegister_List::relayAll(WindowRelayKind kind) {
  for (size_t i = 0; i < entries.size(); ++i) {
    WindowRegister_Entry *entry = entries[i];
    if (kind == kWindowRelayShow) entry->ShowWindow(nullptr, 0);
    else if (kind == kWindowRelayIconify) entry->IconifyWindow(nullptr, 0);
    else entry->CloseWindow(nullptr, 0);
  }
}

void WindowRegister_List::ShowAllWindows() { relayAll(kWindowRelayShow); }
void WindowRegister_List::IconifyAllWindows() { relayAll(kWindowRelayIconify); }
void WindowRegister_List::CloseAllWindows() { relayAll(kWindowRelayClose); }
