// File-change relaying over real connections: generated notifier and
// listener endpoints on one transport, the receiver and forwarder endpoints
// on the other, as in the state manager.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "filebroadcast_testkit.h"
#include "filenotify_notifier_impl.h"
#include "services/service_connections.h"
#include "services/filebroadcast/filebroadcast_forwarder.h"
#include "services/filenotify/filenotify_receiver.h"
#include "shared/stp_transport/stp_amsg.h"

namespace {

// Records every event as "<name> <body text>" (the message text as it came
// over the wire) into a sequence shared by several listeners.
class Listener : public FileBroadcast_listener_Recorder {
 public:
  std::vector<std::string> *shared = nullptr;
  std::string name;
  int received = 0;
  void handleAsciiMessage(STPAsciiIMsg *msg, STPAsciiOMsg *reply, int id) override {
    ++received;
    if (shared) shared->push_back(name + " " + msg->getAsciiContent());
    FileBroadcast_listener_Recorder::handleAsciiMessage(msg, reply, id);
  }
};

class FileRelayTest : public ::testing::Test {
 protected:
  struct Notifier {
    FileNotify_Receiver *receiver;
    FileNotify_notifier_Impl *client;
  };
  struct Conn {
    FileBroadcast_Forwarder *forwarder;
    Listener *client;
  };
  Notifier notifier() {
    bool ok = false;
    auto [r, c] = h.make<FileNotify_Receiver, FileNotify_notifier_Impl>(&ok);
    EXPECT_TRUE(ok);
    return {r, c};
  }
  Conn listener(const char *name) {
    bool ok = false;
    auto [f, c] = h.make<FileBroadcast_Forwarder, Listener>(&ok);
    EXPECT_TRUE(ok);
    c->name = name;
    c->shared = &seq;
    return {f, c};
  }
  bool waitFor(size_t n) {
    return h.until([&] { return seq.size() >= n; });
  }
  // A filter request, written at once; the forwarder has it once the pump
  // has run.
  void filter(Conn c, bool (FileBroadcast_listener_Impl::*req)(bool, bool, RetryHandler *, TStat *),
              bool listen) {
    TStat st;
    ASSERT_TRUE((c.client->*req)(listen, true, &h.pump, &st)) << st.message;
  }

