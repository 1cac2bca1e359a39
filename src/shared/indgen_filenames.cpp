// indgen_filenames.cpp: file-name arithmetic of the runtime library:
// joining, canonical forms, directory and suffix parts, "~" expansion.
// Results are new heap strings (gen_free) unless noted.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <pwd.h>

#include "shared/indgen.h"

namespace {

bool is_dotdot(const char *component, size_t len) {
  return len == 2 && component[0] == '.' && component[1] == '.';
}

// Joins dir and name with one "/" and canonicalises; "" becomes ".".
char *join_canonical(const char *dir, const char *name) {
  size_t dlen = std::strlen(dir);
  char *joined = (dlen > 0 && dir[dlen - 1] == '/') ? gen_concat(dir, name) : gen_concat3(dir, "/", name);
  gen_canonicalfilename(joined);
  if (!*joined) {
    gen_free(joined);
    return gen_copy(".");
  }
  return joined;
}

}  // namespace

bool gen_absolutefilename(const char *name) { return name && (name[0] == '/' || name[0] == '~'); }

const char *gen_basename(const char *name) {
  if (!name) return nullptr;
  const char *slash = std::strrchr(name, '/');
  return slash ? slash + 1 : name;
}

char *gen_basename(char *name) {
  return const_cast<char *>(gen_basename(static_cast<const char *>(name)));
}

char *gen_dirname(const char *name) {
  if (!name) return nullptr;
  const char *slash = std::strrchr(name, '/');
  if (!slash) return nullptr;
  if (slash == name) return gen_copy("/");
  return gen_copyn(name, static_cast<int>(slash - name));
}

char *gen_canonicalfilename(char *name) {
  if (!name) return name;
  const bool absolute = name[0] == '/';
  // Components are copied down in place; "out" never passes "in".
  char *out = name + (absolute ? 1 : 0);
  char *const start = out;
  const char *in = out;
  int kept = 0;   // components in out that are not ".."
  while (*in) {
    const char *end = std::strchr(in, '/');
    size_t len = end ? static_cast<size_t>(end - in) : std::strlen(in);
    if (len == 0 || (len == 1 && in[0] == '.')) {
      // doubled "/" or "."
    } else if (is_dotdot(in, len) && kept > 0) {
      // Drop the last kept component and the separator before it.
      while (out > start && out[-1] != '/') --out;
      if (out > start) --out;
      --kept;
    } else if (is_dotdot(in, len) && absolute) {
      // "/.." is "/"
    } else {
      if (out > start) *out++ = '/';
      std::memmove(out, in, len);
      out += len;
      if (!is_dotdot(in, len)) ++kept;
    }
    in += len;
    while (*in == '/') ++in;
  }
  *out = 0;
  return name;
}

char *gen_sconcat(const char *dir, const char *name) {
  if (!name) name = "";
  if (name[0] == '/') return gen_copy(name);
  if (!dir || !*dir) return gen_copy(*name ? name : ".");
  return join_canonical(dir, name);
}

char *gen_dconcat(const char *dir, const char *name) {
  if (!name || !*name) return gen_copy(dir ? dir : "");
  if (name[0] == '/' || name[0] == '~') return gen_copy(name);
  if (!dir || !*dir) return gen_copy(name);
  return join_canonical(dir, name);
}

char *gen_changesuffix(const char *name, const char *suffix) {
  if (!name) return nullptr;
  if (!suffix) suffix = "";
  if (*suffix == '.') ++suffix;
  const char *base = gen_basename(name);
  const char *dot = std::strrchr(base, '.');
  size_t keep = dot ? static_cast<size_t>(dot - name) : std::strlen(name);
  char *stem = gen_copyn(name, static_cast<int>(keep));
  return gen_fconcat3(stem, ".", suffix);
}

char *gen_expand_filename(const char *name) {
  if (!name) return nullptr;
  if (name[0] != '~') return gen_copy(name);
  const char *rest = std::strchr(name, '/');
  if (!rest) rest = name + std::strlen(name);
  if (rest == name + 1) {
    const char *home = gen_gethomedir();
    return home ? gen_concat(home, rest) : gen_copy(name);
  }
  char *user = gen_copyn(name + 1, static_cast<int>(rest - name - 1));
  const struct passwd *pw = getpwnam(user);
  gen_free(user);
  if (!pw || !pw->pw_dir) return gen_copy(name);
  return gen_concat(pw->pw_dir, rest);
}

char *gen_realpath(const char *name) {
  if (!name) return nullptr;
  char *resolved = realpath(name, nullptr);
  if (!resolved) return gen_copy(name);
  char *copy = gen_copy(resolved);
  std::free(resolved);
  return copy;
}
