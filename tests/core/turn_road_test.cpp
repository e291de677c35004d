// One whole turn on a real temporary game folder with the real outside programs: the stand-in
// game executable, the year tool, and a sendmail that stores each message.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>
#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/game/cache_makers.h"
#include "core/game/records.h"
#include "core/robot/robot.h"
#include "core/robot/tick.h"
#include "core/turn/backup.h"
#include "core/turn/generation.h"
#include "core/turn/refresh.h"
#include "core/turn/turn_journal.h"
#include "core/turn/year_tool.h"
#include "mail/sendmail_mailer.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/fakes.h"
#include "tests/support/fs_faults.h"
#include "tests/support/game_folder.h"
#include "tests/support/stars_game.h"
#include "tests/support/wait.h"

namespace ventari {
namespace {

using test::GameFolder;
using test::ReadFile;
using test::WriteFile;

class FixedDeadline : public DeadlineCacheMaker {
 public:
  explicit FixedDeadline(const GameFolder& folder) : m_folder(folder) {}
  bool FetchDeadlineCache() override {
    ++calls;
    WriteFile(m_folder.gameDir() + "/nextdl.txt", "2030-01-01 12:00:00\r\n");
    return true;
  }
  int calls = 0;

 private:
  const GameFolder& m_folder;
};

std::vector<std::string> Outbox(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// A host's installation with the real game stand-in, year tool and a sendmail that stores
// each message in the outbox.
class TurnRoad : public ::testing::Test {
 protected:
  TurnRoad() {
    std::setlocale(LC_TIME, "C");
    folder.WriteHostSettings();
    folder.WriteGameSettings({{"Ann", "ann@x.org"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x.org"}});
    // The real programs: the game executable and the year tool.
    std::filesystem::remove(folder.binDir() + "/stars.exe");
    std::filesystem::create_symlink(test::BinDir() + "/starsgen", folder.binDir() + "/stars.exe");
    std::filesystem::create_symlink(test::BinDir() + "/staryear",
                                    folder.gameRoot() + "/staryear.EXE");
    ::mkdir(folder.gameDir().c_str(), 0777);
    InGame(" --new alpha.hst --players 3");
    folder.WriteDeadlineCache("2026-12-07 12:00:00");
    ::mkdir(outbox.c_str(), 0777);
    WriteFile(
        folder.root() + "/sendmail",
        "#!/bin/sh\nn=$(ls \"" + outbox + "\" | wc -l)\ncat > \"" + outbox + "/mail-$n.eml\"\n");
    test::MakeExecutable(folder.root() + "/sendmail");
  }

  // Runs starsgen with the arguments in the per-game folder, as a player's client would.
  void InGame(const std::string& arguments) {
    test::ScopedCurrentDir inGame(folder.gameDir());
    ASSERT_TRUE(runner.RunProgram(test::BinDir() + "/starsgen" + arguments, true));
  }
  void Orders(std::initializer_list<int> rows) {
    for (int n : rows) InGame(" --orders alpha.hst --player " + std::to_string(n));
  }
  // The game executable becomes a script around the stand-in.
  void GameScript(const std::string& body) {
    const std::string exe = folder.binDir() + "/stars.exe";
    std::filesystem::remove(exe);
    WriteFile(exe, "#!/bin/sh\n" + body + "\n");
    test::MakeExecutable(exe);
  }
  std::string Starsgen() const { return test::BinDir() + "/starsgen"; }
  int HostTurn() const { return test::TurnOf(folder.gameDir() + "/alpha.hst"); }

  GameFolder folder;
  test::ScopedCurrentDir cwd{folder.root()};
  const std::string outbox = folder.root() + "/outbox";
  ProgramRecords records;
  test::RecordingView view;
  test::ScriptedDialogs dialogs;
  EndFlag app;
  test::FakeClock clock;
  test::FakeSound sound;
  PosixProgramRunner runner;
  SendmailMailer mailer{dialogs, folder.root() + "/sendmail"};
  FixedDeadline deadline{folder};
  YearTool year{records, runner, dialogs, app};
  RefreshCycle refresh{records, view, dialogs, app, clock, deadline, year};
  Generation generation{records, runner, mailer, dialogs, app, clock, "http://league.test/"};
  SurveillanceTick tick{records, view, sound, clock, mailer, refresh};
  Robot robot{records, app, dialogs, refresh, tick, generation};
};

TEST_F(TurnRoad, AGenerationWithTheRealProgramsPublishesAndMailsEachTurnFile) {
  Orders({1, 3});
  robot.FormCreate();
  EXPECT_EQ(view.line(WindowLine::Year), "2400");  // the year tool read turn 0
  clock.now = *TryEncodeDateTime({2026, 12, 7, 13, 0, 0});
  robot.Timer1Timer();

  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(dialogs.mailErrors.empty());
  EXPECT_EQ(view.line(WindowLine::Year), "2401");  // rebuilt from the new host file
  EXPECT_EQ(deadline.calls, 1);
  EXPECT_FALSE(FileExists(folder.gameDir() + "/alpha.x1"));  // the game took the orders
  for (const char* name : {"alpha.m1", "alpha.m2", "alpha.m3", "alpha.hst"})
    EXPECT_EQ(ReadFile(folder.pubGameDir() + "/" + name), ReadFile(folder.gameDir() + "/" + name))
        << name;

  for (int e : dialogs.mailErrors) ADD_FAILURE() << "mail error " << e;
  const auto mails = Outbox(outbox);
  ASSERT_EQ(mails.size(), 3u);
  const auto ann = test::ParseMail(ReadFile(mails[0]));
  EXPECT_EQ(ann.at("to_address"), "ann@x.org");
  EXPECT_EQ(ann.at("subject"), "alpha année 2400");
  EXPECT_EQ(ann.at("attachment_name"), "alpha.m1");
  EXPECT_EQ(ann.at("attachment_bytes"), ReadFile(folder.gameDir() + "/alpha.m1"));
  EXPECT_NE(ann.at("body").find("Prochaine DL dans 48heures.\n\nConsultez "), std::string::npos);
  const auto bob = test::ParseMail(ReadFile(mails[1]));
  EXPECT_EQ(bob.at("to_name"), "Bob");
  EXPECT_EQ(bob.at("attachment_bytes"), ReadFile(folder.gameDir() + "/alpha.m3"));
  const auto report = test::ParseMail(ReadFile(mails[2]));
  EXPECT_EQ(report.at("to_address"), "host@example.org");
  EXPECT_EQ(report.at("subject"), "Ventari : jeu alpha année 2400");
  EXPECT_EQ(report.at("attachment_count"), "0");

  robot.Timer1Timer();  // the orders are gone: no second generation
  EXPECT_EQ(Outbox(outbox).size(), 3u);
  EXPECT_EQ(view.line(WindowLine::State), "incomplet");
}

TEST_F(TurnRoad, OnlyAGameThatGeneratedTheTurnCounts) {
  Orders({1, 3});
  robot.FormCreate();
  clock.now = *TryEncodeDateTime({2026, 12, 7, 13, 0, 0});

  // The game failed without a word and with exit status 0.
  GameScript("exit 0");
  robot.Timer1Timer();
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Stars! turn not generated !!!"});
  EXPECT_TRUE(app.EndRequested());
  EXPECT_EQ(HostTurn(), 0);
  ASSERT_EQ(Outbox(outbox).size(), 1u);
  const auto notice = test::ParseMail(ReadFile(Outbox(outbox)[0]));
  EXPECT_EQ(notice.at("to_address"), "host@example.org");
  EXPECT_EQ(notice.at("subject"), "ERREUR Ventari : jeu alpha");
  EXPECT_FALSE(FileExists(folder.pubGameDir() + "/alpha.hst"));
  EXPECT_TRUE(FileExists(folder.gameDir() + "/nextdl.txt"));
  EXPECT_TRUE(FileExists(folder.gameDir() + "/curyear.txt"));
}

TEST_F(TurnRoad, AGameThatForgetsAPlayersTurnFileDidNotGenerate) {
  Orders({1, 3});
  robot.FormCreate();
  clock.now = *TryEncodeDateTime({2026, 12, 7, 13, 0, 0});
  const std::string before = ReadFile(folder.gameDir() + "/alpha.hst");
  GameScript("\"" + Starsgen() + "\" \"$@\" && rm alpha.m3");
  robot.Timer1Timer();
  // The files are put back from the backup: the next try starts from the same turn.
  EXPECT_EQ(ReadFile(folder.gameDir() + "/alpha.hst"), before);
  EXPECT_TRUE(FileExists(folder.gameDir() + "/alpha.x1"));
  EXPECT_EQ(test::TurnOf(folder.gameDir() + "/alpha.m3"), 0);
  EXPECT_TRUE(FileExists(folder.gameDir() + "/backup/2400/alpha.hst"));
  EXPECT_FALSE(FileExists(folder.gameDir() + "/ventari-turn.journal"));
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Stars! turn not generated !!!"});
  EXPECT_EQ(Outbox(outbox).size(), 1u);  // the notice, no player mail
  EXPECT_FALSE(FileExists(folder.pubGameDir() + "/alpha.m1"));
}

TEST_F(TurnRoad, TheGamesExitStatusIsNotJudged) {
  Orders({1, 3});
  robot.FormCreate();
  clock.now = *TryEncodeDateTime({2026, 12, 7, 13, 0, 0});
  GameScript("\"" + Starsgen() + "\" \"$@\"\nexit 3");
  robot.Timer1Timer();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(app.EndRequested());
  EXPECT_EQ(HostTurn(), 1);
  EXPECT_EQ(Outbox(outbox).size(), 3u);
  EXPECT_EQ(view.line(WindowLine::Year), "2401");
}

TEST_F(TurnRoad, StaleOrMisplacedOrderFilesLeaveThePlayerLate) {
  robot.FormCreate();
  clock.now = *TryEncodeDateTime({2026, 12, 7, 11, 0, 0});
  Orders({1});
  // Bob's client saved his orders as row 1's file: wrong player for row 3.
  std::filesystem::copy_file(folder.gameDir() + "/alpha.x1", folder.gameDir() + "/alpha.x3");
  robot.Timer1Timer();
  EXPECT_EQ(records.monitor.lateText, "3(Bob)");
  Orders({3});
  robot.Timer1Timer();
  EXPECT_EQ(records.monitor.lateText, "");
  EXPECT_EQ(view.line(WindowLine::State), "prêt à générer");
}

}  // namespace
}  // namespace ventari

namespace ventari {
namespace {

std::string Pids(const std::string& file) { return test::ReadFile(file); }

TEST_F(TurnRoad, AGameThatHangsIsEndedAtItsTimeLimitAndTheFilesComeBack) {
  Orders({1, 3});
  robot.FormCreate();
  const auto before = test::FolderFiles(folder.gameDir());
  // The game writes half a turn, starts a helper of its own, and hangs.
  const std::string pids = folder.root() + "/pids";
  GameScript("echo $$ > '" + pids + "'\nsleep 1000 &\necho $! >> '" + pids +
             "'\necho damaged > alpha.hst\necho new > alpha.m9\nwait");
  Generation limited{
      records, runner, mailer, dialogs, app, clock, "http://league.test/", std::chrono::seconds(1)};
  const TurnOutcome outcome = limited.Run();
  EXPECT_EQ(outcome.kind, TurnOutcome::Kind::kFailed);
  EXPECT_EQ(outcome.failure, "Stars! EXE ran past its time limit !!!");
  ASSERT_EQ(Outbox(outbox).size(), 1u);
  EXPECT_EQ(test::ParseMail(ReadFile(Outbox(outbox)[0])).at("subject"),
            "ERREUR Ventari : jeu alpha");
  auto after = test::FolderFiles(folder.gameDir());
  EXPECT_EQ(after, before) << "the game's files put back byte for byte";
  std::istringstream list(Pids(pids));
  int pid = 0;
  int count = 0;
  while (list >> pid) {
    ++count;
    // Reaping an orphan may take its new parent a moment.
    EXPECT_TRUE(test::WaitUntil([pid] { return test::ProcessGone(pid); }))
        << "process " << pid << " of the game stayed behind";
  }
  EXPECT_EQ(count, 2);
}

TEST_F(TurnRoad, NoBackupNoGame) {
  Orders({1, 3});
  robot.FormCreate();
  WriteFile(folder.gameDir() + "/backup", "a plain file where the backups go");
  const auto before = test::FolderFiles(folder.gameDir());
  const std::string ran = folder.root() + "/ran";
  GameScript("touch '" + ran + "'");
  robot.Button1Click();
  EXPECT_FALSE(FileExists(ran)) << "the game ran without a backup";
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("backup not made in " + folder.gameDir() + "/backup"),
            std::string::npos)
      << dialogs.messages[0];
  EXPECT_TRUE(app.EndRequested());
  EXPECT_EQ(Outbox(outbox).size(), 1u);  // the failure notice
  EXPECT_EQ(test::FolderFiles(folder.gameDir()), before);
}

TEST_F(TurnRoad, BackupsAreKeptPerYearAndRestoreByteForByte) {
  Orders({1, 3});
  WriteFile(folder.gameDir() + "/notes.txt", "the host's own file");
  const std::string first = MakeGameBackup(folder.gameDir(), "alpha", "2400");
  const std::string second = MakeGameBackup(folder.gameDir(), "alpha", "2400");
  EXPECT_EQ(first, folder.gameDir() + "/backup/2400");
  EXPECT_EQ(second, folder.gameDir() + "/backup/2400-2");
  EXPECT_EQ(ListGameBackups(folder.gameDir()), (std::vector<std::string>{"2400", "2400-2"}));
  EXPECT_EQ(GameFileNames(first, "alpha"),
            (std::vector<std::string>{"alpha.hst", "alpha.m1", "alpha.m2", "alpha.m3", "alpha.x1",
                                      "alpha.x3"}));
  EXPECT_FALSE(FileExists(first + "/nextdl.txt"));  // caches and other files are not the game's
  EXPECT_FALSE(FileExists(first + "/notes.txt"));

  const auto before = test::FolderFiles(folder.gameDir());
  InGame(" -g alpha.hst");
  WriteFile(folder.gameDir() + "/alpha.m7", "new");
  EXPECT_NE(test::FolderFiles(folder.gameDir()), before);
  RestoredFiles restored = RestoreGameBackup(first, folder.gameDir(), "alpha");
  EXPECT_EQ(test::FolderFiles(folder.gameDir()), before);
  EXPECT_TRUE(restored.kept.empty());

  // A player's correction uploaded while the game ran (and a late player's first file) is the
  // player's latest word: put back, the backup's older orders would be played instead. An order
  // file of another turn is stale, and the backup's goes back.
  InGame(" -g alpha.hst");
  stars::FileHeader host0;
  ASSERT_TRUE(stars::ReadHostHeader(first + "/alpha.hst", host0));
  auto ordersOf = [&](int row, int turn) {
    return test::GameHeader(stars::kOrderFile, static_cast<std::uint16_t>(turn), row - 1,
                            host0.gameId);
  };
  const std::string x1 = folder.gameDir() + "/alpha.x1";
  test::WriteGameFile(x1, ordersOf(1, host0.turn), "corrected orders");
  const std::string corrected = ReadFile(x1);
  test::WriteGameFile(folder.gameDir() + "/alpha.x2", ordersOf(2, host0.turn), "late orders");
  const std::string late = ReadFile(folder.gameDir() + "/alpha.x2");
  test::WriteGameFile(folder.gameDir() + "/alpha.x3", ordersOf(3, host0.turn + 1));
  test::WriteGameFile(folder.gameDir() + "/alpha.x4", ordersOf(4, host0.turn + 1));
  restored = RestoreGameBackup(first, folder.gameDir(), "alpha");
  EXPECT_EQ(restored.kept, (std::vector<std::string>{"alpha.x1", "alpha.x2"}));
  EXPECT_EQ(ReadFile(x1), corrected);
  EXPECT_EQ(ReadFile(folder.gameDir() + "/alpha.x2"), late);
  EXPECT_EQ(ReadFile(folder.gameDir() + "/alpha.x3"), before.at("alpha.x3"));
  EXPECT_FALSE(FileExists(folder.gameDir() + "/alpha.x4"));
  EXPECT_EQ(ReadFile(folder.gameDir() + "/alpha.hst"), before.at("alpha.hst"));
  EXPECT_FALSE(FileExists(folder.gameDir() + "/alpha.m7"));
  // The backup's own bytes, or no file at all: put back.
  WriteFile(x1, before.at("alpha.x1"));
  std::filesystem::remove(folder.gameDir() + "/alpha.x2");
  restored = RestoreGameBackup(first, folder.gameDir(), "alpha");
  EXPECT_TRUE(restored.kept.empty());
  EXPECT_EQ(test::FolderFiles(folder.gameDir()), before);

  test::SmallDisk disk(64 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  std::filesystem::copy(folder.gameDir() + "/alpha.hst", disk.path() + "/alpha.hst");
  disk.Fill();
  EXPECT_THROW(MakeGameBackup(disk.path(), "alpha", "2400"), BackupError);
  EXPECT_TRUE(ListGameBackups(disk.path()).empty()) << "a backup is complete or absent";
}

// The journal of a generation cut off at each step, as a killed robot leaves it.
class ResumedTurn : public TurnRoad {
 protected:
  ResumedTurn() {
    Orders({1, 3});
    WriteFile(folder.gameDir() + "/curyear.txt", "2400\r\n");
    backup = MakeGameBackup(folder.gameDir(), "alpha", "2400");
    journal.backupDir = backup;
    journal.yearText = "2400";
    clock.now = *TryEncodeDateTime({2026, 12, 7, 11, 0, 0});
  }
  void Leave() { WriteJournal(folder.gameDir() + "/ventari-turn.journal", journal); }
  std::vector<std::string> Recipients() {
    std::vector<std::string> to;
    for (const std::string& mail : Outbox(outbox))
      to.push_back(test::ParseMail(ReadFile(mail)).at("to_address"));
    return to;
  }

  std::string backup;
  TurnJournal journal;
};

TEST_F(ResumedTurn, AGameThatFinishedIsDistributedOnce) {
  InGame(" -g alpha.hst");  // the game ran to its end; the robot died before judging it
  Leave();
  robot.FormCreate();
  EXPECT_EQ(Recipients(), (std::vector<std::string>{"ann@x.org", "bob@x.org", "host@example.org"}));
  EXPECT_EQ(HostTurn(), 1);
  EXPECT_FALSE(FileExists(folder.gameDir() + "/ventari-turn.journal"));
  EXPECT_EQ(ReadFile(folder.pubGameDir() + "/alpha.m3"), ReadFile(folder.gameDir() + "/alpha.m3"));
  EXPECT_EQ(view.line(WindowLine::Year), "2401");
  EXPECT_EQ(deadline.calls, 1);
  robot.Timer1Timer();
  robot.Button1Click();  // the host's click starts the next turn only once it is asked for
  EXPECT_EQ(HostTurn(), 2);
  EXPECT_EQ(Outbox(outbox).size(), 6u);
}

TEST_F(ResumedTurn, TheMailsNotYetSentGoOutAndNothingElse) {
  InGame(" -g alpha.hst");
  std::filesystem::create_directories(folder.pubGameDir());
  for (const char* name : {"alpha.hst", "alpha.m1", "alpha.m2", "alpha.m3"})
    std::filesystem::copy_file(folder.gameDir() + "/" + name, folder.pubGameDir() + "/" + name);
  journal.gameDone = true;
  journal.published = true;
  journal.mailed = {1};
  Leave();
  robot.FormCreate();
  EXPECT_EQ(Recipients(), (std::vector<std::string>{"bob@x.org", "host@example.org"}));
  // A journal of an older robot names no round: its mails keep the ids they had.
  EXPECT_NE(ReadFile(Outbox(outbox)[0]).find("Message-Id: <turn.3.2400.alpha.ventari@"),
            std::string::npos);
  EXPECT_EQ(HostTurn(), 1);
  journal.mailed = {1, 3};
  journal.reported = true;
  Leave();
  robot.Timer1Timer();  // a journal found by a tick: only the caches and the refresh were left
  EXPECT_EQ(Outbox(outbox).size(), 2u);
  EXPECT_EQ(HostTurn(), 1);
  EXPECT_FALSE(FileExists(folder.gameDir() + "/ventari-turn.journal"));
}

TEST_F(ResumedTurn, AGameThatDidNotFinishIsUndoneAndTheTurnIsGeneratedAgain) {
  WriteFile(folder.gameDir() + "/alpha.hst", "half written");
  WriteFile(folder.gameDir() + "/alpha.m1", "half written");
  std::filesystem::remove(folder.gameDir() + "/alpha.x1");
  Leave();
  robot.FormCreate();
  EXPECT_TRUE(Outbox(outbox).empty());
  EXPECT_EQ(HostTurn(), 0);
  EXPECT_EQ(test::FolderFiles(backup), test::FolderFiles(folder.gameDir(), "alpha."));
  EXPECT_FALSE(FileExists(folder.gameDir() + "/ventari-turn.journal"));
  clock.now = *TryEncodeDateTime({2026, 12, 7, 13, 0, 0});
  robot.Timer1Timer();  // every order is back: the turn is generated, once
  EXPECT_EQ(HostTurn(), 1);
  EXPECT_EQ(Outbox(outbox).size(), 3u);
}

}  // namespace
}  // namespace ventari
