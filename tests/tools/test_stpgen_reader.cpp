// The interface-file reader: malformed files give "file:line: what" errors at
// the line of the offending statement, good files give the model the emitter
// relies on; the generator program refuses a malformed file with exit 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "stpgen_emitter.h"
#include "stpgen_reader.h"

namespace {

const char kHeader[] =
    "interface T\n"        // 1
    "encoding ascii\n"     // 2
    "vstamp \"1\"\n"       // 3
    "role s serving\n"     // 4
    "role c initiating\n"  // 5
    "record R \"{a:%num% }\"\n"  // 6
    "record Q \"{a:%num% }\"\n"  // 7
    "receives s\n";        // 8 (line 9 is the first line a case adds)

std::vector<std::string> errorsOf(const std::string &body, const std::string &header = kHeader) {
  stpgen::Interface itf;
  std::vector<std::string> errors;
  stpgen::readInterfaceText("t.stp", header + body, itf, errors);
  return errors;
}

struct Case {
  const char *body;
  const char *error;  // the expected message, "file:line: ..." included
};

TEST(StpgenReader, MalformedFilesNameFileAndLine) {
  const Case cases[] = {
      {"message M 2 \"x:%num% y:*(n)[%str%] \"\n",
       "t.stp:9: message M: array 'y' names the length field 'n', which is not an earlier field of the same record"},
      {"message M 2 \"x:%num \"\n", "t.stp:9: message M: bad spec: unknown field type at offset 2"},
      {"message M 2 \"x %num% \"\n", "t.stp:9: message M: bad spec: expected ':' after field name 'x' at offset 1"},
      {"message M 2 \"x:{a:%num% \"\n", "t.stp:9: message M: bad spec: expected '}' at offset 11"},
      {"message M 2 \"| y:%str% \"\n", "t.stp:9: message M: a one-way message (flags 2) cannot have reply fields"},
      {"message M 3 \"\"\n", "t.stp:9: message M: flags must hold exactly one of 1 (reply) and 2 (one-way)"},
      {"message M 0x202 \"\"\n", "t.stp:9: message M: unknown flag bits (allowed: 1, 2, 4, 16, 128)"},
      {"message M two \"\"\n", "t.stp:9: flags 'two' of message M are not a number"},
      {"message M 2 \"x:%u4% \"\n", "t.stp:9: message M: field 'x': %u4% is for binary interfaces (use %num%)"},
      {"message M 2 \"r:{a:%num% } \"\n",
       "t.stp:9: message M: record field 'r' matches several records (R, Q); name one with 'use r <Record>'"},
      {"message M 2 \"r:{b:%num% } \"\n",
       "t.stp:9: message M: record field 'r' matches no declared record; declare one with its layout"},
      {"message M 2 \"r:{a:%num% } \"\n  use r Z\n", "t.stp:10: message M: 'use' names the undeclared record 'Z'"},
      {"message M 2 \"x:%str% \"\n  bool x\n", "t.stp:10: message M: 'bool' names 'x', which is not a %num% field"},
      {"message M 2 \"x:%num% \"\n  bool y\n", "t.stp:10: message M: 'bool' names 'y', which is not a field here"},
      {"message M 2 \"x:%num% x:%str% \"\n", "t.stp:9: message M: field 'x' appears twice"},
      {"message M 2 \"class:%num% \"\n", "t.stp:9: message M: field name 'class' is reserved"},
      {"message M 2 \"\"\nmessage M 2 \"\"\n", "t.stp:10: message 'M' declared twice for role s"},
      {"message M 2 \"x:%num%\n", "t.stp:9: unterminated quoted text"},
      {"frobnicate\n", "t.stp:9: unknown statement 'frobnicate'"},
      {"receives nobody\n", "t.stp:9: 'receives' names the undeclared role 'nobody'"},
      {"alias X\n", "t.stp:9: 'alias' must follow a record or message declaration"},
  };
  for (const Case &c : cases) {
    auto errors = errorsOf(c.body);
    ASSERT_FALSE(errors.empty()) << c.body;
    EXPECT_EQ(errors[0], c.error) << c.body;
  }
}

TEST(StpgenReader, HeaderProblems) {
  auto errors = errorsOf("", "encoding binary\nrole a serving\nmessage M 2 \"\"\n");
  std::vector<std::string> expect = {"t.stp:3: message outside a 'receives <role>' section",
                                     "t.stp:1: missing 'interface <Name>' line",
                                     "t.stp:1: missing 'vstamp \"<text>\"' line",
                                     "t.stp:3: an interface declares exactly two roles, found 1"};
  EXPECT_EQ(errors, expect);
  errors = errorsOf("", "interface T\nencoding binary\nvstamp \"1\"\nrole a serving\nrole b initiating\n"
                        "receives a\nmessage M 2 \"n:%num% l:[%str%] \"\n");
  expect = {"t.stp:7: message M: field 'n': %num% is for ASCII interfaces (use %u4% or %u1%)",
            "t.stp:7: message M: field 'l': arrays without a length field are not supported in binary interfaces"};
  EXPECT_EQ(errors, expect);
}

// What the emitter relies on beyond what generated code shows: the sorted
// table order beside the declaration order, and the tag numbering.
TEST(StpgenReader, GoodFileGivesTheModel) {
  stpgen::Interface itf;
  std::vector<std::string> errors;
  std::string dir = std::string(KORVO_SOURCE_DIR) + "/interfaces/";
  ASSERT_TRUE(stpgen::readInterfaceFile(dir + "WhiteBoard.stp", itf, errors)) << errors[0];
  EXPECT_EQ(itf.roles[0].messages[0].name, "RegisterGroup");
  EXPECT_EQ(stpgen::sortedMessages(itf.roles[0])[0]->name, "ChangeBoolValue");
  stpgen::Interface sr;
  ASSERT_TRUE(stpgen::readInterfaceFile(dir + "ServiceRouter.stp", sr, errors));
  EXPECT_EQ(stpgen::tagIndex(sr, "rn"), 35);
  EXPECT_EQ(stpgen::tagIndex(sr, "nope"), -1);
}

TEST(StpgenProgram, MalformedFileStopsTheBuild) {
  const char *bin = getenv("KORVO_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  const char *tmp = getenv("TMPDIR");
  std::string dir = tmp ? tmp : "/tmp";
  auto firstLine = [&](const std::string &file) {
    std::string line;
    std::ifstream in(dir + "/" + file);
    return std::getline(in, line) ? line : "<none>";
  };
  std::string bad = dir + "/bad.stp";
  std::remove((dir + "/t_parsing.h").c_str());  // left by an earlier run
  std::ofstream(bad) << kHeader << "message M 2 \"x:%nope% \"\n";
  int rc = std::system((std::string(bin) + "/stpgen --out " + dir + " " + bad + " 2>" + dir + "/err.txt").c_str());
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1);
  EXPECT_EQ(firstLine("err.txt"), bad + ":9: message M: bad spec: unknown field type at offset 2");
  EXPECT_EQ(firstLine("t_parsing.h"), "<none>");

  // Run twice: the second run finds its output unchanged.
  std::string good = dir + "/good.stp";
  std::ofstream(good) << kHeader << "message M 1 \"x:%num% | r:{a:%num% } \"\n  use r Q\n";
  for (int run = 0; run < 2; ++run)
    EXPECT_EQ(std::system((std::string(bin) + "/stpgen --out " + dir + " " + good).c_str()), 0);
  EXPECT_EQ(firstLine("t_s_impl.h"), "// GENERATED by stpgen from interfaces/good.stp; edit that file, not this one.");
}

}  // namespace
