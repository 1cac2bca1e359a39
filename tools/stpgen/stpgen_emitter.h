// Emitter of generated endpoint code: turns a validated interface model into
// C++ text, one function per piece (record type, record helpers, message
// table, class declaration, sender, handler slot, dispatch case). Generated
// code stays thin over the STPSpecClass runtime.
#pragma once

#include <string>

#include "stpgen_model.h"

namespace stpgen {

// Writes every output file of `itf` into `outDir` (which must exist). A file
// whose content did not change is left untouched, so dependent objects are
// not rebuilt. Returns false with `error` set when a file cannot be written.
bool emitInterface(const Interface &itf, const std::string &outDir, std::string &error);

// Writes the test support files <itf>_testkit.h/.cpp into `outDir`.
bool emitTestkit(const Interface &itf, const std::string &outDir, std::string &error);

// Base name of the generated files of an interface: its name in lower case.
std::string fileStem(const Interface &itf);

}  // namespace stpgen
