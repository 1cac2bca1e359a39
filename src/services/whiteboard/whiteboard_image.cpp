// WhiteBoard_Image: groups, subscriptions, change fan-out and snapshots.
#include "services/whiteboard/whiteboard_image.h"

#include <cstring>

#include "services/whiteboard/whiteboard_group_file.h"
#include "services/whiteboard/whiteboard_records.h"
#include "services/support/service_limits.h"
#include "shared/gen_holder.h"
#include "shared/indgen.h"

namespace {

bool usable(const char *s) { return s && *s; }

size_t listCost(const ut_string_list &list) {
  size_t cost = 0;
  for (const ut_string &item : list) cost += ServiceLimits_Cost(item.c_str());
  return cost;
}

bool listFits(const ut_string_list &list) {
  for (const ut_string &item : list)
    if (!ServiceLimits_StringFits(item.c_str())) return false;
  return true;
}

// What the value of `type` under `name` costs in `g`, 0 when there is none.
size_t entryCost(const Group &g, const char *name, WhiteBoard_Type type) {
  bool b;
  int i;
  ut_string s;
  ut_string_list l;
  size_t base = ServiceLimits_Cost(name);
  switch (type) {
    case WB_BOOL: return g.getBoolValue(name, b) ? base : 0;
    case WB_INT32: return g.getInt32Value(name, i) ? base : 0;
    case WB_STRING: return g.getStringValue(name, s) ? base + s.length() : 0;
    case WB_STRINGLIST: return g.getStringListValue(name, l) ? base + listCost(l) : 0;
    case WB_ANY:
      return entryCost(g, name, WB_BOOL) + entryCost(g, name, WB_INT32) +
             entryCost(g, name, WB_STRING) + entryCost(g, name, WB_STRINGLIST);
  }
  return 0;
}

}  // namespace

WhiteBoard_Image::~WhiteBoard_Image() {
  // The directory is only asked for (and so created) when there is
  // something to save.
  bool anyDisk = false;
  for (const auto &entry : groups_) anyDisk |= entry.second->shouldSaveToFile();
  const char *dir = anyDisk ? getWhiteBoardDirectory() : nullptr;
  for (auto &[name, group] : groups_) {
    if (dir && group->shouldSaveToFile()) {
      // Always the default file, also for a group with a file of its own.
      GenString path(getGroupPathFromGroupName(name.c_str()));
      // The directory only: the file name holds a client's group name.
      if (path && !group->saveToFile(path.get()))
        gen_warning("could not save a WhiteBoard group file in %s", dir);
    }
  }
  subscriptions_.clear();
  groups_.clear();
}

bool WhiteBoard_Image::setupGroup(const char *groupName, bool broadcastChanges, bool useDisk,
                                  const char *fileName, WhiteBoard_Subscriber *connection) {
  if (!usable(groupName)) return false;
  GroupServer *group = getGroup(groupName);
  if (!group) {
    auto made = std::make_unique<GroupServer>(groupName, useDisk, fileName);
    group = made.get();
    groups_.emplace(ut_string(groupName), std::move(made));
    bytes_ += ServiceLimits_Cost(groupName);
  } else if (useDisk) {
    group->useDisk(true);
    if (fileName) group->useFilename(fileName);
  }
  if (broadcastChanges) subscriptions_[group].append(connection);
  return true;
}

GroupServer *WhiteBoard_Image::getGroup(const char *groupName) const {
  if (!groupName) return nullptr;
  auto it = groups_.find(ut_string(groupName));
  return it == groups_.end() ? nullptr : it->second.get();
}

bool WhiteBoard_Image::getBoolValue(const char *group, const char *name, bool &value) const {
  GroupServer *g = getGroup(group);
  return g && g->getBoolValue(name, value);
}

bool WhiteBoard_Image::getInt32Value(const char *group, const char *name, int &value) const {
  GroupServer *g = getGroup(group);
  return g && g->getInt32Value(name, value);
}

bool WhiteBoard_Image::getStringValue(const char *group, const char *name, ut_string &value) const {
  GroupServer *g = getGroup(group);
  return g && g->getStringValue(name, value);
}

bool WhiteBoard_Image::getStringListValue(const char *group, const char *name,
                                          ut_string_list &value) const {
  GroupServer *g = getGroup(group);
  return g && g->getStringListValue(name, value);
}

// Sends through `send` to every subscriber of `group` but `sender`, in
// subscription order. A send may end a connection, which then leaves the
// subscriptions and is skipped by the rest of the walk.
template <class Send>
void WhiteBoard_Image::fanOut(GroupServer *group, WhiteBoard_Subscriber *sender, Send send) {
  auto it = subscriptions_.find(group);
  if (it == subscriptions_.end()) return;
  it->second.forEach([&](WhiteBoard_Subscriber *target) {
    if (target != sender) send(target);
  });
}

bool WhiteBoard_Image::setBoolValue(const char *group, const char *name, bool value,
                                    WhiteBoard_Subscriber *sender) {
  GroupServer *g = getGroup(group);
  if (!g || !usable(name)) return false;
  bytes_ -= entryCost(*g, name, WB_BOOL);
  g->setBoolValue(name, value, false);
  bytes_ += entryCost(*g, name, WB_BOOL);
  BoolValueInfo info;
  WB_FillRecord(info, group, name, value);
  WhiteBoard_Encoded encoded;
  fanOut(g, sender, [&](WhiteBoard_Subscriber *s) { s->sendSetValue(info, encoded); });
  WhiteBoard_BoolValueInfo_free(&info);
  return true;
}

