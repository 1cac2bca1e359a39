// File-change relaying over real connections: generated notifier and
// listener endpoints on one transport, the receiver and forwarder endpoints
// on the other, as in the state manager.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "filebroadcast_testkit.h"
#include "filenotify_notifier_impl.h"
#include "services/filebroadcast/filebroadcast_forwarder.h"
#include "services/filenotify/filenotify_receiver.h"
#include "services/service_connections.h"

namespace {

using Lines = std::vector<std::string>;

// Records every event as "<name> <body text>" (the message text as it came
// over the wire) into a sequence shared by several listeners.
class Listener : public FileBroadcast_listener_Recorder {
 public:
  Lines *shared = nullptr;
  std::string name;
  int received = 0;
  void handleAsciiMessage(STPAsciiIMsg *msg, STPAsciiOMsg *reply, int id) override {
    ++received;
    shared->push_back(name + " " + msg->getAsciiContent());
    FileBroadcast_listener_Recorder::handleAsciiMessage(msg, reply, id);
  }
};

class FileRelayTest : public ::testing::Test {
 protected:
  struct Conn {
    FileBroadcast_Forwarder *forwarder;
    Listener *client;
  };
  FileNotify_notifier_Impl *notifier() {
    bool ok = false;
    auto [r, c] = h.make<FileNotify_Receiver, FileNotify_notifier_Impl>(&ok);
    EXPECT_TRUE(ok);
    return c;
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
  ServiceConnections h;
  Lines seq;
  TStat st;
};

// Without listeners events are dropped; a listener hears only later
// events, filtered by its own flags, in listener creation order.
TEST_F(FileRelayTest, FilterAndCreationOrder) {
  FileNotify_notifier_Impl *n = notifier();
  ASSERT_TRUE(n->send_FileCreated("/a", true, &h.pump, &st));
  h.settle();
  Conn first = listener("first");
  listener("second");
  ASSERT_TRUE(first.client->send_ListenForFileModified(false, true, &h.pump, &st));
  h.settle();
  ASSERT_TRUE(n->send_FileModified("/m", true, &h.pump, &st));
  ASSERT_TRUE(n->send_FileCreated("/c", true, &h.pump, &st));
  ASSERT_TRUE(waitFor(3));
  h.settle();
  EXPECT_EQ(seq, (Lines{"second FileModified source_pluginid:0xffffffff filename:\"/m\" ",
                        "first FileCreated source_pluginid:0xffffffff filename:\"/c\" ",
                        "second FileCreated source_pluginid:0xffffffff filename:\"/c\" "}));
}

// Every kind is relayed unchanged with source -1; is_directory is made 0
// or 1; missing and unterminated fields are relayed as null; unknown ids
// and names are dropped and the connections keep working.
TEST_F(FileRelayTest, EveryKindRelayedUnchangedWithSourceMinusOne) {
  FileNotify_notifier_Impl *n = notifier();
  listener("l");
  ASSERT_TRUE(n->send_FileCreated("/c", true, &h.pump, &st));
  ASSERT_TRUE(n->send_FileModified("/m", true, &h.pump, &st));
  ASSERT_TRUE(n->send_FileRemoved("/r", true, &h.pump, &st));
  ASSERT_TRUE(n->send_FileRemotelyAdded("R", "/ra", "B", "who", true, true, &h.pump, &st));
  ASSERT_TRUE(n->send_FileRemotelyModified("R", "/rm", "B", "who", "1.2", true, &h.pump, &st));
  ASSERT_TRUE(n->send_FileRemotelyRemoved("R", "/rr", "", nullptr, true, &h.pump, &st));
  h.sendRaw(n, 2, "FileRemotelyAdded repository_id:\"R\" filename:\"/d\" is_directory:0x7");
  h.sendRaw(n, 0, "FileCreated");
  h.sendRaw(n, 5, "FileRemoved filename:\"unterminated");
  h.sendRaw(n, 42, "FileCreated filename:\"/ignored\"");
  h.sendRaw(n, -1, "NoSuchEvent filename:\"/x\"");
  ASSERT_TRUE(n->send_FileModified("/ok", true, &h.pump, &st));
  ASSERT_TRUE(waitFor(10));
  h.settle();
  const std::string s = "source_pluginid:0xffffffff ";
  EXPECT_EQ(seq, (Lines{"l FileCreated " + s + "filename:\"/c\" ", "l FileModified " + s + "filename:\"/m\" ",
                        "l FileRemoved " + s + "filename:\"/r\" ",
                        "l FileRemotelyAdded " + s + "repository_id:\"R\" filename:\"/ra\" "
                        "branch_tag:\"B\" modified_by:\"who\" is_directory:0x1 ",
                        "l FileRemotelyModified " + s + "repository_id:\"R\" filename:\"/rm\" "
                        "branch_tag:\"B\" modified_by:\"who\" remote_version:\"1.2\" ",
                        "l FileRemotelyRemoved " + s + "repository_id:\"R\" filename:\"/rr\" "
                        "branch_tag:\"\" modified_by:null ",
                        "l FileRemotelyAdded " + s + "repository_id:\"R\" filename:\"/d\" "
                        "branch_tag:null modified_by:null is_directory:0x1 ",
                        "l FileCreated " + s + "filename:null ", "l FileRemoved " + s + "filename:null ",
                        "l FileModified " + s + "filename:\"/ok\" "}));
}

// A listener whose connection ends while another is sent to is skipped and
// forgotten; so is one that ends during its own send.
TEST_F(FileRelayTest, ListenerDroppedDuringRelayIsSkippedAndForgotten) {
  FileNotify_notifier_Impl *n = notifier();
  Conn a = listener("a"), b = listener("b"), c = listener("c");
  int before = file_forwarder_list.size();
  h.dropOnFirstSend(a.forwarder, b.forwarder);
  ASSERT_TRUE(n->send_FileCreated("/1", true, &h.pump, &st));
  ASSERT_TRUE(waitFor(2));
  h.settle();
  ASSERT_EQ(seq.size(), 2u);
  EXPECT_EQ(seq[0].substr(0, 13) + seq[1].substr(0, 13), "a FileCreatedc FileCreated");
  EXPECT_EQ(file_forwarder_list.size(), before - 1);
  a.forwarder->setSendLogging(nullptr);
  h.dropOnFirstSend(c.forwarder, c.forwarder);
  ASSERT_TRUE(n->send_FileRemoved("/2", true, &h.pump, &st));
  ASSERT_TRUE(h.until([&] { return a.client->received == 2; }));
  h.settle();
  EXPECT_EQ(file_forwarder_list.size(), before - 2);
  int cHeard = c.client->received;
  ASSERT_TRUE(n->send_FileRemoved("/3", true, &h.pump, &st));
  ASSERT_TRUE(h.until([&] { return a.client->received == 3; }));
  h.settle();
  EXPECT_EQ(c.client->received, cHeard);
  EXPECT_EQ(b.client->received, 0);
}

}  // namespace
