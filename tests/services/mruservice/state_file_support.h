// Helpers for the state-file tests: the files live in $HOME/.twl (each test
// program has its own HOME); these read and write them whole.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "services/mruservice/column_config.h"
#include "services/mruservice/fcdir_mem.h"
#include "services/mruservice/mru_lists.h"
#include "services/mruservice/window_config.h"
#include "shared/indgen.h"

inline std::string ConfigDir() { return std::string(std::getenv("HOME")) + "/.twl"; }
inline std::string ConfigPath(const char *file) { return ConfigDir() + "/" + file; }

inline void WriteStateFile(const char *file, const std::string &text) {
  mkdir(ConfigDir().c_str(), 0755);
  std::ofstream(ConfigPath(file), std::ios::binary) << text;
}

// The file's bytes, or "<missing>".
inline std::string ReadStateFile(const char *file) {
  std::ifstream in(ConfigPath(file), std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void RemoveStateFile(const char *file) {
  std::remove(ConfigPath(file).c_str());
  rmdir((ConfigPath(file) + ".tmp").c_str());
  std::remove((ConfigPath(file) + ".tmp").c_str());
}

// Makes the next save of `file` fail: a directory stands where its
// temporary file would be written.
inline void BlockSaving(const char *file) {
  mkdir(ConfigDir().c_str(), 0755);
  mkdir((ConfigPath(file) + ".tmp").c_str(), 0755);
}

// Takes over a gen_calloc array of gen_copy strings.
inline std::vector<std::string> TakeStrings(char **strings, int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    out.emplace_back(strings[i] ? strings[i] : "(null)");
    gen_free(strings[i]);
  }
  gen_free(strings);
  return out;
}

// Starts the four stores on fresh files.
inline void StartStateStores() {
  for (const char *f : {"mrulist.ini", "columns.ini", "windowpos.ini", "fcdir.ini"})
    RemoveStateFile(f);
  MRU_Init();
  ColumnConfig_Init();
  WindowConfig_Init();
  FCDirMem_Init();
}

// Ends the four stores, writing only what fcdir.ini holds.
inline void StopStateStores() {
  MRU_Free();
  MRU_Exit();
  ColumnConfig_Free();
  ColumnConfig_Exit();
  windowConfigGlobal.modified = false;
  WindowConfig_Exit();
  FCDirMem_Exit();
}
