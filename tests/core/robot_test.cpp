// The robot's job on real temporary game folders: ticks, generations and the guard between them.

#include "tests/core/robot_fixture.h"

namespace ventari {
namespace {

using test::ReadFile;
using test::RestartedRobot;
using test::RobotTest;
using test::WriteFile;
using CacheWriter = test::FixedCaches;

TEST_F(RobotTest, TheFourStatesShowTheirCaptionAndColour) {
  folder.WriteGameSettings({{"Ann", "ann@x"},
                            {"Bob", "bob@x"},
                            {"Robot", "COMPUTER"},
                            {"Eve", "eve@x"},
                            {"Zoe", "zoe@x"}},
                           /*autoGenerate=*/false);
  Start();
  Orders({1, 3});  // a computer row's order file is never looked at
  At(11);
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "incomplet");
  EXPECT_EQ(view.colours.back(), WindowColour::ButtonFace);
  EXPECT_EQ(records.monitor.lateText, "2(Bob)4(Eve)5(Zoe)");
  EXPECT_TRUE(sound.played.empty());
  EXPECT_FALSE(tick.DueIn()) << "orders missing: nothing falls due by itself";

  At(13);
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "en retard");
  EXPECT_TRUE(mailer.mails.empty());

  Orders({2, 4, 5});
  At(12);  // exactly the deadline: not passed
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "prêt à générer");
  EXPECT_EQ(tick.DueIn(), std::chrono::seconds(1)) << "looked at the second after the deadline";
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
  for (int n = 1; n <= 3; ++n) {
    const std::string name = "alpha.m" + std::to_string(n);
    EXPECT_EQ(published(name), game(name));
    EXPECT_EQ(test::TurnOf(folder.pubGameDir() + "/" + name), 6);
  }
  EXPECT_EQ(published("alpha.hst"), game("alpha.hst"));
  EXPECT_EQ(test::TurnOf(folder.pubGameDir() + "/alpha.hst"), 6);

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
  // The new turn is judged at once (its orders are not in): never "devrait générer" beside the
  // new year. The generation's refresh, then that tick's.
  EXPECT_EQ(view.line(WindowLine::State), "incomplet");
  std::size_t refreshes = 0;
  for (std::size_t i = linesBefore; i < view.lines.size(); ++i)
    if (view.lines[i].first == WindowLine::Clock) ++refreshes;
  EXPECT_EQ(refreshes, 2u);
  EXPECT_EQ(GetCurrentDir(), folder.root());

  robot.Timer1Timer();  // orders are gone and the new deadline is ahead: nothing more
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(view.line(WindowLine::State), "incomplet");
}

TEST_F(RobotTest, ManualModeRemindsTheHostOncePerTurnAndWhenTheHostAsks) {
  folder.WriteGameSettings({{"Ann", "ann@x"}}, /*autoGenerate=*/false);
  Start();
  Orders({1});
  At(13);
  robot.Timer1Timer();
  robot.Timer1Timer();  // the next minute, or a box closed: no second mail
  ASSERT_EQ(mailer.mails.size(), 1u);
  EXPECT_EQ(mailer.mails[0].subject, "Ventari : jeu alpha année 2405");
  EXPECT_EQ(*mailer.mails[0].body,
            "génération année 2405 prête à être effectuée manuellement\n\r\n\r"
            "le robot Ventari de service.");
  EXPECT_EQ(view.line(WindowLine::State), "devrait générer");
  EXPECT_TRUE(runner.commandLines.empty());

  robot.Button2Click();  // "rafraîchit": the host asks again
  EXPECT_EQ(mailer.mails.size(), 2u);

  {
    // A robot started anew on the same folder knows the reminder went out.
    RestartedRobot second(*this);
    EXPECT_TRUE(second.mailer.mails.empty());
  }

  caches.nextDeadline = "2026-12-07 12:30:00";  // the new turn is due at once too
  robot.Button1Click();                         // "génère"
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(mailer.mails.size(), 4u);  // Ann's turn and the report

  // The new turn gets its own reminder, once.
  Orders({1});
  robot.Timer1Timer();
  robot.Timer1Timer();
  ASSERT_EQ(mailer.mails.size(), 5u);
  EXPECT_EQ(mailer.mails[4].subject, "Ventari : jeu alpha année 2406");
}

