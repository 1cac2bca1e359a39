// The default configuration without a router: editor defaults filled into
// the WhiteBoard and the mirrored variables, the configuration-file reader
// and its skipped lines, writes through Config_Set*, the editor choice, and
// the start-up entry refusing to run without a router client.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "services/whiteboard/whiteboard_client.h"
#include "windlib/config/editor_defaultconfig.h"

namespace {

const char kGroup[] = "GeneralConfiguration";

std::string writeFile(const char *name, const char *text) {
  std::string path = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/" + name;
  FILE *f = fopen(path.c_str(), "w");
  if (f) {
    fputs(text, f);
    fclose(f);
  }
  return path;
}

// Each test gets a fresh current WhiteBoard with the defaults applied.
class DefaultConfigTest : public ::testing::Test {
 protected:
  void TearDown() override { WhiteBoard::shutdownWhiteBoard(); }
};

TEST_F(DefaultConfigTest, EditorDefaultsAreOnTheWhiteBoardAndInTheVariables) {
  WhiteBoard *wb = WhiteBoard::getWhiteBoard();
  ut_string s;
  EXPECT_TRUE(wb->getString(kGroup, "editor", s));
  EXPECT_STREQ(s.c_str(), "ke");
  EXPECT_TRUE(wb->getString(kGroup, "ExtEditor_OtherPath", s));
  EXPECT_STREQ(s.c_str(), "");
  bool b = false;
  EXPECT_TRUE(wb->getBool(kGroup, "ExtEditor_ViUseXTerm", b));
  EXPECT_TRUE(b);
  EXPECT_FALSE(wb->getBool(kGroup, "usextermforalternateeditor", b));
  EXPECT_STREQ(EditorName, "ke");
  EXPECT_EQ(editorLaunch, nullptr);
  EXPECT_STREQ(edit_vi_path, "vi");
  EXPECT_STREQ(edit_emacs_argumentformat, "+%LINE %FILE0 %FILES");
  EXPECT_TRUE(edit_vi_usexterm);
  EXPECT_FALSE(Config_EstablishConnection());  // no router client in a test
}

TEST_F(DefaultConfigTest, FileLinesSetValuesByTheirFormOnly) {
  std::string path = writeFile("korvo.cfg",
                               "ExtEditor_ViPath: \"/opt/vi\"\n"
                               "ExtEditor_EmacsPath: /opt/emacs\n"
                               "ExtEditor_ViUseXTerm:Off\n"
                               "ExtEditor_OtherUseXTerm: on\n"
                               "ExtEditor_EmacsUseXTerm: On \n"
                               "editor: 0x10\n"
                               " ExtEditor_Choice: \"Vi\"\n"
                               "# ExtEditor_OtherPath: \"x\"\n"
                               "unknown: \"x\"\n"
                               "no colon here\n");
  ASSERT_TRUE(Config_PreLoadFile(path.c_str()));
  WhiteBoard *wb = WhiteBoard::getWhiteBoard();
  EXPECT_STREQ(edit_vi_path, "/opt/vi");
  EXPECT_STREQ(edit_emacs_path, "emacs");  // unquoted path: skipped
  EXPECT_FALSE(edit_vi_usexterm);
  EXPECT_FALSE(edit_other_usexterm);
  EXPECT_FALSE(edit_emacs_usexterm);
  int n = 0;
  EXPECT_TRUE(wb->getInt(kGroup, "editor", n));
  EXPECT_EQ(n, 16);
  EXPECT_STREQ(EditorName, "ke");  // the mirror reads the string value only
  EXPECT_STREQ(edit_choice, "Korvo Editor");
  ut_string s;
  EXPECT_FALSE(wb->getString(kGroup, "unknown", s));
  EXPECT_TRUE(Config_PreLoadFile(nullptr));
  EXPECT_FALSE(Config_PreLoadFile("/nonexistent/korvo.cfg"));
  EXPECT_FALSE(ConfigMicroParser::parseAndLoadIntoWhiteBoard("", wb));
}

TEST_F(DefaultConfigTest, ConfigSetUpdatesVariableAndWhiteBoard) {
  // Not connected: the send fails and says so, but the variable and the
  // local value are set and the change callback has run.
  EXPECT_FALSE(Config_SetString("ExtEditor_Choice", ut_string("Emacs")));
  EXPECT_STREQ(edit_choice, "Emacs");
  EXPECT_STREQ(getNameOfCurrentEditorType(), "Emacs");
  EXPECT_STREQ(getEditorServiceName(false, nullptr), "Editor.Emacs");
  EXPECT_FALSE(Config_SetBool("ExtEditor_OtherUseXTerm", true));
  EXPECT_TRUE(edit_other_usexterm);
  bool b = false;
  EXPECT_TRUE(Config_GetBool("ExtEditor_OtherUseXTerm", b));
  EXPECT_TRUE(b);
  EXPECT_STREQ(getNamedStringConfigOption("ExtEditor_ViArgumentFormat", editor_service_options),
               "+%LINE %FILE0 %FILES");
  EXPECT_EQ(getNamedStringConfigOption("ExtEditor_ViUseXTerm", editor_service_options), nullptr);
  EXPECT_FALSE(setNamedConfigOption("nothing", editor_service_options));
  Config_SetString("ExtEditor_Choice", ut_string("Korvo Editor"));
  Config_SetBool("ExtEditor_OtherUseXTerm", false);
}

TEST(EditorChoiceTest, ServiceNameAndCurrentType) {
  EXPECT_STREQ(getEditorServiceName(false, "EMACS"), "Editor.Emacs");
  EXPECT_STREQ(getEditorServiceName(true, "Vi"), "Editor.Korvo");
  EXPECT_STREQ(getEditorServiceName(false, "other"), "Editor.Other");
  EXPECT_STREQ(getEditorServiceName(false, ""), "Editor.Korvo");
  EXPECT_STREQ(getEditorServiceName(false, "nano"), "Editor.Korvo");

  char *savedChoice = edit_choice;
  char *savedName = EditorName;
  edit_choice = nullptr;
  const struct {
    const char *editor;
    const char *type;
  } cases[] = {{"/usr/bin/xemacs", "Emacs"}, {"nano", "Other"}, {"gvim", "Vi"},
               {"ke", "Korvo Editor"},       {nullptr, "Korvo Editor"}};
  for (const auto &c : cases) {
    EditorName = const_cast<char *>(c.editor);
    EXPECT_STREQ(getNameOfCurrentEditorType(), c.type) << (c.editor ? c.editor : "(null)");
  }
  EditorName = savedName;
  edit_choice = savedChoice;
}

}  // namespace
