// The file register by type: order, duplicates, exact type keys and
// unknown types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/fileregistry/fileregistry_typemap.h"
#include "services/support/service_limits.h"

namespace {

std::vector<std::string> files(const FileRegistry_TypeMap &map, const char *type) {
  return map.GetFiles(type);
}

using Names = std::vector<std::string>;

TEST(FileRegistryTypeMap, ReAddingMovesToFrontWithoutDuplicates) {
  FileRegistry_TypeMap map;
  map.AddFile("a", "T");
  map.AddFile("b", "T");
  map.AddFile("a", "T");
  EXPECT_EQ(files(map, "T"), (Names{"a", "b"}));
  map.AddFile("c", "T");
  map.AddFile("b", "T");
  EXPECT_EQ(files(map, "T"), (Names{"b", "c", "a"}));
}

TEST(FileRegistryTypeMap, TypesAreExactKeys) {
  FileRegistry_TypeMap map;
  map.AddFile("x.c", "C");
  map.AddFile("y.c", "c");
  EXPECT_EQ(files(map, "C"), (Names{"x.c"}));
  EXPECT_EQ(files(map, "c"), (Names{"y.c"}));
  EXPECT_EQ(files(map, "C "), Names{});
  // File names compare with letter case too.
  map.AddFile("X.c", "C");
  EXPECT_EQ(files(map, "C"), (Names{"X.c", "x.c"}));
}

TEST(FileRegistryTypeMap, OneNameUnderTwoTypes) {
  FileRegistry_TypeMap map;
  map.AddFile("f", "src");
  map.AddFile("f", "recent");
  map.RemoveFile("f", "src");
  EXPECT_EQ(files(map, "src"), Names{});
  EXPECT_EQ(files(map, "recent"), (Names{"f"}));
}

TEST(FileRegistryTypeMap, UnknownTypesAreEmptyAndRemoveMakesAList) {
  FileRegistry_TypeMap map;
  EXPECT_EQ(files(map, "never"), Names{});
  EXPECT_EQ(map.find("never"), nullptr);  // asking makes nothing
  map.RemoveFile("f", "gone");
  ASSERT_NE(map.find("gone"), nullptr);
  EXPECT_TRUE(map.find("gone")->empty());
  EXPECT_EQ(map.typeCount(), 1);
  // Removing a name that is not there changes nothing.
  map.AddFile("a", "gone");
  map.RemoveFile("b", "gone");
  EXPECT_EQ(files(map, "gone"), (Names{"a"}));
}

TEST(FileRegistryTypeMap, NullTypeIsTheEmptyTypeAndNullNameRegistersNothing) {
  FileRegistry_TypeMap map;
  EXPECT_TRUE(map.AddFile("a", nullptr));
  EXPECT_EQ(files(map, ""), (Names{"a"}));
  EXPECT_FALSE(map.AddFile(nullptr, "T"));
  EXPECT_EQ(files(map, "T"), Names{});
  map.RemoveFile(nullptr, "");
  EXPECT_EQ(files(map, nullptr), (Names{"a"}));
  EXPECT_TRUE(map.AddFile("", "T"));  // an empty name is still a name
  EXPECT_EQ(files(map, "T"), (Names{""}));
}

TEST(FileRegistryTypeMap, ManyNamesKeepMostRecentFirst) {
  FileRegistry_TypeMap map;
  for (int i = 0; i < 500; ++i) map.AddFile(std::to_string(i).c_str(), "T");
  map.AddFile("250", "T");
  Names got = files(map, "T");
  ASSERT_EQ(got.size(), 500u);
  EXPECT_EQ(got[0], "250");
  EXPECT_EQ(got[1], "499");
  EXPECT_EQ(got[499], "0");
}

}  // namespace

namespace {

// The register counts each string plus the item overhead once, gives it
// back on removal, and refuses a name over the string limit or an addition
// past the store limit (a re-add of a known name costs nothing).
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
  EXPECT_FALSE(map.fitsAdd((big + "x").c_str(), "C"));  // the same limit
  EXPECT_LE(map.bytes(), kServiceMaxStoreBytes);
  // Counted as new without a search of the list: refused this near the limit.
  EXPECT_FALSE(map.fitsAdd((big + "0").c_str(), "C"));
  EXPECT_FALSE(map.fitsRemove(std::string(kServiceMaxStringBytes, 't').c_str()));  // a new type
}

}  // namespace
