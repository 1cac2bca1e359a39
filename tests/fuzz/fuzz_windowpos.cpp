// libFuzzer target for "windowpos.ini": the input is the file in a private
// user configuration folder, loaded as at start-up and saved as at exit.
// Round trip: the window classes loaded back from the saved file must equal
// those loaded from the input, and saving again must write the same bytes.
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "fuzz_script.h"
#include "services/mruservice/window_config.h"

namespace {

// "name x y width height" (stored form) per class, in chain order.
std::vector<std::string> classes() {
  std::vector<std::string> out;
  for (const WindowConfigEntry *e = windowConfigGlobal.first; e; e = e->next)
    out.push_back(std::string(e->name.c_str()) + " " + std::to_string(e->x) + " " +
                  std::to_string(e->y) + " " + std::to_string(e->width) + " " +
                  std::to_string(e->height));
  return out;
}

// Loads the file, saves it back (the saved geometry always counts as
// changed) and empties the list; the classes as loaded.
std::vector<std::string> loadAndSave() {
  WindowConfig_Init();
  std::vector<std::string> loaded = classes();
  WindowConfig_Exit();
  return loaded;
}

}  // namespace

KORVO_STATE_FILE_FUZZ_TARGET("windowpos.ini", loadAndSave, "classes changed by saving and loading back")
