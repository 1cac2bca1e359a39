// ut_options_database: the exact text of written files, round trips of the
// nested form, and the reading rules with their error texts and positions.
#include "shared/libcxxutil/ut_options_database.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "shared/runtime_test_support.h"

namespace {

class OptionsDatabaseTest : public ::testing::Test {
 protected:
  // Writes `text` to a file and reads it into a fresh database.
  bool read(const std::string &text) {
    file = dir.write("db.cfg", text);
    db = std::make_unique<ut_options_database>("test");
    configure(*db);
    return db->read_from_file_name(file.c_str());
  }
  std::string written(ut_options_database &d) {
    std::string out = dir.path() + "/out.cfg";
    EXPECT_TRUE(d.write_to_file_name(out.c_str()));
    return TempDir::read(out);
  }
  // "file", line n: parse error: message
  std::string parse_error(int line, const std::string &message) {
    return "error: \"" + file + "\", line " + std::to_string(line) + ": parse error: " + message + "\n";
  }

  std::function<void(ut_options_database &)> configure = [](ut_options_database &) {};
  TempDir dir;
  std::string file;
  std::unique_ptr<ut_options_database> db;
  MessageCapture capture;
};

// Every node and attribute of a tree as text, for comparing trees.
std::string dump(const ut_attribute_tree *t, const std::string &indent = "") {
  std::string out;
  for (auto *a = t->get_first_attribute(); a; a = t->get_next_attribute(a)) {
    out += indent + "[" + a->key + "] " + ut_attribute_type_name(a->type) + " ";
    switch (a->type) {
      case UT_ATTRIBUTE_STR: out += a->value.str ? "<" + std::string(a->value.str) + ">" : "(null)"; break;
      case UT_ATTRIBUTE_INT32: out += std::to_string(a->value.int32); break;
      case UT_ATTRIBUTE_STR_LIST:
        for (auto *e = a->value.str_list; e; e = e->next) out += "<" + std::string(e->value) + ">";
        break;
      case UT_ATTRIBUTE_INT32_LIST:
        for (auto *e = a->value.int32_list; e; e = e->next) out += std::to_string(e->value) + ";";
        break;
    }
    out += "\n";
  }
  for (auto *c = t->get_first_child(); c; c = t->get_next_child(c))
    out += indent + "{" + c->get_name() + "}\n" + dump(c, indent + "  ");
  return out;
}

// ---------------------------------------------------------------------------
// Writing.

TEST_F(OptionsDatabaseTest, WritingExampleIsExact) {
  ut_options_database d("Service Router");
  d.add_int32_attribute("port", 5);
  d.add_child_tree("group 1")->add_str_attribute("name", "a\"b");
  EXPECT_EQ(written(d), "port = 5\n\"group 1\" {\n    name = \"a\\\"b\"\n}\n");
  ASSERT_TRUE(read(written(d)));
  EXPECT_EQ(dump(db.get()), dump(&d));
  EXPECT_EQ(capture.all(), "");
}

TEST_F(OptionsDatabaseTest, ListsAndNestingAreWritten) {
  ut_options_database d("x");
  d.add_str_list_attribute("l", "x");
  d.append_str_list_attribute("l", "y");
  d.add_int32_list_attribute("n", 1);
  d.add_str_attribute("null", nullptr);
  d.set_str_list_attribute("empty", nullptr, 0);
  ut_attribute_tree *a = d.add_child_tree("a");
  a->add_str_attribute("odd key", "it's $x");
  a->add_child_tree("b_2")->add_int32_attribute("v", -7);
  a->add_child_tree("c");
  EXPECT_EQ(written(d),
            "l = { \"x\", \"y\" }\n"
            "n = ...\n"
            "null = \"\"\n"
            "empty = {  }\n"
            "a {\n"
            "    \"odd key\" = \"it\\'s \\$x\"\n"
            "    \"b_2\" {\n"
            "        v = -7\n"
            "    }\n"
            "    c {\n"
            "    }\n"
            "}\n");
}

TEST_F(OptionsDatabaseTest, CompatibilityFormWritesDottedLines) {
  ut_options_database d("x");
  d.set_compatibility_mode(true);
  d.add_int32_attribute("top", 1);
  ut_attribute_tree *a = d.add_child_tree("a");
  a->add_str_attribute("s", "q\"");
  a->add_str_list_attribute("l", "x");
  a->add_child_tree("b")->add_int32_list_attribute("n", 2);
  EXPECT_EQ(written(d), "top=1\na.s=\"q\\\"\"\na.l=...\na.b.n=...\n");
}

TEST_F(OptionsDatabaseTest, WriteFailuresAreReported) {
  ut_options_database d("x");
  d.add_int32_attribute("k", 1);
  EXPECT_FALSE(d.write_to_file_name((dir.path() + "/no/such/dir/f").c_str()));
  EXPECT_EQ(capture.all(), "");
  EXPECT_FALSE(d.write_to_file_name("/dev/full"));
  EXPECT_EQ(capture.all(), "error: failed when writing /dev/full\n");
  EXPECT_FALSE(d.write_to_file(nullptr));
}

TEST_F(OptionsDatabaseTest, NestedFormRoundTrips) {
  ut_options_database d("x");
  d.add_str_attribute("plain", "value");
  d.add_str_attribute("with space", "quotes \" and \\ backslash \\\\ and 'single'");
  d.add_str_attribute("dots.and/slashes", "tab\there, newline\nthere, cr\rend");
  d.add_str_attribute("macro-like", "${HOME} $HOME ${__KORVO_HOST__} # not a comment");
  d.add_str_attribute("\"quoted key\"", "");
  d.add_int32_attribute("min", INT32_MIN);
  d.add_int32_attribute("max", INT32_MAX);
  d.add_str_list_attribute("list", "a, b");
  d.append_str_list_attribute("list", "\"}\"");
  d.append_str_list_attribute("list", "");
  d.set_str_list_attribute("none", nullptr, 0);
  ut_attribute_tree *c = d.add_child_tree("child one");
  c->add_int32_attribute("n", 0);
  ut_attribute_tree *g = c->add_child_tree("grand{child}");
  g->add_str_attribute("k", "v");
  g->add_child_tree("deepest")->add_str_list_attribute("only", "one");
  c->add_child_tree("sibling");
  d.add_child_tree("123")->add_int32_attribute("x", 1);
  ASSERT_TRUE(read(written(d)));
  EXPECT_EQ(dump(db.get()), dump(&d));
  EXPECT_EQ(written(*db), written(d));
  EXPECT_EQ(capture.all(), "");
}

// ---------------------------------------------------------------------------
// Reading.

// Dotted names descend for one line only; "}" closes to the enclosing open
// block, and a stray one at the top is ignored.
TEST_F(OptionsDatabaseTest, DottedNamesAndBlocksNest) {
  ASSERT_TRUE(read("a.b.c = 1\nd = 2\nx {\n  y.z = 3\n  w = 4\n}\ne = 5\n"));
  EXPECT_EQ(dump(db.get()),
            "[d] int32 2\n[e] int32 5\n{a}\n  {b}\n    [c] int32 1\n{x}\n  [w] int32 4\n  {y}\n    [z] int32 3\n");
  EXPECT_FALSE(db->find_child_tree("x")->is_open_block());
  ASSERT_TRUE(read("a {\n b.c {\n  k = 1\n }\n l = 2\n}\nm = 3\n}\nn = 4\na { o = 5 }\n"));
  EXPECT_EQ(dump(db.get()),
            "[m] int32 3\n[n] int32 4\n{a}\n  [l] int32 2\n  [o] int32 5\n  {b}\n    {c}\n      [k] int32 1\n");
}

TEST_F(OptionsDatabaseTest, AssignReplacesAndAppendExtends) {
  configure = [](ut_options_database &d) { d.set_allow_int32_lists(true); };
  ASSERT_TRUE(read("s = \"a\"\ns += \"b\"\ns = \"c\" ; s += \"d\"\n"
                   "l = { \"x\" }\nl += { \"y\", \"z\" }\nl += \"w\"\n"
                   "n += 1\nn += 2\nm = { 1, -2, 0x10 }\nm += { 3 }\n"
                   "t = 1\nt += { \"p\" }\nnew += \"q\"\n"));
  EXPECT_EQ(dump(db.get()),
            "[s] str <cd>\n[l] str <w>\n[n] int32_list 1;2;\n[m] int32_list 1;-2;16;3;\n"
            "[t] str_list <p>\n[new] str <q>\n");
  EXPECT_EQ(capture.all(), "");
}

TEST_F(OptionsDatabaseTest, BooleanWords) {
  ASSERT_TRUE(read("a = yes\nb = On\nc = TRUE\nd = nothing\ne = nope\nf = off\ng = False\nh = onion\n"));
  EXPECT_EQ(dump(db.get()),
            "[a] int32 1\n[b] int32 1\n[c] int32 1\n[d] int32 0\n[e] int32 0\n[f] int32 0\n[g] int32 0\n"
            "[h] int32 1\n");
  EXPECT_FALSE(read("x = falsey\n"));
  EXPECT_FALSE(read("x = maybe\n"));
  EXPECT_EQ(capture.all(), parse_error(1, "") + parse_error(1, ""));
}

TEST_F(OptionsDatabaseTest, NumbersWithBasesSignsAndSizes) {
  ASSERT_TRUE(read("h = 0x1F\no = 017\nd = 42\nn = -5\nm = - 0x10\nk = 2K\nz = 09\n"));
  EXPECT_EQ(dump(db.get()), "[h] int32 31\n[o] int32 15\n[d] int32 42\n[n] int32 -5\n[m] int32 -16\n"
                            "[k] int32 2\n[z] int32 0\n");
  configure = [](ut_options_database &d) { d.set_memory_size_shortcut_mode(true); };
  ASSERT_TRUE(read("k = 2K\nl = 3k\nm = 4M\nn = 5m\no = -1K\np = 7x\n"));
  EXPECT_EQ(dump(db.get()), "[k] int32 2048\n[l] int32 3072\n[m] int32 4194304\n[n] int32 5242880\n"
                            "[o] int32 -1024\n[p] int32 7\n");
  EXPECT_EQ(capture.all(), "");
}

TEST_F(OptionsDatabaseTest, CompatibilityModeReadsTokensAsStrings) {
  configure = [](ut_options_database &d) { d.set_compatibility_mode(true); };
  ASSERT_TRUE(read("a.b=5\nc=yes\nd=\"q\"\n"));
  EXPECT_EQ(dump(db.get()), "[c] str <yes>\n[d] str <q>\n{a}\n  [b] str <5>\n");
}

TEST_F(OptionsDatabaseTest, ErrorsHaveExactTextsAndPositions) {
  struct Case {
    const char *text;
    int line;
    const char *message;
  } cases[] = {
      {"ok = 1\nname\n", 2, "unexpected end of file"},
      {"a.\n", 1, "unexpected end of file"},
      {"a ! 1\n", 1, "unknown operator sequence \"!\" "},
      {"a == 1\n", 1, ""},  // "=" and then "=" as the value
      {"a b\n", 1, "unknown operator sequence \"b\" "},
      {"a xy = 1\n", 1, "unknown operator sequence \"xy\" "},
      {"a \"s\"\n", 1, "unknown operator sequence \"\"s\" "},
      {"a =\n", 1, "empty attribute value"},
      {"a = # comment\n", 1, "empty attribute value"},
      {"= 1\n", 1, "empty attribute name"},
      {"\"\" = 1\n", 1, "empty attribute name"},
      {"a = -\n", 1, "unexpected end of line"},
      {"a = {\n\"x\" }\n", 1, "unexpected end of line"},
      {"a = { \"x\"\n", 1, "unexpected end of line"},
      {"a = { \"x\",\n", 1, "unexpected end of line"},
      {"a = { \"x\" \"y\" }\n", 1, "expected '}'"},
      {"a = { \"x\" ; }\n", 1, "expected '}'"},
      {"a = { x }\n", 1, ""},
      {"a = ...\n", 1, ""},
      {"a = -x\n", 1, ""},
      {"\n\nlong = \\\n  \\\n  ?\n", 3, ""},
      {"n = 1\nn += 2\n", 2, "cannot append an integer value without integer lists"},
  };
  for (const Case &c : cases) {
    capture.clear();
    EXPECT_FALSE(read(c.text)) << c.text;
    EXPECT_TRUE(db->got_file_open_or_parse_error());
    EXPECT_EQ(capture.all(), parse_error(c.line, c.message)) << c.text;
  }
}

TEST_F(OptionsDatabaseTest, ReadingStopsAtTheFirstErrorAndKeepsWhatCameBefore) {
  EXPECT_FALSE(read("a = 1\nb = ?\nc = 3\nd ! 4\n"));
  EXPECT_EQ(dump(db.get()), "[a] int32 1\n");
  EXPECT_EQ(capture.all(), parse_error(2, ""));
}

TEST_F(OptionsDatabaseTest, ContinueAfterErrorsSkipsTheRestOfTheLine) {
  configure = [](ut_options_database &d) { d.set_continue_after_errors(true); };
  EXPECT_FALSE(read("a = 1\nb = ? x = 9\nblk {\nc = 3\nd ! 4\ne = 5\n}\nf = 6\n"));
  EXPECT_TRUE(db->got_file_open_or_parse_error());
  EXPECT_EQ(dump(db.get()), "[a] int32 1\n[f] int32 6\n{blk}\n  [c] int32 3\n  [e] int32 5\n");
  EXPECT_EQ(capture.all(), parse_error(2, "") + parse_error(5, "unknown operator sequence \"!\" "));
}

TEST_F(OptionsDatabaseTest, SemicolonsAndMacrosInValues) {
  configure = [](ut_options_database &d) {
    d.add_macro("NAME", "world");
    d.add_macro("PORT=80");
    d.add_int32_macro("N", -3);
  };
  ASSERT_TRUE(read(";\ns = \"hello ${NAME}\" ;\np = ${PORT}\nn = ${N}\nh = \"$__KORVO_HOST__\"\n"));
  EXPECT_EQ(dump(db.get()), "[s] str <hello world>\n[p] int32 80\n[n] int32 -3\n[h] str <solaris2>\n");
}

TEST_F(OptionsDatabaseTest, MacroRecursionFailsTheRead) {
  configure = [](ut_options_database &d) { d.add_macro("R", "${R}"); };
  EXPECT_FALSE(read("a = 1\nb = ${R}\n"));
  EXPECT_TRUE(db->got_file_open_or_parse_error());
  EXPECT_EQ(capture.messages.front().second,
            "\"" + file + "\", line 2: error: macro recursion detected for: \"R\"");
}

TEST_F(OptionsDatabaseTest, DirectivesAndIncludes) {
  dir.write("inc/part.cfg", "p = 1\n");
  ASSERT_TRUE(read("%if streq(__KORVO_HOST__, solaris2)\nh = 1\n%else\nh = 2\n%endif\n"
                   "g {\n%include \"inc/part.cfg\"\n}\n"));
  EXPECT_EQ(dump(db.get()), "[h] int32 1\n{g}\n  [p] int32 1\n");
  ut_string_list expected;
  expected.push_back(file.c_str());
  expected.push_back((dir.path() + "/inc/part.cfg").c_str());
  EXPECT_TRUE(db->get_opened_files_list() == expected);
  EXPECT_EQ(capture.all(), "");
}

TEST_F(OptionsDatabaseTest, FileOpenErrorsAndTheStreamReader) {
  ut_options_database d("x");
  EXPECT_FALSE(d.got_file_open_or_parse_error());
  EXPECT_FALSE(d.read_from_file_name((dir.path() + "/missing.cfg").c_str()));
  EXPECT_TRUE(d.got_file_open_or_parse_error());
  EXPECT_EQ(capture.all(), "");
  EXPECT_FALSE(d.read_from_file(stdin));
  EXPECT_EQ(capture.all(), "error: [ut_options_database::read_from_file]: not implemented\n");
}

TEST_F(OptionsDatabaseTest, ReadIntoANodeAndAccumulateOpenedFiles) {
  ut_options_database d("x");
  ut_attribute_tree *node = d.add_child_tree("n");
  std::string f1 = dir.write("one.cfg", "a = 1\n}\nb = 2\n");
  std::string f2 = dir.write("two.cfg", "c = 3\n");
  ASSERT_TRUE(d.read_from_file_name_into_node(f1.c_str(), node));
  ASSERT_TRUE(d.read_from_file_name(f2.c_str()));
  EXPECT_EQ(dump(&d), "[c] int32 3\n{n}\n  [a] int32 1\n  [b] int32 2\n");
  EXPECT_EQ(d.get_opened_files_list().size(), 2);
}

bool refuse_all(void *, const char *, int) { return false; }
int g_released = 0;
void count_release(void *) { ++g_released; }

TEST_F(OptionsDatabaseTest, ClientInterfaceVetoAndOwnership) {
  g_released = 0;
  auto *client = new ut_client_interface;
  client->set_env_callback(nullptr, count_release, nullptr, nullptr, refuse_all);
  {
    ut_options_database d("x", client, true);
    std::string f = dir.write("f.cfg", "a = 1\n");
    EXPECT_TRUE(d.read_from_file_name(f.c_str()));
    EXPECT_EQ(d.get_num_attributes(), 0);
    EXPECT_EQ(d.get_opened_files_list().size(), 0);
  }
  EXPECT_EQ(g_released, 1);
}

TEST_F(OptionsDatabaseTest, MacroHelpers) {
  ut_options_database d("name");
  EXPECT_STREQ(d.get_define_value("__KORVO_HOST__", true), "solaris2");
  EXPECT_NE(d.get_define_value("_KORVO_DIR", true), nullptr);
  EXPECT_NE(d.get_define_value("__KORVO_DIR__", true), nullptr);
  d.add_macro("BARE");
  d.add_macro("EQ=a=b");
  EXPECT_STREQ(d.get_define_value("BARE", true), "");
  EXPECT_STREQ(d.get_define_value("EQ", true), "a=b");
  ut_attribute_tree t;
  t.add_str_attribute("T1", "v1");
  t.add_int32_attribute("T2", 2);
  d.add_macros_from_tree(&t);
  EXPECT_STREQ(d.get_define_value("T1", true), "v1");
  EXPECT_STREQ(d.get_define_value("T2", true), "");
  ut_options_database other("o");
  other.add_macros_from_options_database(&d);
  EXPECT_STREQ(other.get_define_value("EQ", false), "a=b");
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(d.get_define_value("MISSING", false), nullptr);
  EXPECT_EQ(d.get_define_value("MISSING", true), nullptr);
  EXPECT_EQ(capture.all(), "error: macro not defined(MISSING) ...\n");
}

TEST_F(OptionsDatabaseTest, HostileNestingIsBounded) {
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "a.";
  deep += "k = 1\n";
  EXPECT_FALSE(read(deep));
  EXPECT_EQ(capture.all(), parse_error(1, "blocks nested too deeply"));
  std::string blocks;
  for (int i = 0; i < 5000; ++i) blocks += "b {\n";
  capture.clear();
  EXPECT_FALSE(read(blocks));
  EXPECT_EQ(capture.all(), parse_error(201, "blocks nested too deeply"));
}

}  // namespace
