// runtime_test_support.h: helpers for the runtime library's tests: capture
// of messages and exits through the library's hooks, capture of the
// standard error stream, and scoped environment changes.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"

// Replaces the message and exit hooks for its lifetime; messages are
// formatted with the library's engine and kept with their level, exits are
// recorded instead of ending the process.
class MessageCapture {
 public:
  MessageCapture() : oldMessage_(gen_domessage), oldExit_(gen_exit) {
    current_ = this;
    gen_domessage = &MessageCapture::onMessage;
    gen_exit = &MessageCapture::onExit;
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

  std::string lastText() const { return messages.empty() ? "" : messages.back().second; }

 private:
  static void onMessage(int level, const char *format, va_list args) {
    char *text = gen_avsprintf(format, args);
    current_->messages.emplace_back(level, text ? text : "");
    gen_free(text);
  }
  static void onExit(int status) { current_->exits.push_back(status); }

  static inline MessageCapture *current_ = nullptr;
  gen_domessage_func oldMessage_;
  gen_exit_func oldExit_;
};

// Sends descriptor 2 to a temporary file for its lifetime; text() reads
// what was written so far.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_ = dup(2);
    dup2(fileno(file_), 2);
  }
  ~StderrCapture() {
    restore();
    std::fclose(file_);
  }
  StderrCapture(const StderrCapture &) = delete;
  StderrCapture &operator=(const StderrCapture &) = delete;

  std::string text() {
    std::fflush(stderr);
    std::string out;
    std::rewind(file_);
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
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
  std::string name_;
  std::string old_;
  bool hadOld_ = false;
};

// Sets the program name for a test and clears it afterwards.
class ProgNameGuard {
 public:
  explicit ProgNameGuard(const char *name) { gen_setprogname(name); }
  ~ProgNameGuard() { gen_setprogname(nullptr); }
  ProgNameGuard(const ProgNameGuard &) = delete;
  ProgNameGuard &operator=(const ProgNameGuard &) = delete;
};

// The heap string s as a std::string (empty for null); frees s.
inline std::string take(char *s) {
  std::string out = s ? s : "";
  gen_free(s);
  return out;
}
