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

// A file name goes out expanded: `putCall` is the put statement up to its
// value argument; the expanded copy is passed there and freed.
void putFileName(Code &c, const std::string &v, const std::string &putCall) {
  c.open("{");
  c.line("char *stp_fn = stp_expandFileName(" + v + ");");
  c.line(putCall + "stp_fn);");
  c.line("free(stp_fn);");
  c.close();
}

// The number of elements a counted array sends: none for a null array or a
// count below 1.
std::string sentCount(const Ref &r) {
  return "(" + r.value + " && " + r.count + " > 0) ? " + r.count + " : 0";
}

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
  if (elem.kind == Kind::Record) return "new (std::nothrow) " + recordType(itf, *elem.record) + "[" + n + "]()";
  std::string e = elemType(itf, elem);
  return "static_cast<" + ptrTo(e) + ">(calloc(" + n + ", sizeof(" + e + ")))";
}

void Emit::putAsciiValue(Code &c, const Type &t, const std::string &v, const std::string &name) const {
  // The put call up to its value argument: named for a field, plain for an
  // array element.
  auto call = [&](const std::string &fn) { return msg + "->" + fn + "(" + (name.empty() ? "" : q(name) + ", "); };
  switch (t.kind) {
    case Kind::Record:
      c.line(msg + "->putStartStruct(" + (name.empty() ? "" : q(name)) + ");");
      c.line(recordType(itf, *t.record) + "_putascii(&" + v + ", " + msg + ");");
      c.line(msg + "->putEndStruct();");
      break;
    case Kind::Fn:
      putFileName(c, v, call("putString"));
      break;
    case Kind::Str:
      c.line(call("putString") + v + ");");
      break;
    default:
      c.line(call("putNumber") + v + ");");
      break;
  }
}

void Emit::put(Code &c, const Field &f, const Ref &r) const {
  const Type &t = f.type;
  const std::string &v = r.value;
  if (itf.binary) {
    switch (t.kind) {
      case Kind::Int:
        c.line(msg + "->put4(" + tag(f.name) + ", " + v + ");");
        return;
      case Kind::Bool:
        c.line(msg + "->put1(" + tag(f.name) + ", " + v + " ? 1 : 0);");
        return;
      case Kind::Str:
        c.line(msg + "->putS(" + tag(f.name) + ", " + v + ");");
        return;
      case Kind::Fn:
        putFileName(c, v, msg + "->putS(" + tag(f.name) + ", ");
        return;
      case Kind::Record:
        c.open("{");
        c.line("STPBinaryOMsgParamState stp_st;");
        c.line(msg + "->putStartStruct(stp_st, " + tag(f.name) + ");");
        c.line(recordType(itf, *t.record) + "_put(&" + v + ", " + msg + ");");
        c.line(msg + "->putEndStruct(stp_st);");
        c.close();
        return;
      case Kind::DArray:
        c.line(msg + "->putDArray(" + tag(f.name) + ", " + v + ", " + sentCount(r) + ", 4);");
        return;
      case Kind::Array:  // strings: the count again under tag 22, elements under 23
        c.open("{");
        c.line("int stp_n = " + sentCount(r) + ";");
        c.line(msg + "->put4(22, stp_n);");
        c.line("for (int stp_i = 0; stp_i < stp_n; ++stp_i) " + msg + "->putS(23, " + v + "[stp_i]);");
        c.close();
        return;
      case Kind::List:
        return;  // refused by the reader for binary interfaces
    }
  }
  switch (t.kind) {
    case Kind::Int:
    case Kind::Str:
    case Kind::Fn:
    case Kind::Record:
      putAsciiValue(c, t, v, f.name);
      return;
    case Kind::Bool:
      c.line(msg + "->putNumber(" + q(f.name) + ", " + v + " ? 1 : 0);");
      return;
    case Kind::Array:
      c.open("{");
      c.line("int stp_n = " + sentCount(r) + ";");
      c.line(msg + "->putStartArray(" + q(f.name) + ", stp_n);");
      c.open("for (int stp_i = 0; stp_i < stp_n; ++stp_i) {");
      putAsciiValue(c, *t.elem, v + "[stp_i]", "");
      c.close();
      c.line(msg + "->putEndArray();");
      c.close();
      return;
    case Kind::List:
      c.line(msg + "->putStartArray(" + q(f.name) + ", " + v + ".size());");
      c.line("for (ut_string_list_iterator stp_it = " + v + ".begin(); !stp_it.is_end(); ++stp_it) " + msg +
             "->putString(stp_it->c_str());");
      c.line(msg + "->putEndArray();");
      return;
    case Kind::DArray:
      return;  // refused by the reader for ASCII interfaces
  }
}

