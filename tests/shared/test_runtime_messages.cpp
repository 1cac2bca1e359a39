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
void use_default_hooks(const char *progname) {
  gen_domessage = gen_default_domessage;
  gen_exit = gen_default_exit;
  gen_setprogname(progname);
}

TEST(Messages, LinesHaveProgramNameAndPrefixExceptPrintf) {
  ProgNameGuard name("svc");
  StderrCapture err;
  gen_error("x %d", 5);
  gen_warning("careful");
  gen_info("note\n");
  gen_printf("just %s", "this");  // no name or prefix
  EXPECT_EQ(err.text(), "svc: error: x 5\nsvc: warning: careful\nsvc: info: note\njust this\n");
}

TEST(Messages, WithoutProgramNameOnlyThePrefix) {
  gen_setprogname("");
  StderrCapture err;
  gen_error("plain");
  gen_setprogname(nullptr);
  gen_warning("also");
  EXPECT_EQ(err.text(), "error: plain\nwarning: also\n");
}

TEST(Messages, PerrorAppendsTheSystemErrorAndClearsIt) {
  ProgNameGuard name("svc");
  StderrCapture err;
  errno = ENOENT;
  gen_perror("open %s", "f");
  EXPECT_EQ(errno, 0);
  gen_perror("again");   // no error number: just the line
  EXPECT_EQ(err.text(), std::string("svc: error: open f: ") + std::strerror(ENOENT) + "\nsvc: error: again\n");
}

TEST(Messages, DefaultFunctionCountsPerLevel) {
  gen_reset_message_counts();
  StderrCapture err;
  gen_error("a");
  gen_error("b");
  gen_warning("c");
  gen_printf("d");
  gen_message(GEN_LEVEL_DISASTER, "e");
  EXPECT_EQ(gen_message_count(GEN_LEVEL_ERROR), 2);
  EXPECT_EQ(gen_message_count(GEN_LEVEL_WARNING), 1);
  EXPECT_EQ(gen_message_count(GEN_LEVEL_PRINTF), 1);
  EXPECT_EQ(gen_error_message_count(), 3);
  EXPECT_NE(err.text().find("disaster: e\n"), std::string::npos);
  gen_reset_message_counts();
}

TEST(Messages, HookReceivesLevelAndFormattedText) {
  MessageCapture capture;
  gen_error("e%d", 1);
  gen_warning("w");
  gen_info("i");
  gen_printf("p");
  gen_perror("pe");
  ASSERT_EQ(capture.messages.size(), 5u);
  EXPECT_EQ(capture.messages[0], std::make_pair(int{GEN_LEVEL_ERROR}, std::string("e1")));
  EXPECT_EQ(capture.messages[1].first, GEN_LEVEL_WARNING);
  EXPECT_EQ(capture.messages[2].first, GEN_LEVEL_INFO);
  EXPECT_EQ(capture.messages[3].first, GEN_LEVEL_PRINTF);
  EXPECT_EQ(capture.messages[4].first, GEN_LEVEL_PERROR + GEN_LEVEL_ERROR);
}

TEST(Exits, ErrorExitGoesThroughTheHooks) {
  MessageCapture capture;
  gen_errorexit(4, "bad %s", "thing");
  gen_errorexit(0, "fine");
  gen_perrorexit(1, "io");
  gen_successexit();
  ASSERT_EQ(capture.messages.size(), 3u);
  EXPECT_EQ(capture.messages[0], std::make_pair(int{GEN_LEVEL_FATAL}, std::string("bad thing")));
  EXPECT_EQ(capture.messages[1].first, GEN_LEVEL_PLAIN);
  EXPECT_EQ(capture.messages[2].first, GEN_LEVEL_PERROR + GEN_LEVEL_ERROR);
  EXPECT_EQ(capture.exits, (std::vector<int>{4, 0, 1, 0}));
}

TEST(Exits, FatalLineAndStatusInARealExit) {
  EXPECT_EXIT(
      {
        use_default_hooks("svc");
        gen_errorexit(5, "gone %d", 1);
      },
      testing::ExitedWithCode(5), "^svc: fatal: gone 1\n$");
}

void exit_again_at_exit() { gen_default_exit(9); }

TEST(Exits, ExitDuringExitEndsAtOnce) {
  EXPECT_EXIT(
      {
        use_default_hooks("svc");
        std::atexit(exit_again_at_exit);
        gen_default_exit(3);
      },
      testing::ExitedWithCode(9), "");
}

