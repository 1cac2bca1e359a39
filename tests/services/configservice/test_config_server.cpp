// ConfigService_Server handlers over real connections: generated client
// endpoints on one transport, service endpoints on the other, as in the
// state manager. Covers storing and answering ListenForConfigs, fan-out
// order, block brackets, the sending discipline, listeners that go away
// (also in the middle of a fan-out). Malformed requests:
// test_malformed_requests.
#include <gtest/gtest.h>

#include <utility>
#include <string>
#include <vector>

#include "configservice_testkit.h"
#include "services/service_connections.h"
#include "services/configservice/config_server.h"

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

// Lines are stored by index and sent to listeners only; a late listener
// gets every stored line in index order, again when it registers again; a
// fan-out follows registration order and includes the sender; a replaced
// line goes out again.
TEST_F(ConfigServerTest, StoredLinesAndFanOutOrder) {
  Conn a = connect("a"), b = connect("b"), c = connect("c");
  EXPECT_TRUE(listen(b).empty());
  h.drop(b.server);
  b = connect("b");  // b's first connection listened; this one never does
  broadcast(b, 5, "five");
  broadcast(b, 1, "one");
  broadcast(b, 3, "three");
  h.settle();
  EXPECT_TRUE(seq.empty());
  EXPECT_EQ(listen(c), (std::vector<std::string>{"one", "three", "five"}));
  listen(a);
  broadcast(a, 3, "THREE");
  broadcast(b, 3, "3");
  ASSERT_TRUE(waitFor(4));
  h.settle();
  EXPECT_EQ(seq, (std::vector<std::string>{"c note THREE", "a note THREE", "c note 3", "a note 3"}));
  EXPECT_EQ(listen(c), (std::vector<std::string>{"one", "3", "five"}));
  EXPECT_EQ(ConfigService_Server::getListenerList().size(), 2);
  EXPECT_TRUE(c.server->isListener() && !b.server->isListener());
  EXPECT_EQ(b.client->handled, 0);
}

TEST_F(ConfigServerTest, BlockBracketsArriveInOrderAroundTheBroadcasts) {
  Conn a = connect("a"), b = connect("b");
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
  Conn a = connect("a"), b = connect("b"), c = connect("c");
  for (Conn x : {a, b, c}) listen(x);
  StringLog bSend;
  b.server->setSendLogging(&bSend);
  b.server->markAsDown();  // down but not yet released
  broadcast(a, 1, "one");
  TStat st;
  ASSERT_TRUE(a.client->send_StartBlockBroadcast(true, &h.pump, &st));
  ASSERT_TRUE(waitFor(4));
  h.settle();
  EXPECT_EQ(seq, (std::vector<std::string>{"a note one", "c note one", "a start", "c start"}));
  EXPECT_EQ(bSend.entries, (std::vector<std::string>{"SEND FAILED: ReceiveNotification\n",
                                                     "SEND FAILED: ReceiveStartBlockBroadcast\n"}));
}

TEST_F(ConfigServerTest, ListenerDroppedDuringFanOutIsSkippedAndForgotten) {
  Conn a = connect("a"), b = connect("b"), c = connect("c");
  for (Conn x : {a, b, c}) listen(x);
  h.dropOnFirstSend(a.server, b.server);
  broadcast(c, 9, "nine");
  ASSERT_TRUE(waitFor(2));
  h.settle();
  EXPECT_EQ(ConfigService_Server::getListenerList().size(), 2);
  broadcast(c, 10, "ten");
  ASSERT_TRUE(waitFor(4));
  EXPECT_EQ(seq, (std::vector<std::string>{"a note nine", "c note nine", "a note ten", "c note ten"}));
}

TEST_F(ConfigServerTest, ListenerThatDropsItselfDuringItsOwnSend) {
  Conn a = connect("a"), b = connect("b");
  listen(a);
  listen(b);
  h.dropOnFirstSend(a.server, a.server);
  TStat st;
  ASSERT_TRUE(b.client->send_StartBlockBroadcast(true, &h.pump, &st));
  ASSERT_TRUE(waitFor(1));
  h.settle();
  EXPECT_EQ(seq.back(), "b start");  // b still hears it
  EXPECT_EQ(ConfigService_Server::getListenerList().size(), 1);
}

}  // namespace
