// One turn, exactly once: clicks queued during a generation, a second robot, a journal that
// cannot be written or read, a publication that fails, mails that fail, a restore cut short and
// errors in the middle of a turn.

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "core/host/restore_command.h"
#include "core/turn/backup.h"
#include "core/turn/turn_journal.h"
#include "platform/folder_lock.h"
#include "tests/core/robot_fixture.h"
#include "tests/support/captured_stderr.h"

namespace ventari {
namespace {

using test::ReadFile;
using test::RestartedRobot;
using test::WriteFile;

class ExactlyOnce : public test::RobotTest {
 protected:
  ExactlyOnce() {
    folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}});
    Start();
    Orders({1, 3});
    At(13);
  }
  int HostTurn() const { return test::TurnOf(stem() + ".hst"); }
  void Later(int seconds) { clock.now += seconds / 86400.0; }
  std::string JournalFile() const { return folder.gameDir() + "/ventari-turn.journal"; }
  std::vector<std::string> Subjects() const {
    std::vector<std::string> subjects;
    for (const auto& mail : mailer.mails) subjects.push_back(mail.address + ": " + mail.subject);
    return subjects;
  }
};

TEST_F(ExactlyOnce, AClickQueuedDuringTheGenerationIsDropped) {
  std::optional<Robot::EventTime> clickedWhileFrozen;
  runner.start = [&](const std::string&) {
    clickedWhileFrozen = std::chrono::steady_clock::now();  // the host clicks again meanwhile
    test::GenerateTurn(stem(), 3);
    return true;
  };
  robot.Button1Click(std::chrono::steady_clock::now());
  ASSERT_EQ(HostTurn(), 6);
  // Delivered once the window thaws: older than the generation's end, so dropped.
  robot.Button1Click(clickedWhileFrozen);
  EXPECT_EQ(HostTurn(), 6);
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(mailer.mails.size(), 3u);
  // A click made after the end is the host's next wish.
  robot.Button1Click(std::chrono::steady_clock::now());
  EXPECT_EQ(HostTurn(), 7);
}

TEST_F(ExactlyOnce, ASecondRobotOnTheSameGameEndsAtStartAndRestoreRefuses) {
  ProgramRecords records2;
  test::ScriptedDialogs dialogs2;
  EndFlag app2;
  RefreshCycle refresh2{records2, view, dialogs2, app2, clock, caches, caches};
  Generation generation2{records2, runner, mailer, dialogs2, app2, clock, "http://x/"};
  SurveillanceTick tick2{records2, view, sound, clock, mailer, refresh2};
  Robot second{records2, app2, dialogs2, refresh2, tick2, generation2};
  second.FormCreate();
  EXPECT_EQ(
      dialogs2.messages,
      std::vector<std::string>{"another Ventari robot runs on the game folder " + folder.gameDir() +
                               " (process " + std::to_string(::getpid()) + ") !!!"});
  EXPECT_TRUE(app2.EndRequested());
  second.Button1Click();
  EXPECT_TRUE(runner.commandLines.empty()) << "the second robot generated";

  const std::optional<FolderLock::Held> holder = FolderLock::Holder(folder.gameDir());
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->pid, ::getpid());
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RestoreCommand("2405", out, err), 1);
  EXPECT_NE(err.str().find("stop it before --restore"), std::string::npos) << err.str();

  robot.Timer1Timer();  // the first robot goes on
  EXPECT_EQ(HostTurn(), 6);
  robot.ReleaseGameLock();
  EXPECT_FALSE(FolderLock::Holder(folder.gameDir()));
}

// Stands for the runner while the journal's folder refuses every write: the game is never
// released.
class JournalBreakingRunner : public test::ScriptedRunner {
 public:
  explicit JournalBreakingRunner(std::string journal) : m_journal(std::move(journal)) {}
  ProgramOutcome RunProgramWithin(const std::string& commandLine, std::chrono::milliseconds limit,
                                  const StartedHook& started) override {
    std::filesystem::remove(m_journal);
    std::filesystem::create_directories(m_journal + "/in-the-way");
    return test::ScriptedRunner::RunProgramWithin(commandLine, limit, started);
  }

