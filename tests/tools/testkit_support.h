// Support of the generated test kits (stpgen --testkit): sample values
// chosen by a seed (null, empty and escaped strings, negative and extreme
// integers, arrays of 3, 0 and 1 elements) and the entry helpers of the
// recorders, which log each handled message the way the protocol log
// prints it.
#pragma once

#include <climits>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "shared/stp_transport/stp_fields.h"
#include "shared/stp_transport/stp_specclass.h"
#include "tools/string_log.h"

inline int stp_sInt(int s) {
  static const int v[] = {-1, 0, 7, INT_MIN, INT_MAX, -123456, 42};
  return v[static_cast<unsigned>(s) % 7];
}
inline bool stp_sBool(int s) { return (s & 1) != 0; }
// A heap copy (free it) or null.
inline char *stp_sStr(int s) {
  static const char *const v[] = {nullptr, "", "plain", "q\"b\\s\nend", "two words", "{x:[y]}"};
  const char *p = v[static_cast<unsigned>(s) % 6];
  return p ? strdup(p) : nullptr;
}
inline int stp_sCount(int s) {
  static const int v[] = {3, 0, 1};
  return v[static_cast<unsigned>(s) % 3];
}
inline void stp_sElem(int &v, int &seed) { v = stp_sInt(seed++); }
inline void stp_sElem(char *&v, int &seed) { v = stp_sStr(seed++); }

// An array of 3, 0 or 1 sample elements (records filled by `sample`);
// `count` becomes its length. Release with STPArray_free.
template <class T>
void stp_sArray(T *&a, int &count, int &seed, void (*sample)(T *, int) = nullptr) {
  int n = stp_sCount(seed++);
  a = STPArray_new<T>(n);
  for (int i = 0; i < n; ++i) {
    if constexpr (std::is_class_v<T>)
      sample(&a[i], seed++);
    else
      stp_sElem(a[i], seed);
  }
  count = n;
}

inline void stp_sList(ut_string_list &v, int &seed) {
  for (int n = stp_sCount(seed++), i = 0; i < n; ++i) {
    char *s = stp_sStr(seed++);
    v.push_back(s);
    free(s);
  }
}

// Opens an entry of `calls` with the message name; the recorder prints the
// fields, then stp_recordEnd closes the entry and counts the call.
inline STPLog *stp_recordBegin(StringLog &calls, STPSpecClass *ep, const char *name) {
  calls.logStart(ep, true);
  calls.add(name);
  return &calls;
}
inline void stp_recordEnd(StringLog &calls, STPSpecClass *ep, int &handled) {
  calls.add("\n");
  calls.logEnd(ep, true);
  ++handled;
}
