// Basic_EditorService_Server: building the editor command line and starting
// the editor in the requesting process's working directory.
#include "services/editorservice/editor_server.h"

#include <cstring>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "shared/gen_holder.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_char_buffer.h"
#include "shared/libcxxutil/ut_process.h"

int Basic_EditorService_Server::_num_connections = 0;

namespace {

bool endsWith(const char *s, const char *suffix) {
  size_t n = std::strlen(s), m = std::strlen(suffix);
  return n >= m && std::strcmp(s + n - m, suffix) == 0;
}

// Expands the argument format: "%FILE0" is the first file, "%FILES" the
// others separated by blanks (nothing for one file), "%LINE" the line; the
// directives ignore case, every other character is copied.
void appendFormatted(ut_char_buffer &command, const char *path, const char *format,
                     const char *const *files, int count, int line) {
  command.add_stre(path);
  command.add_char(' ');
  for (const char *p = format; *p;) {
    if (gen_strcaseprefix(p, "%FILE0")) {
      command.add_stre(files[0]);
      p += 6;
    } else if (gen_strcaseprefix(p, "%FILES")) {
      for (int i = 1; i < count; ++i) {
        if (i > 1) command.add_char(' ');
        command.add_stre(files[i]);
      }
      p += 6;
    } else if (gen_strcaseprefix(p, "%LINE")) {
      command.add_strf("%i", line);
      p += 5;
    } else {
      command.add_char(*p++);
    }
  }
}

// Without a format the editor gets the first file only, with "+LINE" in
// front for the editors known to take it (vi and emacs).
void appendPlain(ut_char_buffer &command, const char *path, const char *file, int line) {
  bool takesLine = std::strcmp(path, "vi") == 0 || endsWith(path, "/vi") ||
                   endsWith(path, "\\vi") || std::strstr(path, "aa-client") ||
                   std::strstr(path, "emacs");
  command.add_stre(path);
  if (takesLine)
    command.add_strf(" +%i ", line);
  else
    command.add_char(' ');
  command.add_stre(file);
}

// Starts argv detached in `dir` (null: in this process's own directory).
// The directory is changed back before returning.
void launchIn(const char *dir, char *const *argv) {
  CwdChanger inClientDirectory(dir);
  // Not waited for and not recorded: the SIGCHLD handler reaps it.
  systemcall(argv, nullptr, false);
}

}  // namespace

Basic_EditorService_Server::Basic_EditorService_Server() { ++_num_connections; }

Basic_EditorService_Server::~Basic_EditorService_Server() {
  --_num_connections;
  gen_free(requesterCwd);
}

int Basic_EditorService_Server::requesterPlugin() {
  return servicerouter_proxy ? servicerouter_proxy->getPluginIdForConnection(this) : -1;
}

void Basic_EditorService_Server::noteRequester() {
  int pluginId = requesterPlugin();
  const char *cwd = pluginId >= 0 ? servicerouter_proxy->getCachedValue(pluginId, "cwd") : nullptr;
  if (cwd && !requesterCwd) requesterCwd = gen_copy(cwd);
}

const char *Basic_EditorService_Server::requesterDirectory() {
  if (requesterCwd) return requesterCwd;
  int pluginId = requesterPlugin();
  return pluginId >= 0 ? servicerouter_proxy->getCwdOfPlugin(pluginId, nullptr) : nullptr;
}

char *Basic_EditorService_Server::createCommand(const char *const *files, int count,
                                                int line) const {
  if (count < 1) return nullptr;
  if (line < 1) line = 1;
  const char *path = getEditorCommand();
  const char *format = getArgumentFormat();
  ut_char_buffer command;
  if (useXTerm()) command.add_str("xterm -e ");
  if (format && *format)
    appendFormatted(command, path, format, files, count, line);
  else
    appendPlain(command, path, files[0], line);
  return command.peel();
}

void Basic_EditorService_Server::msg_EditFile(const char *fullPath, int line, const char *version) {
  const char *files[] = {fullPath};
  GenString command(createCommand(files, 1, line));
  if (!command) return;
  int argc = 0;
  char **argv = makeArgv(command.get(), &argc, false);
  if (argc > 0) launchIn(requesterDirectory(), argv);
  freeArgv(argv);
}

void Basic_EditorService_Server::msg_EditBuildErrorInFile(const char *fullPath, int line,
                                                          bool openNewEditorWindowIfNeeded,
                                                          const char *errorMessage) {
  if (openNewEditorWindowIfNeeded) msg_EditFile(fullPath, line, nullptr);
}

// Outside editors have no build-error display: these are accepted and
// dropped.
void Basic_EditorService_Server::msg_SetFileEditorAttributes(const char *, int, const char *,
                                                             int) {}
void Basic_EditorService_Server::msg_EditBuildError(int, KorvoEditor_FILENAME_ARRAY &,
                                                    KorvoEditor_INT_ARRAY &,
                                                    KorvoEditor_INT_ARRAY &,
                                                    KorvoEditor_STRING_ARRAY &) {}
void Basic_EditorService_Server::msg_EditAllowRebuild(bool) {}
void Basic_EditorService_Server::msg_EditShowBuildMessage(const char *) {}
void Basic_EditorService_Server::msg_EditClearErrors() {}
void Basic_EditorService_Server::msg_EditNextErrorAvailable(bool) {}
void Basic_EditorService_Server::msg_EditPreviousErrorAvailable(bool) {}
void Basic_EditorService_Server::msg_EditFileRebuilt() {}
