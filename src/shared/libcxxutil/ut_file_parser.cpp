// ut_file_parser: files, lines, directives and includes; positions and
// error reports. Tokenising and macro expansion live in
// ut_file_parser_tokens.cpp.
#include "shared/libcxxutil/ut_file_parser.h"

#include <cstdarg>
#include <string>

#include "shared/indgen.h"
#include "shared/mt_vsprintf.h"

namespace {

// Deeper nesting than this is taken to be a file that includes itself.
constexpr int kMaxIncludeDepth = 64;
// Files one parser may open in all: a file that includes itself twice would
// otherwise be read 2^64 times before the depth limit ends it.
constexpr int kMaxOpenedFiles = 1024;
// Characters (plus one per reference) that macro expansion may add to one
// line: far beyond real use, small enough to stop definitions that double
// at every level.
constexpr size_t kExpansionBudget = 256 * 1024;

// Formats with the library's engine into a std::string.
std::string vformat(const char *format, va_list args) {
  char *text = gen_avsprintf(format, args);
  std::string out = text ? text : "";
  gen_free(text);
  return out;
}

}  // namespace

ut_file_parser::ut_file_parser(bool fatal, bool slash_identifiers, ut_macro_map *macros,
                               ut_client_interface *client)
    : fatal_(fatal),
      slash_identifiers_(slash_identifiers),
      client_(client),
      preprocessor_(ut_simple_preprocessor_interface::construct('%', macros, client)) {}

ut_file_parser::~ut_file_parser() {
  for (file_stack_elem &f : files_)
    if (f.stream) fclose(f.stream);
  delete preprocessor_;
}

bool ut_file_parser::open_file(const char *name) {
  if (opened_ || !name) return false;
  FILE *stream = gen_fopen(name, "r");
  if (!stream) return false;
  opened_ = true;
  push_file(name, stream);
  return true;
}

void ut_file_parser::push_file(const char *name, FILE *stream) {
  char *dir = gen_dirname(name);
  file_stack_elem f;
  f.name = name;
  f.dir = dir ? dir : ".";
  f.stream = stream;
  gen_free(dir);
  files_.push_back(f);
  preprocessor_->add_define("__DIR__", files_.back().dir.c_str());
  opened_files_.push_back(name);
}

void ut_file_parser::pop_file() {
  if (files_.back().stream) fclose(files_.back().stream);
  files_.pop_back();
  if (!files_.empty()) preprocessor_->add_define("__DIR__", files_.back().dir.c_str());
}

// Reads the next logical line of the top file into line_: physical lines
// joined while they end in a backslash. False at the end of the file.
bool ut_file_parser::read_raw_line(file_stack_elem &f) {
  if (!f.stream) return false;
  line_.erase(0, -1);
  int physical = 0;
  for (;;) {
    bool any = false, ended = false;
    int c;
    while ((c = getc(f.stream)) != EOF) {
      any = true;
      if (c == '\n') {
        ended = true;
        break;
      }
      if (c == '\r') {
        int d = getc(f.stream);
        if (d != '\n' && d != EOF) ungetc(d, f.stream);
        ended = true;
        break;
      }
      // A zero byte would end the line early for the C-string code below.
      line_.add_char(c ? static_cast<char>(c) : ' ');
    }
    if (!any) break;
    ++physical;
    if (line_.get_last_char() != '\\') break;
    line_.remove_last_char();
    if (!ended) break;
  }
  if (physical == 0) {
    fclose(f.stream);
    f.stream = nullptr;
    return false;
  }
  f.line += physical;
  return true;
}

// Moves to the next line that is input: directive lines are handed to the
// preprocessor, lines of false sections are skipped, included files are
// read where they are included. False at the end of the main file.
bool ut_file_parser::next_line() {
  sources_.clear();
  has_pending_ = false;
  while (!files_.empty()) {
    file_stack_elem &f = files_.back();
    int first = f.line + 1;
    if (!read_raw_line(f)) {
      if (files_.size() == 1) return false;
      pop_file();
      continue;
    }
    f.statement_line = first;
    if (line_.get_first_char() == '%') {
      handle_directive();
      continue;
    }
    if (preprocessor_->is_in_false()) continue;
    source_stack_elem line;
    line.text.assign(line_.c_str(), static_cast<size_t>(line_.length()));
    sources_.push_back(std::move(line));
    budget_ = kExpansionBudget;
    budget_reported_ = false;
    return true;
  }
  return false;
}

void ut_file_parser::handle_directive() {
  preprocessor_->process_line(line_.c_str());
  if (preprocessor_->is_in_false() || !preprocessor_->get_last_directive_was_include()) return;
  std::string name = preprocessor_->get_last_include_file_name();
  open_include(name.c_str());
}

void ut_file_parser::open_include(const char *name) {
  const file_stack_elem &cur = files_.back();
  char *full = gen_sconcat(cur.dir.c_str(), name);
  int depth = get_file_stack_depth();
  if (client_ && !client_->preprocess_file(full, depth)) {
    gen_free(full);
    return;
  }
  if (opened_files_.size() >= kMaxOpenedFiles) {
    gen_error("too many included files: not opening \"%s\" which was referenced at \"%s\":%d",
              full, cur.name.c_str(), cur.statement_line);
    gen_free(full);
    return;
  }
  FILE *stream = depth < kMaxIncludeDepth ? gen_fopen(full, "r") : nullptr;
  if (!stream) {
    gen_error("could not open \"%s\" which was referenced at \"%s\":%d", full, cur.name.c_str(),
              cur.statement_line);
  } else {
    push_file(full, stream);
  }
  gen_free(full);
}

const char *ut_file_parser::get_last_position() {
  const char *name = files_.empty() ? "" : files_.back().name.c_str();
  int line = files_.empty() ? 0 : files_.back().statement_line;
  last_position_.assign(1, '"');
  last_position_.append(name).append("\", line ").append(std::to_string(line));
  return last_position_.c_str();
}

void ut_file_parser::parse_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = vformat(format, args);
  va_end(args);
  std::string text = std::string(get_last_position()) + ": error: " + message;
  ++errors_;
  if (fatal_) {
    gen_errorexit(1, "%s", text.c_str());
  } else {
    gen_error("%s", text.c_str());
  }
}

void ut_file_parser::parse_warning(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = vformat(format, args);
  va_end(args);
  gen_warning("%s: warning: %s", get_last_position(), message.c_str());
}
