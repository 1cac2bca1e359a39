// Tests of the protocol-log sinks: the base class's forwarding and
// formatting, the stdio file log, and the timestamp prefix of entries.
#include "shared/stp_transport/stp_log.h"

#include <fcntl.h>
#include <sys/time.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

// Records what reaches the two-argument add.
class RecordingLog : public STPLog {
 public:
  using STPLog::add;
  void add(const char *data, int length) override {
    text.append(data, length);
    ++calls;
  }
  std::string text;
  int calls = 0;
};

long long wall_seconds() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return now.tv_sec;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class FileLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *tmp = getenv("TMPDIR");
    path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/stp_log." + std::to_string(getpid());
  }
  void TearDown() override { unlink(path_.c_str()); }
  std::string path_;
};

TEST(STPLogBase, AddForwardsWithLengthAndIgnoresNull) {
  RecordingLog log;
  log.add(static_cast<const char *>(nullptr));
  EXPECT_EQ(log.calls, 0);
  log.add("SEND: ");
  log.add("abcdef", 3);
  EXPECT_EQ(log.text, "SEND: abc");
  EXPECT_EQ(log.calls, 2);
  log.logStart(nullptr, true);  // no-ops in the base class
  log.logEnd(nullptr, false);
  EXPECT_EQ(log.calls, 2);
}

TEST(STPLogBase, AddfFormatsThroughTheLibraryEngine) {
  RecordingLog log;
  log.addf("%s %d|%-3d|%5.2s", "RECV:", 12, 7, "abc");
  EXPECT_EQ(log.text, "RECV: 12|7  |   ab");
  EXPECT_EQ(log.calls, 1);  // one formatted piece, written once
  std::string big(5000, 'z');
  log.text.clear();
  log.addf("<%s>", big.c_str());
  EXPECT_EQ(log.text, "<" + big + ">");
}

TEST_F(FileLogTest, WritesTextAndBytesAndFlushesAtEntryEnd) {
  FILE *f = fopen(path_.c_str(), "w");
  ASSERT_NE(f, nullptr);
  {
    STPFileLog log(f, false);
    log.logStart(nullptr, false);
    log.add("REPLY: ");
    log.add("xyz123", 3);
    log.addf(" n=%d\n", 5);
    log.add(static_cast<const char *>(nullptr));
    log.logEnd(nullptr, false);
    EXPECT_EQ(read_file(path_), "REPLY: xyz n=5\n");  // flushed, still open
  }
  // Not owned: the stream is still usable after the log is gone.
  EXPECT_GE(fputs("after\n", f), 0);
  fclose(f);
  EXPECT_EQ(read_file(path_), "REPLY: xyz n=5\nafter\n");
}

TEST_F(FileLogTest, ClosesOwnedStreamOnDelete) {
  FILE *f = fopen(path_.c_str(), "w");
  ASSERT_NE(f, nullptr);
  int fd = fileno(f);
  auto *log = new STPFileLog(f, true);
  log->add("unflushed");
  delete log;
  errno = 0;
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(read_file(path_), "unflushed");  // closing flushed it
}

TEST_F(FileLogTest, NullFileWritesNothing) {
  TimestampedSTPFileLog log(nullptr, true);
  log.logStart(nullptr, false);
  log.add("x");
  log.add("y", 1);
  log.addf("%d", 1);
  log.logEnd(nullptr, false);
  EXPECT_EQ(log.getFile(), nullptr);
}

TEST_F(FileLogTest, TimestampedEntriesStartWithSecondsAndThreeMilliDigits) {
  FILE *f = fopen(path_.c_str(), "w");
  ASSERT_NE(f, nullptr);
  // Bounds from the same clock as the log (time() reads a coarser clock that
  // can lag it by a tick).
  long long before = wall_seconds();
  {
    TimestampedSTPFileLog log(f, true);
    for (int i = 0; i < 3; ++i) {
      log.logStart(nullptr, false);
      log.addf("SEND: msg%d\n", i);
      log.logEnd(nullptr, false);
    }
  }
  long long after = wall_seconds();
  std::istringstream lines(read_file(path_));
  std::regex entry(R"(^(\d+)\.(\d{3}): SEND: msg(\d)$)");
  int n = 0;
  for (std::string line; std::getline(lines, line); ++n) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, entry)) << line;
    long long secs = std::stoll(m[1]);
    EXPECT_GE(secs, before);
    EXPECT_LE(secs, after);
    EXPECT_EQ(std::stoi(m[3]), n);
  }
  EXPECT_EQ(n, 3);
}

}  // namespace