void Emit::allocReceived(Code &c, const Type &elem, const std::string &v) const {
  c.line(v + " = stp_n > 0 ? " + alloc(elem, "stp_n") + " : nullptr;");
  c.line("if (!" + v + ") stp_n = 0;");
}

void Emit::getAsciiElem(Code &c, const Type &t, const std::string &v) const {
  switch (t.kind) {
    case Kind::Record: {
      std::string rt = recordType(itf, *t.record);
      c.line("STPAsciiIMsgParamState stp_es;");
      c.line(rt + "_init(&" + v + ");");
      c.line(msg + "->getStartStruct(stp_es);");
      c.line(rt + "_getascii(&" + v + ", " + msg + ");");
      c.line(msg + "->getEndStruct(stp_es);");
      break;
    }
    case Kind::Str:
    case Kind::Fn:
      c.line(v + " = " + msg + "->getString();");
      break;
    default:
      c.line(v + " = static_cast<int>(" + msg + "->getNumber());");
      break;
  }
}

void Emit::get(Code &c, const Field &f, const Ref &r) const {
  const Type &t = f.type;
  const std::string &v = r.value;
  if (itf.binary) {
    switch (t.kind) {
      case Kind::Int:
        c.line(v + " = " + msg + "->get4(" + mapped(f.name) + ");");
        return;
      case Kind::Bool:
        c.line(v + " = " + msg + "->get1(" + mapped(f.name) + ") != 0;");
        return;
      case Kind::Str:
      case Kind::Fn:
        c.line(v + " = " + msg + "->getS(" + mapped(f.name) + ");");
        return;
      case Kind::Record:
        c.open("{");
        c.line("STPBinaryIMsgParamState stp_st;");
        c.line(msg + "->getStartStruct(stp_st, " + mapped(f.name) + ");");
        c.line(recordType(itf, *t.record) + "_get(&" + v + ", " + msg + ", " + tagMap + ");");
        c.line(msg + "->getEndStruct(stp_st);");
        c.close();
        return;
      case Kind::DArray:
        c.open("{");
        c.line("int stp_n = 0;");
        c.line(v + " = static_cast<int *>(" + msg + "->getDArray(" + mapped(f.name) + ", &stp_n, 4));");
        c.line(r.count + " = " + v + " ? stp_n : 0;");
        c.close();
        return;
      case Kind::Array:
        // Each element takes at least 8 bytes: a larger count is a lie.
        c.open("{");
        c.line("int stp_n = " + msg + "->get4(22);");
        c.line("if (stp_n < 0 || stp_n > " + msg + "->getMsg()->bodyLength / 8) stp_n = 0;");
        allocReceived(c, *t.elem, v);
        c.line("for (int stp_i = 0; stp_i < stp_n; ++stp_i) " + v + "[stp_i] = " + msg + "->getS(23);");
        c.line(r.count + " = stp_n;");
        c.close();
        return;
      case Kind::List:
        return;
    }
  }
  switch (t.kind) {
    case Kind::Int:
      c.line(v + " = static_cast<int>(" + msg + "->getNumber(" + q(f.name) + "));");
      return;
    case Kind::Bool:
      c.line(v + " = " + msg + "->getNumber(" + q(f.name) + ") != 0;");
      return;
    case Kind::Str:
    case Kind::Fn:
      c.line(v + " = " + msg + "->getString(" + q(f.name) + ");");
      return;
    case Kind::Record:
      c.open("{");
      c.line("STPAsciiIMsgParamState stp_st;");
      c.line(msg + "->getStartStruct(stp_st, " + q(f.name) + ");");
      c.line(recordType(itf, *t.record) + "_getascii(&" + v + ", " + msg + ");");
      c.line(msg + "->getEndStruct(stp_st);");
      c.close();
      return;
    case Kind::Array:
      // The count that arrives with the array governs what is allocated.
      c.open("{");
      c.line("STPAsciiIMsgParamState stp_st;");
      c.line("int stp_n = " + msg + "->getStartArray(stp_st, " + q(f.name) + ");");
      allocReceived(c, *t.elem, v);
      c.open("for (int stp_i = 0; stp_i < stp_n; ++stp_i) {");
      getAsciiElem(c, *t.elem, v + "[stp_i]");
      c.close();
      c.line(r.count + " = stp_n;");
      c.line(msg + "->getEndArray(stp_st);");
      c.close();
      return;
    case Kind::List:
      c.open("{");
      c.line("STPAsciiIMsgParamState stp_st;");
      c.line("int stp_n = " + msg + "->getStartArray(stp_st, " + q(f.name) + ");");
      c.open("for (int stp_i = 0; stp_i < stp_n; ++stp_i) {");
      c.line("char *stp_s = " + msg + "->getString();");
      c.line(v + ".push_back(stp_s);");
      c.line("free(stp_s);");
      c.close();
      c.line(msg + "->getEndArray(stp_st);");
      c.close();
      return;
    case Kind::DArray:
      return;
  }
}