TEST(Assertions, FailedAssertionTextAndStatus) {
  ProgNameGuard name("svc");
  MessageCapture capture;
  StderrCapture err;
  __Assert(1, "fine", "f.cpp", 1, 0);
  __Assert(0, "x > 1", "f.cpp", 12, 0);
  __Assert(0, "p", "g.cpp", 3, 7);
  EXPECT_EQ(err.text(), "Assertion (x > 1) failed in 'f.cpp' on line 12 in svc\n"
                        "Assertion (p) [7] failed in 'g.cpp' on line 3 in svc\n");
  EXPECT_EQ(capture.exits, (std::vector<int>{1, 1}));
}

TEST(Assertions, MacroReportsTheExpressionAndEndsWithStatusOne) {
  int value = 3;
  EXPECT_EXIT(
      {
        use_default_hooks("svc");
        gen_assert(value == 4);
      },
      testing::ExitedWithCode(1), "Assertion \\(value == 4\\) failed in '.*' on line [0-9]+ in svc");
  gen_assert(value == 3);   // true: nothing happens
}

void *no_memory(size_t, size_t) { return nullptr; }

TEST(Memory, ExhaustionIsFatalWithStatusThree) {
  EXPECT_EXIT(
      {
        use_default_hooks("svc");
        gen_calloc_hook = no_memory;
        gen_copy("x");
      },
      testing::ExitedWithCode(3), "^svc: fatal: Out of memory\n$");
}

TEST(Memory, AllocateZeroesAndGrows) {
  auto *p = static_cast<unsigned char *>(gen_allocate(nullptr, 16, 4));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0);
  p[63] = 9;
  p = static_cast<unsigned char *>(gen_allocate(p, 1000, 1));
  EXPECT_EQ(p[63], 9);
  gen_free(p);
  gen_free(nullptr);
  struct Pair {
    int a, b;
  } pair{1, 2};
  auto *copy = static_cast<Pair *>(gen_structcopy(&pair, sizeof pair));
  EXPECT_EQ(copy->b, 2);
  gen_free(copy);
  EXPECT_EQ(gen_structcopy(nullptr, 8), nullptr);
}

// ---------------------------------------------------------------------------
// Signal traps: each runs in a child with the traps installed.

void raise_with_traps(int sig) {
  use_default_hooks("svc");
  trapsetup();
  raise(sig);
  std::exit(99);   // not reached when the trap works
}

TEST(SignalTraps, EachTrappedSignalEndsWithStatusTwoAndItsLine) {
  struct Case {
    int sig;
    const char *line;
  } cases[] = {
      {SIGINT, "^svc: fatal: Halted\n$"},
      {SIGHUP, "^svc: fatal: Interrupt \\(1\\)\n$"},
      {SIGQUIT, "^svc: fatal: Interrupt \\(3\\)\n$"},
      {SIGTERM, "^$"},  // silent
      {SIGPIPE, "^svc: fatal: Halted by a SIGPIPE.\n$"},
      {SIGXCPU, "^svc: fatal: Cpu Limit Exceeded\n$"},
  };
  for (const Case &c : cases) {
    EXPECT_EXIT(raise_with_traps(c.sig), testing::ExitedWithCode(2), c.line) << c.sig;
  }
}

void hang_up_during_exit() { raise(SIGHUP); }

TEST(SignalTraps, SignalDuringExitEndsAtOnceWithStatusTwo) {
  EXPECT_EXIT(
      {
        use_default_hooks("svc");
        trapsetup();
        std::atexit(hang_up_during_exit);
        gen_default_exit(0);
      },
      testing::ExitedWithCode(2), "^$");
}

TEST(SignalTraps, SignalRecordedWhenTheExitHookReturns) {
  MessageCapture capture;
  struct sigaction old = {};
  sigaction(SIGHUP, nullptr, &old);
  trapsetup();
  raise(SIGHUP);
  EXPECT_EQ(gen_caught_signal(), SIGHUP);
  EXPECT_EQ(capture.lastText(), "Interrupt (1)");
  EXPECT_EQ(capture.exits, (std::vector<int>{2}));
  // Put the test process's dispositions back.
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGXCPU}) signal(sig, SIG_DFL);
  sigaction(SIGHUP, &old, nullptr);
}

TEST(Init, RecordsProgramIdentity) {
  EXPECT_EXIT(
      {
        gen_init("/opt/korvo/bin/svc_statemgr/", 0, 0);
        if (std::string(gen_progname) != "svc_statemgr") std::exit(10);
        if (gen_getprogname() != gen_progname) std::exit(13);
        if (std::string(gen_execname) != "/opt/korvo/bin/svc_statemgr/") std::exit(11);
        gen_destruct();
        gen_destruct();
        std::exit(gen_progname == nullptr && gen_getprogname() == nullptr ? 0 : 12);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
