// The robot's job on real temporary game folders: ticks, generations and the guard between them.

#include <gtest/gtest.h>

#include <clocale>

#include "core/cache_makers.h"
#include "core/generation.h"
#include "core/records.h"
#include "core/refresh.h"
#include "core/robot.h"
#include "core/tick.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tests/support/fakes.h"
#include "tests/support/game_folder.h"

namespace ventari {
namespace {

using test::GameFolder;
using test::ReadFile;
using test::WriteFile;

// Rebuilds a missing cache with a fixed content, counting the calls.
class CacheWriter : public DeadlineCacheMaker, public YearCacheMaker {
 public:
  explicit CacheWriter(const GameFolder& folder) : m_folder(folder) {}
  bool FetchDeadlineCache() override {
    ++deadlineCalls;
    WriteFile(m_folder.gameDir() + "/nextdl.txt", nextDeadline + "\r\n");
    return true;
  }
  bool RunYearTool() override {
    ++yearCalls;
    WriteFile(m_folder.gameDir() + "/curyear.txt", nextYear + "\r\n");
    return true;
  }
  int deadlineCalls = 0;
  int yearCalls = 0;
  std::string nextDeadline = "2030-01-01 12:00:00";
  std::string nextYear = "2406";

 private:
  const GameFolder& m_folder;
};

class RobotTest : public ::testing::Test {
 protected:
  RobotTest() {
    std::setlocale(LC_TIME, "C");
    folder.WriteHostSettings();
    folder.WriteDeadlineCache("2026-12-07 12:00:00");
    folder.WriteYearCache("2405");
    // The stand-in game: writes a turn file for every player and removes the order files.
    runner.start = [this](const std::string&) {
      for (int n = 1; n <= 3; ++n) {
        WriteFile(folder.gameDir() + "/alpha.m" + std::to_string(n), "turn " + std::to_string(n));
        DeleteFileQuiet(folder.gameDir() + "/alpha.x" + std::to_string(n));
      }
      WriteFile(folder.gameDir() + "/alpha.hst", "host file");
      return true;
    };
  }

  void Orders(std::initializer_list<int> rows) {
    for (int n : rows) WriteFile(folder.gameDir() + "/alpha.x" + std::to_string(n), "orders");
  }
  void At(int hour, int minute = 0, int second = 0) {
    clock.now = *TryEncodeDateTime({2026, 12, 7, hour, minute, second});
  }
  void Start() { robot.FormCreate(); }

  GameFolder folder;
  test::ScopedCurrentDir cwd{folder.root()};
  ProgramRecords records;
  test::RecordingView view;
  test::ScriptedDialogs dialogs;
  EndFlag app;
  test::FakeClock clock;
  test::FakeSound sound;
  test::RecordingMailer mailer;
  test::ScriptedRunner runner;
  CacheWriter caches{folder};
  RefreshCycle refresh{records, view, dialogs, app, clock, caches, caches};
  Generation generation{records, runner, mailer, dialogs, app, refresh, "http://league.test/"};
  SurveillanceTick tick{records, view, sound, clock, mailer, generation, refresh};
  Robot robot{app, refresh, tick, generation};
};

TEST_F(RobotTest, TheFourStatesShowTheirCaptionAndColour) {
  folder.WriteGameSettings({{"Ann", "ann@x"},
                            {"Bob", "bob@x"},
                            {"Robot", "COMPUTER"},
                            {"Eve", "computer"},
                            {"Zoe", "zoe@x"}},
                           /*autoGenerate=*/false);
  Start();
  Orders({1, 3});  // a computer row's order file is never looked at
  At(11);
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "incomplet");
  EXPECT_EQ(view.colours.back(), WindowColour::ButtonFace);
  EXPECT_EQ(records.monitor.lateText, "2(Bob)4(Eve)5(Zoe)");  // "computer" is a human's address
  EXPECT_TRUE(sound.played.empty());

  At(13);
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "en retard");
  EXPECT_TRUE(mailer.mails.empty());

  Orders({2, 4, 5});
  At(12);  // exactly the deadline: not passed
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "prêt à générer");
  EXPECT_EQ(view.colours.back(), WindowColour::InfoBackground);
  EXPECT_EQ(records.monitor.lateText, "");
  EXPECT_EQ(sound.played, std::vector<std::string>{"pret.wav"});
  EXPECT_TRUE(mailer.mails.empty());

  At(12, 0, 1);
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "devrait générer");
  EXPECT_EQ(sound.played.size(), 2u);
}

