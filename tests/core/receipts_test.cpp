// Receipts for the players' order files and the players' status page, kept by the tick.

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "core/players/order_receipts.h"
#include "core/players/status_publisher.h"
#include "tests/core/robot_fixture.h"
#include "tests/support/captured_stderr.h"

namespace ventari {
namespace {

using test::ReadFile;
using test::RobotTest;
using test::WriteFile;

class ReceiptsTest : public RobotTest {
 protected:
  ReceiptsTest() {
    folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}});
    At(11);  // before the deadline of 12:00: nothing is generated
  }
  // A robot with receipts and the status page, as the program puts it together.
  struct FullRobot {
    explicit FullRobot(ReceiptsTest& t, bool receiptsOn = true)
        : receipts(t.records, t.mailer, t.clock, "http://league.test/", receiptsOn),
          status(t.records),
          tick(t.records, t.view, t.sound, t.clock, t.mailer, t.refresh, nullptr, &t.dialogs,
               &receipts, &status),
          robot(t.records, t.app, t.dialogs, t.refresh, tick, t.generation) {
      robot.FormCreate();
    }
    OrderReceipts receipts;
    StatusPublisher status;
    SurveillanceTick tick;
    Robot robot;
  };
  std::vector<std::string> Subjects() const {
    std::vector<std::string> subjects;
    for (const auto& mail : mailer.mails) subjects.push_back(mail.address + " " + mail.subject);
    return subjects;
  }
  // The JSON without the blanks between its tokens.
  static std::string Compact(const std::string& json) {
    std::string out;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
      const char c = json[i];
      if (inString && c == '\\') {
        out += json.substr(i++, 2);
        continue;
      }
      if (c == '"') inString = !inString;
      if (inString || (c != ' ' && c != '\n')) out += c;
    }
    return out;
  }
  static void Age(const std::string& path, int seconds) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec - seconds, st.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
};

TEST_F(ReceiptsTest, EachContentsOfAnOrderFileGetsOneReceiptAcrossRestartsCopiesAndRestores) {
  {
    FullRobot full(*this);
    Orders({1});
    full.robot.Timer1Timer();
    ASSERT_EQ(mailer.mails.size(), 1u);
    EXPECT_EQ(mailer.mails[0].name, "Ann");
    EXPECT_EQ(mailer.mails[0].address, "ann@x");
    EXPECT_EQ(mailer.mails[0].subject, "alpha année 2405 : ordres reçus");
    EXPECT_EQ(*mailer.mails[0].body,
              "vos ordres de l'année 2405 sont arrivés : ils seront joués.\n\r\n\r"
              "DL : 2026-12-07 12:00:00\n\r\n\r"
              "Consultez http://league.test/ligue/travail/ventari.php?jeu=alpha\n\r\n\r"
              "Ventari Robot");
    EXPECT_FALSE(mailer.mails[0].attachmentPath);
    EXPECT_TRUE(mailer.mails[0].reply) << "an answer to the player's file";
    full.robot.Timer1Timer();
    EXPECT_EQ(mailer.mails.size(), 1u) << "the same file twice";
    // The same bytes as a new file (a copy, a restore of the backup): the same orders.
    const std::string bytes = ReadFile(stem() + ".x1");
    std::filesystem::remove(stem() + ".x1");
    WriteFile(stem() + ".x1", bytes);
    full.robot.Timer1Timer();
    EXPECT_EQ(mailer.mails.size(), 1u) << "a copy of the same orders receipted again";
    // Other orders (a second upload): a second receipt, its own message.
    test::WriteOrderFile(stem(), 1, "second thoughts");
    full.robot.Timer1Timer();
    ASSERT_EQ(mailer.mails.size(), 2u);
    EXPECT_NE(mailer.mails[1].messageId, mailer.mails[0].messageId);
    EXPECT_EQ(mailer.mails[1].messageId.rfind("receipt-", 0), 0u) << mailer.mails[1].messageId;
    // A file that goes away sends nothing.
    std::filesystem::remove(stem() + ".x1");
    full.robot.Timer1Timer();
    EXPECT_EQ(mailer.mails.size(), 2u);
    test::WriteOrderFile(stem(), 1, "third thoughts");
    full.robot.ReleaseGameLock();
  }
  mailer.mails.clear();
  {
    FullRobot full(*this);
    full.robot.Timer1Timer();
    EXPECT_EQ(mailer.mails.size(), 1u) << "the file written while no robot ran";
    full.robot.ReleaseGameLock();
  }
  {
    FullRobot again(*this);
    again.robot.Timer1Timer();
    EXPECT_EQ(mailer.mails.size(), 1u) << "a restart receipted the same file again";
    again.robot.ReleaseGameLock();
  }
  // Off: the files are judged, nobody is mailed.
  mailer.mails.clear();
  std::filesystem::remove(stem() + ".x1");
  FullRobot off(*this, false);
  Orders({1, 3});
  off.robot.Timer1Timer();
  EXPECT_TRUE(mailer.mails.empty());
  EXPECT_EQ(view.line(WindowLine::State), "prêt à générer");
}

