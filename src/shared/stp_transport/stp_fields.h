// Field codecs shared by generated endpoint code: one call per field to
// write it, read it, print it to a protocol log or free it, for each field
// kind (integer, flag, string, file name, record, counted array, string
// list, binary integer array) in the ASCII and the binary encoding. The
// generator decides which call a field gets; these hold the statements it
// would otherwise write out for every field.
//
// Ownership: every array of generated data is allocated by STPArray_new
// (zeroed malloc memory, elements of class type constructed in place) and
// released only by STPArray_free (elements freed by the given function,
// destroyed, then free()). Strings are malloc heap strings released with
// free(). So a record's generated _free releases what a decoder, a handler
// or a store put into it, whichever made it. One thread.
#pragma once

#include <cstdlib>
#include <new>
#include <type_traits>

#include "shared/libcxxutil/ut_string_list.h"
#include "shared/stp_transport/stp_amsg.h"
#include "shared/stp_transport/stp_bmsg.h"

class STPLog;

// ---- arrays ----------------------------------------------------------------

// n value-initialised elements (null for n < 1 or when memory runs out).
template <class T>
T *STPArray_new(int n) {
  if (n < 1) return nullptr;
  T *a = static_cast<T *>(std::calloc(static_cast<size_t>(n), sizeof(T)));
  if (a && !std::is_trivially_default_constructible_v<T>)
    for (int i = 0; i < n; ++i) new (&a[i]) T();
  return a;
}

// Frees the n elements with freeElem (when given), destroys them and releases
// the array; `a` becomes null. Null arrays are ignored.
template <class T>
void STPArray_free(T *&a, int n, void (*freeElem)(T *) = nullptr) {
  if (!a) return;
  for (int i = 0; i < n; ++i) {
    if (freeElem) freeElem(&a[i]);
    a[i].~T();
  }
  std::free(a);
  a = nullptr;
}

// The element freer of string arrays.
void STPField_freeString(char **s);
// Frees a heap string and nulls the pointer.
inline void STPField_free(char *&s) {
  std::free(s);
  s = nullptr;
}

// ---- protocol-log form -----------------------------------------------------

// Each writes `label` (for example ", name:") and then the value: "0x%x" for
// integers and flags, "\"%s\"" for strings (null as empty), each element of
// a string list followed by ", ".
void STPField_print(STPLog *log, const char *label, int v);
void STPField_print(STPLog *log, const char *label, bool v);
void STPField_print(STPLog *log, const char *label, const char *v);
void STPField_print(STPLog *log, const char *label, const ut_string_list &v);
// The elements an array sends (none for a null array or a count below 1),
// each followed by ", "; record elements print through printElem.
void STPField_printArray(STPLog *log, const char *label, const int *a, int count);
void STPField_printArray(STPLog *log, const char *label, char *const *a, int count);
template <class T>
void STPField_printArray(STPLog *log, const char *label, const T *a, int count,
                         void (*printElem)(const T *, STPLog *));
// A record through its own printer.
template <class T>
void STPField_printRecord(STPLog *log, const char *label, const T &v, void (*print)(const T *, STPLog *));

// ---- ASCII -------------------------------------------------------------------

// Named fields. A file name goes out expanded ("~" and "~user").
inline void STPField_put(STPAsciiOMsg *m, const char *name, int v) { m->putNumber(name, v); }
inline void STPField_put(STPAsciiOMsg *m, const char *name, bool v) { m->putNumber(name, v ? 1 : 0); }
inline void STPField_put(STPAsciiOMsg *m, const char *name, const char *v) { m->putString(name, v); }
void STPField_putFileName(STPAsciiOMsg *m, const char *name, const char *v);
void STPField_put(STPAsciiOMsg *m, const char *name, const ut_string_list &v);
inline void STPField_get(STPAsciiIMsg *m, const char *name, int &v) { v = m->getNumber(name); }
inline void STPField_get(STPAsciiIMsg *m, const char *name, bool &v) { v = m->getNumber(name) != 0; }
inline void STPField_get(STPAsciiIMsg *m, const char *name, char *&v) { v = m->getString(name); }
void STPField_get(STPAsciiIMsg *m, const char *name, ut_string_list &v);

// A record field: opened under `name` (unnamed when null), its fields written
// or read by the record's own codec, closed.
template <class T>
void STPField_putRecord(STPAsciiOMsg *m, const char *name, const T &v, void (*put)(const T *, STPAsciiOMsg *)) {
  if (name) m->putStartStruct(name);
  else m->putStartStruct();
  put(&v, m);
  m->putEndStruct();
}
template <class T>
void STPField_getRecord(STPAsciiIMsg *m, const char *name, T &v, void (*get)(T *, STPAsciiIMsg *)) {
  STPAsciiIMsgParamState st;
  if (name) m->getStartStruct(st, name);
  else m->getStartStruct(st);
  get(&v, m);
  m->getEndStruct(st);
}

