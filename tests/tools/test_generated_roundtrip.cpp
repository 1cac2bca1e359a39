// Every message of every interface, both directions, through the generated
// senders and dispatchers of two connected endpoints: the values a handler
// receives (as it logs them) must be the values the sender logged, and the
// reply values a sender gets back must be the ones the handler answered.
// Sample values cover null, empty and escaped strings, negative and extreme
// integers, arrays of 0, 1 and 3 elements and nested records. The four
// protocol logs of each interface must also equal a stored transcript
// (tests/tools/golden/<Interface>.log), so the log format cannot drift;
// KORVO_WRITE_GOLDEN=1 rewrites the transcripts instead of comparing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "configservice_testkit.h"
#include "filebroadcast_testkit.h"
#include "filenotify_testkit.h"
#include "fileregistry_testkit.h"
#include "korvoeditor_testkit.h"
#include "mruservice_testkit.h"
#include "servicerouter_testkit.h"
#include "tools/endpoint_pair.h"
#include "whiteboard_testkit.h"
#include "windowregister_testkit.h"

namespace {

// Strips `prefix` from every entry (entries without it are kept whole so a
// mismatch shows) and sorts them: both ends live in one process, so the
// delivery rules may hold a transaction-only message back until a request
// the sender made later has been answered.
std::vector<std::string> strip(const std::vector<std::string> &entries, const std::string &prefix) {
  std::vector<std::string> out;
  for (const std::string &e : entries) out.push_back(e.rfind(prefix, 0) == 0 ? e.substr(prefix.size()) : "?" + e);
  std::sort(out.begin(), out.end());
  return out;
}

// Appends the sorted entries of `log` under a heading to `out`.
void transcribe(std::string &out, const char *heading, const StringLog &log) {
  std::vector<std::string> entries = log.entries;
  std::sort(entries.begin(), entries.end());
  out += std::string("== ") + heading + "\n";
  for (const std::string &e : entries) out += e;
}

// Compares `text` with the stored transcript of `name` (or rewrites it).
void checkGolden(const std::string &name, const std::string &text) {
  std::string path = std::string(KORVO_SOURCE_DIR) + "/tests/tools/golden/" + name + ".log";
  if (std::getenv("KORVO_WRITE_GOLDEN")) {
    std::ofstream(path, std::ios::binary) << text;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << path;
  std::stringstream want;
  want << in.rdbuf();
  EXPECT_EQ(want.str(), text) << path;
}

// One direction: `from` sends everything, `to` handles it.
template <class From, class To, class SendAll>
void oneWay(PumpBoth &pump, From *from, To *to, StringLog &fromSend, StringLog &fromRecv, StringLog &toSend,
            StringLog &toRecv, SendAll sendAll, int count) {
  int ok = sendAll(from, &pump, 11);
  EXPECT_EQ(ok, count);
  ASSERT_TRUE(pump.until([&] { return to->handled == count; })) << "handled " << to->handled << " of " << count;
  // What the handlers got equals what the senders logged.
  auto sent = strip(fromSend.entries, "SEND: ");
  EXPECT_EQ(sent, strip(to->calls.entries, ""));
  EXPECT_EQ(sent, strip(toRecv.entries, "RECV: "));
  // Replies: what the handlers answered equals what the senders read back.
  EXPECT_EQ(strip(toSend.entries, "REPLY: "), strip(fromRecv.entries, "RECV: "));
}

template <class A, class B>
void transcribeAll(std::string &out, EndpointPair<A, B> &p) {
  transcribe(out, "a send", p.aSend);
  transcribe(out, "a recv", p.aRecv);
  transcribe(out, "b send", p.bSend);
  transcribe(out, "b recv", p.bRecv);
}

template <class A, class B, class SendAllA, class SendAllB>
void roundTrip(const char *name, SendAllA sendAllA, int countA, SendAllB sendAllB, int countB) {
  EndpointPair<A, B> p;
  ASSERT_TRUE(p.negotiated);
  std::string transcript;
  if (countB) oneWay(p.pump, p.b, p.a, p.bSend, p.bRecv, p.aSend, p.aRecv, sendAllB, countB);
  transcribeAll(transcript, p);
  p.clearLogs();
  if (countA) oneWay(p.pump, p.a, p.b, p.aSend, p.aRecv, p.bSend, p.bRecv, sendAllA, countA);
  transcribeAll(transcript, p);
  EXPECT_EQ(p.a->handled, countB);
  EXPECT_EQ(p.b->handled, countA);
  checkGolden(name, transcript);
}

#define ROUND_TRIP(Itf, RoleA, RoleB)                                                                 \
  roundTrip<Itf##_##RoleA##_Recorder, Itf##_##RoleB##_Recorder>(#Itf, Itf##_##RoleA##_sendAll,        \
                                                               Itf##_##RoleA##_sendCount(),           \
                                                               Itf##_##RoleB##_sendAll, Itf##_##RoleB##_sendCount())

TEST(GeneratedRoundTrip, ServiceRouter) { ROUND_TRIP(ServiceRouter, router, plugin); }
TEST(GeneratedRoundTrip, WhiteBoard) { ROUND_TRIP(WhiteBoard, server, client); }
TEST(GeneratedRoundTrip, MRUService) { ROUND_TRIP(MRUService, server, client); }
TEST(GeneratedRoundTrip, WindowRegister) { ROUND_TRIP(WindowRegister, server, client); }
TEST(GeneratedRoundTrip, FileRegistry) { ROUND_TRIP(FileRegistry, server, client); }
TEST(GeneratedRoundTrip, ConfigService) { ROUND_TRIP(ConfigService, server, client); }
TEST(GeneratedRoundTrip, FileNotify) { ROUND_TRIP(FileNotify, receiver, notifier); }
TEST(GeneratedRoundTrip, FileBroadcast) { ROUND_TRIP(FileBroadcast, listener, forwarder); }
TEST(GeneratedRoundTrip, KorvoEditor) { ROUND_TRIP(KorvoEditor, editor, client); }

// The counts the service descriptions give for each table.
TEST(GeneratedTables, SizesAndOrder) {
  EXPECT_EQ(ServiceRouter_plugin_msgs_count, 12);
  EXPECT_EQ(ServiceRouter_router_msgs_count, 21);
  EXPECT_EQ(WhiteBoard_server_msgs_count, 9);
  EXPECT_EQ(WhiteBoard_client_msgs_count, 6);
  EXPECT_EQ(MRUService_server_msgs_count, 14);
  EXPECT_EQ(WindowRegister_server_msgs_count, 8);
  EXPECT_EQ(WindowRegister_client_msgs_count, 3);
  EXPECT_EQ(FileRegistry_server_msgs_count, 3);
  EXPECT_EQ(ConfigService_server_msgs_count, 5);
  EXPECT_EQ(ConfigService_client_msgs_count, 4);
  EXPECT_EQ(FileNotify_receiver_msgs_count, 6);
  EXPECT_EQ(FileBroadcast_forwarder_msgs_count, 7);
  EXPECT_EQ(FileBroadcast_listener_msgs_count, 6);
  EXPECT_EQ(KorvoEditor_editor_msgs_count, 10);
  EXPECT_EQ(KorvoEditor_client_msgs_count, 4);
  const STPMessageDesc *t = MRUService_server_msgs;
  for (int i = 0; i < MRUService_server_msgs_count; ++i) {
    EXPECT_EQ(t[i].id, i);
    if (i) {
      EXPECT_LT(strcmp(t[i - 1].name, t[i].name), 0);
    }
  }
  EXPECT_STREQ(t[13].name, "UpdateWindowSavedGeometry");
  EXPECT_EQ(t[13].flags, 1);
  EXPECT_STREQ(KorvoEditor_editor_msgs[2].name, "EditBuildErrorInFile");
  EXPECT_EQ(KorvoEditor_editor_msgs[2].flags, 134);
  EXPECT_EQ(WindowRegister_server_msgs[3].flags, 6);
  EXPECT_EQ(ServiceRouter_plugin_msgs[0].flags, 18);
  EXPECT_STREQ(ConfigService_server_msgs[3].spec, "| configItems:{count:%num% data:*(count)[%str%] } ");
}

TEST(GeneratedTables, ServiceRouterTagNames) {
  static const char *const expected[] = {
      "accept", "args", "argv", "client_cookie", "client_start", "cookie", "count", "data", "debugger",
      "debugger_opts", "do_debug", "error_message", "errors", "found", "host", "hostname", "is_shared_object",
      "localRN", "local_only", "message", "my_plugin_id", "name", "name_list", "name_value_pairs", "no_reuse",
      "num_persistent", "num_total", "persistent", "pluginID", "plugin_id", "plugin_name", "port",
      "providingPluginID", "remoteRN", "requesting_plugin_id", "rn", "rn_list", "serviceName", "serviceRN",
      "service_name", "shared_object_name", "startup_if_not_running", "success", "value", "variable",
      "wasAccepted", "wasFound", "working_dir"};
  ASSERT_EQ(ServiceRouter_tagCount, 48);
  for (int i = 0; i < 48; ++i) EXPECT_STREQ(ServiceRouter_tagNames[i], expected[i]) << i;
}

}  // namespace
