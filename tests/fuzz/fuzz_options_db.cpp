// libFuzzer target for the options-database reader: the input bytes are
// written to a file in a private temporary folder and read as an options
// database; includes of other files are refused through the client
// interface, so nothing outside that folder is read.
//
// The first byte chooses the reader's modes. When the result holds no
// integer lists (which are written as "...") the tree is written, read back
// and written again; both texts must be equal and the second read clean.
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shared/indgen.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

void discard_message(int, const char *, va_list) {}

bool main_file_only(void *, const char *, int depth) { return depth == 0; }

const std::string &scratch_file() {
  static std::string name = [] {
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/fuzz_options_db_XXXXXX";
    if (!mkdtemp(templ.data())) std::abort();
    return templ + "/input.cfg";
  }();
  return name;
}

void write_file(const std::string &name, const void *data, size_t size) {
  FILE *f = std::fopen(name.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

bool has_int_lists(const ut_attribute_tree *t) {
  for (auto *a = t->get_first_attribute(); a; a = t->get_next_attribute(a))
    if (a->type == UT_ATTRIBUTE_INT32_LIST) return true;
  for (auto *c = t->get_first_child(); c; c = t->get_next_child(c))
    if (has_int_lists(c)) return true;
  return false;
}

std::string written(ut_options_database &db) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *mem = open_memstream(&buf, &len);
  if (!mem || !db.write_to_file(mem)) std::abort();
  std::fclose(mem);
  std::string out(buf, len);
  std::free(buf);
  return out;
}

ut_options_database *make_db(uint8_t modes) {
  auto *client = new ut_client_interface;
  client->set_env_callback(nullptr, nullptr, nullptr, nullptr, main_file_only);
  auto *db = new ut_options_database("fuzz", client, true);
  db->set_continue_after_errors(modes & 1);
  db->set_memory_size_shortcut_mode(modes & 2);
  db->set_allow_int32_lists(modes & 4);
  db->set_compatibility_mode(modes & 8);
  return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  gen_domessage = discard_message;
  uint8_t modes = size ? data[0] : 0;
  if (size) ++data, --size;
  const std::string &file = scratch_file();
  write_file(file, data, size);

  ut_options_database *db = make_db(modes);
  db->read_from_file_name(file.c_str());
  bool check = !(modes & 8) && !has_int_lists(db);
  std::string first = written(*db);
  delete db;
  if (!check) return 0;

  write_file(file, first.data(), first.size());
  ut_options_database *again = make_db(0);
  if (!again->read_from_file_name(file.c_str())) __builtin_trap();
  if (written(*again) != first) __builtin_trap();
  delete again;
  return 0;
}