TEST_F(RobotTest, AMissingReadySoundIsShownOncePerTurnAndTheTurnIsStillGenerated) {
  folder.WriteGameSettings({{"Ann", "ann@x"}}, /*autoGenerate=*/false);
  Start();
  Orders({1});
  At(11);
  sound.failWith = "Couldn't open pret.wav";
  robot.Timer1Timer();
  robot.Timer1Timer();
  EXPECT_EQ(dialogs.errors, std::vector<std::string>{"Couldn't open pret.wav."});
  EXPECT_EQ(view.line(WindowLine::State), "prêt à générer");
  At(13);
  robot.Timer1Timer();  // the manual reminder still goes out
  ASSERT_EQ(mailer.mails.size(), 1u);
  EXPECT_EQ(mailer.mails[0].subject, "Ventari : jeu alpha année 2405");
  robot.Button1Click(std::chrono::steady_clock::now());
  EXPECT_EQ(runner.commandLines.size(), 1u);

  // Automatic mode: the turn is generated; the next turn shows the error once more.
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  robot.FormCreate();  // the refresh reads the new settings
  Orders({1});
  clock.now = *TryEncodeDateTime({2031, 1, 1, 12, 0, 0});
  robot.Timer1Timer();
  EXPECT_EQ(runner.commandLines.size(), 2u);
  EXPECT_EQ(dialogs.errors.size(), 2u);
  EXPECT_FALSE(robot.Busy());
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

TEST_F(RobotTest, OnlyThisTurnsOrderFileOfThePlayerCounts) {
  folder.WriteGameSettings({{"P1", "p1@x"},
                            {"P2", "p2@x"},
                            {"P3", "p3@x"},
                            {"P4", "p4@x"},
                            {"P5", "p5@x"},
                            {"P6", "p6@x"},
                            {"P7", "p7@x"},
                            {"P8", "p8@x"}},
                           /*autoGenerate=*/false);
  Start();
  const std::string x = stem() + ".x";
  Orders({1});
  test::WriteGameFile(x + "2", test::GameHeader(stars::kOrderFile, 5, 1, test::kGameId + 1));
  test::WriteGameFile(x + "3", test::GameHeader(stars::kOrderFile, 4, 2));  // last turn's
  test::WriteGameFile(x + "4", test::GameHeader(stars::kOrderFile, 5, 0));  // saved as row 4
  WriteFile(x + "5", "");
  WriteFile(x + "6",
            stars::EncodeFileHeader(test::GameHeader(stars::kOrderFile, 5, 5)).substr(0, 10));
  ASSERT_TRUE(CreateDir(x + "7"));
  test::WriteGameFile(x + "8", test::GameHeader(stars::kTurnFile, 5, 7));  // a turn file renamed
  At(13);
  robot.Timer1Timer();
  EXPECT_EQ(records.monitor.lateText, "2(P2)3(P3)4(P4)5(P5)6(P6)7(P7)8(P8)");
  EXPECT_EQ(view.line(WindowLine::State), "en retard");

  // Each row handed in properly: the turn is due.
  for (int n = 2; n <= 8; ++n) DeleteFileQuiet(x + std::to_string(n));
  ASSERT_TRUE(std::filesystem::remove(x + "7"));
  Orders({2, 3, 4, 5, 6, 7, 8});
  robot.Timer1Timer();
  EXPECT_EQ(records.monitor.lateText, "");
  EXPECT_EQ(view.line(WindowLine::State), "devrait générer");

  // Without a host file that can be read as one, no order counts.
  WriteFile(stem() + ".hst", "not a host file");
  robot.Timer1Timer();
  EXPECT_EQ(records.monitor.lateText, "1(P1)2(P2)3(P3)4(P4)5(P5)6(P6)7(P7)8(P8)");
  EXPECT_EQ(view.line(WindowLine::State), "en retard");
  test::WriteGameFile(stem() + ".hst", test::GameHeader(stars::kTurnFile, 5, 31));
  robot.Timer1Timer();
  EXPECT_EQ(records.monitor.lateText.substr(0, 10), "1(P1)2(P2)");
  ASSERT_TRUE(std::filesystem::remove(stem() + ".hst"));
  robot.Timer1Timer();
  EXPECT_EQ(records.monitor.lateText.substr(0, 10), "1(P1)2(P2)");
  EXPECT_EQ(mailer.mails.size(), 1u);  // the reminder of the one tick that found all in
}

// One generation with boxes, mails and an end request of its own, on the fixture's folder.
struct GenerationAttempt {
  GenerationAttempt(ProgramRecords& records, test::RecordingView& view, test::FakeClock& clock,
                    CacheWriter& caches, test::ScriptedRunner& runner)
      : refresh{records, view, dialogs, app, clock, caches, caches},
        generation{records, runner, mailer, dialogs, app, clock, "http://league.test/"},
        outcome(generation.Run()) {}
  EndFlag app;
  test::ScriptedDialogs dialogs;
  test::RecordingMailer mailer;
  RefreshCycle refresh;
  Generation generation;
  TurnOutcome outcome;
};

TEST_F(RobotTest, AGenerationCountsOnlyWhenTheGameGeneratedTheTurn) {
  folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}});
  Start();
  struct Case {
    const char* what;
    std::function<void()> game;  // what the game executable does to the folder
  };
  const std::vector<Case> cases{
      {"nothing generated", [] {}},
      {"a human's turn file missing",
       [this] {
         test::GenerateTurn(stem(), 3);
         DeleteFileQuiet(stem() + ".m3");
       }},
      {"a human's turn file of the old turn",
       [this] {
         test::GenerateTurn(stem(), 3);
         test::WriteGameFile(stem() + ".m1", test::GameHeader(stars::kTurnFile, 5, 0));
       }},
      {"another player's turn file",
       [this] {
         test::GenerateTurn(stem(), 3);
         test::WriteGameFile(stem() + ".m3", test::GameHeader(stars::kTurnFile, 6, 0));
       }},
      {"another game's host file",
       [this] {
         test::GenerateTurn(stem(), 3);
         test::WriteGameFile(stem() + ".hst",
                             test::GameHeader(stars::kHostFile, 6, 31, test::kGameId + 1));
       }},
      {"the host file two turns on",
       [this] {
         test::GenerateTurn(stem(), 3);
         test::GenerateTurn(stem(), 3);
       }},
  };
  for (const Case& c : cases) {
    test::WriteHostFile(stem(), 5, "host file");
    Orders({1, 3});
    runner.start = [&c](const std::string&) {
      c.game();
      return true;
    };
    const GenerationAttempt attempt(records, view, clock, caches, runner);
    ASSERT_EQ(attempt.mailer.mails.size(), 1u) << c.what;
    EXPECT_EQ(attempt.mailer.mails[0].address, "host@example.org") << c.what;
    EXPECT_EQ(attempt.mailer.mails[0].subject, "ERREUR Ventari : jeu alpha") << c.what;
    EXPECT_EQ(*attempt.mailer.mails[0].body, "impossible de générer") << c.what;
    // The generation says how it ended; ending the program is the robot's to do.
    EXPECT_EQ(attempt.outcome.kind, TurnOutcome::Kind::kFailed) << c.what;
    EXPECT_EQ(attempt.outcome.failure, "Stars! turn not generated !!!") << c.what;
    EXPECT_FALSE(attempt.app.EndRequested()) << c.what;
    EXPECT_FALSE(FileExists(folder.pubGameDir() + "/alpha.hst")) << c.what;
    EXPECT_FALSE(FileExists(folder.pubGameDir() + "/alpha.m1")) << c.what;
    EXPECT_TRUE(FileExists(folder.gameDir() + "/nextdl.txt")) << c.what;
    EXPECT_TRUE(FileExists(folder.gameDir() + "/curyear.txt")) << c.what;
    SetCurrentDir(folder.root());  // the ending generation leaves it in the game folder
  }

  // Without a host file to judge by, the game is not even run.
  WriteFile(stem() + ".hst", "damaged");
  const std::size_t runs = runner.commandLines.size();
  const GenerationAttempt attempt(records, view, clock, caches, runner);
  EXPECT_EQ(runner.commandLines.size(), runs);
  EXPECT_EQ(attempt.outcome.failure, "Stars! turn not generated !!!");
  ASSERT_EQ(attempt.mailer.mails.size(), 1u);
  EXPECT_EQ(attempt.mailer.mails[0].subject, "ERREUR Ventari : jeu alpha");

  // Once the game does generate, the turn goes out as usual.
  test::WriteHostFile(stem(), 5, "host file");
  runner.start = [this](const std::string&) {
    test::GenerateTurn(stem(), 3);
    return true;
  };
  SetCurrentDir(folder.root());
  const GenerationAttempt good(records, view, clock, caches, runner);
  EXPECT_TRUE(good.dialogs.messages.empty());
  EXPECT_FALSE(good.app.EndRequested());
  EXPECT_EQ(good.mailer.mails.size(), 3u);
  EXPECT_EQ(published("alpha.m3"), game("alpha.m3"));
}