  ServiceConnections h;
  std::vector<std::string> seq;
};

// Without listeners events are dropped; a listener hears only later
// events, filtered by its own flags, in listener creation order.
TEST_F(FileRelayTest, FilterAndCreationOrder) {
  Notifier n = notifier();
  TStat st;
  ASSERT_TRUE(n.client->send_FileCreated("/a", true, &h.pump, &st));
  h.settle();
  Conn first = listener("first");
  listener("second");
  filter(first, &FileBroadcast_listener_Impl::send_ListenForFileModified, false);
  h.settle();
  ASSERT_TRUE(n.client->send_FileModified("/m", true, &h.pump, &st));
  ASSERT_TRUE(n.client->send_FileCreated("/c", true, &h.pump, &st));
  ASSERT_TRUE(waitFor(3));
  h.settle();
  EXPECT_EQ(seq, (std::vector<std::string>{
                     "second FileModified source_pluginid:0xffffffff filename:\"/m\" ",
                     "first FileCreated source_pluginid:0xffffffff filename:\"/c\" ",
                     "second FileCreated source_pluginid:0xffffffff filename:\"/c\" "}));
}

TEST_F(FileRelayTest, EveryKindRelayedUnchangedWithSourceMinusOne) {
  Notifier n = notifier();
  listener("l");
  TStat st;
  ASSERT_TRUE(n.client->send_FileCreated("/c", true, &h.pump, &st));
  ASSERT_TRUE(n.client->send_FileModified("/m", true, &h.pump, &st));
  ASSERT_TRUE(n.client->send_FileRemoved("/r", true, &h.pump, &st));
  ASSERT_TRUE(n.client->send_FileRemotelyAdded("R", "/ra", "B", "who", true, true, &h.pump, &st));
  ASSERT_TRUE(n.client->send_FileRemotelyModified("R", "/rm", "B", "who", "1.2", true, &h.pump, &st));
  ASSERT_TRUE(n.client->send_FileRemotelyRemoved("R", "/rr", "", nullptr, true, &h.pump, &st));
  ASSERT_TRUE(waitFor(6));
  EXPECT_EQ(seq, (std::vector<std::string>{
      "l FileCreated source_pluginid:0xffffffff filename:\"/c\" ",
      "l FileModified source_pluginid:0xffffffff filename:\"/m\" ",
      "l FileRemoved source_pluginid:0xffffffff filename:\"/r\" ",
      "l FileRemotelyAdded source_pluginid:0xffffffff repository_id:\"R\" filename:\"/ra\" "
      "branch_tag:\"B\" modified_by:\"who\" is_directory:0x1 ",
      "l FileRemotelyModified source_pluginid:0xffffffff repository_id:\"R\" filename:\"/rm\" "
      "branch_tag:\"B\" modified_by:\"who\" remote_version:\"1.2\" ",
      "l FileRemotelyRemoved source_pluginid:0xffffffff repository_id:\"R\" filename:\"/rr\" "
      "branch_tag:\"\" modified_by:null "}));
}


TEST_F(FileRelayTest, IsDirectoryIsNormalisedAndMissingFieldsRelayed) {
  Notifier n = notifier();
  listener("l");
  auto raw = [&](int id, const char *text) { h.sendRaw(n.client, id, text); };
  raw(2, "FileRemotelyAdded repository_id:\"R\" filename:\"/d\" branch_tag:\"B\" modified_by:\"w\" is_directory:0x7");
  raw(0, "FileCreated");                       // no file name at all
  raw(5, "FileRemoved filename:\"unterminated");  // a string that never ends
  raw(42, "FileCreated filename:\"/ignored\"");   // id outside the table
  raw(-1, "NoSuchEvent filename:\"/x\"");
  ASSERT_TRUE(waitFor(3));
  h.settle();
  ASSERT_EQ(seq.size(), 3u);
  EXPECT_EQ(seq[0], "l FileRemotelyAdded source_pluginid:0xffffffff repository_id:\"R\" filename:\"/d\" "
                    "branch_tag:\"B\" modified_by:\"w\" is_directory:0x1 ");
  EXPECT_EQ(seq[1], "l FileCreated source_pluginid:0xffffffff filename:null ");
  EXPECT_EQ(seq[2], "l FileRemoved source_pluginid:0xffffffff filename:null ");
  // The connections keep working.
  TStat st;
  ASSERT_TRUE(n.client->send_FileModified("/ok", true, &h.pump, &st));
  ASSERT_TRUE(waitFor(4));
}

struct DropArgs {
  ServiceConnections *h;
  STPSpecClass *victim;
};

void dropVictim(void *arg) {
  auto *d = static_cast<DropArgs *>(arg);
  d->h->drop(d->victim);
}

TEST_F(FileRelayTest, ListenerDroppedDuringRelayIsSkippedAndForgotten) {
  Notifier n = notifier();
  Conn a = listener("a");
  Conn b = listener("b");
  Conn c = listener("c");
  int before = file_forwarder_list.size();
  HookLog aSend;
  DropArgs args{&h, b.forwarder};
  aSend.hook = dropVictim;
  aSend.hookArg = &args;
  a.forwarder->setSendLogging(&aSend);
  TStat st;
  ASSERT_TRUE(n.client->send_FileCreated("/1", true, &h.pump, &st));
  ASSERT_TRUE(waitFor(2));
  h.settle();
  ASSERT_EQ(seq.size(), 2u);
  EXPECT_EQ(seq[0].substr(0, 13), "a FileCreated");
  EXPECT_EQ(seq[1].substr(0, 13), "c FileCreated");
  EXPECT_EQ(file_forwarder_list.size(), before - 1);
  // A listener that drops itself while its own event is sent.
  HookLog cSend;
  DropArgs self{&h, c.forwarder};
  cSend.hook = dropVictim;
  cSend.hookArg = &self;
  c.forwarder->setSendLogging(&cSend);
  ASSERT_TRUE(n.client->send_FileRemoved("/2", true, &h.pump, &st));
  ASSERT_TRUE(h.until([&] { return a.client->received == 2; }));
  h.settle();
  EXPECT_EQ(file_forwarder_list.size(), before - 2);
  int cHeard = c.client->received;
  ASSERT_TRUE(n.client->send_FileRemoved("/3", true, &h.pump, &st));
  ASSERT_TRUE(h.until([&] { return a.client->received == 3; }));
  h.settle();
  EXPECT_EQ(c.client->received, cHeard);
  EXPECT_EQ(b.client->received, 0);
}

}  // namespace
