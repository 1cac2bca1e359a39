// Runtime library messages, exits, assertions, memory exhaustion and signal
// traps. Exits are captured through the exit hook; what must really end a
// process runs in a forked child (death tests).
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime_test_support.h"
#include "shared/indgen.h"

namespace {

// Restores the default hooks inside a death-test child, so that the real
// message and exit functions run.
void use_default_hooks() {
  gen_domessage = gen_default_domessage;
  gen_exit = gen_default_exit;
  gen_setprogname("svc");
}

TEST(Messages, LinesHaveProgramNameAndPrefixAndAreCounted) {
  gen_reset_message_counts();
  StderrCapture err;
  gen_setprogname("svc");
  gen_error("x %d", 5);
  gen_warning("careful");
  gen_info("note\n");
  gen_printf("just %s", "this");  // no name or prefix
  errno = ENOENT;
  gen_perror("open %s", "f");
  EXPECT_EQ(errno, 0);
  gen_perror("again");  // no error number: just the line
  gen_setprogname("");
  gen_message(GEN_LEVEL_DISASTER, "e");
  gen_setprogname(nullptr);
  gen_error("plain");
  EXPECT_EQ(err.text(), "svc: error: x 5\nsvc: warning: careful\nsvc: info: note\njust this\nsvc: error: open f: " +
                            std::string(std::strerror(ENOENT)) + "\nsvc: error: again\ndisaster: e\nerror: plain\n");
  EXPECT_EQ(gen_message_count(GEN_LEVEL_ERROR), 4);
  EXPECT_EQ(gen_message_count(GEN_LEVEL_WARNING), 1);
  EXPECT_EQ(gen_message_count(GEN_LEVEL_PRINTF), 1);
  EXPECT_EQ(gen_error_message_count(), 5);
  gen_reset_message_counts();
}

TEST(Messages, HooksReceiveLevelTextAndExitStatus) {
  MessageCapture capture;
  gen_error("e%d", 1);
  gen_warning("w");
  gen_info("i");
  gen_printf("p");
  gen_perror("pe");
  gen_errorexit(4, "bad %s", "thing");
  gen_errorexit(0, "fine");
  gen_perrorexit(1, "io");
  gen_successexit();
  std::vector<std::pair<int, std::string>> want = {
      {GEN_LEVEL_ERROR, "e1"},   {GEN_LEVEL_WARNING, "w"},   {GEN_LEVEL_INFO, "i"},
      {GEN_LEVEL_PRINTF, "p"},   {GEN_LEVEL_PERROR + GEN_LEVEL_ERROR, "pe"},
      {GEN_LEVEL_FATAL, "bad thing"}, {GEN_LEVEL_PLAIN, "fine"}, {GEN_LEVEL_PERROR + GEN_LEVEL_ERROR, "io"}};
  EXPECT_EQ(capture.messages, want);
  EXPECT_EQ(capture.exits, (std::vector<int>{4, 0, 1, 0}));
}

void exit_again_at_exit() { gen_default_exit(9); }
void hang_up_during_exit() { raise(SIGHUP); }
void *no_memory(size_t, size_t) { return nullptr; }

// Each case runs in a child with the default hooks and ends with the given
// status and exact standard-error text.
TEST(Exits, RealExitsEndWithTheirStatusAndLine) {
  static int value = 3;
  struct Case {
    void (*body)();
    int status;
    const char *line;
  } cases[] = {
      {[] { gen_errorexit(5, "gone %d", 1); }, 5, "^svc: fatal: gone 1\n$"},
      {[] {  // an exit during exit ends at once
         std::atexit(exit_again_at_exit);
         gen_default_exit(3);
       }, 9, "^$"},
      {[] { gen_assert(value == 4); }, 1, "Assertion \\(value == 4\\) failed in '.*' on line [0-9]+ in svc"},
      {[] {
         gen_calloc_hook = no_memory;
         gen_copy("x");
       }, 3, "^svc: fatal: Out of memory\n$"},
      {[] {  // a signal during exit ends at once with status 2
         trapsetup();
         std::atexit(hang_up_during_exit);
         gen_default_exit(0);
       }, 2, "^$"},
  };
  for (const Case &c : cases) {
    EXPECT_EXIT(
        {
          use_default_hooks();
          c.body();
          std::exit(99);
        },
        testing::ExitedWithCode(c.status), c.line);
  }
  gen_assert(value == 3);  // true: nothing happens
}

TEST(Exits, EachTrappedSignalEndsWithStatusTwoAndItsLine) {
  struct Case {
    int sig;
    const char *line;
  } cases[] = {
      {SIGINT, "^svc: fatal: Halted\n$"},     {SIGHUP, "^svc: fatal: Interrupt \\(1\\)\n$"},
      {SIGQUIT, "^svc: fatal: Interrupt \\(3\\)\n$"}, {SIGTERM, "^$"},
      {SIGPIPE, "^svc: fatal: Halted by a SIGPIPE.\n$"}, {SIGXCPU, "^svc: fatal: Cpu Limit Exceeded\n$"},
  };
  for (const Case &c : cases) {
    EXPECT_EXIT(
        {
          use_default_hooks();
          trapsetup();
          raise(c.sig);
          std::exit(99);
        },
        testing::ExitedWithCode(2), c.line)
        << c.sig;
  }
}

TEST(Exits, SignalRecordedWhenTheExitHookReturns) {
  MessageCapture capture;
  struct sigaction old = {};
  sigaction(SIGHUP, nullptr, &old);
  trapsetup();
  raise(SIGHUP);
  EXPECT_EQ(gen_caught_signal(), SIGHUP);
  EXPECT_EQ(capture.lastText(), "Interrupt (1)");
  EXPECT_EQ(capture.exits, (std::vector<int>{2}));
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGXCPU}) signal(sig, SIG_DFL);
  sigaction(SIGHUP, &old, nullptr);
}

TEST(Assertions, FailedAssertionTextAndStatus) {
  gen_setprogname("svc");
  MessageCapture capture;
  StderrCapture err;
  __Assert(1, "fine", "f.cpp", 1, 0);
  __Assert(0, "x > 1", "f.cpp", 12, 0);
  __Assert(0, "p", "g.cpp", 3, 7);
  EXPECT_EQ(err.text(), "Assertion (x > 1) failed in 'f.cpp' on line 12 in svc\n"
                        "Assertion (p) [7] failed in 'g.cpp' on line 3 in svc\n");
  EXPECT_EQ(capture.exits, (std::vector<int>{1, 1}));
  gen_setprogname(nullptr);
}

TEST(Memory, AllocateZeroesAndGrows) {
  auto *p = static_cast<unsigned char *>(gen_allocate(nullptr, 16, 4));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0);
  p[63] = 9;
  p = static_cast<unsigned char *>(gen_allocate(p, 1000, 1));
  EXPECT_EQ(p[63], 9);
  gen_free(p);
  gen_free(nullptr);
  int pair[2] = {1, 2};
  auto *copy = static_cast<int *>(gen_structcopy(pair, sizeof pair));
  EXPECT_EQ(copy[1], 2);
  gen_free(copy);
  EXPECT_EQ(gen_structcopy(nullptr, 8), nullptr);
}

}  // namespace
