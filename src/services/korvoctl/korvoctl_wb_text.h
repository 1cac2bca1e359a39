// korvoctl_wb_text: WhiteBoard values as text, without any connection:
// the lines "korvoctl wb get" prints, and the dump format that "wb dump"
// writes and "wb load" reads back (docs/korvoctl_whiteboard_text.md).
//
// The dump format is line based: "[GROUP]" starts a group, then
// "NAME TYPE VALUE..." per value; strings are written in double quotes
// with backslash escapes, so every byte but NUL can be held. Parsing
// checks a whole text and reports every problem as "file:line: message";
// it touches nothing else, so a fuzz target can feed it any bytes.
#pragma once

#include <string>
#include <vector>

// Value type codes, the same numbers as on the WhiteBoard wire.
enum KorvoCtl_WbType { kWbAny = 0, kWbBool = 1, kWbInt = 2, kWbString = 3, kWbList = 4 };

struct KorvoCtl_WbValue {
  std::string group;
  std::string name;
  int type = kWbBool;
  bool boolValue = false;
  int intValue = 0;
  std::vector<std::string> strings;  // a string: one element; a list: its elements
  int line = 0;                      // where the text held it (0: not from text)
};

// "bool", "int", "string", "list" ("any" for kWbAny); null for others.
const char *KorvoCtl_WbTypeName(int type);
// The code of a type name, or -1.
int KorvoCtl_WbTypeFromName(const std::string &name);
// Reads "true"/"false"/"1"/"0"; false for anything else.
bool KorvoCtl_WbParseBool(const std::string &text, bool *out);
// Reads a decimal 32-bit number ("-" allowed, nothing else); false when
// the text is not one or does not fit.
bool KorvoCtl_WbParseInt(const std::string &text, int *out);
// Equal group, name, type and value (the line is not compared).
bool KorvoCtl_WbSameValue(const KorvoCtl_WbValue &a, const KorvoCtl_WbValue &b);
// Sorts by group, name and type (byte order; types bool, int, string,
// list), the order of every listing.
void KorvoCtl_WbSort(std::vector<KorvoCtl_WbValue> *values);

// One field of a "get" line: a backslash, TAB, newline or carriage return
// becomes \\, \t, \n or \r; every other byte is kept.
std::string KorvoCtl_WbEscapeField(const std::string &text);
// "NAME<TAB>TYPE<TAB>VALUE..." (no newline); a list puts each element in a
// field of its own, an empty list has no value field.
std::string KorvoCtl_WbGetLine(const KorvoCtl_WbValue &value);

// A whole dump: the groups in the order given (each with a header, even
// when it holds no values), the values of each in sorted order.
std::string KorvoCtl_WbFormatDump(const std::vector<std::string> &groups,
                                  const std::vector<KorvoCtl_WbValue> &values);

// What a dump text holds: its groups in first-seen order, its values in
// text order.
struct KorvoCtl_WbDump {
  std::vector<std::string> groups;
  std::vector<KorvoCtl_WbValue> values;
};

// Parses a whole dump text. `file` names it in messages. True when the
// text has no error; otherwise false with one "file:line: message" per
// problem in `errors` (at most 50) and `dump` not to be used.
bool KorvoCtl_WbParseDump(const std::string &text, const std::string &file, KorvoCtl_WbDump *dump,
                          std::vector<std::string> *errors);
