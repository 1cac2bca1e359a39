// StringLog: an STPLog that keeps every entry (logStart ... logEnd) as one
// string, so tests can compare protocol-log entries exactly. Text added
// outside an entry opens a new one.
#pragma once

#include <string>
#include <vector>

#include "shared/stp_transport/stp_log.h"

class StringLog : public STPLog {
 public:
  std::vector<std::string> entries;

  using STPLog::add;
  void add(const char *data, int length) override {
    if (!open_) entries.emplace_back();
    open_ = true;
    entries.back().append(data, length);
  }
  void logStart(STPSpecClass *, bool) override {
    entries.emplace_back();
    open_ = true;
  }
  void logEnd(STPSpecClass *, bool) override { open_ = false; }
  void clear() {
    entries.clear();
    open_ = false;
  }

 private:
  bool open_ = false;
};
