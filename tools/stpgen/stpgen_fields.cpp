// Field snippets. Every generated local starts with "stp_" (a prefix field
// names may not use), and every array loop sits in its own block, so
// snippets nest without name clashes.
#include "stpgen_fields.h"

namespace stpgen {
namespace {

std::string q(const std::string &s) { return "\"" + s + "\""; }

std::string elemType(const Interface &itf, const Type &e) {
  if (e.kind == Kind::Record) return recordType(itf, *e.record);
  if (e.kind == Kind::Str || e.kind == Kind::Fn) return "char *";
  return "int";
}

std::string ptrTo(const std::string &t) { return t.back() == '*' ? t + "*" : t + " *"; }

}  // namespace

std::string recordType(const Interface &itf, const Record &r) { return itf.name + "_" + r.name; }

std::string cppType(const Interface &itf, const Type &t, Use use) {
  switch (t.kind) {
    case Kind::Int:
      return "int";
    case Kind::Bool:
      return "bool";
    case Kind::Str:
    case Kind::Fn:
      return use == Use::Member ? "char *" : "const char *";
    case Kind::Record: {
      std::string r = recordType(itf, *t.record);
      return use == Use::Member ? r : use == Use::SendArg ? "const " + r + " &" : r + " &";
    }
    case Kind::Array: {
      std::string e = elemType(itf, *t.elem);
      if (use != Use::SendArg) return ptrTo(e);
      if (t.elem->kind == Kind::Str || t.elem->kind == Kind::Fn) return "char *const *";
      return "const " + e + " *";
    }
    case Kind::DArray:
      return use == Use::SendArg ? "const int *" : "int *";
    case Kind::List:
      return use == Use::Member ? "ut_string_list" : use == Use::SendArg ? "const ut_string_list &" : "ut_string_list &";
  }
  return "int";
}

std::string param(const std::string &type, const std::string &name) {
  char last = type.back();
  return (last == '*' || last == '&') ? type + name : type + " " + name;
}

const Field *findField(const std::vector<Field> &fields, const std::string &name) {
  for (const Field &f : fields)
    if (f.name == name) return &f;
  return nullptr;
}

std::string Emit::tag(const std::string &name) const { return itf.name + "_TAG_" + name; }

std::string Emit::mapped(const std::string &name) const { return tagMapFn + "(" + tagMap + ", " + tag(name) + ")"; }

std::string Emit::alloc(const Type &elem, const std::string &n) const {
  return "STPArray_new<" + elemType(itf, elem) + ">(" + n + ")";
}

// Each field is one call into the shared field codecs (stp_fields.h); this
// picks the call and its arguments: the field's name (ASCII) or tag
// (binary), its value, for arrays the length, for records the record's
// own helper.
std::string Emit::recordFn(const Type &t, const char *suffix) const {
  return recordType(itf, *t.record) + suffix;
}

void Emit::put(Code &c, const Field &f, const Ref &r) const {
  const Type &t = f.type;
  std::string key = itf.binary ? tag(f.name) : q(f.name);
  std::string head = msg + ", " + key + ", " + r.value;
  const char *rec = itf.binary ? "_put" : "_putascii";
  switch (t.kind) {
    case Kind::Fn:
      c.line("STPField_putFileName(" + head + ");");
      return;
    case Kind::Record:
      c.line("STPField_putRecord(" + head + ", " + recordFn(t, rec) + ");");
      return;
    case Kind::DArray:
      c.line("STPField_putArray(" + head + ", " + r.count + ");");
      return;
    case Kind::Array:
      if (itf.binary) {  // strings: the count again under tag 22, elements under 23
        c.line("STPField_putArray(" + msg + ", " + r.value + ", " + r.count + ");");
      } else if (t.elem->kind == Kind::Record) {
        c.line("STPField_putArray(" + head + ", " + r.count + ", " + recordFn(*t.elem, rec) + ");");
      } else {
        c.line("STPField_putArray(" + head + ", " + r.count + (t.elem->kind == Kind::Fn ? ", true" : "") + ");");
      }
      return;
    default:
      c.line("STPField_put(" + head + ");");
      return;
  }
}

void Emit::get(Code &c, const Field &f, const Ref &r) const {
  const Type &t = f.type;
  std::string key = itf.binary ? mapped(f.name) : q(f.name);
  std::string head = msg + ", " + key + ", " + r.value;
  switch (t.kind) {
    case Kind::Record:
      if (itf.binary)
        c.line("STPField_getRecord(" + head + ", " + tagMap + ", " + recordFn(t, "_get") + ");");
      else
        c.line("STPField_getRecord(" + head + ", " + recordFn(t, "_getascii") + ");");
      return;
    case Kind::DArray:
      c.line("STPField_getArray(" + head + ", " + r.count + ");");
      return;
    case Kind::Array:
      if (itf.binary)
        c.line("STPField_getArray(" + msg + ", " + r.value + ", " + r.count + ");");
      else if (t.elem->kind == Kind::Record)
        c.line("STPField_getArray(" + head + ", " + r.count + ", " + recordFn(*t.elem, "_getascii") + ");");
      else
        c.line("STPField_getArray(" + head + ", " + r.count + ");");
      return;
    default:
      c.line("STPField_get(" + head + ");");
      return;
  }
}

void Emit::print(Code &c, const Field &f, const Ref &r, const std::string &sep) const {
  const Type &t = f.type;
  std::string head = log + ", " + q(sep + f.name + ":") + ", " + r.value;
  switch (t.kind) {
    case Kind::Record:
      c.line("STPField_printRecord(" + head + ", " + recordFn(t, "_print") + ");");
      return;
    case Kind::Array:
      if (t.elem->kind == Kind::Record) {
        c.line("STPField_printArray(" + head + ", " + r.count + ", " + recordFn(*t.elem, "_print") + ");");
        return;
      }
      [[fallthrough]];
    case Kind::DArray:
      c.line("STPField_printArray(" + head + ", " + r.count + ");");
      return;
    default:
      c.line("STPField_print(" + head + ");");
      return;
  }
}

void Emit::free(Code &c, const Field &f, const Ref &r) const {
  const Type &t = f.type;
  const std::string &v = r.value;
  switch (t.kind) {
    case Kind::Str:
    case Kind::Fn:
      c.line("STPField_free(" + v + ");");
      return;
    case Kind::Record:
      c.line(recordFn(t, "_free") + "(&" + v + ");");
      return;
    case Kind::DArray:
      c.line("STPArray_free(" + v + ", " + r.count + ");");
      return;
    case Kind::Array: {
      Kind ek = t.elem->kind;
      std::string elemFree = ek == Kind::Record ? ", " + recordFn(*t.elem, "_free")
                             : ek == Kind::Int  ? ""
                                                : ", STPField_freeString";
      c.line("STPArray_free(" + v + ", " + r.count + elemFree + ");");
      return;
    }
    case Kind::List:
      c.line(v + ".clear();");
      return;
    default:
      return;
  }
}

void Emit::init(Code &c, const Field &f, const Ref &r) const {
  const std::string &v = r.value;
  switch (f.type.kind) {
    case Kind::Int:
      c.line(v + " = 0;");
      return;
    case Kind::Bool:
      c.line(v + " = false;");
      return;
    case Kind::Record:
      c.line(recordType(itf, *f.type.record) + "_init(&" + v + ");");
      return;
    case Kind::List:
      c.line(v + ".clear();");
      return;
    default:
      c.line(v + " = nullptr;");
      return;
  }
}

}  // namespace stpgen
