// defaultconfig: DefaultConfig, the configuration-file reader and the
// Config_ functions over the WhiteBoard group "GeneralConfiguration".
#include "windlib/config/defaultconfig.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <unistd.h>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "services/whiteboard/whiteboard_client.h"
#include "shared/gen_holder.h"
#include "shared/indgen.h"

std::vector<DefaultConfig *> *DefaultConfig::_allDefaultConfig = nullptr;
bool DefaultConfig::_donePostInit = false;

namespace {

const char kGroup[] = "GeneralConfiguration";

std::map<ut_string, const _ConfigOption *> *&optionRegistry() {
  static std::map<ut_string, const _ConfigOption *> *registry = nullptr;
  return registry;
}

void replaceString(char **variable, const char *value) {
  if (*variable) gen_free(*variable);
  *variable = gen_copy(value);
}

// One "key: value" line; skipped silently when it does not fit.
void parseLine(const char *line, WhiteBoard *wb) {
  if (line[0] == '#') return;
  const char *colon = strchr(line, ':');
  if (!colon) return;
  ut_string key(line, static_cast<int>(colon - line));
  const char *value = colon + 1;
  while (*value == ' ' || *value == '\t') ++value;
  if (!*value || !ConfigMicroParser::findOption(key.c_str())) return;
  if (*value == '"') {
    GenString text(gen_dequotify_string(value));
    if (text) wb->setString(kGroup, key.c_str(), ut_string(text.get()), false);
  } else if (isdigit(static_cast<unsigned char>(*value))) {
    wb->setInt(kGroup, key.c_str(), static_cast<int>(gen_strtoul(value, nullptr, 0)), false);
  } else if (strcmp(value, "On") == 0) {
    wb->setBool(kGroup, key.c_str(), true, false);
  } else if (strcmp(value, "Off") == 0) {
    wb->setBool(kGroup, key.c_str(), false, false);
  }
}

// The configuration file of `dir` ("korvo" as base name), preloaded.
void preloadFrom(const char *dir) {
  if (!dir) return;
  GenString path(gen_createconfigfilename(dir, "korvo", true, false));
  Config_PreLoadFile(path.get());
}

}  // namespace

// ---------------------------------------------------------------------------
// DefaultConfig

DefaultConfig::DefaultConfig(const char *group) : group_(gen_copy(group ? group : "")) {
  if (_donePostInit) return;
  if (!_allDefaultConfig) _allDefaultConfig = new std::vector<DefaultConfig *>;
  _allDefaultConfig->push_back(this);
}

DefaultConfig::~DefaultConfig() {
  gen_free(group_);
  if (_allDefaultConfig) {
    auto &all = *_allDefaultConfig;
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
  }
}

void DefaultConfig::installDefaultBool(const char *name, bool value,
                                       void (*callback)(const char *, const char *),
                                       bool *variable) {
  WhiteBoard::installDefaultBool(group_, name, value);
  WhiteBoard::installChangeCallback(group_, name, callback);
  if (variable) *variable = value;
}

void DefaultConfig::installDefaultInt(const char *name, int value,
                                      void (*callback)(const char *, const char *),
                                      int *variable) {
  WhiteBoard::installDefaultInt(group_, name, value);
  WhiteBoard::installChangeCallback(group_, name, callback);
  if (variable) *variable = value;
}

void DefaultConfig::installDefaultString(const char *name, const char *value,
                                         void (*callback)(const char *, const char *),
                                         char **variable) {
  WhiteBoard::installDefaultString(group_, name, value);
  WhiteBoard::installChangeCallback(group_, name, callback);
  if (variable) replaceString(variable, value);
}

void DefaultConfig::installDefaultExecPath(const char *name, const char *value,
                                           void (*callback)(const char *, const char *),
                                           char **variable) {
  installDefaultString(name, value, callback, variable);
}

void DefaultConfig::PostInitRegisterDefaults() {
  if (_donePostInit) return;
  _donePostInit = true;
  if (!_allDefaultConfig) return;
  std::vector<DefaultConfig *> listed = *_allDefaultConfig;  // a hook may add or remove
  for (DefaultConfig *d : listed) d->InstallDefaultsCallback();
}

// ---------------------------------------------------------------------------
// Option tables and the file reader

void ConfigMicroParser::addOptionsToParse(const _ConfigOption *table) {
  auto *&registry = optionRegistry();
  if (!registry) registry = new std::map<ut_string, const _ConfigOption *>;
  for (const _ConfigOption *o = table; o && o->name; ++o) (*registry)[ut_string(o->name)] = o;
}

