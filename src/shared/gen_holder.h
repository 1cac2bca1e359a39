// RAII holders for blocks from the gen_ allocator, and the one conversion
// of a list of strings into the gen_-allocated array shape that generated
// messages carry (count plus char **), used at a handler's edge.
//
// A block with one owner inside C++ code is held by GenPtr<T> (GenString
// for a string) rather than by a bare pointer freed on every path. Strings
// handed between objects keep gen_copy and gen_free. One thread per holder.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "shared/indgen.h"

// Frees with gen_free (null is ignored).
struct GenFreeDeleter {
  void operator()(void *pointer) const { gen_free(pointer); }
};

// Sole owner of a block from gen_calloc, gen_allocate or gen_copy.
template <class T>
using GenPtr = std::unique_ptr<T, GenFreeDeleter>;
using GenString = GenPtr<char>;

// Frees with the C library's free (null is ignored).
struct CFreeDeleter {
  void operator()(void *pointer) const { std::free(pointer); }
};

// Sole owner of a string from malloc: a getcwd(nullptr, 0) result, or a
// string a generated sender returned.
using MallocString = std::unique_ptr<char, CFreeDeleter>;

inline const char *gen_c_str(const char *s) { return s; }
inline const char *gen_c_str(const std::string &s) { return s.c_str(); }

// A new array of gen_copy copies of `strings` (a container of std::string
// or const char *; null elements stay null), from gen_calloc; null when
// `strings` is empty. The receiver frees each element and the array with
// gen_free (or the C library's free).
template <class Strings>
char **gen_copy_string_array(const Strings &strings) {
  if (strings.empty()) return nullptr;
  char **copies = static_cast<char **>(gen_calloc(strings.size(), sizeof(char *)));
  size_t i = 0;
  for (const auto &s : strings) copies[i++] = gen_copy(gen_c_str(s));
  return copies;
}
