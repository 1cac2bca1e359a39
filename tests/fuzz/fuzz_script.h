// Helpers shared by the scripted libFuzzer targets of the STP body readers:
// the input split into a script and the bytes it runs on, the records and
// arrays a script entered (left again at the end), and the silencing of the
// reader warnings that malformed input is expected to cause. One thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "shared/indgen.h"

// A fuzz input split as: byte 0 = script length k (mod 48, cut to what is
// there), k script bytes, then the payload.
struct FuzzScriptInput {
  const uint8_t *script = nullptr;
  size_t scriptSize = 0;
  const uint8_t *payload = nullptr;
  size_t payloadSize = 0;
};

// False for an empty input (nothing to run).
inline bool fuzzSplitScript(const uint8_t *data, size_t size, FuzzScriptInput *in) {
  if (size == 0) return false;
  size_t k = data[0] % 48;
  if (k > size - 1) k = size - 1;
  in->script = data + 1;
  in->scriptSize = k;
  in->payload = data + 1 + k;
  in->payloadSize = size - 1 - k;
  return true;
}

// The records and arrays a script has entered on `Reader`, innermost last,
// at most 16 deep. Leaves whatever is still open when it goes away.
template <typename Reader, typename State>
class FuzzNesting {
 public:
  explicit FuzzNesting(Reader &r) : r_(r) {}
  ~FuzzNesting() {
    while (leave()) {
    }
  }
  FuzzNesting(const FuzzNesting &) = delete;
  FuzzNesting &operator=(const FuzzNesting &) = delete;

  // A new level's state, to pass to getStartArray/getStartStruct; null when
  // the script is already 16 deep.
  State *enter(bool array) {
    if (states_.size() >= 16) return nullptr;
    states_.emplace_back();
    isArray_.push_back(array);
    return &states_.back();
  }
  // Leaves the innermost level; false when none is open.
  bool leave() {
    if (states_.empty()) return false;
    isArray_.back() ? r_.getEndArray(states_.back()) : r_.getEndStruct(states_.back());
    states_.pop_back();
    isArray_.pop_back();
    return true;
  }

 private:
  Reader &r_;
  std::vector<State> states_;
  std::vector<bool> isArray_;
};

// For LLVMFuzzerInitialize: reader warnings are expected for malformed
// input, and printing them would only slow the run down.
inline void fuzzSilenceMessages() {
  gen_domessage = [](int, const char *, va_list) {};
}
