// ut_string: a reference-counted string value with copy-on-write and an
// in-place append fast path.
//
// A value is one pointer to zero-terminated characters. The 32-bit word just
// before the characters is the tag: reference count * 16 + header size.
//   header size 4:  a plain string; the tag is the whole header.
//   header size 12: a growable string; before the tag it keeps two more 32-bit
//                   words, the offset of the terminator (the length) and the
//                   offset of the end of the block (the capacity), both
//                   counted from the first character.
// Offsets rather than pointers keep the header at 12 bytes on 64-bit hosts;
// every header word is 4-byte aligned because blocks come from the C
// allocator and the characters start 4 or 12 bytes in.
//
// Two static strings with a count that never reaches 0 exist: the default
// string (default construction, null assignment) and the empty string (what
// "" yields). Both read "".
//
// Assumes one thread: counts are updated without atomics.
#pragma once

class ut_string {
 public:
  // The default string.
  ut_string();
  // Null gives the default string, "" the empty string, anything else a
  // private copy.
  ut_string(const char *text);  // NOLINT: implicit on purpose, like a literal
  // A copy of `length` bytes of `text` (stopping early at a zero byte). Null
  // gives the default string; an empty text or a length <= 0 the empty string.
  ut_string(const char *text, int length);
  // Shares the characters of `other` (one more reference).
  ut_string(const ut_string &other);
  // Takes the characters of `other`, which is left holding the default string.
  ut_string(ut_string &&other) noexcept;
  ~ut_string();

  ut_string &operator=(const ut_string &other);
  ut_string &operator=(ut_string &&other) noexcept;
  ut_string &operator=(const char *text);

  // Share the characters of `other`.
  void assign(const ut_string &other);
  // As the text constructor.
  void assign(const char *text);
  // As the text-and-length constructor.
  void assignn(const char *text, int length);
  // a followed by b; a null part counts as "", an empty result is the empty
  // string.
  void assign_concat(const char *a, const char *b);
  // Back to the default string.
  void clear();

  // Appending. Each leaves the value unshared; a null text or a length <= 0
  // is ignored. appendn copies at most n characters, stopping at a zero byte.
  void appendn(const char *text, int n);
  void append(const char *text);
  void append(char c);  // a zero character is ignored
  void append(const ut_string &other);
  // Quoted: in double quotes, with a backslash before every backslash and
  // double quote.
  void appendnq(const char *text, int n);
  void appendq(const char *text);
  // Quoted only when the text holds a blank, a double or a single quote;
  // otherwise appended unchanged.
  void appendne(const char *text, int n);
  void appende(const char *text);

  // Editing. Each first makes the value a private growable string.
  // Sets the character at pos (ignored outside the text); a zero character
  // truncates the text there.
  void change_char(int pos, char c);
  // As change_char; returns the previous character, 0 outside the text.
  char swap_char(int pos, char c);
  // Removes n characters at pos (n clipped to the end); nothing when n <= 0
  // or pos is outside the text.
  void erase(int pos, int n);
  // Replaces the n characters at pos (clipped to the end) by `text` (null
  // counts as ""); nothing when pos is outside 0 ... length.
  void replace(int pos, int n, const char *text);

  // Queries.
  const char *c_str() const { return chars_; }
  explicit operator const char *() const { return chars_; }
  int length() const;
  bool is_empty() const { return chars_[0] == 0; }
  // True only for the shared default string (not for "").
  bool is_default() const;
  bool is_null() const { return is_default(); }
  // Characters the block holds without reallocating on append (the length
  // for a plain string).
  int capacity() const;
  // Number of values sharing these characters.
  int ref_count() const;
  // Difference of the first characters as signed chars; when they are equal
  // and not the terminator, the strcmp of the rest.
  int compare(const ut_string &other) const;
  bool operator<(const ut_string &other) const { return compare(other) < 0; }
  bool operator==(const ut_string &other) const;
  bool operator!=(const ut_string &other) const { return !(*this == other); }
  // n characters from pos; n == -1 (any negative n) means to the end. pos
  // outside 0 ... length - 1 or n == 0 gives the default string; pos 0 with
  // n >= length shares this value.
  ut_string substr(int pos, int n = -1) const;
  // Copies min(n, length + 1 - pos) bytes from pos into `buffer`; n == -1
  // copies all remaining bytes including the terminator. Returns the count
  // (0 when pos is outside 0 ... length). The buffer is the caller's.
  int copy(char *buffer, int n, int pos = 0) const;
  // Index of the first occurrence at or after pos, or -1.
  int find(char c, int pos = 0) const;
  int find(const char *text, int pos = 0) const;

  // ELF hash of `text` modulo `size`; 0 for a null or empty text or a size
  // <= 0.
  static int hash(const char *text, int size);

 private:
  // Replaces chars_ by q (which holds its own reference) and drops the
  // reference to the old characters.
  void adopt(char *q);
  // Appends exactly m bytes (none of them zero).
  void append_exact(const char *text, int m);
  // Makes chars_ an unshared growable string.
  void make_private();

  char *chars_;
};

ut_string operator+(const ut_string &a, const ut_string &b);
ut_string operator+(const char *a, const ut_string &b);
ut_string operator+(const ut_string &a, const char *b);
