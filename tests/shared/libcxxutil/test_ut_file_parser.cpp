// ut_file_parser: lines and continuations, tokens, comments, macro
// expansion inside and outside strings, recursion, includes, positions and
// error reports.
#include "shared/libcxxutil/ut_file_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "parser_testutil.h"

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
    for (const char *t; (t = p.eat_next());) {
      out += t;
      out += p.at_eol() ? " | " : " ";
    }
    return out;
  }

  TempDir dir;
  std::string file;
  ut_macro_map macros;
  ut_client_interface client;
  std::unique_ptr<ut_file_parser> parser;
  MessageCapture capture;
};

TEST_F(FileParserTest, TokensOperatorsAndComments) {
  EXPECT_EQ(lex("a.b = 1 # comment\n  x+=\"s # t\";\n# whole line\n\n[y]"),
            "a . b = 1 | x += \"s # t\" ; | [ y ] | ");
  EXPECT_EQ(lex("x %= *= /= ^= && &= ++ += -- -= || |= ;; [[ == <<", false),
            "x %= *= /= ^= && &= ++ += -- -= || |= ; ; [ [ = = < < | ");
  // With "/"-identifiers the slash belongs to words.
  EXPECT_EQ(lex("x /= 1"), "x / = 1 | ");
  EXPECT_EQ(lex("usr/lib_2 10K 0x1f -5"), "usr/lib_2 10K 0x1f - 5 | ");
  EXPECT_EQ(lex("usr/lib_2 10K 0x1f a#b", false), "usr / lib_2 10 K 0x1f a | ");
  EXPECT_EQ(capture.all(), "");
}

TEST_F(FileParserTest, StringsKeepEscapesUntilUnquoted) {
  ut_file_parser &p = open("\"a\\\"b\\n\" plain \"open");
  EXPECT_STREQ(p.eat_next(), "\"a\\\"b\\n\"");
  EXPECT_TRUE(p.prev_was_string());
  EXPECT_STREQ(p.unquote_prev(), "a\"b\n");
  EXPECT_EQ(p.unquote_prev(), nullptr);  // already decoded
  EXPECT_STREQ(p.eat_next(), "plain");
  EXPECT_EQ(p.unquote_prev(), nullptr);
  EXPECT_STREQ(p.eat_next(), "\"open");  // ends at the end of the line
  EXPECT_STREQ(p.unquote_prev(), "open");
  EXPECT_EQ(p.eat_next(), nullptr);
  EXPECT_TRUE(p.at_eof());
}

TEST_F(FileParserTest, LineEndsAndContinuations) {
  EXPECT_EQ(lex("a\r\nb\rc\nd"), "a | b | c | d | ");
  EXPECT_EQ(lex("a \\\n b \\\nc\nd"), "a b c | d | ");
  // A backslash on the last line with nothing after it.
  EXPECT_EQ(lex("a\\"), "a | ");
}

TEST_F(FileParserTest, PositionIsTheFirstPhysicalLineOfAStatement) {
  ut_file_parser &p = open("one\ntwo \\\nthree \\\nfour\nfive");
  EXPECT_STREQ(p.eat_next(), "one");
  EXPECT_EQ(std::string(p.get_last_position()), "\"" + file + "\", line 1");
  EXPECT_STREQ(p.eat_next(), "two");
  EXPECT_STREQ(p.eat_next(), "three");
  EXPECT_STREQ(p.eat_next(), "four");
  p.parse_error("bad %s %d", "thing", 7);
  EXPECT_STREQ(p.eat_next(), "five");
  p.parse_warning("odd");
  EXPECT_EQ(capture.all(), "error: \"" + file + "\", line 2: error: bad thing 7\n" +
                               "warning: \"" + file + "\", line 5: warning: odd\n");
  EXPECT_TRUE(p.had_error());
  EXPECT_EQ(p.get_error_count(), 1);
}

TEST_F(FileParserTest, FatalModeEndsTheProcess) {
  ExitCatcher exits;
  ut_file_parser &p = open("x", true, true);
  p.eat_next();
  p.parse_error("stop");
  EXPECT_EQ(ExitCatcher::status, 1);
  EXPECT_EQ(capture.all(), "fatal: \"" + file + "\", line 1: error: stop\n");
}

TEST_F(FileParserTest, OpenOnlyOnce) {
  ut_file_parser p(false, true, nullptr, nullptr);
  EXPECT_FALSE(p.open_file((dir.path() + "/missing").c_str()));
  EXPECT_EQ(p.eat_next(), nullptr);
  ut_file_parser &q = open("a");
  EXPECT_FALSE(q.open_file(file.c_str()));
  EXPECT_EQ(capture.all(), "");
}

