// ut_file_parser: lines and continuations, tokens, comments, macro
// expansion inside and outside strings, recursion and expansion limits,
// directives, includes, positions and error reports.
#include "shared/libcxxutil/ut_file_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "shared/runtime_test_support.h"

namespace {

class FileParserTest : public ::testing::Test {
 protected:
  // Opens a parser on a file holding `text`.
  ut_file_parser &open(const std::string &text, bool slash = true, bool fatal = false) {
    file = dir.write("main.cfg", text);
    parser = std::make_unique<ut_file_parser>(fatal, slash, &macros, &client);
    EXPECT_TRUE(parser->open_file(file.c_str()));
    return *parser;
  }
  // Every token of the input, lines separated by " | ".
  std::string lex(const std::string &text, bool slash = true) {
    ut_file_parser &p = open(text, slash);
    std::string out;
    for (const char *t; (t = p.eat_next());) out += t + std::string(p.at_eol() ? " | " : " ");
    return out;
  }
  // The report of the parser for the line: "error: "<file>", line n: error: text\n".
  std::string at(int line, const std::string &text) {
    return "error: \"" + dir.path("main.cfg") + "\", line " + std::to_string(line) + ": error: " + text + "\n";
  }

  TempDir dir;
  std::string file;
  ut_macro_map macros;
  ut_client_interface client;
  std::unique_ptr<ut_file_parser> parser;
  MessageCapture capture;
};

TEST_F(FileParserTest, TokensLinesMacrosAndDirectives) {
  macros.insert("PAIR", "k = 5");
  macros.insert("EMPTY", "");
  macros.insert("NESTED", "${PAIR} ;");
  macros.insert("V", "v");
  dir.write("sub/inner.cfg", "inner1\n%include \"deeper/leaf.cfg\"\ninner2 \"$__DIR__\"\n");
  dir.write("sub/deeper/leaf.cfg", "leaf \"$__DIR__\"");
  dir.write("x.cfg", "x");
  const std::string d = dir.path(), abs = dir.write("abs.cfg", "abs");
  struct Case {
    std::string input;
    std::string tokens;
    bool slash = true;
  } cases[] = {
      {"a.b = 1 # comment\n  x+=\"s # t\";\n# whole line\n\n[y]", "a . b = 1 | x += \"s # t\" ; | [ y ] | "},
      {"x %= *= /= ^= && &= ++ += -- -= || |= ;; [[ == <<", "x %= *= /= ^= && &= ++ += -- -= || |= ; ; [ [ = = < < | ",
       false},
      {"x /= 1", "x / = 1 | "},  // with "/"-identifiers the slash belongs to words
      {"usr/lib_2 10K 0x1f -5", "usr/lib_2 10K 0x1f - 5 | "},
      {"usr/lib_2 10K 0x1f a#b", "usr / lib_2 10 K 0x1f a | ", false},
      {"a\r\nb\rc\nd", "a | b | c | d | "}, {"a \\\n b \\\nc\nd", "a b c | d | "}, {"a\\", "a | "},
      {std::string("a\0b\nc", 5), "a b | c | "},  // zero bytes do not end the input
      {"${PAIR}\n${EMPTY}\nx ${NESTED} y", "k = 5 | x k = 5 ; y | "},
      {"${V}${V} ${V} \"$V$V\"", "v v v \"vv\" | "},  // no recursion; tokens do not join across values
      {"%define X 2\n%if X == 2\na\n%if 0\nb\n%else\nc\n%endif\n%elif 1\nd\n%else\ne\n%endif\nf", "a | c | f | "},
      {"top \"${__DIR__}\"\n%include \"sub/inner.cfg\"\nafter \"$__DIR__\"",
       "top \"" + d + "\" | inner1 | leaf \"" + d + "/sub/deeper\" | inner2 \"" + d + "/sub\" | after \"" + d + "\" | "},
      {"%include \"${__DIR__}/x.cfg\"\n%include \"" + abs + "\"", "x | abs | "},
  };
  for (const Case &c : cases) EXPECT_EQ(lex(c.input, c.slash), c.tokens) << c.input;
  EXPECT_EQ(capture.all(), "");
  ut_string_list opened;
  for (const char *f : {"main.cfg", "x.cfg"}) opened.push_back(dir.path(f).c_str());
  opened.push_back(abs.c_str());
  EXPECT_TRUE(parser->get_opened_files_list() == opened);
}

TEST_F(FileParserTest, MacroErrorsAndLimits) {
  macros.insert("SELF", "a ${SELF}");
  macros.insert("A", "${B}");
  macros.insert("B", "${A}");
  macros.insert("S", "s$S");
  macros.insert("L0", "x");
  for (int i = 1; i <= 30; ++i) {  // doubling definitions
    std::string prev = "${L" + std::to_string(i - 1) + "}";
    macros.insert(("L" + std::to_string(i)).c_str(), (prev + prev).c_str());
  }
  for (int i = 0; i < 1000; ++i)  // a chain M0 -> M1 -> ... -> M1000
    macros.insert(("M" + std::to_string(i)).c_str(), ("${M" + std::to_string(i + 1) + "}").c_str());
  macros.insert("M1000", "end");
  macros.insert("M950", "end");
  const std::string tooDeep = at(1, "macro nesting too deep for: \"M64\"");
  struct Case {
    std::string input, tokens, messages;
  } cases[] = {
      {"a ${UNDEF} $b $", "a UNDEF $ b $ | ", "error: macro not defined(UNDEF) ...\n"},
      {"${SELF} b", "a b | ", at(1, "macro recursion detected for: \"SELF\"")},
      {"x ${A} y", "x y | ", at(1, "macro recursion detected for: \"A\"")},
      {"\"${S}\"", "\"s\" | ", at(1, "macro recursion detected for: \"S\"")},
      {"${M900} \"$M900\"", "end \"end\" | ", ""}, {"${M0} \"$M0\"", "\"\" | ", tooDeep + tooDeep},
      {"%define NAME value\nk = ${NAME}\n%undef NAME\nk = ${NAME}", "k = value | k = NAME | ",
       "error: macro not defined(NAME) ...\n"},
  };
  for (const Case &c : cases) {
    capture.clear();
    EXPECT_EQ(lex(c.input), c.tokens) << c.input;
    EXPECT_EQ(capture.all(), c.messages) << c.input;
  }
  capture.clear();
  EXPECT_GT(lex("${L30}\n\"${L30}\"\nend").size(), 2000u);
  EXPECT_EQ(capture.all(), at(1, "macro expansion too long") + at(2, "macro expansion too long"));
  EXPECT_TRUE(parser->had_error());
}

TEST_F(FileParserTest, MacrosInsideStringsAndUnquoting) {
  macros.insert("Q", "say \"hi\"\\now");
  macros.insert("P", "prefix-$Q");
  macros.insert("HOST_", "h");
  ut_file_parser &p = open(R"("$Q|${P}|$NOPE|$HOST_x|\$Q|$ 1|${NOPE2}" plain "open)");
  EXPECT_STREQ(p.eat_next(), R"("say \"hi\"\\now|prefix-say \"hi\"\\now|$NOPE|$HOST_x|\$Q|$ 1|NOPE2")");
  EXPECT_TRUE(p.prev_was_string());
  EXPECT_STREQ(p.unquote_prev(), R"(say "hi"\now|prefix-say "hi"\now|$NOPE|$HOST_x|$Q|$ 1|NOPE2)");
  EXPECT_EQ(p.unquote_prev(), nullptr);  // already decoded
  EXPECT_STREQ(p.eat_next(), "plain");
  EXPECT_EQ(p.unquote_prev(), nullptr);
  EXPECT_STREQ(p.eat_next(), "\"open");  // ends at the end of the line
  EXPECT_STREQ(p.unquote_prev(), "open");
  EXPECT_TRUE(p.eat_next() == nullptr && p.at_eof());
  EXPECT_EQ(capture.all(), "error: macro not defined(NOPE2) ...\n");
}

TEST_F(FileParserTest, PositionsEatHelpersAndFatalMode) {
  ut_file_parser &p = open("one\ntwo \\\nthree \\\nfour\na b c\nd ; e f\ng\n10K x.y");
  EXPECT_STREQ(p.eat_next(), "one");
  EXPECT_EQ(std::string(p.get_last_position()), "\"" + file + "\", line 1");
  for (const char *t : {"two", "three", "four"}) EXPECT_STREQ(p.eat_next(), t);
  p.parse_error("bad %s %d", "thing", 7);  // the first physical line of the statement
  EXPECT_TRUE(!p.eat_if("b") && p.eat_if("a"));
  p.parse_warning("odd");
  EXPECT_EQ(p.eat_unless("b"), nullptr);
  EXPECT_STREQ(p.eat_unless_either("x", "y"), "b");
  EXPECT_TRUE(p.must_eat("c") && p.at_eol() && p.eat_if("d"));
  EXPECT_FALSE(p.eat_upto_unless("f", ";"));
  EXPECT_STREQ(p.eat_next(), ";");
  EXPECT_TRUE(p.eat_upto("f") && !p.must_eat("h"));
  for (const char *t : {"g", "10K"}) EXPECT_STREQ(p.eat_next(), t);
  EXPECT_EQ(p.peek_adjoining_char(), ' ');
  EXPECT_STREQ(p.eat_next(), "x");
  EXPECT_EQ(p.eat_adjoining_char(), '.');
  p.skip_remainder_of_line();
  EXPECT_TRUE(p.at_eol() && !p.eat_upto("z"));
  EXPECT_EQ(capture.all(), at(2, "bad thing 7") + "warning: \"" + file + "\", line 5: warning: odd\n" +
                               at(7, "expected 'h'"));
  EXPECT_EQ(p.get_error_count(), 2);
  EXPECT_FALSE(p.open_file(file.c_str()));  // only once
  ut_file_parser missing(false, true, nullptr, nullptr);
  EXPECT_FALSE(missing.open_file(dir.path("missing").c_str()) || missing.eat_next());
  capture.clear();
  ut_file_parser &fatal = open("x", true, true);
  fatal.eat_next();
  fatal.parse_error("stop");
  EXPECT_EQ(capture.exits, std::vector<int>{1});
  EXPECT_EQ(capture.all(), "fatal: \"" + file + "\", line 1: error: stop\n");
}

std::string g_vetoed;

TEST_F(FileParserTest, MissingSelfAndVetoedIncludes) {
  std::string tokens = lex("%include \"main.cfg\"\n%include \"main.cfg\"\nx\n");  // branching: the file limit
  EXPECT_EQ(parser->get_opened_files_list().size(), 1024);
  EXPECT_EQ(tokens.size(), 1024 * std::string("x | ").size());
  EXPECT_NE(capture.all().find("error: too many included files: not opening"), std::string::npos);
  capture.clear();
  EXPECT_EQ(lex("a\n\n%include \"nope.cfg\"\nb"), "a | b | ");  // reading goes on
  EXPECT_EQ(capture.all(),
            "error: could not open \"" + dir.path("nope.cfg") + "\" which was referenced at \"" + file + "\":3\n");
  EXPECT_EQ(lex("%include \"main.cfg\"\n"), "");  // stops at the depth limit
  EXPECT_EQ(parser->get_opened_files_list().size(), 64);
  g_vetoed.clear();
  client.set_env_callback(nullptr, nullptr, nullptr, nullptr, [](void *, const char *f, int depth) {
    g_vetoed += std::string(f) + "@" + std::to_string(depth) + ";";
    return std::string(f).find("skip") == std::string::npos;
  });
  dir.write("keep.cfg", "kept\n%include \"skip.cfg\"");
  dir.write("skip.cfg", "skipped");
  EXPECT_EQ(lex("%include \"keep.cfg\"\n%include \"skip.cfg\""), "kept | ");
  EXPECT_EQ(g_vetoed, dir.path("keep.cfg") + "@1;" + dir.path("skip.cfg") + "@2;" + dir.path("skip.cfg") + "@1;");
}

}  // namespace
