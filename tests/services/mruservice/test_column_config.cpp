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

  // "name/width/sort/hidden" per column, for compact comparisons.
  static std::vector<std::string> columns(const char *set) {
    ColumnConfig_Array a;
    ColumnConfig_GetColumnInfo(set, &a);
    std::vector<std::string> out;
    for (int i = 0; i < a.count; ++i) {
      const ColumnConfig_Info &c = a.columnInfos[i];
      out.push_back(std::string(c.name ? c.name : "-") + "/" + std::to_string(c.width) + "/" +
                    std::to_string(c.sort) + "/" + (c.hidden ? "h" : "v"));
    }
    ColumnConfig_FreeArray(&a);
    return out;
  }
  static void reload() {
    ColumnConfig_Free();
    ColumnConfig_Exit();
    ColumnConfig_Init();
  }
};

TEST_F(ColumnConfigTest, ColumnsMustComeInAscendingOrder) {
  WriteStateFile("columns.ini", "[Set]\nname1=A\nname3=C\nname2=B\nwidth1=5\nname0=Z\n");
  ColumnConfig_Init();
  // width1 refers to a column before the last one: ignored too.
  EXPECT_EQ(columns("set"), (std::vector<std::string>{"A/0/0/v", "B/0/0/v"}));
}

TEST_F(ColumnConfigTest, ValuesAndTheirConversions) {
  WriteStateFile("columns.ini",
                 "[Set]\nNAME1=A\nwidth1=0x10\nsort1=Descending\nhidden1=TRUE\n"
                 "width2=010\nsort2=ascending\nsort2=sideways\nhidden2=maybe\n"
                 "name3\nbogus3=1\nwidth3=-1\n");
  ColumnConfig_Init();
  EXPECT_EQ(columns("Set"),
            (std::vector<std::string>{"A/17/-1/h", "-/9/1/v", "-/0/0/v"}));
}


TEST_F(ColumnConfigTest, UpdateReplacesOrCreatesAtTheHead) {
  WriteStateFile("columns.ini", "[Old]\nname1=a\nname2=b\nname3=c\n\n");
  ColumnConfig_Init();
  ColumnConfig_Info in[2] = {{const_cast<char *>("x"), 11, -1, true},
                             {nullptr, 0, 0, false}};
  ColumnConfig_Array array{2, in};
  ColumnConfig_UpdateColumnInfo("old", &array);
  EXPECT_EQ(columns("Old"), (std::vector<std::string>{"x/11/-1/h", "-/0/0/v"}));
  ColumnConfig_UpdateColumnInfo("New", &array);
  EXPECT_TRUE(ColumnConfig_IsModified());
  ColumnConfig_Exit();
  // A column with nothing set keeps its place with a line of its own.
  EXPECT_EQ(ReadStateFile("columns.ini"),
            "[New]\nname1=x\nwidth1=10\nsort1=descending\nhidden1=true\nhidden2=false\n\n"
            "[Old]\nname1=x\nwidth1=10\nsort1=descending\nhidden1=true\nhidden2=false\n\n");
}

TEST_F(ColumnConfigTest, EmptyColumnsAndExtremeNumbersSurviveSaving) {
  // Column 1 records nothing; keys beyond the int range name no column.
  WriteStateFile("columns.ini", "[S]\nsort1=sideways\nname2=B\nwidth2=2147483647\n"
                                "name-2147483648=Z\nname4294967297=Y\nname3=C\n");
  ColumnConfig_Init();
  const std::vector<std::string> expected{"-/0/0/v", "B/2147483647/0/v", "C/0/0/v"};
  EXPECT_EQ(columns("S"), expected);
  ColumnConfig_Array none;
  ColumnConfig_UpdateColumnInfo("other", &none);
  ColumnConfig_Exit();
  ColumnConfig_Init();
  EXPECT_EQ(columns("S"), expected);
}

TEST_F(ColumnConfigTest, GrowingASetAndMissingSets) {
  ColumnConfig_Info in[7] = {};
  for (int i = 0; i < 7; ++i) in[i].width = i + 1;
  ColumnConfig_Array small{1, in}, big{7, in};
  ColumnConfig_UpdateColumnInfo("S", &small);
  ColumnConfig_UpdateColumnInfo("S", &big);
  EXPECT_EQ(columns("S").size(), 7u);
  EXPECT_EQ(columns("S")[6], "-/7/0/v");
  ColumnConfig_Array out;
  ColumnConfig_GetColumnInfo("missing", &out);
  EXPECT_EQ(out.count, 0);
  EXPECT_EQ(out.columnInfos, nullptr);
}



}  // namespace
