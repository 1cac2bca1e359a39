// indgen_env.cpp: environment, identity and program location: environment
// lookups, home directory, user and host names, working directory, process
// checks, sleeping and the search for executables.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "shared/indgen.h"
#include "shared/indgen_private.h"

namespace {

char *g_homedir;
char *g_progdir;
bool g_progdir_known;
char g_cwd[1024];
bool g_cwd_known;
char g_hostname[256];

// Tries dir/name; a new string when executable.
char *try_exec_in(const char *dir, const char *name) {
  char *path = gen_sconcat(*dir ? dir : ".", name);
  if (gen_canexec(path) == 1) return path;
  gen_free(path);
  return nullptr;
}

char *search_path(const char *name) {
  const char *path = getenv("PATH");
  if (!path) return nullptr;
  while (true) {
    const char *colon = std::strchr(path, ':');
    size_t len = colon ? static_cast<size_t>(colon - path) : std::strlen(path);
    char *dir = gen_copyn(path, static_cast<int>(len));
    char *found = try_exec_in(dir, name);
    gen_free(dir);
    if (found) return found;
    if (!colon) return nullptr;
    path = colon + 1;
  }
}

}  // namespace

void gen_private_forget_env_caches(void) {
  gen_free(g_homedir);
  g_homedir = nullptr;
  gen_free(g_progdir);
  g_progdir = nullptr;
  g_progdir_known = false;
  g_cwd_known = false;
}

const char *gen_getenv(const char *name, const char *def) {
  const char *value = name ? getenv(name) : nullptr;
  return value && *value ? value : def;
}

const char *gen_gethomedir(void) {
  if (g_homedir) return g_homedir;
  const char *home = gen_getenv("HOME", nullptr);
  if (!home) {
    const struct passwd *pw = getpwuid(getuid());
    if (pw && pw->pw_dir && *pw->pw_dir) home = pw->pw_dir;
  }
  g_homedir = gen_copy(home);
  return g_homedir;
}

char *gen_getusername(void) {
  const struct passwd *pw = getpwuid(getuid());
  return pw && pw->pw_name ? gen_copy(pw->pw_name) : nullptr;
}

const char *gen_gethostname(void) {
  if (gethostname(g_hostname, sizeof g_hostname - 1) != 0) g_hostname[0] = 0;
  g_hostname[sizeof g_hostname - 1] = 0;
  return g_hostname;
}

const char *gen_getcwd(void) {
  if (g_cwd_known) return g_cwd;
  if (!getcwd(g_cwd, sizeof g_cwd)) {
    const char *home = gen_gethomedir();
    if (!home || std::strlen(home) >= sizeof g_cwd) {
      gen_errorexit(1, "Could not get current working directory.");
      g_cwd[0] = 0;
      return g_cwd;
    }
    std::strcpy(g_cwd, home);
  }
  g_cwd_known = true;
  return g_cwd;
}

int gen_chdir(const char *path) {
  if (!path) return -1;
  g_cwd_known = false;
  return chdir(path);
}

bool gen_doeslocalprocessexist(pid_t pid) { return kill(pid, 0) == 0 || errno != ESRCH; }

void gen_millisleep(int milliseconds) {
  if (milliseconds <= 0) return;
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

int gen_canexec(const char *path) {
  if (!path || !*path) return -1;
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  if (S_ISDIR(st.st_mode)) return 0;
  return access(path, X_OK) == 0 ? 1 : 0;
}

char *gen_findexec(const char *name, bool in_progdir, int flag) {
  if (!name || !*name) return nullptr;
  if (std::strchr(name, '/')) return gen_canexec(name) == 1 ? gen_copy(name) : nullptr;
  if (in_progdir) {
    const char *dir = gen_getprogdir();
    char *found = dir ? try_exec_in(dir, name) : nullptr;
    if (found) return found;
  }
  return search_path(name);
}

const char *gen_getprogdir(void) {
  if (g_progdir_known) return g_progdir;
  g_progdir_known = true;
  char *program = gen_findexec(gen_execname, false, 0);
  char *dir = gen_dirname(program);
  gen_free(program);
  if (dir) {
    g_progdir = gen_realpath(dir);
    gen_free(dir);
  }
  return g_progdir;
}
