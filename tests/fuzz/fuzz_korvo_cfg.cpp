// libFuzzer target for the configuration-file reader ("korvo.cfg" in the
// site and user configuration folders): the input is the file, preloaded
// into a fresh, unconnected WhiteBoard with the editor options registered,
// as at start-up.
//
// Checks: only registered option names get values, and reading the same
// file a second time changes nothing.
#include <map>
#include <string>

#include "fuzz_files.h"
#include "fuzz_script.h"
#include "services/whiteboard/whiteboard_client.h"
#include "windlib/config/defaultconfig.h"
#include "windlib/config/editor_defaultconfig.h"

namespace {

const char kGroup[] = "GeneralConfiguration";

// Every value of the group, keyed by type letter and name.
std::map<std::string, std::string> values(WhiteBoard *wb) {
  std::map<std::string, std::string> out;
  const GroupClient *g = wb->getGroup(kGroup);
  if (!g) return out;
  for (const auto &[name, v] : g->boolValues()) out[std::string("b ") + name.c_str()] = v ? "1" : "0";
  for (const auto &[name, v] : g->int32Values()) out[std::string("i ") + name.c_str()] = std::to_string(v);
  for (const auto &[name, v] : g->stringValues()) out[std::string("s ") + name.c_str()] = v.c_str();
  return out;
}

// Whether every entry of `after` that is new or different names a
// registered option.
bool onlyOptionsChanged(const std::map<std::string, std::string> &before,
                        const std::map<std::string, std::string> &after) {
  for (const auto &[key, value] : after) {
    auto it = before.find(key);
    if (it != before.end() && it->second == value) continue;
    if (!ConfigMicroParser::findOption(key.c_str() + 2)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzSilenceMessages();
  ConfigMicroParser::addOptionsToParse(editor_service_options);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = fuzzScratchPath("korvo.cfg");
  fuzzWriteFile(path, data, size);
  WhiteBoard *wb = WhiteBoard::getWhiteBoard();
  auto before = values(wb);
  fuzzCheck(Config_PreLoadFile(path.c_str()), "read");
  auto after = values(wb);
  fuzzCheck(onlyOptionsChanged(before, after), "a name that is not an option got a value");
  fuzzCheck(Config_PreLoadFile(path.c_str()), "second read");
  fuzzCheck(values(wb) == after, "reading the file again changed values");
  WhiteBoard::shutdownWhiteBoard();
  return 0;
}
