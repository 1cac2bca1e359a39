// WhiteBoard values as text: type names, "get" lines and writing dumps.
#include "services/korvoctl/korvoctl_wb_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>

namespace {

const char *const kTypeNames[] = {"any", "bool", "int", "string", "list"};

// Bytes a name or group may show without quotes in a dump.
bool bareByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("_-.,:/+@%=", c) != nullptr;
}

// Length of the well-formed UTF-8 sequence of two to four bytes at
// `p` (`n` bytes left), or 0.
size_t utf8Length(const unsigned char *p, size_t n) {
  unsigned char c = p[0];
  size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (len == 0 || len > n) return 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
  if (c == 0xE0) lo = 0xA0;
  if (c == 0xED) hi = 0x9F;
  if (c == 0xF0) lo = 0x90;
  if (c == 0xF4) hi = 0x8F;
  if (p[1] < lo || p[1] > hi) return 0;
  for (size_t i = 2; i < len; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  return len;
}

void appendHex(std::string *out, unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", c);
  *out += buf;
}

// A string in double quotes: backslash escapes for the quote, the
// backslash and control bytes; UTF-8 text as it is, other bytes as \xHH.
std::string quote(const std::string &s) {
  std::string out = "\"";
  const auto *p = reinterpret_cast<const unsigned char *>(s.data());
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = p[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\t' || c == '\n' || c == '\r') {
      out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      appendHex(&out, c);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (size_t n = utf8Length(p + i, s.size() - i)) {
      out.append(s, i, n);
      i += n - 1;
    } else {
      appendHex(&out, c);
    }
  }
  return out + "\"";
}

// A group or value name: bare when it is made of plain bytes only.
std::string word(const std::string &s) {
  bool bare = !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return bareByte(static_cast<unsigned char>(c));
  });
  return bare ? s : quote(s);
}

std::string valueLine(const KorvoCtl_WbValue &v) {
  std::string line = word(v.name) + " " + KorvoCtl_WbTypeName(v.type);
  if (v.type == kWbBool) return line + (v.boolValue ? " true" : " false");
  if (v.type == kWbInt) return line + " " + std::to_string(v.intValue);
  for (const std::string &s : v.strings) line += " " + quote(s);
  return line;
}

}  // namespace

const char *KorvoCtl_WbTypeName(int type) {
  return type >= kWbAny && type <= kWbList ? kTypeNames[type] : nullptr;
}

int KorvoCtl_WbTypeFromName(const std::string &name) {
  for (int t = kWbAny; t <= kWbList; ++t)
    if (name == kTypeNames[t]) return t;
  return -1;
}

bool KorvoCtl_WbParseBool(const std::string &text, bool *out) {
  if (text == "true" || text == "1") return *out = true, true;
  if (text == "false" || text == "0") return *out = false, true;
  return false;
}

bool KorvoCtl_WbParseInt(const std::string &text, int *out) {
  size_t digits = text.size() - (!text.empty() && text[0] == '-' ? 1 : 0);
  if (digits == 0 || digits > 10 ||
      text.find_first_not_of("0123456789", text.size() - digits) != std::string::npos)
    return false;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v < INT_MIN || v > INT_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

bool KorvoCtl_WbSameValue(const KorvoCtl_WbValue &a, const KorvoCtl_WbValue &b) {
  if (a.group != b.group || a.name != b.name || a.type != b.type) return false;
  if (a.type == kWbBool) return a.boolValue == b.boolValue;
  if (a.type == kWbInt) return a.intValue == b.intValue;
  return a.strings == b.strings;
}

void KorvoCtl_WbSort(std::vector<KorvoCtl_WbValue> *values) {
  std::stable_sort(values->begin(), values->end(),
                   [](const KorvoCtl_WbValue &a, const KorvoCtl_WbValue &b) {
                     return std::tie(a.group, a.name, a.type) < std::tie(b.group, b.name, b.type);
                   });
}

std::string KorvoCtl_WbEscapeField(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string KorvoCtl_WbGetLine(const KorvoCtl_WbValue &v) {
  std::string line = KorvoCtl_WbEscapeField(v.name) + "\t" + KorvoCtl_WbTypeName(v.type);
  if (v.type == kWbBool) return line + (v.boolValue ? "\ttrue" : "\tfalse");
  if (v.type == kWbInt) return line + "\t" + std::to_string(v.intValue);
  for (const std::string &s : v.strings) line += "\t" + KorvoCtl_WbEscapeField(s);
  return line;
}

std::string KorvoCtl_WbFormatDump(const std::vector<std::string> &groups,
                                  const std::vector<KorvoCtl_WbValue> &values) {
  std::vector<KorvoCtl_WbValue> sorted = values;
  KorvoCtl_WbSort(&sorted);
  std::string text = "# WhiteBoard values: [GROUP], then NAME TYPE VALUE... (korvoctl wb load)\n";
  for (const std::string &g : groups) {
    text += "\n[" + word(g) + "]\n";
    for (const KorvoCtl_WbValue &v : sorted)
      if (v.group == g) text += valueLine(v) + "\n";
  }
  return text;
}
