// FileBroadcast_Forwarder: one listening connection of the service
// "BroadcastService.File.Listen". The listener narrows down the kinds of
// file-change event it wants with the ListenFor* requests; the file-change
// relay (installed by the first forwarder) hands every event the notifying
// side receives to every forwarder, which sends it on when the listener's
// filter accepts it. Sends are queued on the
// transport (the event loop writes them); a listener whose connection is
// down misses the event (the generated sender logs "SEND FAILED: ...").
//
// Every forwarder is in the process-wide file_forwarder_list, in order of
// creation, from its constructor to its destructor. Endpoints are
// reference counted: created by the factory with one reference, released by
// the router client. One thread.
#pragma once

#include <memory>

#include "filebroadcast_forwarder_impl.h"
#include "services/filebroadcast/file_events.h"
#include "services/support/broadcast_list.h"
#include "services/support/file_change_relay.h"

class FileBroadcast_Forwarder : public FileBroadcast_forwarder_Impl {
 public:
  // Listens for every kind; installs the file-change relay and appends
  // itself to file_forwarder_list.
  FileBroadcast_Forwarder();
  // Leaves file_forwarder_list.
  ~FileBroadcast_Forwarder() override;

  // Filter requests: each sets its kind's flag; ListenForAll sets the
  // three local-change flags only.
  void msg_ListenForAll(bool listen) override;
  void msg_ListenForFileCreated(bool listen) override;
  void msg_ListenForFileModified(bool listen) override;
  void msg_ListenForFileRemotelyAdded(bool listen) override;
  void msg_ListenForFileRemotelyModified(bool listen) override;
  void msg_ListenForFileRemotelyRemoved(bool listen) override;
  void msg_ListenForFileRemoved(bool listen) override;

  // One event each: queued for the listener when its filter accepts the
  // kind. True when queued; false when filtered out or the send failed.
  // The strings are not kept.
  bool fileCreated(int source_pluginid, const char *filename);
  bool fileModified(int source_pluginid, const char *filename);
  bool fileRemoved(int source_pluginid, const char *filename);
  bool fileRemotelyAdded(int source_pluginid, const char *repository_id, const char *filename,
                         const char *branch_tag, const char *modified_by, bool is_directory);
  bool fileRemotelyModified(int source_pluginid, const char *repository_id, const char *filename,
                            const char *branch_tag, const char *modified_by, const char *remote_version);
  bool fileRemotelyRemoved(int source_pluginid, const char *repository_id, const char *filename,
                           const char *branch_tag, const char *modified_by);

  // One change relayed to every forwarder: the message is encoded once, by
  // the first forwarder whose filter accepts it, and each forwarder queues
  // it with only its own header. True when queued; false when filtered out
  // or the send failed.
  class Change;
  bool fileChanged(Change &change);

  const FileBroadcast_ListenFlags &getListenFlags() const { return listenFlags; }

  // Connections counted against the exit condition; never changed from 0,
  // so listening connections never keep the process alive.
  static int _num_connections;

 private:
  FileBroadcast_ListenFlags listenFlags;
};

// A file change stamped with its source plugin id, and its message once
// some forwarder asked for it (owned). Lives for one relay.
class FileBroadcast_Forwarder::Change {
 public:
  Change(int sourcePluginId, const FileChange &change) : source_(sourcePluginId), change_(change) {}
  const FileChange &change() const { return change_; }
  // The filter kind of the change.
  FileEventKind kind() const;
  // The encoded message, built on the first call.
  STPAsciiOMsg *message();

 private:
  int source_;
  const FileChange &change_;
  std::unique_ptr<STPAsciiOMsg> message_;
};

// Every live forwarder, in order of creation (not owned, not referenced).
extern BroadcastList<FileBroadcast_Forwarder> file_forwarder_list;
