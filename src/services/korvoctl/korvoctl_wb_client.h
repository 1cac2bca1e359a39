// KorvoCtl_WbClient: korvoctl's connection to the WhiteBoard. It asks for
// snapshots of groups and waits for them, sends changes, and, while
// watching, prints every change the server passes on. One thread.
#pragma once

#include <string>
#include <vector>

#include "services/korvoctl/korvoctl_wb_text.h"
#include "whiteboard_client_impl.h"

class KorvoCtl_Session;

class KorvoCtl_WbClient : public WhiteBoard_client_Impl {
 public:
  // Connects to the service "WhiteBoard"; null with an error printed when
  // that fails. Release the result with delRef.
  static KorvoCtl_WbClient *connect(KorvoCtl_Session &session);

  // Every value of `group`, or of every group when `group` is null, sorted
  // (KorvoCtl_WbSort). False with an error printed when no answer came in
  // the session's time.
  bool snapshot(const char *group, std::vector<KorvoCtl_WbValue> *values);
  // Makes the group exist on the server (changes to a group nobody
  // registered are dropped), subscribed to its changes when `watch` is set.
  bool registerGroup(const std::string &group, bool watch);
  // Sends the value (queued behind what was sent before).
  bool send(const KorvoCtl_WbValue &value);
  bool sendDelete(const std::string &group, const std::string &name, int type);
  bool sendSave(const std::string &group, const char *file);

  // Prints "TIME<TAB>set<TAB>GROUP<TAB>..." lines for every change that
  // arrives from now on.
  void startPrinting() { printing = true; }

  void msg_SetBoolValue(WhiteBoard_BoolValueInfo &info) override;
  void msg_SetInt32Value(WhiteBoard_Int32ValueInfo &info) override;
  void msg_SetStringValue(WhiteBoard_StringValueInfo &info) override;
  void msg_SetStringListValue(WhiteBoard_StringListValueInfo &info) override;
  void msg_DeleteEvent(const char *group, const char *name, int type) override;
  void msg_Changes(WhiteBoard_BoolValueInfoArray &bools, WhiteBoard_Int32ValueInfoArray &ints,
                   WhiteBoard_StringValueInfoArray &strings,
                   WhiteBoard_StringListValueInfoArray &lists) override;

 private:
  explicit KorvoCtl_WbClient(KorvoCtl_Session &session) : session(session) {}
  bool sent(bool ok, const char *what, const TStat &st);
  bool awaitChanges();
  void printChange(const KorvoCtl_WbValue &value);

  KorvoCtl_Session &session;
  std::vector<KorvoCtl_WbValue> received;
  bool changesArrived = false;
  bool printing = false;
};
