// Helpers shared by the WhiteBoard tests: a group's values as one line of
// text, and a factory that makes servers over a test's own store.
#pragma once

#include <string>

#include "services/servicerouter_proxy/service_factory.h"
#include "services/whiteboard/whiteboard_group.h"
#include "services/whiteboard/whiteboard_server.h"
#include "support/text_files.h"

inline std::string wbStr(const char *s) { return s ? s : "(null)"; }

inline std::string wbJoined(const ut_string_list &list) {
  std::string out;
  for (const ut_string &s : list) out.append(out.empty() ? "" : ",").append(s.c_str());
  return out;
}

inline ut_string_list wbList(std::initializer_list<const char *> items) {
  ut_string_list list;
  for (const char *s : items) list.push_back(s);
  return list;
}

// Every value of `g` by type then name: "b.x=1 i.n=3 s.p=/tmp l.l=a,b".
inline std::string wbDump(const Group &g) {
  std::string out;
  auto add = [&](const char *type, const ut_string &name, const std::string &v) {
    if (!out.empty()) out += ' ';
    out.append(type).append(".").append(name.c_str()).append("=").append(v);
  };
  for (const auto &[n, v] : g.boolValues()) add("b", n, v ? "1" : "0");
  for (const auto &[n, v] : g.int32Values()) add("i", n, std::to_string(v));
  for (const auto &[n, v] : g.stringValues()) add("s", n, v.c_str());
  for (const auto &[n, v] : g.stringListValues()) add("l", n, wbJoined(v));
  return out;
}

inline std::string wbTempDir() { return getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp"; }

// Makes servers over a test's own store, so tests do not share state.
class WhiteBoardLocalFactory : public ServiceFactory {
 public:
  explicit WhiteBoardLocalFactory(WhiteBoard_Image *image)
      : ServiceFactory("WhiteBoardUnderTest", -1, false), image(image) {}
  STPSpecClass *getService(STPTransport *t, int localRN, int remoteRN) override {
    auto *s = new WhiteBoard_Server(image);
    s->setTransport(t, localRN, remoteRN);
    return s;
  }
  WhiteBoard_Image *image;
};
