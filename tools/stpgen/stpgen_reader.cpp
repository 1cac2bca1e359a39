// Interface-file reader. First pass: split the file into statements and
// collect declarations with their line numbers. Second pass: parse each
// spec string and validate, so that a problem is reported at the line of the
// statement that caused it.
#include "stpgen_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "stpgen_spec.h"

namespace stpgen {
namespace {

// Attribute lines that follow a record or message declaration.
struct Attrs {
  std::vector<std::pair<std::string, int>> bools;                     // field, line
  std::vector<std::tuple<std::string, std::string, int>> uses;        // field, record, line
};

struct PendingRecord {
  Record *rec;
  Attrs attrs;
};

struct PendingMessage {
  int role;
  Message msg;
  Attrs attrs;
};

bool isIdent(const std::string &s) {
  if (s.empty() || !(std::isalpha((unsigned char)s[0]) || s[0] == '_')) return false;
  return std::all_of(s.begin(), s.end(), [](char c) { return std::isalnum((unsigned char)c) || c == '_'; });
}

// Names a field may not take: C++ keywords a spec could plausibly use, and
// the prefix reserved for the generated code's own locals and parameters.
bool reservedName(const std::string &s) {
  static const std::set<std::string> kw = {
      "auto", "bool", "break", "case", "char", "class", "const", "continue", "default", "delete",
      "do", "double", "else", "enum", "explicit", "export", "extern", "false", "float", "for",
      "friend", "goto", "if", "inline", "int", "long", "namespace", "new", "operator", "private",
      "protected", "public", "register", "return", "short", "signed", "sizeof", "static",
      "struct", "switch", "template", "this", "throw", "true", "try", "typedef", "typename",
      "union", "unsigned", "using", "virtual", "void", "volatile", "while"};
  return kw.count(s) > 0 || s.rfind("stp_", 0) == 0;
}

class Reader {
 public:
  Reader(const std::string &path, Interface &out, std::vector<std::string> &errors)
      : path_(path), itf_(out), errors_(errors) {}

  bool run(const std::string &text);

 private:
  void error(int line, const std::string &what) {
    errors_.push_back(path_ + ":" + std::to_string(line) + ": " + what);
  }
  bool tokenize(const std::string &line, int lineNo, std::vector<std::string> &words, std::string &quoted,
                bool &hasQuoted);
  void statement(int line, const std::vector<std::string> &w, const std::string &quoted, bool hasQuoted);
  void finishHeader(int lastLine);
  void finishRecord(PendingRecord &p);
  void finishMessage(PendingMessage &p);
  void checkFields(std::vector<Field> &fields, const std::string &where, int line);
  void checkType(Type &t, const std::string &field, const std::string &where, int line, bool inArray);
  void bindRecords(std::vector<Field> &fields, const Attrs &attrs, const std::string &where, int line);
  bool bindOne(Type &t, const std::string &field, const std::string *useName, const std::string &where,
               int line);
  void checkUses(const std::vector<const std::vector<Field> *> &levels, const Attrs &attrs, const std::string &where);
  void applyBools(std::vector<Field> &a, std::vector<Field> *b, const Attrs &attrs, const std::string &where);
  void collectTags(const std::vector<Field> &fields, std::set<std::string> &tags);
  Attrs *currentAttrs();

  std::string path_;
  Interface &itf_;
  std::vector<std::string> &errors_;
  int interfaceLine_ = 0, encodingLine_ = 0, vstampLine_ = 0;
  int roleCount_ = 0;
  int currentRole_ = -1;
  std::vector<PendingRecord> records_;
  std::vector<PendingMessage> messages_;
  enum { kNone, kRecord, kMessage } last_ = kNone;
};

bool Reader::tokenize(const std::string &line, int lineNo, std::vector<std::string> &words, std::string &quoted,
                      bool &hasQuoted) {
  size_t i = 0;
  hasQuoted = false;
  while (i < line.size()) {
    char c = line[i];
    if (c == '#') break;
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) {
        error(lineNo, "unterminated quoted text");
        return false;
      }
      if (hasQuoted) {
        error(lineNo, "more than one quoted text on a line");
        return false;
      }
      hasQuoted = true;
      quoted = line.substr(i + 1, end - i - 1);
      words.push_back("\"");  // placeholder: position of the quoted text
      i = end + 1;
      continue;
    }
    size_t end = i;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '"' &&
           line[end] != '#' && line[end] != '\r')
      ++end;
    words.push_back(line.substr(i, end - i));
    i = end;
  }
  return true;
}

