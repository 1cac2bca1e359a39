// ConfigService_Server handlers over real connections: generated client
// endpoints on one transport, service endpoints on the other, as in the
// state manager. Covers storing and answering ListenForConfigs, fan-out
// order, block brackets, the sending discipline, listeners that go away
// (also in the middle of a fan-out) and malformed requests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "configservice_testkit.h"
#include "services/service_connections.h"
#include "services/configservice/config_server.h"
#include "shared/stp_transport/stp_amsg.h"

namespace {

// Records what a listener receives, also into a sequence shared by several
// listeners (to see the order across them).
class Listener : public ConfigService_client_Recorder {
 public:
  std::vector<std::string> *shared = nullptr;
  std::string name;
  void note(const std::string &what) {
    if (shared) shared->push_back(name + " " + what);
  }
  void msg_ReceiveNotification(const char *line) override {
    note(std::string("note ") + (line ? line : "(null)"));
    ConfigService_client_Recorder::msg_ReceiveNotification(line);
  }
  void msg_ReceiveMessage(int type, const char *message) override {
    note("msg " + std::to_string(type) + " " + (message ? message : "(null)"));
    ConfigService_client_Recorder::msg_ReceiveMessage(type, message);
  }
  void msg_ReceiveStartBlockBroadcast() override {
    note("start");
    ConfigService_client_Recorder::msg_ReceiveStartBlockBroadcast();
  }
  void msg_ReceiveEndBlockBroadcast() override {
    note("end");
    ConfigService_client_Recorder::msg_ReceiveEndBlockBroadcast();
  }
};

class ConfigServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ConfigService_Server::configArray().clear(); }
  void TearDown() override { ConfigService_Server::configArray().clear(); }

  struct Conn {
    ConfigService_Server *server;
    Listener *client;
  };
  Conn connect(const char *name) {
    bool ok = false;
    auto [s, c] = h.make<ConfigService_Server, Listener>(&ok);
    EXPECT_TRUE(ok);
    c->name = name;
    c->shared = &seq;
    return {s, c};
  }
  // ListenForConfigs from `c`; the answered lines ("(null)" for null).
  std::vector<std::string> listen(Conn c) {
    ConfigService_STRING_ARRAY items;
    TStat st;
    EXPECT_TRUE(c.client->send_ListenForConfigs(&items, &h.pump, &st)) << st.message;
    std::vector<std::string> out;
    for (int i = 0; i < items.count; ++i) out.push_back(items.data[i] ? items.data[i] : "(null)");
    ConfigService_STRING_ARRAY_free(&items);
    return out;
  }
  void broadcast(Conn c, int index, const char *line) {
    TStat st;
    EXPECT_TRUE(c.client->send_BroadcastConfig(index, line, true, &h.pump, &st)) << st.message;
  }
  // Services both sides until `n` entries are in the shared sequence.
  bool waitFor(size_t n) {
    return h.until([&] { return seq.size() >= n; });
  }

  ServiceConnections h;
  std::vector<std::string> seq;
};

TEST_F(ConfigServerTest, LateListenerGetsEveryStoredLineInIndexOrder) {
  Conn sender = connect("sender");
  EXPECT_TRUE(listen(sender).empty());
  h.drop(sender.server);
  sender = connect("sender");
  broadcast(sender, 5, "five");
  broadcast(sender, 1, "one");
  broadcast(sender, 3, "three");
  h.settle();
  EXPECT_TRUE(seq.empty());  // nobody listens yet: nothing is sent

  Conn late = connect("late");
  EXPECT_EQ(listen(late), (std::vector<std::string>{"one", "three", "five"}));
  EXPECT_TRUE(late.server->isListener());
  EXPECT_FALSE(sender.server->isListener());
  // Registering again is harmless and answers the current lines again.
  broadcast(sender, 3, "THREE");
  ASSERT_TRUE(waitFor(1));
  EXPECT_EQ(listen(late), (std::vector<std::string>{"one", "THREE", "five"}));
  EXPECT_EQ(ConfigService_Server::getListenerList().size(), 1);
}


