// ut_char_buffer: an editable character buffer that can also drop characters
// at its front cheaply.
//
// One owned block from the C allocator (so that peel() can hand it to a
// caller who frees it with free()). The text runs from `start` to `end`;
// `*end` is always a zero byte and every byte after it up to `capacityEnd` is
// zero. Characters removed at the front only advance `start`. The content may
// hold zero bytes added with add_extra_null_char(), so length() is end - start,
// not strlen. One thread.
#pragma once

#include <cstdarg>

#include "shared/libcxxutil/ut_string.h"

class ut_char_buffer {
 public:
  // Eight zero bytes, empty text.
  ut_char_buffer();
  // A copy of text (null gives "").
  explicit ut_char_buffer(const char *text);
  // A copy of length bytes of text; null or a negative length gives "".
  ut_char_buffer(const char *text, int length);
  // A copy of the other buffer's text (from its start to its end).
  ut_char_buffer(const ut_char_buffer &other);
  explicit ut_char_buffer(const ut_string &text);
  ~ut_char_buffer();

  ut_char_buffer &operator=(const ut_char_buffer &other);
  ut_char_buffer &operator=(const char *text);  // null gives ""

  // Adding. A zero character is ignored by add_char.
  void add_char(char c);
  // Appends a zero byte that counts as part of the content.
  void add_extra_null_char();
  // At most n characters, stopping at a zero byte; null or n <= 0 is ignored.
  void add_strn(const char *text, int n);
  void add_str(const char *text);
  void add_str(const ut_string &text);
  // Quoted: double quotes around, a backslash before backslash and double
  // quote. add_strnq quotes at most n characters.
  void add_strq(const char *text);
  void add_strnq(const char *text, int n);
  // Quoted only when the text holds a blank, a double or a single quote.
  // add_streq is the same operation under the name some callers use.
  void add_stre(const char *text);
  void add_streq(const char *text) { add_stre(text); }
  // Formatted with the library's printf engine; a null format is ignored.
  void add_strf(const char *format, ...);
  void add_strvf(const char *format, va_list args);

  // Reading and trimming.
  const char *c_str() const { return start; }
  int length() const { return static_cast<int>(end - start); }
  bool is_empty() const { return end == start; }
  // Characters the block can hold without growing (dropped front characters
  // are reclaimed by moving the text back), terminator excluded.
  int capacity() const { return static_cast<int>(capacityEnd - begin) - 1; }
  char get_first_char() const { return *start; }
  // 0 when fewer than two characters.
  char get_second_char() const { return length() >= 2 ? start[1] : 0; }
  // 0 when empty.
  char get_last_char() const { return end > start ? end[-1] : 0; }
  void remove_first_char() { remove_first_chars(1); }
  // Advances the start by n characters, never past the end.
  void remove_first_chars(int n);
  void remove_last_char();
  void remove_initial_spaces_and_tabs();
  void remove_trailing_spaces_and_tabs();
  // As ut_string::substr, positions counted from the start.
  ut_string substr(int pos, int n = -1) const;
  // As ut_string::copy.
  int copy(char *buffer, int n, int pos = 0) const;
  // Removes n characters at pos (n == -1, any negative n: to the end); the
  // freed tail is zeroed. Nothing when pos is outside the text.
  void erase(int pos, int n);
  // Index from the start, or -1.
  int find(char c, int pos = 0) const;
  int find(const char *text) const;

  // Hands the text to the caller as a block starting at its first character
  // (free it with free()); the buffer is left empty with a fresh block.
  char *peel();
  // Empties the buffer and zeroes the whole block.
  void reset();
  // Makes room for a text of n characters and a terminator.
  void ensure_capacity(int n);

 private:
  void init_empty();
  void assign_bytes(const char *text, int length);
  // Room for `extra` more bytes after end plus the terminator.
  void reserve_extra(int extra);
  void add_bytes(const char *data, int n);

  char *begin;
  char *capacityEnd;
  char *start;
  char *end;
};
