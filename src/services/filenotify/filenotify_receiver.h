// FileNotify_Receiver: one notifying connection of the service
// "BroadcastService.File.Notify". Each file-change event it receives is
// relayed at once through the file-change relay (service support) to every
// listening connection, whose filter decides whether the listener hears it. The
// notifier's identity is not passed on: every relayed event carries source
// plugin id -1. Nothing is stored. Endpoints are reference counted, created
// by the factory and released by the router client. One thread.
#pragma once

#include "filenotify_receiver_impl.h"

class FileNotify_Receiver : public FileNotify_receiver_Impl {
 public:
  FileNotify_Receiver() = default;

  void msg_FileCreated(const char *filename) override;
  void msg_FileModified(const char *filename) override;
  void msg_FileRemotelyAdded(const char *repository_id, const char *filename, const char *branch_tag,
                             const char *modified_by, bool is_directory) override;
  void msg_FileRemotelyModified(const char *repository_id, const char *filename, const char *branch_tag,
                                const char *modified_by, const char *remote_version) override;
  void msg_FileRemotelyRemoved(const char *repository_id, const char *filename, const char *branch_tag,
                               const char *modified_by) override;
  void msg_FileRemoved(const char *filename) override;

  // The source plugin id every relayed event carries.
  static constexpr int kRelayedSourcePluginId = -1;

  // Connections counted against the exit condition; never changed from 0,
  // so notifying connections never keep the process alive.
  static int _num_connections;
};
