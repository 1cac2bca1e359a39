// ut_attribute_tree: structure, iteration with hidden children, sorting,
// paths, first-match attribute lookup, the typed getters with their
// warnings, the setters and the value functions.
#include "shared/libcxxutil/ut_attribute_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shared/runtime_test_support.h"
#include "shared/libcxxutil/ut_options_database.h"

namespace {

std::string child_names(const ut_attribute_tree &t, bool skip_hidden = false) {
  std::string out;
  for (auto *c = t.get_first_child(skip_hidden); c; c = t.get_next_child(c, skip_hidden))
    out += std::string(c->get_name()) + ",";
  return out;
}

std::string str_list(const ut_attribute_str_list *l) {
  std::string out;
  for (; l; l = l->next) out += std::string(l->value ? l->value : "(null)") + ",";
  return out;
}

std::string int_list(const ut_attribute_int32_list *l) {
  std::string out;
  for (; l; l = l->next) out += std::to_string(l->value) + ",";
  return out;
}

TEST(AttributeTree, ChildrenKeepInsertionOrderAndFirstMatchWins) {
  ut_attribute_tree root;
  ut_attribute_tree *a1 = root.add_child_tree("a");
  root.add_child_tree("b");
  ut_attribute_tree *a2 = root.add_child_tree("a");
  EXPECT_NE(a1, a2);
  EXPECT_EQ(root.find_child_tree("a"), a1);
  EXPECT_EQ(root.find_or_add_child_tree("a"), a1);
  EXPECT_EQ(root.find_child_tree(""), nullptr);
  EXPECT_EQ(root.find_child_tree(nullptr), nullptr);
  EXPECT_EQ(child_names(root), "a,b,a,");
  EXPECT_EQ(a1->get_parent(), &root);

  a1->add_child_tree("x")->add_child_tree("y");
  EXPECT_NE(root.find_child_child_child_tree("a", "x", "y"), nullptr);
  EXPECT_EQ(root.find_child_child_tree("b", "x"), nullptr);

  EXPECT_EQ(root.remove_child_tree("a", true), nullptr);
  EXPECT_EQ(root.find_child_tree("a"), a2);
  ut_attribute_tree *b = root.remove_child_tree("b", false);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->get_parent(), nullptr);
  delete b;
  EXPECT_EQ(child_names(root), "a,");
  EXPECT_EQ(root.remove_child_tree("zz", true), nullptr);
}

TEST(AttributeTree, HiddenChildrenAreSkippedWhenAsked) {
  ut_attribute_tree root;
  root.add_child_tree("a")->set_hidden(true);
  root.add_child_tree("b");
  root.add_child_tree("c")->set_hidden(true);
  root.add_child_tree("d");
  root.add_child_tree("e")->set_hidden(true);
  EXPECT_EQ(root.count_child_trees(false), 5);
  EXPECT_EQ(root.count_child_trees(true), 2);
  EXPECT_EQ(child_names(root, true), "b,d,");
  EXPECT_EQ(child_names(root, false), "a,b,c,d,e,");
}

TEST(AttributeTree, SortingAndMovingChildren) {
  ut_attribute_tree root;
  for (const char *n : {"d", "b", "a", "c"}) root.add_child_tree(n);
  root.sort_children_by_name();
  EXPECT_EQ(child_names(root), "a,b,c,d,");
  EXPECT_TRUE(root.move_child_to_front("c"));
  EXPECT_FALSE(root.move_child_to_front("zz"));
  EXPECT_EQ(child_names(root), "c,a,b,d,");
  root.add_child_tree("e");  // the last pointer survived the move
  EXPECT_EQ(child_names(root), "c,a,b,d,e,");

  root.find_child_tree("a")->add_str_attribute("k", "2");
  root.find_child_tree("b")->add_str_attribute("k", "1");
  root.find_child_tree("c")->add_str_attribute("k", "2");
  root.find_child_tree("c")->add_str_attribute("k2", "a");
  root.find_child_tree("a")->add_str_attribute("k2", "b");
  root.find_child_tree("d")->add_int32_attribute("k", 0);  // not a string: missing
  root.sort_children_by_str_attribute("k", "k2");
  EXPECT_EQ(child_names(root), "b,c,a,d,e,");
  root.sort_children_by_str_attribute("k", nullptr);
  EXPECT_EQ(child_names(root), "b,a,c,d,e,");
}

