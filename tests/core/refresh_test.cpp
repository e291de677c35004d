#include "core/turn/refresh.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <functional>

#include "core/game/cache_makers.h"
#include "core/game/records.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tests/support/fakes.h"
#include "tests/support/game_folder.h"

namespace ventari {
namespace {

using test::GameFolder;
using test::RecordingView;
using test::ScopedCurrentDir;
using test::ScriptedDialogs;
using test::TempDir;

class CountingDeadlineMaker : public DeadlineCacheMaker {
 public:
  bool FetchDeadlineCache() override {
    ++calls;
    return action ? action() : false;
  }
  int calls = 0;
  std::function<bool()> action;
};

class CountingYearMaker : public YearCacheMaker {
 public:
  bool RunYearTool() override {
    ++calls;
    return action ? action() : false;
  }
  int calls = 0;
  std::function<bool()> action;
};

class RefreshTest : public ::testing::Test {
 protected:
  RefreshTest() { std::setlocale(LC_TIME, "C"); }

  void Run() { cycle.Run(); }

  GameFolder folder;
  ScopedCurrentDir cwd{folder.root()};
  ProgramRecords records;
  RecordingView view;
  ScriptedDialogs dialogs;
  EndFlag app;
  test::FakeClock clock;
  CountingDeadlineMaker deadlineMaker;
  CountingYearMaker yearMaker;
  RefreshCycle cycle{records, view, dialogs, app, clock, deadlineMaker, yearMaker};
};

TEST_F(RefreshTest, WithBothCachesItShowsTheFiveLinesAndFetchesNothing) {
  folder.WriteHostSettings();
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  folder.WriteDeadlineCache("2002-07-30 18:00:00");
  folder.WriteYearCache("2405\r\n2406");
  clock.now = *TryEncodeDateTime({2026, 12, 7, 9, 30, 5});
  Run();
  EXPECT_EQ(deadlineMaker.calls, 0);
  EXPECT_EQ(yearMaker.calls, 0);
  EXPECT_TRUE(dialogs.messages.empty());
  ASSERT_EQ(view.lines.size(), 5u);
  EXPECT_EQ(view.lines[0].first, WindowLine::Clock);  // in the window's order
  EXPECT_EQ(view.line(WindowLine::Clock), "12/07/26 09:30:05");
  EXPECT_EQ(view.line(WindowLine::Game), "alpha");
  EXPECT_EQ(view.line(WindowLine::Year), "2405");
  EXPECT_EQ(view.line(WindowLine::Deadline), "2002-07-30 18:00:00");
  EXPECT_EQ(view.line(WindowLine::Period), "60");
  EXPECT_DOUBLE_EQ(records.monitor.deadline, *TryEncodeDateTime({2002, 7, 30, 18, 0, 0}));
  EXPECT_TRUE(records.monitor.deadlineKnown);
  EXPECT_EQ(records.monitor.savedDir, folder.root());
  // The folders were made: publication folder, its per-game folder.
  EXPECT_TRUE(DirectoryExists(folder.pubGameDir()));
}

TEST_F(RefreshTest, EachRunMakesTheGamesHostTheSenderOfItsMail) {
  test::RecordingMailer mailer;
  RefreshCycle withMail{records, view, dialogs, app, clock, deadlineMaker, yearMaker, &mailer};
  folder.WriteHostSettings();
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  folder.WriteDeadlineCache("2002-07-30 18:00:00");
  folder.WriteYearCache("2405");
  withMail.Run();
  EXPECT_EQ(mailer.senderName, "alpha human host");
  EXPECT_EQ(mailer.senderAddress, "host@example.org");
  // The host gives the game another address: its next mail comes from there.
  folder.hostAddress = "alpha-host@example.net";
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  withMail.Run();
  EXPECT_EQ(mailer.senderAddress, "alpha-host@example.net");
}

TEST_F(RefreshTest, FatalSetUpFailuresShowTheirMessageAndAskToEnd) {
  Run();
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"config file not found !!!"});
  EXPECT_TRUE(app.EndRequested());
  EXPECT_TRUE(view.lines.empty());

