// Reader of interface-definition files (format in docs/interfaces.md): parses
// the statements, parses every spec string, binds record fields to the
// declared record types, applies the flag markers, checks what the emitter
// relies on and fills the model.
#pragma once

#include <string>
#include <vector>

#include "stpgen_model.h"

namespace stpgen {

// Reads the interface file at `path` into `out`. On failure returns false
// and appends one "file:line: what is wrong" text per problem to `errors`.
bool readInterfaceFile(const std::string &path, Interface &out, std::vector<std::string> &errors);

// Same, for a text already in memory; `path` names it in messages.
bool readInterfaceText(const std::string &path, const std::string &text, Interface &out,
                       std::vector<std::string> &errors);

}  // namespace stpgen
