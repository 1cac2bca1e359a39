// string_parser: character classes and string-constant helpers shared by the
// file parser, the preprocessor and the integer evaluator.
//
// Every function is static and works on zero-terminated text; a "skip"
// function returns the position just after what it recognised (the argument
// itself when nothing matched) and never reads past the terminator.
#pragma once

#include <cstdint>

#include "shared/libcxxutil/ut_string.h"

class string_parser {
 public:
  // Position of the first character that is not a blank or a tab.
  static const char *skip_whitespace(const char *p);
  // Position where the trailing blanks and tabs of `p` begin (the end of the
  // text when there are none).
  static const char *skip_to_trailing_whitespace(const char *p);
  // Position of the "#" that starts a comment outside double-quoted strings,
  // or the end of the text.
  static const char *skip_to_trailing_comment(const char *p);

  // Option-database identifiers: letters, digits, "_" and "/".
  static bool is_OD_identifier_char(char c);
  static bool starts_OD_identifier(const char *p);
  static const char *skip_OD_identifier(const char *p);
  // Stores the identifier at `p` in `out`; returns the position after it, or
  // null (out untouched) when `p` does not start one.
  static const char *parse_OD_identifier(const char *p, ut_string &out);

  // C identifiers: a letter or "_", then letters, digits and "_".
  static bool is_C_identifier_char(char c);
  static bool starts_C_identifier(const char *p);
  static const char *skip_C_identifier(const char *p);
  static const char *parse_C_identifier(const char *p, ut_string &out);

  // Double-quoted string constants with C escapes. skip_string_constant
  // returns the position after the closing quote, or the end of the text
  // for an unterminated constant; a backslash protects the next character.
  static bool starts_string_constant(const char *p);
  static const char *skip_string_constant(const char *p);
  // Decodes the constant that starts at `src` (at its opening quote, or at
  // its first character when there is none) into `dst`, stopping at the
  // closing quote or the end of the text; dst may equal src (decoding never
  // lengthens). Writes a terminator and returns the decoded length, which
  // counts zero bytes produced by escapes.
  static int decode_string_constant(const char *src, char *dst);
  // Decodes the constant at `p` into `out`; returns the position after it,
  // or null when `p` does not start a string constant.
  static const char *parse_string_constant(const char *p, ut_string &out);
  // The escape letter that stands for `c` in a string constant (n for a
  // line feed, a double quote for a double quote, ...), or 0 when `c` is
  // written as itself.
  static char string_escape_char_for_char(char c);

  // Numbers with base detection: "0x"/"0X" and hexadecimal digits, a
  // leading 0 and octal digits, otherwise decimal digits. Values wrap
  // modulo 2^32. starts_number is true at a decimal digit.
  static bool starts_number(const char *p);
  static const char *skip_number(const char *p);
  static const char *parse_number(const char *p, int32_t *value);
  // "0x"/"0X" followed by at least one hexadecimal digit.
  static bool starts_hex_number(const char *p);
  static const char *skip_hex_number(const char *p);
  static const char *parse_hex_number(const char *p, int32_t *value);
};
