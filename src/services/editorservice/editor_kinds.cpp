// The outside-editor kinds, the module's exit condition, its factories and
// process-wide objects.
#include "services/editorservice/editor_kinds.h"

// The module's objects, built before main in this order: the exit condition
// (installed globally), then the factories (registered globally; their
// order is the order of these names among those sent to the router).
static EditorService_Server_ExitCondition editorservice_exit_condition
    KORVO_MODULE_ORDER(kModuleOrderEditorServer)(true);
static Emacs_EditorService_ServiceFactory emacs_editor_factory
    KORVO_MODULE_ORDER(kModuleOrderEditorServer)("Editor.Emacs", -1, true);
static Vi_EditorService_ServiceFactory vi_editor_factory
    KORVO_MODULE_ORDER(kModuleOrderEditorServer)("Editor.Vi", -1, true);
static Other_EditorService_ServiceFactory other_editor_factory
    KORVO_MODULE_ORDER(kModuleOrderEditorServer)("Editor.Other", -1, true);

namespace {

// Constant-initialised, so it is valid before any static constructor runs.
const EditorService_Options *bound_options = nullptr;

using Kind = EditorService_KindOptions EditorService_Options::*;
constexpr Kind kVi = &EditorService_Options::vi;
constexpr Kind kEmacs = &EditorService_Options::emacs;
constexpr Kind kOther = &EditorService_Options::other;

// The current settings of a kind; unset ones (nothing bound, a null
// pointer or variable) read as "", false and null.
const char *pathOf(Kind kind) {
  char *const *path = bound_options ? (bound_options->*kind).path : nullptr;
  return path && *path ? *path : "";
}
bool xtermOf(Kind kind) {
  const bool *xterm = bound_options ? (bound_options->*kind).useXTerm : nullptr;
  return xterm && *xterm;
}
const char *formatOf(Kind kind) {
  char *const *format = bound_options ? (bound_options->*kind).argumentFormat : nullptr;
  return format ? *format : nullptr;
}

}  // namespace

void EditorService_SetOptions(const EditorService_Options *options) { bound_options = options; }

const EditorService_Options *EditorService_GetOptions() { return bound_options; }

const char *Vi_EditorService_Server::getEditorCommand() const { return pathOf(kVi); }
bool Vi_EditorService_Server::useXTerm() const { return xtermOf(kVi); }
const char *Vi_EditorService_Server::getArgumentFormat() const { return formatOf(kVi); }

const char *Emacs_EditorService_Server::getEditorCommand() const { return pathOf(kEmacs); }
bool Emacs_EditorService_Server::useXTerm() const { return xtermOf(kEmacs); }
const char *Emacs_EditorService_Server::getArgumentFormat() const { return formatOf(kEmacs); }

const char *Other_EditorService_Server::getEditorCommand() const { return pathOf(kOther); }
bool Other_EditorService_Server::useXTerm() const { return xtermOf(kOther); }
const char *Other_EditorService_Server::getArgumentFormat() const { return formatOf(kOther); }
