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
  BroadcastSnapshot<FileBroadcast_Forwarder> forwarders(file_forwarder_list);
  forwarders.forEach([&](FileBroadcast_Forwarder *f) { f->fileChanged(source_pluginid, change); });
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

bool FileBroadcast_Forwarder::fileChanged(int source_pluginid, const FileChange &c) {
  switch (c.kind) {
    case FileChange::kCreated: return fileCreated(source_pluginid, c.filename);
    case FileChange::kModified: return fileModified(source_pluginid, c.filename);
    case FileChange::kRemoved: return fileRemoved(source_pluginid, c.filename);
    case FileChange::kRemotelyAdded:
      return fileRemotelyAdded(source_pluginid, c.repositoryId, c.filename, c.branchTag, c.modifiedBy,
                               c.isDirectory);
    case FileChange::kRemotelyModified:
      return fileRemotelyModified(source_pluginid, c.repositoryId, c.filename, c.branchTag, c.modifiedBy,
                                  c.remoteVersion);
    case FileChange::kRemotelyRemoved:
      return fileRemotelyRemoved(source_pluginid, c.repositoryId, c.filename, c.branchTag, c.modifiedBy);
  }
  return false;
}
