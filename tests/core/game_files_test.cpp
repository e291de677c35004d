// The robot judging the game's files as the game reads them: order files cut short, made from
// another generation or only saved; a turn file the game cut; a game that is over.

#include <sys/stat.h>

#include "core/host/check_command.h"
#include "core/players/late_reminders.h"
#include "tests/core/robot_fixture.h"
#include "tests/support/captured_stderr.h"

namespace ventari {
namespace {

using test::ReadFile;
using test::WriteFile;

class RobotGameFiles : public test::RobotTest {
 protected:
  RobotGameFiles() {
    folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}});
    Start();
  }
  int HostTurn() const { return test::TurnOf(stem() + ".hst"); }
  std::string OrderFile(int row) const { return stem() + ".x" + std::to_string(row); }
  // Rewrites row's order file with its flags byte changed by `change`.
  void ChangeOrders(int row, const std::function<void(stars::FileHeader&)>& change) {
    stars::FileHeader header;
    ASSERT_EQ(stars::ReadFileHeader(OrderFile(row), header), stars::HeaderRead::kOk);
    change(header);
    test::WriteGameFile(OrderFile(row), header);
  }
};

TEST_F(RobotGameFiles, OnlyWholeOrdersOfThisGenerationCountAndSavedOnesAreSaidSo) {
  Orders({1, 3});
  const std::string whole = ReadFile(OrderFile(3));
  WriteFile(OrderFile(3), whole.substr(0, whole.size() - 1));  // an upload still going
  test::CapturedStderr log;
  At(13);
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "en retard");
  EXPECT_EQ(records.monitor.lateText, "3(Bob)");
  EXPECT_TRUE(runner.commandLines.empty());
  const std::string lines = log.TakeLines();
  EXPECT_NE(lines.find("orders refused: player 3 (Bob): " + OrderFile(3) + ": incomplete"),
            std::string::npos)
      << lines;

  // The upload ends: the same file, whole, is judged again and counts.
  WriteFile(OrderFile(3), whole);
  ChangeOrders(1, [](stars::FileHeader& h) { h.flags &= ~stars::kSubmittedFlag; });
  robot.Timer1Timer();
  EXPECT_EQ(HostTurn(), 6) << "whole orders, one of them only saved, are in";
  EXPECT_NE(
      log.TakeLines().find("orders in (saved, not submitted): player 1 (Ann): " + OrderFile(1)),
      std::string::npos);

  // Orders made from the turn file of another generation: the game would refuse them.
  At(11);
  Orders({1, 3});
  ChangeOrders(3, [](stars::FileHeader& h) { h.setGeneration(h.generation() + 1); });
  robot.Timer1Timer();
  EXPECT_EQ(records.monitor.lateText, "3(Bob)");
  EXPECT_NE(log.TakeLines().find("orders refused: player 3 (Bob): " + OrderFile(3) +
                                 ": other generation"),
            std::string::npos);
}

TEST_F(RobotGameFiles, ATurnFileTheGameCutIsAFailedGeneration) {
  Orders({1, 3});
  const std::string hostBefore = ReadFile(stem() + ".hst");
  runner.start = [&](const std::string&) {
    test::GenerateTurn(stem(), 3);
    const std::string turnFile = ReadFile(stem() + ".m3");
    WriteFile(stem() + ".m3", turnFile.substr(0, turnFile.size() - 2));  // the disk was full
    return true;
  };
  At(13);
  robot.Timer1Timer();
  EXPECT_EQ(runner.commandLines.size(), 1u);
  ASSERT_EQ(mailer.mails.size(), 1u) << "only the failure notice";
  EXPECT_EQ(mailer.mails[0].subject, "ERREUR Ventari : jeu alpha");
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Stars! turn not generated !!!"});
  EXPECT_EQ(ReadFile(stem() + ".hst"), hostBefore) << "the files are put back";
  EXPECT_TRUE(FileExists(OrderFile(3)));
}

TEST_F(RobotGameFiles, AHostFileCutShortIsNeverRun) {
  Orders({1, 3});
  const std::string whole = ReadFile(stem() + ".hst");
  WriteFile(stem() + ".hst", whole.substr(0, whole.size() - 1));
  At(13);
  robot.Timer1Timer();
  EXPECT_TRUE(runner.commandLines.empty()) << "no orders count without a whole host file";
  EXPECT_EQ(view.line(WindowLine::State), "en retard");
  robot.Button1Click(std::chrono::steady_clock::now());
  EXPECT_TRUE(runner.commandLines.empty());
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Stars! turn not generated !!!"});
}

TEST_F(RobotGameFiles, AGameThatIsOverGeneratesNoMoreAndRemindsNobody) {
  // The game's last generation wrote a host file saying so.
  runner.start = [&](const std::string&) {
    test::GenerateTurn(stem(), 3);
    stars::FileHeader host;
    EXPECT_TRUE(stars::ReadHostHeader(stem() + ".hst", host));
    host.flags |= stars::kGameOverFlag;
    WriteFile(stem() + ".hst", stars::EncodeFileHeader(host) +
                                   ReadFile(stem() + ".hst").substr(stars::kHeaderBlockBytes));
    return true;
  };
  test::CapturedStderr log;
  Orders({1, 3});
  At(13);
  robot.Timer1Timer();
  ASSERT_EQ(HostTurn(), 6);
  // The new turn was judged at once: over.
  EXPECT_EQ(view.line(WindowLine::State), "partie terminée");
  mailer.mails.clear();
  Orders({1, 3});
  clock.now = *TryEncodeDateTime({2031, 1, 1, 12, 0, 0});  // past the new deadline
  robot.Timer1Timer();
  robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "partie terminée");
  EXPECT_EQ(HostTurn(), 6);
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_TRUE(mailer.mails.empty());
  const std::string lines = log.TakeLines();
  const std::string said = "game over: the host file " + stem() + ".hst says so";
  EXPECT_NE(lines.find(said), std::string::npos) << lines;
  EXPECT_EQ(lines.find(said), lines.rfind(said)) << "said once";
  robot.Button1Click(std::chrono::steady_clock::now());
  EXPECT_EQ(HostTurn(), 6) << "not even on the host's click";
}

TEST_F(RobotGameFiles, ALatePlayersReminderSaysWhyHisFileDoesNotCount) {
  LateReminders reminders(records, mailer, clock, "http://league.test/", 24.0);
  At(11);
  reminders.Remind({3}, 5, {{3, OrderVerdictFrench(stars::OrderVerdict::kIncomplete)}});
  ASSERT_EQ(mailer.mails.size(), 1u);
  EXPECT_EQ(*mailer.mails[0].body,
            "vos ordres de l'année 2405 ne sont pas arrivés.\n\r\n\r"
            "le fichier alpha.x3 reçu ne compte pas : fichier incomplet (envoi en cours ou "
            "coupé).\n\r\n\r"
            "DL : 2026-12-07 12:00:00\n\r\n\r"
            "Consultez http://league.test/ligue/travail/ventari.php?jeu=alpha\n\r\n\r"
            "Ventari Robot");
}

}  // namespace
}  // namespace ventari