// Counted arrays: the elements an array sends (see STPField_printArray)
// under `name` with their number. Reading allocates as many elements as the
// array announces and sets `count` to that number.
void STPField_putArray(STPAsciiOMsg *m, const char *name, const int *a, int count);
void STPField_putArray(STPAsciiOMsg *m, const char *name, char *const *a, int count, bool fileNames = false);
template <class T>
void STPField_putArray(STPAsciiOMsg *m, const char *name, const T *a, int count,
                       void (*put)(const T *, STPAsciiOMsg *));
void STPField_getArray(STPAsciiIMsg *m, const char *name, int *&a, int &count);
void STPField_getArray(STPAsciiIMsg *m, const char *name, char **&a, int &count);
template <class T>
void STPField_getArray(STPAsciiIMsg *m, const char *name, T *&a, int &count, void (*get)(T *, STPAsciiIMsg *));

// ---- binary ------------------------------------------------------------------

// The writer uses the own tag; the reader the peer's (-1: unknown, the field
// reads as 0, false or null).
inline void STPField_put(STPBinaryOMsg *m, int tag, int v) { m->put4(tag, v); }
inline void STPField_put(STPBinaryOMsg *m, int tag, bool v) { m->put1(tag, v ? 1 : 0); }
inline void STPField_put(STPBinaryOMsg *m, int tag, const char *v) { m->putS(tag, v); }
void STPField_putFileName(STPBinaryOMsg *m, int tag, const char *v);
inline void STPField_get(STPBinaryIMsg *m, int tag, int &v) { v = m->get4(tag); }
inline void STPField_get(STPBinaryIMsg *m, int tag, bool &v) { v = m->get1(tag) != 0; }
inline void STPField_get(STPBinaryIMsg *m, int tag, char *&v) { v = m->getS(tag); }
template <class T>
void STPField_putRecord(STPBinaryOMsg *m, int tag, const T &v, void (*put)(const T *, STPBinaryOMsg *)) {
  STPBinaryOMsgParamState st;
  m->putStartStruct(st, tag);
  put(&v, m);
  m->putEndStruct(st);
}
template <class T>
void STPField_getRecord(STPBinaryIMsg *m, int tag, T &v, const int *tagMap,
                        void (*get)(T *, STPBinaryIMsg *, const int *)) {
  STPBinaryIMsgParamState st;
  m->getStartStruct(st, tag);
  get(&v, m, tagMap);
  m->getEndStruct(st);
}
// Integer array under `tag`; string arrays go as their count under tag 22
// and each string under tag 23 (numbers not translated).
void STPField_putArray(STPBinaryOMsg *m, int tag, const int *a, int count);
void STPField_putArray(STPBinaryOMsg *m, char *const *a, int count);
void STPField_getArray(STPBinaryIMsg *m, int tag, int *&a, int &count);
void STPField_getArray(STPBinaryIMsg *m, char **&a, int &count);

// ---- templates ---------------------------------------------------------------

// The value of an integer, flag or string field (a heap string: free it).
template <class T, class Msg, class Key>
T STPField_value(Msg *m, Key key) {
  T v{};
  STPField_get(m, key, v);
  return v;
}

// The number of elements an array sends.
inline int STPArray_sentCount(const void *a, int count) { return a && count > 0 ? count : 0; }

// Writes `text` (the label of a field, or ", " after an element).
void STPField_printText(STPLog *log, const char *text);

template <class T>
void STPField_printRecord(STPLog *log, const char *label, const T &v, void (*print)(const T *, STPLog *)) {
  STPField_printText(log, label);
  print(&v, log);
}

template <class T>
void STPField_printArray(STPLog *log, const char *label, const T *a, int count,
                         void (*printElem)(const T *, STPLog *)) {
  STPField_printText(log, label);
  int n = STPArray_sentCount(a, count);
  for (int i = 0; i < n; ++i) {
    printElem(&a[i], log);
    STPField_printText(log, ", ");
  }
}

template <class T>
void STPField_putArray(STPAsciiOMsg *m, const char *name, const T *a, int count,
                       void (*put)(const T *, STPAsciiOMsg *)) {
  int n = STPArray_sentCount(a, count);
  m->putStartArray(name, n);
  for (int i = 0; i < n; ++i) STPField_putRecord(m, nullptr, a[i], put);
  m->putEndArray();
}

template <class T>
void STPField_getArray(STPAsciiIMsg *m, const char *name, T *&a, int &count, void (*get)(T *, STPAsciiIMsg *)) {
  STPAsciiIMsgParamState st;
  int n = m->getStartArray(st, name);
  a = STPArray_new<T>(n);
  if (!a) n = 0;
  for (int i = 0; i < n; ++i) STPField_getRecord(m, nullptr, a[i], get);
  count = n;
  m->getEndArray(st);
}
