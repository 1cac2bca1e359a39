// runtime_test_support.h: helpers for the runtime and ut_ library tests:
// capture of messages and exits through the library's hooks, capture of
// the standard error stream, scoped environment changes and a temporary
// folder with files written from strings.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"
#include "support/text_files.h"

// Replaces the message and exit hooks for its lifetime; messages are
// formatted with the library's engine and kept with their level, exits are
// recorded instead of ending the process.
class MessageCapture {
 public:
  MessageCapture() : oldMessage_(gen_domessage), oldExit_(gen_exit) {
    current_ = this;
    gen_domessage = [](int level, const char *format, va_list args) {
      char *text = gen_avsprintf(format, args);
      current_->messages.emplace_back(level, text ? text : "");
      gen_free(text);
    };
    gen_exit = [](int status) { current_->exits.push_back(status); };
  }
  ~MessageCapture() {
    gen_domessage = oldMessage_;
    gen_exit = oldExit_;
    current_ = nullptr;
  }
  MessageCapture(const MessageCapture &) = delete;
  MessageCapture &operator=(const MessageCapture &) = delete;

  std::vector<std::pair<int, std::string>> messages;
  std::vector<int> exits;

  void clear() { messages.clear(); }
  std::string lastText() const { return messages.empty() ? "" : messages.back().second; }
  // Every message on its own line as "error: text", "warning: text", ...
  std::string all() const {
    std::string out;
    for (const auto &[level, text] : messages) {
      out += level == GEN_LEVEL_ERROR     ? "error: "
             : level == GEN_LEVEL_WARNING ? "warning: "
             : level == GEN_LEVEL_INFO    ? "info: "
             : level == GEN_LEVEL_FATAL   ? "fatal: "
                                          : "other: ";
      out += text + "\n";
    }
    return out;
  }

 private:
  static inline MessageCapture *current_ = nullptr;
  gen_domessage_func oldMessage_;
  gen_exit_func oldExit_;
};

// Sends descriptor 2 to a temporary file for its lifetime; text() reads
// what was written so far.
class StderrCapture {
 public:
  StderrCapture() : file_(std::tmpfile()), saved_((std::fflush(stderr), dup(2))) { dup2(fileno(file_), 2); }
  ~StderrCapture() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    std::fclose(file_);
  }
  StderrCapture(const StderrCapture &) = delete;
  StderrCapture &operator=(const StderrCapture &) = delete;

  std::string text() {
    std::fflush(stderr);
    std::rewind(file_);
    std::string out;
    for (int c; (c = std::fgetc(file_)) != EOF;) out += static_cast<char>(c);
    return out;
  }

 private:
  std::FILE *file_;
  int saved_;
};

// Sets (or, with null, unsets) an environment variable and restores the old
// value at the end of the scope.
class EnvGuard {
 public:
  EnvGuard(const char *name, const char *value) : name_(name) {
    const char *old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~EnvGuard() {
    if (hadOld_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
  }
  EnvGuard(const EnvGuard &) = delete;
  EnvGuard &operator=(const EnvGuard &) = delete;

 private:
  std::string name_, old_;
  bool hadOld_ = false;
};

// A fresh folder under TMPDIR (or /tmp), removed with its contents.
class TempDir {
 public:
  TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/korvo_test_XXXXXX";
    path_ = mkdtemp(templ.data()) ? templ : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string path(const std::string &name) const { return path_ + "/" + name; }
  // Writes `text` to the relative name (creating folders) with the given
  // permissions; returns the full name.
  std::string write(const std::string &name, const std::string &text,
                    std::filesystem::perms mode = std::filesystem::perms(0644)) const {
    std::filesystem::path p = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(p.parent_path());
    testsupport::writeFile(p.string(), text);
    std::filesystem::permissions(p, mode);
    return p.string();
  }
  static std::string read(const std::string &file) { return testsupport::readFile(file); }

 private:
  std::string path_;
};

// The heap string s as a std::string (empty for null); frees s.
inline std::string take(char *s) {
  std::string out = s ? s : "";
  gen_free(s);
  return out;
}