Attrs *Reader::currentAttrs() {
  if (last_ == kRecord) return &records_.back().attrs;
  if (last_ == kMessage) return &messages_.back().attrs;
  return nullptr;
}

bool parseFlags(const std::string &s, int &out) {
  if (s.empty()) return false;
  char *end = nullptr;
  long v = std::strtol(s.c_str(), &end, 0);
  if (*end != '\0' || v < 0 || v > 0xffff) return false;
  out = (int)v;
  return true;
}

void Reader::statement(int line, const std::vector<std::string> &w, const std::string &quoted, bool hasQuoted) {
  const std::string &kw = w[0];
  auto expect = [&](size_t n, const char *form) {
    if (w.size() != n) {
      error(line, std::string("expected '") + form + "'");
      return false;
    }
    return true;
  };
  if (kw == "interface") {
    if (!expect(2, "interface <Name>")) return;
    if (interfaceLine_) return error(line, "second 'interface' line");
    if (!isIdent(w[1])) return error(line, "interface name '" + w[1] + "' is not an identifier");
    itf_.name = w[1];
    interfaceLine_ = line;
  } else if (kw == "encoding") {
    if (!expect(2, "encoding ascii|binary")) return;
    if (w[1] != "ascii" && w[1] != "binary") return error(line, "encoding must be 'ascii' or 'binary', not '" + w[1] + "'");
    itf_.binary = w[1] == "binary";
    encodingLine_ = line;
  } else if (kw == "vstamp") {
    if (!expect(2, "vstamp \"<text>\"") || w[1] != "\"") return error(line, "the version stamp must be quoted");
    itf_.vstamp = quoted;
    vstampLine_ = line;
  } else if (kw == "role") {
    if (!expect(3, "role <name> serving|initiating")) return;
    if (roleCount_ == 2) return error(line, "an interface has exactly two roles");
    if (!isIdent(w[1])) return error(line, "role name '" + w[1] + "' is not an identifier");
    if (w[2] != "serving" && w[2] != "initiating")
      return error(line, "role kind must be 'serving' or 'initiating', not '" + w[2] + "'");
    if (roleCount_ == 1 && itf_.roles[0].name == w[1]) return error(line, "role '" + w[1] + "' declared twice");
    itf_.roles[roleCount_].name = w[1];
    itf_.roles[roleCount_].serving = w[2] == "serving";
    ++roleCount_;
  } else if (kw == "record") {
    if (!expect(3, "record <Name> \"<spec>\"") || w[2] != "\"") return error(line, "the record's spec must be quoted");
    if (!isIdent(w[1])) return error(line, "record name '" + w[1] + "' is not an identifier");
    for (auto &r : itf_.records)
      if (r->name == w[1]) return error(line, "record '" + w[1] + "' declared twice (first at line " + std::to_string(r->line) + ")");
    auto rec = std::make_unique<Record>();
    rec->name = w[1];
    rec->spec = quoted;
    rec->line = line;
    records_.push_back({rec.get(), {}});
    itf_.records.push_back(std::move(rec));
    last_ = kRecord;
  } else if (kw == "receives") {
    if (!expect(2, "receives <role>")) return;
    currentRole_ = -1;
    last_ = kNone;
    for (int r = 0; r < roleCount_; ++r)
      if (itf_.roles[r].name == w[1]) currentRole_ = r;
    if (currentRole_ < 0) return error(line, "'receives' names the undeclared role '" + w[1] + "'");
  } else if (kw == "message") {
    last_ = kNone;
    if (!expect(4, "message <Name> <flags> \"<spec>\"") || w[3] != "\"") return error(line, "the message's spec must be quoted");
    if (currentRole_ < 0) return error(line, "message outside a 'receives <role>' section");
    if (!isIdent(w[1])) return error(line, "message name '" + w[1] + "' is not an identifier");
    PendingMessage p{currentRole_, {}, {}};
    p.msg.name = w[1];
    p.msg.spec = quoted;
    p.msg.line = line;
    if (!parseFlags(w[2], p.msg.flags)) return error(line, "flags '" + w[2] + "' of message " + w[1] + " are not a number");
    for (auto &m : messages_)
      if (m.role == currentRole_ && m.msg.name == w[1])
        return error(line, "message '" + w[1] + "' declared twice for role " + itf_.roles[currentRole_].name);
    messages_.push_back(std::move(p));
    last_ = kMessage;
  } else if (kw == "bool" || kw == "use" || kw == "alias") {
    Attrs *a = currentAttrs();
    if (!a) return error(line, "'" + kw + "' must follow a record or message declaration");
    if (kw == "bool") {
      if (w.size() < 2) return error(line, "expected 'bool <field>...'");
      for (size_t i = 1; i < w.size(); ++i) a->bools.emplace_back(w[i], line);
    } else if (kw == "use") {
      if (!expect(3, "use <field> <Record>")) return;
      a->uses.emplace_back(w[1], w[2], line);
    } else {
      if (last_ != kRecord) return error(line, "'alias' must follow a record declaration");
      if (!expect(2, "alias <TypeName>")) return;
      if (!isIdent(w[1])) return error(line, "alias '" + w[1] + "' is not an identifier");
      records_.back().rec->alias = w[1];
    }
  } else {
    error(line, "unknown statement '" + kw + "'");
  }
  (void)hasQuoted;
}

