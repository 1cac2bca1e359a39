// FileNotify_Receiver: relays each received event to every forwarder over
// a referenced snapshot of the forwarder list.
#include "services/filenotify/filenotify_receiver.h"

#include <initializer_list>

#include "services/filebroadcast/filebroadcast_forwarder.h"
#include "services/servicerouter_proxy/service_limits.h"

int FileNotify_Receiver::_num_connections = 0;

namespace {

template <class Relay>
void relayToForwarders(Relay relay) {
  BroadcastSnapshot<FileBroadcast_Forwarder> forwarders(file_forwarder_list);
  forwarders.forEach(relay);
}

constexpr int kSource = FileNotify_Receiver::kRelayedSourcePluginId;

// Whether every string of an event may be passed on; warns naming the
// sender when one may not (the event is then dropped).
bool admitted(const FileNotify_Receiver *from, const char *message,
              std::initializer_list<const char *> strings) {
  for (const char *s : strings) {
    if (ServiceLimits_StringFits(s)) continue;
    ServiceLimits_Refuse(from, message, "a string of the event is too large");
    return false;
  }
  return true;
}

}  // namespace

void FileNotify_Receiver::msg_FileCreated(const char *filename) {
  if (!admitted(this, "[FileCreated]", {filename})) return;
  relayToForwarders([=](FileBroadcast_Forwarder *f) { f->fileCreated(kSource, filename); });
}

void FileNotify_Receiver::msg_FileModified(const char *filename) {
  if (!admitted(this, "[FileModified]", {filename})) return;
  relayToForwarders([=](FileBroadcast_Forwarder *f) { f->fileModified(kSource, filename); });
}

void FileNotify_Receiver::msg_FileRemoved(const char *filename) {
  if (!admitted(this, "[FileRemoved]", {filename})) return;
  relayToForwarders([=](FileBroadcast_Forwarder *f) { f->fileRemoved(kSource, filename); });
}

void FileNotify_Receiver::msg_FileRemotelyAdded(const char *repository_id, const char *filename,
                                                const char *branch_tag, const char *modified_by,
                                                bool is_directory) {
  if (!admitted(this, "[FileRemotelyAdded]", {repository_id, filename, branch_tag, modified_by})) return;
  relayToForwarders([=](FileBroadcast_Forwarder *f) {
    f->fileRemotelyAdded(kSource, repository_id, filename, branch_tag, modified_by, is_directory);
  });
}

void FileNotify_Receiver::msg_FileRemotelyModified(const char *repository_id, const char *filename,
                                                   const char *branch_tag, const char *modified_by,
                                                   const char *remote_version) {
  if (!admitted(this, "[FileRemotelyModified]", {repository_id, filename, branch_tag, modified_by, remote_version})) return;
  relayToForwarders([=](FileBroadcast_Forwarder *f) {
    f->fileRemotelyModified(kSource, repository_id, filename, branch_tag, modified_by, remote_version);
  });
}

void FileNotify_Receiver::msg_FileRemotelyRemoved(const char *repository_id, const char *filename,
                                                  const char *branch_tag, const char *modified_by) {
  if (!admitted(this, "[FileRemotelyRemoved]", {repository_id, filename, branch_tag, modified_by})) return;
  relayToForwarders([=](FileBroadcast_Forwarder *f) {
    f->fileRemotelyRemoved(kSource, repository_id, filename, branch_tag, modified_by);
  });
}
