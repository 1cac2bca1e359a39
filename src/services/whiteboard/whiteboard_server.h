// WhiteBoard_Server: the service "WhiteBoard", one endpoint per client
// connection over the process-wide WhiteBoard_Image.
//
// Clients register the groups they use, change and delete values, ask for
// snapshots, and hear about the changes other connections make to groups
// they subscribed to. A connection that registered a group with disk
// keeping merges that group into its file when it closes; the store saves
// every disk group once more at process exit. The module's process-wide
// objects (exit condition, store, factory) are built before main at the
// WhiteBoard rank of the module order. One thread: handlers run inside the
// event loop; every message sent is queued, never awaited.
#pragma once

#include "services/support/service_module.h"
#include "services/whiteboard/whiteboard_image.h"
#include "shared/libcxxutil/ut_string_list.h"
#include "whiteboard_server_impl.h"

class WhiteBoard_Server : public WhiteBoard_server_Impl, public WhiteBoard_Subscriber {
 public:
  // A new endpoint over `image` (not owned; the process-wide store unless
  // a test gives its own), holding one (the creation) reference; bind it
  // with setTransport. Counts one more open connection.
  explicit WhiteBoard_Server(WhiteBoard_Image *image = &whiteboard_image);

  // The handlers act on the store; the dispatcher owns every argument.
  void msg_RegisterGroup(const char *groupname, bool broadcast_changes, bool use_disk,
                         const char *use_filename) override;
  void msg_ChangeBoolValue(BoolValueInfo &info) override;
  void msg_ChangeInt32Value(Int32ValueInfo &info) override;
  void msg_ChangeStringValue(StringValueInfo &info) override;
  void msg_ChangeStringListValue(StringListValueInfo &info) override;
  void msg_DeleteName(const char *group, const char *name, int type) override;
  void msg_RequestAllChanges() override;
  void msg_RequestChangesInGroup(const char *groupname) override;
  void msg_SaveGroupChangesToFile(const char *groupname, const char *filename) override;

  // WhiteBoard_Subscriber: queue the matching message to this client (one
  // message per fan-out, encoded by its first connection).
  void sendSetValue(const BoolValueInfo &info, WhiteBoard_Encoded &encoded) override;
  void sendSetValue(const Int32ValueInfo &info, WhiteBoard_Encoded &encoded) override;
  void sendSetValue(const StringValueInfo &info, WhiteBoard_Encoded &encoded) override;
  void sendSetValue(const StringListValueInfo &info, WhiteBoard_Encoded &encoded) override;
  void sendDeleteEvent(const char *group, const char *name, int type, WhiteBoard_Encoded &encoded) override;

  // The groups this connection registered with disk keeping, in arrival
  // order (a group registered twice is listed twice).
  const ut_string_list &getDiskGroups() const { return diskGroups_; }

  // The process-wide store; lives until exit.
  static WhiteBoard_Image whiteboard_image;
  // Open WhiteBoard connections: while any is open the process stays.
  static int _num_connections;

 protected:
  // Endpoints are released through delRef only. Saves this connection's
  // disk groups into their files, then leaves every subscription.
  ~WhiteBoard_Server() override;

 private:
  // Sends Changes with the four arrays (all groups, or one when `group` is
  // not null) to this client.
  void sendChanges(const char *group);

  WhiteBoard_Image *image_;
  ut_string_list diskGroups_;
};

// The module's exit condition (allows exit while WhiteBoard_Server::_num_connections
// is 0) and its factory (a WhiteBoard_Server per connection of "WhiteBoard").
using WhiteBoard_Server_ExitCondition = ServiceModule<WhiteBoard_Server>::ExitCondition;
using WhiteBoard_Server_ServiceFactory = ServiceModule<WhiteBoard_Server>::Factory;

// The module's factory (built before main), for the program entry and tests.
WhiteBoard_Server_ServiceFactory *WhiteBoard_GetServiceFactory();
