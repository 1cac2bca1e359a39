// End to end: the outside-editor services of the real svc_statemgr under
// svc_router start the editor that the user configuration file names, in
// the requesting process's working directory. The editor is a script that
// records its working directory and arguments, one line per start.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "shared/libcxxutil/ut_process.h"

namespace {

void writeFile(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

class EditorE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string tmp = std::getenv("TMPDIR");
    std::filesystem::create_directories(tmp + "/work");
    std::filesystem::create_directories(std::string(std::getenv("HOME")) + "/.twl");
  }
  void SetUp() override {
    writeFile(recorder, "#!/bin/sh\nline=\"$(pwd -P)\"\n"
                        "for a in \"$@\"; do line=\"$line|$a\"; done\n"
                        "echo \"$line\" >> " + record + "\n");
    ::chmod(recorder.c_str(), 0755);
    std::filesystem::remove(record);
    writeFile(std::string(std::getenv("HOME")) + "/.twl/korvo.cfg",
              "ExtEditor_OtherPath: \"" + recorder + "\"\nExtEditor_Choice: \"Other\"\n");
    // Started once the configuration is there: svc_statemgr reads it at
    // start-up. The default services file names svc_statemgr for the editors.
    router = std::make_unique<E2ERouter>();
    ASSERT_GT(router->port, 0) << "svc_router did not start";
    // The first request starts svc_statemgr and arrives while it still
    // waits for its own configuration: it is held until start-up is over,
    // when korvoctl, which sent it and left, is gone. The editor still
    // starts where korvoctl was.
    E2ERun cold = korvoctl({"edit", "--editor", "other", "cold.c", "2"}, work);
    ASSERT_EQ(cold.status, 0) << cold.err;
    std::vector<std::string> first = records(1);
    ASSERT_EQ(first.size(), 1u) << "no editor started";
    EXPECT_EQ(first[0], work + "|+2|" + work + "/cold.c");
    std::vector<std::string> args{"editor"};
    for (const std::string &o : router->clientOptions()) args.push_back(o);
    client = std::make_unique<E2EChild>(e2eBinDir() + "/e2e_script_client", args);
    ASSERT_EQ(client->readLine(30000), "ready");
  }

  // korvoctl with `args` and the router's options, started in `dir`.
  E2ERun korvoctl(const std::vector<std::string> &args, const std::string &dir) {
    CwdChanger in(dir.c_str());
    return e2eKorvoctl(*router, args);
  }

  // The recorded starts once there are `n` of them (or after 10 s).
  std::vector<std::string> records(size_t n) {
    std::vector<std::string> lines;
    e2eEventually(10000, [&] {
      lines.clear();
      std::istringstream in(e2eReadFile(record));
      for (std::string l; std::getline(in, l);) lines.push_back(l);
      return lines.size() >= n;
    });
    return lines;
  }

  std::string tmp = std::getenv("TMPDIR");
  std::string work = std::filesystem::canonical(tmp + "/work").string();
  std::string recorder = tmp + "/recorder.sh";
  std::string record = tmp + "/recorded.txt";
  std::unique_ptr<E2ERouter> router;
  std::unique_ptr<E2EChild> client;  // of "Editor.Other", open for the whole test
};

TEST_F(EditorE2E, KorvoctlEditAndBuildErrorsStartTheEditorWhereTheRequesterIs) {
  E2ERun r = korvoctl({"edit", "--editor", "other", "a.c", "12"}, work);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{"Editor.Other\t" + work + "/a.c\t12"});
  EXPECT_EQ(records(2).back(), work + "|+12|" + work + "/a.c");

  // Without --editor the configured choice (Other) is asked; the line
  // defaults to 1.
  r = korvoctl({"edit", "sub/../b.c"}, work);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(records(3).back(), work + "|+1|" + work + "/b.c");

  // With the default choice, the IDE's own editor, nothing is sent.
  std::string home = std::getenv("HOME");
  setenv("HOME", tmp.c_str(), 1);
  r = korvoctl({"edit", "c.c"}, work);
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("built-in Korvo editor"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--editor vi|emacs|other"), std::string::npos) << r.err;

  // A build error opens the file only when a window is asked for.
  EXPECT_EQ(client->run("builderror /src/no.c 5 0").back(), "ok builderror /src/no.c 5 0");
  EXPECT_EQ(client->run("builderror /src/yes.c 7 1").back(), "ok builderror /src/yes.c 7 1");
  std::vector<std::string> seen = records(4);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_NE(seen[3].find("|+7|/src/yes.c"), std::string::npos) << seen[3];
  // An editor started for the request without a window (or for the edit
  // without a choice) would have been started before the last one.
  usleep(300000);
  EXPECT_EQ(records(4), seen);
}

}  // namespace