const _ConfigOption *ConfigMicroParser::findOption(const char *name) {
  auto *registry = optionRegistry();
  if (!registry || !name) return nullptr;
  auto it = registry->find(ut_string(name));
  return it == registry->end() ? nullptr : it->second;
}

bool ConfigMicroParser::parseAndLoadIntoWhiteBoard(const char *path, WhiteBoard *wb) {
  if (!path || !*path || !wb) return false;
  if (!optionRegistry() || optionRegistry()->empty()) return true;
  FILE *f = fopen(path, "r");
  if (!f) return false;
  char *buffer = nullptr;
  int size = 0;
  while (const char *line = gen_getline(f, &buffer, &size)) parseLine(line, wb);
  gen_free(buffer);
  fclose(f);
  return true;
}

bool setNamedConfigOption(const char *name, const _ConfigOption *table) {
  const _ConfigOption *o = table;
  while (o && o->name && !(name && strcmp(o->name, name) == 0)) ++o;
  if (!o || !o->name) return false;
  switch (o->type) {
    case CFG_BOOL:
      return Config_GetBool(name, *static_cast<bool *>(o->variable));
    case CFG_INT:
      return Config_GetInt(name, *static_cast<int *>(o->variable));
    case CFG_STRING: {
      ut_string value;
      if (!Config_GetString(name, value)) return false;
      replaceString(static_cast<char **>(o->variable), value.c_str());
      return true;
    }
    default:
      gen_warning("Unsupported/unknown type for configuration option.\n");
      return false;
  }
}

const char *getNamedStringConfigOption(const char *name, const _ConfigOption *table) {
  for (const _ConfigOption *o = table; o && o->name; ++o)
    if (name && strcmp(o->name, name) == 0)
      return o->type == CFG_STRING ? *static_cast<char **>(o->variable) : nullptr;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Config_ functions

bool Config_EstablishConnection() {
  DefaultConfig::PostInitRegisterDefaults();
  if (!servicerouter_proxy) return false;
  if (!WhiteBoard::establishWhiteBoardConnection(nullptr)) {
    gen_warning("Unable to get connection to WhiteBoard.\n");
    return false;
  }
  if (!Config_LoadInitialState()) {
    gen_warning("Unable to load initial configuration state.\n");
    return false;
  }
  return true;
}

bool Config_LoadInitialState() {
  static bool done = false;
  if (done) return true;
  done = true;
  WhiteBoard *wb = WhiteBoard::getWhiteBoard();
  if (!wb) {
    gen_warning("Unable to get connection to WhiteBoard.\n");
    return false;
  }
  preloadFrom(gen_getsiteconfigdir());
  preloadFrom(gen_getuserconfigdir(false, nullptr));
  if (!Config_Register()) {
    gen_warning("Unable to register group GeneralConfiguration");
    return false;
  }
  return true;
}

bool Config_PreLoadFile(const char *path) {
  if (!path) return true;
  return ConfigMicroParser::parseAndLoadIntoWhiteBoard(path, WhiteBoard::getWhiteBoard());
}

bool Config_Register() {
  return WhiteBoard::getWhiteBoard()->registerGroup(kGroup, true, false, nullptr, true);
}

bool Config_GetBool(const char *name, bool &value) {
  return WhiteBoard::getWhiteBoard()->getBool(kGroup, name, value);
}
bool Config_GetInt(const char *name, int &value) {
  return WhiteBoard::getWhiteBoard()->getInt(kGroup, name, value);
}
bool Config_GetString(const char *name, ut_string &value) {
  return WhiteBoard::getWhiteBoard()->getString(kGroup, name, value);
}

bool Config_SetBool(const char *name, bool value) {
  const _ConfigOption *o = ConfigMicroParser::findOption(name);
  if (o && o->type == CFG_BOOL) *static_cast<bool *>(o->variable) = value;
  return WhiteBoard::getWhiteBoard()->setBool(kGroup, name, value, true);
}

bool Config_SetInt(const char *name, int value) {
  const _ConfigOption *o = ConfigMicroParser::findOption(name);
  if (o && o->type == CFG_INT) *static_cast<int *>(o->variable) = value;
  return WhiteBoard::getWhiteBoard()->setInt(kGroup, name, value, true);
}

bool Config_SetString(const char *name, const ut_string &value) {
  const _ConfigOption *o = ConfigMicroParser::findOption(name);
  if (o && o->type == CFG_STRING) replaceString(static_cast<char **>(o->variable), value.c_str());
  return WhiteBoard::getWhiteBoard()->setString(kGroup, name, value, true);
}

bool Config_SaveChangesToFile(const char *filename) {
  GenString path(gen_changesuffix(filename, ".wbd"));
  return WhiteBoard::getWhiteBoard()->saveGroupChangesToFile(kGroup, path.get());
}
