// defaultconfig: declaring configuration options with defaults on the
// WhiteBoard group "GeneralConfiguration", mirroring them into C variables,
// reading plain "name: value" configuration files, and the start-up
// connection of the process's configuration to the WhiteBoard.
//
// Option tables (_ConfigOption) are static arrays ending with a record whose
// name is null; the variables they point to are owned by the declaring
// module (a CFG_STRING variable owns a gen_copy heap string). The option and
// DefaultConfig registries are class-wide, built on first use (possibly
// during static initialisation) and kept until exit. One thread.
#pragma once

#include <vector>

#include "shared/libcxxutil/ut_string.h"

class WhiteBoard;

enum { CFG_BOOL = 0, CFG_INT = 1, CFG_STRING = 4 };

// One choice of a choice list; a list ends with an entry whose name is null.
struct _ConfigChoice {
  const char *name;
  const char *label;  // the same text as name
  int number;
};

struct _ConfigOption {
  const char *name;  // value name in "GeneralConfiguration"; null ends a table
  int type;          // CFG_BOOL, CFG_INT or CFG_STRING
  void *variable;    // bool*, int* or char** (owned heap string)
  const _ConfigChoice *choices;  // may be null
};

// One declared set of defaults of a group.
class DefaultConfig {
 public:
  // `group` is copied. Listed for PostInitRegisterDefaults while that has
  // not run yet.
  explicit DefaultConfig(const char *group);
  virtual ~DefaultConfig();
  DefaultConfig(const DefaultConfig &) = delete;
  DefaultConfig &operator=(const DefaultConfig &) = delete;

  // Hook run once by PostInitRegisterDefaults; empty here.
  virtual void InstallDefaultsCallback() {}

  // Record the default and the change callback (may be null) on the
  // WhiteBoard's class-wide registries and store the default into the
  // variable when one is given (strings: the old string is freed, a heap
  // copy stored; a null default stores null).
  void installDefaultBool(const char *name, bool value, void (*callback)(const char *, const char *),
                          bool *variable);
  void installDefaultInt(const char *name, int value, void (*callback)(const char *, const char *),
                         int *variable);
  void installDefaultString(const char *name, const char *value,
                            void (*callback)(const char *, const char *), char **variable);
  void installDefaultExecPath(const char *name, const char *value,
                              void (*callback)(const char *, const char *), char **variable);

  // Runs once: calls InstallDefaultsCallback of every listed object.
  static void PostInitRegisterDefaults();

  static std::vector<DefaultConfig *> *_allDefaultConfig;
  static bool _donePostInit;

 private:
  char *group_;  // owned (gen_free)
};

// Registry of options that configuration files may set.
class ConfigMicroParser {
 public:
  // Enters each record of `table` under its name (later tables replace).
  static void addOptionsToParse(const _ConfigOption *table);
  // The registered record of `name`, or null.
  static const _ConfigOption *findOption(const char *name);
  // Reads "name: value" lines of the file at `path` into the local copy of
  // "GeneralConfiguration" of `wb` (not sent). False for a null or empty
  // path, a null WhiteBoard or a file that cannot be opened; true without
  // opening the file when no option is registered.
  static bool parseAndLoadIntoWhiteBoard(const char *path, WhiteBoard *wb);
};

// Copies the WhiteBoard value of `name` into the option's variable. False
// when the name is not in `table`, the value is missing, or the type is
// unsupported (warned).
bool setNamedConfigOption(const char *name, const _ConfigOption *table);
// The variable of the CFG_STRING option `name` (owned by the option's
// module), or null.
const char *getNamedStringConfigOption(const char *name, const _ConfigOption *table);

// Start-up: connects the process's configuration to the WhiteBoard and
// loads the initial state. False (warned) on failure; the caller goes on.
bool Config_EstablishConnection();
bool Config_LoadInitialState();
bool Config_PreLoadFile(const char *path);
bool Config_Register();
bool Config_GetBool(const char *name, bool &value);
bool Config_GetInt(const char *name, int &value);
bool Config_GetString(const char *name, ut_string &value);
bool Config_SetBool(const char *name, bool value);
bool Config_SetInt(const char *name, int value);
bool Config_SetString(const char *name, const ut_string &value);
// Asks the server to merge the group into `filename` with suffix ".wbd"
// (filename must not be null).
bool Config_SaveChangesToFile(const char *filename);
