// The seam between the two halves of the file-change broadcast. The
// notifying side hands every event it receives to FileChange_Relay; the
// listening side installs, with FileChange_SetRelay, the function that
// passes the event on to its listeners. Neither side knows the other.
// Until a relay is installed events go nowhere: the listening side installs
// it when its first listener appears, so no listener can miss one. The
// relay is a constant-initialised pointer, valid at any time. One thread.
#pragma once

// One file-change event. The strings are borrowed for the call; the ones a
// kind does not carry are null (and isDirectory false).
struct FileChange {
  enum Kind { kCreated, kModified, kRemoved, kRemotelyAdded, kRemotelyModified, kRemotelyRemoved };
  Kind kind;
  const char *filename = nullptr;
  const char *repositoryId = nullptr;
  const char *branchTag = nullptr;
  const char *modifiedBy = nullptr;
  const char *remoteVersion = nullptr;
  bool isDirectory = false;
};

// Passes one change, stamped with the source plugin id it is relayed with.
using FileChangeRelay = void (*)(int sourcePluginId, const FileChange &change);

inline constinit FileChangeRelay fileChangeRelay = nullptr;

// Installs `relay` (null: drop events from now on).
inline void FileChange_SetRelay(FileChangeRelay relay) { fileChangeRelay = relay; }

// Hands `change` to the installed relay; does nothing when there is none.
inline void FileChange_Relay(int sourcePluginId, const FileChange &change) {
  if (fileChangeRelay) fileChangeRelay(sourcePluginId, change);
}
