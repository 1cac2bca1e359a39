// WhiteBoard_Image: the one store all WhiteBoard connections share. It
// holds the groups by name and, per group, the connections that asked to
// hear about its changes, and passes every change on to them.
//
// Connections are seen through WhiteBoard_Subscriber, so the store can be
// used and tested without a transport; the server endpoint implements it.
// The store does not own subscribers: a subscriber calls removeReferences
// before it goes away (also while a change is being passed on: the rest of
// that fan-out then skips it). Groups are owned by the store and live until
// it is destroyed; its destructor saves every disk group into its default
// file. The store counts what it holds (service_limits.h); the fits...
// checks tell the server whether a change would pass a limit. One thread.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <vector>

#include "services/support/broadcast_list.h"
#include "services/whiteboard/whiteboard_group_server.h"
#include "whiteboard_parsing.h"

// The message of one change as the first connection of a fan-out encoded
// it; the other connections send the same message (only its header
// differs). Empty until some connection sends; owned by the fan-out.
using WhiteBoard_Encoded = std::unique_ptr<STPAsciiOMsg>;

// What the store sends to a subscribed connection. The records belong to
// the caller and are valid during the call only; `encoded` is the slot of
// the change being passed on (a connection may fill it and use it).
class WhiteBoard_Subscriber {
 public:
  virtual ~WhiteBoard_Subscriber() = default;
  virtual void sendSetValue(const BoolValueInfo &info, WhiteBoard_Encoded &encoded) = 0;
  virtual void sendSetValue(const Int32ValueInfo &info, WhiteBoard_Encoded &encoded) = 0;
  virtual void sendSetValue(const StringValueInfo &info, WhiteBoard_Encoded &encoded) = 0;
  virtual void sendSetValue(const StringListValueInfo &info, WhiteBoard_Encoded &encoded) = 0;
  virtual void sendDeleteEvent(const char *group, const char *name, int type, WhiteBoard_Encoded &encoded) = 0;
};

class WhiteBoard_Image {
 public:
  WhiteBoard_Image() = default;
  // Saves every group with its use-disk flag set into its default file
  // (when the WhiteBoard directory is known), then destroys the groups.
  ~WhiteBoard_Image();
  WhiteBoard_Image(const WhiteBoard_Image &) = delete;
  WhiteBoard_Image &operator=(const WhiteBoard_Image &) = delete;

  // Creates the group when missing (with the flag and file name, copied).
  // An existing group gains the use-disk flag, and the file name when one
  // is given, only when `useDisk` is set. With `broadcastChanges` the
  // connection is subscribed to the group (once more each call). False
  // only for a null or empty group name.
  bool setupGroup(const char *groupName, bool broadcastChanges, bool useDisk, const char *fileName,
                  WhiteBoard_Subscriber *connection);
  // The group (owned by the store) or null.
  GroupServer *getGroup(const char *groupName) const;

  // False when the group or the name is missing (value untouched).
  bool getBoolValue(const char *group, const char *name, bool &value) const;
  bool getInt32Value(const char *group, const char *name, int &value) const;
  bool getStringValue(const char *group, const char *name, ut_string &value) const;
  bool getStringListValue(const char *group, const char *name, ut_string_list &value) const;

  // Store the value and send it to every subscriber of the group other
  // than `sender` (also when the value did not change). False, and nothing
  // stored or sent, when the group is missing or the name null or empty.
  bool setBoolValue(const char *group, const char *name, bool value, WhiteBoard_Subscriber *sender);
  bool setInt32Value(const char *group, const char *name, int value, WhiteBoard_Subscriber *sender);
  bool setStringValue(const char *group, const char *name, const char *value,
                      WhiteBoard_Subscriber *sender);
  bool setStringListValue(const char *group, const char *name, const ut_string_list &value,
                          WhiteBoard_Subscriber *sender);
  // Removes the name (see Group::deleteName); when something was removed,
  // sends a delete event to every subscriber other than `sender` and
  // returns true.
  bool deleteName(const char *group, const char *name, WhiteBoard_Type type,
                  WhiteBoard_Subscriber *sender);

  // GroupServer::saveToFile of the group; false when the group is missing.
  bool saveGroupToFile(const char *groupName, const char *fileName);

  // Whether the change keeps every string and the whole store within the
  // service limits (a value replaces what the name holds now). True for a
  // missing group or an unusable name: the setter refuses those itself.
  bool fitsGroup(const char *groupName, const char *fileName) const;
  bool fitsBoolValue(const char *group, const char *name) const;
  bool fitsInt32Value(const char *group, const char *name) const;
  bool fitsStringValue(const char *group, const char *name, const char *value) const;
  bool fitsStringListValue(const char *group, const char *name, const ut_string_list &value) const;
  // What the store holds, counted as service_limits.h says.
  size_t bytes() const { return bytes_; }

  // The groups a snapshot covers, owned by the store: every group in name
  // order, or only the one `onlyGroup` names when it is not null (none when
  // it is missing).
  std::vector<const GroupServer *> groups(const char *onlyGroup) const;

  // Removes every subscription of `connection`.
  void removeReferences(WhiteBoard_Subscriber *connection);

  // Number of subscription entries of `groupName` (0 when missing).
  int countSubscriptions(const char *groupName) const;
  int numGroups() const { return static_cast<int>(groups_.size()); }

 private:
  template <class Send>
  void fanOut(GroupServer *group, WhiteBoard_Subscriber *sender, Send send);

  // Whether `newCost` in place of what (group, name, type) holds fits.
  bool fitsValue(const char *group, const char *name, WhiteBoard_Type type, size_t newCost) const;

  std::map<ut_string, std::unique_ptr<GroupServer>> groups_;
  size_t bytes_ = 0;
  // The subscribers of each group in subscription order, one entry per
  // subscribing RegisterGroup; a fan-out walks them in place.
  std::map<GroupServer *, OwnedBroadcastList<WhiteBoard_Subscriber>> subscriptions_;
};
