// Parser of spec strings, the field language of STP messages:
//   spec   := fields [ "|" fields ]
//   fields := { name ":" type }            (separated by blanks)
//   type   := "%num%" | "%u4%" | "%u1%" | "%str%" | "%fn%"
//           | "{" fields "}"                record
//           | "*(" name ")[" type "]"        array, length in field `name`
//           | "[" type "]"                   array, length from the encoding
//           | "%dar%(" name ", %u4%)"        binary array of 32-bit ints
// The parser only builds the syntax tree: record fields stay unbound and
// %num% fields are Int until the reader applies the interface's markers.
#pragma once

#include <string>
#include <vector>

#include "stpgen_model.h"

namespace stpgen {

struct ParsedSpec {
  std::vector<Field> request;
  std::vector<Field> reply;
  bool hasBar = false;  // its spec string has a "|" (a reply part, maybe empty)
};

// Parses `spec`; on failure returns false and sets `error` to a description
// that names the offending position (offsets count from 0).
bool parseSpec(const std::string &spec, ParsedSpec &out, std::string &error);

// Parses a record declaration's spec string: a single "{ fields }".
bool parseRecordSpec(const std::string &spec, std::vector<Field> &out, std::string &error);

// True when two field lists have the same layout: names, kinds (a flag and
// an integer of the same wire type are the same layout), array lengths and
// nested records, recursively.
bool sameLayout(const std::vector<Field> &a, const std::vector<Field> &b);

// The fields of a record-kind type: those of its bound record when bound,
// else its inline layout.
const std::vector<Field> &recordFields(const Type &t);

}  // namespace stpgen