  // The checks of the programs' folder and executable come before any folder is made: a host
  // who named them wrong finds no publication or game folder made by a robot that then ended.
  struct Case {
    std::function<void()> prepare;
    const char* message;
    bool foldersMade;
  };
  const Case cases[] = {
      {[&] {
         folder.WriteHostSettings();
         test::WriteFile(
             folder.root() + "/ventari.def",
             "b\t" + folder.binDir() + "/stars.exe\r\ne\tstars.exe\r\np\tx\r\nj\ty\r\n");
       },
       "Stars! binaries directory not found !!!", false},
      {[&] {
         folder.WriteHostSettings("subfolder");
         ::mkdir((folder.binDir() + "/subfolder").c_str(), 0777);
       },
       "Stars! executable file not found !!!", false},
      {[&] {
         folder.WriteHostSettings();
         ::chmod((folder.binDir() + "/stars.exe").c_str(), 0644);
       },
       "Stars! EXE unlaunchable !!!", false},  // reported now, not when the turn is due
      {[&] {
         // A shorter path up to a blank is another program: the game would not be the one run.
         ::mkdir((folder.binDir() + "/my games").c_str(), 0777);
         test::WriteFile(folder.binDir() + "/my", "#!/bin/sh\n");
         test::MakeExecutable(folder.binDir() + "/my");
         folder.WriteHostSettings("my games/stars.exe");
         test::WriteFile(folder.binDir() + "/my games/stars.exe", "#!/bin/sh\n");
         test::MakeExecutable(folder.binDir() + "/my games/stars.exe");
       },
       "Stars! EXE unlaunchable !!!", false},
      // No ventari.pla: read once the folders are made.
      {[&] { folder.WriteHostSettings(); }, "config file not found !!!", true},
  };
  for (const Case& c : cases) {
    dialogs.messages.clear();
    EndFlag fresh;
    RefreshCycle other(records, view, dialogs, fresh, clock, deadlineMaker, yearMaker);
    c.prepare();
    other.Run();
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{c.message});
    EXPECT_TRUE(fresh.EndRequested()) << c.message;
    EXPECT_EQ(DirectoryExists(folder.pubDir()), c.foldersMade) << c.message;
    EXPECT_FALSE(DirectoryExists(folder.root() + "/x")) << c.message;
    EXPECT_FALSE(DirectoryExists(folder.root() + "/y")) << c.message;
  }
}

TEST_F(RefreshTest, MissingFoldersAreMadeWithTheirParentsBeforeTheGameSettingsAreRead) {
  test::WriteFile(folder.binDir() + "/stars.exe", "#!/bin/sh\n");
  test::MakeExecutable(folder.binDir() + "/stars.exe");
  const std::string pub = folder.root() + "/deep/er/pub";
  const std::string jeux = folder.root() + "/games/jeux";
  test::WriteFile("ventari.def", "b\t" + folder.binDir() + "\r\ne\tstars.exe\r\np\t" + pub +
                                     "\\\r\nj\t" + jeux + "\r\n");
  Run();  // the game settings are missing in the new game folder
  EXPECT_TRUE(DirectoryExists(pub));
  EXPECT_TRUE(DirectoryExists(jeux));
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"config file not found !!!"});
}

TEST_F(RefreshTest, RelativeFoldersMeanTheFolderTheRobotStartedIn) {
  folder.WriteHostSettings();
  test::WriteFile("ventari.def", "b\tbin\r\ne\tstars.exe\r\np\tpub\r\nj\tjeux\r\n");
  folder.WriteGameSettings({});
  folder.WriteDeadlineCache("2030-07-30 18:00:00");
  folder.WriteYearCache("2405");
  Run();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(records.host.binariesDir, folder.root() + "/bin");
  EXPECT_EQ(records.host.publicationDir, folder.root() + "/pub");
  EXPECT_EQ(records.host.repJeu, folder.root() + "/jeux");
  EXPECT_EQ(view.line(WindowLine::Year), "2405");
}

