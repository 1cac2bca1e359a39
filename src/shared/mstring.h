// mstring.h: MString, a growable zero-terminated string with a plain
// function interface.
//
// The MString owns its data block; MString_peel hands the block to the
// caller. A null MString (or a null text for the append functions) is
// reported through gen_error ("[MString_<op>]: cannot operate on NULL ...")
// and the function returns -1 (appends), 0 or null. One thread.
#pragma once

#include <cstdarg>

struct MString {
  int capacity;   // bytes in data
  int length;     // characters before the terminator
  char *data;     // owned, zero-terminated
};

// A new, empty MString with capacity max(capacity, 1), zero-filled. Free
// with MString_delete (or MString_peel).
MString *MString_new(int capacity);
// Frees s and its text.
void MString_delete(MString *s);
// Appends text; returns the number of characters appended.
int MString_append(MString *s, const char *text);
// Appends at most n characters of text, stopping at a zero byte.
int MString_appendn(MString *s, const char *text, int n);
// Appends the text formatted with gen_avsprintf.
int MString_appendf(MString *s, const char *format, ...);
int MString_vappendf(MString *s, const char *format, va_list args);
// When the capacity is at most n, reallocates to 2n and returns n;
// otherwise returns the capacity.
int MString_ensureCapacity(MString *s, int n);
// Returns the text reallocated to length + 1 bytes (the caller frees it with
// gen_free) and destroys s.
char *MString_peel(MString *s);
// A heap copy of the text (gen_free).
char *MString_copy(const MString *s);
// The length; -1 for null.
int MString_len(const MString *s);
// Strips trailing white space (never past the first character position).
void MString_removeTrailingWhiteSpace(MString *s);
