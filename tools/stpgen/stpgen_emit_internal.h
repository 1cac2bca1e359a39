// Pieces shared by the emitter's source files.
#pragma once

#include <string>

#include "stpgen_emitter.h"
#include "stpgen_fields.h"

namespace stpgen {

// The comment block every generated file starts with.
std::string banner(const Interface &itf, const std::string &what);
// A C string literal of `s`.
std::string cString(const std::string &s);
// <Interface>_<role>_msgs.
std::string tableName(const Interface &itf, const Role &role);
// The file-local helper of a generated source of a binary interface: the
// tag mapping.
void emitSupportHelpers(Code &c, const Interface &itf);

std::string emitParsingHeader(const Interface &itf);
std::string emitParsingSource(const Interface &itf);
std::string emitClassHeader(const Interface &itf, int role);
std::string emitClassSource(const Interface &itf, int role);
std::string emitTestkitHeader(const Interface &itf);
std::string emitTestkitSource(const Interface &itf);

// Shared by the class and testkit emitters.
std::string className(const Interface &itf, const Role &role);
std::string join(const std::vector<std::string> &parts);
std::string handlerParams(const Interface &itf, const Message &m);
Ref outRef(const Field &f);
Ref plainRef(const Field &f);

}  // namespace stpgen