void Reader::finishHeader(int lastLine) {
  if (!interfaceLine_) error(1, "missing 'interface <Name>' line");
  if (!encodingLine_) error(1, "missing 'encoding ascii|binary' line");
  if (!vstampLine_) error(1, "missing 'vstamp \"<text>\"' line");
  if (roleCount_ != 2) error(lastLine, "an interface declares exactly two roles, found " + std::to_string(roleCount_));
}

// Walks a field list checking names, encodings and array lengths.
void Reader::checkFields(std::vector<Field> &fields, const std::string &where, int line) {
  std::set<std::string> seen;
  for (size_t i = 0; i < fields.size(); ++i) {
    Field &f = fields[i];
    if (reservedName(f.name)) error(line, where + ": field name '" + f.name + "' is reserved");
    if (!seen.insert(f.name).second) error(line, where + ": field '" + f.name + "' appears twice");
    Type &t = f.type;
    if (t.kind == Kind::Array || t.kind == Kind::DArray) {
      bool found = false;
      for (size_t j = 0; j < i; ++j) {
        if (fields[j].name == t.countField) {
          found = true;
          if (fields[j].type.kind != Kind::Int)
            error(line, where + ": length field '" + t.countField + "' of array '" + f.name + "' is not an integer");
        }
      }
      if (!found)
        error(line, where + ": array '" + f.name + "' names the length field '" + t.countField +
                        "', which is not an earlier field of the same record");
    }
    checkType(t, f.name, where, line, false);
  }
}

void Reader::checkType(Type &t, const std::string &field, const std::string &where, int line, bool inArray) {
  const bool bin = itf_.binary;
  const std::string at = where + ": field '" + field + "': ";
  switch (t.kind) {
    case Kind::Int:
    case Kind::Bool:
      if (bin && t.wire == "%num%") error(line, at + "%num% is for ASCII interfaces (use %u4% or %u1%)");
      if (!bin && t.wire != "%num%") error(line, at + t.wire + " is for binary interfaces (use %num%)");
      break;
    case Kind::Str:
    case Kind::Fn:
      break;
    case Kind::Record:
      if (inArray && bin) error(line, at + "arrays of records are not supported in binary interfaces");
      checkFields(t.fields, where, line);
      break;
    case Kind::Array:
      if (bin && t.elem->kind != Kind::Str)
        error(line, at + "binary interfaces support counted arrays of %str% only (use %dar% for integers)");
      if (t.elem->kind == Kind::Array || t.elem->kind == Kind::List || t.elem->kind == Kind::DArray ||
          t.elem->kind == Kind::Bool)
        error(line, at + "unsupported array element type");
      checkType(*t.elem, field, where, line, true);
      break;
    case Kind::List:
      if (bin) error(line, at + "arrays without a length field are not supported in binary interfaces");
      if (t.elem->kind != Kind::Str) error(line, at + "an array without a length field holds %str% elements only");
      break;
    case Kind::DArray:
      if (!bin) error(line, at + "%dar% is for binary interfaces");
      break;
  }
}