TEST_F(ConfigServerTest, FanOutFollowsRegistrationOrderAndIncludesTheSender) {
  Conn a = connect("a");
  Conn b = connect("b");
  Conn c = connect("c");
  listen(c);
  listen(a);  // b never listens
  broadcast(a, 7, "seven");
  ASSERT_TRUE(waitFor(2));
  h.settle();
  EXPECT_EQ(seq, (std::vector<std::string>{"c note seven", "a note seven"}));
  EXPECT_EQ(b.client->handled, 0);
  // The replaced line goes out again: listeners see both notifications.
  broadcast(b, 7, "SEVEN");
  ASSERT_TRUE(waitFor(4));
  EXPECT_EQ(seq[2], "c note SEVEN");
  EXPECT_EQ(seq[3], "a note SEVEN");
  EXPECT_EQ(ConfigService_Server::configArray().size(), 1);
}

TEST_F(ConfigServerTest, BlockBracketsArriveInOrderAroundTheBroadcasts) {
  Conn a = connect("a");
  Conn b = connect("b");
  listen(a);
  listen(b);
  TStat st;
  ASSERT_TRUE(a.client->send_StartBlockBroadcast(true, &h.pump, &st));
  broadcast(a, 1, "x");
  ASSERT_TRUE(a.client->send_BroadcastMessage(42, "hello", true, &h.pump, &st));
  broadcast(b, 2, "y");
  ASSERT_TRUE(b.client->send_EndBlockBroadcast(true, &h.pump, &st));
  // Unpaired brackets are passed on as they are.
  ASSERT_TRUE(b.client->send_EndBlockBroadcast(true, &h.pump, &st));
  ASSERT_TRUE(waitFor(12));
  h.settle();
  EXPECT_EQ(seq, (std::vector<std::string>{"a start", "b start", "a note x", "b note x",
                                           "a msg 42 hello", "b msg 42 hello", "a note y",
                                           "b note y", "a end", "b end", "a end", "b end"}));
  // Messages are not stored.
  EXPECT_EQ(listen(a), (std::vector<std::string>{"x", "y"}));
}

TEST_F(ConfigServerTest, NotificationsAreQueuedAndBracketsWrittenAtOnce) {
  Conn a = connect("a");
  listen(a);
  h.settle();
  ASSERT_EQ(h.serverSide->getWriteBufferUsed(), 0);
  a.server->msg_BroadcastConfig(4, "queued");
  EXPECT_GT(h.serverSide->getWriteBufferUsed(), 0);  // left for the loop to write
  a.server->msg_BroadcastMessage(1, "queued too");
  EXPECT_GT(h.serverSide->getWriteBufferUsed(), 0);
  a.server->msg_StartBlockBroadcast();  // written now, with what was queued
  EXPECT_EQ(h.serverSide->getWriteBufferUsed(), 0);
  ASSERT_TRUE(waitFor(3));
  EXPECT_EQ(seq, (std::vector<std::string>{"a note queued", "a msg 1 queued too", "a start"}));
}


TEST_F(ConfigServerTest, ListenerThatIsDownMissesTheMessageAndOthersGoOn) {
  Conn a = connect("a");
  Conn b = connect("b");
  Conn c = connect("c");
  listen(a);
  listen(b);
  listen(c);
  StringLog bSend;
  b.server->setSendLogging(&bSend);
  b.server->markAsDown();  // down but not yet released
  broadcast(a, 1, "one");
  TStat st;
  ASSERT_TRUE(a.client->send_StartBlockBroadcast(true, &h.pump, &st));
  ASSERT_TRUE(waitFor(4));
  h.settle();
  EXPECT_EQ(seq, (std::vector<std::string>{"a note one", "c note one", "a start", "c start"}));
  ASSERT_EQ(bSend.entries.size(), 2u);
  EXPECT_EQ(bSend.entries[0], "SEND FAILED: ReceiveNotification\n");
  EXPECT_EQ(bSend.entries[1], "SEND FAILED: ReceiveStartBlockBroadcast\n");
}

