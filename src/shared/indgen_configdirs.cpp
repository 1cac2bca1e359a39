// indgen_configdirs.cpp: the user configuration directory (home + ".twl"),
// the site directories beside the program ("config", "defaults"), the
// search of a file through them and the forming of configuration file names.
// The directories are cached until gen_cleanupconfigdirs.
#include <cstring>
#include <unistd.h>

#include "shared/indgen.h"

namespace {

char *g_userdir;
char *g_sitedir;
char *g_sitedefaultdir;
char *g_message;   // the last "Couldn't create ..." text

void set_message(const char **message, const char *dir) {
  gen_free(g_message);
  g_message = gen_concat("Couldn't create user config directory: ", dir);
  if (message) *message = g_message;
}

const char *beside_program(char **cache, const char *name) {
  if (!*cache) {
    const char *progdir = gen_getprogdir();
    if (progdir) *cache = gen_sconcat(progdir, name);
  }
  return *cache;
}

// A copy of path when it is accessible with amode and not a directory.
char *accessible_file(const char *path, int amode) {
  if (path && access(path, amode) == 0 && !gen_isdir(path)) return gen_copy(path);
  return nullptr;
}

bool file_exists(const char *path) { return path && access(path, F_OK) == 0; }

}  // namespace

const char *gen_getuserconfigdir(bool create, const char **message) {
  if (message) *message = nullptr;
  if (!g_userdir) {
    const char *home = gen_gethomedir();
    if (!home) return nullptr;
    g_userdir = gen_sconcat(home, ".twl");
  }
  if (create && !gen_isdir(g_userdir) && gen_createdir(g_userdir, 0755) != 0) {
    set_message(message, g_userdir);
  }
  return g_userdir;
}

void gen_setuserconfigdir(const char *path) {
  if (!path || !*path) return;
  gen_free(g_userdir);
  g_userdir = gen_copy(path);
}

const char *gen_getsiteconfigdir(void) { return beside_program(&g_sitedir, "config"); }

const char *gen_getsitedefaultconfigdir(void) {
  return beside_program(&g_sitedefaultdir, "defaults");
}

char *gen_searchfileinconfigdirs(const char *name, int amode, bool defaults_only,
                                 const char **message) {
  if (message) *message = nullptr;
  if (!name || !*name) return nullptr;
  if (gen_absolutefilename(name)) {
    char *expanded = gen_expand_filename(name);
    char *found = accessible_file(expanded, amode);
    gen_free(expanded);
    return found;
  }
  const char *dirs[3];
  int n = 0;
  if (!defaults_only) {
    dirs[n++] = gen_getuserconfigdir(false, message);
    dirs[n++] = gen_getsiteconfigdir();
  }
  dirs[n++] = gen_getsitedefaultconfigdir();
  for (int i = 0; i < n; ++i) {
    if (!dirs[i]) continue;
    char *path = gen_sconcat(dirs[i], name);
    char *found = accessible_file(path, amode);
    gen_free(path);
    if (found) return found;
  }
  return nullptr;
}

char *gen_createconfigfilename(const char *dir, const char *base, bool use_base,
                               bool try_override) {
  char *cfgname = base ? gen_changesuffix(gen_basename(base), "cfg") : nullptr;
  if (try_override && cfgname) {
    char *overridedir = gen_sconcat(dir, "override");
    char *candidate = gen_sconcat(overridedir, cfgname);
    gen_free(overridedir);
    if (file_exists(candidate)) {
      gen_free(cfgname);
      return candidate;
    }
    gen_free(candidate);
  }
  char *result = gen_sconcat(dir, "twl.cfg");
  if (!file_exists(result) && use_base && cfgname) {
    gen_free(result);
    result = gen_sconcat(dir, cfgname);
  }
  gen_free(cfgname);
  return result;
}

void gen_cleanupconfigdirs(void) {
  gen_free(g_userdir);
  gen_free(g_sitedir);
  gen_free(g_sitedefaultdir);
  gen_free(g_message);
  g_userdir = g_sitedir = g_sitedefaultdir = g_message = nullptr;
}