// Binds every record-kind field (and record array element) of a level to a
// declared record: the one named by a "use" line, else the only record with
// the same layout.
bool Reader::bindOne(Type &t, const std::string &field, const std::string *useName, const std::string &where,
                     int line) {
  if (useName) {
    for (auto &r : itf_.records) {
      if (r->name != *useName) continue;
      if (!sameLayout(t.fields, r->fields)) {
        error(line, where + ": field '" + field + "' does not have the layout of record " + r->name);
        return false;
      }
      t.record = r.get();
      return true;
    }
    error(line, where + ": 'use' names the undeclared record '" + *useName + "'");
    return false;
  }
  std::vector<const Record *> found;
  for (auto &r : itf_.records)
    if (!r->fields.empty() || !r->spec.empty())
      if (sameLayout(t.fields, r->fields)) found.push_back(r.get());
  if (found.size() == 1) {
    t.record = found[0];
    return true;
  }
  if (found.empty()) {
    error(line, where + ": record field '" + field + "' matches no declared record; declare one with its layout");
  } else {
    std::string names;
    for (auto *r : found) names += (names.empty() ? "" : ", ") + r->name;
    error(line, where + ": record field '" + field + "' matches several records (" + names +
                    "); name one with 'use " + field + " <Record>'");
  }
  return false;
}

void Reader::checkUses(const std::vector<const std::vector<Field> *> &levels, const Attrs &attrs,
                       const std::string &where) {
  for (auto &u : attrs.uses) {
    bool ok = false;
    for (auto *fields : levels)
      ok = ok || std::any_of(fields->begin(), fields->end(), [&](const Field &f) {
             return f.name == std::get<0>(u) &&
                    (f.type.kind == Kind::Record || (f.type.kind == Kind::Array && f.type.elem->kind == Kind::Record));
           });
    if (!ok) error(std::get<2>(u), where + ": 'use' names '" + std::get<0>(u) + "', which is not a record field here");
  }
}

void Reader::bindRecords(std::vector<Field> &fields, const Attrs &attrs, const std::string &where, int line) {
  for (Field &f : fields) {
    Type *t = f.type.kind == Kind::Record ? &f.type
              : (f.type.kind == Kind::Array && f.type.elem->kind == Kind::Record) ? f.type.elem.get()
                                                                                    : nullptr;
    if (!t) continue;
    const std::string *useName = nullptr;
    int useLine = line;
    for (auto &u : attrs.uses)
      if (std::get<0>(u) == f.name) {
        useName = &std::get<1>(u);
        useLine = std::get<2>(u);
      }
    bindOne(*t, f.name, useName, where, useName ? useLine : line);
  }
}

void Reader::applyBools(std::vector<Field> &a, std::vector<Field> *b, const Attrs &attrs, const std::string &where) {
  for (auto &bm : attrs.bools) {
    Field *hit = nullptr;
    for (Field &f : a)
      if (f.name == bm.first) hit = &f;
    if (b)
      for (Field &f : *b)
        if (f.name == bm.first) hit = &f;
    if (!hit) {
      error(bm.second, where + ": 'bool' names '" + bm.first + "', which is not a field here");
    } else if (hit->type.kind != Kind::Int || itf_.binary) {
      error(bm.second, where + ": 'bool' names '" + bm.first + "', which is not a %num% field");
    } else {
      hit->type.kind = Kind::Bool;
    }
  }
}

void Reader::finishRecord(PendingRecord &p) {
  Record &r = *p.rec;
  std::string where = "record " + r.name;
  std::string err;
  if (!parseRecordSpec(r.spec, r.fields, err)) return error(r.line, where + ": bad spec: " + err);
  checkFields(r.fields, where, r.line);
  applyBools(r.fields, nullptr, p.attrs, where);
  // Element records must be declared earlier, so no record contains itself.
  for (auto &u : p.attrs.uses) {
    for (auto &other : itf_.records) {
      if (other->name == std::get<1>(u) && other->line >= r.line)
        error(std::get<2>(u), where + ": record '" + std::get<1>(u) + "' must be declared before it is used");
    }
  }
  checkUses({&r.fields}, p.attrs, where);
  bindRecords(r.fields, p.attrs, where, r.line);
}