TEST(AttributeTree, DuplicateKeysFirstMatchWinsThroughTheIndex) {
  ut_attribute_tree root;
  for (int i = 0; i < 100; ++i) {
    root.add_child_tree(("n" + std::to_string(i % 50)).c_str())->add_int32_attribute("i", i);
    root.add_int32_attribute(("k" + std::to_string(i % 50)).c_str(), i);
  }
  EXPECT_EQ(root.find_child_tree("n7")->get_int32_attribute("i"), 7);
  EXPECT_EQ(root.get_int32_attribute("k7"), 7);
  EXPECT_TRUE(root.remove_attribute("k7"));
  EXPECT_EQ(root.get_int32_attribute("k7"), 57);
  root.remove_child_tree("n7", true);
  EXPECT_EQ(root.find_child_tree("n7")->get_int32_attribute("i"), 57);
  root.add_int32_attribute("fresh", 1);
  root.add_child_tree("fresh");
  EXPECT_EQ(root.get_int32_attribute("fresh"), 1);
  EXPECT_NE(root.find_child_tree("fresh"), nullptr);
  EXPECT_TRUE(root.move_child_to_front("n9"));
  EXPECT_EQ(root.find_child_tree("n9")->get_int32_attribute("i"), 9);
  EXPECT_EQ(root.get_num_attributes(), 100);
  EXPECT_FALSE(root.remove_attribute("x"));
  EXPECT_EQ(root.add_str_attribute("", "v"), nullptr);
  EXPECT_EQ(root.add_int32_attribute(nullptr, 1), nullptr);
  EXPECT_FALSE(root.has_attribute(""));
}

TEST(AttributeTree, DeepTreesAreDestroyedWithoutRecursion) {
  auto *root = new ut_attribute_tree("r");
  ut_attribute_tree *n = root;
  for (int i = 0; i < 200000; ++i) n = n->add_child_tree("d");
  delete root;
}

TEST(AttributeTree, PathNames) {
  ut_options_database db("db");
  ut_attribute_tree *c = db.add_child_tree("a")->add_child_tree("b c");
  EXPECT_STREQ(c->get_path_name(false).c_str(), "a.b c");
  EXPECT_STREQ(c->get_path_name(true).c_str(), "a.b c");  // no file read yet
  EXPECT_STREQ(db.get_path_name(false).c_str(), "");
  EXPECT_EQ(c->get_root(), &db);
  TempDir dir;
  std::string f = dir.write("x.cfg", "a.b = 1\n");
  ASSERT_TRUE(db.read_from_file_name(f.c_str()));
  EXPECT_EQ(std::string(c->get_path_name(true).c_str()), f + ":a.b c");
  ut_attribute_tree plain("top");
  EXPECT_STREQ(plain.add_child_tree("x")->get_path_name(true).c_str(), "x");
}

