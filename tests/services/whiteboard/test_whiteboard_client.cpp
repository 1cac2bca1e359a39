// The WhiteBoard client against the real WhiteBoard server over loopback
// connections: defaults applied quietly, callbacks and observers in order
// (also when the observer list changes during a notification), writes and
// deletions that reach another connection, snapshots, saving when a
// connection closes, the exit condition, and a snapshot wait on a dead
// connection.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "services/service_connections.h"
#include "services/whiteboard/wb_test_support.h"
#include "services/whiteboard/whiteboard_client.h"
#include "services/whiteboard/whiteboard_server.h"

namespace {

std::vector<std::string> events;  // what the callbacks and observers saw

void onChange(const char *g, const char *n) { events.push_back(std::string("cb ") + g + " " + n); }
void onAny(const char *g, const char *n) { events.push_back(std::string("any ") + g + " " + n); }
void onBool(const char *g, const char *n, bool v) {
  events.push_back(std::string("bool ") + g + " " + n + (v ? " 1" : " 0"));
}
void onDelete(const char *g, const char *n, WhiteBoard_Type t) {
  events.push_back(std::string("del ") + g + " " + n + " " + std::to_string(t));
}

class WhiteBoardClientTest : public ::testing::Test {
 protected:
  WhiteBoard_Image image;
  WhiteBoardLocalFactory factory{&image};
  ServiceConnections net;
  STPSpecClass *lastServer = nullptr;

  void SetUp() override { events.clear(); }

  // Registers a subscribed group and waits for its snapshot; the harness
  // services both ends, which a wait without a retry handler would not.
  bool subscribe(WhiteBoard *wb, const char *group) {
    return wb->registerGroup(group, true, false, nullptr, false) &&
           wb->requestChangesInGroup(group, &net.pump);
  }

