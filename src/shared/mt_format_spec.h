// mt_format_spec.h: pieces shared by the formatting engine's source files
// (not part of the public interface): the conversion descriptor, the output
// sink that counts characters and remembers a failed output call, padding,
// and the float conversion.
#pragma once

#include "shared/mt_vsprintf.h"

enum MT_Length { MT_LEN_NONE = 0, MT_LEN_SHORT, MT_LEN_LONG, MT_LEN_LONGLONG };

// One % directive.
struct MT_Spec {
  int width = -1;       // -1: none
  int precision = -1;   // -1: none
  bool zero = false;
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alternate = false;
  bool isString = false;
  MT_Length length = MT_LEN_NONE;
  char conv = 0;
};

// Hands text to the caller's output function. A failed call is sticky: later
// pieces are dropped and the engine reports -1.
class MT_Sink {
 public:
  MT_Sink(void *target, MT_OutputFunc out) : target_(target), out_(out) {}

  void put(const char *text, int count) {
    if (count <= 0 || failed_) return;
    if (out_(target_, text, count) < 0) {
      failed_ = true;
      return;
    }
    total_ += count;
  }
  // count copies of c.
  void fill(char c, int count);

  bool failed() const { return failed_; }
  long total() const { return total_; }

 private:
  void *target_;
  MT_OutputFunc out_;
  long total_ = 0;
  bool failed_ = false;
};

// Writes prefix (sign, 0x), nzeros zeros and body, padded to the width: with
// left, spaces after; with zero (and not a string), zeros between prefix and
// body; otherwise spaces before. The caller has already cut the body to the
// precision where that applies.
void MT_strout(MT_Sink &sink, const MT_Spec &spec, const char *prefix, int plen, int nzeros,
               const char *body, int blen);

// Formats value for the conversions e, E, f, g and G.
void MT_format_float(MT_Sink &sink, const MT_Spec &spec, double value);
