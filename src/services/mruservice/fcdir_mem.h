// fcdir_mem: the last directory used by each kind of file dialog, and
// "fcdir.ini".
//
// A table of FCDIR_KINDS slots indexed by the file-choice kind, each an
// owned directory string or null. Kinds 0..10 have a key in the file; the
// last kind has none and lives only while the process runs. Loaded once at
// start-up; written only on request (FCDirMem_Save), never at exit.
// Process-wide state; one thread.
#pragma once

constexpr int FCDIR_KINDS = 12;
// The kind answered for a kind outside 0..FCDIR_KINDS-1 ("GeneralFileDir").
constexpr int FCDIR_GENERAL_KIND = 6;

// The table (FCDIR_KINDS owned strings or nulls); null before FCDirMem_Init.
extern char **fcdirmem_list;

// Makes the table and loads "fcdir.ini" (once; later calls do nothing until
// FCDirMem_Exit). Loaded values count as a pending change.
void FCDirMem_Init();
// Frees the table without saving and clears the change flag; a later
// FCDirMem_Init starts afresh (FCDirMem_InitDirs too).
void FCDirMem_Exit();
// Writes "fcdir.ini" when anything changed since start-up (the flag is not
// cleared). False when a due write failed.
bool FCDirMem_Save();
bool FCDirMem_IsModified();

// On its first call only: directory i of `dirs` becomes kind i, for i below
// `count`. Later calls do nothing.
void FCDirMem_InitDirs(int count, char *const *dirs);
// Stores a copy of `dir` (null stays null) as kind `kind` and marks a
// change; ignored for unknown kinds and before FCDirMem_Init.
void FCDirMem_Update(int kind, const char *dir);
// The directory of `kind` (owned by the table, not a copy); unknown kinds
// give the general kind's. Null before FCDirMem_Init.
const char *FCDirMem_Get(int kind);
// The kind whose key is `key` (any letter case), or -1.
int FCDirMem_Find(const char *key);
// Frees the table.
void FCDirMem_Free();
// Applies one "key=value" line of the file (cut in place); lines without
// "=" or with an unknown key are ignored.
void FCDirMem_ParseVariable(char *line);