TEST_F(RobotTest, ACacheThatCannotBeDeletedNeverGeneratesASecondTurn) {
  folder.WriteGameSettings({{"Robot", "COMPUTER"}});  // every order always in
  Start();
  test::ImmutableFile stuck(folder.gameDir() + "/nextdl.txt");
  if (!stuck.held()) GTEST_SKIP() << stuck.why();
  At(13);
  robot.Timer1Timer();
  ASSERT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{
                                  "cache file not deleted: " + folder.gameDir() + "/nextdl.txt"});
  EXPECT_EQ(caches.deadlineCalls, 0);  // the old cache was read, not fetched anew
  for (int minute = 1; minute <= 3; ++minute) {
    At(13, minute);
    robot.Timer1Timer();
  }
  EXPECT_EQ(runner.commandLines.size(), 1u) << "the old turn's deadline was acted on";
  EXPECT_EQ(dialogs.messages.size(), 1u) << "told once, not every minute";
  EXPECT_EQ(mailer.mails.size(), 1u);  // the one report
  EXPECT_TRUE(DeadlineCacheMarkedStale(records));
  {
    // Nor does a robot started again: the folder remembers the cache is the old turn's.
    RestartedRobot second(*this);
    EXPECT_EQ(runner.commandLines.size(), 1u) << "a restart acted on the old turn's deadline";
    EXPECT_TRUE(second.dialogs.messages.empty());
    EXPECT_TRUE(second.mailer.mails.empty());
  }

  // The host deletes it: the new turn's deadline is fetched and counts.
  stuck.Release();
  ASSERT_TRUE(DeleteFileQuiet(folder.gameDir() + "/nextdl.txt"));
  caches.nextDeadline = "2026-12-07 13:30:00";
  robot.Timer1Timer();
  EXPECT_EQ(caches.deadlineCalls, 1);
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_FALSE(DeadlineCacheMarkedStale(records));
  caches.nextDeadline = "2026-12-07 15:00:00";  // the turn after it
  At(13, 31);
  robot.Timer1Timer();
  EXPECT_EQ(runner.commandLines.size(), 2u);
}

