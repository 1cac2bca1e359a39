// libFuzzer target for the text "korvoctl wb load" reads: the input is a
// whole dump text.
//
// A text that parses is written out again with the dump writer, and that
// text must parse to the same groups and values (the writer and the reader
// agree on every byte a value can hold); writing it a second time must give
// the same bytes. A text that does not parse must say why, with its line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "services/korvoctl/korvoctl_wb_text.h"

namespace {

std::vector<KorvoCtl_WbValue> sorted(std::vector<KorvoCtl_WbValue> values) {
  KorvoCtl_WbSort(&values);
  return values;
}

bool sameValues(const std::vector<KorvoCtl_WbValue> &a, const std::vector<KorvoCtl_WbValue> &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!KorvoCtl_WbSameValue(a[i], b[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  KorvoCtl_WbDump dump;
  std::vector<std::string> errors;
  if (!KorvoCtl_WbParseDump(text, "in", &dump, &errors)) {
    if (errors.empty()) __builtin_trap();
    for (const std::string &e : errors)
      if (e.rfind("in:", 0) != 0) __builtin_trap();
    return 0;
  }
  std::string written = KorvoCtl_WbFormatDump(dump.groups, dump.values);
  KorvoCtl_WbDump again;
  errors.clear();
  if (!KorvoCtl_WbParseDump(written, "out", &again, &errors)) __builtin_trap();
  if (again.groups != dump.groups) __builtin_trap();
  if (!sameValues(sorted(again.values), sorted(dump.values))) __builtin_trap();
  if (KorvoCtl_WbFormatDump(again.groups, again.values) != written) __builtin_trap();
  return 0;
}
