// A retry handler for the router-client tests whose router answers
// requests: each round pumps the scripted router (and the idle notifier)
// and then runs the test's responder, which looks at the router's log and
// sends the answers the script calls for. Bounded by its time-out.
#pragma once

#include <cstdlib>
#include <functional>
#include <string>

#include "scripted_router.h"
#include "shared/libcxxutil/ut_retry_handler.h"

namespace srtest {

class AnsweringPump : public RetryHandler {
 public:
  AnsweringPump(RouterSide *side, int timeoutMs, std::function<void()> responder = {})
      : RetryHandler(kRetryMillisBase + timeoutMs), side(side), responder(std::move(responder)) {}
  void idle() override {
    side->pumpOnce();
    if (responder) responder();
  }

 private:
  RouterSide *side;
  std::function<void()> responder;
};

// The n-th (from 0) logged line starting with `prefix`, or "".
inline std::string loggedLine(const ScriptedRouter *router, const std::string &prefix, int n = 0) {
  for (const std::string &l : router->log) {
    if (l.compare(0, prefix.size(), prefix) != 0) continue;
    if (n-- == 0) return l;
  }
  return "";
}

// The last blank-separated word of a line as a number (the cookie of most
// requests), -1 when there is none.
inline int lastNumber(const std::string &line) {
  size_t blank = line.rfind(' ');
  if (blank == std::string::npos) return -1;
  return std::atoi(line.c_str() + blank + 1);
}

// The word number `index` (from 0) of a line.
inline std::string word(const std::string &line, int index) {
  size_t start = 0;
  for (int i = 0; i < index; ++i) {
    start = line.find(' ', start);
    if (start == std::string::npos) return "";
    ++start;
  }
  size_t end = line.find(' ', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The word `index` places before the last one (0: the last word).
inline std::string wordFromEnd(const std::string &line, int index) {
  size_t end = line.size();
  for (int i = 0; i < index; ++i) {
    size_t blank = line.rfind(' ', end - 1);
    if (blank == std::string::npos || blank == 0) return "";
    end = blank;
  }
  size_t blank = line.rfind(' ', end - 1);
  size_t start = blank == std::string::npos ? 0 : blank + 1;
  return line.substr(start, end - start);
}

}  // namespace srtest
