// indgen_messages.cpp: messages, exits and assertions of the runtime
// library. Every message goes through the gen_domessage hook and every exit
// through the gen_exit hook, so tests can capture both.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "shared/indgen.h"
#include "shared/indgen_private.h"
#include "shared/mt_vsprintf.h"

gen_domessage_func gen_domessage = gen_default_domessage;
gen_exit_func gen_exit = gen_default_exit;

namespace {

const int kLevels = 7;
int g_counts[kLevels];
int g_error_count;
bool g_exiting;

const char *const kPrefixes[kLevels] = {nullptr, "disaster", "fatal", "error", "warning", "info",
                                        nullptr};

// Appends text to a heap string (gen_fconcat keeps the ownership simple).
void add(char **line, const char *text) { *line = gen_fconcat(*line, text); }

}  // namespace

void gen_private_write_stderr(const char *text) {
  GenPrivatePipeQuiet quiet;
  size_t left = std::strlen(text);
  while (left > 0) {
    ssize_t n = write(2, text, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

bool gen_private_exit_in_progress(void) { return g_exiting; }

void gen_default_domessage(int level, const char *format, va_list args) {
  const int err = errno;
  const int base = level > GEN_LEVEL_PERROR ? level - GEN_LEVEL_PERROR : level;
  GenPrivatePipeQuiet quiet;  // a reader that went away must not end the process
  std::fflush(stdout);
  char *line = gen_copy("");
  if (base != GEN_LEVEL_PRINTF && gen_progname && *gen_progname) {
    add(&line, gen_progname);
    add(&line, ": ");
  }
  if (base >= 0 && base < kLevels && kPrefixes[base]) {
    add(&line, kPrefixes[base]);
    add(&line, ": ");
  }
  char *text = gen_avsprintf(format ? format : "(null)", args);
  add(&line, text);
  if (level > GEN_LEVEL_PERROR && err != 0) {
    add(&line, ": ");
    add(&line, std::strerror(err));
    add(&line, "\n");
    errno = 0;
  } else if (!text || !*text || text[std::strlen(text) - 1] != '\n') {
    add(&line, "\n");
  }
  gen_free(text);
  std::fwrite(line, 1, std::strlen(line), stderr);
  std::fflush(stderr);
  gen_free(line);
  if (base >= 0 && base < kLevels) ++g_counts[base];
  if (base >= 0 && base <= GEN_LEVEL_ERROR) ++g_error_count;
}

void gen_default_exit(int status) {
  if (g_exiting) _exit(status);
  g_exiting = true;
  std::exit(status);
}

int gen_message_count(int level) {
  if (level > GEN_LEVEL_PERROR) level -= GEN_LEVEL_PERROR;
  return level >= 0 && level < kLevels ? g_counts[level] : 0;
}

int gen_error_message_count(void) { return g_error_count; }

void gen_reset_message_counts(void) {
  std::memset(g_counts, 0, sizeof g_counts);
  g_error_count = 0;
}

void gen_vmessage(int level, const char *format, va_list args) { gen_domessage(level, format, args); }

void gen_message(int level, const char *format, ...) {
  va_list args;
  va_start(args, format);
  gen_domessage(level, format, args);
  va_end(args);
}

#define GEN_FORWARD(level)              \
  va_list args;                         \
  va_start(args, format);               \
  gen_domessage((level), format, args); \
  va_end(args)

void gen_error(const char *format, ...) { GEN_FORWARD(GEN_LEVEL_ERROR); }
void gen_warning(const char *format, ...) { GEN_FORWARD(GEN_LEVEL_WARNING); }
void gen_info(const char *format, ...) { GEN_FORWARD(GEN_LEVEL_INFO); }
void gen_printf(const char *format, ...) { GEN_FORWARD(GEN_LEVEL_PRINTF); }
void gen_perror(const char *format, ...) { GEN_FORWARD(GEN_LEVEL_PERROR + GEN_LEVEL_ERROR); }

void gen_errorexit(int status, const char *format, ...) {
  GEN_FORWARD(status != 0 ? GEN_LEVEL_FATAL : GEN_LEVEL_PLAIN);
  gen_exit(status);
}

void gen_perrorexit(int status, const char *format, ...) {
  GEN_FORWARD(GEN_LEVEL_PERROR + GEN_LEVEL_ERROR);
  gen_exit(status);
}

#undef GEN_FORWARD

void gen_successexit(void) { gen_exit(0); }

void __Assert(int cond, const char *expr, const char *file, int line, int extra) {
  if (cond) return;
  std::fflush(stdout);
  char *text = gen_asprintf("Assertion (%s) ", expr ? expr : "");
  if (extra != 0) {
    char *number = gen_asprintf("[%d] ", extra);
    text = gen_fconcat(text, number);
    gen_free(number);
  }
  char *where = gen_asprintf("failed in '%s' on line %d in %s\n", file ? file : "", line,
                             gen_progname ? gen_progname : "");
  text = gen_fconcat(text, where);
  gen_free(where);
  gen_private_write_stderr(text);
  gen_free(text);
  gen_exit(1);
}
