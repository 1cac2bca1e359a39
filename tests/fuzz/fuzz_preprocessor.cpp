// libFuzzer target for the preprocessor and its integer evaluator, reached
// as the options-database reader reaches them: through the file parser
// reading a file that may include others.
//
// The input is up to three files split at NUL bytes: "main.cfg", "a.cfg"
// and "b.cfg" in a private folder (the rest after a third NUL belongs to
// "b.cfg"). main.cfg is tokenised to its end, which runs every directive,
// condition and include on the way. The client lets only files of that
// folder be read, without "..", so nothing else on the machine is opened.
//
// Checks: the parser opens no file the client refused, and once the input
// has ended it stays ended.
#include <cstring>
#include <string>

#include "fuzz_files.h"
#include "fuzz_script.h"
#include "shared/libcxxutil/ut_file_parser.h"

namespace {

const char *const kFiles[] = {"main.cfg", "a.cfg", "b.cfg"};

bool insideFolder(const char *file) {
  const std::string &dir = fuzzScratchDir();
  return file && std::strncmp(file, dir.c_str(), dir.size()) == 0 && file[dir.size()] == '/' &&
         !std::strstr(file, "..");
}

bool allowFile(void *, const char *file, int) { return insideFolder(file); }

// Writes the three files from the NUL-separated input.
void writeFiles(const uint8_t *data, size_t size) {
  for (int i = 0; i < 3; ++i) {
    const void *nul = i < 2 ? std::memchr(data, 0, size) : nullptr;
    size_t length = nul ? static_cast<const uint8_t *>(nul) - data : size;
    fuzzWriteFile(fuzzScratchPath(kFiles[i]), data, length);
    size_t used = nul ? length + 1 : length;
    data += used;
    size -= used;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzSilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  writeFiles(data, size);
  ut_client_interface client;
  client.set_env_callback(nullptr, nullptr, nullptr, nullptr, allowFile);
  ut_macro_map macros;
  macros.insert("FUZZ", "1");
  ut_file_parser parser(false, true, &macros, &client);
  fuzzCheck(parser.open_file(fuzzScratchPath(kFiles[0]).c_str()), "open");
  while (parser.eat_next()) {
  }
  fuzzCheck(parser.eat_next() == nullptr && parser.at_eof(), "input ended");
  for (const ut_string &file : parser.get_opened_files_list())
    fuzzCheck(insideFolder(file.c_str()), "a refused file was opened");
  return 0;
}