  // A connected client; the harness keeps its reference.
  WhiteBoard *connect() {
    auto *wb = new WhiteBoard;
    lastServer = net.connect(&factory, wb);
    EXPECT_NE(lastServer, nullptr);
    return wb;
  }
};

TEST_F(WhiteBoardClientTest, DefaultsAreQuietButLaterServerChangesNotify) {
  WhiteBoard::installDefaultBool("Defaults", "flag", false);
  WhiteBoard::installDefaultInt("Defaults", "count", 7);
  WhiteBoard::installDefaultString("Defaults", "text", "x");
  WhiteBoard::installChangeCallback("Defaults", "flag", onChange);
  WhiteBoard::installChangeCallback("Defaults", "count", nullptr);  // ignored
  WhiteBoard *a = connect();
  WhiteBoard *b = connect();
  EXPECT_EQ(wbDump(*a->getGroup("Defaults")), "b.flag=0 i.count=7 s.text=x");
  EXPECT_TRUE(events.empty());
  ASSERT_TRUE(subscribe(a, "Defaults"));
  ASSERT_TRUE(subscribe(b, "Defaults"));
  EXPECT_TRUE(b->setBool("Defaults", "flag", true, true));
  EXPECT_EQ(events, (std::vector<std::string>{"cb Defaults flag"}));  // b's own change
  ASSERT_TRUE(net.pump.until([&] { return events.size() == 2; }));
  EXPECT_EQ(wbDump(*a->getGroup("Defaults")), "b.flag=1 i.count=7 s.text=x");
  int count = 0;
  // A default recorded now does not reach an existing client.
  WhiteBoard::installDefaultInt("Defaults", "late", 1);
  EXPECT_FALSE(a->getInt("Defaults", "late", count));
}

TEST_F(WhiteBoardClientTest, NamedCallbacksRunBeforeGroupWideOnesAndObserversFirst) {
  WhiteBoard::installChangeCallback("Order", "n", onChange);
  WhiteBoard::installChangeCallback("Order", nullptr, onAny);
  WhiteBoard *a = connect();
  a->registerFuncForBoolChanges("Order", onBool);
  EXPECT_TRUE(a->setBool("Order", "n", true, false));
  EXPECT_TRUE(a->setBool("Order", "m", true, false));
  EXPECT_EQ(events, (std::vector<std::string>{"bool Order n 1", "cb Order n", "any Order n",
                                              "bool Order m 1", "any Order m"}));
  events.clear();
  EXPECT_TRUE(a->setBool("Order", "n", true, true));  // equal value: nothing at all
  EXPECT_TRUE(events.empty());
  // Callbacks recorded for a group that already exists do not reach it.
  WhiteBoard::installChangeCallback("Order", "m", onChange);
  EXPECT_TRUE(a->setBool("Order", "m", false, false));
  EXPECT_EQ(events, (std::vector<std::string>{"bool Order m 0", "any Order m"}));
}

TEST_F(WhiteBoardClientTest, WritesAndDeletionsReachOtherSubscribers) {
  WhiteBoard *a = connect();
  WhiteBoard *b = connect();
  ASSERT_TRUE(subscribe(a, "W"));
  ASSERT_TRUE(subscribe(b, "W"));
  b->registerFuncForDeleteEvents("W", onDelete);
  EXPECT_TRUE(a->setInt("W", "i", -1, true));
  EXPECT_TRUE(a->setString("W", "s", ut_string("text"), true));
  EXPECT_TRUE(a->setStringList("W", "l", wbList({"one", "two"}), true));
  ut_string_list got;
  ASSERT_TRUE(net.pump.until([&] { return b->getStringList("W", "l", got); }));
  EXPECT_EQ(wbDump(*b->getGroup("W")), "i.i=-1 s.s=text l.l=one,two");
  // Type 0 on a name held only as a string: deleted, one notification; a
  // name not held under the type: nothing deleted, nothing sent.
  EXPECT_TRUE(a->deleteName("W", "s", WB_ANY, true));
  EXPECT_TRUE(a->deleteName("W", "i", WB_STRING, true));
  ASSERT_TRUE(net.pump.until([&] { return !events.empty(); }));
  net.settle();
  EXPECT_EQ(events, (std::vector<std::string>{"del W s 0"}));
  EXPECT_EQ(wbDump(*a->getGroup("W")), "i.i=-1 l.l=one,two");
  EXPECT_EQ(wbDump(*b->getGroup("W")), "i.i=-1 l.l=one,two");
}

TEST_F(WhiteBoardClientTest, SnapshotFillsLocalCopyAndBadDeleteTypeIsIgnored) {
  WhiteBoard *a = connect();
  ASSERT_TRUE(a->registerGroup("S", true, false, nullptr, false));
  a->setBool("S", "b1", true, true);
  a->setBool("S", "b2", false, true);
  a->setInt("S", "n", 3, true);
  WhiteBoard *b = connect();
  b->registerFuncForBoolChanges("S", onBool);
  ASSERT_TRUE(b->requestAllChanges(&net.pump));
  EXPECT_EQ(events, (std::vector<std::string>{"bool S b1 1", "bool S b2 0"}));
  EXPECT_EQ(wbDump(*b->getGroup("S")), "b.b1=1 b.b2=0 i.n=3");
  b->msg_DeleteEvent("S", "n", 9);
  EXPECT_EQ(wbDump(*b->getGroup("S")), "b.b1=1 b.b2=0 i.n=3");
  b->msg_DeleteEvent("S", "n", WB_INT32);
  EXPECT_EQ(wbDump(*b->getGroup("S")), "b.b1=1 b.b2=0");
  EXPECT_TRUE(b->saveGroupChangesToFile("unknown", nullptr));
}

// Open connections hold the process; closing one saves the disk groups it
// registered (and only those), and an explicit save goes to the named file.
TEST_F(WhiteBoardClientTest, ClosingSavesOnlyTheDiskGroupsOfThatConnection) {
  WhiteBoard_Server_ExitCondition exitCondition(false);
  EXPECT_TRUE(exitCondition.allowExit());
  std::string file = wbTempDir() + "/close_save.wbd", other = wbTempDir() + "/explicit_save.wbd";
  unlink(file.c_str());
  unlink(other.c_str());
  WhiteBoard *a = connect();
  STPSpecClass *aServer = lastServer;
  WhiteBoard *b = connect();
  STPSpecClass *bServer = lastServer;
  EXPECT_FALSE(exitCondition.allowExit());
  EXPECT_FALSE(exitCondition.mustExit());
  ASSERT_TRUE(a->registerGroup("G", false, false, nullptr, false));
  ASSERT_TRUE(b->registerGroup("G", false, true, file.c_str(), false));
  a->setInt("G", "count", 3, true);
  net.settle();
  net.drop(aServer);  // registered G without disk: writes nothing
  struct stat st;
  EXPECT_NE(stat(file.c_str(), &st), 0);
  net.drop(bServer);
  EXPECT_TRUE(exitCondition.allowExit());
  EXPECT_EQ(testsupport::readFile(file), "Int32 {\n    count = 3\n}\n");
  WhiteBoard *c = connect();
  EXPECT_TRUE(c->send_SaveGroupChangesToFile("G", other.c_str()));
  EXPECT_TRUE(c->send_SaveGroupChangesToFile("nope", other.c_str()));
  net.settle();
  EXPECT_EQ(testsupport::readFile(other), testsupport::readFile(file));
}

TEST(WhiteBoardClientDeadConnection, SnapshotWaitEndsWhenTransportDies) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  TStat st;
  auto *t = new STPTransport(4096);
  ASSERT_TRUE(t->bindFD(fds[0], &st));
  close(fds[1]);
  auto *wb = new WhiteBoard;
  wb->setTransport(t, 1, 2);
  EXPECT_FALSE(wb->requestChangesInGroup("G", nullptr));
  // The local copy is still usable; a write whose send fails reports it.
  bool v = false;
  wb->setBool("G", "x", true, false);
  EXPECT_TRUE(wb->getBool("G", "x", v));
  wb->setTransport(nullptr);
  wb->delRef();
  t->delRef();
}