bool WhiteBoard_Image::setInt32Value(const char *group, const char *name, int value,
                                     WhiteBoard_Subscriber *sender) {
  GroupServer *g = getGroup(group);
  if (!g || !usable(name)) return false;
  bytes_ -= entryCost(*g, name, WB_INT32);
  g->setInt32Value(name, value, false);
  bytes_ += entryCost(*g, name, WB_INT32);
  Int32ValueInfo info;
  WB_FillRecord(info, group, name, value);
  WhiteBoard_Encoded encoded;
  fanOut(g, sender, [&](WhiteBoard_Subscriber *s) { s->sendSetValue(info, encoded); });
  WhiteBoard_Int32ValueInfo_free(&info);
  return true;
}

bool WhiteBoard_Image::setStringValue(const char *group, const char *name, const char *value,
                                      WhiteBoard_Subscriber *sender) {
  GroupServer *g = getGroup(group);
  if (!g || !usable(name)) return false;
  bytes_ -= entryCost(*g, name, WB_STRING);
  g->setStringValue(name, value, false);
  bytes_ += entryCost(*g, name, WB_STRING);
  StringValueInfo info;
  WB_FillRecord(info, group, name, value);
  WhiteBoard_Encoded encoded;
  fanOut(g, sender, [&](WhiteBoard_Subscriber *s) { s->sendSetValue(info, encoded); });
  WhiteBoard_StringValueInfo_free(&info);
  return true;
}

bool WhiteBoard_Image::setStringListValue(const char *group, const char *name,
                                          const ut_string_list &value,
                                          WhiteBoard_Subscriber *sender) {
  GroupServer *g = getGroup(group);
  if (!g || !usable(name)) return false;
  bytes_ -= entryCost(*g, name, WB_STRINGLIST);
  g->setStringListValue(name, value, false);
  bytes_ += entryCost(*g, name, WB_STRINGLIST);
  StringListValueInfo info;
  WB_FillRecord(info, group, name, value);
  WhiteBoard_Encoded encoded;
  fanOut(g, sender, [&](WhiteBoard_Subscriber *s) { s->sendSetValue(info, encoded); });
  WhiteBoard_StringListValueInfo_free(&info);
  return true;
}

bool WhiteBoard_Image::deleteName(const char *group, const char *name, WhiteBoard_Type type,
                                  WhiteBoard_Subscriber *sender) {
  GroupServer *g = getGroup(group);
  if (!g || !usable(name)) return false;
  size_t before = entryCost(*g, name, WB_ANY);
  if (!g->deleteName(name, type, false)) return false;
  bytes_ -= before - entryCost(*g, name, WB_ANY);
  WhiteBoard_Encoded encoded;
  fanOut(g, sender, [&](WhiteBoard_Subscriber *s) { s->sendDeleteEvent(group, name, type, encoded); });
  return true;
}

bool WhiteBoard_Image::fitsValue(const char *group, const char *name, WhiteBoard_Type type,
                                 size_t newCost) const {
  GroupServer *g = getGroup(group);
  if (!g || !usable(name)) return true;
  return bytes_ - entryCost(*g, name, type) + newCost <= kServiceMaxStoreBytes;
}

bool WhiteBoard_Image::fitsGroup(const char *groupName, const char *fileName) const {
  if (!ServiceLimits_StringFits(groupName) || !ServiceLimits_StringFits(fileName)) return false;
  if (!usable(groupName) || getGroup(groupName)) return true;
  return bytes_ + ServiceLimits_Cost(groupName) <= kServiceMaxStoreBytes;
}

bool WhiteBoard_Image::fitsBoolValue(const char *group, const char *name) const {
  return ServiceLimits_StringFits(name) && fitsValue(group, name, WB_BOOL, ServiceLimits_Cost(name));
}

bool WhiteBoard_Image::fitsInt32Value(const char *group, const char *name) const {
  return ServiceLimits_StringFits(name) &&
         fitsValue(group, name, WB_INT32, ServiceLimits_Cost(name));
}

bool WhiteBoard_Image::fitsStringValue(const char *group, const char *name,
                                       const char *value) const {
  if (!ServiceLimits_StringFits(name) || !ServiceLimits_StringFits(value)) return false;
  return fitsValue(group, name, WB_STRING,
                   ServiceLimits_Cost(name) + (value ? std::strlen(value) : 0));
}

bool WhiteBoard_Image::fitsStringListValue(const char *group, const char *name,
                                           const ut_string_list &value) const {
  if (!ServiceLimits_StringFits(name) || !listFits(value)) return false;
  return fitsValue(group, name, WB_STRINGLIST, ServiceLimits_Cost(name) + listCost(value));
}

bool WhiteBoard_Image::saveGroupToFile(const char *groupName, const char *fileName) {
  GroupServer *g = getGroup(groupName);
  return g && g->saveToFile(fileName);
}

std::vector<const GroupServer *> WhiteBoard_Image::groups(const char *onlyGroup) const {
  std::vector<const GroupServer *> out;
  if (onlyGroup) {
    if (const GroupServer *g = getGroup(onlyGroup)) out.push_back(g);
    return out;
  }
  out.reserve(groups_.size());
  for (const auto &entry : groups_) out.push_back(entry.second.get());
  return out;
}

void WhiteBoard_Image::removeReferences(WhiteBoard_Subscriber *connection) {
  // The group's list stays even when emptied: a fan-out may be walking it.
  for (auto &[group, subscribers] : subscriptions_) subscribers.removeAll(connection);
}

int WhiteBoard_Image::countSubscriptions(const char *groupName) const {
  GroupServer *g = getGroup(groupName);
  auto it = subscriptions_.find(g);
  return it == subscriptions_.end() ? 0 : it->second.size();
}
