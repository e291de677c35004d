// The year tool run: working folders, the command line and its failure, then the real tool.

#include "core/turn/year_tool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/game/records.h"
#include "platform/app_control.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

using test::ScopedCurrentDir;
using test::ScriptedDialogs;
using test::TempDir;

// Records each command line with the working folder it was started in.
class RecordingRunner : public ProgramRunner {
 public:
  bool RunProgram(const std::string& commandLine, bool wait) override {
    lines.push_back(commandLine);
    folders.push_back(GetCurrentDir());
    waited.push_back(wait);
    return result;
  }
  bool result = true;
  std::vector<std::string> lines;
  std::vector<std::string> folders;
  std::vector<bool> waited;
};

std::string Canonical(const std::string& path) { return std::filesystem::canonical(path).string(); }

// A host file header as the game writes it: block word 0x2010, "J3J3", turn at bytes 12-13.
std::string HostFileBytes(unsigned turn) {
  std::string bytes = std::string("\x10\x20", 2) + "J3J3" + std::string("\x01\x02\x03\x04", 4) +
                      std::string("\x00\x00", 2);
  bytes.push_back(static_cast<char>(turn & 0xFF));
  bytes.push_back(static_cast<char>(turn >> 8));
  bytes += std::string("\x00\x00\x02\x00", 4);
  return bytes + "rest of the host file";
}

struct Fixture {
  TempDir games;  // repJeu
  TempDir elsewhere;
  ProgramRecords records;
  ScriptedDialogs dialogs;
  EndFlag app;

  Fixture() {
    records.host.repJeu = games.path();
    records.game.gameName = "alpha";
    std::filesystem::create_directory(games.file("alpha"));
  }
  std::string GameDir() const { return Canonical(games.file("alpha")); }
};

TEST(YearTool, RunsTheToolInThePerGameFolderAndSetsTheFolderBack) {
  Fixture f;
  ScopedCurrentDir start(f.elsewhere.path());
  RecordingRunner runner;
  YearTool tool(f.records, runner, f.dialogs, f.app);

  EXPECT_TRUE(tool.RunYearTool());
  ASSERT_EQ(runner.lines.size(), 1u);
  EXPECT_EQ(runner.lines[0], f.games.path() + "\\staryear.EXE alpha.hst /q > curyear.txt");
  EXPECT_TRUE(runner.waited[0]);
  EXPECT_EQ(Canonical(runner.folders[0]), f.GameDir());
  EXPECT_EQ(Canonical(GetCurrentDir()), Canonical(f.elsewhere.path()));
  EXPECT_EQ(Canonical(f.records.monitor.savedDir), Canonical(f.elsewhere.path()));
  EXPECT_TRUE(f.dialogs.messages.empty());
  EXPECT_FALSE(f.app.EndRequested());
}

TEST(YearTool, AToolThatCannotStartEndsTheApplication) {
  Fixture f;
  ScopedCurrentDir start(f.elsewhere.path());
  RecordingRunner runner;
  runner.result = false;
  YearTool tool(f.records, runner, f.dialogs, f.app);

  EXPECT_FALSE(tool.RunYearTool());
  EXPECT_EQ(f.dialogs.messages, std::vector<std::string>{"Staryear EXE unlaunchable !!!"});
  EXPECT_TRUE(f.app.EndRequested());
  // The application is ending: the folder is not set back.
  EXPECT_EQ(Canonical(GetCurrentDir()), f.GameDir());
}

TEST(YearTool, AMissingPerGameFolderRaisesAnIoErrorBeforeAnythingRuns) {
  Fixture f;
  f.records.game.gameName = "beta";
  ScopedCurrentDir start(f.elsewhere.path());
  RecordingRunner runner;
  YearTool tool(f.records, runner, f.dialogs, f.app);

  EXPECT_THROW(tool.RunYearTool(), EInOutError);
  EXPECT_TRUE(runner.lines.empty());
  EXPECT_TRUE(f.dialogs.messages.empty());
  EXPECT_EQ(Canonical(GetCurrentDir()), Canonical(f.elsewhere.path()));
}

TEST(YearTool, TheRealToolWritesTheYearCache) {
  Fixture f;
  ScopedCurrentDir start(f.elsewhere.path());
  PosixProgramRunner runner;
  YearTool tool(f.records, runner, f.dialogs, f.app);

  // Without the tool in the game folder.
  test::WriteFile(f.games.file("alpha/alpha.hst"), HostFileBytes(5));
  EXPECT_FALSE(tool.RunYearTool());
  EXPECT_EQ(f.dialogs.messages, std::vector<std::string>{"Staryear EXE unlaunchable !!!"});
  EXPECT_TRUE(f.app.EndRequested());
  SetCurrentDir(f.elsewhere.path());

  ASSERT_TRUE(CopyFileOver(test::BinDir() + "/staryear", f.games.file("staryear.EXE")));
  test::MakeExecutable(f.games.file("staryear.EXE"));
  EndFlag app;
  YearTool installed(f.records, runner, f.dialogs, app);
  EXPECT_TRUE(installed.RunYearTool());
  EXPECT_EQ(test::ReadFile(f.games.file("alpha/curyear.txt")), "2405\r\n");
  EXPECT_EQ(Canonical(GetCurrentDir()), Canonical(f.elsewhere.path()));
  EXPECT_FALSE(app.EndRequested());

  // A damaged host file: the tool ran, so the run counts, but no cache is left behind.
  std::filesystem::remove(f.games.file("alpha/curyear.txt"));
  test::WriteFile(f.games.file("alpha/alpha.hst"), "not a Stars! file at all");
  EXPECT_TRUE(installed.RunYearTool());
  EXPECT_FALSE(FileExists(f.games.file("alpha/curyear.txt")));
  EXPECT_EQ(f.dialogs.messages.size(), 1u);

  // A tool that hangs (a Windows one under wine, say) is ended at the time limit and counts as
  // not started, instead of freezing the robot for ever.
  std::filesystem::remove(f.games.file("staryear.EXE"));
  test::WriteFile(f.games.file("staryear.EXE"), "#!/bin/sh\nexec sleep 1000\n");
  test::MakeExecutable(f.games.file("staryear.EXE"));
  EndFlag hungApp;
  YearTool hung(f.records, runner, f.dialogs, hungApp, std::chrono::seconds(1));
  EXPECT_FALSE(hung.RunYearTool());
  EXPECT_EQ(f.dialogs.messages.back(), "Staryear EXE unlaunchable !!!");
  EXPECT_TRUE(hungApp.EndRequested());
}

}  // namespace
}  // namespace ventari
