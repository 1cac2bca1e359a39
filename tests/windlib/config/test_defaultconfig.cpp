// The default configuration without a router: editor defaults filled into
// the WhiteBoard and the mirrored variables, the configuration-file reader
// and its skipped lines, writes through Config_Set*, the editor choice, and
// the start-up entry refusing to run without a router client.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "services/whiteboard/whiteboard_client.h"
#include "shared/runtime_test_support.h"
#include "windlib/config/editor_defaultconfig.h"

namespace {

const char kGroup[] = "GeneralConfiguration";

// Each test gets a fresh current WhiteBoard with the defaults applied.
class DefaultConfigTest : public ::testing::Test {
 protected:
  void TearDown() override { WhiteBoard::shutdownWhiteBoard(); }
  // The board's string value of `name`, "<none>" when there is none.
  static std::string board(const char *name) {
    ut_string s;
    return WhiteBoard::getWhiteBoard()->getString(kGroup, name, s) ? s.c_str() : "<none>";
  }
};

TEST_F(DefaultConfigTest, DefaultsThenFileLinesSetValuesByTheirFormOnly) {
  WhiteBoard *wb = WhiteBoard::getWhiteBoard();
  bool b = false;
  EXPECT_EQ(board("editor") + "|" + board("ExtEditor_OtherPath") + "|" + EditorName, "ke||ke");
  EXPECT_TRUE(wb->getBool(kGroup, "ExtEditor_ViUseXTerm", b) && b && edit_vi_usexterm);
  EXPECT_FALSE(wb->getBool(kGroup, "usextermforalternateeditor", b));
  EXPECT_EQ(std::string(edit_vi_path) + "|" + edit_emacs_argumentformat, "vi|+%LINE %FILE0 %FILES");
  EXPECT_EQ(editorLaunch, nullptr);
  EXPECT_FALSE(Config_EstablishConnection());  // no router client in a test

  TempDir dir;
  const std::string path = dir.write("korvo.cfg",
                                     "ExtEditor_ViPath: \"/opt/vi\"\nExtEditor_EmacsPath: /opt/emacs\n"
                                     "ExtEditor_ViUseXTerm:Off\nExtEditor_OtherUseXTerm: on\n"
                                     "ExtEditor_EmacsUseXTerm: On \neditor: 0x10\n ExtEditor_Choice: \"Vi\"\n"
                                     "# ExtEditor_OtherPath: \"x\"\nunknown: \"x\"\nno colon here\n");
  ASSERT_TRUE(Config_PreLoadFile(path.c_str()));
  EXPECT_EQ(std::string(edit_vi_path) + "|" + edit_emacs_path + "|" + edit_choice + "|" + EditorName,
            "/opt/vi|emacs|Korvo Editor|ke");  // unquoted path, indented line skipped; mirror reads strings only
  EXPECT_FALSE(edit_vi_usexterm || edit_other_usexterm || edit_emacs_usexterm);
  int n = 0;
  EXPECT_TRUE(wb->getInt(kGroup, "editor", n));
  EXPECT_EQ(n, 16);
  EXPECT_EQ(board("unknown"), "<none>");
  EXPECT_TRUE(Config_PreLoadFile(nullptr));
  EXPECT_FALSE(Config_PreLoadFile("/nonexistent/korvo.cfg"));
  EXPECT_FALSE(ConfigMicroParser::parseAndLoadIntoWhiteBoard("", wb));
}

TEST_F(DefaultConfigTest, ConfigSetUpdatesVariableAndWhiteBoard) {
  // Not connected: the send fails and says so, but the variable and the
  // local value are set and the change callback has run.
  EXPECT_FALSE(Config_SetString("ExtEditor_Choice", ut_string("Emacs")));
  EXPECT_EQ(std::string(edit_choice) + "|" + getNameOfCurrentEditorType() + "|" + getEditorServiceName(false, nullptr),
            "Emacs|Emacs|Editor.Emacs");
  EXPECT_FALSE(Config_SetBool("ExtEditor_OtherUseXTerm", true));
  bool b = false;
  EXPECT_TRUE(edit_other_usexterm && Config_GetBool("ExtEditor_OtherUseXTerm", b) && b);
  EXPECT_STREQ(getNamedStringConfigOption("ExtEditor_ViArgumentFormat", editor_service_options),
               "+%LINE %FILE0 %FILES");
  EXPECT_EQ(getNamedStringConfigOption("ExtEditor_ViUseXTerm", editor_service_options), nullptr);
  EXPECT_FALSE(setNamedConfigOption("nothing", editor_service_options));
  Config_SetString("ExtEditor_Choice", ut_string("Korvo Editor"));
  Config_SetBool("ExtEditor_OtherUseXTerm", false);
}

TEST(EditorChoiceTest, ServiceNameAndCurrentType) {
  const char *names[][3] = {{"EMACS", "", "Editor.Emacs"}, {"Vi", "force", "Editor.Korvo"}, {"other", "", "Editor.Other"},
                            {"", "", "Editor.Korvo"},      {"nano", "", "Editor.Korvo"}};
  for (auto &c : names) EXPECT_STREQ(getEditorServiceName(*c[1], c[0]), c[2]) << c[0];
  char *savedChoice = std::exchange(edit_choice, nullptr), *savedName = EditorName;
  const char *types[][2] = {{"/usr/bin/xemacs", "Emacs"}, {"nano", "Other"}, {"gvim", "Vi"},
                            {"ke", "Korvo Editor"},       {nullptr, "Korvo Editor"}};
  for (auto &c : types) {
    EditorName = const_cast<char *>(c[0]);
    EXPECT_STREQ(getNameOfCurrentEditorType(), c[1]) << (c[0] ? c[0] : "(null)");
  }
  EditorName = savedName;
  edit_choice = savedChoice;
}

}  // namespace
