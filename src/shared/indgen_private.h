// indgen_private.h: state shared between the runtime library's own source
// files (not part of the public interface). One thread.
#pragma once

// True once gen_default_exit has started the normal process exit.
bool gen_private_exit_in_progress(void);

// Writes text straight to descriptor 2 (no buffering, no formatting).
void gen_private_write_stderr(const char *text);

// Forgets the cached home directory, working directory and program
// directory (gen_destruct).
void gen_private_forget_env_caches(void);
