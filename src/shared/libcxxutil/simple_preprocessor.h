// simple_preprocessor: the line preprocessor of the file parser. It handles
// the directive lines (those starting with the directive character, "%"):
// conditional sections (if, ifdef, elif/elsif/elseif, else, endif),
// definitions (define, undef), messages (info/echo, warning, error) and
// include, whose file the parser then opens. It answers macro lookups for
// the parser and names and calls for the integer evaluator.
//
// Macro lookup order: the preprocessor's own definitions, then the external
// map (an options database's), then the client's environment. The external
// map and the client interface are not owned. One thread.
#pragma once

#include <string>
#include <vector>

#include "shared/libcxxutil/simple_integer_evaluator.h"
#include "shared/libcxxutil/ut_client_interface.h"
#include "shared/libcxxutil/ut_macro_map.h"

class ut_simple_preprocessor_interface : public ut_simple_integer_evaluator_client_interface {
 public:
  // Called with the resolved arguments of every streq call: the first
  // argument's macro value (null when it is not defined) and each later
  // argument's macro value or literal text.
  using streq_interceptor_fn = void (*)(void *context, int argc, const char *const *resolved);

  // A new simple_preprocessor (caller deletes). `macros` and `client` may be
  // null; neither is owned.
  static ut_simple_preprocessor_interface *construct(char directive_char, ut_macro_map *macros,
                                                     ut_client_interface *client);

  // Handles one directive line (starting with the directive character);
  // false when the line was illegal or misplaced (already reported).
  virtual bool process_line(const char *line) = 0;
  // Whether lines are being skipped (the innermost scope is not active).
  virtual bool is_in_false() const = 0;
  // Whether a following elif or else of the innermost scope would be skipped
  // whatever its condition: a branch was already taken or the enclosing
  // scope is not active. False outside any scope.
  virtual bool elif_is_in_false() const = 0;
  // Whether the last processed line was an include to carry out, and its
  // file name after substitution (owned by the preprocessor).
  virtual bool get_last_directive_was_include() const = 0;
  virtual const char *get_last_include_file_name() const = 0;
  // The preprocessor's own definitions (a null value defines the name with
  // an empty value).
  virtual void add_define(const char *name, const char *value) = 0;
  virtual void remove_define(const char *name) = 0;
  // The macro's value, owned by whoever holds it (valid until the next
  // change to the definitions or the next environment lookup), "" for a
  // macro defined without a value, or null. A missing required macro is
  // reported as "macro not defined(%s) ...".
  virtual const char *get_define_value(const char *name, bool required) = 0;
  // Whether the name is defined anywhere along the lookup order.
  virtual bool is_defined(const char *name) = 0;

  // Installs (or, with a null function, removes) the process-wide streq hook.
  static void set_streq_interceptor(void *context, streq_interceptor_fn fn);

 protected:
  static void *streq_context_;
  static streq_interceptor_fn streq_interceptor_;
};

// One level of if ... endif.
struct ifendif_scope {
  bool condition = false;  // this branch's condition
  bool active = false;     // condition and the enclosing scope active
  bool taken = false;      // some branch of the chain was true
  bool else_seen = false;
};

class simple_preprocessor : public ut_simple_preprocessor_interface {
 public:
  simple_preprocessor(char directive_char, ut_macro_map *macros, ut_client_interface *client);

  bool process_line(const char *line) override;
  bool is_in_false() const override;
  bool elif_is_in_false() const override;
  bool get_last_directive_was_include() const override { return last_was_include_; }
  const char *get_last_include_file_name() const override { return include_name_.c_str(); }
  void add_define(const char *name, const char *value) override;
  void remove_define(const char *name) override;
  const char *get_define_value(const char *name, bool required) override;
  bool is_defined(const char *name) override;
  int val_from_name(const char *name, bool skipping) override;
  int val_from_fcn(const char *name, int argc, const char *const *argv, bool skipping) override;

  // Replaces "${__KORVO_DIR__}", "${_KORVO_DIR}" and a bare "_KORVO_DIR" by
  // the value of "_KORVO_DIR" (or the program's directory), and
  // "${__DIR__}" by the current file's directory (or the working directory).
  std::string substitute_dirs(const std::string &name);
  int get_scope_depth() const { return static_cast<int>(scopes_.size()); }

 private:
  bool enclosing_active() const;
  void open_scope(bool condition);
  bool do_elif(const char *directive, const std::string &arg);
  bool do_else();
  bool do_endif();
  bool do_define(const std::string &arg);
  bool do_include(const char *line, const std::string &arg);
  bool illegal(const char *line);
  int streq(int argc, const char *const *argv);
  int evaluate_value(const char *name, const char *value, bool skipping);

  char directive_char_;
  bool last_was_include_ = false;
  std::string include_name_;
  std::vector<ifendif_scope> scopes_;
  simple_integer_evaluator evaluator_;
  ut_macro_map defines_;
  ut_macro_map *macros_;
  ut_client_interface *client_;
  std::vector<std::string> evaluating_;  // names whose values are being evaluated
};
