// The listener filter, without sockets.
#include <gtest/gtest.h>

#include <string>

#include "services/filebroadcast/file_events.h"
#include "services/filebroadcast/filebroadcast_forwarder.h"

namespace {

std::string flagsOf(const FileBroadcast_ListenFlags &f) {
  std::string s;
  for (int k = 0; k < kFileEventKindCount; ++k) s += f.accepts(static_cast<FileEventKind>(k)) ? '1' : '0';
  return s;
}

TEST(FileListenFlags, EveryKindAtFirstAndListenForAllLeavesRemoteFlags) {
  FileBroadcast_ListenFlags f;
  // Order: modified, created, removed, remotely modified/added/removed.
  EXPECT_EQ(flagsOf(f), "111111");
  f.listenForAll(false);
  EXPECT_EQ(flagsOf(f), "000111");
  f.set(kFileRemotelyAdded, false);
  EXPECT_EQ(flagsOf(f), "000101");
  f.listenForAll(true);
  EXPECT_EQ(flagsOf(f), "111101");
  f.set(kFileCreated, false);
  EXPECT_EQ(flagsOf(f), "101101");
  f.set(kFileEventKindCount, false);  // out of range: ignored
  EXPECT_FALSE(f.accepts(kFileEventKindCount));
  EXPECT_EQ(flagsOf(f), "101101");
}

TEST(FileForwarder, FilterRequestsSetTheirFlags) {
  FileBroadcast_Forwarder *f = new FileBroadcast_Forwarder();
  f->msg_ListenForFileModified(false);
  EXPECT_EQ(flagsOf(f->getListenFlags()), "011111");
  f->msg_ListenForAll(false);
  f->msg_ListenForFileRemotelyModified(false);
  EXPECT_EQ(flagsOf(f->getListenFlags()), "000011");
  f->msg_ListenForFileRemoved(true);
  f->msg_ListenForFileRemotelyRemoved(false);
  f->msg_ListenForFileCreated(true);
  f->msg_ListenForFileRemotelyAdded(false);
  EXPECT_EQ(flagsOf(f->getListenFlags()), "011000");
  // A filtered-out event is not sent; an accepted one on an endpoint
  // without a connection fails to send.
  EXPECT_FALSE(f->fileModified(-1, "a"));
  EXPECT_FALSE(f->fileCreated(-1, "a"));
  f->delRef();
}

}  // namespace
