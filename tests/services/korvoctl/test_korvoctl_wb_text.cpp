// The text of korvoctl wb: "get" lines, dumps that read back to the same
// values and the same bytes, the errors of a bad dump with their lines, and
// the words the completion takes from a synopsis.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/korvoctl/korvoctl_completion.h"
#include "services/korvoctl/korvoctl_wb_text.h"

namespace {

using Strings = std::vector<std::string>;

KorvoCtl_WbValue value(const std::string &group, const std::string &name, int type,
                       const Strings &strings = {}, int number = 0) {
  KorvoCtl_WbValue v;
  v.group = group;
  v.name = name;
  v.type = type;
  v.boolValue = number != 0;
  v.intValue = number;
  v.strings = strings;
  return v;
}

TEST(KorvoCtlWbText, GetLinesEscapeWhatWouldSplitThem) {
  struct Case {
    KorvoCtl_WbValue v;
    std::string line;
  } cases[] = {
      {value("G", "n", kWbList, {"a b", "c"}), "n\tlist\ta b\tc"},
      {value("G", "n", kWbList, {}), "n\tlist"},
      {value("G", "n", kWbList, {""}), "n\tlist\t"},
      {value("G", "t\tn", kWbString, {"x\ty\nz\\w\r\"q\""}), "t\\tn\tstring\tx\\ty\\nz\\\\w\\r\"q\""},
      {value("G", "b", kWbBool, {}, 1), "b\tbool\ttrue"},
      {value("G", "i", kWbInt, {}, -2147483647 - 1), "i\tint\t-2147483648"},
  };
  for (const Case &c : cases) EXPECT_EQ(KorvoCtl_WbGetLine(c.v), c.line);
}

// Values a dump must carry unchanged: every type, odd names and groups,
// every kind of byte a string can hold.
std::vector<KorvoCtl_WbValue> trickyValues() {
  return {
      value("G", "flag", kWbBool, {}, 0),
      value("G", "count", kWbInt, {}, -7),
      value("G", "path", kWbString, {"quote \" back \\ tab \t nl \n cr \r end"}),
      value("G", "path", kWbList, {"", "a b", "#not a comment", "[x]"}),
      value("G", "empty", kWbList, {}),
      value("G", "bytes", kWbString, {"\x01\x7f\xff \xc3\xa9 \xe2\x82\xac \xed\xa0\x80"}),
      value("other group", "name with \"quotes\"", kWbString, {""}),
      value("[", "]", kWbInt, {}, 2147483647),
  };
}

TEST(KorvoCtlWbText, DumpReadsBackToTheSameValuesAndBytes) {
  std::vector<KorvoCtl_WbValue> values = trickyValues();
  Strings groups{"G", "other group", "[", "no values"};
  std::string text = KorvoCtl_WbFormatDump(groups, values);
  KorvoCtl_WbDump dump;
  Strings errors;
  ASSERT_TRUE(KorvoCtl_WbParseDump(text, "f", &dump, &errors)) << errors[0] << "\n" << text;
  EXPECT_EQ(dump.groups, groups);
  ASSERT_EQ(dump.values.size(), values.size());
  KorvoCtl_WbSort(&values);
  KorvoCtl_WbSort(&dump.values);
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_TRUE(KorvoCtl_WbSameValue(dump.values[i], values[i])) << dump.values[i].name;
  EXPECT_EQ(KorvoCtl_WbFormatDump(dump.groups, dump.values), text);
  // Text that is not UTF-8 never reaches the file raw; UTF-8 does.
  EXPECT_NE(text.find("\\x01\\x7f\\xff \xc3\xa9 \xe2\x82\xac \\xed\\xa0\\x80"), std::string::npos);
}

TEST(KorvoCtlWbText, HandWrittenFormsAreRead) {
  struct Case {
    std::string line;
    KorvoCtl_WbValue v;
  } cases[] = {
      {"b bool 1", value("G", "b", kWbBool, {}, 1)},
      {"\tb  bool\tfalse  # comment", value("G", "b", kWbBool, {}, 0)},
      {"i int \"-12\"\r", value("G", "i", kWbInt, {}, -12)},
      {"s string bare/word", value("G", "s", kWbString, {"bare/word"})},
      {"s string \"\\x41\\t\tB\"", value("G", "s", kWbString, {"A\t\tB"})},
      {"\"n m\" list a \"b c\" d#e", value("G", "n m", kWbList, {"a", "b c", "d#e"})},
  };
  for (const Case &c : cases) {
    KorvoCtl_WbDump dump;
    Strings errors;
    ASSERT_TRUE(KorvoCtl_WbParseDump("# head\n\n[G]\n" + c.line + "\n", "f", &dump, &errors))
        << c.line << ": " << errors[0];
    ASSERT_EQ(dump.values.size(), 1u) << c.line;
    EXPECT_TRUE(KorvoCtl_WbSameValue(dump.values[0], c.v)) << c.line;
    EXPECT_EQ(dump.values[0].line, 4);
  }
}

TEST(KorvoCtlWbText, BadLinesAreReportedWithTheirLine) {
  struct Case {
    std::string text;
    Strings errors;  // every bad line is reported
  } cases[] = {
      {"n int 1", {"in:1: a value before the first [GROUP] line"}},
      {"[G]\n[]", {"in:2: a group header is [GROUP] alone on its line"}},
      {"[G] x", {"in:1: a group header is [GROUP] alone on its line"}},
      {"[\"\"]", {"in:1: empty group name"}},
      {"[G]\n\n\"\" int 1", {"in:3: empty name"}},
      {"[G]\nn", {"in:2: a type must follow the name"}},
      {"[G]\nn float 1", {"in:2: unknown type \"float\" (bool, int, string or list)"}},
      {"[G]\nn bool yes", {"in:2: bool takes one of true, false, 1 or 0"}},
      {"[G]\nn int 2147483648", {"in:2: int takes one whole number from -2147483648 to 2147483647"}},
      {"[G]\nn int 0x10", {"in:2: int takes one whole number from -2147483648 to 2147483647"}},
      {"[G]\nn string a b", {"in:2: string takes exactly one string"}},
      {"[G]\nn string", {"in:2: string takes exactly one string"}},
      {"[G]\nn string \"abc", {"in:2: unterminated string"}},
      {"[G]\nn string \"a\\q\"", {"in:2: unknown escape \\q"}},
      {"[G]\nn string \"a\\x4\"", {"in:2: \\x needs two hex digits"}},
      {"[G]\nn string \"\\x00\"", {"in:2: a string cannot hold a NUL byte (\\x00)"}},
      {"[G]\nn string \"a\"b", {"in:2: a closing quote must be followed by a blank"}},
      {"[G]\nn string a\"b", {"in:2: a word holding \" must be quoted"}},
      {"[G]\nn list [a]", {"in:2: a bracket outside a group header must be quoted"}},
      {"[G]\nn int 1\n[H]\n[G]\nn int 2", {"in:5: n int is given twice (first on line 2)"}},
      {std::string("[G]\nn string \"a\0b\"", 17), {"in:2: NUL byte in the line"}},
      {"[G]\na int x\nb bool true\nc bool x\n",
       {"in:2: int takes one whole number from -2147483648 to 2147483647",
        "in:4: bool takes one of true, false, 1 or 0"}},
  };
  for (const Case &c : cases) {
    KorvoCtl_WbDump dump;
    Strings errors;
    EXPECT_FALSE(KorvoCtl_WbParseDump(c.text, "in", &dump, &errors)) << c.text;
    EXPECT_EQ(errors, c.errors) << c.text;
  }
}

TEST(KorvoCtlCompletion, KeywordsComeFromTheSynopsis) {
  struct Case {
    const char *synopsis;
    Strings words;
  } cases[] = {
      {"GROUP NAME --bool|--int|--string|--list VALUE...", {"--bool", "--int", "--string", "--list"}},
      {"GROUP NAME [--type bool|int|string|list]", {"--type", "bool", "int", "string", "list"}},
      {"list|show|iconify-all [ARGS]", {"list", "show", "iconify-all"}},
      {"SERVICE [--start]", {"--start"}},
      {"", {}},
  };
  for (const Case &c : cases) EXPECT_EQ(KorvoCtl_CompletionWords(c.synopsis), c.words) << c.synopsis;
}

}  // namespace
