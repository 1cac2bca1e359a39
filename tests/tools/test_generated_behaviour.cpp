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
#include "fileregistry_testkit.h"
#include "korvoeditor_testkit.h"
#include "mruservice_testkit.h"
#include "probenew_testkit.h"
#include "probeold_testkit.h"
#include "servicerouter_testkit.h"
#include "shared/stp_transport/stp_amsg.h"
#include "tools/logged_pair.h"

namespace {

using ConfigPair = LoggedPair<ConfigService_server_Recorder, ConfigService_client_Recorder>;

// Sends a hand-made ASCII message (name and raw field text) from the
// client side of `p`.
template <class Pair>
void sendRaw(Pair &p, int id, const char *name, const std::string &fields) {
  STPAsciiOMsg *m = p.tp.b->createAsciiMessage(p.b->getLocalRN(), p.b->getRemoteRN(), 14, id, 2);
  m->putIdent(name);
  m->putRawString(fields.c_str());
  TStat st;
  EXPECT_NE(p.tp.b->sendMessage(m, &p.pump, &st), 0);
  delete m;
}

// The fields of a BroadcastConfig with a one-digit index.
std::string config(int index) { return "index:0x" + std::to_string(index) + " configLine:\"line\" "; }

// Id -1 is dispatched by the message name; an unknown id or name is ignored
// and a good message afterwards still arrives.
TEST(GeneratedDispatch, AsciiIdMinusOneByNameAndUnknownIdsIgnored) {
  ConfigPair p;
  ASSERT_TRUE(p.negotiated);
  sendRaw(p, -1, "BroadcastConfig", config(9));
  sendRaw(p, 77, "BroadcastConfig", config(1));
  sendRaw(p, -1, "NoSuchMessage", config(2));
  sendRaw(p, 0, "BroadcastConfig", config(3));
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
  LoggedPair<MRUService_server_Recorder, MRUService_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  int id = p.a->getMessageId("InitFCDir");
  for (const char *body : bodies) sendRaw(p, id, "InitFCDir", body);
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
  LoggedPair<NullCheckingServer, ConfigService_client_Recorder> p;
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

TEST(GeneratedDispatch, OlderPeerLacksAFieldAndNewerPeerAddsAMessage) {
  TStat st;
  LoggedPair<ProbeServer, ProbeOld_client_Recorder> old;
  ASSERT_TRUE(old.negotiated);
  ASSERT_TRUE(old.b->send_Report(-5, true, true, &old.pump, &st));
  ASSERT_TRUE(old.pump.until([&] { return old.a->reports == 1; }));
  EXPECT_EQ(old.a->alpha, -5);
  EXPECT_TRUE(old.a->betaNull);
  EXPECT_TRUE(old.a->gamma);

  LoggedPair<ProbeServer, ProbeNew_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  int length = 0;
  ASSERT_TRUE(p.b->send_Added("four", &length, &p.pump, &st));
  EXPECT_EQ(length, 4);
  ASSERT_TRUE(p.b->send_Report(1, "b", false, true, &p.pump, &st));
  ASSERT_TRUE(p.pump.until([&] { return p.a->reports == 1; }));
  EXPECT_FALSE(p.a->betaNull);
}

// An empty string array comes back as count 0 without an element array;
// file names are expanded when sent, in fields and inside arrays.
class EmptyListServer : public ConfigService_server_Recorder {
 public:
  void msg_ListenForConfigs(ConfigService_STRING_ARRAY *configItems) override { configItems->count = 0; }
};

TEST(GeneratedSend, EmptyArrayAndExpandedArrayElements) {
  LoggedPair<EmptyListServer, ConfigService_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  ConfigService_STRING_ARRAY items{5, reinterpret_cast<char **>(&p)};  // overwritten by the sender
  TStat st;
  ASSERT_TRUE(p.b->send_ListenForConfigs(&items, &p.pump, &st));
  EXPECT_EQ(items.count, 0);
  EXPECT_EQ(items.data, nullptr);

  LoggedPair<KorvoEditor_editor_Recorder, KorvoEditor_client_Recorder> e;
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
  ASSERT_TRUE(e.b->send_EditFile("~/z.c", 1, nullptr, true, &e.pump, &st));
  ASSERT_TRUE(e.pump.until([&] { return e.a->handled == 2; }));
  EXPECT_EQ(e.a->calls.entries[1].rfind("EditFile: fullPath:\"" + home + "/z.c\"", 0), 0u)
      << e.a->calls.entries[1];
}

TEST(GeneratedSend, RequestThatCannotBeWrittenReturnsZeroedOutValues) {
  signal(SIGPIPE, SIG_IGN);
  LoggedPair<FileRegistry_server_Recorder, FileRegistry_client_Recorder> p;
  ASSERT_TRUE(p.negotiated);
  shutdown(p.tp.a->getFD(), SHUT_RDWR);  // the peer is gone
  int num = 99;
  char *junk[] = {nullptr};
  char **files = junk;
  TStat st;
  EXPECT_FALSE(p.b->send_GetFiles("t", &num, &files, &p.pump, &st));
  EXPECT_EQ(num, 0);
  EXPECT_EQ(files, nullptr);
  EXPECT_NE(st.code, 0);
  EXPECT_EQ(st.code, p.tp.b->getStat().code);
  EXPECT_STREQ(st.message, p.tp.b->getStat().message);
  // A later one-way send logs the single failure line.
  p.b->send_AddFile("f", "t", false, &p.pump, &st);
  ASSERT_FALSE(p.bSend.entries.empty());
  EXPECT_EQ(p.bSend.entries.back(), "SEND FAILED: AddFile\n");
}

}  // namespace
