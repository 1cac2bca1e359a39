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
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "configservice_testkit.h"
#include "filebroadcast_testkit.h"
#include "filenotify_testkit.h"
#include "fileregistry_testkit.h"
#include "korvoeditor_testkit.h"
#include "mruservice_testkit.h"
#include "servicerouter_testkit.h"
#include "support/text_files.h"
#include "tools/logged_pair.h"
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
    testsupport::writeFile(path, text);
    return;
  }
  ASSERT_EQ(::access(path.c_str(), R_OK), 0) << path;
  EXPECT_EQ(testsupport::readFile(path), text) << path;
}

// One direction: `from` sends everything, `to` handles it; each log pair
// is (send, receive) of one side.
template <class From, class To, class SendAll>
void oneWay(testsupport::Pump &pump, From *from, To *to, StringLog *const *fromLogs, StringLog *const *toLogs,
            SendAll sendAll, int count) {
  EXPECT_EQ(sendAll(from, &pump, 11), count);
  ASSERT_TRUE(pump.until([&] { return to->handled == count; })) << "handled " << to->handled << " of " << count;
  // What the handlers got equals what the senders logged.
  auto sent = strip(fromLogs[0]->entries, "SEND: ");
  EXPECT_EQ(sent, strip(to->calls.entries, ""));
  EXPECT_EQ(sent, strip(toLogs[1]->entries, "RECV: "));
  // Replies: what the handlers answered equals what the senders read back.
  EXPECT_EQ(strip(toLogs[0]->entries, "REPLY: "), strip(fromLogs[1]->entries, "RECV: "));
}

template <class A, class B, class SendAllA, class SendAllB>
void roundTrip(const char *name, SendAllA sendAllA, int countA, SendAllB sendAllB, int countB) {
  LoggedPair<A, B> p;
  ASSERT_TRUE(p.negotiated);
  StringLog *aLogs[] = {&p.aSend, &p.aRecv}, *bLogs[] = {&p.bSend, &p.bRecv};
  std::string transcript;
  auto transcribeAll = [&] {
    for (auto [heading, log] : {std::pair<const char *, StringLog *>{"a send", &p.aSend}, {"a recv", &p.aRecv},
                                {"b send", &p.bSend}, {"b recv", &p.bRecv}})
      transcribe(transcript, heading, *log);
  };
  if (countB) oneWay(p.pump, p.b, p.a, bLogs, aLogs, sendAllB, countB);
  transcribeAll();
  p.clearLogs();
  if (countA) oneWay(p.pump, p.a, p.b, aLogs, bLogs, sendAllA, countA);
  transcribeAll();
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

}  // namespace
