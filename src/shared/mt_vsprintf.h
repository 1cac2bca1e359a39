// mt_vsprintf.h: the formatted-output engine.
//
// MT_Vsprintf walks a printf-style format and hands the produced text, piece
// by piece, to a caller-supplied output function, so the same engine writes
// into growable strings, buffers and logs without a size limit. It never
// calls the C library's printf family.
//
// Grammar: %[flags -+0 #][width|*][.precision|.*|.][spaces][h|l|ll|L]conv.
// Where it differs from the C library, on purpose:
// - l is 32 bits (the value is read as a long and truncated), ll and L are 64
//   bits; for floats L still reads a double. There is no hh, z, j or t.
// - %p/%P print the low 32 bits in lower/upper-case hex, no prefix unless #.
// - Any unknown conversion character (also %, q, z, ...) prints itself and
//   consumes no argument.
// - nan and inf print without a sign; -0.0 prints without a sign.
// - Float digits come from the engine's own scaling (at most 56 significant
//   digits, rounded half up at the last printed digit), so a last digit may
//   differ from the C library's exact conversion.
// One thread; no global state except the float tables.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Receives count characters (not zero-terminated) for target; returns count,
// or -1 to stop the engine (which then returns -1).
typedef int (*MT_OutputFunc)(void *target, const char *chars, int count);

// Formats format with args, handing the text to out(target, ...). Returns the
// number of characters produced, or -1 when out failed. A null format is
// treated as "(null)". args is not consumed (the engine works on a copy).
int MT_Vsprintf(const char *format, va_list args, void *target, MT_OutputFunc out);

// Argument accessors for MT_VsprintfTargetString. Each is called with the
// same context that the output function gets. All must be set.
struct MT_ArgAccessors {
  // An integer of size 2, 4 or 8 bytes (sign-extended for signed use).
  int64_t (*getInt)(void *context, int size);
  int64_t (*getInt64)(void *context);
  const void *(*getPointer)(void *context);
  double (*getDouble)(void *context);
  long double (*getLongDouble)(void *context);   // %L with a float conversion
  // A string for %s (may be null); handed back to releaseString after use.
  const char *(*getString)(void *context);
  void (*releaseString)(void *context, const char *s);
};

// The same grammar as MT_Vsprintf, with arguments read through accessors,
// plus %r / %R (roman numerals for 1..3999, decimal otherwise). %n is
// refused with gen_error("%%n format is not supported") after consuming its
// argument (getPointer). Returns the characters produced or -1.
int MT_VsprintfTargetString(const char *format, void *context, MT_OutputFunc out,
                            const MT_ArgAccessors *accessors);

// A new heap string (free with gen_free) holding the formatted text. A null
// format reports "[gen_asprintf]: Format was NULL (illegal)." and a null
// args "[gen_asprintf]: vlist was NULL (illegal)." through gen_error; both
// give null (a null list can only be passed where va_list is a pointer type,
// as on x86-64).
char *gen_asprintf(const char *format, ...);
char *gen_avsprintf(const char *format, va_list args);

// Float classification. gen_isinf is true whenever the value is not finite
// (so also for NaN): test NaN first.
bool gen_isnan(double x);
bool gen_isnanf(float x);
bool gen_isnanl(long double x);
bool gen_finite(double x);
bool gen_finitef(float x);
bool gen_isinf(double x);

// Frees a set of heap blocks (with gen_free) when it goes out of scope.
class GenFreer {
 public:
  GenFreer() = default;
  GenFreer(const GenFreer &) = delete;
  GenFreer &operator=(const GenFreer &) = delete;
  ~GenFreer();

  // Registers pointer (null is ignored) and returns it.
  void *mark(void *pointer);
  char *mark(char *pointer) { return static_cast<char *>(mark(static_cast<void *>(pointer))); }
  // Registers each element and the array itself; count -1 = up to a null
  // element.
  char **markStringArray(char **array, int count);
  // Forgets pointer (it is not freed).
  void cancel(void *pointer);
  // Forgets every block.
  void cancelAll();

 private:
  void **blocks_ = nullptr;
  int count_ = 0;
  int capacity_ = 0;
};
