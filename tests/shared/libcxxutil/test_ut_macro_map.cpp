// ut_macro_map and ut_client_interface on their own: replacement of value
// and flag, the three name forms (ut_string, C string, text and length),
// copying another map, macros without a value, and the client interface's
// answers with and without host callbacks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shared/libcxxutil/ut_client_interface.h"
#include "shared/libcxxutil/ut_macro_map.h"

namespace {

std::string text(const ut_string *value) { return value ? std::string(value->c_str()) : "<undefined>"; }

TEST(MacroMap, InsertReplacesValueAndFlag) {
  ut_macro_map m;
  m.insert("A", "one", true);
  bool flag = false;
  EXPECT_EQ(text(m.find("A", &flag)), "one");
  EXPECT_TRUE(flag);
  m.insert("A", "two");
  EXPECT_EQ(text(m.find("A", &flag)), "two");
  EXPECT_FALSE(flag);
  EXPECT_EQ(m.size(), 1);
  // Names compare exactly: case matters, prefixes are other names.
  EXPECT_EQ(m.find("a"), nullptr);
  EXPECT_EQ(m.find("AA"), nullptr);
}

TEST(MacroMap, NameFormsAgree) {
  ut_macro_map m;
  const char *line = "NAME=value";
  m.insert(line, 4, "v1");
  EXPECT_EQ(text(m.find("NAME")), "v1");
  EXPECT_EQ(text(m.find(ut_string("NAME"))), "v1");
  EXPECT_EQ(text(m.find(line, 4)), "v1");
  EXPECT_EQ(m.find(line, 3), nullptr);
  m.insert(ut_string("S"), ut_string("v2"), true);
  bool flag = false;
  EXPECT_EQ(text(m.find("S", 1, &flag)), "v2");
  EXPECT_TRUE(flag);
  EXPECT_TRUE(m.remove(line, 4));
  EXPECT_FALSE(m.remove("NAME"));
  EXPECT_TRUE(m.remove(ut_string("S")));
  EXPECT_EQ(m.size(), 0);
}

TEST(MacroMap, NullAndEmptyNamesAreIgnoredAndNullValuesDefine) {
  ut_macro_map m;
  m.insert(nullptr, "x");
  m.insert("", "x");
  m.insert("N", 0, "x");
  EXPECT_EQ(m.size(), 0);
  EXPECT_EQ(m.find(nullptr), nullptr);
  EXPECT_FALSE(m.remove(static_cast<const char *>(nullptr)));
  // A macro without a value is defined, with the empty text.
  m.insert("BARE", nullptr);
  const ut_string *value = m.find("BARE");
  ASSERT_NE(value, nullptr);
  EXPECT_TRUE(value->is_default());
  EXPECT_STREQ(value->c_str(), "");
}

TEST(MacroMap, InsertingAnotherMapCopiesAndReplaces) {
  ut_macro_map a, b;
  a.insert("X", "a-x");
  a.insert("Y", "a-y");
  b.insert("Y", "b-y", true);
  b.insert("Z", "b-z");
  a.insert(b);
  a.insert(a);  // itself: nothing changes
  EXPECT_EQ(a.size(), 3);
  EXPECT_EQ(text(a.find("X")), "a-x");
  bool flag = false;
  EXPECT_EQ(text(a.find("Y", &flag)), "b-y");
  EXPECT_TRUE(flag);
  EXPECT_EQ(text(a.find("Z")), "b-z");
  // The copy is independent of the source.
  b.insert("Z", "changed");
  EXPECT_EQ(text(a.find("Z")), "b-z");
  std::string order;
  for (const auto &entry : a) order += entry.first;
  EXPECT_EQ(order, "XYZ");
}

struct Host {
  int released = 0;
  std::string lastFile;
  int lastDepth = -1;
};

TEST(ClientInterface, DefaultsWithoutCallbacksAndHostAnswersWithThem) {
  {
    ut_client_interface none;
    EXPECT_FALSE(none.is_defined_in_env("HOME"));
    EXPECT_EQ(none.lookup_in_env("HOME"), nullptr);
    EXPECT_TRUE(none.preprocess_file("f.cfg", 0));
  }
  Host host;
  {
    ut_client_interface c;
    c.set_env_callback(
        &host, [](void *h) { ++static_cast<Host *>(h)->released; },
        [](void *, const char *name) { return std::strcmp(name, "K") == 0; },
        [](void *, const char *name) -> const char * { return std::strcmp(name, "K") == 0 ? "kv" : nullptr; },
        [](void *h, const char *file, int depth) {
          static_cast<Host *>(h)->lastFile = file;
          static_cast<Host *>(h)->lastDepth = depth;
          return depth < 2;
        });
    EXPECT_EQ(c.get_context(), &host);
    EXPECT_TRUE(c.is_defined_in_env("K"));
    EXPECT_FALSE(c.is_defined_in_env("L"));
    EXPECT_FALSE(c.is_defined_in_env(nullptr));
    EXPECT_STREQ(c.lookup_in_env("K"), "kv");
    EXPECT_EQ(c.lookup_in_env("L"), nullptr);
    EXPECT_TRUE(c.preprocess_file("inc.cfg", 1));
    EXPECT_EQ(host.lastFile, "inc.cfg");
    EXPECT_EQ(host.lastDepth, 1);
    EXPECT_FALSE(c.preprocess_file("deep.cfg", 2));
    EXPECT_EQ(host.released, 0);
  }
  EXPECT_EQ(host.released, 1);  // released with the interface
}

}  // namespace
