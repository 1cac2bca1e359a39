// Spec-string parser: a small recursive-descent reader over the text with a
// cursor. Blanks separate fields and may surround punctuation.
#include "stpgen_spec.h"

#include <cctype>

namespace stpgen {
namespace {

struct Cursor {
  explicit Cursor(const std::string &text) : s(text) {}
  const std::string &s;
  size_t pos = 0;
  std::string error;

  void skipBlanks() {
    while (pos < s.size() && s[pos] == ' ') ++pos;
  }
  bool atEnd() {
    skipBlanks();
    return pos >= s.size();
  }
  bool take(const char *lit) {
    skipBlanks();
    size_t n = std::string(lit).size();
    if (s.compare(pos, n, lit) != 0) return false;
    pos += n;
    return true;
  }
  bool fail(const std::string &what) {
    if (error.empty()) error = what + " at offset " + std::to_string(pos);
    return false;
  }
  bool name(std::string &out) {
    skipBlanks();
    size_t start = pos;
    if (pos < s.size() && (std::isalpha((unsigned char)s[pos]) || s[pos] == '_')) {
      ++pos;
      while (pos < s.size() && (std::isalnum((unsigned char)s[pos]) || s[pos] == '_')) ++pos;
    }
    out = s.substr(start, pos - start);
    return !out.empty();
  }
};

bool parseFields(Cursor &c, std::vector<Field> &out, bool inRecord);

bool parseType(Cursor &c, Type &t) {
  struct Scalar {
    const char *lit;
    Kind kind;
    bool u1;
  };
  static const Scalar scalars[] = {{"%num%", Kind::Int, false}, {"%u4%", Kind::Int, false},
                                   {"%u1%", Kind::Bool, true},  {"%str%", Kind::Str, false},
                                   {"%fn%", Kind::Fn, false}};
  for (const Scalar &sc : scalars) {
    if (c.take(sc.lit)) {
      t.kind = sc.kind;
      t.wireU1 = sc.u1;
      t.wire = sc.lit;
      return true;
    }
  }
  if (c.take("{")) {
    t.kind = Kind::Record;
    if (!parseFields(c, t.fields, true)) return false;
    return c.take("}") || c.fail("expected '}'");
  }
  if (c.take("%dar%(")) {
    t.kind = Kind::DArray;
    if (!c.name(t.countField)) return c.fail("expected the length field of %dar%");
    if (!c.take(",") || !c.take("%u4%") || !c.take(")"))
      return c.fail("expected ', %u4%)' after the length field of %dar%");
    return true;
  }
  bool counted = false;
  if (c.take("*(")) {
    counted = true;
    if (!c.name(t.countField)) return c.fail("expected the length field of the array");
    if (!c.take(")")) return c.fail("expected ')' after the length field");
  }
  if (c.take("[")) {
    t.kind = counted ? Kind::Array : Kind::List;
    t.elem = std::make_shared<Type>();
    if (!parseType(c, *t.elem)) return false;
    return c.take("]") || c.fail("expected ']' after the element type");
  }
  return c.fail(counted ? "expected '[' after the array length" : "unknown field type");
}

bool parseFields(Cursor &c, std::vector<Field> &out, bool inRecord) {
  for (;;) {
    c.skipBlanks();
    if (c.pos >= c.s.size()) return true;
    char ch = c.s[c.pos];
    if (ch == '|' || (inRecord && ch == '}')) return true;
    Field f;
    if (!c.name(f.name)) return c.fail("expected a field name");
    if (c.pos >= c.s.size() || c.s[c.pos] != ':') return c.fail("expected ':' after field name '" + f.name + "'");
    ++c.pos;
    if (!parseType(c, f.type)) return false;
    out.push_back(std::move(f));
  }
}

bool sameType(const Type &a, const Type &b) {
  auto wireClass = [](const Type &t) {
    if (t.kind == Kind::Bool && !t.wireU1) return Kind::Int;  // a marked %num%
    return t.kind;
  };
  if (wireClass(a) != wireClass(b) || a.wire != b.wire || a.countField != b.countField) return false;
  if (a.kind == Kind::Record) return sameLayout(recordFields(a), recordFields(b));
  if (a.elem || b.elem) return a.elem && b.elem && sameType(*a.elem, *b.elem);
  return true;
}

}  // namespace

const std::vector<Field> &recordFields(const Type &t) {
  return t.record ? t.record->fields : t.fields;
}

bool sameLayout(const std::vector<Field> &a, const std::vector<Field> &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || !sameType(a[i].type, b[i].type)) return false;
  }
  return true;
}

bool parseSpec(const std::string &spec, ParsedSpec &out, std::string &error) {
  Cursor c(spec);
  if (!parseFields(c, out.request, false)) {
    error = c.error;
    return false;
  }
  if (c.take("|")) {
    out.hasBar = true;
    if (!parseFields(c, out.reply, false)) {
      error = c.error;
      return false;
    }
  }
  if (!c.atEnd()) {
    c.fail(c.s[c.pos] == '|' ? "second '|'" : "unexpected '" + std::string(1, c.s[c.pos]) + "'");
    error = c.error;
    return false;
  }
  return true;
}

bool parseRecordSpec(const std::string &spec, std::vector<Field> &out, std::string &error) {
  Cursor c(spec);
  Type t;
  if (!c.take("{") ) {
    error = "a record spec starts with '{'";
    return false;
  }
  c.pos = 0;
  if (!parseType(c, t) || !c.atEnd()) {
    c.fail("unexpected text after the record");
    error = c.error;
    return false;
  }
  out = std::move(t.fields);
  return true;
}

}  // namespace stpgen
