// Process utilities: argument vectors, detached program start, scoped change
// of working directory. The child of systemcall only sets its environment and
// executes; it leaves through _exit so that none of the parent's exit
// handlers or buffered output run twice.
#include "shared/libcxxutil/ut_process.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shared/indgen.h"

namespace {

char *copy_string(const char *text, size_t n) {
  char *s = new char[n + 1];
  std::memcpy(s, text, n);
  s[n] = 0;
  return s;
}

bool is_quote(char c) { return c == '"' || c == '\''; }
bool is_separator(char c) { return c == ' ' || c == '\t'; }

// Splits the line into words; quotes stay in the words.
std::vector<std::string> split_words(const char *line) {
  std::vector<std::string> words;
  const char *p = line;
  while (*p) {
    while (is_separator(*p)) ++p;
    if (!*p) break;
    std::string word;
    bool quoted = false;
    for (; *p && (quoted || !is_separator(*p)); ++p) {
      if (is_quote(*p)) quoted = !quoted;
      word += *p;
    }
    words.push_back(std::move(word));
  }
  return words;
}

// The directory of the program file: that of an absolute name, else that of
// the file found on the search path; empty when none. The child calls this.
std::string program_dir(const char *file) {
  char *found = file[0] == '/' ? gen_copy(file) : gen_findexec(file, false, 0);
  if (!found) return std::string();
  char *dir = gen_dirname(found);
  std::string result = dir ? dir : "";
  gen_free(dir);
  gen_free(found);
  return result;
}

[[noreturn]] void run_child(char *const *argv, const char *file) {
  std::string dir = program_dir(file);
  if (!dir.empty()) {
    const char *old = getenv("LD_LIBRARY_PATH");
    std::string value = old ? std::string(old) + ":" + dir : dir;
    setenv("LD_LIBRARY_PATH", value.c_str(), 1);
  }
  execvp(file, argv);
  std::string what = std::string("Unable to execute: ") + file;
  std::perror(what.c_str());
  std::fflush(stderr);
  _exit(2);
}

}  // namespace

char **makeArgv(const char *cmdline, int *argc, bool dashFirst) {
  std::vector<std::string> words = split_words(cmdline ? cmdline : "");
  char **argv = new char *[words.size() + 1];
  for (size_t i = 0; i < words.size(); ++i) {
    std::string &w = words[i];
    if (w.size() >= 2 && is_quote(w.front()) && w.back() == w.front()) {
      w = w.substr(1, w.size() - 2);
    }
    if (i == 0 && dashFirst) w.insert(0, "-");
    argv[i] = copy_string(w.data(), w.size());
  }
  argv[words.size()] = nullptr;
  if (argc) *argc = static_cast<int>(words.size());
  return argv;
}

char **copyArgv(char *const *argv, int argc) {
  if (!argv || argc < 0) argc = 0;
  char **copy = new char *[argc + 1];
  for (int i = 0; i < argc; ++i) {
    copy[i] = argv[i] ? copy_string(argv[i], std::strlen(argv[i])) : nullptr;
  }
  copy[argc] = nullptr;
  return copy;
}

void insertArg(char ***argv, int *argc, int pos, const char *arg) {
  if (!argv || !argc || !arg || pos < 0 || pos > *argc) return;
  int n = *argc;
  char **grown = new char *[n + 2];
  for (int i = 0; i < pos; ++i) grown[i] = (*argv)[i];
  grown[pos] = copy_string(arg, std::strlen(arg));
  for (int i = pos; i < n; ++i) grown[i + 1] = (*argv)[i];
  grown[n + 1] = nullptr;
  delete[] *argv;
  *argv = grown;
  *argc = n + 1;
}

void freeArgv(char **argv) {
  if (!argv) return;
  for (char **p = argv; *p; ++p) delete[] *p;
  delete[] argv;
}

bool systemcall(char *const *argv, int *pid, bool dashFirst) {
  if (!argv || !argv[0]) return false;
  const char *file = argv[0];
  if (dashFirst && file[0]) ++file;
  pid_t child = fork();
  if (child < 0) {
    const char *reason = errno == ENOMEM ? "out of swap space" : "out of memory/processes";
    gen_warning("Couldn't fork process (%s): %s\n", reason, file);
    return false;
  }
  if (child == 0) run_child(argv, file);
  if (pid) *pid = child;
  return true;
}

int spawnProgram(char *const *argv, bool dashFirst) {
  if (!argv || !argv[0]) return 0;
  const char *file = argv[0];
  if (dashFirst && file[0]) ++file;
  if (!*file) return 0;
  if (std::strchr(file, '/')) {
    if (gen_canexec(file) != 1) return 0;
  } else {
    char *found = gen_findexec(file, false, 0);
    if (!found) return 0;
    gen_free(found);
  }
  int pid = 0;
  return systemcall(argv, &pid, dashFirst) ? pid : 0;
}

CwdChanger::CwdChanger(const char *path) {
  if (!path) return;
  saved_ = getcwd(nullptr, 0);
  char *target = gen_expand_filename(path);
  failed_ = !target || gen_chdir(target) != 0;
  gen_free(target);
}

CwdChanger::~CwdChanger() {
  if (saved_ && gen_chdir(saved_) != 0) {
    gen_warning("[CwdChanger]: could not change back to %s", saved_);
  }
  std::free(saved_);
}
