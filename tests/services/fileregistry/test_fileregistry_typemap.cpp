// The file register by type: order, duplicates, exact type keys, unknown
// and null types, and the size limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/fileregistry/fileregistry_typemap.h"
#include "services/support/service_limits.h"

namespace {

using Names = std::vector<std::string>;

Names files(const FileRegistry_TypeMap &map, const char *type) {
  const FileRegistry_List *list = map.find(type);
  return list ? Names(list->inOrder().begin(), list->inOrder().end()) : Names{};
}

// Re-adding moves a name to the front without a duplicate; types and names
// are exact keys (letter case counts); one name under two types is two
// entries; a null type is the empty type, a null name registers nothing,
// an empty name is still a name.
TEST(FileRegistryTypeMap, OrderKeysAndNulls) {
  FileRegistry_TypeMap map;
  for (const char *f : {"a", "b", "a", "c", "b"}) map.AddFile(f, "T");
  EXPECT_EQ(files(map, "T"), (Names{"b", "c", "a"}));
  map.AddFile("x.c", "C");
  map.AddFile("X.c", "C");
  map.AddFile("y.c", "c");
  EXPECT_EQ(files(map, "C"), (Names{"X.c", "x.c"}));
  EXPECT_EQ(files(map, "c"), (Names{"y.c"}));
  EXPECT_EQ(files(map, "C "), Names{});
  map.AddFile("y.c", "C");
  map.RemoveFile("y.c", "c");
  EXPECT_EQ(files(map, "c"), Names{});
  EXPECT_EQ(files(map, "C"), (Names{"y.c", "X.c", "x.c"}));
  EXPECT_TRUE(map.AddFile("a", nullptr));
  EXPECT_FALSE(map.AddFile(nullptr, "N"));
  map.RemoveFile(nullptr, "");
  EXPECT_TRUE(map.AddFile("", "N"));
  EXPECT_EQ(files(map, nullptr), (Names{"a"}));
  EXPECT_EQ(files(map, "N"), (Names{""}));
}

TEST(FileRegistryTypeMap, UnknownTypesAreEmptyAndRemoveMakesAList) {
  FileRegistry_TypeMap map;
  EXPECT_EQ(files(map, "never"), Names{});
  EXPECT_EQ(map.find("never"), nullptr);  // asking makes nothing
  map.RemoveFile("f", "gone");
  ASSERT_NE(map.find("gone"), nullptr);
  EXPECT_TRUE(map.find("gone")->empty());
  EXPECT_EQ(map.typeCount(), 1);
  map.AddFile("a", "gone");
  map.RemoveFile("b", "gone");  // a name that is not there changes nothing
  EXPECT_EQ(files(map, "gone"), (Names{"a"}));
}

// The register counts each string plus the item overhead once, gives it
// back on removal, and refuses a name over the 1 MiB string limit or an
// addition past the 16 MiB store limit (a re-add of a known name costs
// nothing).
TEST(FileRegistryTypeMap, CountsWhatItHoldsAndRefusesPastTheLimits) {
  FileRegistry_TypeMap map;
  const size_t typeCost = ServiceLimits_Cost("C");
  EXPECT_TRUE(map.AddFile("/a.c", "C"));
  EXPECT_TRUE(map.AddFile("/a.c", "C"));
  EXPECT_EQ(map.bytes(), typeCost + ServiceLimits_Cost("/a.c"));
  map.RemoveFile("/a.c", "C");
  map.RemoveFile("/a.c", "C");
  EXPECT_EQ(map.bytes(), typeCost);  // the empty list stays

  std::string tooLong(kServiceMaxStringBytes + 1, 'x');
  EXPECT_FALSE(map.fitsAdd(tooLong.c_str(), "C"));
  EXPECT_FALSE(map.fitsAdd("/a.c", tooLong.c_str()));
  EXPECT_FALSE(map.fitsRemove(tooLong.c_str()));
  std::string big(kServiceMaxStringBytes - 8, 'y');
  int added = 0;
  bool refused = false;
  while (added < 100 && map.AddFileWithinLimits((big + std::to_string(added)).c_str(), "C", &refused))
    ++added;
  EXPECT_TRUE(refused);
  EXPECT_EQ(added, 15);  // 16 MiB with the overheads and the type
  EXPECT_LE(map.bytes(), kServiceMaxStoreBytes);
  // Counted as new without a search of the list: refused this near the limit.
  EXPECT_FALSE(map.fitsAdd((big + "0").c_str(), "C"));
  EXPECT_FALSE(map.fitsRemove(std::string(kServiceMaxStringBytes, 't').c_str()));  // a new type
}

}  // namespace
