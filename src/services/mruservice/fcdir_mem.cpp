// fcdir_mem: the file-choice directory table and "fcdir.ini".
//
// File format: an empty line, "[File Choice Directories]", one key=directory
// line per kind that has a key and a directory, in kind order, and a final
// empty line. Only that section is read; the next header ends it.
#include "services/mruservice/fcdir_mem.h"

#include "services/mruservice/statefile_io.h"
#include "shared/indgen.h"

char **fcdirmem_list = nullptr;

namespace {

constexpr const char *kFileName = "fcdir.ini";
constexpr const char *kSection = "File Choice Directories";

// The file's key of each kind; the last kind has none.
const char *const kKeys[FCDIR_KINDS] = {
    "EditFileDir",   "BuildFileDir",   "ExecutableDir",    "EventFileDir",
    "ConfigFileDir", "TargetFileDir",  "GeneralFileDir",   "PlacerFileDir",
    "IntegrateFileDir", "TraceFileDir", "ConnectionFileDir", nullptr};

bool fcdir_modified = false;
bool fcdir_loaded = false;
bool fcdir_dirs_given = false;

void load(const char *path) {
  bool inside = false;
  StateFileReader reader;
  reader.section = [&](const char *name) {
    if (inside) return false;  // the section has ended
    inside = gen_strequal(name, kSection);
    return true;
  };
  reader.line = [&](char *text) {
    if (inside) FCDirMem_ParseVariable(text);
    return true;
  };
  StateFile_Read(path, reader);
}

void write_table(FILE *out) {
  std::fprintf(out, "\n[%s]\n", kSection);
  for (int kind = 0; kind < FCDIR_KINDS; ++kind)
    if (kKeys[kind] && fcdirmem_list[kind])
      std::fprintf(out, "%s=%s\n", kKeys[kind], fcdirmem_list[kind]);
  std::fputs("\n", out);
}

}  // namespace

void FCDirMem_Init() {
  if (fcdir_loaded) return;
  fcdir_loaded = true;
  fcdirmem_list = static_cast<char **>(gen_calloc(FCDIR_KINDS, sizeof(char *)));
  fcdir_modified = false;
  StateFile_RemoveStaleTemp(kFileName);
  char *path = StateFile_Path(kFileName, false);
  load(path);
  gen_free(path);
}

void FCDirMem_Exit() {
  FCDirMem_Free();
  fcdir_modified = false;
  fcdir_loaded = false;
  fcdir_dirs_given = false;
}

bool FCDirMem_Save() {
  if (!fcdir_modified || !fcdirmem_list) return true;
  char *path = StateFile_Path(kFileName, true);
  bool ok = StateFile_Write(path, write_table);
  gen_free(path);
  return ok;
}

bool FCDirMem_IsModified() { return fcdir_modified; }

void FCDirMem_InitDirs(int count, char *const *dirs) {
  if (fcdir_dirs_given) return;
  fcdir_dirs_given = true;
  for (int i = 0; i < count && dirs; ++i) FCDirMem_Update(i, dirs[i]);
}

void FCDirMem_Update(int kind, const char *dir) {
  if (kind < 0 || kind >= FCDIR_KINDS || !fcdirmem_list) return;
  gen_free(fcdirmem_list[kind]);
  fcdirmem_list[kind] = gen_copy(dir);
  fcdir_modified = true;
}

const char *FCDirMem_Get(int kind) {
  if (!fcdirmem_list) return nullptr;
  if (kind < 0 || kind >= FCDIR_KINDS) kind = FCDIR_GENERAL_KIND;
  return fcdirmem_list[kind];
}

int FCDirMem_Find(const char *key) {
  for (int kind = 0; kind < FCDIR_KINDS; ++kind)
    if (kKeys[kind] && gen_strequal(kKeys[kind], key)) return kind;
  return -1;
}

void FCDirMem_Free() {
  if (!fcdirmem_list) return;
  for (int kind = 0; kind < FCDIR_KINDS; ++kind) gen_free(fcdirmem_list[kind]);
  gen_free(fcdirmem_list);
  fcdirmem_list = nullptr;
}

void FCDirMem_ParseVariable(char *line) {
  char *value = StateFile_SplitAssignment(line);
  if (!value) return;
  int kind = FCDirMem_Find(line);
  if (kind >= 0) FCDirMem_Update(kind, value);
}
