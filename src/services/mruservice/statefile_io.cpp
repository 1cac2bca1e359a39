// statefile_io: configuration-directory access, the line reader and the
// replace-by-rename writer shared by the four state files.
#include "services/mruservice/statefile_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "shared/indgen.h"

namespace {

StateFile_ChangeHook change_hook = nullptr;

// Makes a finished rename survive a crash: the directory entry is what
// changed. Best effort; a failure leaves the rename done but not yet synced.
void sync_directory_of(const char *path) {
  char *dir = gen_dirname(path);
  int fd = dir ? ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  gen_free(dir);
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char *skip_blanks(char *p) {
  while (*p && is_blank(*p)) ++p;
  return p;
}

// The name of a header line whose "[" is at `p`: after the "[" and any
// blanks, up to the first "]", carriage return or line feed (a missing "]"
// is accepted). Cuts the line in place.
char *header_name(char *p) {
  char *name = skip_blanks(p + 1);
  name[std::strcspn(name, "]\r\n")] = 0;
  return name;
}

}  // namespace

const char *cfg_GetUserConfigDir(bool create) {
  const char *message = nullptr;
  const char *dir = gen_getuserconfigdir(create, &message);
  if (message) {
    std::fputs(message, stdout);
    std::fflush(stdout);
  }
  return dir;
}

char *StateFile_Path(const char *file, bool create) {
  const char *dir = cfg_GetUserConfigDir(create);
  return dir ? gen_sconcat(dir, file) : nullptr;
}

void StateFile_ReadStream(FILE *stream, const StateFileReader &reader) {
  char *buffer = nullptr;
  int size = 0;
  bool in_section = false;
  while (gen_getline(stream, &buffer, &size)) {
    char *p = skip_blanks(buffer);
    if (!*p) continue;
    bool go_on = true;
    if (*p == '[') {
      in_section = true;
      go_on = reader.section(header_name(p));
    } else if (in_section) {
      go_on = reader.line(p);
    }
    if (!go_on) break;
  }
  gen_free(buffer);
}

bool StateFile_Read(const char *path, const StateFileReader &reader) {
  FILE *stream = path ? gen_fopen(path, "r") : nullptr;
  if (!stream) return false;
  StateFile_ReadStream(stream, reader);
  std::fclose(stream);
  return true;
}

bool StateFile_Write(const char *path, const std::function<void(FILE *)> &body) {
  if (!path) return false;
  char *temp = gen_concat(path, ".tmp");
  FILE *stream = gen_fopen(temp, "w");
  if (!stream) {
    gen_free(temp);
    return false;
  }
  body(stream);
  // The buffered writes, the flush and the sync must all have reached the
  // disk before the file may replace the saved one: otherwise a crash just
  // after the rename could leave an empty file in its place.
  bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
  ok = ok && ::fsync(fileno(stream)) == 0;
  ok = std::fclose(stream) == 0 && ok;
  // A plain rename: on failure it leaves the saved file alone (the
  // library's rename would remove the target and try again).
  ok = ok && std::rename(temp, path) == 0;
  if (ok) sync_directory_of(path);
  else gen_unlink(temp);
  gen_free(temp);
  return ok;
}

void StateFile_RemoveStaleTemp(const char *file) {
  char *path = StateFile_Path(file, false);
  char *temp = path ? gen_concat(path, ".tmp") : nullptr;
  // Only a plain file: anything else was not made by a save.
  struct stat st;
  if (temp && gen_lstat(temp, &st) == 0 && S_ISREG(st.st_mode)) gen_unlink(temp);
  gen_free(temp);
  gen_free(path);
}

void StateFile_SetChangeHook(StateFile_ChangeHook hook) { change_hook = hook; }

void StateFile_NoteChange() {
  if (change_hook) change_hook();
}

char *StateFile_SplitAssignment(char *line) {
  char *eq = std::strchr(line, '=');
  if (!eq) return nullptr;
  *eq = 0;
  return eq + 1;
}

int StateFile_ParseNumber(const char *text) {
  long value = std::strtol(text, nullptr, 0);
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX - 1));
}