struct DropArgs {
  ServiceConnections *h;
  STPSpecClass *victim;
};

void dropVictim(void *arg) {
  auto *d = static_cast<DropArgs *>(arg);
  d->h->drop(d->victim);
}

TEST_F(ConfigServerTest, ListenerDroppedDuringFanOutIsSkippedAndForgotten) {
  Conn a = connect("a");
  Conn b = connect("b");
  Conn c = connect("c");
  listen(a);
  listen(b);
  listen(c);
  // The first send of the fan-out (to a) ends b's connection.
  HookLog aSend;
  DropArgs args{&h, b.server};
  aSend.hook = dropVictim;
  aSend.hookArg = &args;
  a.server->setSendLogging(&aSend);
  broadcast(c, 9, "nine");
  ASSERT_TRUE(waitFor(2));
  h.settle();
  EXPECT_EQ(seq, (std::vector<std::string>{"a note nine", "c note nine"}));
  EXPECT_EQ(ConfigService_Server::getListenerList().size(), 2);
  broadcast(c, 10, "ten");
  ASSERT_TRUE(waitFor(4));
  EXPECT_EQ(seq[2], "a note ten");
  EXPECT_EQ(seq[3], "c note ten");
}

TEST_F(ConfigServerTest, ListenerThatDropsItselfDuringItsOwnSend) {
  Conn a = connect("a");
  Conn b = connect("b");
  listen(a);
  listen(b);
  HookLog aSend;
  DropArgs args{&h, a.server};
  aSend.hook = dropVictim;
  aSend.hookArg = &args;
  a.server->setSendLogging(&aSend);
  TStat st;
  ASSERT_TRUE(b.client->send_StartBlockBroadcast(true, &h.pump, &st));
  ASSERT_TRUE(h.until([&] { return b.client->handled >= 1; }));
  h.settle();
  EXPECT_EQ(ConfigService_Server::getListenerList().size(), 1);
  EXPECT_EQ(b.client->calls.entries.back(), "ReceiveStartBlockBroadcast: \n");
}

TEST_F(ConfigServerTest, MalformedRequestsAreHandledAndOthersKeepWorking) {
  Conn bad = connect("bad");
  Conn good = connect("good");
  listen(good);
  // BroadcastConfig without fields: index 0 and a null line.
  h.sendRaw(bad.client, 0, "BroadcastConfig");
  // A string that never ends and a number too large for the field.
  h.sendRaw(bad.client, 0, "BroadcastConfig index:0xfffffffff configLine:\"no end");
  // BroadcastMessage with a null message; unknown ids and names.
  h.sendRaw(bad.client, 1, "BroadcastMessage", [](STPAsciiOMsg *m) {
    m->putNumber("type", 3);
    m->putString("message", nullptr);
  });
  h.sendRaw(bad.client, 99, "Nonsense");
  h.sendRaw(bad.client, -1, "NoSuchMessage");
  // ListenForConfigs carrying a record with an absurd count in the request.
  h.sendRaw(bad.client, -1, "ListenForConfigs configItems:{ count:0x7fffffff data:(2147483647)[ \"a\" ] }");
  ASSERT_TRUE(waitFor(3));
  h.settle();
  EXPECT_EQ(seq[0], "good note (null)");
  EXPECT_EQ(seq[1].rfind("good note", 0), 0u);
  EXPECT_EQ(seq[2], "good msg 3 (null)");
  EXPECT_TRUE(bad.server->isListener());  // the one-way ListenForConfigs registered it

  // The store kept the null line; the healthy connection still works.
  broadcast(good, 8, "fine");
  ASSERT_TRUE(h.until([&] { return seq.size() >= 4 && seq.back() == "bad note fine"; }));
  std::vector<std::string> lines = listen(good);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "fine");
}

}  // namespace
