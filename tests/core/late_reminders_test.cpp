// Reminders to late players and the event log of the tick, on real game folders through the
// robot as the window and the service put it together.

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <memory>
#include <optional>

#include "core/game/records.h"
#include "core/players/late_reminders.h"
#include "core/robot/robot_parts.h"
#include "platform/text.h"
#include "tests/support/captured_stderr.h"
#include "tests/support/fakes.h"
#include "tests/support/fixed_caches.h"
#include "tests/support/game_folder.h"
#include "tests/support/game_store_rows.h"
#include "tests/support/parts_fixture.h"
#include "tests/support/stars_game.h"

namespace ventari {
namespace {

using test::ReadFile;

std::vector<std::string> Addresses(const test::RecordingMailer& mailer) {
  std::vector<std::string> addresses;
  for (const auto& mail : mailer.mails) addresses.push_back(mail.address);
  return addresses;
}

class LateRemindersTest : public test::PartsFixture {
 protected:
  std::string record() const { return LateReminderRecordPath(folder.gameDir()); }
  // The turn and the rows reminded, as the store holds them.
  std::vector<std::string> reminded() const {
    return test::StoreRows(folder.gameDir(),
                           "SELECT turn_key, rows FROM turn_note WHERE name = 'late-players'");
  }
};

TEST_F(LateRemindersTest, EachLatePlayerIsRemindedOncePerTurnAsTheDeadlineNears) {
  test::WriteOrderFile(stem(), 1);
  Start(3);
  At(8, 59);  // a minute more than three hours before
  Tick();
  EXPECT_TRUE(mailer.mails.empty());

  At(9, 30);
  Tick();
  // Bob and Zoe, not Ann whose orders are in, nor the computer player.
  ASSERT_EQ(Addresses(mailer), (std::vector<std::string>{"bob@x", "zoe@x"}));
  const auto& bob = mailer.mails[0];
  EXPECT_EQ(bob.name, "Bob");
  EXPECT_EQ(bob.subject, "alpha année 2405 : ordres attendus");
  EXPECT_EQ(bob.body,
            "vos ordres de l'année 2405 ne sont pas arrivés.\n\r\n\rDL : 2026-12-07 "
            "12:00:00\n\r\n\rConsultez http://league.test/ligue/travail/"
            "ventari.php?jeu=alpha\n\r\n\rVentari Robot");
  EXPECT_FALSE(bob.attachmentPath);
  EXPECT_EQ(reminded(), std::vector<std::string>{"turn 5|2 4"});

  // Neither a later tick, nor orders that come and go, nor a restart remind again; nor does
  // the deadline passing.
  At(10);
  Tick();
  test::WriteOrderFile(stem(), 4);
  Tick();
  std::filesystem::remove(stem() + ".x4");
  Tick();
  Start(3);
  Tick();
  At(12, 30);
  Tick();
  EXPECT_EQ(view.line(WindowLine::State), "en retard");
  EXPECT_EQ(mailer.mails.size(), 2u);

  // The turn generated (the new deadline is 2030-01-01 12:00): its late players get their own.
  test::WriteOrderFile(stem(), 2);
  test::WriteOrderFile(stem(), 4);
  Tick();
  ASSERT_EQ(mailer.mails.size(), 6u);  // three turn mails and the host's report
  EXPECT_EQ(test::TurnOf(stem() + ".hst"), 6);
  At(2030, 1, 1, 10);
  Tick();
  const std::vector<std::string> sent = Addresses(mailer);
  EXPECT_EQ(std::vector<std::string>(sent.begin() + 6, sent.end()),
            (std::vector<std::string>{"ann@x", "bob@x", "zoe@x"}));
  EXPECT_EQ(mailer.mails.back().subject, "alpha année 2406 : ordres attendus");
  EXPECT_EQ(reminded(), std::vector<std::string>{"turn 6|1 2 4"});
}

TEST_F(LateRemindersTest, NoReminderWhenOffWhenTheTurnIsUnknownOrWhenItCannotBeRecorded) {
  Start(std::nullopt);
  At(11, 59);
  Tick();
  EXPECT_TRUE(mailer.mails.empty());
  EXPECT_TRUE(reminded().empty());

  // No host file to tell the turn: no orders count, and nobody is reminded of them.
  std::filesystem::rename(stem() + ".hst", stem() + ".hst.away");
  {
    test::CapturedStderr log;
    Start(3);
    Tick();
    EXPECT_NE(log.TakeLines().find("warning no whole host file can be read at " + stem() + ".hst"),
              std::string::npos);
  }
  EXPECT_TRUE(mailer.mails.empty());
  std::filesystem::rename(stem() + ".hst.away", stem() + ".hst");

  // The record cannot be written: no mail that could go again, said once in the log, and the
  // tick goes on to generate the turn once it is due.
  test::FailStoreWrites(folder.gameDir(), "turn_note");
  test::CapturedStderr log;
  Tick();
  Tick();
  EXPECT_TRUE(mailer.mails.empty());
  const std::string said = log.TakeLines();
  EXPECT_NE(said.find("error no reminders to late players: " + record() + " not written"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("no reminders", said.find("no reminders") + 1), std::string::npos) << said;
  EXPECT_EQ(view.line(WindowLine::State), "incomplet");
  for (int n : {1, 2, 4}) test::WriteOrderFile(stem(), n);
  At(12, 1);
  Tick();
  EXPECT_EQ(test::TurnOf(stem() + ".hst"), 6);
}

TEST(ReminderLead, APositiveDecimalNumberOfHours) {
  EXPECT_EQ(ParseHours("24"), 24.0);
  EXPECT_EQ(ParseHours("1.5"), 1.5);
  EXPECT_EQ(ParseHours("0.25"), 0.25);
  EXPECT_EQ(ParseHours("007"), 7.0);
  for (const char* refused : {"", "0", "0.0", "-1", "+1", "1e3", "1,5", "24h", " 24", "24 ", "1.",
                              ".5", "1.2.3", "1234567", "0.1234567"})
    EXPECT_EQ(ParseHours(refused), std::nullopt) << refused;
}

TEST_F(LateRemindersTest, TheLogSaysWhatChangedAndNothingOnAQuietTick) {
  test::WriteOrderFile(stem(), 1);
  test::CapturedStderr log;
  Start(std::nullopt);
  At(11);
  Tick();
  EXPECT_EQ(log.TakeLines(), "info game folder locked: " + folder.gameDir() +
                                 "/ventari.lock\n"
                                 "info game: alpha\n"
                                 "info year: 2405\n"
                                 "info deadline: 2026-12-07 12:00:00\n"
                                 "info orders in: player 1 (Ann): " +
                                 stem() + ".x1\n" + "info state: incomplet, late: 2(Bob)4(Zoe)\n");
  Tick();
  Tick();
  EXPECT_EQ(log.TakeLines(), "");

  // Bob's file is last turn's; Zoe's comes in.
  test::WriteGameFile(stem() + ".x2", test::GameHeader(1, 4, 1));
  Tick();
  EXPECT_EQ(log.TakeLines(),
            "warning orders refused: player 2 (Bob): " + stem() + ".x2: other turn\n");
  test::WriteOrderFile(stem(), 4);
  Tick();
  EXPECT_EQ(log.TakeLines(), "info orders in: player 4 (Zoe): " + stem() +
                                 ".x4\ninfo state: incomplet, late: 2(Bob)\n");
  At(12, 1);
  Tick();
  EXPECT_EQ(log.TakeLines(), "info state: en retard, late: 2(Bob)\n");
  Tick();
  EXPECT_EQ(log.TakeLines(), "");
}

}  // namespace
}  // namespace ventari
