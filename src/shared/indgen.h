// indgen.h: the general runtime library of the Korvo state manager.
//
// C-style functions with the prefix gen_ for memory, messages and exits,
// strings, file names, files and directories, the user's configuration
// directory and a few process services; plus the sort functions twl_sort and
// twl_stable_sort, the shared-library wrappers and the assertion helper.
//
// Assumptions: one thread. Unless a comment says otherwise, every string a
// function returns is a fresh heap copy that the caller releases with
// gen_free; "library-owned" results stay valid until the cache that holds
// them is cleared (gen_cleanupconfigdirs, gen_destruct).
//
// Formatting: every printf-style function here formats with the library's own
// engine (shared/mt_vsprintf.h), not the C library's. Its length modifiers are
// h (short), l (32 bits), ll or L (64 bits); %p prints 32 bits of hex without
// a prefix. Use %lld with a cast to long long for 64-bit values; %z, %j, %t
// and %hh are not modifiers here.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <sys/stat.h>
#include <sys/types.h>

// ---------------------------------------------------------------------------
// Hooks. Process-wide function pointers with defaults; tests replace them to
// capture messages and exits without ending the test process.

// Zeroing allocation of count * size bytes; null on failure. Blocks must be
// releasable with the C library's free (gen_free uses it).
typedef void *(*gen_calloc_func)(size_t count, size_t size);
// Reallocation (C library realloc semantics); null on failure.
typedef void *(*gen_realloc_func)(void *pointer, size_t size);
// Prints one message of the given level (see GEN_LEVEL_*); format and args
// are printf-style for the library's engine. Must not keep args.
typedef void (*gen_domessage_func)(int level, const char *format, va_list args);
// Ends the process with the given status. A replacement used by tests may
// return; the callers then return to their own callers (see gen_errorexit).
typedef void (*gen_exit_func)(int status);

extern gen_calloc_func gen_calloc_hook;     // default: the C library's calloc
extern gen_realloc_func gen_realloc_hook;   // default: the C library's realloc
extern gen_domessage_func gen_domessage;    // default: gen_default_domessage
extern gen_exit_func gen_exit;              // default: gen_default_exit

// Message levels.
enum {
  GEN_LEVEL_PLAIN = 0,       // gen_errorexit with status 0: no prefix
  GEN_LEVEL_DISASTER = 1,    // "disaster" (reserved)
  GEN_LEVEL_FATAL = 2,       // gen_errorexit with a non-zero status
  GEN_LEVEL_ERROR = 3,       // gen_error
  GEN_LEVEL_WARNING = 4,     // gen_warning
  GEN_LEVEL_INFO = 5,        // gen_info
  GEN_LEVEL_PRINTF = 6,      // gen_printf: no program name, no prefix
  GEN_LEVEL_PERROR = 100     // added to a level: append the system error text
};

// The default message function: flushes stdout, then writes to stderr the
// program name and ": " (unless the level is 6 or the name is unset), the
// level's prefix and ": ", the message, and either ": " plus strerror(errno)
// (levels above 100 with errno set; errno is then cleared) or a newline when
// the message does not already end with one. Counts the message.
void gen_default_domessage(int level, const char *format, va_list args);

// The default exit function: the first call runs exit(status) with the
// registered exit handlers; a call made while that runs ends at once (_exit).
void gen_default_exit(int status);

// Messages counted by gen_default_domessage: per level (0..6; levels above
// 100 count as level - 100) and all messages of the levels 0 to 3.
int gen_message_count(int level);
int gen_error_message_count(void);
void gen_reset_message_counts(void);

// ---------------------------------------------------------------------------
// Start and end.

// Records the program identity (gen_execname = progpath, gen_progname = its
// base name without trailing "/"), installs the signal traps, and checks the
// host byte order ("Could not determine host endianness", exit 1). flag is
// reserved; viewpathing_mode must be 0 (viewpathing off: the file functions
// are the plain system calls).
void gen_init(const char *progpath, int flag, int viewpathing_mode);
// Releases the library's state (program identity, caches) once; later calls
// do nothing.
void gen_destruct(void);

