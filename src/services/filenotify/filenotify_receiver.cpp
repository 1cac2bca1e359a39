// FileNotify_Receiver: hands each received event to the file-change relay,
// which the listening side fans out to its listeners. Events with a string
// over the service limit are dropped with a warning instead.
#include "services/filenotify/filenotify_receiver.h"

#include "services/support/file_change_relay.h"
#include "services/support/service_limits.h"

int FileNotify_Receiver::_num_connections = 0;

namespace {

constexpr int kSource = FileNotify_Receiver::kRelayedSourcePluginId;

// Relays `change` when every string of it may be passed on; otherwise warns
// naming the sender and drops the event. `message` names the event.
void relayAdmitted(const FileNotify_Receiver *from, const char *message, const FileChange &change) {
  for (const char *s : {change.filename, change.repositoryId, change.branchTag, change.modifiedBy,
                        change.remoteVersion}) {
    if (ServiceLimits_StringFits(s)) continue;
    ServiceLimits_Refuse(from, message, "a string of the event is too large");
    return;
  }
  FileChange_Relay(kSource, change);
}

}  // namespace

void FileNotify_Receiver::msg_FileCreated(const char *filename) {
  relayAdmitted(this, "[FileCreated]", {.kind = FileChange::kCreated, .filename = filename});
}

void FileNotify_Receiver::msg_FileModified(const char *filename) {
  relayAdmitted(this, "[FileModified]", {.kind = FileChange::kModified, .filename = filename});
}

void FileNotify_Receiver::msg_FileRemoved(const char *filename) {
  relayAdmitted(this, "[FileRemoved]", {.kind = FileChange::kRemoved, .filename = filename});
}

void FileNotify_Receiver::msg_FileRemotelyAdded(const char *repository_id, const char *filename,
                                                const char *branch_tag, const char *modified_by,
                                                bool is_directory) {
  relayAdmitted(this, "[FileRemotelyAdded]",
                {.kind = FileChange::kRemotelyAdded,
                 .filename = filename,
                 .repositoryId = repository_id,
                 .branchTag = branch_tag,
                 .modifiedBy = modified_by,
                 .isDirectory = is_directory});
}

void FileNotify_Receiver::msg_FileRemotelyModified(const char *repository_id, const char *filename,
                                                   const char *branch_tag, const char *modified_by,
                                                   const char *remote_version) {
  relayAdmitted(this, "[FileRemotelyModified]",
                {.kind = FileChange::kRemotelyModified,
                 .filename = filename,
                 .repositoryId = repository_id,
                 .branchTag = branch_tag,
                 .modifiedBy = modified_by,
                 .remoteVersion = remote_version});
}

void FileNotify_Receiver::msg_FileRemotelyRemoved(const char *repository_id, const char *filename,
                                                  const char *branch_tag, const char *modified_by) {
  relayAdmitted(this, "[FileRemotelyRemoved]",
                {.kind = FileChange::kRemotelyRemoved,
                 .filename = filename,
                 .repositoryId = repository_id,
                 .branchTag = branch_tag,
                 .modifiedBy = modified_by});
}
