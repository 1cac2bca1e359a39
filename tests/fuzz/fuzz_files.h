// Helpers shared by the libFuzzer targets of the file readers: a private
// folder made once per process (under TMPDIR, else /tmp), whole-file writes
// and reads, and a line-by-line view of a written file. One thread.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_script.h"

// The private folder, without a trailing "/". Aborts when it cannot be made.
inline const std::string &fuzzScratchDir() {
  static const std::string dir = [] {
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/korvo_fuzz_XXXXXX";
    if (!mkdtemp(templ.data())) std::abort();
    return templ;
  }();
  return dir;
}

// `name` inside the private folder.
inline std::string fuzzScratchPath(const char *name) { return fuzzScratchDir() + "/" + name; }

// Replaces the file with the bytes. Aborts when it cannot be written.
inline void fuzzWriteFile(const std::string &path, const void *data, size_t size) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
}

// The file's bytes; "" when it is missing.
inline std::string fuzzReadFile(const std::string &path) {
  std::string out;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

// The lines of `text` split at "\n" (a last line without one included).
inline std::vector<std::string> fuzzLines(const std::string &text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Ends the run as a finding (libFuzzer keeps the input) when `ok` is false,
// naming the check that failed.
inline void fuzzCheck(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// The set-up of a state-file target: messages silenced, the user
// configuration folder moved into the private folder.
inline void fuzzUseScratchConfigDir() {
  fuzzSilenceMessages();
  gen_setuserconfigdir(fuzzScratchDir().c_str());
}

// The round trip of a state file: writes the input as `name` in the private
// folder, then loads and saves it twice with `loadAndSave` (which returns
// what was loaded). What loads back must equal what loaded first
// (`changedWhat` names the contents when it does not), and the second save
// must write the same bytes.
template <class LoadAndSave>
void fuzzStateFileRoundTrip(const char *name, const uint8_t *data, size_t size,
                            LoadAndSave loadAndSave, const char *changedWhat) {
  const std::string path = fuzzScratchPath(name);
  fuzzWriteFile(path, data, size);
  auto first = loadAndSave();
  std::string saved = fuzzReadFile(path);
  auto second = loadAndSave();
  fuzzCheck(first == second, changedWhat);
  fuzzCheck(fuzzReadFile(path) == saved, "second save wrote other bytes");
}

// The two entry points of a state-file target: the scratch set-up once,
// then the round trip of `name` through `loadAndSave` for every input.
#define KORVO_STATE_FILE_FUZZ_TARGET(name, loadAndSave, changedWhat)     \
  extern "C" int LLVMFuzzerInitialize(int *, char ***) {                \
    fuzzUseScratchConfigDir();                                          \
    return 0;                                                           \
  }                                                                     \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { \
    fuzzStateFileRoundTrip(name, data, size, loadAndSave, changedWhat); \
    return 0;                                                           \
  }
