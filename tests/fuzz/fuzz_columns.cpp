// libFuzzer target for "columns.ini": the input is the file in a private
// user configuration folder, loaded as at start-up and saved as at exit.
// Round trip: every set named in the saved file must load back from it
// with the same columns, and saving again must write the same bytes.
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "fuzz_script.h"
#include "services/mruservice/column_config.h"

namespace {

// A set of this name is replaced before each save, so a save is always due;
// it is written and read like any other set.
const char kMarker[] = "fuzz marker";

// "name/width/sort/hidden" per column of the first set called `name`.
std::vector<std::string> columns(const std::string &name) {
  ColumnConfig_Array a;
  ColumnConfig_GetColumnInfo(name.c_str(), &a);
  std::vector<std::string> out;
  for (int i = 0; i < a.count; ++i) {
    const ColumnConfig_Info &c = a.columnInfos[i];
    out.push_back(std::string(c.name ? "=" : "-") + (c.name ? c.name : "") + "/" +
                  std::to_string(c.width) + "/" + std::to_string(c.sort) + "/" +
                  (c.hidden ? "h" : "v"));
  }
  ColumnConfig_FreeArray(&a);
  return out;
}

// The set names of a saved file: its "[name]" lines.
std::vector<std::string> setNames(const std::string &text) {
  std::vector<std::string> out;
  for (const std::string &line : fuzzLines(text))
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
      out.push_back(line.substr(1, line.size() - 2));
  return out;
}

// Loads the file and saves it back; the saved text, and in *sets the
// columns of each set it names, as loaded. Frees everything.
std::string loadAndSave(const std::string &path, std::vector<std::vector<std::string>> *sets) {
  ColumnConfig_Init();
  ColumnConfig_Array none;
  ColumnConfig_UpdateColumnInfo(kMarker, &none);
  fuzzCheck(ColumnConfig_Save(), "save");
  std::string saved = fuzzReadFile(path);
  for (const std::string &name : setNames(saved)) sets->push_back(columns(name));
  ColumnConfig_Exit();
  return saved;
}

// The column sets of the scratch columns.ini as loaded.
std::vector<std::vector<std::string>> loadAndSaveScratch() {
  std::vector<std::vector<std::string>> sets;
  loadAndSave(fuzzScratchPath("columns.ini"), &sets);
  return sets;
}

}  // namespace

KORVO_STATE_FILE_FUZZ_TARGET("columns.ini", loadAndSaveScratch, "columns changed by saving and loading back")