TEST_F(FileParserTest, EatHelpers) {
  ut_file_parser &p = open("a b c\nd ; e f\ng");
  EXPECT_FALSE(p.eat_if("b"));
  EXPECT_TRUE(p.eat_if("a"));
  EXPECT_EQ(p.eat_unless("b"), nullptr);
  EXPECT_STREQ(p.eat_unless_either("x", "y"), "b");
  EXPECT_TRUE(p.must_eat("c"));
  EXPECT_TRUE(p.at_eol());
  EXPECT_TRUE(p.eat_if("d"));
  EXPECT_FALSE(p.eat_upto_unless("f", ";"));
  EXPECT_STREQ(p.eat_next(), ";");
  EXPECT_TRUE(p.eat_upto("f"));
  EXPECT_FALSE(p.must_eat("h"));
  EXPECT_STREQ(p.eat_next(), "g");
  EXPECT_FALSE(p.eat_upto("z"));
  EXPECT_EQ(capture.all(), "error: \"" + file + "\", line 3: error: expected 'h'\n");
}

TEST_F(FileParserTest, AdjoiningCharacters) {
  ut_file_parser &p = open("10K x");
  EXPECT_STREQ(p.eat_next(), "10K");
  EXPECT_EQ(p.peek_adjoining_char(), ' ');
  p.skip_remainder_of_line();
  EXPECT_TRUE(p.at_eol());
  ut_file_parser &q = open("a.b");
  EXPECT_STREQ(q.eat_next(), "a");
  EXPECT_EQ(q.peek_adjoining_char(), '.');
  EXPECT_EQ(q.eat_adjoining_char(), '.');
  EXPECT_STREQ(q.eat_next(), "b");
}

TEST_F(FileParserTest, BracedMacrosOutsideStrings) {
  macros.insert("PAIR", "k = 5");
  macros.insert("EMPTY", "");
  macros.insert("NESTED", "${PAIR} ;");
  EXPECT_EQ(lex("${PAIR}\n${EMPTY}\nx ${NESTED} y"), "k = 5 | x k = 5 ; y | ");
  EXPECT_EQ(capture.all(), "");
  EXPECT_EQ(lex("a ${UNDEF} $b $"), "a UNDEF $ b $ | ");
  EXPECT_EQ(capture.all(), "error: macro not defined(UNDEF) ...\n");
}

TEST_F(FileParserTest, MacrosInsideStrings) {
  macros.insert("Q", "say \"hi\"\\now");
  macros.insert("P", "prefix-$Q");
  macros.insert("HOST_", "h");
  ut_file_parser &p = open(R"("$Q|${P}|$NOPE|$HOST_x|\$Q|$ 1|${NOPE2}")");
  EXPECT_STREQ(p.eat_next(), R"("say \"hi\"\\now|prefix-say \"hi\"\\now|$NOPE|$HOST_x|\$Q|$ 1|NOPE2")");
  EXPECT_STREQ(p.unquote_prev(), R"(say "hi"\now|prefix-say "hi"\now|$NOPE|$HOST_x|$Q|$ 1|NOPE2)");
  EXPECT_EQ(capture.all(), "error: macro not defined(NOPE2) ...\n");
}

TEST_F(FileParserTest, MacroRecursionIsRefused) {
  macros.insert("SELF", "a ${SELF}");
  EXPECT_EQ(lex("${SELF} b"), "a b | ");
  EXPECT_EQ(capture.all(), "error: \"" + file + "\", line 1: error: macro recursion detected for: \"SELF\"\n");
  capture.clear();
  macros.insert("A", "${B}");
  macros.insert("B", "${A}");
  EXPECT_EQ(lex("x ${A} y"), "x y | ");
  EXPECT_EQ(capture.all(), "error: \"" + file + "\", line 1: error: macro recursion detected for: \"A\"\n");
  capture.clear();
  macros.insert("S", "s$S");
  EXPECT_EQ(lex("\"${S}\""), "\"s\" | ");
  EXPECT_EQ(capture.all(), "error: \"" + file + "\", line 1: error: macro recursion detected for: \"S\"\n");
  EXPECT_TRUE(parser->had_error());
  capture.clear();
  // The same macro twice on a line is no recursion. Tokens do not join
  // across the end of a macro value.
  macros.insert("V", "v");
  EXPECT_EQ(lex("${V}${V} ${V} \"$V$V\""), "v v v \"vv\" | ");
  EXPECT_EQ(capture.all(), "");
}

TEST_F(FileParserTest, LongDefinitionChainsAreCut) {
  // M0 refers to M1, ..., each at the end of its value; M<n> is "end".
  auto chain = [this](int n) {
    macros.clear();
    for (int i = 0; i < n; ++i)
      macros.insert(("M" + std::to_string(i)).c_str(), ("${M" + std::to_string(i + 1) + "}").c_str());
    macros.insert(("M" + std::to_string(n)).c_str(), "end");
  };
  chain(50);
  EXPECT_EQ(lex("${M0} \"$M0\""), "end \"end\" | ");
  EXPECT_EQ(capture.all(), "");
  chain(1000);
  EXPECT_EQ(lex("${M0} \"$M0\""), "\"\" | ");
  EXPECT_EQ(capture.all(), "error: \"" + file + "\", line 1: error: macro nesting too deep for: \"M64\"\n" +
                               "error: \"" + file + "\", line 1: error: macro nesting too deep for: \"M64\"\n");
}

