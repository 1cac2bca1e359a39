// WindowRegister_Server: handlers and relays, exit condition, factory and
// the module's process-wide objects.
#include "services/windowregister/windowregister_server.h"

#include <new>

// The module's objects, built before main in this order: the exit
// condition (installed globally), the factory (registered globally; its
// place in the module order is the place of "TWL_WindowRegisterService"
// among the names sent to the router), the empty register. The register
// is a heap object that is never destroyed (a reference cannot carry a
// rank, so it is made just after the ranked objects; nothing uses it before
// main): a server released by the proxy's destroyer after main must still
// be able to leave it.
static WindowRegister_Server_ExitCondition windowregister_exit_condition
    KORVO_MODULE_ORDER(kModuleOrderWindowRegister)(true);
static WindowRegister_ServiceFactory windowregister_factory
    KORVO_MODULE_ORDER(kModuleOrderWindowRegister)("TWL_WindowRegisterService", -1, true);
WindowRegister_List &WindowRegister_Server::winRegServerList = *new WindowRegister_List;

int WindowRegister_Server::_num_connections = 0;

WindowRegister_ServiceFactory *WindowRegister_GetServiceFactory() {
  return &windowregister_factory;
}

namespace {

// Window ids travel as 32-bit numbers; the register keeps them unsigned.
unsigned long idFromWire(int win) { return static_cast<unsigned long>(static_cast<unsigned>(win)); }

}  // namespace

WindowRegister_Server::WindowRegister_Server()
    : WindowRegister_Entry(winRegServerList.nextConnectionName()) {
  winRegServerList.add(this);
}

WindowRegister_Server::~WindowRegister_Server() { winRegServerList.remove(this); }

void WindowRegister_Server::msg_AddWindow(const char *className, const char *windowName,
                                          int win) {
  // Out of memory: the window is simply not registered.
  getClassList().AddWindow(className, windowName, idFromWire(win));
}

void WindowRegister_Server::msg_ChangeWindowTitle(const char *className, const char *windowName,
                                                  int win) {
  getClassList().ChangeWindowTitle(className, windowName, idFromWire(win));
}

void WindowRegister_Server::msg_DeleteWindow(int win) {
  getClassList().DeleteWindow(idFromWire(win));
}

void WindowRegister_Server::msg_GetWindowList(WindowRegister__WindowInfoArray *info) {
  winRegServerList.GetWindowInfo(info);
}

void WindowRegister_Server::msg_ShowWindow(const char *serviceName, const char *className,
                                           const char * /*windowName: not used*/, int win) {
  winRegServerList.ShowWindow(serviceName, className, idFromWire(win));
}

void WindowRegister_Server::msg_ShowAllWindows() { winRegServerList.ShowAllWindows(); }
void WindowRegister_Server::msg_IconifyAllWindows() { winRegServerList.IconifyAllWindows(); }
void WindowRegister_Server::msg_CloseAllWindows() { winRegServerList.CloseAllWindows(); }

void WindowRegister_Server::relayWindow(WindowRelayKind kind, const char *className,
                                        const char *title, unsigned long id) {
  // Written out before the caller goes on (wait true), through the default
  // retry handler (null); a failure is logged by the sender and dropped.
  int win = static_cast<int>(id);
  if (kind == kWindowRelayShow) send_ShowWindow(className, title, win, true, nullptr, nullptr);
  else if (kind == kWindowRelayIconify) send_IconifyWindow(className, title, win, true, nullptr, nullptr);
  else send_CloseWindow(className, title, win, true, nullptr, nullptr);
}

int WindowRegister_Server::GetWindowNumber(bool localOnly) const {
  return localOnly ? getClassList().GetWindowNumber() : winRegServerList.GetWindowNumber();
}

void WindowRegister_Server::GetLocalWindowList(WindowRegister__WindowInfoArray *info) const {
  WindowRegister__WindowInfoArray_init(info);
  int total = getClassList().GetWindowNumber();
  if (total == 0) return;
  info->winInfo = STPArray_new<WindowRegister__WindowInfo>(total);
  if (!info->winInfo) return;
  info->count = getClassList().GetWindowInfo(info->winInfo, getName());
}
