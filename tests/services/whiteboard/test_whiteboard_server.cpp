// The WhiteBoard service over real connections (loopback socket pairs and
// the generated client role): registration and fan-out between clients,
// deletion events, snapshots, saving when a connection closes, the exit
// condition, and malformed requests.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "services/service_connections.h"
#include "services/whiteboard/whiteboard_server.h"
#include "shared/stp_transport/stp_amsg.h"
#include "whiteboard_client_impl.h"

namespace {

using Lines = std::vector<std::string>;

std::string str(const char *s) { return s ? s : "(null)"; }

std::string joined(const ut_string_list &list) {
  std::string out;
  for (const ut_string &s : list) out += (out.empty() ? "" : ",") + std::string(s.c_str());
  return out;
}

// A client that records what the server sends it, one line per record.
class RecordingClient : public WhiteBoard_client_Impl {
 public:
  Lines got;
  int changesSeen = 0;

  void msg_SetBoolValue(BoolValueInfo &i) override {
    note("bool", i._group, i._name, i._value ? "1" : "0");
  }
  void msg_SetInt32Value(Int32ValueInfo &i) override {
    note("int", i._group, i._name, std::to_string(i._value));
  }
  void msg_SetStringValue(StringValueInfo &i) override {
    note("str", i._group, i._name, str(i._value));
  }
  void msg_SetStringListValue(StringListValueInfo &i) override {
    note("list", i._group, i._name, "[" + joined(i._value) + "]");
  }
  void msg_DeleteEvent(const char *group, const char *name, int type) override {
    note("delete", group, name, std::to_string(type));
  }
  void msg_Changes(BoolValueInfoArray &b, Int32ValueInfoArray &n, StringValueInfoArray &s,
                   StringListValueInfoArray &l) override {
    ++changesSeen;
    got.push_back("changes " + std::to_string(b._count) + " " + std::to_string(n._count) + " " +
                  std::to_string(s._count) + " " + std::to_string(l._count));
    for (int i = 0; i < b._count; ++i) msg_SetBoolValue(b._info[i]);
    for (int i = 0; i < n._count; ++i) msg_SetInt32Value(n._info[i]);
    for (int i = 0; i < s._count; ++i) msg_SetStringValue(s._info[i]);
    for (int i = 0; i < l._count; ++i) msg_SetStringListValue(l._info[i]);
  }

