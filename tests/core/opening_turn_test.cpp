// A game's first turn files: published and mailed once, at the first look of a game that never
// had them, across failures and restarts.

#include "core/players/opening_turn.h"

#include <filesystem>

#include "core/turn/forced_turn.h"
#include "tests/core/robot_fixture.h"

namespace ventari {
namespace {

class OpeningTurnTest : public test::RobotTest {
 public:
  OpeningTurnTest() {
    folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}});
    // The game as its creation leaves it: the host file and each player's turn file, turn 0.
    test::WriteHostFile(stem(), 0, "new game");
    for (int n = 1; n <= 3; ++n)
      test::WriteGameFile(stem() + ".m" + std::to_string(n),
                          test::GameHeader(stars::kTurnFile, 0, n - 1), "first turn");
    folder.WriteYearCache("2400");
    tick.SetOpening(&opening);
    At(9);  // the deadline three hours on
  }
  std::vector<std::string> FirstFilesTo(const test::RecordingMailer& sent) const {
    std::vector<std::string> to;
    for (const auto& mail : sent.mails)
      if (mail.body && mail.body->starts_with("la partie alpha commence"))
        to.push_back(mail.address);
    return to;
  }
  OpeningTurn opening{records, mailer, clock, "http://league.test/"};
};

TEST_F(OpeningTurnTest, EachHumanGetsHisFirstFileOnceAcrossFailuresAndRestarts) {
  // Bob's mail fails once: it is tried again a minute on, never Ann's.
  int bobTries = 0;
  mailer.result = [&](const test::RecordingMailer::Mail& mail) {
    return mail.address == "bob@x" && ++bobTries == 1 ? 1 : 0;
  };
  Start();
  robot.Timer1Timer();
  for (const char* name : {"alpha.m1", "alpha.m2", "alpha.m3", "alpha.hst"})
    EXPECT_EQ(published(name), game(name)) << name;
  ASSERT_EQ(FirstFilesTo(mailer), (std::vector<std::string>{"ann@x", "bob@x"}));
  const auto& ann = mailer.mails[0];
  EXPECT_EQ(ann.subject, "alpha année 2400");
  EXPECT_EQ(ann.attachmentName, "alpha.m1");
  EXPECT_EQ(test::ReadFile(NativePath(*ann.attachmentPath)), game("alpha.m1"));
  EXPECT_NE(ann.body->find("\n\r\n\rProchaine DL dans 3heures.\n\r\n\r"), std::string::npos)
      << *ann.body;
  robot.Timer1Timer();  // within the minute: no new try
  EXPECT_EQ(mailer.mails.size(), 2u);

  // A restart finds the round under way: Bob's try is due, Ann's file went.
  clock.now = clock.now + 2.0 / 1440;
  test::RestartedRobot again(*this);
  OpeningTurn restarted{again.records, again.mailer, clock, "http://x/"};
  again.tick.SetOpening(&restarted);
  again.robot.Timer1Timer();
  again.robot.Timer1Timer();
  EXPECT_EQ(FirstFilesTo(again.mailer), (std::vector<std::string>{"bob@x"}));
  EXPECT_EQ(again.mailer.mails[0].messageId, mailer.mails[1].messageId) << "the same message";

  // Every file went: a later start sends nothing.
  again.robot.ReleaseGameLock();
  OpeningTurn third{records, mailer, clock, "http://x/"};
  tick.SetOpening(&third);
  mailer.mails.clear();
  Start();
  robot.Timer1Timer();
  EXPECT_TRUE(FirstFilesTo(mailer).empty());
}

TEST_F(OpeningTurnTest, AGameThatHadItsFilesGetsNothing) {
  const struct {
    const char* what;
    std::function<void(OpeningTurnTest&)> make;
  } cases[] = {
      {"a turn file published",
       [](OpeningTurnTest& t) {
         std::filesystem::create_directories(t.folder.pubGameDir());
         test::WriteFile(t.folder.pubGameDir() + "/alpha.m3", "x");
         test::WriteFile(t.folder.pubGameDir() + "/alpha.m1", "old");
       }},
      {"a generation recorded",
       [](OpeningTurnTest& t) { WriteLastGeneration(t.folder.gameDir(), 1, 1765000000); }},
      {"a turn file of another turn",
       [](OpeningTurnTest& t) {
         test::WriteGameFile(t.stem() + ".m3", test::GameHeader(stars::kTurnFile, 4, 2));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(folder.pubGameDir());
    ForgetGenerationsFrom(folder.gameDir(), 0);
    for (int n = 1; n <= 3; ++n)
      test::WriteGameFile(stem() + ".m" + std::to_string(n),
                          test::GameHeader(stars::kTurnFile, 0, n - 1), "first turn");
    c.make(*this);
    mailer.mails.clear();
    OpeningTurn fresh{records, mailer, clock, "http://x/"};
    tick.SetOpening(&fresh);
    robot.ReleaseGameLock();
    Start();
    robot.Timer1Timer();
    EXPECT_TRUE(FirstFilesTo(mailer).empty());
    EXPECT_TRUE(test::StoreRows(folder.gameDir(), "SELECT * FROM first_turn").empty());
  }
}

}  // namespace
}  // namespace ventari
