// editor_defaultconfig: the external-editor option table, its defaults and
// the editor-choice functions.
#include "windlib/config/editor_defaultconfig.h"

#include <cstring>

#include "shared/indgen.h"

char *EditorName = nullptr;
char *editorLaunch = nullptr;
bool UseXtermForAlternateEditor = false;
char *edit_choice = nullptr;
char *edit_emacs_path = nullptr;
bool edit_emacs_usexterm = false;
char *edit_emacs_argumentformat = nullptr;
char *edit_vi_path = nullptr;
bool edit_vi_usexterm = false;
char *edit_vi_argumentformat = nullptr;
char *edit_other_path = nullptr;
bool edit_other_usexterm = false;
char *edit_other_argumentformat = nullptr;

const _ConfigChoice editChoices[] = {{"Korvo Editor", "Korvo Editor", 0},
                                     {"Emacs", "Emacs", 1},
                                     {"Vi", "Vi", 2},
                                     {"Other", "Other", 3},
                                     {nullptr, nullptr, 0}};

const _ConfigOption editor_service_options[] = {
    {"editor", CFG_STRING, &EditorName, nullptr},
    {"editorLaunch", CFG_STRING, &editorLaunch, nullptr},
    {"usextermforalternateeditor", CFG_BOOL, &UseXtermForAlternateEditor, nullptr},
    {"ExtEditor_Choice", CFG_STRING, &edit_choice, editChoices},
    {"ExtEditor_EmacsPath", CFG_STRING, &edit_emacs_path, nullptr},
    {"ExtEditor_EmacsUseXTerm", CFG_BOOL, &edit_emacs_usexterm, nullptr},
    {"ExtEditor_EmacsArgumentFormat", CFG_STRING, &edit_emacs_argumentformat, nullptr},
    {"ExtEditor_ViPath", CFG_STRING, &edit_vi_path, nullptr},
    {"ExtEditor_ViUseXTerm", CFG_BOOL, &edit_vi_usexterm, nullptr},
    {"ExtEditor_ViArgumentFormat", CFG_STRING, &edit_vi_argumentformat, nullptr},
    {"ExtEditor_OtherPath", CFG_STRING, &edit_other_path, nullptr},
    {"ExtEditor_OtherUseXTerm", CFG_BOOL, &edit_other_usexterm, nullptr},
    {"ExtEditor_OtherArgumentFormat", CFG_STRING, &edit_other_argumentformat, nullptr},
    {nullptr, 0, nullptr, nullptr}};

const EditorService_Options editor_service_kind_options = {
    {&edit_emacs_path, &edit_emacs_usexterm, &edit_emacs_argumentformat},
    {&edit_vi_path, &edit_vi_usexterm, &edit_vi_argumentformat},
    {&edit_other_path, &edit_other_usexterm, &edit_other_argumentformat}};

namespace {
const char kArgumentFormat[] = "+%LINE %FILE0 %FILES";
}  // namespace

Editor_DefaultConfig editor_defaultconfig;

Editor_DefaultConfig::Editor_DefaultConfig() : DefaultConfig("GeneralConfiguration") {
  ConfigMicroParser::addOptionsToParse(editor_service_options);
  installDefaultString("editor", "ke", editorValueChanged, &EditorName);
  installDefaultString("editorLaunch", nullptr, editorValueChanged, &editorLaunch);
  installDefaultString("ExtEditor_Choice", "Korvo Editor", editorValueChanged, &edit_choice);
  installDefaultExecPath("ExtEditor_EmacsPath", "emacs", editorValueChanged, &edit_emacs_path);
  installDefaultBool("ExtEditor_EmacsUseXTerm", false, editorValueChanged, &edit_emacs_usexterm);
  installDefaultString("ExtEditor_EmacsArgumentFormat", kArgumentFormat, editorValueChanged,
                       &edit_emacs_argumentformat);
  installDefaultExecPath("ExtEditor_ViPath", "vi", editorValueChanged, &edit_vi_path);
  installDefaultBool("ExtEditor_ViUseXTerm", true, editorValueChanged, &edit_vi_usexterm);
  installDefaultString("ExtEditor_ViArgumentFormat", kArgumentFormat, editorValueChanged,
                       &edit_vi_argumentformat);
  installDefaultString("ExtEditor_OtherPath", "", editorValueChanged, &edit_other_path);
  installDefaultBool("ExtEditor_OtherUseXTerm", false, editorValueChanged, &edit_other_usexterm);
  installDefaultString("ExtEditor_OtherArgumentFormat", kArgumentFormat, editorValueChanged,
                       &edit_other_argumentformat);
}

Editor_DefaultConfig::~Editor_DefaultConfig() {
  // The process is ending: release the mirrored strings.
  for (const _ConfigOption *o = editor_service_options; o->name; ++o) {
    if (o->type != CFG_STRING) continue;
    char **var = static_cast<char **>(o->variable);
    gen_free(*var);
    *var = nullptr;
  }
}

void editorValueChanged(const char *group, const char *name) {
  setNamedConfigOption(name, editor_service_options);
}

const char *getNameOfCurrentEditorType() {
  if (edit_choice) return edit_choice;
  if (EditorName && strcmp(EditorName, "ke") != 0) {
    if (strstr(EditorName, "emacs")) return "Emacs";
    if (!strstr(EditorName, "vi")) return "Other";
    return "Vi";
  }
  return "Korvo Editor";
}

const char *getEditorServiceName(bool forceBuiltIn, const char *choice) {
  if (!choice) choice = edit_choice;
  if (forceBuiltIn || !choice || !*choice || gen_strequal(choice, "Korvo Editor"))
    return "Editor.Korvo";
  if (gen_strequal(choice, "Emacs")) return "Editor.Emacs";
  if (gen_strequal(choice, "Vi")) return "Editor.Vi";
  if (gen_strequal(choice, "Other")) return "Editor.Other";
  return "Editor.Korvo";
}