TEST_F(RefreshTest, GameNamesAndPlayerCountsThatCannotBeActedOnAreRefused) {
  folder.WriteHostSettings();
  folder.WriteDeadlineCache("2030-07-30 18:00:00");
  folder.WriteYearCache("2405");
  for (const std::string& name :
       std::vector<std::string>{"..", ".", "", "a/b", "..\\x", "al\x01pha", "al\x7Fpha"}) {
    folder.game = name;
    folder.WriteGameSettings({});
    try {
      Run();
      ADD_FAILURE() << "accepted '" << name << "'";
    } catch (const Exception& error) {
      EXPECT_NE(std::string(error.what()).find("is not a valid game name"), std::string::npos);
      EXPECT_EQ(std::string(error.what()).find_first_of("\x01\x7F"), std::string::npos);
    }
  }
  EXPECT_FALSE(DirectoryExists(folder.pubDir() + "/a"));  // nothing made for a refused name
  folder.game = "alpha";
  folder.WriteGameSettings({});
  ASSERT_NO_THROW(Run());

  // Counts beyond the table's 12 rows, or below 0, are a range error: nothing may loop on them.
  for (const char* count : {"-1", "13", "2147483647"}) {
    test::WriteFile(folder.gameRoot() + "/ventari.pla",
                    "j\talpha\r\nw\tligue\r\nh\th@x\r\nr\t0\r\na\t1\r\nh\t48\r\nn\t" +
                        std::string(count) + "\r\n");
    EXPECT_THROW(Run(), ERangeError) << count;
  }
  // A host address that is no address: no report or failure notice could reach him.
  for (const char* host : {"host-at-example.org", "", "a@b, c@d"}) {
    test::WriteFile(folder.gameRoot() + "/ventari.pla",
                    "j\talpha\r\nw\tligue\r\nh\t" + std::string(host) +
                        "\r\nr\t0\r\na\t1\r\nh\t48\r\nn\t0\r\n");
    try {
      Run();
      ADD_FAILURE() << "accepted '" << host << "'";
    } catch (const Exception& error) {
      EXPECT_NE(std::string(error.what()).find("ventari.pla, ligne 3 : l'adresse de l'hôte"),
                std::string::npos)
          << error.what();
    }
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(RefreshTest, MissingCachesAreMadeByTheirMakers) {
  folder.WriteHostSettings();
  folder.WriteGameSettings({});
  deadlineMaker.action = [&] {
    test::WriteFile(folder.gameDir() + "/nextdl.txt", "2030-01-02\r\n");
    return true;
  };
  yearMaker.action = [&] {
    test::WriteFile(folder.gameDir() + "/curyear.txt", "2401\r\n");
    return true;
  };
  Run();
  EXPECT_EQ(deadlineMaker.calls, 1);
  EXPECT_EQ(yearMaker.calls, 1);
  EXPECT_EQ(view.line(WindowLine::Year), "2401");
  EXPECT_DOUBLE_EQ(records.monitor.deadline, *TryEncodeDateTime({2030, 1, 2}));
  Run();  // both caches present now
  EXPECT_EQ(deadlineMaker.calls, 1);
  EXPECT_EQ(yearMaker.calls, 1);
}

TEST_F(RefreshTest, AMakerThatFailsStopsTheCycle) {
  folder.WriteHostSettings();
  folder.WriteGameSettings({});
  Run();
  EXPECT_EQ(deadlineMaker.calls, 1);
  EXPECT_EQ(yearMaker.calls, 0);
  EXPECT_TRUE(view.lines.empty());

  folder.WriteDeadlineCache("2030-01-02 10:00:00");
  Run();
  EXPECT_EQ(yearMaker.calls, 1);
  EXPECT_TRUE(view.lines.empty());

  // The year tool ran but left no cache: "File not found".
  yearMaker.action = [] { return true; };
  try {
    Run();
    FAIL();
  } catch (const EInOutError& error) {
    EXPECT_STREQ(error.what(), "File not found");
  }
}

TEST_F(RefreshTest, ACacheThatIsNoDateRaisesAndLeavesTheDeadlineLineAlone) {
  folder.WriteHostSettings();
  folder.WriteGameSettings({});
  folder.WriteYearCache("");
  folder.WriteDeadlineCache("2002-07-30 18:00:00");
  Run();
  EXPECT_EQ(view.line(WindowLine::Year), "");  // an empty year is no error
  const TDateTime before = records.monitor.deadline;
  view.lines.clear();

  folder.WriteDeadlineCache("<html>oops</html>");
  try {
    Run();
    FAIL();
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'ps/>o/<htm</html>' is not a valid date and time");
  }
  EXPECT_EQ(records.monitor.deadlineText, "<html>oops</html>");
  EXPECT_EQ(records.monitor.deadline, before);
  EXPECT_TRUE(view.lines.empty());

  folder.WriteDeadlineCache("");
  EXPECT_THROW(
      {
        try {
          Run();
        } catch (const EConvertError& error) {
          EXPECT_STREQ(error.what(), "'//' is not a valid date and time");
          throw;
        }
      },
      EConvertError);
}

TEST(ParseDeadline, TakesThePiecesByPositionAndConvertsDayMonthYear) {
  EXPECT_DOUBLE_EQ(ParseDeadline("2002-07-30 18:00:00"), *TryEncodeDateTime({2002, 7, 30, 18}));
  EXPECT_DOUBLE_EQ(ParseDeadline("2002-07-30"), *TryEncodeDateTime({2002, 7, 30}));
  EXPECT_DOUBLE_EQ(ParseDeadline("2002/07/30 18:00:00 and more"),
                   *TryEncodeDateTime({2002, 7, 30, 18}));
  // A body whose lines end in line feeds alone: characters 1 to 19 still give the deadline.
  EXPECT_DOUBLE_EQ(ParseDeadline("2002-07-30 18:00:00\nsecond line"),
                   *TryEncodeDateTime({2002, 7, 30, 18}));
  EXPECT_THROW(ParseDeadline("2002-13-30"), EConvertError);
  EXPECT_THROW(ParseDeadline("30/07/2002"), EConvertError);
  // A short year piece must not run on into the time: " 129" and "2" are not the year 1292.
  try {
    ParseDeadline(" 129 6 29 2");
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'9 /6 / 1292' is not a valid date and time");
  }
  EXPECT_THROW(ParseDeadline("    -07-30 2002"), EConvertError);  // no year in its place
  EXPECT_DOUBLE_EQ(ParseDeadline("  12-07-30 18:00"), *TryEncodeDateTime({12, 7, 30, 18}));
}

TEST(MakeDirPath, MakesMissingParentsAndRefusesBareNames) {
  TempDir dir;
  ScopedCurrentDir cwd(dir.path());
  MakeDirPath(dir.path() + "\\a\\b\\c\\");
  EXPECT_TRUE(DirectoryExists(dir.path() + "/a/b/c"));
  MakeDirPath(dir.path() + "/x/y");
  EXPECT_TRUE(DirectoryExists(dir.path() + "/x/y"));
  EXPECT_NO_THROW(MakeDirPath("C:"));
  EXPECT_NO_THROW(MakeDirPath("C:\\"));
  EXPECT_NO_THROW(MakeDirPath("ab"));  // one or two characters: left alone
  EXPECT_FALSE(DirectoryExists("ab"));
  try {
    MakeDirPath("pub");
    FAIL();
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Unable to create directory");
  }
  EXPECT_FALSE(DirectoryExists("pub"));
  EXPECT_THROW(MakeDirPath(""), Exception);
}

}  // namespace
}  // namespace ventari