// Program identity, library-owned; null before gen_init.
extern const char *gen_progname;
extern const char *gen_execname;
// The program's name as recorded by gen_init (base name of the program
// path), or null before gen_init. The text stays the library's.
const char *gen_getprogname(void);
// Sets only gen_progname (a library-owned copy; null clears it). For tests
// and tools that do not call gen_init.
void gen_setprogname(const char *name);

// Installs the signal traps: SIGHUP, SIGINT, SIGQUIT and SIGTERM report
// ("Halted" for SIGINT, "Interrupt (%d)" for the others except SIGTERM,
// which is silent) and exit with status 2; SIGPIPE reports "Halted by a
// SIGPIPE." and exits 2; SIGXCPU reports "Cpu Limit Exceeded" and exits 2.
void trapsetup(void);
// The last signal caught by the traps, 0 when none.
int gen_caught_signal(void);

// ---------------------------------------------------------------------------
// Messages. All printf-style through the library's engine.

void gen_error(const char *format, ...);    // level 3, "error"
void gen_warning(const char *format, ...);  // level 4, "warning"
void gen_info(const char *format, ...);     // level 5, "info"
void gen_printf(const char *format, ...);   // level 6, no name or prefix
void gen_perror(const char *format, ...);   // level 103: error + strerror
// Sends a message of any level through gen_domessage.
void gen_message(int level, const char *format, ...);
void gen_vmessage(int level, const char *format, va_list args);

// Prints at level 2 ("fatal") when status is non-zero, else level 0, then
// calls gen_exit(status). Returns only when a test's exit hook returns.
void gen_errorexit(int status, const char *format, ...);
// As gen_errorexit, at level 103 (the system error text is appended).
void gen_perrorexit(int status, const char *format, ...);
// gen_exit(0).
void gen_successexit(void);

// Writes "<progname>: fatal: Out of memory\n" straight to descriptor 2 and
// ends the process with status 3 (through gen_exit, then _exit).
[[noreturn]] void gen_outofmemory(void);

// When cond is false: writes "Assertion (expr) [extra] failed in 'file' on
// line N in progname" ("[extra] " only when extra is not 0) and a newline to
// stderr and calls gen_exit(1). Returns only when a test's exit hook returns.
void __Assert(int cond, const char *expr, const char *file, int line, int extra);

