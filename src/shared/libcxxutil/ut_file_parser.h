// ut_file_parser: turns a text file into tokens for the options-database
// reader.
//
// Raw lines end at a line feed or a carriage return; a line ending in a
// backslash continues on the next one. Lines starting with "%" go to the
// preprocessor (conditional sections, definitions, includes), which also
// decides which lines are skipped. Includes nest at most 64 deep and one
// parser opens at most 1024 files, so files that include themselves end.
// "#" starts a comment outside strings.
// Macro references, dollar sign with a name in braces (anywhere) or with a
// bare C identifier (inside strings only), are expanded while tokenising.
//
// Tokens never span lines: at_eol tells whether the current line holds
// more, and eat_next moves to the next line when it does not. Errors carry
// the position of the line where the current statement started, which for
// a continued line is its first physical line.
//
// The macro map and the client interface are not owned; the preprocessor
// is. One thread.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "shared/libcxxutil/simple_preprocessor.h"
#include "shared/libcxxutil/ut_char_buffer.h"
#include "shared/libcxxutil/ut_client_interface.h"
#include "shared/libcxxutil/ut_macro_map.h"
#include "shared/libcxxutil/ut_string.h"
#include "shared/libcxxutil/ut_string_list.h"

// One open file: the main file at the bottom, included files above it.
struct file_stack_elem {
  ut_string name;            // as opened (relative names stay relative)
  ut_string dir;             // its directory, "." when the name has none
  FILE *stream = nullptr;    // null once the file has been read to its end
  int statement_line = 0;    // first physical line of the current line
  int line = 0;              // physical lines read so far
};

// One source of characters: the current file line (macro empty) at the
// bottom, macro values being expanded above it.
struct source_stack_elem {
  ut_string macro;
  std::string text;
  size_t pos = 0;
};

class ut_file_parser {
 public:
  // With `fatal`, parse errors end the process with status 1; otherwise they
  // are reported through gen_error and the parser remembers the failure.
  // With `slash_identifiers`, identifiers may hold "/" and digits (as the
  // options database needs). `macros` and `client` may be null.
  ut_file_parser(bool fatal, bool slash_identifiers, ut_macro_map *macros, ut_client_interface *client);
  ~ut_file_parser();
  ut_file_parser(const ut_file_parser &) = delete;
  ut_file_parser &operator=(const ut_file_parser &) = delete;

  // Opens the main file; only once per parser. False (nothing reported)
  // when it cannot be opened or a file was opened before.
  bool open_file(const char *name);

  // The next token, moving to following lines as needed; null at the end of
  // the input. The text belongs to the parser and is valid until the next
  // call that reads a token. String tokens keep their quotes and escapes.
  const char *eat_next();
  // Consumes the next token when it equals `literal`.
  bool eat_if(const char *literal);
  // Consumes tokens up to and including `literal`; false when the input
  // ended first.
  bool eat_upto(const char *literal);
  // The next token unless it equals `literal` (then it stays and null is
  // returned, as at the end of the input).
  const char *eat_unless(const char *literal);
  const char *eat_unless_either(const char *a, const char *b);
  // As eat_upto, but stops without consuming at `stop`; false then.
  bool eat_upto_unless(const char *literal, const char *stop);
  // Consumes `literal` or reports "expected '%s'" and returns false.
  bool must_eat(const char *literal);
  // When the token just read is a string, decodes it (C escapes, quotes
  // removed) in place and returns it; otherwise null.
  const char *unquote_prev();
  // Whether the token just read was a double-quoted string.
  bool prev_was_string() const { return last_quoted_; }

  // Whether the current line holds no further token.
  bool at_eol();
  // Whether the input holds no further token (may move to later lines).
  bool at_eof();
  // Drops the rest of the current line.
  void skip_remainder_of_line();
  // The character right after the token just read, without skipping
  // blanks (0 at the end of the line); eat_adjoining_char consumes it.
  char peek_adjoining_char();
  char eat_adjoining_char();

  // "\"%s\", line %d": the current file and the line where the current
  // statement started. Owned by the parser, valid until the next call.
  const char *get_last_position();
  // "%s: error: %s" with the position and the formatted message.
  void parse_error(const char *format, ...);
  // "%s: warning: %s" through gen_warning.
  void parse_warning(const char *format, ...);
  // Whether an error has been reported, and how many.
  bool had_error() const { return errors_ > 0; }
  int get_error_count() const { return errors_; }

  // Every file opened, main and included, in opening order.
  const ut_string_list &get_opened_files_list() const { return opened_files_; }
  // The number of files currently open (1 while reading the main file).
  int get_file_stack_depth() const { return static_cast<int>(files_.size()); }
  ut_simple_preprocessor_interface *get_preprocessor() { return preprocessor_; }

 private:
  bool next_line();
  bool read_raw_line(file_stack_elem &f);
  void handle_directive();
  void open_include(const char *name);
  void push_file(const char *name, FILE *stream);
  void pop_file();

  bool fill_pending();
  bool fill_any();
  void take_pending();
  char peek(size_t k) const;
  char get();
  void drop_exhausted();
  void end_line();
  bool in_source_stack(const std::string &name) const;
  bool spend(size_t cost);
  int expand_outside();
  void scan_word(bool slash);
  void scan_operator();
  void scan_string();
  bool expand_in_string();
  void insert_macro(const std::string &name, bool braced, std::vector<std::string> &active);
  bool scan_reference(size_t at, std::string &name, size_t &length, bool &braced) const;

  bool fatal_;
  bool slash_identifiers_;
  ut_client_interface *client_;
  ut_simple_preprocessor_interface *preprocessor_;
  bool opened_ = false;
  std::vector<file_stack_elem> files_;
  std::vector<source_stack_elem> sources_;
  ut_string_list opened_files_;
  ut_char_buffer line_;
  ut_char_buffer token_;
  bool last_quoted_ = false;
  std::string pending_;
  bool has_pending_ = false;
  bool pending_quoted_ = false;
  char pending_gap_ = 0;   // the character that followed the previous token
  size_t budget_ = 0;      // expansion allowance left for the current line
  bool budget_reported_ = false;
  std::string last_position_;
  int errors_ = 0;
};