TEST_F(FileParserTest, DoublingDefinitionsHitTheExpansionLimit) {
  macros.insert("L0", "x");
  for (int i = 1; i <= 30; ++i) {
    std::string prev = "${L" + std::to_string(i - 1) + "}";
    macros.insert(("L" + std::to_string(i)).c_str(), (prev + prev).c_str());
  }
  ut_file_parser &p = open("${L30}\n\"${L30}\"\nend");
  int n = 0;
  while (p.eat_next()) ++n;
  EXPECT_GT(n, 1000);
  EXPECT_EQ(capture.all(), "error: \"" + file + "\", line 1: error: macro expansion too long\n" +
                               "error: \"" + file + "\", line 2: error: macro expansion too long\n");
}

TEST_F(FileParserTest, DirectivesSelectLines) {
  EXPECT_EQ(lex("%define X 2\n%if X == 2\na\n%if 0\nb\n%else\nc\n%endif\n%elif 1\nd\n%else\ne\n%endif\nf"),
            "a | c | f | ");
  EXPECT_EQ(capture.all(), "");
}

TEST_F(FileParserTest, DirectiveDefinitionsAreUsedInTokens) {
  EXPECT_EQ(lex("%define NAME value\nk = ${NAME}\n%undef NAME\nk = ${NAME}"), "k = value | k = NAME | ");
  EXPECT_EQ(capture.all(), "error: macro not defined(NAME) ...\n");
}

TEST_F(FileParserTest, IncludesAreRelativeToTheIncludingFile) {
  dir.write("sub/inner.cfg", "inner1\n%include \"deeper/leaf.cfg\"\ninner2 \"$__DIR__\"\n");
  dir.write("sub/deeper/leaf.cfg", "leaf \"$__DIR__\"");
  const std::string &d = dir.path();
  EXPECT_EQ(lex("top \"${__DIR__}\"\n%include \"sub/inner.cfg\"\nafter \"$__DIR__\""),
            "top \"" + d + "\" | inner1 | leaf \"" + d + "/sub/deeper\" | inner2 \"" + d + "/sub\" | after \"" + d +
                "\" | ");
  ut_string_list expected;
  expected.push_back(file.c_str());
  expected.push_back((dir.path() + "/sub/inner.cfg").c_str());
  expected.push_back((dir.path() + "/sub/deeper/leaf.cfg").c_str());
  EXPECT_TRUE(parser->get_opened_files_list() == expected);
  EXPECT_EQ(capture.all(), "");
}

TEST_F(FileParserTest, IncludeUsesDirSubstitutionAndAbsoluteNames) {
  dir.write("x.cfg", "x");
  std::string abs = dir.write("abs.cfg", "abs");
  EXPECT_EQ(lex("%include \"${__DIR__}/x.cfg\"\n%include \"" + abs + "\""), "x | abs | ");
  EXPECT_EQ(capture.all(), "");
}

TEST_F(FileParserTest, MissingIncludeIsReportedAndReadingGoesOn) {
  EXPECT_EQ(lex("a\n\n%include \"nope.cfg\"\nb"), "a | b | ");
  EXPECT_EQ(capture.all(), "error: could not open \"" + dir.path() + "/nope.cfg\" which was referenced at \"" + file +
                               "\":3\n");
}

TEST_F(FileParserTest, SelfIncludeStopsAtTheDepthLimit) {
  EXPECT_EQ(lex("%include \"main.cfg\"\n"), "");
  EXPECT_NE(capture.all().find("could not open"), std::string::npos);
  EXPECT_EQ(parser->get_opened_files_list().size(), 64);
}

TEST_F(FileParserTest, BranchingSelfIncludeStopsAtTheFileLimit) {
  std::string tokens = lex("%include \"main.cfg\"\n%include \"main.cfg\"\nx\n");
  EXPECT_EQ(parser->get_opened_files_list().size(), 1024);
  EXPECT_EQ(tokens.size(), 1024 * std::string("x | ").size());
  EXPECT_NE(capture.all().find("error: too many included files: not opening"), std::string::npos);
}

std::string g_vetoed;
bool veto_second(void *, const char *file, int depth) {
  g_vetoed += std::string(file) + "@" + std::to_string(depth) + ";";
  return std::string(file).find("skip") == std::string::npos;
}

TEST_F(FileParserTest, ClientMayVetoIncludes) {
  g_vetoed.clear();
  client.set_env_callback(nullptr, nullptr, nullptr, nullptr, veto_second);
  dir.write("keep.cfg", "kept\n%include \"skip.cfg\"");
  dir.write("skip.cfg", "skipped");
  EXPECT_EQ(lex("%include \"keep.cfg\"\n%include \"skip.cfg\""), "kept | ");
  EXPECT_EQ(g_vetoed, dir.path() + "/keep.cfg@1;" + dir.path() + "/skip.cfg@2;" + dir.path() + "/skip.cfg@1;");
}

TEST_F(FileParserTest, ZeroBytesDoNotEndTheInput) {
  EXPECT_EQ(lex(std::string("a\0b\nc", 5)), "a b | c | ");
}

}  // namespace
