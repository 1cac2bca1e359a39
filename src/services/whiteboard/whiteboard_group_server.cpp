// GroupServer: flags, file name and snapshots.
#include "services/whiteboard/whiteboard_group_server.h"

#include "services/whiteboard/whiteboard_records.h"
#include "shared/indgen.h"

GroupServer::GroupServer(const char *name, bool useDisk, const char *fileName)
    : Group(name), useDisk_(useDisk), fileName_(gen_copy(fileName)) {}

GroupServer::~GroupServer() = default;

void GroupServer::useFilename(const char *fileName) { fileName_.reset(gen_copy(fileName)); }

void GroupServer::buildBoolChanges(std::vector<BoolValueInfo> &out) const {
  for (const auto &[name, value] : bools_) {
    out.emplace_back();
    WB_FillRecord(out.back(), groupName_, name.c_str(), value);
  }
}

void GroupServer::buildInt32Changes(std::vector<Int32ValueInfo> &out) const {
  for (const auto &[name, value] : int32s_) {
    out.emplace_back();
    WB_FillRecord(out.back(), groupName_, name.c_str(), value);
  }
}

void GroupServer::buildStringChanges(std::vector<StringValueInfo> &out) const {
  for (const auto &[name, value] : strings_) {
    out.emplace_back();
    WB_FillRecord(out.back(), groupName_, name.c_str(), value.c_str());
  }
}

void GroupServer::buildStringListChanges(std::vector<StringListValueInfo> &out) const {
  for (const auto &[name, value] : stringLists_) {
    out.emplace_back();
    WB_FillRecord(out.back(), groupName_, name.c_str(), value);
  }
}