 private:
  std::string m_journal;
};

TEST_F(ExactlyOnce, NoGameRunsUnlessTheJournalHoldsIt) {
  JournalBreakingRunner breaking(JournalFile());
  bool gameRan = false;
  breaking.start = [&](const std::string&) { return gameRan = true; };
  Generation generation2{records, breaking, mailer, dialogs, app, clock, "http://x/"};
  const std::string before = ReadFile(stem() + ".hst");
  const TurnOutcome outcome = generation2.Run();
  EXPECT_FALSE(gameRan);
  EXPECT_EQ(ReadFile(stem() + ".hst"), before);
  ASSERT_EQ(Subjects(), std::vector<std::string>{"host@example.org: ERREUR Ventari : jeu alpha"});
  EXPECT_EQ(outcome.kind, TurnOutcome::Kind::kFailed);
  EXPECT_TRUE(outcome.failure.starts_with("Stars! turn journal not written " + JournalFile()))
      << outcome.failure;
  EXPECT_EQ(GetCurrentDir(), folder.root());
}

TEST_F(ExactlyOnce, AFailedPublicationMailsNobodyAndIsDoneAgainAtTheNextStart) {
  WriteFile(folder.pubGameDir() + "/alpha.m1", "last turn's file");
  std::filesystem::create_directories(folder.pubGameDir() + "/alpha.m3/in-the-way");
  robot.Timer1Timer();
  EXPECT_EQ(HostTurn(), 6);
  ASSERT_EQ(Subjects(), std::vector<std::string>{"host@example.org: ERREUR Ventari : jeu alpha"});
  EXPECT_NE(mailer.mails[0].body->find(folder.pubGameDir() + "/alpha.m3"), std::string::npos)
      << *mailer.mails[0].body;
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Stars! turn files not published !!!"});
  EXPECT_TRUE(app.EndRequested());
  const std::optional<TurnJournal> journal = ReadJournal(JournalFile());
  ASSERT_TRUE(journal);
  EXPECT_TRUE(journal->gameDone);
  EXPECT_FALSE(journal->published);

  std::filesystem::remove_all(folder.pubGameDir() + "/alpha.m3");
  app = EndFlag();
  RestartedRobot restarted(*this);
  EXPECT_EQ(runner.commandLines.size(), 1u) << "the game ran again";
  std::vector<std::string> subjects;
  for (const auto& mail : restarted.mailer.mails)
    subjects.push_back(mail.address + ": " + mail.subject);
  EXPECT_EQ(subjects,
            (std::vector<std::string>{"ann@x: alpha année 2405", "bob@x: alpha année 2405",
                                      "host@example.org: Ventari : jeu alpha année 2405"}));
  EXPECT_EQ(ReadFile(folder.pubGameDir() + "/alpha.m1"), ReadFile(stem() + ".m1"));
  EXPECT_EQ(ReadFile(folder.pubGameDir() + "/alpha.m3"), ReadFile(stem() + ".m3"));
  EXPECT_FALSE(FileExists(JournalFile()));
}

