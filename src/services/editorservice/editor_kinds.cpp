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

// The settings of one kind, or null while nothing is bound.
const EditorService_KindOptions *kindOptions(EditorService_KindOptions EditorService_Options::*kind) {
  return bound_options ? &(bound_options->*kind) : nullptr;
}

const char *pathOf(const EditorService_KindOptions *o) {
  return o && o->path && *o->path ? *o->path : "";
}
bool xtermOf(const EditorService_KindOptions *o) { return o && o->useXTerm && *o->useXTerm; }
const char *formatOf(const EditorService_KindOptions *o) {
  return o && o->argumentFormat ? *o->argumentFormat : nullptr;
}

}  // namespace

void EditorService_SetOptions(const EditorService_Options *options) { bound_options = options; }

const EditorService_Options *EditorService_GetOptions() { return bound_options; }

const char *Vi_EditorService_Server::getEditorCommand() const {
  return pathOf(kindOptions(&EditorService_Options::vi));
}
bool Vi_EditorService_Server::useXTerm() const { return xtermOf(kindOptions(&EditorService_Options::vi)); }
const char *Vi_EditorService_Server::getArgumentFormat() const {
  return formatOf(kindOptions(&EditorService_Options::vi));
}

const char *Emacs_EditorService_Server::getEditorCommand() const {
  return pathOf(kindOptions(&EditorService_Options::emacs));
}
bool Emacs_EditorService_Server::useXTerm() const {
  return xtermOf(kindOptions(&EditorService_Options::emacs));
}
const char *Emacs_EditorService_Server::getArgumentFormat() const {
  return formatOf(kindOptions(&EditorService_Options::emacs));
}

const char *Other_EditorService_Server::getEditorCommand() const {
  return pathOf(kindOptions(&EditorService_Options::other));
}
bool Other_EditorService_Server::useXTerm() const {
  return xtermOf(kindOptions(&EditorService_Options::other));
}
const char *Other_EditorService_Server::getArgumentFormat() const {
  return formatOf(kindOptions(&EditorService_Options::other));
}

bool EditorService_Server_ExitCondition::allowExit() {
  return Basic_EditorService_Server::_num_connections == 0;
}

bool EditorService_Server_ExitCondition::mustExit() { return false; }
