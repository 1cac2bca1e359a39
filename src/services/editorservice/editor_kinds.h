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
#include "services/servicerouter_proxy/service_factory.h"
#include "services/state/svc_eventloop.h"

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

// Allows exit only while no editor connection is open.
class EditorService_Server_ExitCondition : public ExitCondition {
 public:
  explicit EditorService_Server_ExitCondition(bool installGlobally)
      : ExitCondition(installGlobally) {}
  bool allowExit() override;
  bool mustExit() override;
};

// Makes a `Server` per connection; getService returns it bound to the
// transport with the RN pair, carrying the creation reference (never null).
template <class Server>
class EditorService_ServiceFactory : public ServiceFactory {
 public:
  EditorService_ServiceFactory(const char *name, int maxConnections, bool registerGlobally)
      : ServiceFactory(name, maxConnections, registerGlobally) {}
  STPSpecClass *getService(STPTransport *transport, int localRN, int remoteRN) override {
    return ServiceFactory_NewEndpoint<Server>(transport, localRN, remoteRN);
  }
};

class Vi_EditorService_ServiceFactory
    : public EditorService_ServiceFactory<Vi_EditorService_Server> {
  using EditorService_ServiceFactory::EditorService_ServiceFactory;
};
class Emacs_EditorService_ServiceFactory
    : public EditorService_ServiceFactory<Emacs_EditorService_Server> {
  using EditorService_ServiceFactory::EditorService_ServiceFactory;
};
class Other_EditorService_ServiceFactory
    : public EditorService_ServiceFactory<Other_EditorService_Server> {
  using EditorService_ServiceFactory::EditorService_ServiceFactory;
};
