// The command lines the three editor kinds build from the editor options:
// defaults, argument-format directives, files, lines, paths without a
// format and xterm. One server per kind serves every row, so each row also
// shows that a kind reads the options anew at every call.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "services/editorservice/editor_kinds.h"
#include "shared/indgen.h"
#include "windlib/config/editor_defaultconfig.h"

namespace {

enum Kind { kVi, kEmacs, kOther };

// Replaces a mirrored string option for one row (null: leave the
// default); the returned holder puts the default back.
auto replaced(char *const *option, const char *value) {
  char **variable = const_cast<char **>(option);
  char *saved = *variable;
  if (value) *variable = gen_copy(value);
  auto restore = [variable, saved](char *current) {
    if (current != saved) gen_free(current);
    *variable = saved;
  };
  return std::unique_ptr<char, decltype(restore)>(*variable, restore);
}

struct Row {
  const char *what;
  Kind kind;
  const char *path;    // null: the default
  const char *format;  // null: the default
  int xterm;           // -1: the default, else 0 or 1
  std::vector<const char *> files;
  int line;
  const char *expected;  // null: no command
};

const Row kRows[] = {
    {"vi defaults", kVi, nullptr, nullptr, -1, {"/src/a.c"}, 12, "xterm -e vi +12 /src/a.c "},
    {"emacs defaults", kEmacs, nullptr, nullptr, -1, {"/src/a.c"}, 3, "emacs +3 /src/a.c "},
    {"other defaults", kOther, nullptr, nullptr, -1, {"/src/a.c"}, 3, " +3 /src/a.c "},
    {"any case", kOther, "ed", "+%line %File0 %fIlEs", -1, {"/a", "/b"}, 7, "ed +7 /a /b"},
    {"one file", kOther, "ed", "%FILES|%FILE0", -1, {"/a"}, 1, "ed |/a"},
    {"three files", kOther, "ed", "[%FILES]", -1, {"/a", "/b", "/c"}, 1, "ed [/b /c]"},
    {"quoted", kOther, "/opt/my ed", "%FILE0", -1, {"/my file"}, 1, "\"/opt/my ed\" \"/my file\""},
    {"line 0", kOther, "ed", "+%LINE", -1, {"/a"}, 0, "ed +1"},
    {"line -5", kOther, "ed", "+%LINE", -1, {"/a"}, -5, "ed +1"},
    {"no file", kOther, "ed", nullptr, -1, {}, 1, nullptr},
    {"bare vi", kVi, "vi", "", 0, {"/a", "/b"}, 4, "vi +4 /a"},
    {"/usr/bin/vi", kVi, "/usr/bin/vi", "", 0, {"/a"}, 4, "/usr/bin/vi +4 /a"},
    {"vim", kVi, "vim", "", 0, {"/a"}, 4, "vim /a"},
    {"emacs", kEmacs, "emacs", "", -1, {"/a"}, 4, "emacs +4 /a"},
    {"nedit", kOther, "nedit", "", -1, {"/a"}, 4, "nedit /a"},
    {"vi no xterm", kVi, nullptr, nullptr, 0, {"/a"}, 2, "vi +2 /a "},
    {"emacs xterm", kEmacs, nullptr, nullptr, 1, {"/a"}, 2, "xterm -e emacs +2 /a "},
};

class EditorCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { EditorService_SetOptions(&editor_service_kind_options); }
  void TearDown() override {
    for (Basic_EditorService_Server *s : servers)
      if (s) s->delRef();
    EditorService_SetOptions(nullptr);
  }
  Basic_EditorService_Server *servers[3] = {new Vi_EditorService_Server,
                                            new Emacs_EditorService_Server,
                                            new Other_EditorService_Server};
};

TEST_F(EditorCommandTest, BuildsTheCommandOfEachRowFromTheLiveOptions) {
  const EditorService_KindOptions *kinds[] = {&editor_service_kind_options.vi,
                                              &editor_service_kind_options.emacs,
                                              &editor_service_kind_options.other};
  for (const Row &row : kRows) {
    const EditorService_KindOptions &o = *kinds[row.kind];
    auto path = replaced(o.path, row.path);
    auto format = replaced(o.argumentFormat, row.format);
    bool *xterm = const_cast<bool *>(o.useXTerm);
    bool savedXTerm = *xterm;
    if (row.xterm >= 0) *xterm = row.xterm == 1;
    char *command = servers[row.kind]->createCommand(row.files.data(),
                                                     static_cast<int>(row.files.size()), row.line);
    *xterm = savedXTerm;
    if (row.expected)
      EXPECT_STREQ(command, row.expected) << row.what;
    else
      EXPECT_EQ(command, nullptr) << row.what;
    gen_free(command);
  }
}

// Every open connection holds the process; the last one closed lets it go.
TEST_F(EditorCommandTest, ExitIsAllowedOnlyWithoutConnections) {
  EditorService_Server_ExitCondition condition(false);
  EXPECT_FALSE(condition.allowExit());
  for (Basic_EditorService_Server *&s : servers) {
    s->delRef();
    s = nullptr;
  }
  EXPECT_TRUE(condition.allowExit());
  EXPECT_FALSE(condition.mustExit());
}

}  // namespace