TEST(AttributeTree, RequiredGettersWarnWithPathTypeAndKey) {
  MessageCapture capture;
  ut_options_database db("db");
  ut_attribute_tree *n = db.add_child_tree("grp")->add_child_tree("sub");
  n->add_int32_attribute("i", 3);
  n->add_str_attribute("s", "text");
  EXPECT_EQ(n->get_int32_attribute("i", 9), 3);
  EXPECT_FALSE(n->get_missing_attribute_reported());
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(n->get_int32_attribute("s", 9), 9);
  EXPECT_TRUE(n->get_missing_attribute_reported());
  EXPECT_STREQ(n->get_str_attribute("nope", "d"), "d");
  EXPECT_EQ(n->get_str_list_attribute("i"), nullptr);
  EXPECT_EQ(n->get_int32_list_attribute("s"), nullptr);
  EXPECT_EQ(n->get_bool_attribute("nope", true), true);
  EXPECT_EQ(capture.all(),
            "warning: \"grp.sub\": is missing required int32 attribute \"s\"\n"
            "warning: \"grp.sub\": is missing required str attribute \"nope\"\n"
            "warning: \"grp.sub\": is missing required str_list attribute \"i\"\n"
            "warning: \"grp.sub\": is missing required int32_list attribute \"s\"\n"
            "warning: \"grp.sub\": is missing required int32 attribute \"nope\"\n");
  capture.clear();
  n->clear_missing_attribute_reported();
  EXPECT_EQ(n->get_optional_int32_attribute("s", 4), 4);
  EXPECT_STREQ(n->get_optional_str_attribute("i", "d"), "d");
  EXPECT_EQ(n->get_optional_str_list_attribute("s"), nullptr);
  EXPECT_EQ(n->get_child_int32_attribute("nochild", "i", 8), 8);
  EXPECT_FALSE(n->get_missing_attribute_reported());
  EXPECT_EQ(capture.all(), "");
}

// The child shortcuts: a missing child (or grandchild) gives the default
// silently; a present one is asked with the getter's own rules, so the
// required forms warn with the child's path.
TEST(AttributeTree, ChildShortcutsAskTheChildWithItsRules) {
  MessageCapture capture;
  ut_options_database db("db");
  ut_attribute_tree *g = db.add_child_tree("g");
  ut_attribute_tree *c = g->add_child_tree("c");
  c->add_str_attribute("s", "text");
  c->add_int32_attribute("i", 12);
  c->add_str_attribute("flag", "on");
  ut_attribute_tree *d = c->add_child_tree("d");
  d->add_int32_attribute("n", -4);
  d->add_str_attribute("t", "deep");

  EXPECT_STREQ(g->get_child_str_attribute("c", "s", "def"), "text");
  EXPECT_EQ(g->get_child_int32_attribute("c", "i", 0), 12);
  EXPECT_STREQ(g->get_child_optional_str_attribute("c", "s"), "text");
  EXPECT_EQ(g->get_child_optional_int32_attribute("c", "i", 0), 12);
  EXPECT_TRUE(g->get_child_optional_bool_attribute("c", "flag", false));
  EXPECT_EQ(g->get_child_child_int32_attribute("c", "d", "n", 0), -4);
  EXPECT_STREQ(g->get_child_child_str_attribute("c", "d", "t", "def"), "deep");
  // Missing children: the default, no warning.
  EXPECT_STREQ(g->get_child_str_attribute("x", "s", "def"), "def");
  EXPECT_EQ(g->get_child_child_int32_attribute("c", "x", "n", 7), 7);
  EXPECT_STREQ(g->get_child_child_str_attribute("x", "d", "t", "def"), "def");
  EXPECT_TRUE(g->get_child_optional_bool_attribute("x", "flag", true));
  // Present children without the key or with another type.
  EXPECT_EQ(g->get_child_optional_int32_attribute("c", "s", 5), 5);
  EXPECT_STREQ(g->get_child_optional_str_attribute("c", "missing", "o"), "o");
  EXPECT_EQ(capture.all(), "");
  EXPECT_FALSE(c->get_missing_attribute_reported());
  EXPECT_STREQ(g->get_child_str_attribute("c", "i", "def"), "def");
  EXPECT_EQ(g->get_child_child_int32_attribute("c", "d", "t", 3), 3);
  EXPECT_EQ(capture.all(),
            "warning: \"g.c\": is missing required str attribute \"i\"\n"
            "warning: \"g.c.d\": is missing required int32 attribute \"t\"\n");
  EXPECT_TRUE(c->get_missing_attribute_reported());
  EXPECT_TRUE(d->get_missing_attribute_reported());
  EXPECT_FALSE(g->get_missing_attribute_reported());
}