TEST_F(ReceiptsTest, OrdersThatArriveOnceTheGameIsOverAreToldSo) {
  stars::FileHeader host;
  ASSERT_TRUE(stars::ReadHostHeader(stem() + ".hst", host));
  host.flags |= stars::kGameOverFlag;
  WriteFile(stem() + ".hst", stars::EncodeFileHeader(host) +
                                 ReadFile(stem() + ".hst").substr(stars::kHeaderBlockBytes));
  FullRobot full(*this);
  Orders({1});
  full.robot.Timer1Timer();
  ASSERT_EQ(mailer.mails.size(), 1u);
  EXPECT_EQ(mailer.mails[0].body->find("vos ordres de l'année 2405 sont arrivés, mais la partie "
                                       "est terminée : aucun tour ne sera plus joué."),
            0u)
      << *mailer.mails[0].body;
  EXPECT_EQ(mailer.mails[0].body->find("seront joués"), std::string::npos);
}

TEST_F(ReceiptsTest, AFileThatDoesNotCountIsRefusedWithItsReasonAndACutOneOnlyOnceSettled) {
  FullRobot full(*this);
  // Ann's file uploaded as Bob's.
  Orders({1});
  full.robot.Timer1Timer();
  mailer.mails.clear();
  std::filesystem::copy_file(stem() + ".x1", stem() + ".x3");
  // Last year's file for Ann.
  test::WriteGameFile(stem() + ".x1", test::GameHeader(stars::kOrderFile, 4, 0));
  full.robot.Timer1Timer();
  ASSERT_EQ(mailer.mails.size(), 2u) << ::testing::PrintToString(Subjects());
  EXPECT_EQ(mailer.mails[0].address, "ann@x");
  EXPECT_EQ(mailer.mails[0].subject, "alpha année 2405 : ordres refusés");
  const std::string& annBody = *mailer.mails[0].body;
  EXPECT_EQ(annBody.find("le fichier alpha.x1 reçu le "), 0u) << annBody;
  EXPECT_NE(annBody.find(" ne compte pas : fait pour l'année 2404.\n\r\n\r"
                         "renvoyez vos ordres de l'année 2405 avant la date limite "
                         "(DL : 2026-12-07 12:00:00).\n\r\n\r"
                         "Consultez http://league.test/ligue/travail/ventari.php?jeu=alpha"
                         "\n\r\n\rVentari Robot"),
            std::string::npos)
      << annBody;
  EXPECT_EQ(mailer.mails[1].address, "bob@x");
  EXPECT_NE(mailer.mails[1].body->find("ne compte pas : c'est le fichier du joueur 1."),
            std::string::npos)
      << *mailer.mails[1].body;

  // A cut upload: nothing while it may still be arriving, refused once it has stayed so.
  mailer.mails.clear();
  std::filesystem::remove(stem() + ".x3");
  Orders({3});
  const std::string good = ReadFile(stem() + ".x3");
  WriteFile(stem() + ".x3", good.substr(0, good.size() - 1));
  full.robot.Timer1Timer();
  EXPECT_TRUE(mailer.mails.empty()) << ::testing::PrintToString(Subjects());
  const auto again = full.receipts.LookAgainIn();
  ASSERT_TRUE(again);
  EXPECT_GT(*again, std::chrono::seconds(25));
  EXPECT_LE(*again, std::chrono::seconds(31));
  Age(stem() + ".x3", 31);
  full.robot.Timer1Timer();
  ASSERT_EQ(mailer.mails.size(), 1u);
  EXPECT_NE(mailer.mails[0].body->find("ne compte pas : fichier incomplet (envoi en cours ou "
                                       "coupé)."),
            std::string::npos);
  EXPECT_FALSE(full.receipts.LookAgainIn());
  full.robot.Timer1Timer();
  EXPECT_EQ(mailer.mails.size(), 1u);

  // Past the deadline, "before the deadline" would be false: the turn waits for his orders.
  At(13);
  test::WriteGameFile(stem() + ".x1", test::GameHeader(stars::kOrderFile, 3, 0));
  full.robot.Timer1Timer();
  ASSERT_EQ(mailer.mails.size(), 2u);
  EXPECT_NE(mailer.mails[1].body->find("la date limite est passée (DL : 2026-12-07 12:00:00) et "
                                       "le tour attend vos ordres : renvoyez vos ordres de "
                                       "l'année 2405 au plus vite."),
            std::string::npos)
      << *mailer.mails[1].body;
  EXPECT_EQ(mailer.mails[1].body->find("avant la date limite"), std::string::npos);
}

