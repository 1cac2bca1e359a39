// Emits <itf>_parsing.h/.cpp: the tag list of binary interfaces, the record
// types with their helpers, and the message tables of both roles.
#include <cstdio>

#include "stpgen_emit_internal.h"

namespace stpgen {
namespace {

Ref recordRef(const Field &f) {
  return Ref{"rec->" + f.name, f.type.countField.empty() ? "" : "rec->" + f.type.countField};
}

std::string memberInit(const Type &t) {
  switch (t.kind) {
    case Kind::Int:
      return " = 0";
    case Kind::Bool:
      return " = false";
    case Kind::Record:
    case Kind::List:
      return "";
    default:
      return " = nullptr";
  }
}

// The signatures of a record's put and get helpers, whose message parameter
// is named `msg`: _put/_get on binary messages (with the tag map), else
// _putascii/_getascii. Declarations and definitions both use these.
struct RecordCodec {
  std::string put;
  std::string get;
};

RecordCodec recordCodec(const Interface &itf, const std::string &t, const std::string &msg) {
  if (itf.binary)
    return {"void " + t + "_put(const " + t + " *rec, STPBinaryOMsg *" + msg + ")",
            "void " + t + "_get(" + t + " *rec, STPBinaryIMsg *" + msg + ", const int *tagMap)"};
  return {"void " + t + "_putascii(const " + t + " *rec, STPAsciiOMsg *" + msg + ")",
          "void " + t + "_getascii(" + t + " *rec, STPAsciiIMsg *" + msg + ")"};
}

void emitRecordType(Code &h, const Interface &itf, const Record &r) {
  std::string t = recordType(itf, r);
  h.line("// Record " + r.name + ": \"" + r.spec + "\". Strings and arrays are heap memory");
  h.line("// owned by the record and released by " + t + "_free.");
  h.open("struct " + t + " {");
  for (const Field &f : r.fields) h.line(param(cppType(itf, f.type, Use::Member), f.name) + memberInit(f.type) + ";");
  h.close("};");
  if (!r.alias.empty()) h.line("using " + r.alias + " = " + t + ";");
  h.line("// Sets every field to 0, false or null without freeing anything.");
  h.line("void " + t + "_init(" + t + " *rec);");
  h.line("// Frees strings (free), arrays (STPArray_free) and nested records;");
  h.line("// leaves null pointers. The only way to release a record's data.");
  h.line("void " + t + "_free(" + t + " *rec);");
  h.line("// Writes the protocol-log form \"{name:value ...}\" to `log`.");
  h.line("void " + t + "_print(const " + t + " *rec, STPLog *log);");
  if (itf.binary) {
    h.line("// Writes / reads the fields inside an enclosing record field; `tagMap`");
    h.line("// translates own tag numbers to the peer's (null: identity).");
  } else {
    h.line("// Writes / reads the fields inside an enclosing record; the caller opens");
    h.line("// and closes the record. Read values are heap memory owned by `rec`.");
  }
  RecordCodec codec = recordCodec(itf, t, "msg");
  h.line(codec.put + ";");
  h.line(codec.get + ";");
  h.blank();
}

void emitRecordHelpers(Code &c, const Interface &itf, const Record &r) {
  std::string t = recordType(itf, r);
  Emit e{itf};
  e.msg = "msg";
  c.line("void " + t + "_init(" + t + " *rec) { *rec = " + t + "(); }");
  c.blank();
  c.open("void " + t + "_free(" + t + " *rec) {");
  c.line("if (!rec) return;");
  for (const Field &f : r.fields) e.free(c, f, recordRef(f));
  c.close();
  c.blank();
  c.open("void " + t + "_print(const " + t + " *rec, STPLog *stp_log) {");
  c.line("if (!rec || !stp_log) return;");
  c.line("STPField_printText(stp_log, \"{\");");
  for (size_t i = 0; i < r.fields.size(); ++i) e.print(c, r.fields[i], recordRef(r.fields[i]), i ? " " : "");
  c.line("STPField_printText(stp_log, \"}\");");
  c.close();
  c.blank();
  RecordCodec codec = recordCodec(itf, t, e.msg);
  c.open(codec.put + " {");
  for (const Field &f : r.fields) e.put(c, f, recordRef(f));
  c.close();
  c.blank();
  c.open(codec.get + " {");
  for (const Field &f : r.fields) e.get(c, f, recordRef(f));
  c.close();
  c.blank();
}

void emitTable(Code &c, const Interface &itf, const Role &role) {
  std::string name = tableName(itf, role);
  auto rows = sortedMessages(role);
  c.line("// Sorted by name; a message's id is its row.");
  if (rows.empty()) {
    c.line("const STPMessageDesc " + name + "[] = {{\"\", \"\", -1, 0}};");
    c.line("const int " + name + "_count = 0;");
    c.blank();
    return;
  }
  c.open("const STPMessageDesc " + name + "[] = {");
  for (size_t i = 0; i < rows.size(); ++i) {
    c.line("{" + cString(rows[i]->name) + ", " + cString(rows[i]->spec) + ", " + std::to_string(i) + ", " +
           std::to_string(rows[i]->flags) + "},");
  }
  c.close("};");
  c.line("const int " + name + "_count = " + std::to_string(rows.size()) + ";");
  c.blank();
}

}  // namespace

std::string tableName(const Interface &itf, const Role &role) { return itf.name + "_" + role.name + "_msgs"; }

std::string cString(const std::string &s) {
  std::string out = "\"";
  for (char ch : s) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  return out + "\"";
}

void emitSupportHelpers(Code &c, const Interface &itf) {
  if (!itf.binary) return;
  c.line("namespace {");
  c.blank();
  c.line("// The peer's number of own tag `tag` (-1: the peer does not know it).");
  c.open("[[maybe_unused]] int stp_mapTag(const int *map, int tag) {");
  c.line("return map ? map[tag] : tag;");
  c.close();
  c.blank();
  c.line("}  // namespace");
  c.blank();
}

std::string emitParsingHeader(const Interface &itf) {
  Code h;
  h.raw(banner(itf, "Record types, message tables and tag names of the " + itf.name + " interface."));
  h.line("#pragma once");
  h.blank();
  h.line("#include \"shared/stp_transport/stp_fields.h\"");
  h.line("#include \"shared/stp_transport/stp_specclass.h\"");
  h.blank();
  h.line("class STPLog;");
  h.blank();
  if (itf.binary) {
    h.line("// Field tag numbers: the index of each field name in the sorted list.");
    h.open("enum " + itf.name + "_Tag {");
    for (size_t i = 0; i < itf.tagNames.size(); ++i)
      h.line(itf.name + "_TAG_" + itf.tagNames[i] + " = " + std::to_string(i) + ",");
    h.close("};");
    h.line("extern const char *const " + itf.name + "_tagNames[];");
    h.line("extern const int " + itf.name + "_tagCount;");
    h.blank();
  }
  for (auto &r : itf.records) emitRecordType(h, itf, *r);
  for (const Role &role : itf.roles) {
    h.line("// Messages role \"" + role.name + "\" receives.");
    h.line("extern const STPMessageDesc " + tableName(itf, role) + "[];");
    h.line("extern const int " + tableName(itf, role) + "_count;");
  }
  return h.text();
}

std::string emitParsingSource(const Interface &itf) {
  Code c;
  c.raw(banner(itf, "Record helpers, message tables and tag names of the " + itf.name + " interface."));
  c.line("#include \"" + fileStem(itf) + "_parsing.h\"");
  c.blank();
  emitSupportHelpers(c, itf);
  if (itf.binary) {
    c.open("const char *const " + itf.name + "_tagNames[] = {");
    for (auto &t : itf.tagNames) c.line(cString(t) + ",");
    c.close("};");
    c.line("const int " + itf.name + "_tagCount = " + std::to_string(itf.tagNames.size()) + ";");
    c.blank();
  }
  for (const Role &role : itf.roles) emitTable(c, itf, role);
  for (auto &r : itf.records) emitRecordHelpers(c, itf, *r);
  return c.text();
}

}  // namespace stpgen
