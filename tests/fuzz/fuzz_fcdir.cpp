// libFuzzer target for "fcdir.ini": the input is the file in a private user
// configuration folder, loaded as at start-up and saved on request.
// Round trip: the directories loaded back from the saved file must equal
// those loaded from the input, and saving again must write the same bytes.
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "fuzz_script.h"
#include "services/mruservice/fcdir_mem.h"

namespace {

// The kind without a key in the file: updating it makes a save due without
// changing what is written.
constexpr int kUnsavedKind = FCDIR_KINDS - 1;

// Each kind's directory ("-" for none, "=dir" otherwise).
std::vector<std::string> directories() {
  std::vector<std::string> out;
  for (int kind = 0; kind < kUnsavedKind; ++kind) {
    const char *dir = FCDirMem_Get(kind);
    out.push_back(dir ? std::string("=") + dir : "-");
  }
  return out;
}

std::vector<std::string> loadAndSave() {
  FCDirMem_Init();
  FCDirMem_Update(kUnsavedKind, "x");
  std::vector<std::string> loaded = directories();
  fuzzCheck(FCDirMem_Save(), "save");
  FCDirMem_Exit();
  return loaded;
}

}  // namespace

KORVO_STATE_FILE_FUZZ_TARGET("fcdir.ini", loadAndSave, "directories changed by saving and loading back")
