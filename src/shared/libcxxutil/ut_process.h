// Process utilities: argument vectors, starting a program in a detached
// child with the library path extended by the program's own directory, and
// changing the working directory for the length of a scope.
//
// Argument vectors are arrays of owned C strings ending in a null entry; the
// count is kept by the caller. The array comes from new[] and each string
// from new char[]: release a vector only through freeArgv. One thread.
#pragma once

// Splits a command line into words: runs of blanks and tabs separate words
// except inside quotes (a single or a double quote toggles the quoted state;
// the two are not told apart). A word of two or more characters that begins
// and ends with the same quote character loses those two quotes. With
// dashFirst the first word gets a "-" in front. The count goes to *argc (when
// argc is not null). A null or empty line gives count 0 and a vector holding
// only the terminator. The caller frees the vector with freeArgv.
char **makeArgv(const char *cmdline, int *argc, bool dashFirst);

// A deep copy of the first argc entries of argv, null-terminated (argc <= 0
// or a null argv give a vector holding only the terminator). Free with
// freeArgv.
char **copyArgv(char *const *argv, int argc);

// Inserts a copy of arg at position pos (0 ... *argc) of *argv, reallocating
// the vector, which stays null-terminated, and raising *argc. Any other
// position, or a null arg, changes nothing.
void insertArg(char ***argv, int *argc, int pos, const char *arg);

// Frees every string of the null-terminated vector and the vector; null is
// ignored.
void freeArgv(char **argv);

// Starts the program argv[0] (without its first character when dashFirst:
// the entry then starts with "-", which the program sees as its name) in a
// child process and returns without waiting. The child sets LD_LIBRARY_PATH
// to its old value, ":" and the program's directory (or just the directory
// when it was unset) and executes the program through the search path; when
// that fails it prints the reason and ends with status 2. Returns true and
// the child's id in *pid (when pid is not null) once the fork succeeded;
// false with a warning when it failed. The caller reaps the child.
bool systemcall(char *const *argv, int *pid, bool dashFirst);

// As systemcall, but first checks that the program file can be found (a name
// with a "/" must be executable; a bare name must be on the search path), so
// a missing program is reported here instead of through the child's exit
// status. Returns the child's id, or 0 when the program was not found or the
// fork failed.
int spawnProgram(char *const *argv, bool dashFirst);

// Changes the working directory for the life of the object.
class CwdChanger {
 public:
  // Remembers the current directory, then changes to path after "~"
  // expansion. A null path changes nothing.
  explicit CwdChanger(const char *path);
  // Changes back to the directory that was current at construction.
  ~CwdChanger();
  CwdChanger(const CwdChanger &) = delete;
  CwdChanger &operator=(const CwdChanger &) = delete;

  // True when the change of directory failed.
  bool Failed() const { return failed_; }

 private:
  char *saved_ = nullptr;  // owned (malloc)
  bool failed_ = false;
};