TEST(AttributeTree, BooleanValues) {
  ut_attribute_tree t;
  t.add_int32_attribute("zero", 0);
  t.add_int32_attribute("two", 2);
  t.add_str_attribute("yes", "  YeS");
  t.add_str_attribute("on", "On");
  t.add_str_attribute("one", "1");
  t.add_str_attribute("true", "TRUE");
  t.add_str_attribute("no", "no");
  t.add_str_attribute("yess", "yess");
  t.add_str_list_attribute("list", "yes");
  EXPECT_FALSE(t.get_bool_attribute("zero", true));
  EXPECT_TRUE(t.get_bool_attribute("two"));
  for (const char *k : {"yes", "on", "one", "true"}) EXPECT_TRUE(t.get_bool_attribute(k)) << k;
  EXPECT_FALSE(t.get_bool_attribute("no", true));
  EXPECT_FALSE(t.get_bool_attribute("yess", true));
  EXPECT_TRUE(t.get_optional_bool_attribute("list", true));
  EXPECT_FALSE(t.get_optional_bool_attribute("missing", false));
}

TEST(AttributeTree, AttributeAsInt32) {
  MessageCapture capture;
  ut_attribute_tree t;
  t.add_int32_attribute("i", -1);
  t.add_str_attribute("hex", "0x10");
  t.add_str_attribute("oct", " 010");
  t.add_str_attribute("neg", "-5");
  t.add_str_attribute("minus1", "-1");
  t.add_str_attribute("junk", "12abc");
  EXPECT_EQ(t.get_attribute_as_int32("i", 7), -1);
  EXPECT_EQ(t.get_attribute_as_int32("hex", 7), 16);
  EXPECT_EQ(t.get_attribute_as_int32("oct", 7), 8);
  EXPECT_EQ(t.get_attribute_as_int32("neg", 7), -5);
  EXPECT_EQ(t.get_attribute_as_int32("minus1", 7), 7);
  EXPECT_EQ(t.get_attribute_as_int32("junk", 7), 7);
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(t.get_attribute_as_int32("missing", 7), 7);
  EXPECT_EQ(t.get_optional_attribute_as_int32("missing", 6), 6);
  EXPECT_EQ(capture.all(), "warning: \"\": is missing required int32 attribute \"missing\"\n");
}

TEST(AttributeTree, FilenamesQuotingAndEscaping) {
  MessageCapture capture;
  ut_attribute_tree t;
  t.add_str_attribute("good", "c:/dir");
  t.add_str_attribute("bad", "c:dir");
  t.add_str_attribute("q", "a\"b\\c'd\n");
  EXPECT_STREQ(t.get_filename_attribute("good"), "c:/dir");
  EXPECT_STREQ(t.get_optional_filename_attribute("bad"), "c:dir");
  EXPECT_EQ(capture.all(), "warning: filename attribute \"bad\" appears to not have been backslashed \"c:dir\"\n");
  char *q = t.get_str_attribute_quoted("q");
  EXPECT_STREQ(q, "\"a\\\"b\\\\c\\'d\n\"");
  gen_free(q);
  char *e = t.get_str_attribute_escaped("q");
  EXPECT_STREQ(e, "a\\\"b\\\\c\\'d\\n");
  gen_free(e);
  EXPECT_EQ(t.get_str_attribute_quoted("none"), nullptr);  // warns, no default
}

