// The three outside-editor services, "Editor.Emacs", "Editor.Vi" and
// "Editor.Other": one server kind per editor, the module's exit condition
// and its factories.
//
// Each kind reads its path, xterm flag and argument format from the bound
// EditorService_Options at every call, so it follows the configuration as
// it changes. The module's process-wide objects (exit condition, then the
// factories for Emacs, Vi and Other) are built before main at the editor
// rank of the module order. One thread.
#pragma once

#include "services/editorservice/editor_server.h"
#include "services/editorservice/editorservice_options.h"
#include "services/support/service_module.h"

// Points every kind at the live settings (not owned; they must outlive the
// servers). Until bound, or after binding null, a kind has the path "", no
// xterm and no argument format.
void EditorService_SetOptions(const EditorService_Options *options);
const EditorService_Options *EditorService_GetOptions();

class Vi_EditorService_Server : public Basic_EditorService_Server {
 public:
  const char *getEditorCommand() const override;
  bool useXTerm() const override;
  const char *getArgumentFormat() const override;

 protected:
  ~Vi_EditorService_Server() override = default;
};

class Emacs_EditorService_Server : public Basic_EditorService_Server {
 public:
  const char *getEditorCommand() const override;
  bool useXTerm() const override;
  const char *getArgumentFormat() const override;

 protected:
  ~Emacs_EditorService_Server() override = default;
};

class Other_EditorService_Server : public Basic_EditorService_Server {
 public:
  const char *getEditorCommand() const override;
  bool useXTerm() const override;
  const char *getArgumentFormat() const override;

 protected:
  ~Other_EditorService_Server() override = default;
};

// The module's exit condition (allows exit only while no editor connection
// is open) and a factory per kind (a server of that kind per connection).
using EditorService_Server_ExitCondition = ServiceExitCondition<Basic_EditorService_Server>;
template <class Server>
class EditorService_ServiceFactory : public ServiceEndpointFactory<Server> {
 public:
  using ServiceEndpointFactory<Server>::ServiceEndpointFactory;
  void connectionAccepted(STPSpecClass *service) override {
    if (auto *server = dynamic_cast<Basic_EditorService_Server *>(service)) server->noteRequester();
  }
};
using Vi_EditorService_ServiceFactory = EditorService_ServiceFactory<Vi_EditorService_Server>;
using Emacs_EditorService_ServiceFactory = EditorService_ServiceFactory<Emacs_EditorService_Server>;
using Other_EditorService_ServiceFactory = EditorService_ServiceFactory<Other_EditorService_Server>;
