// korvoctl's WhiteBoard connection: snapshots, changes and watching.
#include "services/korvoctl/korvoctl_wb_client.h"

#include <time.h>

#include <cstdio>

#include "services/korvoctl/korvoctl_service.h"
#include "services/korvoctl/korvoctl_session.h"
#include "shared/indgen.h"
#include "shared/libcxxutil/ut_retry_handler.h"
#include "shared/stp_transport/stp_transport.h"

namespace {

std::string text(const char *s) { return s ? s : ""; }

template <class Record>
KorvoCtl_WbValue fromRecord(const Record &r, int type) {
  KorvoCtl_WbValue v;
  v.group = text(r._group);
  v.name = text(r._name);
  v.type = type;
  return v;
}

KorvoCtl_WbValue fromList(const WhiteBoard_StringListValueInfo &r) {
  KorvoCtl_WbValue v = fromRecord(r, kWbList);
  for (auto it = r._value.begin(); it != r._value.end(); ++it) v.strings.push_back(it->c_str());
  return v;
}

KorvoCtl_WbValue fromString(const WhiteBoard_StringValueInfo &r) {
  KorvoCtl_WbValue v = fromRecord(r, kWbString);
  v.strings.push_back(text(r._value));
  return v;
}

// "2026-12-06T07:01:02.123Z": the time a change arrived, in UTC.
std::string timeStamp() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  gmtime_r(&ts.tv_sec, &t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                static_cast<int>(ts.tv_nsec / 1000000));
  return buf;
}

}  // namespace

KorvoCtl_WbClient *KorvoCtl_WbClient::connect(KorvoCtl_Session &session) {
  auto *client = new KorvoCtl_WbClient(session);
  if (KorvoCtl_ConnectService(session, "wb", "WhiteBoard", client)) return client;
  client->delRef();
  return nullptr;
}

bool KorvoCtl_WbClient::sent(bool ok, const char *what, const TStat &st) {
  if (!ok) gen_error("wb: %s not sent: %s", what, st.message);
  return ok;
}

bool KorvoCtl_WbClient::snapshot(const char *group, std::vector<KorvoCtl_WbValue> *values) {
  TStat st;
  received.clear();
  bool ok = group ? send_RequestChangesInGroup(group, true, session.retry(), &st)
                  : send_RequestAllChanges(true, session.retry(), &st);
  if (!sent(ok, "request", st)) return false;
  if (!awaitChanges()) {
    gen_error("wb: no answer from the WhiteBoard");
    return false;
  }
  KorvoCtl_WbSort(&received);
  *values = std::move(received);
  received.clear();
  return true;
}

// Serves the connection until the snapshot arrives, the connection ends or
// the session's time is up.
bool KorvoCtl_WbClient::awaitChanges() {
  STPTransport *t = getTransport();
  if (!t) return false;
  STPTransportHold hold(t);
  STPTransportStacker stacker(t);
  RetryHandler *rh = session.retry();
  changesArrived = false;
  rh->beginOp();
  while (!changesArrived && !t->isDead() && !isDown()) {
    rh->idle();
    if (!changesArrived && !rh->retryOp()) break;
  }
  rh->completedOp();
  return changesArrived;
}

bool KorvoCtl_WbClient::registerGroup(const std::string &group, bool watch) {
  TStat st;
  return sent(send_RegisterGroup(group.c_str(), watch, false, nullptr, true, session.retry(), &st),
              "RegisterGroup", st);
}

// The records only borrow the strings of `v` for the send; no _free.
bool KorvoCtl_WbClient::send(const KorvoCtl_WbValue &v) {
  char *g = const_cast<char *>(v.group.c_str()), *n = const_cast<char *>(v.name.c_str());
  TStat st;
  RetryHandler *rh = session.retry();
  bool ok = false;
  if (v.type == kWbBool) {
    ok = send_ChangeBoolValue({g, n, v.boolValue}, true, rh, &st);
  } else if (v.type == kWbInt) {
    ok = send_ChangeInt32Value({g, n, v.intValue}, true, rh, &st);
  } else if (v.type == kWbString) {
    ok = send_ChangeStringValue({g, n, const_cast<char *>(v.strings[0].c_str())}, true, rh, &st);
  } else {
    WhiteBoard_StringListValueInfo r{g, n, {}};
    for (const std::string &s : v.strings) r._value.push_back(s.c_str());
    ok = send_ChangeStringListValue(r, true, rh, &st);
  }
  return sent(ok, "change", st);
}

bool KorvoCtl_WbClient::sendDelete(const std::string &group, const std::string &name, int type) {
  TStat st;
  return sent(send_DeleteName(group.c_str(), name.c_str(), type, true, session.retry(), &st),
              "DeleteName", st);
}

bool KorvoCtl_WbClient::sendSave(const std::string &group, const char *file) {
  TStat st;
  return sent(send_SaveGroupChangesToFile(group.c_str(), file, true, session.retry(), &st),
              "SaveGroupChangesToFile", st);
}

void KorvoCtl_WbClient::printChange(const KorvoCtl_WbValue &v) {
  if (!printing) return;
  std::printf("%s\tset\t%s\t%s\n", timeStamp().c_str(), KorvoCtl_WbEscapeField(v.group).c_str(),
              KorvoCtl_WbGetLine(v).c_str());
  std::fflush(stdout);
}

void KorvoCtl_WbClient::msg_SetBoolValue(WhiteBoard_BoolValueInfo &info) {
  KorvoCtl_WbValue v = fromRecord(info, kWbBool);
  v.boolValue = info._value;
  printChange(v);
}

void KorvoCtl_WbClient::msg_SetInt32Value(WhiteBoard_Int32ValueInfo &info) {
  KorvoCtl_WbValue v = fromRecord(info, kWbInt);
  v.intValue = info._value;
  printChange(v);
}

void KorvoCtl_WbClient::msg_SetStringValue(WhiteBoard_StringValueInfo &info) {
  printChange(fromString(info));
}

void KorvoCtl_WbClient::msg_SetStringListValue(WhiteBoard_StringListValueInfo &info) {
  printChange(fromList(info));
}

void KorvoCtl_WbClient::msg_DeleteEvent(const char *group, const char *name, int type) {
  if (!printing || !KorvoCtl_WbTypeName(type)) return;
  std::printf("%s\tdelete\t%s\t%s\t%s\n", timeStamp().c_str(),
              KorvoCtl_WbEscapeField(text(group)).c_str(), KorvoCtl_WbEscapeField(text(name)).c_str(),
              KorvoCtl_WbTypeName(type));
  std::fflush(stdout);
}

void KorvoCtl_WbClient::msg_Changes(WhiteBoard_BoolValueInfoArray &bools,
                                    WhiteBoard_Int32ValueInfoArray &ints,
                                    WhiteBoard_StringValueInfoArray &strings,
                                    WhiteBoard_StringListValueInfoArray &lists) {
  for (int i = 0; i < bools._count; ++i) {
    received.push_back(fromRecord(bools._info[i], kWbBool));
    received.back().boolValue = bools._info[i]._value;
  }
  for (int i = 0; i < ints._count; ++i) {
    received.push_back(fromRecord(ints._info[i], kWbInt));
    received.back().intValue = ints._info[i]._value;
  }
  for (int i = 0; i < strings._count; ++i) received.push_back(fromString(strings._info[i]));
  for (int i = 0; i < lists._count; ++i) received.push_back(fromList(lists._info[i]));
  changesArrived = true;
}