 private:
  void note(const char *what, const char *g, const char *n, const std::string &v) {
    got.push_back(std::string(what) + " " + str(g) + " " + str(n) + " " + v);
  }
};

// Makes servers over the fixture's own store, so tests do not share state.
class LocalFactory : public ServiceFactory {
 public:
  explicit LocalFactory(WhiteBoard_Image *image)
      : ServiceFactory("WhiteBoardUnderTest", -1, false), image(image) {}
  STPSpecClass *getService(STPTransport *t, int localRN, int remoteRN) override {
    auto *s = new WhiteBoard_Server(image);
    s->setTransport(t, localRN, remoteRN);
    return s;
  }
  WhiteBoard_Image *image;
};

std::string readFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class WhiteBoardServerTest : public ::testing::Test {
 protected:
  WhiteBoard_Image image;  // outlives the connections in `net`
  LocalFactory factory{&image};
  ServiceConnections net;
  std::vector<STPSpecClass *> servers;
  std::string dir = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");

  RecordingClient *connect() {
    auto *client = new RecordingClient;
    STPSpecClass *s = net.connect(&factory, client);
    EXPECT_NE(s, nullptr);
    servers.push_back(s);
    return client;
  }

  void registerGroup(RecordingClient *c, const char *g, bool bcast, bool disk = false,
                     const char *file = nullptr) {
    EXPECT_TRUE(c->send_RegisterGroup(g, bcast, disk, file));
  }

  void changeInt(RecordingClient *c, const char *g, const char *name, int v) {
    Int32ValueInfo info{const_cast<char *>(g), const_cast<char *>(name), v};
    EXPECT_TRUE(c->send_ChangeInt32Value(info));
  }

  // Lets every queued message arrive and be handled.
  void settle() { net.settle(40); }
};

TEST_F(WhiteBoardServerTest, FactoryAndExitCondition) {
  ServiceFactory *f = WhiteBoard_GetServiceFactory();
  EXPECT_STREQ(f->getServiceName(), "WhiteBoard");
  WhiteBoard_Server_ExitCondition exitCondition(false);
  EXPECT_TRUE(exitCondition.allowExit());
  connect();
  EXPECT_FALSE(exitCondition.allowExit());
  EXPECT_FALSE(exitCondition.mustExit());
  net.drop(servers[0]);
  EXPECT_TRUE(exitCondition.allowExit());
}

// Each request reaches the store and the other broadcast subscribers (the
// rules themselves are the store's), and snapshots come back in order.
TEST_F(WhiteBoardServerTest, RequestsReachTheStoreAndOtherSubscribers) {
  RecordingClient *a = connect();
  RecordingClient *b = connect();
  RecordingClient *c = connect();
  registerGroup(a, "G", true);
  registerGroup(b, "G", true);
  registerGroup(c, "G", false);
  registerGroup(a, "H", false);
  changeInt(a, "G", "n", -1);
  changeInt(a, "H", "z", 1);
  BoolValueInfo bi{const_cast<char *>("G"), const_cast<char *>("f"), true};
  StringValueInfo si{const_cast<char *>("G"), const_cast<char *>("s"), const_cast<char *>("a b")};
  StringListValueInfo li{const_cast<char *>("G"), const_cast<char *>("l"), {}};
  li._value.push_back("x");
  li._value.push_back("");
  EXPECT_TRUE(a->send_ChangeBoolValue(bi));
  EXPECT_TRUE(a->send_ChangeStringValue(si));
  EXPECT_TRUE(a->send_ChangeStringListValue(li));
  EXPECT_TRUE(a->send_DeleteName("G", "n", 0));
  settle();
  EXPECT_EQ(b->got, (Lines{"int G n -1", "bool G f 1", "str G s a b", "list G l [x,]",
                           "delete G n 0"}));
  EXPECT_TRUE(a->got.empty());
  EXPECT_TRUE(c->got.empty());
  ut_string_list stored;
  ASSERT_TRUE(image.getStringListValue("G", "l", stored));
  EXPECT_EQ(stored.size(), 2);
  EXPECT_TRUE(a->send_RequestAllChanges());
  EXPECT_TRUE(a->send_RequestChangesInGroup("H"));
  EXPECT_TRUE(a->send_RequestChangesInGroup("missing"));
  ASSERT_TRUE(net.pump.until([&] { return a->changesSeen == 3; }));
  EXPECT_EQ(a->got, (Lines{"changes 1 1 1 1", "bool G f 1", "int H z 1", "str G s a b",
                           "list G l [x,]", "changes 0 1 0 0", "int H z 1", "changes 0 0 0 0"}));
}

TEST_F(WhiteBoardServerTest, ClosingSavesOnlyTheDiskGroupsOfThatConnection) {
  std::string file = dir + "/close_save.wbd";
  unlink(file.c_str());
  RecordingClient *a = connect();
  RecordingClient *b = connect();
  registerGroup(a, "G", false);
  registerGroup(b, "G", false, true, file.c_str());
  changeInt(a, "G", "count", 3);
  settle();
  net.drop(servers[0]);  // registered G without disk: writes nothing
  struct stat st;
  EXPECT_NE(stat(file.c_str(), &st), 0);
  net.drop(servers[1]);
  EXPECT_EQ(readFile(file), "Int32 {\n    count = 3\n}\n");
  // The explicit save request goes to the named file.
  RecordingClient *c = connect();
  std::string other = dir + "/explicit_save.wbd";
  unlink(other.c_str());
  EXPECT_TRUE(c->send_SaveGroupChangesToFile("G", other.c_str()));
  EXPECT_TRUE(c->send_SaveGroupChangesToFile("nope", other.c_str()));
  settle();
  EXPECT_EQ(readFile(other), readFile(file));
}

TEST_F(WhiteBoardServerTest, MalformedRequestsAreSurvivedAndStoreNothingBad) {
  RecordingClient *bad = connect();
  RecordingClient *good = connect();
  registerGroup(good, "G", true);
  settle();
  // Missing fields everywhere: null group names and value names.
  for (int id = 0; id <= 8; ++id) {
    static const char *names[] = {"ChangeBoolValue",
                                  "ChangeInt32Value",
                                  "ChangeStringListValue",
                                  "ChangeStringValue",
                                  "DeleteName",
                                  "RegisterGroup",
                                  "RequestAllChanges",
                                  "RequestChangesInGroup",
                                  "SaveGroupChangesToFile"};
    net.sendRaw(bad, id, names[id], [](STPAsciiOMsg *) {});
  }
  // A string list claiming a huge count, a bool sent as 5, an id outside
  // the table, a null string value.
  net.sendRaw(bad, 2, "ChangeStringListValue", [](STPAsciiOMsg *m) {
    m->putStartStruct("info");
    m->putString("_group", "G");
    m->putString("_name", "l");
    m->putStartArray("_value", 0x7fffffff);
    m->putString("only");
    m->putEndArray();
    m->putEndStruct();
  });
  net.sendRaw(bad, 0, "ChangeBoolValue", [](STPAsciiOMsg *m) {
    m->putStartStruct("info");
    m->putString("_group", "G");
    m->putString("_name", "b");
    m->putNumber("_value", 5);
    m->putEndStruct();
  });
  net.sendRaw(bad, 3, "ChangeStringValue", [](STPAsciiOMsg *m) {
    m->putStartStruct("info");
    m->putString("_group", "G");
    m->putString("_name", "s");
    m->putString("_value", nullptr);
    m->putEndStruct();
  });
  net.sendRaw(bad, 99, "RegisterGroup", [](STPAsciiOMsg *m) { m->putString("groupname", "X"); });
  net.sendRaw(bad, 4, "DeleteName", [](STPAsciiOMsg *m) {
    m->putString("group", "G");
    m->putString("name", "b");
    m->putNumber("type", 0x7fffffff);
  });
  net.settle(80);
  EXPECT_EQ(image.numGroups(), 1);  // no group from a missing or unknown name
  bool b = false;
  EXPECT_TRUE(image.getBoolValue("G", "b", b));
  EXPECT_TRUE(b);
  // The array whose count does not match its elements is refused by the
  // decoder as a whole: an empty list.
  ut_string_list l;
  ASSERT_TRUE(image.getStringListValue("G", "l", l));
  EXPECT_EQ(l.size(), 0);
  // A null string is stored as "" and passed on as received.
  ut_string s("x");
  EXPECT_TRUE(image.getStringValue("G", "s", s));
  EXPECT_STREQ(s.c_str(), "");
  // The bad connection got Changes answers; the good one heard the stored
  // values only.
  EXPECT_EQ(good->got, (Lines{"list G l []", "bool G b 1", "str G s (null)"}));
  // Both connections still work.
  changeInt(bad, "G", "after", 1);
  ASSERT_TRUE(net.pump.until([&] { return good->got.size() == 4; }));
  EXPECT_EQ(good->got.back(), "int G after 1");
}

}  // namespace
