// whiteboard_client: the client side of the WhiteBoard service.
//
// WhiteBoard is a process-wide endpoint that keeps a local copy of the
// groups it works with (GroupClient), answers reads from that copy, applies
// local writes at once and queues them to the server, applies the changes
// the server passes on from other connections, and reports every change
// through change callbacks and typed observers.
//
// Defaults and change callbacks may be declared before any WhiteBoard
// exists (static initialisation); defaults are applied quietly when the
// object is constructed, callbacks are installed into each GroupClient
// constructed later. The class-wide registries live until process exit.
//
// Ownership: the current WhiteBoard holds its creation reference (released
// by shutdownWhiteBoard); a WhiteBoard owns its GroupClients; callbacks and
// observers are plain function pointers. One thread: incoming messages are
// handled during service passes, including the nested ones of
// awaitChanges, so a callback may run inside requestChangesInGroup.
#pragma once

#include <map>
#include <type_traits>
#include <utility>

#include "services/support/broadcast_list.h"
#include "services/whiteboard/whiteboard_group.h"
#include "shared/libcxxutil/ut_string.h"
#include "shared/libcxxutil/ut_string_list.h"
#include "whiteboard_client_impl.h"

class RetryHandler;
class WhiteBoard;

// Change callback: (group name, value name).
using WhiteBoard_ChangeCallback = void (*)(const char *group, const char *name);
// Typed observers: (group name, value name, new value or deleted type).
using WhiteBoard_BoolObserver = void (*)(const char *group, const char *name, bool value);
using WhiteBoard_IntObserver = void (*)(const char *group, const char *name, int value);
using WhiteBoard_StringObserver = void (*)(const char *group, const char *name, const char *value);
using WhiteBoard_StringListObserver = void (*)(const char *group, const char *name,
                                               const ut_string_list &value);
using WhiteBoard_DeleteObserver = void (*)(const char *group, const char *name,
                                           WhiteBoard_Type type);

// One group of a client's local copy, with its callbacks and observers.
class GroupClient : public Group {
 public:
  // `owner` is not owned (may be null in tests). Installs every pending
  // change callback recorded for this group name.
  GroupClient(const char *name, WhiteBoard *owner);
  ~GroupClient() override;

  // Store through Group; when the value changed, call the typed observers
  // and, unless `quiet`, the change callbacks. True when it changed.
  bool setBoolValue(const char *name, bool value, bool quiet) override;
  bool setInt32Value(const char *name, int value, bool quiet) override;
  bool setStringValue(const char *name, const char *value, bool quiet) override;
  bool setStringListValue(const char *name, const ut_string_list &value, bool quiet) override;
  bool deleteName(const char *name, WhiteBoard_Type type, bool quiet) override;
  using Group::setStringValue;

  // `name` null listens to every name of the group. A null callback is
  // ignored. Several callbacks per name run in registration order.
  void installChangeCallback(const char *name, WhiteBoard_ChangeCallback callback);
  void installFuncForBoolChanges(WhiteBoard_BoolObserver f);
  void installFuncForIntChanges(WhiteBoard_IntObserver f);
  void installFuncForStringChanges(WhiteBoard_StringObserver f);
  void installFuncForStringListChanges(WhiteBoard_StringListObserver f);
  void installFuncForDeleteEvents(WhiteBoard_DeleteObserver f);
  // Remove the first registration of `f`; false when it was not installed.
  // An observer may add or remove observers while it is being called:
  // one added then hears only later changes, one removed is not called
  // again.
  bool removeFuncForBoolChanges(WhiteBoard_BoolObserver f);

  // Calls the callbacks of exactly `name`, then those of the empty name.
  void notifyChange(const char *name);
  // Queues a Change...Value message for every value through the owner.
  void sendAllData();

 private:
  WhiteBoard *owner_;
  std::multimap<ut_string, WhiteBoard_ChangeCallback> callbacks_;
  // Observers in registration order, walked in place (see BroadcastList).
  template <class Observer>
  using ObserverList = OwnedBroadcastList<std::remove_pointer_t<Observer>>;
  ObserverList<WhiteBoard_BoolObserver> boolObservers_;
  ObserverList<WhiteBoard_IntObserver> intObservers_;
  ObserverList<WhiteBoard_StringObserver> stringObservers_;
  ObserverList<WhiteBoard_StringListObserver> stringListObservers_;
  ObserverList<WhiteBoard_DeleteObserver> deleteObservers_;
};

class WhiteBoard : public WhiteBoard_client_Impl {
 public:
  using NameBoolMap = std::map<ut_string, bool>;
  using NameInt32Map = std::map<ut_string, int>;
  using NameStringMap = std::map<ut_string, ut_string>;
  using NameStringListMap = std::map<ut_string, ut_string_list>;

  // A new, unconnected client with the recorded defaults applied quietly;
  // reference count 1. Normally made through getWhiteBoard.
  WhiteBoard();

