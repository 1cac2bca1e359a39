// Deletion at exit: key order, equal keys in registration order, and
// objects registered by a destructor while the exit handler runs. Runs in a
// child process, since only an exit shows the effect.
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "services/state/deleteable.h"

namespace {

struct Named : DeleteAble {
  explicit Named(const char *n, bool registerLate = false) : name(n), late(registerLate) {}
  ~Named() override {
    std::fprintf(stderr, "del:%s\n", name);
    if (late) delete_at_exit(new Named("late"), 0.0f);
  }
  const char *name;
  bool late;
};

TEST(DeleteAtExitTest, DeletesInAscendingKeyOrderAndEqualKeysInRegistrationOrder) {
  EXPECT_EXIT(
      {
        delete_at_exit(new Named("5a"), 5.0f);
        delete_at_exit(new Named("1"), 1.0f);
        delete_at_exit(nullptr, 2.0f);  // ignored
        delete_at_exit(new Named("5b"), 5.0f);
        delete_at_exit(new Named("3", true), 3.0f);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^del:1\ndel:3\ndel:late\ndel:5a\ndel:5b\n$");
}

}  // namespace