TEST_F(RobotTest, AutomaticGenerationPublishesMailsAndRebuildsTheCaches) {
  folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}});
  Start();
  WriteFile(folder.pubGameDir() + "/alpha.m1", "an older turn");  // replaced
  Orders({1, 3});
  At(13);
  const std::size_t linesBefore = view.lines.size();
  robot.Timer1Timer();

  ASSERT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(runner.commandLines[0], folder.binDir() + "\\stars.exe -g alpha.hst");
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(ReadFile(folder.pubGameDir() + "/alpha.m" + std::to_string(n)),
              "turn " + std::to_string(n));
  EXPECT_EQ(ReadFile(folder.pubGameDir() + "/alpha.hst"), "host file");

  ASSERT_EQ(mailer.mails.size(), 3u);  // Ann, Bob, the host's report; not the computer
  const auto& ann = mailer.mails[0];
  EXPECT_EQ(ann.name, "Ann");
  EXPECT_EQ(ann.address, "ann@x");
  EXPECT_EQ(ann.subject, "alpha année 2405");
  EXPECT_EQ(*ann.body,
            "génération faite, votre fichier .M est en attachement.\n\r\n\r"
            "Prochaine DL dans 48heures.\n\r\n\r"
            "Consultez http://league.test/ligue/travail/ventari.php?jeu=alpha\n\r\n\r"
            "Ventari Robot");
  EXPECT_EQ(*ann.attachmentPath, folder.pubDir() + "\\alpha\\alpha.m1");
  EXPECT_EQ(*ann.attachmentName, "alpha.m1");
  EXPECT_EQ(*mailer.mails[1].attachmentName, "alpha.m3");
  const auto& report = mailer.mails[2];
  EXPECT_EQ(report.name, "alpha human host");
  EXPECT_EQ(report.address, "host@example.org");
  EXPECT_EQ(report.subject, "Ventari : jeu alpha année 2405");
  EXPECT_EQ(*report.body,
            "génération année 2405 faite, fichiers .M envoyés\n\r\n\rle robot Ventari de service.");
  EXPECT_FALSE(report.attachmentPath.has_value());

  // Both caches were dropped and rebuilt once by the generation's own refresh.
  EXPECT_EQ(caches.deadlineCalls, 1);
  EXPECT_EQ(caches.yearCalls, 1);
  EXPECT_EQ(view.line(WindowLine::Year), "2406");
  EXPECT_EQ(view.line(WindowLine::Deadline), "2030-01-01 12:00:00");
  EXPECT_EQ(view.line(WindowLine::State), "devrait générer");  // kept until the next tick
  std::size_t refreshes = 0;
  for (std::size_t i = linesBefore; i < view.lines.size(); ++i)
    if (view.lines[i].first == WindowLine::Clock) ++refreshes;
  EXPECT_EQ(refreshes, 1u);
  EXPECT_EQ(GetCurrentDir(), folder.root());

  robot.Timer1Timer();  // orders are gone and the new deadline is ahead: nothing more
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(view.line(WindowLine::State), "incomplet");
}

TEST_F(RobotTest, ManualModeRemindsTheHostOnEveryTickUntilTheHostGenerates) {
  folder.WriteGameSettings({{"Ann", "ann@x"}}, /*autoGenerate=*/false);
  Start();
  Orders({1});
  At(13);
  robot.Timer1Timer();
  robot.Timer1Timer();
  ASSERT_EQ(mailer.mails.size(), 2u);
  EXPECT_EQ(mailer.mails[0].subject, "Ventari : jeu alpha année 2405");
  EXPECT_EQ(*mailer.mails[0].body,
            "génération année 2405 prête à être effectuée manuellement\n\r\n\r"
            "le robot Ventari de service.");
  EXPECT_TRUE(runner.commandLines.empty());

  robot.Button1Click();  // "génère"
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(mailer.mails.size(), 4u);
}

TEST_F(RobotTest, AMissingReadySoundStopsTheTickBeforeAnyGeneration) {
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  Start();
  Orders({1});
  At(13);
  sound.failWith = "Couldn't open pret.wav";
  EXPECT_THROW(robot.Timer1Timer(), Exception);
  EXPECT_EQ(view.line(WindowLine::State), "prêt à générer");
  EXPECT_TRUE(runner.commandLines.empty());
  EXPECT_TRUE(mailer.mails.empty());
  EXPECT_FALSE(robot.Busy());  // the guard is released on the error's way out
}