TEST(WhiteBoardClientFiles, GroupFileLoadsReplaceOrMerge) {
  std::string path = wbTempDir() + "/F.wbd";
  testsupport::writeFile(path, "Int32 {\n    a = 5\n}\n");
  auto *wb = new WhiteBoard;
  wb->setInt("F", "keep", 1, false);
  EXPECT_TRUE(wb->preLoadGroupFile("F", path.c_str()));
  EXPECT_EQ(wbDump(*wb->getGroup("F")), "i.a=5 i.keep=1");
  EXPECT_TRUE(wb->loadGroupFromFile("F", path.c_str()));
  EXPECT_EQ(wbDump(*wb->getGroup("F")), "i.a=5");
  wb->delRef();
}

// Observers that change their own group's observer list while a change is
// being reported: each observer listed when the change began is called at
// most once, one removed before its turn is skipped, and one added hears
// only later changes; also when an observer's own change is reported
// inside the walk.
struct ObserverListCase {
  const char *name;
  const char *installed;   // observers in registration order
  void (*duringFirst)();   // what observer A does the first time it runs
  const char *firstPass;   // observers called for the first change
  const char *secondPass;  // ... and for the next one
};

void PrintTo(const ObserverListCase &c, std::ostream *os) { *os << c.name; }

std::string called;
bool firstRun = true;
WhiteBoard *board = nullptr;
GroupClient *observed = nullptr;
void (*duringFirst)() = nullptr;

template <char Letter>
void observer(const char *, const char *, bool) {
  called += Letter;
  if (Letter == 'A' && firstRun) {
    firstRun = false;
    duringFirst();
  }
}
constexpr WhiteBoard_BoolObserver kObservers[] = {observer<'A'>, observer<'B'>, observer<'C'>,
                                                  observer<'D'>};
WhiteBoard_BoolObserver observerFor(char letter) { return kObservers[letter - 'A']; }

class WhiteBoardObserverListChangedDuringNotification
    : public ::testing::TestWithParam<ObserverListCase> {};

TEST_P(WhiteBoardObserverListChangedDuringNotification, CallsEachListedObserverOnce) {
  const ObserverListCase &c = GetParam();
  auto *wb = new WhiteBoard;
  for (const char *l = c.installed; *l; ++l) wb->registerFuncForBoolChanges("G", observerFor(*l));
  board = wb;
  observed = wb->getGroup("G");
  called.clear();
  firstRun = true;
  duringFirst = c.duringFirst;
  wb->setBool("G", "n", true, false);
  EXPECT_EQ(called, c.firstPass);
  called.clear();
  wb->setBool("G", "n", false, false);
  EXPECT_EQ(called, c.secondPass);
  wb->delRef();
}

const ObserverListCase kObserverListCases[] = {
    // Two observers fill the list, so adding a third moves its storage.
    {"AddAnother", "AB", [] { observed->installFuncForBoolChanges(observerFor('D')); }, "AB",
     "ABD"},
    {"RemoveSelf", "ABC", [] { observed->removeFuncForBoolChanges(observerFor('A')); }, "ABC",
     "BC"},
    {"RemoveAnother", "ABC", [] { observed->removeFuncForBoolChanges(observerFor('C')); }, "AB",
     "AB"},
    // The change A makes is reported inside the first one's walk.
    {"RemoveThenNotifyAgain", "ABC",
     [] {
       observed->removeFuncForBoolChanges(observerFor('B'));
       board->setBool("G", "other", true, false);
     },
     "AACC", "AC"},
};
INSTANTIATE_TEST_SUITE_P(Cases, WhiteBoardObserverListChangedDuringNotification,
                         ::testing::ValuesIn(kObserverListCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