// Guards programming errors only; always compiled in.
#define gen_assert(expr) \
  ((expr) ? (void)0 : __Assert(0, #expr, __FILE__, __LINE__, 0))

// ---------------------------------------------------------------------------
// Memory. Allocation failure is fatal (gen_outofmemory).

// Zeroed block of count * size bytes (at least one byte); free with gen_free.
void *gen_calloc(size_t count, size_t size);
// Reallocates pointer (null: a fresh zeroed block) to count * size bytes
// (at least one); bytes beyond the old size are not zeroed.
void *gen_allocate(void *pointer, size_t count, size_t size);
// Frees a block from this library; null is ignored.
void gen_free(void *pointer);
// A heap copy of size bytes of pointer; null stays null.
void *gen_structcopy(const void *pointer, size_t size);

// ---------------------------------------------------------------------------
// Strings. Results are new heap strings (gen_free) unless noted.

char *gen_copy(const char *s);                 // null gives null
char *gen_copyn(const char *s, int n);         // at most n chars; null gives null
// Joins; null parts count as "".
char *gen_concat(const char *a, const char *b);
char *gen_concat3(const char *a, const char *b, const char *c);
char *gen_concat4(const char *a, const char *b, const char *c, const char *d);
char *gen_concat5(const char *a, const char *b, const char *c, const char *d,
                  const char *e);
// Joins and frees the first argument (which must come from this library).
char *gen_fconcat(char *a, const char *b);
char *gen_fconcat3(char *a, const char *b, const char *c);
char *gen_fconcat4(char *a, const char *b, const char *c, const char *d);
// first + sep + second; sep 0 is left out; a null first gives a copy of
// second (null parts otherwise count as "").
char *gen_concat_sep(const char *first, char sep, const char *second);

// ASCII letters compared without regard to case; two nulls are equal, one
// null is unequal. gen_strnequal compares at most n characters.
bool gen_strequal(const char *a, const char *b);
bool gen_strnequal(const char *a, const char *b, int n);
// Whether s starts with prefix (exactly / ignoring ASCII case); false on null.
bool gen_strprefix(const char *s, const char *prefix);
bool gen_strcaseprefix(const char *s, const char *prefix);
// strstr with null checks (null when either is null); points into haystack.
const char *gen_strstr(const char *haystack, const char *needle);
// The C conversion (strtoul).
unsigned long gen_strtoul(const char *s, char **end, int base);
bool gen_isalnum(int c);   // ASCII letters and digits only
bool gen_isspace(int c);   // space, \t, \n, \v, \f, \r

// The string in double quotes with a backslash before every backslash,
// double quote and single quote. Null counts as "".
char *gen_quotify_string(const char *s);
// Removes one pair of surrounding quotes (either kind) and decodes the
// escapes \\ \" \' \n \t \r \a \b \f \v, \ooo (octal) and \xHH. Null gives
// null; "" gives "".
char *gen_dequotify_string(const char *s);
// Backslash escapes for backslash, quotes, \n \t \r \a \b \f \v and \ooo for
// other control bytes; the inverse of the decoding of gen_dequotify_string.
char *gen_escapify_string(const char *s);
// Two lower-case hexadecimal digits per byte, the low half of the byte
// first: the byte 0x1f gives "f1".
char *gen_binary_to_string(const void *bytes, int count);

// ---------------------------------------------------------------------------
// File names.

bool gen_absolutefilename(const char *name);   // starts with "/" or "~"
// Points into name after the last "/" (name itself when there is none).
const char *gen_basename(const char *name);
char *gen_basename(char *name);
// Copy up to the last "/" ("/" for a name directly under the root); null
// when there is no "/".
char *gen_dirname(const char *name);
// Joins directory and name: an absolute name not starting with "~" is
// returned alone; else joined with one "/" and canonicalised; an empty
// directory gives the name; an empty result gives ".".
char *gen_sconcat(const char *dir, const char *name);
// Like gen_sconcat, but a name starting with "~" is also returned alone and
// a null or empty name gives a copy of the directory.
char *gen_dconcat(const char *dir, const char *name);
// In place: removes "." components and doubled "/", removes a component
// followed by "..", keeps leading ".." components, drops a trailing "/".
// Returns name.
char *gen_canonicalfilename(char *name);
// Replaces the part of the base name from its last "." by "." + suffix
// (a suffix given with its "." is accepted); appends when there is no ".".
char *gen_changesuffix(const char *name, const char *suffix);
// A leading "~" becomes the home directory, "~user" that user's home
// directory; otherwise a copy.
char *gen_expand_filename(const char *name);
// The resolved path, or a copy of the argument when it cannot be resolved.
char *gen_realpath(const char *name);

// ---------------------------------------------------------------------------
// Program location.

// A name with a directory part is returned (copied) when executable;
// otherwise the program's own directory (when in_progdir) and then every
// directory of PATH are tried. Null when not found. flag is reserved (0).
char *gen_findexec(const char *name, bool in_progdir, int flag);
// 1 executable; 0 exists but is a directory or not executable; -1 missing
// or empty name.
int gen_canexec(const char *path);
// The directory of the running program (from gen_execname), library-owned,
// cached; null when unknown.
const char *gen_getprogdir(void);

// ---------------------------------------------------------------------------
// Environment and identity.

// The value when set and not empty, else def (not copied).
const char *gen_getenv(const char *name, const char *def);
// HOME, else the password entry's home directory; library-owned, cached;
// null when neither is known.
const char *gen_gethomedir(void);
// The login name from the password database (a copy), or null.
char *gen_getusername(void);
// The host name, in a static buffer.
const char *gen_gethostname(void);
// The working directory in a static buffer (cached; gen_chdir refreshes it).
// Falls back to the home directory; without one, "Could not get current
// working directory." ends the process with status 1.
const char *gen_getcwd(void);
// True unless signalling pid reports that no such process exists.
bool gen_doeslocalprocessexist(pid_t pid);
void gen_millisleep(int milliseconds);

// ---------------------------------------------------------------------------
// Files and directories: the plain system calls (viewpathing is off). Null
// names fail (null stream, -1).

FILE *gen_fopen(const char *name, const char *mode);
int gen_open(const char *name, int flags, mode_t mode = 0);
int gen_access(const char *name, int amode);
int gen_stat(const char *name, struct stat *st);
int gen_lstat(const char *name, struct stat *st);
int gen_unlink(const char *name);
int gen_chdir(const char *path);
int gen_sys_access(const char *name, int amode);
int gen_sys_stat(const char *name, struct stat *st);

// Reads one line without its terminator into *buffer (grown with
// gen_allocate in steps of 250 bytes; *size is its size). A line ends at
// "\n", or at "\r", which also consumes the following character. Returns
// *buffer, or null at end of file when nothing was read. The caller frees
// *buffer with gen_free.
char *gen_getline(FILE *stream, char **buffer, int *size);

bool gen_isdir(const char *path);
// 0 when path already is a directory, -1 when it exists as something else,
// else the result of mkdir.
int gen_createdir(const char *path, mode_t mode);
// As gen_createdir, creating missing parents first.
int gen_createdir_recursive(const char *path, mode_t mode);
// -1 when either is a directory; when the first rename fails the target is
// removed and the rename tried once more. 0 on success.
int gen_renamefile(const char *oldname, const char *newname);
int gen_removefile(const char *path);
// mkstemp on a writable template ending in XXXXXX; the descriptor or -1.
int gen_mkstemp(char *templ);

// TMPDIR when set, not empty, readable and writable; else preferred when
// given and usable; else "/var/tmp/" when usable, else "/tmp". Cached
// (library-owned); gen_forget_temp_dir clears the cache.
const char *gen_default_temp_dir(const char *preferred = nullptr);
void gen_forget_temp_dir(void);

// ---------------------------------------------------------------------------
// Configuration directories. Results of the getters are library-owned and
// cached until gen_cleanupconfigdirs.

// The home directory joined with ".twl". With create, a missing directory
// is made with mode 0755; on failure *message (when message is not null) is
// set to "Couldn't create user config directory: <dir>" (library-owned, valid
// until the next call), else to null. Null when there is no home directory.
const char *gen_getuserconfigdir(bool create, const char **message);
// Replaces the cached user directory (null or "" is ignored).
void gen_setuserconfigdir(const char *path);
// The program's directory joined with "config" / "defaults"; null when the
// program's directory is unknown.
const char *gen_getsiteconfigdir(void);
const char *gen_getsitedefaultconfigdir(void);
// An absolute name is returned (copied) when accessible with amode and not a
// directory; a relative one is tried in the user, site and site-default
// directories (only the last with defaults_only). Null when none matches.
// *message as for gen_getuserconfigdir (never creates).
char *gen_searchfileinconfigdirs(const char *name, int amode, bool defaults_only,
                                 const char **message);
// With try_override: dir/override/<base with suffix .cfg> when that file
// exists. Otherwise dir/twl.cfg, unless that does not exist and use_base is
// set: then dir/<base with suffix .cfg>. A new string.
char *gen_createconfigfilename(const char *dir, const char *base, bool use_base,
                               bool try_override);
// Forgets the three cached configuration directories.
void gen_cleanupconfigdirs(void);

// ---------------------------------------------------------------------------
// Sorting.

// Compare: negative, 0 or positive for a before, equal to or after b.
typedef int (*twl_compare_func)(void *context, const void *a, const void *b);
// Exchanges the two elements.
typedef void (*twl_swap_func)(void *context, void *a, void *b);

// Sorts count elements of size bytes at base in place (quicksort, pivot from
// the middle). Without swap, elements are exchanged word by word when base
// and size allow, else byte by byte. A count of 0 does nothing.
void twl_sort(void *context, void *base, size_t count, size_t size,
              twl_compare_func compare, twl_swap_func swap);
// As twl_sort, keeping equal elements in their input order.
void twl_stable_sort(void *context, void *base, size_t count, size_t size,
                     twl_compare_func compare, twl_swap_func swap);

// ---------------------------------------------------------------------------
// Shared libraries: the dynamic-loader calls.

void *twl_open_shared_library(const char *file, int flags);       // dlopen
void *twl_get_shared_library_func_ptr(void *handle, const char *symbol);
// As above; a missing symbol is reported with gen_error
// ("Could not resolve \"<symbol>\"") and gives null.
void *twl_must_get_shared_library_func_ptr(void *handle, const char *symbol);
// The loader's last error text (its own buffer), or null.
const char *twl_last_shared_library_error(void);
int twl_close_shared_library(void *handle);                         // dlclose
