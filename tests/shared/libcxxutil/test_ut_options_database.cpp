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

enum Mode { kPlain = 0, kIntLists = 1, kMemorySizes = 2, kCompatibility = 4, kContinue = 8, kMacros = 16 };

class OptionsDatabaseTest : public ::testing::Test {
 protected:
  // Writes `text` to a file and reads it into a fresh database.
  bool read(const std::string &text, int mode = kPlain) {
    file = dir.write("db.cfg", text);
    db = std::make_unique<ut_options_database>("test");
    db->set_allow_int32_lists(mode & kIntLists);
    db->set_memory_size_shortcut_mode(mode & kMemorySizes);
    db->set_compatibility_mode(mode & kCompatibility);
    db->set_continue_after_errors(mode & kContinue);
    if (mode & kMacros) {
      db->add_macro("NAME", "world");
      db->add_macro("PORT=80");
      db->add_int32_macro("N", -3);
      db->add_macro("R", "${R}");
    }
    return db->read_from_file_name(file.c_str());
  }
  std::string written(ut_options_database &d) {
    std::string out = dir.path("out.cfg");
    EXPECT_TRUE(d.write_to_file_name(out.c_str()));
    return TempDir::read(out);
  }
  // "file", line n: parse error: message
  std::string parse_error(int line, const std::string &message) {
    return "error: \"" + file + "\", line " + std::to_string(line) + ": parse error: " + message + "\n";
  }

  TempDir dir;
  std::string file;
  std::unique_ptr<ut_options_database> db;
  MessageCapture capture;
};

TEST_F(OptionsDatabaseTest, WrittenTextIsExactAndReadsBackTheSame) {
  ut_options_database d("x"), compat("y");
  d.add_int32_attribute("port", 5), d.add_str_list_attribute("l", "x"), d.append_str_list_attribute("l", "\"}\"");
  d.add_int32_list_attribute("n", 1), d.add_str_attribute("null", nullptr), d.set_str_list_attribute("empty", nullptr, 0);
  ut_attribute_tree *a = d.add_child_tree("group 1");
  a->add_str_attribute("odd key", "it's $x \"q\" \\ tab\there\r\nnl ${HOME} # no comment");
  a->add_child_tree("b_2")->add_int32_attribute("v", INT32_MIN), a->add_child_tree("c");
  EXPECT_EQ(written(d),
            "port = 5\nl = { \"x\", \"\\\"}\\\"\" }\nn = ...\nnull = \"\"\nempty = {  }\n\"group 1\" {\n"
            "    \"odd key\" = \"it\\'s \\$x \\\"q\\\" \\\\ tab\there\\r\\nnl \\${HOME} # no comment\"\n"
            "    \"b_2\" {\n        v = -2147483648\n    }\n    c {\n    }\n}\n");
  d.remove_attribute("n"), d.remove_attribute("null");  // integer lists are written as "...", a tab as itself
  ASSERT_TRUE(read(written(d)));
  EXPECT_EQ(dump(db.get()), dump(&d));
  EXPECT_EQ(written(*db), written(d));
  compat.set_compatibility_mode(true), compat.add_int32_attribute("top", 1);
  a = compat.add_child_tree("a");
  a->add_str_attribute("s", "q\""), a->add_str_list_attribute("l", "x");
  a->add_child_tree("b")->add_int32_list_attribute("n", 2);
  EXPECT_EQ(written(compat), "top=1\na.s=\"q\\\"\"\na.l=...\na.b.n=...\n");
  EXPECT_FALSE(d.write_to_file_name(dir.path("no/such/dir/f").c_str()));
  EXPECT_EQ(capture.all(), "");  // a file that cannot be opened is not reported here
  EXPECT_FALSE(d.write_to_file_name("/dev/full"));
  EXPECT_EQ(capture.all(), "error: failed when writing /dev/full\n");
  EXPECT_FALSE(d.write_to_file(nullptr));
}

