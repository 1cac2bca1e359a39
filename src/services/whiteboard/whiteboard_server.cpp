// WhiteBoard_Server: handlers, fan-out sends, connection close, exit
// condition, factory and the module's process-wide objects.
#include "services/whiteboard/whiteboard_server.h"

#include "services/support/service_limits.h"
#include "services/whiteboard/whiteboard_records.h"
#include "shared/indgen.h"

int WhiteBoard_Server::_num_connections = 0;

// The module's objects, built before main in this order: the exit
// condition (installed globally), the empty store, the factory (registered
// globally; its place in the module order is the place of "WhiteBoard"
// among the service names sent to the router).
static WhiteBoard_Server_ExitCondition whiteboard_exit_condition
    KORVO_MODULE_ORDER(kModuleOrderWhiteBoardServer)(true);
WhiteBoard_Image WhiteBoard_Server::whiteboard_image KORVO_MODULE_ORDER(
    kModuleOrderWhiteBoardServer);

namespace {

// Destroyed just before the process-wide store. A connection released later
// than that (the router client's statics go after this module's) must not
// touch the store; its groups were saved by the store itself.
bool process_store_gone = false;
struct StoreGuard {
  ~StoreGuard() { process_store_gone = true; }
};

}  // namespace

static StoreGuard whiteboard_store_guard KORVO_MODULE_ORDER(kModuleOrderWhiteBoardServer);
static WhiteBoard_Server_ServiceFactory whiteboard_factory
    KORVO_MODULE_ORDER(kModuleOrderWhiteBoardServer)("WhiteBoard", -1, true);

WhiteBoard_Server_ServiceFactory *WhiteBoard_GetServiceFactory() { return &whiteboard_factory; }

WhiteBoard_Server::WhiteBoard_Server(WhiteBoard_Image *image) : image_(image) {
  ++_num_connections;
}

WhiteBoard_Server::~WhiteBoard_Server() {
  if (!(image_ == &whiteboard_image && process_store_gone)) {
    for (const ut_string &group : diskGroups_) image_->saveGroupToFile(group.c_str(), nullptr);
    image_->removeReferences(this);
  }
  --_num_connections;
}

void WhiteBoard_Server::msg_RegisterGroup(const char *groupname, bool broadcast_changes,
                                          bool use_disk, const char *use_filename) {
  if (!image_->fitsGroup(groupname, use_filename)) {
    ServiceLimits_Refuse(this, "[RegisterGroup]", "a name or the WhiteBoard would be too large");
    return;
  }
  if (!image_->setupGroup(groupname, broadcast_changes, use_disk, use_filename, this)) {
    gen_warning("[RegisterGroup] from %s: no group name given",
                ServiceLimits_SenderName(this).c_str());
    return;
  }
  if (use_disk) diskGroups_.push_back(groupname);
}

namespace {

constexpr char kTooLarge[] = "a name, a value or the WhiteBoard would be too large";

}  // namespace

void WhiteBoard_Server::msg_ChangeBoolValue(BoolValueInfo &info) {
  if (!image_->fitsBoolValue(info._group, info._name))
    return ServiceLimits_Refuse(this, "[ChangeBoolValue]", kTooLarge);
  image_->setBoolValue(info._group, info._name, info._value, this);
}

void WhiteBoard_Server::msg_ChangeInt32Value(Int32ValueInfo &info) {
  if (!image_->fitsInt32Value(info._group, info._name))
    return ServiceLimits_Refuse(this, "[ChangeInt32Value]", kTooLarge);
  image_->setInt32Value(info._group, info._name, info._value, this);
}

void WhiteBoard_Server::msg_ChangeStringValue(StringValueInfo &info) {
  if (!image_->fitsStringValue(info._group, info._name, info._value))
    return ServiceLimits_Refuse(this, "[ChangeStringValue]", kTooLarge);
  image_->setStringValue(info._group, info._name, info._value, this);
}

