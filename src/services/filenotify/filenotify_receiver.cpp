// FileNotify_Receiver: hands each received event to the file-change relay,
// which the listening side fans out to its listeners.
#include "services/filenotify/filenotify_receiver.h"

#include "services/support/file_change_relay.h"

int FileNotify_Receiver::_num_connections = 0;

namespace {

constexpr int kSource = FileNotify_Receiver::kRelayedSourcePluginId;

}  // namespace

void FileNotify_Receiver::msg_FileCreated(const char *filename) {
  FileChange_Relay(kSource, {.kind = FileChange::kCreated, .filename = filename});
}

void FileNotify_Receiver::msg_FileModified(const char *filename) {
  FileChange_Relay(kSource, {.kind = FileChange::kModified, .filename = filename});
}

void FileNotify_Receiver::msg_FileRemoved(const char *filename) {
  FileChange_Relay(kSource, {.kind = FileChange::kRemoved, .filename = filename});
}

void FileNotify_Receiver::msg_FileRemotelyAdded(const char *repository_id, const char *filename,
                                                const char *branch_tag, const char *modified_by,
                                                bool is_directory) {
  FileChange_Relay(kSource, {.kind = FileChange::kRemotelyAdded,
                             .filename = filename,
                             .repositoryId = repository_id,
                             .branchTag = branch_tag,
                             .modifiedBy = modified_by,
                             .isDirectory = is_directory});
}

void FileNotify_Receiver::msg_FileRemotelyModified(const char *repository_id, const char *filename,
                                                   const char *branch_tag, const char *modified_by,
                                                   const char *remote_version) {
  FileChange_Relay(kSource, {.kind = FileChange::kRemotelyModified,
                             .filename = filename,
                             .repositoryId = repository_id,
                             .branchTag = branch_tag,
                             .modifiedBy = modified_by,
                             .remoteVersion = remote_version});
}

void FileNotify_Receiver::msg_FileRemotelyRemoved(const char *repository_id, const char *filename,
                                                  const char *branch_tag, const char *modified_by) {
  FileChange_Relay(kSource, {.kind = FileChange::kRemotelyRemoved,
                             .filename = filename,
                             .repositoryId = repository_id,
                             .branchTag = branch_tag,
                             .modifiedBy = modified_by});
}
