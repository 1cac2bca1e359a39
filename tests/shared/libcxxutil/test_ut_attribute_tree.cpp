// ut_attribute_tree: structure, hidden children, sorting, paths,
// first-match lookup through the index, the typed getters with their
// warnings, the child shortcuts, the setters and the record values.
#include "shared/libcxxutil/ut_attribute_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "shared/libcxxutil/ut_options_database.h"
#include "shared/runtime_test_support.h"

namespace {

std::string child_names(const ut_attribute_tree &t, bool skip_hidden = false) {
  std::string out;
  for (auto *c = t.get_first_child(skip_hidden); c; c = t.get_next_child(c, skip_hidden))
    out += std::string(c->get_name()) + ",";
  return out;
}

std::string list_text(const ut_attribute_str_list *l) {
  std::string out;
  for (; l; l = l->next) out += std::string(l->value ? l->value : "(null)") + ",";
  return out;
}

std::string list_text(const ut_attribute_int32_list *l) {
  std::string out;
  for (; l; l = l->next) out += std::to_string(l->value) + ",";
  return out;
}

TEST(AttributeTree, ChildrenKeepInsertionOrderAndFirstMatchWins) {
  ut_attribute_tree root;
  ut_attribute_tree *a1 = root.add_child_tree("a");
  root.add_child_tree("b")->set_hidden(true);
  ut_attribute_tree *a2 = root.add_child_tree("a");
  EXPECT_TRUE(root.find_child_tree("a") == a1 && root.find_or_add_child_tree("a") == a1);
  EXPECT_FALSE(root.find_child_tree("") || root.find_child_tree(nullptr));
  EXPECT_EQ(child_names(root) + "|" + child_names(root, true), "a,b,a,|a,a,");
  EXPECT_EQ(root.count_child_trees(false) * 10 + root.count_child_trees(true), 32);
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
  EXPECT_EQ(root.remove_child_tree("zz", true), nullptr);
  EXPECT_EQ(child_names(root), "a,");
  ut_attribute_tree *n = a2;  // deep trees are destroyed without recursion
  for (int i = 0; i < 200000; ++i) n = n->add_child_tree("d");
}

TEST(AttributeTree, SortingMovingAndTheIndexAgree) {
  ut_attribute_tree root;
  for (const char *n : {"d", "b", "a", "c"}) root.add_child_tree(n);
  root.sort_children_by_name();
  EXPECT_TRUE(root.move_child_to_front("c") && !root.move_child_to_front("zz"));
  root.add_child_tree("e");  // the last pointer survived the move
  EXPECT_EQ(child_names(root), "c,a,b,d,e,");
  const char *keys[][3] = {{"a", "k", "2"}, {"b", "k", "1"}, {"c", "k", "2"}, {"c", "k2", "a"}, {"a", "k2", "b"}};
  for (auto &k : keys) root.find_child_tree(k[0])->add_str_attribute(k[1], k[2]);
  root.find_child_tree("d")->add_int32_attribute("k", 0);  // not a string: missing
  root.sort_children_by_str_attribute("k", "k2");
  EXPECT_EQ(child_names(root), "b,c,a,d,e,");
  root.sort_children_by_str_attribute("k", nullptr);
  EXPECT_EQ(child_names(root), "b,a,c,d,e,");

  // Many duplicate names: the first match wins through the index as well.
  ut_attribute_tree big;
  for (int i = 0; i < 100; ++i) {
    big.add_child_tree(("n" + std::to_string(i % 50)).c_str())->add_int32_attribute("i", i);
    big.add_int32_attribute(("k" + std::to_string(i % 50)).c_str(), i);
  }
  auto probe = [&](const char *child, const char *key) {
    return big.find_child_tree(child)->get_int32_attribute("i") + big.get_int32_attribute(key) * 100;
  };
  EXPECT_EQ(probe("n7", "k7"), 707);
  EXPECT_TRUE(big.remove_attribute("k7"));
  big.remove_child_tree("n7", true);
  EXPECT_EQ(probe("n7", "k7"), 5757);
  big.add_int32_attribute("fresh", 1);
  big.add_child_tree("fresh");
  EXPECT_TRUE(big.move_child_to_front("n9"));
  EXPECT_EQ(probe("n9", "fresh"), 109);
  EXPECT_NE(big.find_child_tree("fresh"), nullptr);
  EXPECT_EQ(big.get_num_attributes(), 100);
  EXPECT_FALSE(big.remove_attribute("x") || big.add_str_attribute("", "v") || big.add_int32_attribute(nullptr, 1) ||
               big.has_attribute(""));
}

// Required getters warn with the path, type and key and mark the node;
// optional ones and missing children give the default silently.
TEST(AttributeTree, PathsGettersAndChildShortcutsWarnOnlyWhenRequired) {
  MessageCapture capture;
  ut_options_database db("db");
  ut_attribute_tree *g = db.add_child_tree("g"), *c = g->add_child_tree("c"), *d = c->add_child_tree("d");
  ut_attribute_tree *spaced = db.add_child_tree("a")->add_child_tree("b c");
  EXPECT_EQ(std::string(spaced->get_path_name(false).c_str()) + "|" + spaced->get_path_name(true).c_str() + "|" +
                db.get_path_name(false).c_str(),
            "a.b c|a.b c|");  // no file read yet
  EXPECT_EQ(spaced->get_root(), &db);
  TempDir dir;
  std::string f = dir.write("x.cfg", "a.b = 1\n");
  ASSERT_TRUE(db.read_from_file_name(f.c_str()));
  EXPECT_EQ(std::string(spaced->get_path_name(true).c_str()), f + ":a.b c");
  EXPECT_STREQ(ut_attribute_tree("top").add_child_tree("x")->get_path_name(true).c_str(), "x");
  c->add_str_attribute("s", "text"), c->add_int32_attribute("i", 12), c->add_str_attribute("flag", "on");
  d->add_int32_attribute("n", -4), d->add_str_attribute("t", "deep");
  auto num = [](long v) { return std::to_string(v); };
  const std::pair<std::string, std::string> cases[] = {
      {g->get_child_str_attribute("c", "s", "def"), "text"}, {num(g->get_child_int32_attribute("c", "i", 0)), "12"},
      {g->get_child_optional_str_attribute("c", "s"), "text"},
      {num(g->get_child_optional_int32_attribute("c", "i", 0)), "12"},
      {num(g->get_child_optional_bool_attribute("c", "flag", false)), "1"},
      {num(g->get_child_child_int32_attribute("c", "d", "n", 0)), "-4"},
      {g->get_child_child_str_attribute("c", "d", "t", "def"), "deep"}, {g->get_child_str_attribute("x", "s", "def"), "def"},
      {num(g->get_child_child_int32_attribute("c", "x", "n", 7)), "7"},
      {g->get_child_child_str_attribute("x", "d", "t", "def"), "def"},
      {num(g->get_child_optional_bool_attribute("x", "flag", true)), "1"},
      {num(g->get_child_optional_int32_attribute("c", "s", 5)), "5"},
      {g->get_child_optional_str_attribute("c", "missing", "o"), "o"}, {num(c->get_optional_int32_attribute("s", 4)), "4"},
      {c->get_optional_str_attribute("i", "d"), "d"}, {num(c->get_optional_str_list_attribute("s") == nullptr), "1"},
      {g->get_child_str_attribute("c", "i", "def"), "def"},  // from here on each warns
      {num(g->get_child_child_int32_attribute("c", "d", "t", 3)), "3"}, {num(c->get_int32_attribute("s", 9)), "9"},
      {num(c->get_str_list_attribute("i") == nullptr), "1"}, {num(c->get_int32_list_attribute("s") == nullptr), "1"},
      {num(c->get_bool_attribute("nope", true)), "1"},
  };
  for (const auto &[got, want] : cases) EXPECT_EQ(got, want);
  std::string warnings;  // the path names the file the tree was read from
  for (auto [node, type, key] : {std::tuple{"g.c", "str", "i"}, {"g.c.d", "int32", "t"}, {"g.c", "int32", "s"},
                                 {"g.c", "str_list", "i"}, {"g.c", "int32_list", "s"}, {"g.c", "int32", "nope"}})
    warnings += "warning: \"" + f + ":" + node + "\": is missing required " + type + " attribute \"" + key + "\"\n";
  EXPECT_EQ(capture.all(), warnings);
  EXPECT_TRUE(c->get_missing_attribute_reported() && d->get_missing_attribute_reported());
  EXPECT_FALSE(g->get_missing_attribute_reported());
  c->clear_missing_attribute_reported();
  EXPECT_FALSE(c->get_missing_attribute_reported());
}

TEST(AttributeTree, ConversionsBooleansFilenamesAndQuoting) {
  MessageCapture capture;
  ut_attribute_tree t;
  for (auto [k, v] : {std::pair{"zero", 0}, {"two", 2}, {"minus", -1}}) t.add_int32_attribute(k, v);
  t.add_str_list_attribute("list", "yes");
  const char *strings[][2] = {{"yes", "  YeS"}, {"on", "On"},   {"one", "1"},      {"true", "TRUE"}, {"no", "no"},
                              {"yess", "yess"}, {"hex", "0x10"}, {"oct", " 010"},  {"neg", "-5"},    {"m1", "-1"},
                              {"junk", "12abc"}, {"good", "c:/dir"}, {"bad", "c:dir"}, {"q", "a\"b\\c'd\n"}};
  for (auto &s : strings) t.add_str_attribute(s[0], s[1]);
  for (const char *k : {"two", "yes", "on", "one", "true"}) EXPECT_TRUE(t.get_bool_attribute(k)) << k;
  for (const char *k : {"zero", "no", "yess"}) EXPECT_FALSE(t.get_bool_attribute(k, true)) << k;
  EXPECT_TRUE(t.get_optional_bool_attribute("list", true) && !t.get_optional_bool_attribute("missing", false));
  const std::pair<const char *, int> ints[] = {{"minus", -1}, {"hex", 16}, {"oct", 8}, {"neg", -5}, {"m1", 7}, {"junk", 7}};
  for (auto [k, v] : ints) EXPECT_EQ(t.get_attribute_as_int32(k, 7), v) << k;
  EXPECT_EQ(t.get_optional_attribute_as_int32("missing", 6), 6);
  EXPECT_STREQ(t.get_filename_attribute("good"), "c:/dir");
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(t.get_attribute_as_int32("missing", 7), 7);
  EXPECT_STREQ(t.get_optional_filename_attribute("bad"), "c:dir");
  EXPECT_EQ(capture.all(), "warning: \"\": is missing required int32 attribute \"missing\"\n"
                           "warning: filename attribute \"bad\" appears to not have been backslashed \"c:dir\"\n");
  EXPECT_EQ(take(t.get_str_attribute_quoted("q")), "\"a\\\"b\\\\c\\'d\n\"");
  EXPECT_EQ(take(t.get_str_attribute_escaped("q")), "a\\\"b\\\\c\\'d\\n");
  EXPECT_EQ(t.get_str_attribute_quoted("none"), nullptr);  // warns, no default
}

TEST(AttributeTree, ReplaceAppendChangeTypesAndRecordValues) {
  ut_attribute_tree t;
  t.add_int32_attribute("k", 1), t.add_int32_attribute("k", 2);
  t.add_or_replace_str_attribute("k", "s");  // the first record changes type
  t.append_str_attribute("k", "+t"), t.append_str_attribute("new", "n");
  t.add_int32_attribute("i", 5);
  t.append_str_attribute("i", "was int");  // another type is discarded
  EXPECT_EQ(std::string(t.get_str_attribute("k")) + t.get_str_attribute("new") + t.get_str_attribute("i"), "s+tnwas int");
  EXPECT_EQ(t.get_num_attributes(), 4);
  t.append_str_list_attribute("l", "a"), t.append_str_list_attribute("l", "b");
  t.append_str_list_attribute("i", "c");  // a string becomes a one-element list
  t.append_int32_list_attribute("n", 1), t.append_int32_list_attribute("n", 2), t.append_int32_list_attribute("l", 3);
  EXPECT_EQ(list_text(t.get_str_list_attribute("i")) + list_text(t.get_int32_list_attribute("n")) +
                list_text(t.get_int32_list_attribute("l")),
            "c,1,2,3,");
  t.add_or_replace_int32_list_attribute("n", 9);
  EXPECT_EQ(list_text(t.get_int32_list_attribute("n")), "9,");
  t.add_or_replace_str_list_attribute("n", "z");
  EXPECT_EQ(list_text(t.get_str_list_attribute("n")), "z,");
  const char *two[] = {"p", "q"};
  t.set_str_list_attribute("n", two, 2);
  t.set_str_list_attribute("empty", nullptr, 0);
  EXPECT_EQ(list_text(t.get_str_list_attribute("n")), "p,q,");
  EXPECT_TRUE(t.has_attribute("empty") && t.get_str_list_attribute("empty") == nullptr);

  auto *s = t.find_attribute("new"), *k = t.find_attribute("k"), *sl = t.find_attribute("n"), *il = t.find_attribute("l");
  t.add_int32_attribute("int", 4);
  auto *n = t.find_attribute("int");
  EXPECT_EQ(std::string(ut_attribute_tree::get_attribute_key_name(sl)) +
                ut_attribute_type_name(ut_attribute_tree::get_attribute_type(n)),
            "nint32");
  EXPECT_STREQ(ut_attribute_tree::get_attribute_str_value(s), "n");
  EXPECT_EQ(ut_attribute_tree::get_attribute_str_value(n), nullptr);
  EXPECT_EQ(ut_attribute_tree::get_attribute_int32_value(n) * 10 + ut_attribute_tree::get_attribute_int32_value(k), 39);
  EXPECT_EQ(list_text(ut_attribute_tree::get_int32_list_value(il)), "3,");
  EXPECT_EQ(ut_attribute_tree::get_int32_list_value(sl), nullptr);
  int count = -1;
  char **shared = ut_attribute_tree::get_attribute_strlist_value(sl, false, &count);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(std::string(shared[0]) + shared[1], "pq");
  EXPECT_TRUE(shared[2] == nullptr && shared[0] == sl->value.str_list->value);  // not copied
  gen_free(shared);
  char **copied = ut_attribute_tree::get_attribute_strlist_value(s, true, &count);
  ASSERT_EQ(count, 1);
  EXPECT_NE(copied[0], s->value.str);
  EXPECT_EQ(take(copied[0]), "n");
  gen_free(copied);
  EXPECT_EQ(ut_attribute_tree::get_attribute_strlist_value(n, true, &count), nullptr);
  EXPECT_EQ(count, 0);
}

}  // namespace
