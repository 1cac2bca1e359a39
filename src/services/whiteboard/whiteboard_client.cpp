// whiteboard_client: the WhiteBoard client object, its class-wide registries
// of defaults and pending callbacks, and the client-side groups.
#include "services/whiteboard/whiteboard_client.h"

#include <memory>

#include "services/servicerouter_proxy/servicerouter_proxy.h"
#include "services/whiteboard/whiteboard_group_file.h"
#include "services/whiteboard/whiteboard_records.h"
#include "shared/gen_holder.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/stp_transport/stp_transport.h"

WhiteBoard *WhiteBoard::current_ = nullptr;

namespace {

const char *orEmpty(const char *s) { return s ? s : ""; }

// Class-wide registries: built on first use (possibly during static
// initialisation of another module), kept until exit.
template <class Inner>
std::map<ut_string, Inner> &defaults() {
  static std::map<ut_string, Inner> registry;
  return registry;
}

using PendingKey = std::pair<ut_string, ut_string>;
std::map<PendingKey, WhiteBoard_ChangeCallback> &pendingCallbacks() {
  static std::map<PendingKey, WhiteBoard_ChangeCallback> registry;
  return registry;
}

// Applies one type's defaults quietly to the groups of `wb`.
template <class Inner, class Apply>
void applyDefaults(WhiteBoard *wb, std::map<ut_string, GroupClient *> &groups, Apply apply) {
  for (auto &[group, names] : defaults<Inner>()) {
    GroupClient *&g = groups[group];
    if (!g) g = new GroupClient(group.c_str(), wb);
    for (auto &[name, value] : names) apply(g, name.c_str(), value);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// GroupClient

GroupClient::GroupClient(const char *name, WhiteBoard *owner) : Group(name), owner_(owner) {
  for (auto &[key, callback] : pendingCallbacks())
    if (key.first == ut_string(groupName_)) installChangeCallback(key.second.c_str(), callback);
}

GroupClient::~GroupClient() = default;

bool GroupClient::setBoolValue(const char *name, bool value, bool quiet) {
  if (!Group::setBoolValue(name, value, quiet)) return false;
  boolObservers_.forEach([&](WhiteBoard_BoolObserver f) { f(groupName_, name, value); });
  if (!quiet) notifyChange(name);
  return true;
}

bool GroupClient::setInt32Value(const char *name, int value, bool quiet) {
  if (!Group::setInt32Value(name, value, quiet)) return false;
  intObservers_.forEach([&](WhiteBoard_IntObserver f) { f(groupName_, name, value); });
  if (!quiet) notifyChange(name);
  return true;
}

bool GroupClient::setStringValue(const char *name, const char *value, bool quiet) {
  if (!Group::setStringValue(name, value, quiet)) return false;
  stringObservers_.forEach(
      [&](WhiteBoard_StringObserver f) { f(groupName_, name, orEmpty(value)); });
  if (!quiet) notifyChange(name);
  return true;
}

bool GroupClient::setStringListValue(const char *name, const ut_string_list &value, bool quiet) {
  if (!Group::setStringListValue(name, value, quiet)) return false;
  stringListObservers_.forEach(
      [&](WhiteBoard_StringListObserver f) { f(groupName_, name, value); });
  if (!quiet) notifyChange(name);
  return true;
}

bool GroupClient::deleteName(const char *name, WhiteBoard_Type type, bool quiet) {
  if (!Group::deleteName(name, type, quiet)) return false;
  deleteObservers_.forEach([&](WhiteBoard_DeleteObserver f) { f(groupName_, name, type); });
  if (!quiet) notifyChange(name);
  return true;
}

void GroupClient::installChangeCallback(const char *name, WhiteBoard_ChangeCallback callback) {
  // multimap keeps equal keys in insertion order.
  if (callback) callbacks_.emplace(ut_string(orEmpty(name)), callback);
}

void GroupClient::installFuncForBoolChanges(WhiteBoard_BoolObserver f) {
  if (f) boolObservers_.append(f);
}
void GroupClient::installFuncForIntChanges(WhiteBoard_IntObserver f) {
  if (f) intObservers_.append(f);
}
void GroupClient::installFuncForStringChanges(WhiteBoard_StringObserver f) {
  if (f) stringObservers_.append(f);
}
void GroupClient::installFuncForStringListChanges(WhiteBoard_StringListObserver f) {
  if (f) stringListObservers_.append(f);
}
void GroupClient::installFuncForDeleteEvents(WhiteBoard_DeleteObserver f) {
  if (f) deleteObservers_.append(f);
}

bool GroupClient::removeFuncForBoolChanges(WhiteBoard_BoolObserver f) {
  return boolObservers_.remove(f);
}

void GroupClient::notifyChange(const char *name) {
  // Callbacks are copied first: one may install another while running.
  std::vector<WhiteBoard_ChangeCallback> run;
  auto exact = callbacks_.equal_range(ut_string(orEmpty(name)));
  for (auto it = exact.first; it != exact.second; ++it) run.push_back(it->second);
  if (name && *name) {
    auto any = callbacks_.equal_range(ut_string(""));
    for (auto it = any.first; it != any.second; ++it) run.push_back(it->second);
  }
  for (WhiteBoard_ChangeCallback cb : run) cb(groupName_, name);
}

void GroupClient::sendAllData() {
  if (!owner_) return;
  for (auto &[name, v] : bools_) {
    BoolValueInfo rec{groupName_, const_cast<char *>(name.c_str()), v};
    owner_->send_ChangeBoolValue(rec);
  }
  for (auto &[name, v] : int32s_) {
    Int32ValueInfo rec{groupName_, const_cast<char *>(name.c_str()), v};
    owner_->send_ChangeInt32Value(rec);
  }
  for (auto &[name, v] : strings_) {
    StringValueInfo rec{groupName_, const_cast<char *>(name.c_str()),
                        const_cast<char *>(v.c_str())};
    owner_->send_ChangeStringValue(rec);
  }
  for (auto &[name, v] : stringLists_) {
    StringListValueInfo rec;
    WB_FillRecord(rec, groupName_, name.c_str(), v);
    owner_->send_ChangeStringListValue(rec);
    WhiteBoard_StringListValueInfo_free(&rec);
  }
}

// ---------------------------------------------------------------------------
// WhiteBoard: construction, class-wide operations

WhiteBoard::WhiteBoard() {
  applyDefaults<NameBoolMap>(this, groups_, [](GroupClient *g, const char *n, bool v) {
    g->setBoolValue(n, v, true);
  });
  applyDefaults<NameInt32Map>(this, groups_, [](GroupClient *g, const char *n, int v) {
    g->setInt32Value(n, v, true);
  });
  applyDefaults<NameStringMap>(this, groups_, [](GroupClient *g, const char *n,
                                                 const ut_string &v) {
    g->setStringValue(n, v.c_str(), true);
  });
  applyDefaults<NameStringListMap>(this, groups_, [](GroupClient *g, const char *n,
                                                     const ut_string_list &v) {
    g->setStringListValue(n, v, true);
  });
}

WhiteBoard::~WhiteBoard() {
  for (auto &[name, g] : groups_) delete g;
  groups_.clear();
  if (current_ == this) current_ = nullptr;
}

WhiteBoard *WhiteBoard::getWhiteBoard() {
  if (!current_) current_ = new WhiteBoard;
  return current_;
}

WhiteBoard *WhiteBoard::establishWhiteBoardConnection(RetryHandler *rh) {
  if (current_ && current_->connected_) return current_;
  if (!servicerouter_proxy) return nullptr;
  WhiteBoard *wb = getWhiteBoard();
  if (servicerouter_proxy->getServiceConnection("WhiteBoard", wb, nullptr, nullptr, rh, nullptr,
                                                false, false, false)) {
    wb->connected_ = true;
    return wb;
  }
  current_ = nullptr;
  wb->delRef();
  return nullptr;
}

void WhiteBoard::shutdownWhiteBoard() {
  WhiteBoard *wb = current_;
  if (!wb) return;
  if (servicerouter_proxy && wb->connected_)
    servicerouter_proxy->dropServiceConnection(wb, nullptr, true);
  current_ = nullptr;
  wb->delRef();
}

void WhiteBoard::installDefaultBool(const char *group, const char *name, bool value) {
  defaults<NameBoolMap>()[orEmpty(group)][orEmpty(name)] = value;
}
void WhiteBoard::installDefaultInt(const char *group, const char *name, int value) {
  defaults<NameInt32Map>()[orEmpty(group)][orEmpty(name)] = value;
}
void WhiteBoard::installDefaultString(const char *group, const char *name, const char *value) {
  defaults<NameStringMap>()[orEmpty(group)][orEmpty(name)] = ut_string(orEmpty(value));
}
void WhiteBoard::installDefaultStringList(const char *group, const char *name,
                                          const ut_string_list &value) {
  defaults<NameStringListMap>()[orEmpty(group)][orEmpty(name)] = value;
}

void WhiteBoard::installChangeCallback(const char *group, const char *name,
                                       WhiteBoard_ChangeCallback callback) {
  if (!callback) return;
  pendingCallbacks()[PendingKey(orEmpty(group), orEmpty(name))] = callback;
}

// ---------------------------------------------------------------------------
// WhiteBoard: groups and registration

GroupClient *WhiteBoard::getGroup(const char *group) const {
  auto it = groups_.find(ut_string(orEmpty(group)));
  return it == groups_.end() ? nullptr : it->second;
}

GroupClient *WhiteBoard::findOrCreateGroup(const char *group) {
  GroupClient *&g = groups_[ut_string(orEmpty(group))];
  if (!g) g = new GroupClient(orEmpty(group), this);
  return g;
}

bool WhiteBoard::registerGroup(const char *group, bool broadcast_changes, bool use_disk,
                               const char *use_filename, bool request_changes) {
  GroupClient *g = getGroup(group);
  std::unique_ptr<GroupClient> made;  // a new group, until it is listed
  if (!g) {
    made = std::make_unique<GroupClient>(orEmpty(group), this);
    g = made.get();
  }
  send_RegisterGroup(group, broadcast_changes, use_disk, use_filename);
  if (use_disk || use_filename) {
    GenString path(use_filename ? gen_copy(use_filename) : getGroupPathFromGroupName(group));
    if (!path || !g->loadFromFile(path.get())) return false;
  }
  if (made) groups_[ut_string(orEmpty(group))] = made.release();
  return request_changes ? requestChangesInGroup(group, nullptr) : true;
}

// ---------------------------------------------------------------------------
// WhiteBoard: reads and writes of the local copy

bool WhiteBoard::getBool(const char *group, const char *name, bool &value) const {
  GroupClient *g = getGroup(group);
  return g && g->getBoolValue(name, value);
}
bool WhiteBoard::getInt(const char *group, const char *name, int &value) const {
  GroupClient *g = getGroup(group);
  return g && g->getInt32Value(name, value);
}
bool WhiteBoard::getString(const char *group, const char *name, ut_string &value) const {
  GroupClient *g = getGroup(group);
  return g && g->getStringValue(name, value);
}
bool WhiteBoard::getStringList(const char *group, const char *name, ut_string_list &value) const {
  GroupClient *g = getGroup(group);
  return g && g->getStringListValue(name, value);
}

bool WhiteBoard::setBool(const char *group, const char *name, bool value, bool send) {
  bool old;
  if (getBool(group, name, old) && old == value) return true;
  internalSetBool(group, name, value);
  if (!send) return true;
  BoolValueInfo rec{const_cast<char *>(group), const_cast<char *>(name), value};
  TStat st;
  return send_ChangeBoolValue(rec, false, nullptr, &st);
}

bool WhiteBoard::setInt(const char *group, const char *name, int value, bool send) {
  int old;
  if (getInt(group, name, old) && old == value) return true;
  internalSetInt(group, name, value);
  if (!send) return true;
  Int32ValueInfo rec{const_cast<char *>(group), const_cast<char *>(name), value};
  TStat st;
  return send_ChangeInt32Value(rec, false, nullptr, &st);
}

bool WhiteBoard::setString(const char *group, const char *name, const ut_string &value,
                           bool send) {
  ut_string old;
  if (getString(group, name, old) && old == value) return true;
  internalSetString(group, name, value.c_str());
  if (!send) return true;
  StringValueInfo rec{const_cast<char *>(group), const_cast<char *>(name),
                      const_cast<char *>(value.c_str())};
  TStat st;
  return send_ChangeStringValue(rec, false, nullptr, &st);
}

bool WhiteBoard::setStringList(const char *group, const char *name, const ut_string_list &value,
                               bool send) {
  ut_string_list old;
  if (getStringList(group, name, old) && old == value) return true;
  internalSetStringList(group, name, value);
  if (!send) return true;
  StringListValueInfo rec;
  WB_FillRecord(rec, group, name, value);
  TStat st;
  bool ok = send_ChangeStringListValue(rec, false, nullptr, &st);
  WhiteBoard_StringListValueInfo_free(&rec);
  return ok;
}

bool WhiteBoard::deleteName(const char *group, const char *name, WhiteBoard_Type type,
                            bool send) {
  GroupClient *g = getGroup(group);
  if (!g) return true;
  bool b;
  int i;
  ut_string s;
  ut_string_list l;
  bool any = type == WB_ANY;
  bool held = ((any || type == WB_BOOL) && g->getBoolValue(name, b)) ||
              ((any || type == WB_INT32) && g->getInt32Value(name, i)) ||
              ((any || type == WB_STRING) && g->getStringValue(name, s)) ||
              ((any || type == WB_STRINGLIST) && g->getStringListValue(name, l));
  if (!held) return true;
  internalDeleteName(group, name, type);
  if (!send) return true;
  TStat st;
  return send_DeleteName(group, name, type, false, nullptr, &st);
}

void WhiteBoard::internalSetBool(const char *group, const char *name, bool value) {
  findOrCreateGroup(group)->setBoolValue(name, value, false);
}
void WhiteBoard::internalSetInt(const char *group, const char *name, int value) {
  findOrCreateGroup(group)->setInt32Value(name, value, false);
}
void WhiteBoard::internalSetString(const char *group, const char *name, const char *value) {
  findOrCreateGroup(group)->setStringValue(name, value, false);
}
void WhiteBoard::internalSetStringList(const char *group, const char *name,
                                       const ut_string_list &value) {
  findOrCreateGroup(group)->setStringListValue(name, value, false);
}
void WhiteBoard::internalDeleteName(const char *group, const char *name, WhiteBoard_Type type) {
  if (GroupClient *g = getGroup(group)) g->deleteName(name, type, false);
}

// ---------------------------------------------------------------------------
// WhiteBoard: snapshots and incoming messages

bool WhiteBoard::requestAllChanges(RetryHandler *rh) {
  TStat st;
  if (!send_RequestAllChanges(false, rh, &st)) return false;
  return awaitChanges(rh);
}

bool WhiteBoard::requestChangesInGroup(const char *group, RetryHandler *rh) {
  TStat st;
  if (!send_RequestChangesInGroup(group, false, rh, &st)) return false;
  return awaitChanges(rh);
}

bool WhiteBoard::awaitChanges(RetryHandler *rh) {
  STPTransport *t = getTransport();
  if (!t) return false;
  // Held so that a connection dropped during the wait cannot free the
  // transport under the loop.
  STPTransportHold hold(t);
  STPTransportStacker stacker(t);
  changesReceived_ = false;
  if (rh) rh->beginOp();
  for (;;) {
    if (rh) {
      rh->idle();
    } else {
      TStat st;
      t->serviceOnce(4000, &st);
    }
    if (changesReceived_ || t->isDead() || isDown()) break;
    if (rh && !rh->retryOp()) break;
  }
  if (rh) rh->completedOp();
  return changesReceived_;
}

void WhiteBoard::msg_SetBoolValue(BoolValueInfo &info) {
  internalSetBool(info._group, info._name, info._value);
}
void WhiteBoard::msg_SetInt32Value(Int32ValueInfo &info) {
  internalSetInt(info._group, info._name, info._value);
}
void WhiteBoard::msg_SetStringValue(StringValueInfo &info) {
  internalSetString(info._group, info._name, info._value);
}
void WhiteBoard::msg_SetStringListValue(StringListValueInfo &info) {
  internalSetStringList(info._group, info._name, info._value);
}

void WhiteBoard::msg_DeleteEvent(const char *group, const char *name, int type) {
  if (!WhiteBoard_IsValidType(type)) return;
  internalDeleteName(group, name, static_cast<WhiteBoard_Type>(type));
}

void WhiteBoard::msg_Changes(BoolValueInfoArray &b, Int32ValueInfoArray &i,
                             StringValueInfoArray &s, StringListValueInfoArray &l) {
  for (int k = 0; k < b._count && b._info; ++k) msg_SetBoolValue(b._info[k]);
  for (int k = 0; k < i._count && i._info; ++k) msg_SetInt32Value(i._info[k]);
  for (int k = 0; k < s._count && s._info; ++k) msg_SetStringValue(s._info[k]);
  for (int k = 0; k < l._count && l._info; ++k) msg_SetStringListValue(l._info[k]);
  changesReceived_ = true;
}

// ---------------------------------------------------------------------------
// WhiteBoard: observers and files

bool WhiteBoard::registerFuncForBoolChanges(const char *group, WhiteBoard_BoolObserver f) {
  findOrCreateGroup(group)->installFuncForBoolChanges(f);
  return true;
}
bool WhiteBoard::registerFuncForIntChanges(const char *group, WhiteBoard_IntObserver f) {
  findOrCreateGroup(group)->installFuncForIntChanges(f);
  return true;
}
bool WhiteBoard::registerFuncForStringChanges(const char *group, WhiteBoard_StringObserver f) {
  findOrCreateGroup(group)->installFuncForStringChanges(f);
  return true;
}
bool WhiteBoard::registerFuncForStringListChanges(const char *group,
                                                  WhiteBoard_StringListObserver f) {
  findOrCreateGroup(group)->installFuncForStringListChanges(f);
  return true;
}
bool WhiteBoard::registerFuncForDeleteEvents(const char *group, WhiteBoard_DeleteObserver f) {
  findOrCreateGroup(group)->installFuncForDeleteEvents(f);
  return true;
}

bool WhiteBoard::preLoadGroupFile(const char *group, const char *path) {
  GroupClient *g = findOrCreateGroup(group);
  Group file(orEmpty(group));
  if (!file.loadFromFile(path)) return false;
  g->mergeChangesFromGroup(file);
  return true;
}

bool WhiteBoard::loadGroupFromFile(const char *group, const char *path) {
  auto it = groups_.find(ut_string(orEmpty(group)));
  if (it != groups_.end()) {
    delete it->second;
    groups_.erase(it);
  }
  auto g = std::make_unique<GroupClient>(orEmpty(group), this);
  if (!g->loadFromFile(path)) return false;
  groups_[ut_string(orEmpty(group))] = g.release();
  return true;
}

bool WhiteBoard::saveGroupChangesToFile(const char *group, const char *filename) {
  if (getGroup(group)) send_SaveGroupChangesToFile(group, filename);
  return true;
}