TEST_F(ExactlyOnce, AFailedMailIsTriedAgainAMinuteLaterAndTheReportNamesWhoWasNotServed) {
  // Bob's mail fails once and then goes; a player whose mail always fails is named.
  int bobTries = 0;
  mailer.result = [&](const test::RecordingMailer::Mail& mail) {
    if (mail.address != "bob@x") return 0;
    return ++bobTries == 1 ? 2 : 0;
  };
  robot.Timer1Timer();
  EXPECT_EQ(Subjects(),
            (std::vector<std::string>{"ann@x: alpha année 2405", "bob@x: alpha année 2405"}));
  EXPECT_TRUE(FileExists(JournalFile()));
  // Looks within the minute (files arriving) spend no try.
  for (int look = 0; look < 5; ++look) {
    Later(10);
    robot.FileChanged();
  }
  EXPECT_EQ(bobTries, 1);
  Later(15);
  robot.Timer1Timer();
  EXPECT_EQ(bobTries, 2);
  ASSERT_EQ(mailer.mails.size(), 4u);
  EXPECT_EQ(*mailer.mails[3].body,
            "génération année 2405 faite, fichiers .M envoyés\n\r\n\rle robot Ventari de service.");
  // The retry is the same message as the failed try.
  EXPECT_EQ(mailer.mails[2].messageId, mailer.mails[1].messageId);
  EXPECT_NE(mailer.mails[1].messageId, mailer.mails[0].messageId);
  EXPECT_FALSE(FileExists(JournalFile()));
  EXPECT_EQ(runner.commandLines.size(), 1u);

  // Bob's mail never goes; the host's report fails twice, then goes.
  mailer.mails.clear();
  int reportTries = 0;
  mailer.result = [&](const test::RecordingMailer::Mail& mail) {
    if (mail.address == "host@example.org") return ++reportTries <= 2 ? 2 : 0;
    return mail.address == "bob@x" ? 2 : 0;
  };
  Later(60);
  robot.Button1Click(std::chrono::steady_clock::now());
  for (int tick = 0; tick < 12; ++tick) {
    Later(30);
    robot.Timer1Timer();
  }
  EXPECT_EQ(Subjects(),
            (std::vector<std::string>{"ann@x: alpha année 2406", "bob@x: alpha année 2406",
                                      "bob@x: alpha année 2406", "bob@x: alpha année 2406",
                                      "host@example.org: Ventari : jeu alpha année 2406",
                                      "host@example.org: Ventari : jeu alpha année 2406",
                                      "host@example.org: Ventari : jeu alpha année 2406"}));
  EXPECT_EQ(
      *mailer.mails.back().body,
      "génération année 2406 faite, fichiers .M envoyés\n\r\n\r"
      "sauf à 3(Bob) : fichier .M non envoyé après 3 essais\n\r\n\rle robot Ventari de service.");
  EXPECT_EQ(mailer.mails[6].messageId, mailer.mails[4].messageId);
  EXPECT_FALSE(FileExists(JournalFile()));
  EXPECT_EQ(runner.commandLines.size(), 2u);
}

TEST_F(ExactlyOnce, ATurnPlayedAgainIsANewMessageAndAMailTakenUpAfterAKillTheSameOne) {
  mailer.result = [](const test::RecordingMailer::Mail& mail) {
    return mail.address == "bob@x" ? 2 : 0;
  };
  robot.Timer1Timer();
  ASSERT_EQ(Subjects(),
            (std::vector<std::string>{"ann@x: alpha année 2405", "bob@x: alpha année 2405"}));
  const std::vector<std::string> first{mailer.mails[0].messageId, mailer.mails[1].messageId};
  EXPECT_EQ(first[0].rfind("turn.1.2405.alpha.2405_", 0), 0u) << first[0];

  // The robot is killed; the one started again reads the journal and tries Bob's mail again.
  Later(60);
  std::string report;
  {
    RestartedRobot restarted(*this);
    ASSERT_EQ(restarted.mailer.mails.size(), 2u);
    EXPECT_EQ(restarted.mailer.mails[0].messageId, first[1]);
    report = restarted.mailer.mails[1].messageId;
    EXPECT_EQ(report.rfind("report.0.2405.alpha.2405_", 0), 0u) << report;
    restarted.robot.ReleaseGameLock();
  }

  // The host puts the year back and it is played again: the players' servers must not take
  // the corrected turn files for copies of the first ones.
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(RestoreCommand("2405", out, err), 0) << err.str();
  caches.nextYear = "2405";
  caches.nextDeadline = "2026-12-07 12:00:00";
  RestartedRobot again(*this);
  again.robot.Button1Click();  // the restore paused the game: the host has it played
  EXPECT_EQ(HostTurn(), 6);
  ASSERT_EQ(again.mailer.mails.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string& id = again.mailer.mails[i].messageId;
    EXPECT_EQ(id.find(".2405.alpha.2405-2_"), id.find('.', id.find('.') + 1)) << id;
    EXPECT_NE(id, i < 2 ? first[i] : report);
  }
}