TEST_F(OptionsDatabaseTest, ReadingRules) {
  struct Case {
    const char *text;
    int mode;
    const char *tree;
  } cases[] = {
      // Dotted names descend for one line only; "}" closes the enclosing
      // open block, and a stray one at the top is ignored.
      {"a.b.c = 1\nd = 2\nx {\n  y.z = 3\n}\n", kPlain, "[d] int32 2\n{a}\n  {b}\n    [c] int32 1\n{x}\n  {y}\n    [z] int32 3\n"},
      {"a {\n b.c {\n  k = 1\n }\n l = 2\n}\nm = 3\n}\nn = 4\na { o = 5 }\n", kPlain,
       "[m] int32 3\n[n] int32 4\n{a}\n  [l] int32 2\n  [o] int32 5\n  {b}\n    {c}\n      [k] int32 1\n"},
      {"s = \"a\"\ns += \"b\"\ns = \"c\" ; s += \"d\"\nl = { \"x\" }\nl += { \"y\", \"z\" }\nl += \"w\"\n"
       "n += 1\nn += 2\nm = { 1, -2, 0x10 }\nm += { 3 }\nt = 1\nt += { \"p\" }\nnew += \"q\"\n",
       kIntLists, "[s] str <cd>\n[l] str <w>\n[n] int32_list 1;2;\n[m] int32_list 1;-2;16;3;\n[t] str_list <p>\n[new] str <q>\n"},
      {"a = yes\nb = On\nc = TRUE\nd = nothing\ne = nope\nf = off\ng = False\nh = onion\n", kPlain,
       "[a] int32 1\n[b] int32 1\n[c] int32 1\n[d] int32 0\n[e] int32 0\n[f] int32 0\n[g] int32 0\n[h] int32 1\n"},
      {"h = 0x1F\no = 017\nn = -5\nm = - 0x10\nk = 2K\nz = 09\n", kPlain,
       "[h] int32 31\n[o] int32 15\n[n] int32 -5\n[m] int32 -16\n[k] int32 2\n[z] int32 0\n"},
      {"k = 2K\nl = 3k\nm = 4M\nn = 5m\no = -1K\np = 7x\n", kMemorySizes,
       "[k] int32 2048\n[l] int32 3072\n[m] int32 4194304\n[n] int32 5242880\n[o] int32 -1024\n[p] int32 7\n"},
      {"a.b=5\nc=yes\nd=\"q\"\n", kCompatibility, "[c] str <yes>\n[d] str <q>\n{a}\n  [b] str <5>\n"},
      {";\ns = \"hello ${NAME}\" ;\np = ${PORT}\nn = ${N}\nh = \"$__KORVO_HOST__\"\n", kMacros,
       "[s] str <hello world>\n[p] int32 80\n[n] int32 -3\n[h] str <solaris2>\n"},
  };
  for (const Case &c : cases) {
    EXPECT_TRUE(read(c.text, c.mode)) << c.text;
    EXPECT_EQ(dump(db.get()), c.tree) << c.text;
  }
  EXPECT_EQ(capture.all(), "");
}

TEST_F(OptionsDatabaseTest, ErrorsHaveExactTextsAndPositions) {
  std::string deep, blocks;
  for (int i = 0; i < 5000; ++i) deep += "a.", blocks += "b {\n";
  struct Case {
    std::string text;
    int line;
    const char *message;
  } cases[] = {
      {"ok = 1\nname\n", 2, "unexpected end of file"}, {"a.\n", 1, "unexpected end of file"},
      {"a ! 1\n", 1, "unknown operator sequence \"!\" "}, {"a == 1\n", 1, ""},  // "=" and "=" as the value
      {"a b\n", 1, "unknown operator sequence \"b\" "}, {"a xy = 1\n", 1, "unknown operator sequence \"xy\" "},
      {"a \"s\"\n", 1, "unknown operator sequence \"\"s\" "}, {"a =\n", 1, "empty attribute value"},
      {"a = # comment\n", 1, "empty attribute value"}, {"= 1\n", 1, "empty attribute name"},
      {"\"\" = 1\n", 1, "empty attribute name"}, {"a = -\n", 1, "unexpected end of line"},
      {"a = {\n\"x\" }\n", 1, "unexpected end of line"}, {"a = { \"x\"\n", 1, "unexpected end of line"},
      {"a = { \"x\",\n", 1, "unexpected end of line"}, {"a = { \"x\" \"y\" }\n", 1, "expected '}'"},
      {"a = { \"x\" ; }\n", 1, "expected '}'"}, {"a = { x }\n", 1, ""}, {"a = ...\n", 1, ""}, {"a = -x\n", 1, ""},
      {"x = falsey\n", 1, ""}, {"x = maybe\n", 1, ""}, {"\n\nlong = \\\n  \\\n  ?\n", 3, ""},
      {"n = 1\nn += 2\n", 2, "cannot append an integer value without integer lists"},
      {"a = 1\nb = ?\nc = 3\nd ! 4\n", 2, ""},  // reading stops at the first error
      {deep + "k = 1\n", 1, "blocks nested too deeply"}, {blocks, 201, "blocks nested too deeply"},
  };
  for (const Case &c : cases) {
    capture.clear();
    EXPECT_FALSE(read(c.text)) << c.text.substr(0, 40);
    EXPECT_TRUE(db->got_file_open_or_parse_error());
    EXPECT_EQ(capture.all(), parse_error(c.line, c.message)) << c.text.substr(0, 40);
  }
  EXPECT_FALSE(read("a = 1\nb = ?\nc = 3\n"));
  EXPECT_EQ(dump(db.get()), "[a] int32 1\n");  // what came before the error stays
  capture.clear();
  EXPECT_FALSE(read("a = 1\nb = ? x = 9\nblk {\nc = 3\nd ! 4\ne = 5\n}\nf = 6\n", kContinue));
  EXPECT_EQ(dump(db.get()), "[a] int32 1\n[f] int32 6\n{blk}\n  [c] int32 3\n  [e] int32 5\n");  // skips the line
  EXPECT_EQ(capture.all(), parse_error(2, "") + parse_error(5, "unknown operator sequence \"!\" "));
  capture.clear();
  EXPECT_FALSE(read("a = 1\nb = ${R}\n", kMacros));
  EXPECT_TRUE(db->got_file_open_or_parse_error());
  EXPECT_EQ(capture.messages.front().second, "\"" + file + "\", line 2: error: macro recursion detected for: \"R\"");
}