void WhiteBoard_Server::msg_ChangeStringListValue(StringListValueInfo &info) {
  if (!image_->fitsStringListValue(info._group, info._name, info._value))
    return ServiceLimits_Refuse(this, "[ChangeStringListValue]", kTooLarge);
  image_->setStringListValue(info._group, info._name, info._value, this);
}

void WhiteBoard_Server::msg_DeleteName(const char *group, const char *name, int type) {
  if (!WhiteBoard_IsValidType(type)) return;
  image_->deleteName(group, name, static_cast<WhiteBoard_Type>(type), this);
}

void WhiteBoard_Server::msg_RequestAllChanges() { sendChanges(nullptr); }

void WhiteBoard_Server::msg_RequestChangesInGroup(const char *groupname) {
  // A missing name asks for a group that cannot exist: four empty arrays.
  sendChanges(groupname ? groupname : "");
}

void WhiteBoard_Server::msg_SaveGroupChangesToFile(const char *groupname, const char *filename) {
  image_->saveGroupToFile(groupname, filename);  // no message carries a result
}

namespace {

// The values of one type of `groups` in order, moved into `out` (empty).
template <class Record, class Array>
void collectInto(const std::vector<const GroupServer *> &groups,
                 void (GroupServer::*build)(std::vector<Record> &) const, Array &out) {
  std::vector<Record> records;
  for (const GroupServer *g : groups) (g->*build)(records);
  WB_MoveIntoArray(records, out);
}

// The four arrays of one Changes reply, built from the store's groups; they
// are released with their generated _free when the reply goes.
struct ChangesReply {
  BoolValueInfoArray bools{};
  Int32ValueInfoArray ints{};
  StringValueInfoArray strings{};
  StringListValueInfoArray lists{};

  explicit ChangesReply(const std::vector<const GroupServer *> &groups) {
    collectInto(groups, &GroupServer::buildBoolChanges, bools);
    collectInto(groups, &GroupServer::buildInt32Changes, ints);
    collectInto(groups, &GroupServer::buildStringChanges, strings);
    collectInto(groups, &GroupServer::buildStringListChanges, lists);
  }
  ~ChangesReply() {
    WhiteBoard_BoolValueInfoArray_free(&bools);
    WhiteBoard_Int32ValueInfoArray_free(&ints);
    WhiteBoard_StringValueInfoArray_free(&strings);
    WhiteBoard_StringListValueInfoArray_free(&lists);
  }
  ChangesReply(const ChangesReply &) = delete;
  ChangesReply &operator=(const ChangesReply &) = delete;
};

}  // namespace

void WhiteBoard_Server::sendChanges(const char *group) {
  ChangesReply reply(image_->groups(group));
  send_Changes(reply.bools, reply.ints, reply.strings, reply.lists);
}

// The first connection of a fan-out encodes the change, every connection
// queues that one message with its own header.
void WhiteBoard_Server::sendSetValue(const BoolValueInfo &info, WhiteBoard_Encoded &encoded) {
  if (!encoded) encoded = encode_SetBoolValue(info);
  sendEncoded_SetBoolValue(encoded.get());
}

void WhiteBoard_Server::sendSetValue(const Int32ValueInfo &info, WhiteBoard_Encoded &encoded) {
  if (!encoded) encoded = encode_SetInt32Value(info);
  sendEncoded_SetInt32Value(encoded.get());
}

void WhiteBoard_Server::sendSetValue(const StringValueInfo &info, WhiteBoard_Encoded &encoded) {
  if (!encoded) encoded = encode_SetStringValue(info);
  sendEncoded_SetStringValue(encoded.get());
}

void WhiteBoard_Server::sendSetValue(const StringListValueInfo &info, WhiteBoard_Encoded &encoded) {
  if (!encoded) encoded = encode_SetStringListValue(info);
  sendEncoded_SetStringListValue(encoded.get());
}

void WhiteBoard_Server::sendDeleteEvent(const char *group, const char *name, int type, WhiteBoard_Encoded &encoded) {
  if (!encoded) encoded = encode_DeleteEvent(group, name, type);
  sendEncoded_DeleteEvent(encoded.get());
}