TEST_F(ExactlyOnce, ARestoreCutShortIsFinishedAndNeverDistributed) {
  // The game wrote the next turn; the robot judged it wrong, began putting the backup back
  // and died: the files look generated, the journal says they are being undone.
  TurnJournal journal;
  journal.oldTurn = 5;
  journal.backupDir = MakeGameBackup(folder.gameDir(), "alpha", "2405");
  journal.yearText = "2405";
  journal.restoring = true;
  test::GenerateTurn(stem(), 3);
  WriteJournal(JournalFile(), journal);
  robot.ReleaseGameLock();
  RestartedRobot restarted(*this);
  EXPECT_EQ(HostTurn(), 6) << "the restarted robot's tick generates the turn again, once";
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(mailer.mails.size(), 0u);
  EXPECT_EQ(restarted.mailer.mails.size(), 3u);
}

TEST_F(ExactlyOnce, ErrorsInTheMiddleOfATurnLeaveTheWorkingFolderAndShowRestoreErrorsFirst) {
  mailer.duringSend = [] { throw Exception("mail client gone"); };
  EXPECT_THROW(robot.Timer1Timer(), Exception);
  EXPECT_EQ(GetCurrentDir(), folder.root());
  mailer.duringSend = nullptr;
  robot.Timer1Timer();  // the journal finishes the turn; the next refresh finds ventari.def
  EXPECT_FALSE(FileExists(JournalFile()));
  EXPECT_FALSE(app.EndRequested());

  // A game that did not generate, and a backup that cannot be put back: the restore's error
  // is shown before the box that ends the robot.
  Orders({1, 3});
  runner.start = [&](const std::string&) {
    std::filesystem::remove_all(folder.gameDir() + "/backup");
    return true;
  };
  robot.Button1Click(std::chrono::steady_clock::now());
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_TRUE(dialogs.messages[0].starts_with("Stars! ")) << dialogs.messages[0];
  EXPECT_NE(dialogs.messages[0].find("backup"), std::string::npos) << dialogs.messages[0];
  EXPECT_EQ(dialogs.messages[1], "Stars! turn not generated !!!");
  EXPECT_TRUE(app.EndRequested());
  EXPECT_EQ(GetCurrentDir(), folder.root());
}

// A robot of its own started on the fixture's folder: records, boxes, mails and end request.
struct OwnRobot {
  explicit OwnRobot(test::RobotTest& t)
      : refresh{records, t.view, dialogs, app, t.clock, t.caches, t.caches},
        generation{records, t.runner, mailer, dialogs, app, t.clock, "http://x/"},
        tick{records, t.view, t.sound, t.clock, mailer, refresh},
        robot{records, app, dialogs, refresh, tick, generation} {
    robot.FormCreate();
  }
  ProgramRecords records;
  test::ScriptedDialogs dialogs;
  EndFlag app;
  test::RecordingMailer mailer;
  RefreshCycle refresh;
  Generation generation;
  SurveillanceTick tick;
  Robot robot;
};

