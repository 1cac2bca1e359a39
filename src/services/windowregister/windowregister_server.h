// WindowRegister_Server: the service "TWL_WindowRegisterService", one
// endpoint per client connection, each an entry of the process-wide
// register winRegServerList.
//
// A client registers its windows by class, retitles and deletes them, asks
// for the list of all windows of all clients, and asks for one or all
// windows to be shown, iconified or closed; those requests are relayed to
// the owning client as ShowWindow, IconifyWindow and CloseWindow messages,
// each written out at once (not queued) through the endpoint's default
// retry handler before the handler goes on. When a connection ends its
// windows leave the register; nobody is told. The module's process-wide
// objects are built before main at the WindowRegister rank of the module
// order. One thread.
#pragma once

#include "services/support/service_module.h"
#include "services/windowregister/windowregister_list.h"
#include "windowregister_server_impl.h"

class WindowRegister_Server : public WindowRegister_server_Impl, public WindowRegister_Entry {
 public:
  // A new endpoint (one reference, the creation reference) named from
  // clientSeqNo and appended to winRegServerList; bind it with
  // setTransport.
  WindowRegister_Server();

  void msg_AddWindow(const char *className, const char *windowName, int win) override;
  void msg_ChangeWindowTitle(const char *className, const char *windowName, int win) override;
  void msg_CloseAllWindows() override;
  void msg_DeleteWindow(int win) override;
  void msg_GetWindowList(WindowRegister__WindowInfoArray *info) override;
  void msg_IconifyAllWindows() override;
  void msg_ShowAllWindows() override;
  void msg_ShowWindow(const char *serviceName, const char *className, const char *windowName,
                      int win) override;

  // Sends the request to this connection's client at once; a send that
  // fails is dropped (the generated sender logs "SEND FAILED: ").
  void relayWindow(WindowRelayKind kind, const char *className, const char *title,
                   unsigned long id) override;

  // Windows of this connection (localOnly) or of all connections.
  int GetWindowNumber(bool localOnly) const;
  // This connection's windows only, as GetWindowList fills them.
  void GetLocalWindowList(WindowRegister__WindowInfoArray *info) const;

  // Every live server, in order of creation; also the connection-name
  // counter (winRegServerList.clientSeqNo). Never destroyed, so a server
  // released late in the process's exit can still leave it.
  static WindowRegister_List &winRegServerList;
  // Connections that hold the process alive. Never changed from 0.
  static int _num_connections;

 protected:
  // Leaves winRegServerList; the classes, records and name go with the
  // entry. Endpoints are released through delRef only.
  ~WindowRegister_Server() override;
};

// The module's exit condition (allows exit while WindowRegister_Server::_num_connections
// is 0) and its factory (a WindowRegister_Server per connection of "TWL_WindowRegisterService").
using WindowRegister_Server_ExitCondition = ServiceModule<WindowRegister_Server>::ExitCondition;
using WindowRegister_ServiceFactory = ServiceModule<WindowRegister_Server>::Factory;

// The module's factory (built before main), for the program entry and tests.
WindowRegister_ServiceFactory *WindowRegister_GetServiceFactory();
