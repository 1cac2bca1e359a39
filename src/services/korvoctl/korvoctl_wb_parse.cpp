// Reading the dump format of korvoctl wb: every line is checked, every
// problem reported with its line, and nothing is kept from a text that has
// one.
#include <map>
#include <tuple>

#include "services/korvoctl/korvoctl_wb_text.h"

namespace {

constexpr size_t kMaxErrors = 50;

enum TokenKind { kWord, kOpen, kClose };

struct Token {
  TokenKind kind;
  std::string text;
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Reads the escape after a backslash at line[*i]; moves *i past it.
bool readEscape(const std::string &line, size_t *i, std::string *out, std::string *error) {
  char c = *i < line.size() ? line[*i] : '\0';
  static const std::string kPlain = "\\\"tnr", kMeaning = "\\\"\t\n\r";
  size_t at = kPlain.find(c);
  if (c != '\0' && at != std::string::npos) {
    *out += kMeaning[at];
    ++*i;
    return true;
  }
  if (c != 'x') return *error = std::string("unknown escape \\") + (c ? std::string(1, c) : ""), false;
  int hi = *i + 1 < line.size() ? hexDigit(line[*i + 1]) : -1;
  int lo = *i + 2 < line.size() ? hexDigit(line[*i + 2]) : -1;
  if (hi < 0 || lo < 0) return *error = "\\x needs two hex digits", false;
  if (hi == 0 && lo == 0) return *error = "a string cannot hold a NUL byte (\\x00)", false;
  *out += static_cast<char>(hi * 16 + lo);
  *i += 3;
  return true;
}

// Reads the quoted string opening at line[*i].
bool readQuoted(const std::string &line, size_t *i, std::string *out, std::string *error) {
  for (++*i; *i < line.size();) {
    char c = line[(*i)++];
    if (c == '"') {
      if (*i < line.size() && !isBlank(line[*i]) && line[*i] != ']')
        return *error = "a closing quote must be followed by a blank", false;
      return true;
    }
    if (c == '\\') {
      if (!readEscape(line, i, out, error)) return false;
    } else {
      *out += c;
    }
  }
  return *error = "unterminated string", false;
}

// Reads a word without quotes starting at line[*i].
bool readBare(const std::string &line, size_t *i, std::string *out, std::string *error) {
  for (; *i < line.size() && !isBlank(line[*i]); ++*i) {
    char c = line[*i];
    if (c == '[' || c == ']') break;
    if (c == '"' || c == '\\')
      return *error = std::string("a word holding ") + c + " must be quoted", false;
    *out += c;
  }
  return true;
}

// Splits a line into words and brackets; a "#" where a word would start
// ends the line.
bool tokenize(const std::string &line, std::vector<Token> *tokens, std::string *error) {
  if (line.find('\0') != std::string::npos) return *error = "NUL byte in the line", false;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size() || line[i] == '#') return true;
    if (line[i] == '[' || line[i] == ']') {
      tokens->push_back({line[i] == '[' ? kOpen : kClose, std::string(1, line[i])});
      ++i;
      continue;
    }
    Token t{kWord, ""};
    bool ok = line[i] == '"' ? readQuoted(line, &i, &t.text, error) : readBare(line, &i, &t.text, error);
    if (!ok) return false;
    tokens->push_back(std::move(t));
  }
}

// The state of one parse: where values go and where each was first seen.
struct Parser {
  KorvoCtl_WbDump *dump = nullptr;
  std::string group;
  bool inGroup = false;
  std::map<std::tuple<std::string, std::string, int>, int> seen;
};

bool parseHeader(Parser *p, const std::vector<Token> &t, std::string *error) {
  if (t.size() != 3 || t[1].kind != kWord || t[2].kind != kClose)
    return *error = "a group header is [GROUP] alone on its line", false;
  if (t[1].text.empty()) return *error = "empty group name", false;
  p->group = t[1].text;
  p->inGroup = true;
  for (const std::string &g : p->dump->groups)
    if (g == p->group) return true;
  p->dump->groups.push_back(p->group);
  return true;
}

// Fills the value of `v` from the words after its type.
bool parseValue(KorvoCtl_WbValue *v, const std::vector<Token> &t, std::string *error) {
  size_t n = t.size() - 2;
  if (v->type == kWbBool && (n != 1 || !KorvoCtl_WbParseBool(t[2].text, &v->boolValue)))
    return *error = "bool takes one of true, false, 1 or 0", false;
  if (v->type == kWbInt && (n != 1 || !KorvoCtl_WbParseInt(t[2].text, &v->intValue)))
    return *error = "int takes one whole number from -2147483648 to 2147483647", false;
  if (v->type == kWbString && n != 1) return *error = "string takes exactly one string", false;
  if (v->type == kWbString || v->type == kWbList)
    for (size_t i = 2; i < t.size(); ++i) v->strings.push_back(t[i].text);
  return true;
}

bool parseValueLine(Parser *p, const std::vector<Token> &t, int line, std::string *error) {
  if (!p->inGroup) return *error = "a value before the first [GROUP] line", false;
  for (const Token &k : t)
    if (k.kind != kWord) return *error = "a bracket outside a group header must be quoted", false;
  if (t[0].text.empty()) return *error = "empty name", false;
  if (t.size() < 2) return *error = "a type must follow the name", false;
  KorvoCtl_WbValue v;
  v.group = p->group;
  v.name = t[0].text;
  v.type = KorvoCtl_WbTypeFromName(t[1].text);
  v.line = line;
  if (v.type <= kWbAny)
    return *error = "unknown type \"" + t[1].text + "\" (bool, int, string or list)", false;
  if (!parseValue(&v, t, error)) return false;
  auto [at, fresh] = p->seen.emplace(std::make_tuple(v.group, v.name, v.type), line);
  if (!fresh)
    return *error = v.name + " " + t[1].text + " is given twice (first on line " +
                    std::to_string(at->second) + ")",
           false;
  p->dump->values.push_back(std::move(v));
  return true;
}

bool parseLine(Parser *p, const std::string &text, int line, std::string *error) {
  std::vector<Token> tokens;
  if (!tokenize(text, &tokens, error)) return false;
  if (tokens.empty()) return true;
  if (tokens[0].kind == kOpen) return parseHeader(p, tokens, error);
  if (tokens[0].kind == kClose) return *error = "a ] without [", false;
  return parseValueLine(p, tokens, line, error);
}

}  // namespace

bool KorvoCtl_WbParseDump(const std::string &text, const std::string &file, KorvoCtl_WbDump *dump,
                          std::vector<std::string> *errors) {
  *dump = KorvoCtl_WbDump();
  errors->clear();
  Parser p;
  p.dump = dump;
  int line = 0;
  for (size_t start = 0; start < text.size() && errors->size() < kMaxErrors;) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string error;
    if (!parseLine(&p, text.substr(start, end - start), ++line, &error))
      errors->push_back(file + ":" + std::to_string(line) + ": " + error);
    start = end + 1;
  }
  return errors->empty();
}