  // ---- Class-wide ----
  // The current WhiteBoard, created (unconnected) when there is none. The
  // object belongs to the class (released by shutdownWhiteBoard).
  static WhiteBoard *getWhiteBoard();
  // Connects the current WhiteBoard to the service "WhiteBoard" through the
  // router client. The connected object, or null (no router client, or the
  // connection failed: then the object is released).
  static WhiteBoard *establishWhiteBoardConnection(RetryHandler *rh);
  // Drops the connection (when a router client exists) and releases the
  // current WhiteBoard.
  static void shutdownWhiteBoard();
  // Record a default (replacing an earlier one); applied only by
  // WhiteBoards constructed later. Strings are copied.
  static void installDefaultBool(const char *group, const char *name, bool value);
  static void installDefaultInt(const char *group, const char *name, int value);
  static void installDefaultString(const char *group, const char *name, const char *value);
  static void installDefaultStringList(const char *group, const char *name,
                                       const ut_string_list &value);
  // Records a change callback for GroupClients constructed later (one per
  // group/name pair; null callbacks are ignored).
  static void installChangeCallback(const char *group, const char *name,
                                    WhiteBoard_ChangeCallback callback);

  // ---- Members ----
  bool isConnected() const { return connected_; }
  // Queues RegisterGroup, loads the group file when use_disk or
  // use_filename asks for it, enters the group and, with request_changes,
  // waits for the group's snapshot. False when the load or wait failed.
  bool registerGroup(const char *group, bool broadcast_changes, bool use_disk,
                     const char *use_filename, bool request_changes);

  // Local reads: true and `value` filled when present.
  bool getBool(const char *group, const char *name, bool &value) const;
  bool getInt(const char *group, const char *name, int &value) const;
  bool getString(const char *group, const char *name, ut_string &value) const;
  bool getStringList(const char *group, const char *name, ut_string_list &value) const;

  // Local writes, sent to the server when `send`. An equal value already
  // held does nothing. False only when the send failed (the local change
  // stays).
  bool setBool(const char *group, const char *name, bool value, bool send);
  bool setInt(const char *group, const char *name, int value, bool send);
  bool setString(const char *group, const char *name, const ut_string &value, bool send);
  bool setStringList(const char *group, const char *name, const ut_string_list &value, bool send);
  bool deleteName(const char *group, const char *name, WhiteBoard_Type type, bool send);

  // Snapshot requests: true when the Changes answer arrived.
  bool requestAllChanges(RetryHandler *rh);
  bool requestChangesInGroup(const char *group, RetryHandler *rh);
  // Services the connection until a Changes message arrives or it dies
  // (rh null: no time limit).
  bool awaitChanges(RetryHandler *rh);

  // Append an observer to the group (created locally when missing); true.
  bool registerFuncForBoolChanges(const char *group, WhiteBoard_BoolObserver f);
  bool registerFuncForIntChanges(const char *group, WhiteBoard_IntObserver f);
  bool registerFuncForStringChanges(const char *group, WhiteBoard_StringObserver f);
  bool registerFuncForStringListChanges(const char *group, WhiteBoard_StringListObserver f);
  bool registerFuncForDeleteEvents(const char *group, WhiteBoard_DeleteObserver f);

  // Merges the group file at `path` into the group (with notifications).
  bool preLoadGroupFile(const char *group, const char *path);
  // Replaces the group by a new one loaded from `path`.
  bool loadGroupFromFile(const char *group, const char *path);
  // Asks the server to save the group (when held locally); always true.
  bool saveGroupChangesToFile(const char *group, const char *filename);
  // The local group (owned by this object) or null.
  GroupClient *getGroup(const char *group) const;

  // Apply a value or deletion locally (group created when missing).
  void internalSetBool(const char *group, const char *name, bool value);
  void internalSetInt(const char *group, const char *name, int value);
  void internalSetString(const char *group, const char *name, const char *value);
  void internalSetStringList(const char *group, const char *name, const ut_string_list &value);
  void internalDeleteName(const char *group, const char *name, WhiteBoard_Type type);

  // Handlers of the server's messages.
  void msg_SetBoolValue(BoolValueInfo &info) override;
  void msg_SetInt32Value(Int32ValueInfo &info) override;
  void msg_SetStringValue(StringValueInfo &info) override;
  void msg_SetStringListValue(StringListValueInfo &info) override;
  void msg_DeleteEvent(const char *group, const char *name, int type) override;
  void msg_Changes(BoolValueInfoArray &b, Int32ValueInfoArray &i, StringValueInfoArray &s,
                   StringListValueInfoArray &l) override;

 protected:
  // Released through delRef only. Destroys the groups; clears the current
  // WhiteBoard when it is this one.
  ~WhiteBoard() override;

 private:
  GroupClient *findOrCreateGroup(const char *group);

  bool connected_ = false;
  bool changesReceived_ = false;
  std::map<ut_string, GroupClient *> groups_;  // owned

  static WhiteBoard *current_;
};
