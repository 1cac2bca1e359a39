// indgen_files.cpp: files and directories of the runtime library: the plain
// system calls (viewpathing is off), line reading, directory creation,
// renaming and the temporary directory.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "shared/indgen.h"

namespace {

const int kLineStep = 250;
char *g_tempdir;

// Grows *buffer in steps of kLineStep until it holds need bytes.
void ensure_line_room(char **buffer, int *size, int need) {
  if (*buffer && *size >= need) return;
  int grown = *buffer ? *size : 0;
  while (grown < need) grown += kLineStep;
  *buffer = static_cast<char *>(gen_allocate(*buffer, static_cast<size_t>(grown), 1));
  *size = grown;
}

bool usable_dir(const char *dir) {
  return dir && *dir && gen_isdir(dir) && access(dir, R_OK | W_OK) == 0;
}

}  // namespace

FILE *gen_fopen(const char *name, const char *mode) {
  return name && mode ? std::fopen(name, mode) : nullptr;
}

int gen_open(const char *name, int flags, mode_t mode) { return name ? open(name, flags, mode) : -1; }
int gen_access(const char *name, int amode) { return name ? access(name, amode) : -1; }
int gen_stat(const char *name, struct stat *st) { return name && st ? stat(name, st) : -1; }
int gen_lstat(const char *name, struct stat *st) { return name && st ? lstat(name, st) : -1; }
int gen_unlink(const char *name) { return name ? unlink(name) : -1; }
int gen_sys_access(const char *name, int amode) { return gen_access(name, amode); }
int gen_sys_stat(const char *name, struct stat *st) { return gen_stat(name, st); }

char *gen_getline(FILE *stream, char **buffer, int *size) {
  if (!stream || !buffer || !size) return nullptr;
  int len = 0;
  bool any = false;
  int c;
  while ((c = getc(stream)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (c == '\r') {
      getc(stream);   // the character after a carriage return is part of the end
      break;
    }
    ensure_line_room(buffer, size, len + 2);
    (*buffer)[len++] = static_cast<char>(c);
  }
  if (!any) return nullptr;
  ensure_line_room(buffer, size, len + 1);
  (*buffer)[len] = 0;
  return *buffer;
}

bool gen_isdir(const char *path) {
  struct stat st;
  return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int gen_createdir(const char *path, mode_t mode) {
  if (!path) return -1;
  struct stat st;
  if (stat(path, &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  return mkdir(path, mode);
}

int gen_createdir_recursive(const char *path, mode_t mode) {
  if (!path || !*path) return -1;
  char *copy = gen_copy(path);
  for (char *p = copy + 1; *p; ++p) {
    if (*p != '/') continue;
    *p = 0;
    if (gen_createdir(copy, mode) != 0) {
      gen_free(copy);
      return -1;
    }
    *p = '/';
  }
  gen_free(copy);
  return gen_createdir(path, mode);
}

int gen_renamefile(const char *oldname, const char *newname) {
  if (!oldname || !newname || gen_isdir(oldname) || gen_isdir(newname)) return -1;
  if (rename(oldname, newname) == 0) return 0;
  unlink(newname);
  return rename(oldname, newname) == 0 ? 0 : -1;
}

int gen_removefile(const char *path) {
  if (!path) return -1;
  return gen_isdir(path) ? rmdir(path) : unlink(path);
}

int gen_mkstemp(char *templ) { return templ ? mkstemp(templ) : -1; }

const char *gen_default_temp_dir(const char *preferred) {
  if (g_tempdir) return g_tempdir;
  const char *env = getenv("TMPDIR");
  if (usable_dir(env)) g_tempdir = gen_copy(env);
  else if (usable_dir(preferred)) g_tempdir = gen_copy(preferred);
  else if (usable_dir("/var/tmp/")) g_tempdir = gen_copy("/var/tmp/");
  else g_tempdir = gen_copy("/tmp");
  return g_tempdir;
}

void gen_forget_temp_dir(void) {
  gen_free(g_tempdir);
  g_tempdir = nullptr;
}
