// Behaviour of generated endpoints beyond plain round trips: dispatch by
// name and unknown ids, missing field tags, failed sends and their log lines,
// file-name expansion, null versus empty strings, and an added message.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "configservice_testkit.h"
#include "filenotify_testkit.h"
#include "fileregistry_testkit.h"
#include "korvoeditor_testkit.h"
#include "mruservice_testkit.h"
#include "probenew_testkit.h"
#include "probeold_testkit.h"
#include "servicerouter_testkit.h"
#include "shared/stp_transport/stp_amsg.h"
#include "tools/endpoint_pair.h"

namespace {

using ConfigPair = EndpointPair<ConfigService_server_Recorder, ConfigService_client_Recorder>;

// Sends a hand-made ASCII message from the client side of `p`.
void sendRaw(ConfigPair &p, int id, const char *name, int index) {
  STPAsciiOMsg *m = p.tb->createAsciiMessage(p.b->getLocalRN(), p.b->getRemoteRN(), 14, id, 2);
  m->putIdent(name);
  m->putNumber("index", index);
  m->putString("configLine", "line");
  TStat st;
  EXPECT_NE(p.tb->sendMessage(m, &p.pump, &st), 0);
  delete m;
}

// Id -1 is dispatched by the message name; an unknown id or name is ignored
// and a good message afterwards still arrives.
TEST(GeneratedDispatch, AsciiIdMinusOneByNameAndUnknownIdsIgnored) {
  ConfigPair p;
  ASSERT_TRUE(p.negotiated);
  sendRaw(p, -1, "BroadcastConfig", 9);
  sendRaw(p, 77, "BroadcastConfig", 1);
  sendRaw(p, -1, "NoSuchMessage", 2);
  sendRaw(p, 0, "BroadcastConfig", 3);
  ASSERT_TRUE(p.pump.until([&] { return p.a->handled == 2; }));
  for (int i = 0; i < 20; ++i) p.pump.idle();
  EXPECT_EQ(p.a->calls.entries, (std::vector<std::string>{"BroadcastConfig: index:0x9, configLine:\"line\"\n",
                                                          "BroadcastConfig: index:0x3, configLine:\"line\"\n"}));
}

// The receive log is written from the message, the recorder from the
// arguments the handler got: for odd input (a count field that disagrees
// with its array, absent fields, a record that is a number, a null element)
// both must show the same values.
TEST(GeneratedLog, ReceiveLogShowsWhatTheHandlerGot) {
  static const char *const bodies[] = {
      "dirs:{ count:0x5 data:(0x2 )[ \"a\" \"b\" ] } ",
      "dirs:{ count:0x1 data:(0x0 )[ ] } ",
      "dirs:{ data:(0x1 )[ null ] } ",
      "dirs:0x3 ",
      "",
  };
  EndpointPair<MRUService_server_Recorder, MRUService_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  int id = p.a->getMessageId("InitFCDir");
  for (const char *body : bodies) {
    STPAsciiOMsg *m = p.tb->createAsciiMessage(p.b->getLocalRN(), p.b->getRemoteRN(), 14, id, 2);
    m->putIdent("InitFCDir");
    m->putRawString(body);
    TStat st;
    EXPECT_NE(p.tb->sendMessage(m, &p.pump, &st), 0);
    delete m;
  }
  const int n = static_cast<int>(sizeof bodies / sizeof *bodies);
  ASSERT_TRUE(p.pump.until([&] { return p.a->handled == n; }));
  ASSERT_EQ(p.aRecv.entries.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) EXPECT_EQ(p.aRecv.entries[i], "RECV: " + p.a->calls.entries[i]) << bodies[i];
  EXPECT_EQ(p.a->calls.entries[0], "InitFCDir: dirs:{count:0x2 data:\"a\", \"b\", }\n");
}

// Null and empty strings stay apart, in fields and in arrays.
class NullCheckingServer : public ConfigService_server_Recorder {
 public:
  std::string seen;
  void msg_BroadcastConfig(int index, const char *configLine) override {
    seen += configLine ? "[" + std::string(configLine) + "]" : "null";
  }
};

TEST(GeneratedDispatch, NullAndEmptyStringsStayApart) {
  EndpointPair<NullCheckingServer, ConfigService_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  TStat st;
  ASSERT_TRUE(p.b->send_BroadcastConfig(1, nullptr, true, &p.pump, &st));
  ASSERT_TRUE(p.b->send_BroadcastConfig(2, "", true, &p.pump, &st));
  ASSERT_TRUE(p.pump.until([&] { return p.a->seen.size() >= 6; }));
  EXPECT_EQ(p.a->seen, "null[]");
}

// An older peer lacks the field "beta": the handler gets null for it and
// the other fields intact, found through the negotiated tag map.
class ProbeServer : public ProbeNew_server_Recorder {
 public:
  int alpha = 0, reports = 0;
  bool gamma = false, betaNull = false;
  void msg_Report(int a, const char *beta, bool g) override {
    alpha = a;
    betaNull = beta == nullptr;
    gamma = g;
    ++reports;
  }
  void msg_Added(const char *text, int *length) override { *length = text ? static_cast<int>(strlen(text)) : -1; }
};

TEST(GeneratedDispatch, PeerWithoutAFieldTagGivesNull) {
  EndpointPair<ProbeServer, ProbeOld_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  TStat st;
  ASSERT_TRUE(p.b->send_Report(-5, true, true, &p.pump, &st));
  ASSERT_TRUE(p.pump.until([&] { return p.a->reports == 1; }));
  EXPECT_EQ(p.a->alpha, -5);
  EXPECT_TRUE(p.a->betaNull);
  EXPECT_TRUE(p.a->gamma);
}

TEST(GeneratedDispatch, AddedMessageNeedsOnlyTheInterfaceLine) {
  EndpointPair<ProbeServer, ProbeNew_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  TStat st;
  int length = 0;
  ASSERT_TRUE(p.b->send_Added("four", &length, &p.pump, &st));
  EXPECT_EQ(length, 4);
  ASSERT_TRUE(p.b->send_Report(1, "b", false, true, &p.pump, &st));
  ASSERT_TRUE(p.pump.until([&] { return p.a->reports == 1; }));
  EXPECT_FALSE(p.a->betaNull);
}

TEST(GeneratedSend, FileNamesAreExpandedWhenSent) {
  EndpointPair<FileNotify_receiver_Recorder, FileNotify_notifier_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  TStat st;
  ASSERT_TRUE(p.b->send_FileCreated("~/a.c", true, &p.pump, &st));
  ASSERT_TRUE(p.pump.until([&] { return p.a->handled == 1; }));
  const char *home = getenv("HOME");
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(p.a->calls.entries[0], "FileCreated: filename:\"" + std::string(home) + "/a.c\"\n");
}

// An empty string array comes back as count 0 without an element array;
// file names inside arrays are expanded too.
class EmptyListServer : public ConfigService_server_Recorder {
 public:
  void msg_ListenForConfigs(ConfigService_STRING_ARRAY *configItems) override { configItems->count = 0; }
};

TEST(GeneratedSend, EmptyArrayAndExpandedArrayElements) {
  EndpointPair<EmptyListServer, ConfigService_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  ConfigService_STRING_ARRAY items{5, reinterpret_cast<char **>(&p)};  // overwritten by the sender
  TStat st;
  ASSERT_TRUE(p.b->send_ListenForConfigs(&items, &p.pump, &st));
  EXPECT_EQ(items.count, 0);
  EXPECT_EQ(items.data, nullptr);

  EndpointPair<KorvoEditor_editor_Recorder, KorvoEditor_client_Recorder> e;
  ASSERT_TRUE(e.negotiated);
  char *names[] = {const_cast<char *>("~/x.c"), const_cast<char *>("/y.c")};
  KorvoEditor_FILENAME_ARRAY files{2, names};
  KorvoEditor_INT_ARRAY none{0, nullptr};
  KorvoEditor_STRING_ARRAY text{0, nullptr};
  ASSERT_TRUE(e.b->send_EditBuildError(1, files, none, none, text, true, &e.pump, &st));
  ASSERT_TRUE(e.pump.until([&] { return e.a->handled == 1; }));
  std::string home = getenv("HOME") ? getenv("HOME") : "";
  EXPECT_EQ(e.a->calls.entries[0], "EditBuildError: errornumber:0x1, filenames:{count:0x2 data:\"" + home +
                                       "/x.c\", \"/y.c\", }, lines:{count:0x0 data:}, cols:{count:0x0 data:}, "
                                       "messages:{count:0x0 data:}\n");
}

class CountingRouter : public ServiceRouter_router_Recorder {
 public:
  void msg_NumPersistentServices(int *num_persistent, int *num_total) override {
    *num_persistent = 3;
    *num_total = 0x1f;
  }
};

TEST(GeneratedLog, SendRecvReplyLinesAreExact) {
  EndpointPair<CountingRouter, ServiceRouter_plugin_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  TStat st;
  ASSERT_TRUE(p.b->send_ReleaseRN(5, true, &p.pump, &st));
  int persistent = -1, total = -1;
  ASSERT_TRUE(p.b->send_NumPersistentServices(&persistent, &total, &p.pump, &st));
  EXPECT_EQ(persistent, 3);
  EXPECT_EQ(total, 0x1f);
  ASSERT_TRUE(p.b->send_RequestLocation(true, &p.pump, &st));
  ASSERT_TRUE(p.pump.until([&] { return p.a->handled == 2; }));
  std::vector<std::string> sent = {"SEND: ReleaseRN: rn:0x5\n", "SEND: NumPersistentServices: \n",
                                   "SEND: RequestLocation: \n"};
  EXPECT_EQ(p.bSend.entries, sent);
  std::vector<std::string> got = {"RECV: NumPersistentServices: num_persistent:0x3, num_total:0x1f\n"};
  EXPECT_EQ(p.bRecv.entries, got);
  std::vector<std::string> recv = {"RECV: ReleaseRN: rn:0x5\n", "RECV: NumPersistentServices: \n",
                                   "RECV: RequestLocation: \n"};
  EXPECT_EQ(p.aRecv.entries, recv);
  std::vector<std::string> reply = {"REPLY: NumPersistentServices: num_persistent:0x3, num_total:0x1f\n"};
  EXPECT_EQ(p.aSend.entries, reply);
}

TEST(GeneratedSend, RequestThatCannotBeWrittenReturnsZeroedOutValues) {
  signal(SIGPIPE, SIG_IGN);
  EndpointPair<FileRegistry_server_Recorder, FileRegistry_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  shutdown(p.fds[0], SHUT_RDWR);  // the peer is gone
  int num = 99;
  char *junk[] = {nullptr};
  char **files = junk;
  TStat st;
  EXPECT_FALSE(p.b->send_GetFiles("t", &num, &files, &p.pump, &st));
  EXPECT_EQ(num, 0);
  EXPECT_EQ(files, nullptr);
  EXPECT_NE(st.code, 0);
  EXPECT_EQ(st.code, p.tb->getStat().code);
  EXPECT_STREQ(st.message, p.tb->getStat().message);
  // A later one-way send logs the single failure line.
  p.b->send_AddFile("f", "t", false, &p.pump, &st);
  ASSERT_FALSE(p.bSend.entries.empty());
  EXPECT_EQ(p.bSend.entries.back(), "SEND FAILED: AddFile\n");
}

// Strings (null logged as empty), records, and string, integer and record
// arrays inside records, in the SEND, RECV and REPLY lines of both
// encodings.
class ListingServer : public ConfigService_server_Recorder {
 public:
  void msg_ListenForConfigs(ConfigService_STRING_ARRAY *configItems) override {
    configItems->count = 2;
    configItems->data = static_cast<char **>(calloc(2, sizeof(char *)));
    configItems->data[0] = strdup("x");
    configItems->data[1] = strdup("y \"q\"");
    ++handled;
  }
};

TEST(GeneratedLog, StringsRecordsAndArraysAreLoggedExactly) {
  EndpointPair<ServiceRouter_router_Recorder, ServiceRouter_plugin_Recorder> sr;
  ASSERT_TRUE(sr.negotiated);
  TStat st;
  char *names[] = {const_cast<char *>("a"), nullptr};
  ServiceRouter_STRING_ARRAY nameList{2, names};
  ASSERT_TRUE(sr.b->send_RegisterServiceList(nameList, true, &sr.pump, &st));
  ASSERT_TRUE(sr.b->send_SetEnvironmentVariable("V", nullptr, true, &sr.pump, &st));
  int rns[] = {5, -1};
  ServiceRouter_INT_ARRAY rnList{2, rns};
  ASSERT_TRUE(sr.a->send_RNBlockReservedEvent(rnList, true, &sr.pump, &st));
  ASSERT_TRUE(sr.pump.until([&] { return sr.a->handled == 2 && sr.b->handled == 1; }));
  const std::string registered = "RegisterServiceList: name_list:{count:0x2 data:\"a\", \"\", }\n";
  const std::string variable = "SetEnvironmentVariable: variable:\"V\", value:\"\"\n";
  EXPECT_EQ(sr.bSend.entries, (std::vector<std::string>{"SEND: " + registered, "SEND: " + variable}));
  EXPECT_EQ(sr.aRecv.entries, (std::vector<std::string>{"RECV: " + registered, "RECV: " + variable}));
  const std::string reserved = "RNBlockReservedEvent: rn_list:{count:0x2 data:0x5, 0xffffffff, }\n";
  EXPECT_EQ(sr.aSend.entries, (std::vector<std::string>{"SEND: " + reserved}));
  EXPECT_EQ(sr.bRecv.entries, (std::vector<std::string>{"RECV: " + reserved}));

  EndpointPair<ListingServer, ConfigService_client_Recorder> cs;
  ASSERT_TRUE(cs.negotiated);
  ConfigService_STRING_ARRAY items;
  ASSERT_TRUE(cs.b->send_ListenForConfigs(&items, &cs.pump, &st));
  ConfigService_STRING_ARRAY_free(&items);
  const std::string listed = "ListenForConfigs: configItems:{count:0x2 data:\"x\", \"y \"q\"\", }\n";
  EXPECT_EQ(cs.bSend.entries, (std::vector<std::string>{"SEND: ListenForConfigs: \n"}));
  EXPECT_EQ(cs.aRecv.entries, (std::vector<std::string>{"RECV: ListenForConfigs: \n"}));
  EXPECT_EQ(cs.aSend.entries, (std::vector<std::string>{"REPLY: " + listed}));
  EXPECT_EQ(cs.bRecv.entries, (std::vector<std::string>{"RECV: " + listed}));

  EndpointPair<MRUService_server_Recorder, MRUService_client_Recorder> mru;
  ASSERT_TRUE(mru.negotiated);
  MRUService_ColumnConfig_Info column{const_cast<char *>("c"), 100, -1, 1};
  MRUService_ColumnConfig_Array columns{1, &column};
  ASSERT_TRUE(mru.b->send_UpdateColumnInfo("w", columns, true, &mru.pump, &st));
  ASSERT_TRUE(mru.pump.until([&] { return mru.a->handled == 1; }));
  const std::string updated =
      "UpdateColumnInfo: which:\"w\", info:{count:0x1 columnInfos:{name:\"c\" width:0x64 sort:0xffffffff "
      "hidden:0x1}, }\n";
  EXPECT_EQ(mru.bSend.entries, (std::vector<std::string>{"SEND: " + updated}));
  EXPECT_EQ(mru.aRecv.entries, (std::vector<std::string>{"RECV: " + updated}));
}

}  // namespace