TEST(AttributeTree, ReplaceAndAppend) {
  ut_attribute_tree t;
  t.add_int32_attribute("k", 1);
  t.add_int32_attribute("k", 2);
  t.add_or_replace_str_attribute("k", "s");  // the first record changes type
  EXPECT_STREQ(t.get_str_attribute("k"), "s");
  EXPECT_EQ(t.get_num_attributes(), 2);
  t.append_str_attribute("k", "+t");
  EXPECT_STREQ(t.get_str_attribute("k"), "s+t");
  t.append_str_attribute("new", "n");
  EXPECT_STREQ(t.get_str_attribute("new"), "n");
  t.add_int32_attribute("i", 5);
  t.append_str_attribute("i", "was int");  // another type is discarded
  EXPECT_STREQ(t.get_str_attribute("i"), "was int");

  t.append_str_list_attribute("l", "a");
  t.append_str_list_attribute("l", "b");
  t.append_str_list_attribute("i", "c");  // string becomes a one-element list
  EXPECT_EQ(str_list(t.get_str_list_attribute("l")), "a,b,");
  EXPECT_EQ(str_list(t.get_str_list_attribute("i")), "c,");
  t.append_int32_list_attribute("n", 1);
  t.append_int32_list_attribute("n", 2);
  t.append_int32_list_attribute("l", 3);
  EXPECT_EQ(int_list(t.get_int32_list_attribute("n")), "1,2,");
  EXPECT_EQ(int_list(t.get_int32_list_attribute("l")), "3,");
  t.add_or_replace_int32_list_attribute("n", 9);
  EXPECT_EQ(int_list(t.get_int32_list_attribute("n")), "9,");
  t.add_or_replace_str_list_attribute("n", "z");
  EXPECT_EQ(str_list(t.get_str_list_attribute("n")), "z,");
  const char *two[] = {"p", "q"};
  t.set_str_list_attribute("n", two, 2);
  EXPECT_EQ(str_list(t.get_str_list_attribute("n")), "p,q,");
  t.set_str_list_attribute("empty", nullptr, 0);
  EXPECT_TRUE(t.has_attribute("empty"));
  EXPECT_EQ(t.get_str_list_attribute("empty"), nullptr);
}

TEST(AttributeTree, IterationAndRecordValues) {
  ut_attribute_tree t;
  t.add_str_attribute("s", "v");
  t.add_int32_attribute("i", 4);
  t.add_str_list_attribute("l", "x");
  t.append_str_list_attribute("l", "y");
  t.add_int32_list_attribute("n", 7);
  std::string seen;
  for (auto *a = t.get_first_attribute(); a; a = t.get_next_attribute(a)) {
    seen += std::string(ut_attribute_tree::get_attribute_key_name(a)) + ":" +
            ut_attribute_type_name(ut_attribute_tree::get_attribute_type(a)) + ";";
  }
  EXPECT_EQ(seen, "s:str;i:int32;l:str_list;n:int32_list;");
  auto *s = t.find_attribute("s");
  auto *i = t.find_attribute("i");
  auto *l = t.find_attribute("l");
  auto *n = t.find_attribute("n");
  EXPECT_STREQ(ut_attribute_tree::get_attribute_str_value(s), "v");
  EXPECT_EQ(ut_attribute_tree::get_attribute_str_value(i), nullptr);
  EXPECT_EQ(ut_attribute_tree::get_attribute_int32_value(i), 4);
  EXPECT_EQ(ut_attribute_tree::get_attribute_int32_value(s), -1);
  EXPECT_EQ(int_list(ut_attribute_tree::get_int32_list_value(n)), "7,");
  EXPECT_EQ(ut_attribute_tree::get_int32_list_value(l), nullptr);

  int count = -1;
  char **shared = ut_attribute_tree::get_attribute_strlist_value(l, false, &count);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(shared[0], "x");
  EXPECT_STREQ(shared[1], "y");
  EXPECT_EQ(shared[2], nullptr);
  EXPECT_EQ(shared[0], l->value.str_list->value);  // not copied
  gen_free(shared);
  char **copied = ut_attribute_tree::get_attribute_strlist_value(s, true, &count);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(copied[0], "v");
  EXPECT_NE(copied[0], s->value.str);
  gen_free(copied[0]);
  gen_free(copied);
  EXPECT_EQ(ut_attribute_tree::get_attribute_strlist_value(i, true, &count), nullptr);
  EXPECT_EQ(count, 0);
}

}  // namespace
