// FileNotify_Receiver: relays each received event to every forwarder over
// a referenced snapshot of the forwarder list.
#include "services/filenotify/filenotify_receiver.h"

#include "services/filebroadcast/filebroadcast_forwarder.h"

int FileNotify_Receiver::_num_connections = 0;

namespace {

template <class Relay>
void relayToForwarders(Relay relay) {
  BroadcastSnapshot<FileBroadcast_Forwarder> forwarders(file_forwarder_list);
  forwarders.forEach(relay);
}

constexpr int kSource = FileNotify_Receiver::kRelayedSourcePluginId;

}  // namespace

void FileNotify_Receiver::msg_FileCreated(const char *filename) {
  relayToForwarders([=](FileBroadcast_Forwarder *f) { f->fileCreated(kSource, filename); });
}

void FileNotify_Receiver::msg_FileModified(const char *filename) {
  relayToForwarders([=](FileBroadcast_Forwarder *f) { f->fileModified(kSource, filename); });
}

void FileNotify_Receiver::msg_FileRemoved(const char *filename) {
  relayToForwarders([=](FileBroadcast_Forwarder *f) { f->fileRemoved(kSource, filename); });
}

void FileNotify_Receiver::msg_FileRemotelyAdded(const char *repository_id, const char *filename,
                                                const char *branch_tag, const char *modified_by,
                                                bool is_directory) {
  relayToForwarders([=](FileBroadcast_Forwarder *f) {
    f->fileRemotelyAdded(kSource, repository_id, filename, branch_tag, modified_by, is_directory);
  });
}

void FileNotify_Receiver::msg_FileRemotelyModified(const char *repository_id, const char *filename,
                                                   const char *branch_tag, const char *modified_by,
                                                   const char *remote_version) {
  relayToForwarders([=](FileBroadcast_Forwarder *f) {
    f->fileRemotelyModified(kSource, repository_id, filename, branch_tag, modified_by, remote_version);
  });
}

void FileNotify_Receiver::msg_FileRemotelyRemoved(const char *repository_id, const char *filename,
                                                  const char *branch_tag, const char *modified_by) {
  relayToForwarders([=](FileBroadcast_Forwarder *f) {
    f->fileRemotelyRemoved(kSource, repository_id, filename, branch_tag, modified_by);
  });
}