TEST_F(ExactlyOnce, ARestoreThatFailedIsToldOnceAndTheStartThatFinishesItGoesOn) {
  // The game leaves a folder where the host file was: the backup cannot be put back.
  runner.start = [&](const std::string&) {
    std::filesystem::remove(stem() + ".hst");
    std::filesystem::create_directories(stem() + ".hst/in-the-way");
    return true;
  };
  robot.Timer1Timer();
  EXPECT_TRUE(app.EndRequested());
  ASSERT_EQ(Subjects(), std::vector<std::string>{"host@example.org: ERREUR Ventari : jeu alpha"});
  EXPECT_TRUE(FileExists(JournalFile()));
  robot.ReleaseGameLock();
  {
    // Started again with the folder still in the way: it ends again, without a second notice.
    OwnRobot second(*this);
    EXPECT_TRUE(second.app.EndRequested());
    EXPECT_TRUE(second.mailer.mails.empty());
    ASSERT_FALSE(second.dialogs.messages.empty());
    EXPECT_NE(second.dialogs.messages[0].find("restored"), std::string::npos)
        << second.dialogs.messages[0];
    second.robot.ReleaseGameLock();
  }
  // The host clears the way; the next start finishes the restore and goes on.
  std::filesystem::remove_all(stem() + ".hst");
  runner.start = [this](const std::string&) {
    test::GenerateTurn(stem(), 3);
    return true;
  };
  OwnRobot third(*this);
  EXPECT_FALSE(third.app.EndRequested());
  EXPECT_TRUE(third.mailer.mails.empty());
  EXPECT_FALSE(FileExists(JournalFile()));
  EXPECT_EQ(HostTurn(), 5);
  third.robot.Timer1Timer();  // the orders are back: the turn is generated, once
  EXPECT_EQ(HostTurn(), 6);
  EXPECT_EQ(third.mailer.mails.size(), 3u);
}

TEST_F(ExactlyOnce, ADamagedJournalIsShownOnceAndNothingIsGeneratedUntilTheHostActs) {
  WriteFile(JournalFile(), "old-turn five\r\n");
  test::CapturedStderr log;
  robot.Timer1Timer();
  robot.Timer1Timer();
  robot.Button1Click(std::chrono::steady_clock::now());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find(JournalFile()), std::string::npos);
  EXPECT_NE(dialogs.messages[0].find("--restore"), std::string::npos);
  EXPECT_TRUE(runner.commandLines.empty());
  // The host hears of it once, by mail too: the game stands still until he acts.
  ASSERT_EQ(Subjects(), std::vector<std::string>{"host@example.org: ERREUR Ventari : jeu alpha"});
  EXPECT_NE(mailer.mails[0].body->find(JournalFile()), std::string::npos);
  EXPECT_NE(mailer.mails[0].body->find("--restore"), std::string::npos);
  EXPECT_EQ(view.line(WindowLine::State), "devrait générer");  // the robot goes on watching
  EXPECT_NE(log.TakeLines().find("is damaged"), std::string::npos);
  {
    const RestartedRobot restarted(*this);  // not told again after a restart
    EXPECT_TRUE(restarted.mailer.mails.empty());
  }

  std::filesystem::remove(JournalFile());  // the host deals with it
  robot.Timer1Timer();
  EXPECT_EQ(HostTurn(), 6);
}

TEST(GameTimeLimit, OnlyANumberOfSecondsThatFitsIsTaken) {
  EXPECT_EQ(ReadGameTimeLimit(nullptr).limit, kDefaultGameTimeLimit);
  EXPECT_EQ(ReadGameTimeLimit("120").limit, std::chrono::seconds(120));
  EXPECT_TRUE(ReadGameTimeLimit("120").problem.empty());
  for (const char* refused : {"0", "-5", "abc", "12s", "604801", "99999999999999999999"}) {
    const GameTimeLimitSetting setting = ReadGameTimeLimit(refused);
    EXPECT_EQ(setting.limit, kDefaultGameTimeLimit) << refused;
    EXPECT_NE(setting.problem.find(refused), std::string::npos) << refused;
  }
}

}  // namespace
}  // namespace ventari
