// FileBroadcast_Forwarder: filter requests and the filtered, queued sends
// of file-change events to one listener.
#include "services/filebroadcast/filebroadcast_forwarder.h"

int FileBroadcast_Forwarder::_num_connections = 0;

// Constant-initialised: usable by forwarders created or released at any
// time, including after static destruction began.
constinit BroadcastList<FileBroadcast_Forwarder> file_forwarder_list;

const char *FileEvent_MessageName(FileEventKind kind) {
  static const char *const names[kFileEventKindCount] = {
      "FileModified",         "FileCreated",       "FileRemoved",
      "FileRemotelyModified", "FileRemotelyAdded", "FileRemotelyRemoved"};
  return kind >= 0 && kind < kFileEventKindCount ? names[kind] : "";
}

namespace {

// The file-change relay: every forwarder, in list order, over a referenced
// snapshot of the list.
void relayToForwarders(int source_pluginid, const FileChange &change) {
  FileBroadcast_Forwarder::Change relayed(source_pluginid, change);
  BroadcastSnapshot<FileBroadcast_Forwarder> forwarders(file_forwarder_list);
  forwarders.forEach([&relayed](FileBroadcast_Forwarder *f) { f->fileChanged(relayed); });
}

}  // namespace

FileBroadcast_Forwarder::FileBroadcast_Forwarder() {
  FileChange_SetRelay(relayToForwarders);
  file_forwarder_list.add(this);
}

FileBroadcast_Forwarder::~FileBroadcast_Forwarder() { file_forwarder_list.remove(this); }

void FileBroadcast_Forwarder::msg_ListenForAll(bool listen) { listenFlags.listenForAll(listen); }

void FileBroadcast_Forwarder::msg_ListenForFileCreated(bool listen) { listenFlags.set(kFileCreated, listen); }

void FileBroadcast_Forwarder::msg_ListenForFileModified(bool listen) { listenFlags.set(kFileModified, listen); }

void FileBroadcast_Forwarder::msg_ListenForFileRemotelyAdded(bool listen) {
  listenFlags.set(kFileRemotelyAdded, listen);
}

void FileBroadcast_Forwarder::msg_ListenForFileRemotelyModified(bool listen) {
  listenFlags.set(kFileRemotelyModified, listen);
}

void FileBroadcast_Forwarder::msg_ListenForFileRemotelyRemoved(bool listen) {
  listenFlags.set(kFileRemotelyRemoved, listen);
}

void FileBroadcast_Forwarder::msg_ListenForFileRemoved(bool listen) { listenFlags.set(kFileRemoved, listen); }

bool FileBroadcast_Forwarder::fileCreated(int source_pluginid, const char *filename) {
  return listenFlags.accepts(kFileCreated) && send_FileCreated(source_pluginid, filename, false);
}

bool FileBroadcast_Forwarder::fileModified(int source_pluginid, const char *filename) {
  return listenFlags.accepts(kFileModified) && send_FileModified(source_pluginid, filename, false);
}

bool FileBroadcast_Forwarder::fileRemoved(int source_pluginid, const char *filename) {
  return listenFlags.accepts(kFileRemoved) && send_FileRemoved(source_pluginid, filename, false);
}

bool FileBroadcast_Forwarder::fileRemotelyAdded(int source_pluginid, const char *repository_id,
                                                const char *filename, const char *branch_tag,
                                                const char *modified_by, bool is_directory) {
  return listenFlags.accepts(kFileRemotelyAdded) &&
         send_FileRemotelyAdded(source_pluginid, repository_id, filename, branch_tag, modified_by,
                                is_directory, false);
}

bool FileBroadcast_Forwarder::fileRemotelyModified(int source_pluginid, const char *repository_id,
                                                   const char *filename, const char *branch_tag,
                                                   const char *modified_by, const char *remote_version) {
  return listenFlags.accepts(kFileRemotelyModified) &&
         send_FileRemotelyModified(source_pluginid, repository_id, filename, branch_tag, modified_by,
                                   remote_version, false);
}

bool FileBroadcast_Forwarder::fileRemotelyRemoved(int source_pluginid, const char *repository_id,
                                                  const char *filename, const char *branch_tag,
                                                  const char *modified_by) {
  return listenFlags.accepts(kFileRemotelyRemoved) &&
         send_FileRemotelyRemoved(source_pluginid, repository_id, filename, branch_tag, modified_by,
                                  false);
}

FileEventKind FileBroadcast_Forwarder::Change::kind() const {
  switch (change_.kind) {
    case FileChange::kCreated: return kFileCreated;
    case FileChange::kModified: return kFileModified;
    case FileChange::kRemoved: return kFileRemoved;
    case FileChange::kRemotelyAdded: return kFileRemotelyAdded;
    case FileChange::kRemotelyModified: return kFileRemotelyModified;
    case FileChange::kRemotelyRemoved: return kFileRemotelyRemoved;
  }
  return kFileEventKindCount;
}

STPAsciiOMsg *FileBroadcast_Forwarder::Change::message() {
  if (message_) return message_.get();
  const FileChange &c = change_;
  switch (c.kind) {
    case FileChange::kCreated: message_ = encode_FileCreated(source_, c.filename); break;
    case FileChange::kModified: message_ = encode_FileModified(source_, c.filename); break;
    case FileChange::kRemoved: message_ = encode_FileRemoved(source_, c.filename); break;
    case FileChange::kRemotelyAdded:
      message_ = encode_FileRemotelyAdded(source_, c.repositoryId, c.filename, c.branchTag, c.modifiedBy,
                                          c.isDirectory);
      break;
    case FileChange::kRemotelyModified:
      message_ = encode_FileRemotelyModified(source_, c.repositoryId, c.filename, c.branchTag, c.modifiedBy,
                                             c.remoteVersion);
      break;
    case FileChange::kRemotelyRemoved:
      message_ = encode_FileRemotelyRemoved(source_, c.repositoryId, c.filename, c.branchTag, c.modifiedBy);
      break;
  }
  return message_.get();
}

bool FileBroadcast_Forwarder::fileChanged(Change &change) {
  if (!listenFlags.accepts(change.kind())) return false;
  STPAsciiOMsg *msg = change.message();
  switch (change.change().kind) {
    case FileChange::kCreated: return sendEncoded_FileCreated(msg);
    case FileChange::kModified: return sendEncoded_FileModified(msg);
    case FileChange::kRemoved: return sendEncoded_FileRemoved(msg);
    case FileChange::kRemotelyAdded: return sendEncoded_FileRemotelyAdded(msg);
    case FileChange::kRemotelyModified: return sendEncoded_FileRemotelyModified(msg);
    case FileChange::kRemotelyRemoved: return sendEncoded_FileRemotelyRemoved(msg);
  }
  return false;
}
