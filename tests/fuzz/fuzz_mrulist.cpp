// libFuzzer target for "mrulist.ini": the input is the file in a private
// user configuration folder, loaded as at start-up and saved as at exit.
// Round trip: the lists loaded back from the saved file must equal the
// lists loaded from the input, and saving them again must write the same
// bytes.
#include <string>
#include <utility>
#include <vector>

#include "fuzz_files.h"
#include "fuzz_script.h"
#include "services/mruservice/mru_lists.h"

namespace {

// A list of this name is touched before each save, so a save is always
// due; it is written and read like any other list.
const char kMarker[] = "fuzz marker";

using Lists = std::vector<std::pair<std::string, std::vector<std::string>>>;

std::vector<std::string> take(char **strings, int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    out.emplace_back(strings[i]);
    gen_free(strings[i]);
  }
  gen_free(strings);
  return out;
}

Lists snapshot() {
  char **names;
  int count;
  MRU_GetAllMRUListNames(&names, &count);
  Lists out;
  for (const std::string &name : take(names, count)) {
    char **items;
    int n;
    MRU_GetMRUList(name.c_str(), &items, &n);
    out.emplace_back(name, take(items, n));
  }
  return out;
}

// Loads the file, saves it back and frees everything; the lists as loaded.
Lists loadAndSave() {
  MRU_Init();
  MRU_UpdateList(kMarker, "x", false);
  MRU_ModifyMRUList(kMarker, MRU_Modify_Replace, 0, "x");
  Lists lists = snapshot();
  fuzzCheck(MRU_Save(), "save");
  MRU_Exit();
  return lists;
}

}  // namespace

KORVO_STATE_FILE_FUZZ_TARGET("mrulist.ini", loadAndSave, "lists changed by saving and loading back")