TEST_F(RobotTest, NoPlayersMeansEveryOrderIsIn) {
  folder.WriteGameSettings({});
  Start();
  At(13);
  robot.Timer1Timer();
  // Ready before the turn, and the new turn at once (nobody's orders to wait for).
  EXPECT_EQ(sound.played.size(), 2u);
  ASSERT_EQ(mailer.mails.size(), 1u);  // the report only
  EXPECT_EQ(mailer.mails[0].name, "alpha human host");
  EXPECT_EQ(published("alpha.hst"), game("alpha.hst"));
  EXPECT_FALSE(FileExists(folder.pubGameDir() + "/alpha.m1"));
}

TEST_F(RobotTest, ThirteenPlayersRaiseTheRangeErrorBeforeAnythingIsPublished) {
  folder.WriteGameSettings({{"Ann", "ann@x"}});
  Start();
  records.game.playerCount = 13;  // as a refresh that failed on row 13 leaves it
  for (int n = 1; n <= 12; ++n) records.game.player(n) = {"P", "COMPUTER", 0, {}};
  EXPECT_THROW(robot.Button1Click(), ERangeError);  // judging the game's files reaches row 13
  EXPECT_FALSE(FileExists(folder.pubGameDir() + "/alpha.m1"));
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

namespace ventari::test {
namespace {

TEST_F(RobotTest, ALookAfterAFileChangedJudgesTheSettingsAndCachesJustWritten) {
  folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}});
  Start();
  At(11);
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "incomplet");
  // The league moved the deadline back and the host renamed Bob: both count at once.
  folder.WriteDeadlineCache("2026-12-07 10:00:00");
  folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bobby", "bob@x"}});
  robot.FileChanged();
  EXPECT_EQ(view.line(WindowLine::State), "en retard");
  EXPECT_EQ(records.monitor.lateText, "1(Ann)3(Bobby)");
  // And a turn that became due is generated by that look.
  Orders({1, 3});
  robot.FileChanged();
  EXPECT_EQ(runner.commandLines.size(), 1u);
}

}  // namespace
}  // namespace ventari::test
