// indgen_private.h: state shared between the runtime library's own source
// files (not part of the public interface). One thread.
#pragma once

// True once gen_default_exit has started the normal process exit.
bool gen_private_exit_in_progress(void);

// Writes text straight to descriptor 2 (no buffering, no formatting).
// A closed reading end gives up quietly (see GenPrivatePipeQuiet).
void gen_private_write_stderr(const char *text);

#include <signal.h>

// While it lives, a write to a pipe whose reader has gone fails with EPIPE
// instead of raising SIGPIPE: the signal is blocked, and one raised by a
// write in the meantime is taken back before the old mask returns. So a
// closed stderr or stdout costs a message, never the process. A SIGPIPE
// that was already pending stays pending.
class GenPrivatePipeQuiet {
 public:
  GenPrivatePipeQuiet();
  ~GenPrivatePipeQuiet();
  GenPrivatePipeQuiet(const GenPrivatePipeQuiet &) = delete;
  GenPrivatePipeQuiet &operator=(const GenPrivatePipeQuiet &) = delete;

 private:
  sigset_t saved_;
  bool pendingBefore_ = false;
};

// Forgets the cached home directory, working directory and program
// directory (gen_destruct).
void gen_private_forget_env_caches(void);
