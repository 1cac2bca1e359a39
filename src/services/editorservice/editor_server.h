// Basic_EditorService_Server: one connection to an outside-editor service
// ("Editor.Vi", "Editor.Emacs" or "Editor.Other").
//
// A client sends EditFile; the server builds a command line from the path
// and argument format of its kind of editor and starts it as a detached
// child in the client process's working directory. The child is neither
// waited for nor recorded: the program's SIGCHLD handler reaps it. Of the
// build-error messages only EditBuildErrorInFile can open a file; the rest
// are accepted and ignored, and the server never sends anything. The kinds
// (editor_kinds.h) say where their settings come from. One thread: handlers
// run inside the event loop.
#pragma once

#include "korvoeditor_editor_impl.h"

class Basic_EditorService_Server : public virtual KorvoEditor_editor_Impl {
 public:
  // Counts the connection in _num_connections. Bind it with setTransport.
  Basic_EditorService_Server();

  // The editor executable of this kind (never null; "" when unset).
  virtual const char *getEditorCommand() const = 0;
  // True when the editor runs inside "xterm -e".
  virtual bool useXTerm() const = 0;
  // The argument format ("%FILE0", "%FILES" and "%LINE" are replaced), or
  // null.
  virtual const char *getArgumentFormat() const = 0;

  // Starts the editor on fullPath at line (below 1: 1); version is unused.
  void msg_EditFile(const char *fullPath, int line, const char *version) override;
  void msg_SetFileEditorAttributes(const char *fullPath, int pollInterval, const char *winTitle,
                                   int pidToTerminate) override;
  void msg_EditBuildError(int errornumber, KorvoEditor_FILENAME_ARRAY &filenames,
                          KorvoEditor_INT_ARRAY &lines, KorvoEditor_INT_ARRAY &cols,
                          KorvoEditor_STRING_ARRAY &messages) override;
  void msg_EditAllowRebuild(bool rebuildAllowed) override;
  void msg_EditShowBuildMessage(const char *message) override;
  void msg_EditClearErrors() override;
  // Opens the file as EditFile does, only when a window is asked for.
  void msg_EditBuildErrorInFile(const char *fullPath, int line, bool openNewEditorWindowIfNeeded,
                                const char *errorMessage) override;
  void msg_EditNextErrorAvailable(bool isAvailable) override;
  void msg_EditPreviousErrorAvailable(bool isAvailable) override;
  void msg_EditFileRebuilt() override;

  // The command line that opens the first `count` names of `files` at
  // `line` (below 1: 1), from this kind's settings as they are now. Null
  // when count is below 1; otherwise a new string the caller frees with
  // gen_free.
  char *createCommand(const char *const *files, int count, int line) const;

  // Open connections of every kind; the module's exit condition allows exit
  // only at 0.
  static int _num_connections;

  // Keeps the requesting process's working directory, which it sent with
  // its connection request (the factory calls this when the connection is
  // accepted). A request that arrives while this process is still starting
  // is held until start-up is over, and by then a requester that sent it
  // and left (korvoctl) is forgotten.
  void noteRequester();

 protected:
  // Endpoints are released through delRef only.
  ~Basic_EditorService_Server() override;

 private:
  // The requesting process's plugin id while the router client knows it,
  // else -1.
  int requesterPlugin();
  // Where the editor starts: the noted directory, else the one the router
  // client gives for the connection's process now; null when unknown.
  const char *requesterDirectory();

  char *requesterCwd = nullptr;  // gen_copy; null until noted
};