TEST_F(ReceiptsTest, NoReceiptToAComputerRowOrAnAddressTheMailCheckRefuses) {
  FullRobot full(*this);
  Orders({1, 2});
  full.robot.Timer1Timer();
  ASSERT_EQ(Subjects(), std::vector<std::string>{"ann@x alpha année 2405 : ordres reçus"})
      << "the computer row's file was receipted";
  // An address the settings check would stop first; the receipt checks it all the same, as a
  // list of addresses would make a second recipient.
  mailer.mails.clear();
  records.game.player(1).address = "ann@x, eve@y";
  test::WriteOrderFile(stem(), 1, "other orders");
  stars::FileHeader host;
  ASSERT_EQ(stars::ReadFileHeader(stem() + ".hst", host), stars::HeaderRead::kOk);
  OrderFileJudge judge;
  const stars::OrderJudgement judgement = judge.Judge(stem() + ".x1", host, 1);
  test::CapturedStderr log;
  for (int look = 0; look < 2; ++look)
    full.receipts.Look(1, stem() + ".x1", judge.JudgedVersion(1), judgement, host);
  EXPECT_TRUE(mailer.mails.empty());
  const std::string lines = log.TakeLines();
  const std::string said = "no receipt to player 1 (Ann): the address 'ann@x, eve@y'";
  EXPECT_NE(lines.find(said), std::string::npos) << lines;
  EXPECT_EQ(lines.find(said), lines.rfind(said)) << "said once";
}

TEST_F(ReceiptsTest, TheStatusPageFollowsTheTurnAndAFolderThatCannotBeWrittenStopsNothing) {
  FullRobot full(*this);
  Orders({1});
  WriteFile(stem() + ".x3", "not an order file");
  full.robot.Timer1Timer();
  const std::string json = Compact(ReadFile(folder.pubStatusDir() + "/status.json"));
  EXPECT_NE(json.find("\"state\":\"incomplet\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"row\":1,\"name\":\"Ann\",\"orders\":\"in\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"row\":2,\"name\":\"Robot\",\"orders\":\"computer\""), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"row\":3,\"name\":\"Bob\",\"orders\":\"refused\",\"reason\":\"ce n'est "
                      "pas un fichier d'ordres\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"year\":\"2405\""), std::string::npos) << json;
  EXPECT_EQ(json.find("ann@x"), std::string::npos) << "a mail address on the page";
  EXPECT_EQ(json.find(folder.root()), std::string::npos) << "a path of the host's machine";
  EXPECT_TRUE(FileExists(folder.pubStatusDir() + "/index.html"));

  // The turn generated: the page shows the new one at once.
  Orders({3});
  At(13);
  full.robot.Timer1Timer();
  ASSERT_EQ(runner.commandLines.size(), 1u);
  const std::string after = Compact(ReadFile(folder.pubStatusDir() + "/status.json"));
  EXPECT_NE(after.find("\"year\":\"2406\""), std::string::npos) << after;
  EXPECT_NE(after.find("\"state\":\"incomplet\""), std::string::npos) << after;
  EXPECT_EQ(after.find("\"last_generation\":null"), std::string::npos) << after;
  // The page's folder can be served alone: the turn files and the host file are not in it.
  std::vector<std::string> pageFolder;
  for (const auto& [name, bytes] : test::FolderFiles(folder.pubStatusDir()))
    pageFolder.push_back(name);
  EXPECT_EQ(pageFolder, (std::vector<std::string>{"index.html", "status.json"}));
  EXPECT_TRUE(FileExists(folder.pubGameDir() + "/alpha.m1"));
  EXPECT_TRUE(FileExists(folder.pubGameDir() + "/alpha.hst"));
  EXPECT_FALSE(FileExists(folder.pubGameDir() + "/status.json"));

  // A publication folder that is a file: said once, and the ticks go on.
  std::filesystem::remove_all(folder.pubGameDir());
  WriteFile(folder.pubGameDir(), "in the way");
  test::CapturedStderr log;
  Orders({1, 3});
  full.robot.Timer1Timer();
  full.robot.Timer1Timer();
  EXPECT_EQ(view.line(WindowLine::State), "prêt à générer");
  const std::string lines = log.TakeLines();
  const std::string said = "status page not written in " + folder.pubStatusDir() + ":";
  EXPECT_NE(lines.find(said), std::string::npos) << lines;
  EXPECT_EQ(lines.find(said), lines.rfind(said)) << "said once a turn";
}

}  // namespace
}  // namespace ventari