TEST_F(OptionsDatabaseTest, IncludesNodesOpenedFilesMacrosAndTheClientVeto) {
  dir.write("inc/part.cfg", "p = 1\n");
  ASSERT_TRUE(read("%if streq(__KORVO_HOST__, solaris2)\nh = 1\n%else\nh = 2\n%endif\ng {\n%include \"inc/part.cfg\"\n}\n"));
  EXPECT_EQ(dump(db.get()), "[h] int32 1\n{g}\n  [p] int32 1\n");
  ut_string_list expected;
  expected.push_back(file.c_str());
  expected.push_back(dir.path("inc/part.cfg").c_str());
  EXPECT_TRUE(db->get_opened_files_list() == expected);

  ut_options_database d("x");
  EXPECT_FALSE(d.got_file_open_or_parse_error() || d.read_from_file_name(dir.path("missing.cfg").c_str()));
  EXPECT_TRUE(d.got_file_open_or_parse_error());
  std::string f1 = dir.write("one.cfg", "a = 1\n}\nb = 2\n"), f2 = dir.write("two.cfg", "c = 3\n");
  ASSERT_TRUE(d.read_from_file_name_into_node(f1.c_str(), d.add_child_tree("n")) && d.read_from_file_name(f2.c_str()));
  EXPECT_EQ(dump(&d), "[c] int32 3\n{n}\n  [a] int32 1\n  [b] int32 2\n");
  EXPECT_EQ(d.get_opened_files_list().size(), 2);
  EXPECT_FALSE(d.read_from_file(stdin));
  EXPECT_EQ(capture.all(), "error: [ut_options_database::read_from_file]: not implemented\n");

  static int released = 0;
  auto *client = new ut_client_interface;
  client->set_env_callback(nullptr, [](void *) { ++released; }, nullptr, nullptr,
                           [](void *, const char *, int) { return false; });
  {
    ut_options_database vetoed("x", client, true);
    EXPECT_TRUE(vetoed.read_from_file_name(f2.c_str()));
    EXPECT_EQ(vetoed.get_num_attributes() + vetoed.get_opened_files_list().size(), 0);
  }
  EXPECT_EQ(released, 1);  // owned: released with the database

  capture.clear();
  EXPECT_STREQ(d.get_define_value("__KORVO_HOST__", true), "solaris2");
  EXPECT_TRUE(d.get_define_value("_KORVO_DIR", true) && d.get_define_value("__KORVO_DIR__", true));
  d.add_macro("BARE"), d.add_macro("EQ=a=b");
  ut_attribute_tree t;
  t.add_str_attribute("T1", "v1"), t.add_int32_attribute("T2", 2);
  d.add_macros_from_tree(&t);
  ut_options_database other("o");
  other.add_macros_from_options_database(&d);
  EXPECT_EQ(std::string(d.get_define_value("BARE", true)) + "|" + d.get_define_value("EQ", true) + "|" +
                d.get_define_value("T1", true) + "|" + d.get_define_value("T2", true) + "|" +
                other.get_define_value("EQ", false),
            "|a=b|v1||a=b");
  EXPECT_FALSE(d.get_define_value("MISSING", false) || d.get_define_value("MISSING", true));
  EXPECT_EQ(capture.all(), "error: macro not defined(MISSING) ...\n");
}

}  // namespace
