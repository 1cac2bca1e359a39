// editor_defaultconfig: the external-editor options of "GeneralConfiguration"
// with their defaults and the C variables that mirror them, and the choice
// of editor service made from them.
//
// The variables are set to their defaults at static initialisation (by the
// one Editor_DefaultConfig object) and follow every later change of the
// WhiteBoard value. String variables own gen_copy heap strings. One thread.
#pragma once

#include "services/editorservice/editorservice_options.h"
#include "windlib/config/defaultconfig.h"

class Editor_DefaultConfig : public DefaultConfig {
 public:
  // Registers the options as parsable and installs their defaults.
  Editor_DefaultConfig();
  ~Editor_DefaultConfig() override;
};

extern Editor_DefaultConfig editor_defaultconfig;
extern const _ConfigOption editor_service_options[];
extern const _ConfigChoice editChoices[];

extern char *EditorName;
extern char *editorLaunch;
extern bool UseXtermForAlternateEditor;
extern char *edit_choice;
extern char *edit_emacs_path;
extern bool edit_emacs_usexterm;
extern char *edit_emacs_argumentformat;
extern char *edit_vi_path;
extern bool edit_vi_usexterm;
extern char *edit_vi_argumentformat;
extern char *edit_other_path;
extern bool edit_other_usexterm;
extern char *edit_other_argumentformat;

// The addresses of the path, xterm and format variables of the three kinds
// of outside editor, for the editor services (EditorService_SetOptions).
extern const EditorService_Options editor_service_kind_options;

// Change callback of every editor option: copies the value into its
// variable.
void editorValueChanged(const char *group, const char *name);

// The current editor choice name (a string constant or edit_choice).
const char *getNameOfCurrentEditorType();
// "Editor.Korvo", "Editor.Emacs", "Editor.Vi" or "Editor.Other" for the
// choice (null: edit_choice); a string constant.
const char *getEditorServiceName(bool forceBuiltIn, const char *choice);
