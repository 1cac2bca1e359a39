// Code snippets for one field of each kind: its C++ types and the statements
// that write, read, print, free and initialise it, in the ASCII or the binary
// encoding. Record and message emitters build on these, so every field kind
// is encoded the same way wherever it appears.
#pragma once

#include <string>
#include <vector>

#include "stpgen_model.h"

namespace stpgen {

// Text with indentation, one statement per line.
class Code {
 public:
  void line(const std::string &s) { text_ += std::string(indent_ * 2, ' ') + s + "\n"; }
  void blank() { text_ += "\n"; }
  void open(const std::string &s) {
    line(s);
    ++indent_;
  }
  void close(const std::string &s = "}") {
    --indent_;
    line(s);
  }
  void raw(const std::string &s) { text_ += s; }
  const std::string &text() const { return text_; }

 private:
  std::string text_;
  int indent_ = 0;
};

// Where a field value is used; decides its C++ type.
enum class Use {
  Member,   // record member and dispatcher local: owns its memory
  SendArg,  // request argument of a sender: const views
  Handler,  // request argument of a handler: views owned by the dispatcher
};

// The C++ type of a record declaration: <Interface>_<Record>.
std::string recordType(const Interface &itf, const Record &r);
// The C++ type of a field value for `use`.
std::string cppType(const Interface &itf, const Type &t, Use use);
// A parameter declaration "type name" (references and pointers bind right).
std::string param(const std::string &type, const std::string &name);

// The expressions of one field: its value (an lvalue) and, for counted
// arrays, the lvalue of its length field in the same scope.
struct Ref {
  std::string value;
  std::string count;
};

// Statement emitters, one call into the shared field codecs per field.
// `msg` and `log` are the names of the message and log variables;
// `mapTag(tagConstant)` gives the expression of the peer's tag number in
// binary reads and `tagMap` the name of the tag map passed on to nested
// records.
struct Emit {
  const Interface &itf;
  std::string msg = "stp_msg";
  std::string log = "stp_log";
  std::string tagMapFn = "stp_mapTag";  // function (const int *map, int tag)
  std::string tagMap = "tagMap";

  void put(Code &c, const Field &f, const Ref &r) const;
  void get(Code &c, const Field &f, const Ref &r) const;
  // `sep`, "name:" and the value.
  void print(Code &c, const Field &f, const Ref &r, const std::string &sep = "") const;
  // Frees and nulls what the field owns.
  void free(Code &c, const Field &f, const Ref &r) const;
  void init(Code &c, const Field &f, const Ref &r) const;

  std::string tag(const std::string &name) const;
  std::string mapped(const std::string &name) const;
  // An expression allocating n zeroed elements the way `free` releases them.
  std::string alloc(const Type &elem, const std::string &n) const;

 private:
  // <Interface>_<Record><suffix>: a helper of the record type of `t`.
  std::string recordFn(const Type &t, const char *suffix) const;
};

// The field whose name is `name` in `fields`; null when absent.
const Field *findField(const std::vector<Field> &fields, const std::string &name);

}  // namespace stpgen