void Emit::printValue(Code &c, const Type &t, const Ref &r) const {
  const std::string &v = r.value;
  switch (t.kind) {
    case Kind::Int:
    case Kind::Bool:
      c.line(log + "->addf(\"0x%x\", static_cast<unsigned>(" + v + "));");
      return;
    case Kind::Str:
    case Kind::Fn:
      c.line(log + "->addf(\"\\\"%s\\\"\", " + v + " ? " + v + " : \"\");");
      return;
    case Kind::Record:
      c.line(recordType(itf, *t.record) + "_print(&" + v + ", " + log + ");");
      return;
    case Kind::Array:
    case Kind::DArray: {
      c.open("{");
      c.line("int stp_n = " + sentCount(r) + ";");
      c.open("for (int stp_i = 0; stp_i < stp_n; ++stp_i) {");
      Type elem;
      if (t.kind == Kind::Array) elem = *t.elem;
      printValue(c, elem, Ref{v + "[stp_i]", ""});
      c.line(log + "->add(\", \");");
      c.close();
      c.close();
      return;
    }
    case Kind::List:
      c.line("for (ut_string_list_iterator stp_it = " + v + ".begin(); !stp_it.is_end(); ++stp_it) " + log +
             "->addf(\"\\\"%s\\\", \", stp_it->c_str());");
      return;
  }
}

void Emit::print(Code &c, const Field &f, const Ref &r) const {
  c.line(log + "->add(\"" + f.name + ":\");");
  printValue(c, f.type, r);
}

void Emit::free(Code &c, const Field &f, const Ref &r) const {
  const Type &t = f.type;
  const std::string &v = r.value;
  switch (t.kind) {
    case Kind::Str:
    case Kind::Fn:
    case Kind::DArray:
      c.line("free(" + v + ");");
      c.line(v + " = nullptr;");
      return;
    case Kind::Record:
      c.line(recordType(itf, *t.record) + "_free(&" + v + ");");
      return;
    case Kind::Array: {
      Kind ek = t.elem->kind;
      if (ek == Kind::Int) {
        c.line("free(" + v + ");");
      } else {
        c.open("if (" + v + ") {");
        if (ek == Kind::Record) {
          c.line("for (int stp_i = 0; stp_i < " + r.count + "; ++stp_i) " + recordType(itf, *t.elem->record) + "_free(&" +
                 v + "[stp_i]);");
          c.line("delete[] " + v + ";");
        } else {
          c.line("for (int stp_i = 0; stp_i < " + r.count + "; ++stp_i) free(" + v + "[stp_i]);");
          c.line("free(" + v + ");");
        }
        c.close();
      }
      c.line(v + " = nullptr;");
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