TEST_F(RobotTest, AGameExecutableThatCannotStartSendsOneNoticeAndEnds) {
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  Start();
  Orders({1});
  At(13);
  runner.start = [](const std::string&) { return false; };
  robot.Timer1Timer();
  ASSERT_EQ(mailer.mails.size(), 1u);
  EXPECT_EQ(mailer.mails[0].subject, "ERREUR Ventari : jeu alpha");
  EXPECT_EQ(*mailer.mails[0].body, "impossible de générer");
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Stars! EXE unlaunchable !!!"});
  EXPECT_TRUE(app.EndRequested());
  EXPECT_TRUE(FileExists(folder.gameDir() + "/nextdl.txt"));  // caches kept
  EXPECT_TRUE(FileExists(folder.gameDir() + "/curyear.txt"));
  robot.Timer1Timer();  // the program is ending: nothing acts any more
  EXPECT_EQ(mailer.mails.size(), 1u);
}

TEST_F(RobotTest, NoPlayersMeansEveryOrderIsIn) {
  folder.WriteGameSettings({});
  Start();
  At(13);
  robot.Timer1Timer();
  EXPECT_EQ(sound.played.size(), 1u);
  ASSERT_EQ(mailer.mails.size(), 1u);  // the report only
  EXPECT_EQ(mailer.mails[0].name, "alpha human host");
  EXPECT_EQ(ReadFile(folder.pubGameDir() + "/alpha.hst"), "host file");
  EXPECT_FALSE(FileExists(folder.pubGameDir() + "/alpha.m1"));
}

TEST_F(RobotTest, ThirteenPlayersRaiseTheRangeErrorAfterTheCopies) {
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  Start();
  records.game.playerCount = 13;  // as a refresh that failed on row 13 leaves it
  for (int n = 1; n <= 12; ++n) records.game.player(n) = {"P", "COMPUTER"};
  EXPECT_THROW(robot.Button1Click(), ERangeError);
  EXPECT_EQ(ReadFile(folder.pubGameDir() + "/alpha.m3"), "turn 3");
  EXPECT_TRUE(mailer.mails.empty());
  EXPECT_THROW(robot.Timer1Timer(), ERangeError);  // the tick stops at row 13 too
}

TEST_F(RobotTest, ATickDuringAGenerationIsSkipped) {
  folder.WriteGameSettings({{"Ann", "ann@x"}, {"Bob", "bob@x"}});
  Start();
  Orders({1, 2});
  At(13);
  int skippedTicks = 0;
  mailer.duringSend = [&] {
    // A mail error box is open: the timer and activations keep firing.
    const std::size_t commands = runner.commandLines.size();
    robot.Timer1Timer();
    robot.Button1Click();
    robot.FormCreate();
    if (runner.commandLines.size() == commands) ++skippedTicks;
  };
  robot.Timer1Timer();
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(mailer.mails.size(), 3u);
  EXPECT_EQ(skippedTicks, 3);
  EXPECT_EQ(caches.deadlineCalls, 1);
}

TEST_F(RobotTest, NoTickActsBeforeADeadlineWasConverted) {
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  folder.WriteDeadlineCache("not a date");
  EXPECT_THROW(Start(), EConvertError);
  Orders({1});
  At(13);
  EXPECT_THROW(robot.Timer1Timer(), EConvertError);  // the refresh still fails
  EXPECT_TRUE(runner.commandLines.empty());
  EXPECT_TRUE(mailer.mails.empty());
}

TEST_F(RobotTest, AfterAFatalStartTheActivationTickDoesNotAct) {
  test::GameFolder empty;  // no ventari.def where the robot starts
  test::ScopedCurrentDir inEmpty(empty.root());
  Start();
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"config file not found !!!"});
  At(13);  // the zero deadline and no players would otherwise mean "generate now"
  robot.Timer1Timer();
  robot.Button1Click();
  EXPECT_TRUE(sound.played.empty());
  EXPECT_TRUE(mailer.mails.empty());
  EXPECT_TRUE(runner.commandLines.empty());
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(RobotTest, TheEnteredGameFolderMustExist) {
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  Start();
  records.game.gameName = "nowhere";
  EXPECT_THROW(robot.Button1Click(), EInOutError);
  EXPECT_TRUE(runner.commandLines.empty());
  EXPECT_TRUE(mailer.mails.empty());
}

}  // namespace
}  // namespace ventari