void Reader::finishMessage(PendingMessage &p) {
  Message &m = p.msg;
  std::string where = "message " + m.name;
  ParsedSpec ps;
  std::string err;
  if (!parseSpec(m.spec, ps, err)) return error(m.line, where + ": bad spec: " + err);
  m.request = std::move(ps.request);
  m.reply = std::move(ps.reply);
  int kind = m.flags & 3;
  if (kind != 1 && kind != 2) error(m.line, where + ": flags must hold exactly one of 1 (reply) and 2 (one-way)");
  if (m.flags & ~(1 | 2 | 4 | 16 | 128)) error(m.line, where + ": unknown flag bits (allowed: 1, 2, 4, 16, 128)");
  if (ps.hasBar && kind == 2) error(m.line, where + ": a one-way message (flags 2) cannot have reply fields");
  // Request and reply are parameters of one function: names must differ.
  std::vector<Field> all = m.request;
  all.insert(all.end(), m.reply.begin(), m.reply.end());
  std::set<std::string> seen;
  for (auto &f : all)
    if (!seen.insert(f.name).second) error(m.line, where + ": field '" + f.name + "' appears twice");
  checkFields(m.request, where, m.line);
  checkFields(m.reply, where, m.line);
  applyBools(m.request, &m.reply, p.attrs, where);
  std::vector<Field> *parts[] = {&m.request, &m.reply};
  checkUses({&m.request, &m.reply}, p.attrs, where);
  for (auto *part : parts) bindRecords(*part, p.attrs, where, m.line);
  itf_.roles[p.role].messages.push_back(std::move(m));
}

void Reader::collectTags(const std::vector<Field> &fields, std::set<std::string> &tags) {
  for (const Field &f : fields) {
    tags.insert(f.name);
    if (f.type.kind == Kind::Record) collectTags(f.type.fields, tags);
    if (f.type.elem && f.type.elem->kind == Kind::Record) collectTags(f.type.elem->fields, tags);
  }
}

bool Reader::run(const std::string &text) {
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    std::vector<std::string> words;
    std::string quoted;
    bool hasQuoted = false;
    if (!tokenize(line, lineNo, words, quoted, hasQuoted)) continue;
    if (!words.empty()) statement(lineNo, words, quoted, hasQuoted);
  }
  finishHeader(lineNo > 0 ? lineNo : 1);
  for (auto &p : records_) finishRecord(p);
  // Messages are validated in declaration order; two messages of one role
  // with the same name were refused when declared.
  for (auto &p : messages_) finishMessage(p);
  if (itf_.binary) {
    std::set<std::string> tags;
    for (auto &role : itf_.roles)
      for (auto &m : role.messages) {
        collectTags(m.request, tags);
        collectTags(m.reply, tags);
      }
    for (auto &r : itf_.records) collectTags(r->fields, tags);
    itf_.tagNames.assign(tags.begin(), tags.end());  // std::set<std::string> orders bytewise
  }
  return errors_.empty();
}

}  // namespace

std::vector<const Message *> sortedMessages(const Role &role) {
  std::vector<const Message *> out;
  for (auto &m : role.messages) out.push_back(&m);
  std::sort(out.begin(), out.end(),
            [](const Message *a, const Message *b) { return std::strcmp(a->name.c_str(), b->name.c_str()) < 0; });
  return out;
}

int tagIndex(const Interface &itf, const std::string &name) {
  auto it = std::lower_bound(itf.tagNames.begin(), itf.tagNames.end(), name);
  if (it == itf.tagNames.end() || *it != name) return -1;
  return (int)(it - itf.tagNames.begin());
}

bool readInterfaceText(const std::string &path, const std::string &text, Interface &out,
                       std::vector<std::string> &errors) {
  out.file = path;
  size_t before = errors.size();
  Reader r(path, out, errors);
  r.run(text);
  return errors.size() == before;
}

bool readInterfaceFile(const std::string &path, Interface &out, std::vector<std::string> &errors) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    errors.push_back(path + ":0: cannot open the interface file");
    return false;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  return readInterfaceText(path, ss.str(), out, errors);
}

}  // namespace stpgen
