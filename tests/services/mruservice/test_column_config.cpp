// Column sets: ordering rules of "columns.ini", value conversions, updates
// and copies.
#include <gtest/gtest.h>

#include "services/mruservice/column_config.h"
#include "services/mruservice/state_file_support.h"

namespace {

class ColumnConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveStateFile("columns.ini"); }
  void TearDown() override {
    ColumnConfig_Free();
    ColumnConfig_Exit();
    RemoveStateFile("columns.ini");
  }
  // "name/width/sort/hidden " per column.
  static std::string columns(const char *set) {
    ColumnConfig_Array a;
    ColumnConfig_GetColumnInfo(set, &a);
    std::string out;
    for (int i = 0; i < a.count; ++i) {
      const ColumnConfig_Info &c = a.columnInfos[i];
      out += std::string(c.name ? c.name : "-") + "/" + std::to_string(c.width) + "/" +
             std::to_string(c.sort) + "/" + (c.hidden ? "h " : "v ");
    }
    ColumnConfig_FreeArray(&a);
    return out;
  }
  static std::string loaded(const char *text, const char *set) {
    WriteStateFile("columns.ini", text);
    ColumnConfig_Init();
    return columns(set);
  }
};

// Keys must name columns in ascending order (a key for an earlier column
// is ignored); widths read in any base (the file holds one less than the
// column); sort and hidden
// words in any case, unknown ones ignored; a column with nothing set, and
// keys beyond the int range, name no column.
TEST_F(ColumnConfigTest, ReadingRulesAndConversions) {
  EXPECT_EQ(loaded("[Set]\nname1=A\nname3=C\nname2=B\nwidth1=5\nname0=Z\n"
                   "[Conv]\nNAME1=A\nwidth1=0x10\nsort1=Descending\nhidden1=TRUE\n"
                   "width2=010\nsort2=ascending\nsort2=sideways\nhidden2=maybe\n"
                   "name3\nbogus3=1\nwidth3=-1\n"
                   "[S]\nsort1=sideways\nname2=B\nwidth2=2147483647\n"
                   "name-2147483648=Z\nname4294967297=Y\nname3=C\n",
                   "set"),
            "A/0/0/v B/0/0/v ");
  EXPECT_EQ(columns("Conv"), "A/17/-1/h -/9/1/v -/0/0/v ");
  const std::string extreme = "-/0/0/v B/2147483647/0/v C/0/0/v ";
  EXPECT_EQ(columns("S"), extreme);
  ColumnConfig_Array none{0, nullptr};
  ColumnConfig_UpdateColumnInfo("other", &none);  // a change, to write them back
  ColumnConfig_Exit();
  ColumnConfig_Init();
  EXPECT_EQ(columns("S"), extreme);
}

// An update replaces a set (in any case) or creates one at the head; a
// column with nothing set keeps its place with a line of its own; sets grow
// and missing sets are empty.
TEST_F(ColumnConfigTest, UpdateReplacesOrCreatesAtTheHead) {
  loaded("[Old]\nname1=a\nname2=b\nname3=c\n\n", "Old");
  ColumnConfig_Info in[7] = {{const_cast<char *>("x"), 11, -1, true}};
  ColumnConfig_Array two{2, in}, seven{7, in};
  ColumnConfig_UpdateColumnInfo("old", &seven);
  EXPECT_EQ(columns("Old").size(), std::string("x/11/-1/h ").size() + 6 * 8);
  ColumnConfig_UpdateColumnInfo("old", &two);
  EXPECT_EQ(columns("Old"), "x/11/-1/h -/0/0/v ");
  ColumnConfig_UpdateColumnInfo("New", &two);
  EXPECT_TRUE(ColumnConfig_IsModified());
  EXPECT_EQ(columns("missing"), "");
  ColumnConfig_Exit();
  EXPECT_EQ(ReadStateFile("columns.ini"),
            "[New]\nname1=x\nwidth1=10\nsort1=descending\nhidden1=true\nhidden2=false\n\n"
            "[Old]\nname1=x\nwidth1=10\nsort1=descending\nhidden1=true\nhidden2=false\n\n");
}

}  // namespace
