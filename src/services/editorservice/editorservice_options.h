// editorservice_options: where the editor services find the settings of
// each kind of outside editor.
//
// The settings themselves belong to the default configuration, which keeps
// them current from the WhiteBoard; the editor services sit below it and
// only see the addresses of the variables that mirror them. Each call reads
// the variables anew, so a changed setting applies to the next file opened.
// Header only: including it links nothing. One thread.
#pragma once

// The live settings of one kind of outside editor. Every pointer names a
// variable owned by whoever declares the options; the variables may change
// at any time between calls, the pointers never.
struct EditorService_KindOptions {
  char *const *path;            // the editor executable (a heap string or null)
  const bool *useXTerm;         // run it inside "xterm -e"
  char *const *argumentFormat;  // "+%LINE %FILE0 %FILES" style, or null
};

// The settings of the three kinds of outside editor.
struct EditorService_Options {
  EditorService_KindOptions emacs;
  EditorService_KindOptions vi;
  EditorService_KindOptions other;
};
