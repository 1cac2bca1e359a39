// The protocol-log sinks: the base class's forwarding and formatting and the
// stdio file log (flushing, ownership of the stream).
#include "shared/stp_transport/stp_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/text_files.h"

namespace {

// Records what reaches the two-argument add.
struct RecordingLog : STPLog {
  using STPLog::add;
  void add(const char *data, int length) override {
    text.append(data, length);
    ++calls;
  }
  std::string text;
  int calls = 0;
};

TEST(STPLogBase, AddForwardsAndAddfFormatsInOnePiece) {
  RecordingLog log;
  log.add(static_cast<const char *>(nullptr));
  log.add("SEND: ");
  log.add("abcdef", 3);
  log.logStart(nullptr, true);  // no-ops in the base class
  log.logEnd(nullptr, false);
  log.addf("%s %d|%-3d|%5.2s", "RECV:", 12, 7, "abc");
  EXPECT_EQ(log.text, "SEND: abcRECV: 12|7  |   ab");
  EXPECT_EQ(log.calls, 3);
  std::string big(5000, 'z');
  log.addf("<%s>", big.c_str());
  EXPECT_EQ(log.text.substr(27), "<" + big + ">");
}

struct FileLogTest : ::testing::Test {
  std::string path = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/stp_log." + std::to_string(getpid());
  FILE *f = fopen(path.c_str(), "w");
  void TearDown() override { unlink(path.c_str()); }
  std::string text() { return testsupport::readFile(path); }
};

TEST_F(FileLogTest, FlushesAtEntryEndAndClosesOnlyAnOwnedStream) {
  ASSERT_NE(f, nullptr);
  {
    STPFileLog log(f, false);
    log.logStart(nullptr, false);
    log.add("REPLY: ");
    log.add("xyz123", 3);
    log.addf(" n=%d\n", 5);
    log.add(static_cast<const char *>(nullptr));
    log.logEnd(nullptr, false);
    EXPECT_EQ(text(), "REPLY: xyz n=5\n");
  }
  EXPECT_GE(fputs("after ", f), 0);  // not owned: still usable
  int fd = fileno(f);
  auto *owner = new STPFileLog(f, true);
  owner->add("unflushed");
  delete owner;
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // closed
  EXPECT_EQ(text(), "REPLY: xyz n=5\nafter unflushed");  // closing flushed it
  TimestampedSTPFileLog none(nullptr, true);  // no file: writes nothing
  none.logStart(nullptr, false);
  none.add("x");
  none.addf("%d", 1);
  none.logEnd(nullptr, false);
  EXPECT_EQ(none.getFile(), nullptr);
}

}  // namespace
