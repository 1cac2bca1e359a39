// Test helpers for the parser and options-database tests: capturing the
// messages of the general library, catching its exits, and a temporary
// folder with files written from strings.
#pragma once

#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"

// Collects every message sent through gen_domessage while it lives, as
// "error: text", "warning: text" or "info: text" (other levels by number).
class MessageCapture {
 public:
  MessageCapture() : saved_(gen_domessage) {
    current_ = this;
    gen_domessage = &hook;
  }
  ~MessageCapture() {
    gen_domessage = saved_;
    current_ = nullptr;
  }
  MessageCapture(const MessageCapture &) = delete;
  MessageCapture &operator=(const MessageCapture &) = delete;

  std::vector<std::string> messages;
  void clear() { messages.clear(); }
  // Every message on its own line.
  std::string all() const {
    std::string out;
    for (const std::string &m : messages) out += m + "\n";
    return out;
  }

 private:
  static void hook(int level, const char *format, va_list args) {
    char *text = gen_avsprintf(format, args);
    const char *prefix = level == GEN_LEVEL_ERROR     ? "error: "
                         : level == GEN_LEVEL_WARNING ? "warning: "
                         : level == GEN_LEVEL_INFO    ? "info: "
                         : level == GEN_LEVEL_FATAL   ? "fatal: "
                                                      : "other: ";
    current_->messages.push_back(prefix + std::string(text ? text : ""));
    gen_free(text);
  }

  gen_domessage_func saved_;
  static inline MessageCapture *current_ = nullptr;
};

// Records gen_exit calls instead of ending the test process.
class ExitCatcher {
 public:
  ExitCatcher() : saved_(gen_exit) {
    status = -1;
    gen_exit = [](int s) { status = s; };
  }
  ~ExitCatcher() { gen_exit = saved_; }
  static inline int status = -1;

 private:
  gen_exit_func saved_;
};

// A fresh folder under TMPDIR (or /tmp), removed with its contents.
class TempDir {
 public:
  TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/korvo_parser_XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    path_ = mkdtemp(buf.data()) ? buf.data() : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string &path() const { return path_; }
  // Writes `text` to the relative name (creating folders); returns the
  // full name.
  std::string write(const std::string &name, const std::string &text) const {
    std::filesystem::path p = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  static std::string read(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string path_;
};
