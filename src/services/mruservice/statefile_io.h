// statefile_io: what the four state files of the process have in common:
// where they live, how their lines are read, and how a file is replaced.
//
// The files are small "[section]" + "key=value" (or plain item) texts in the
// user configuration directory. Reading never reports anything: a missing
// or unreadable file is simply an empty store. Writing goes to a temporary
// file beside the target that is synced to disk and renamed over it only
// when every byte was written, so neither a failed save nor a crash in the
// middle of one leaves anything but the previous file or the new one.
// Stores report their changes through StateFile_NoteChange, which the
// program may route to a deferred save (statefile_saver.h). One thread.
#pragma once

#include <cstdio>
#include <functional>

// The user configuration directory (library-owned, or null without a home
// directory). With `create` a missing directory is made (mode 0755); when
// that fails the library's message is printed to standard output without a
// newline and the directory is returned anyway.
const char *cfg_GetUserConfigDir(bool create);

// A new string (gen_free) naming `file` in the user configuration
// directory, or null when there is no home directory. `create` as above.
char *StateFile_Path(const char *file, bool create);

// Receives the lines of a state file. `section` gets each header's name;
// `line` each other non-empty line of a section (leading blanks removed),
// which it may change in place. Either returns false to stop reading.
// Lines before the first header are not passed on.
struct StateFileReader {
  std::function<bool(const char *name)> section;
  std::function<bool(char *text)> line;
};

// Reads `stream` to its end (or until the reader stops). Does not close it.
void StateFile_ReadStream(FILE *stream, const StateFileReader &reader);
// Opens and reads the file `path`; false (silently) when it cannot be
// opened.
bool StateFile_Read(const char *path, const StateFileReader &reader);

// Replaces the file `path` with what `body` writes: the text goes to
// "<path>.tmp" (mode "w"), is flushed and fsync'ed, and is renamed over
// `path` only when all of that succeeded; the directory is synced after
// the rename. Returns false, leaving `path` untouched and no temporary file
// behind, when anything failed (null path included).
bool StateFile_Write(const char *path, const std::function<void(FILE *)> &body);

// Removes the temporary file a save of `file` (a name in the user
// configuration directory) left behind when the process died in the middle
// of it. Called by each store's _Init.
void StateFile_RemoveStaleTemp(const char *file);

// The hook stores call when something changed that an exit would save.
// Does nothing until a hook is set; null removes it.
using StateFile_ChangeHook = void (*)();
void StateFile_SetChangeHook(StateFile_ChangeHook hook);
void StateFile_NoteChange();

// Splits "key=value" in place at the first "=": returns the value and cuts
// the key there, or null (line unchanged) when there is no "=".
char *StateFile_SplitAssignment(char *line);

// A number with base detection (decimal, "0x" hexadecimal, leading-zero
// octal); text that is not a number gives 0. Cut to INT_MIN..INT_MAX-1, so
// that the stored form of the values (the number plus one) always fits.
int StateFile_ParseNumber(const char *text);
