// The six kinds of file-change event relayed from "BroadcastService.File.Notify"
// to "BroadcastService.File.Listen", and the per-listener filter over them.
// Plain data, one thread.
#pragma once

// In the order of the listener's filter flags.
enum FileEventKind {
  kFileModified = 0,
  kFileCreated,
  kFileRemoved,
  kFileRemotelyModified,
  kFileRemotelyAdded,
  kFileRemotelyRemoved,
  kFileEventKindCount
};

// The message name of a kind ("FileModified", ...); "" when out of range.
const char *FileEvent_MessageName(FileEventKind kind);

// Which kinds one listening connection wants. Every kind is wanted at
// first.
class FileBroadcast_ListenFlags {
 public:
  bool accepts(FileEventKind kind) const { return kind >= 0 && kind < kFileEventKindCount && flags[kind]; }
  // Sets the flag of one kind (out-of-range kinds are ignored).
  void set(FileEventKind kind, bool listen) {
    if (kind >= 0 && kind < kFileEventKindCount) flags[kind] = listen;
  }
  // Sets the three local-change flags (modified, created, removed) and
  // leaves the remote-change flags as they are.
  void listenForAll(bool listen) {
    flags[kFileModified] = listen;
    flags[kFileCreated] = listen;
    flags[kFileRemoved] = listen;
  }

 private:
  bool flags[kFileEventKindCount] = {true, true, true, true, true, true};
};
