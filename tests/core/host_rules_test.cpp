// The host's rules for a living game: a turn forced past absent players, and a pause.

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "core/players/events.h"
#include "core/players/status_publisher.h"
#include "core/turn/forced_turn.h"
#include "core/turn/pause.h"
#include "platform/clock.h"
#include "tests/core/robot_fixture.h"
#include "tests/support/captured_stderr.h"
#include "tests/support/scoped_time_zone.h"

namespace ventari {
namespace {

using test::ReadFile;
using test::RobotTest;
using test::WriteFile;

class HostRulesTest : public RobotTest {
 protected:
  HostRulesTest() {
    folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}});
    tick.SetForce(ForceSetting{1.5, "1.5"});
  }
  // Another turn due, whose next deadline is far ahead.
  void NextTurnDue() {
    caches.nextDeadline = "2031-01-01 12:00:00";
    clock.now = *TryEncodeDateTime({2030, 1, 2, 12, 0, 0});
  }
  // The players' status page, which the program's robot keeps.
  std::string StatusAfterATick() {
    StatusPublisher status(records);
    SurveillanceTick withPage(records, view, sound, clock, mailer, refresh, nullptr, &dialogs,
                              nullptr, &status);
    withPage.SetForce(ForceSetting{1.5, "1.5"});
    static_cast<void>(withPage.Run());  // the page only: nothing due is run
    return ReadFile(folder.pubStatusDir() + "/status.json");
  }
  std::vector<std::string> Subjects() const {
    std::vector<std::string> subjects;
    for (const auto& mail : mailer.mails) subjects.push_back(mail.address + " " + mail.subject);
    return subjects;
  }
};

TEST_F(HostRulesTest, ATurnIsForcedPastAnAbsentPlayerOnlyOnceTheHoursHavePassed) {
  Start();
  Orders({1});
  At(13, 29);  // the deadline (12:00) passed by less than 1.5 hours
  robot.Timer1Timer();
  EXPECT_TRUE(runner.commandLines.empty());
  EXPECT_EQ(view.line(WindowLine::State), "en retard");
  EXPECT_EQ(tick.DueIn(), std::chrono::seconds(61)) << "looked at the second after 13:30";
  const std::string page = StatusAfterATick();
  EXPECT_NE(page.find("\"note\": \"génération forcée le 2026-12-07 13:30\""), std::string::npos)
      << page;

  test::CapturedStderr log;
  At(13, 31);
  robot.Timer1Timer();
  ASSERT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(test::TurnOf(stem() + ".hst"), 6);
  const std::string lines = log.TakeLines();
  EXPECT_NE(lines.find("state: génération forcée"), std::string::npos) << lines;
  EXPECT_NE(lines.find("forced generation: the deadline passed by more than 1.5 hours; left "
                       "out: 3 (Bob): missing"),
            std::string::npos)
      << lines;
  // Bob hears why, then gets his turn as everybody does; the host's report names him.
  ASSERT_EQ(Subjects(),
            (std::vector<std::string>{
                "ann@x alpha année 2405", "bob@x alpha année 2405 : tour joué sans vos ordres",
                "bob@x alpha année 2405", "host@example.org Ventari : jeu alpha année 2405"}));
  EXPECT_EQ(
      *mailer.mails[1].body,
      "vos ordres de l'année 2405 ne sont pas arrivés avant la date limite plus 1.5 heures."
      "\n\r\n\rle tour a été joué sans eux : votre nouveau fichier de tour est joint, comme "
      "d'habitude, au mail du tour.\n\r\n\r"
      "Consultez http://league.test/ligue/travail/ventari.php?jeu=alpha\n\r\n\rVentari Robot");
  EXPECT_FALSE(mailer.mails[1].attachmentPath);
  EXPECT_TRUE(mailer.mails[2].attachmentPath);
  EXPECT_NE(mailer.mails[3].body->find("\n\r\n\rtour forcé : joué sans les ordres de 3(Bob), la "
                                       "date limite passée de plus de 1.5 heures\n\r\n\r"),
            std::string::npos)
      << *mailer.mails[3].body;

  // The next turn, generated as usual, leaves nobody out.
  mailer.mails.clear();
  Orders({1, 3});
  NextTurnDue();
  robot.Timer1Timer();
  ASSERT_EQ(runner.commandLines.size(), 2u);
  for (const auto& mail : mailer.mails)
    EXPECT_EQ(mail.subject.find("sans vos ordres"), std::string::npos) << mail.subject;
  EXPECT_EQ(mailer.mails.back().body->find("tour forcé"), std::string::npos);
}

// Hears the robot's events as the host's command would.
class RecordingEvents final : public EventSink {
 public:
  void Send(const std::string& json) override {
    events.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(json)).object());
  }
  std::vector<QJsonObject> events;
};

QJsonArray Names(std::initializer_list<const char*> names) {
  QJsonArray array;
  for (const char* name : names) array.append(QString::fromUtf8(name));
  return array;
}

TEST_F(HostRulesTest, TheTurnsEventNamesThePlayersItWentWithout) {
  RecordingEvents heard;
  robot.SetEvents(&heard);
  Start();
  Orders({1});
  At(13, 31);  // past the deadline by more than 1.5 hours: forced without Bob
  robot.Timer1Timer();
  ASSERT_EQ(runner.commandLines.size(), 1u);
  ASSERT_EQ(heard.events.size(), 1u);
  const QJsonObject forced = heard.events[0];
  EXPECT_EQ(forced.value(QStringLiteral("event")).toString(), QStringLiteral("turn"));
  EXPECT_EQ(forced.value(QStringLiteral("year")).toString(), QStringLiteral("2406"));
  EXPECT_EQ(forced.value(QStringLiteral("forced")).toArray(), Names({"Bob"}));
  EXPECT_EQ(forced.value(QStringLiteral("late")).toArray(), Names({}));
  // Only after every mail of the turn went.
  EXPECT_EQ(mailer.mails.size(), 4u);

  // The host's "génère" with Bob's orders missing again: late, not forced.
  Orders({1});
  NextTurnDue();
  robot.Button1Click();
  ASSERT_EQ(runner.commandLines.size(), 2u);
  ASSERT_EQ(heard.events.size(), 2u);
  EXPECT_EQ(heard.events[1].value(QStringLiteral("forced")).toArray(), Names({}));
  EXPECT_EQ(heard.events[1].value(QStringLiteral("late")).toArray(), Names({"Bob"}));
  EXPECT_EQ(heard.events[1].value(QStringLiteral("deadline")).toString(),
            QStringLiteral("2031-01-01 12:00:00"));
}

TEST_F(HostRulesTest, ALeaguePageThatKeepsItsDateGivesOneForcedTurnThenTheHoursAgain) {
  // The league has not moved its date: after the turn, the page still answers the old deadline.
  caches.nextDeadline = "2026-12-07 12:00:00";
  Start();
  Orders({1});
  At(13, 31);
  test::CapturedStderr log;
  robot.Timer1Timer();  // the forced turn, and the look that judges the new one at once
  ASSERT_EQ(runner.commandLines.size(), 1u);
  EXPECT_EQ(records.monitor.deadlineText, "2026-12-07 12:00:00");
  // Every look in the next 1.5 hours (ticks, files arriving) finds nothing to force.
  for (int minute = 0; minute <= 88; minute += 2) {
    At(13, 31);
    clock.now += minute / (24.0 * 60);
    robot.Timer1Timer();
    robot.FileChanged();
  }
  EXPECT_EQ(runner.commandLines.size(), 1u);
  const std::string lines = log.TakeLines();
  const std::string said =
      "the league page still gives the deadline of the turn just played: "
      "2026-12-07 12:00:00";
  EXPECT_NE(lines.find(said), std::string::npos) << lines;
  EXPECT_EQ(lines.find(said), lines.rfind(said)) << "said once";
  const std::string page = StatusAfterATick();
  EXPECT_NE(page.find("\"note\": \"la ligue donne encore la date limite du tour joué "
                      "(2026-12-07 12:00:00) ; génération forcée le 2026-12-07 15:01\""),
            std::string::npos)
      << page;
  // The hours after the generation: the next forced turn, one.
  At(15, 2);
  robot.Timer1Timer();
  robot.FileChanged();
  EXPECT_EQ(runner.commandLines.size(), 2u);
  // A robot started again counts from the same generation's end.
  At(15, 10);
  const test::RestartedRobot restarted(*this);
  EXPECT_EQ(runner.commandLines.size(), 2u);
}

TEST(ForcedTurnTime, TheHoursAreRealHoursAcrossADaylightSavingChange) {
  const test::ScopedTimeZone paris("Europe/Paris");
  // 28 March 2026 18:00 CET; the clocks go forward that night: 24 real hours later is 19:00.
  const TDateTime deadline = *TryEncodeDateTime({2026, 3, 28, 18, 0, 0});
  EXPECT_EQ(ForceTimeText(LocalDateTime(ForceAt(deadline, std::nullopt, 24))), "2026-03-29 19:00");
  // And back in October: 17:00.
  const TDateTime autumn = *TryEncodeDateTime({2026, 10, 24, 18, 0, 0});
  EXPECT_EQ(ForceTimeText(LocalDateTime(ForceAt(autumn, std::nullopt, 24))), "2026-10-25 17:00");
  // From a generation later than the deadline.
  const long long generated = EpochSeconds(*TryEncodeDateTime({2026, 3, 29, 1, 0, 0}));
  EXPECT_EQ(ForceTimeText(LocalDateTime(ForceAt(deadline, generated, 1.5))), "2026-03-29 03:30");
  EXPECT_TRUE(DeadlineOfTurnPlayed(deadline, generated));
  EXPECT_FALSE(DeadlineOfTurnPlayed(deadline, std::nullopt));
  EXPECT_FALSE(DeadlineOfTurnPlayed(deadline + 1, generated));
}

TEST_F(HostRulesTest, APlayerRowThatCannotBeReadStopsTheTurn) {
  // A space for the tab (or no comma) reads as a computer's row: nothing may act on the game.
  for (const char* row : {"J3 Bob,bob@x", "J3\tBob bob@x"}) {
    SCOPED_TRACE(row);
    WriteFile(folder.gameRoot() + "/ventari.pla",
              "jeu\talpha\r\nweb\tligue\r\nhote\thost@example.org\r\nreserve\t0\r\n"
              "auto\t1\r\nheures\t48\r\njoueurs\t3\r\nJ1\tAnn,ann@x\r\n"
              "J2\tRobot,COMPUTER\r\n" +
                  std::string(row) + "\r\n");
    Orders({1});
    At(20);  // past the deadline and the forced turn's hours
    EXPECT_THROW(robot.Timer1Timer(), Exception);
    try {
      robot.FileChanged();
    } catch (const Exception& error) {
      EXPECT_NE(std::string(error.what()).find("ventari.pla, ligne 10 : "), std::string::npos)
          << error.what();
    }
    EXPECT_THROW(robot.Button1Click(), Exception);
    EXPECT_TRUE(runner.commandLines.empty());
    EXPECT_TRUE(mailer.mails.empty()) << "no receipt, reminder or turn";
  }
}

TEST_F(HostRulesTest, InManualModeNothingIsForcedAndTheHostIsToldOnce) {
  folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}},
                           /*autoGenerate=*/false);
  tick.SetForce(ForceSetting{1, "1"});
  Start();
  Orders({1});
  At(13, 1);
  robot.Timer1Timer();
  robot.Timer1Timer();
  EXPECT_TRUE(runner.commandLines.empty());
  ASSERT_EQ(Subjects(),
            std::vector<std::string>{"host@example.org Ventari : jeu alpha année 2405"});
  EXPECT_EQ(*mailer.mails[0].body,
            "génération année 2405 prête à être effectuée manuellement\n\r\n\rsans les ordres de "
            "3(Bob) : la date limite est passée de plus de 1 heures\n\r\n\rle robot Ventari de "
            "service.");
}

TEST_F(HostRulesTest, AHostReminderWhoseRecordCannotBeWrittenGoesOnceAndTheLookGoesOn) {
  folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "bob@x"}},
                           /*autoGenerate=*/false);
  tick.SetForce(ForceSetting{1, "1"});
  Start();
  // Every write of the reminders' records fails.
  test::FailStoreWrites(folder.gameDir(), "turn_note");
  Orders({1});
  At(13, 1);
  test::CapturedStderr log;
  for (int look = 0; look < 3; ++look) EXPECT_NO_THROW(robot.Timer1Timer());
  EXPECT_EQ(view.line(WindowLine::State), "en retard") << "the look went on to its end";
  // Bob's orders come: the turn is due by hand, a reminder of its own, once too.
  Orders({3});
  for (int look = 0; look < 3; ++look) EXPECT_NO_THROW(robot.Timer1Timer());
  EXPECT_EQ(Subjects(),
            (std::vector<std::string>{"host@example.org Ventari : jeu alpha année 2405",
                                      "host@example.org Ventari : jeu alpha année 2405"}));
  EXPECT_NE(mailer.mails[0].body->find("sans les ordres de 3(Bob)"), std::string::npos);
  EXPECT_EQ(mailer.mails[1].body->find("sans les ordres"), std::string::npos);
  EXPECT_NE(log.TakeLines().find("the host's reminder not recorded in"), std::string::npos);
}

TEST_F(HostRulesTest, APausedGameGeneratesOnlyOnTheHostsClickAndRemindsNobody) {
  Start();
  WritePause(folder.gameRoot(), "Bob\nest malade");
  Orders({1, 3});
  test::CapturedStderr log;
  At(15);  // due, and a forced turn would be due too
  robot.Timer1Timer();
  robot.Timer1Timer();
  EXPECT_TRUE(runner.commandLines.empty());
  EXPECT_EQ(view.line(WindowLine::State), "en pause");
  ASSERT_TRUE(records.monitor.pauseText);
  EXPECT_EQ(*records.monitor.pauseText, "Bob est malade") << "one line, whatever was given";
  std::string lines = log.TakeLines();
  const std::string said = "pause: Bob est malade";
  EXPECT_NE(lines.find(said), std::string::npos) << lines;
  EXPECT_EQ(lines.find(said), lines.rfind(said)) << "said once";
  const std::string page = StatusAfterATick();
  EXPECT_NE(page.find("\"state\": \"en pause\""), std::string::npos) << page;
  EXPECT_NE(page.find("\"note\": \"Bob est malade\""), std::string::npos) << page;
  log.TakeLines();

  // The host's click still generates: he asked for it.
  robot.Button1Click(std::chrono::steady_clock::now());
  EXPECT_EQ(runner.commandLines.size(), 1u);
  EXPECT_TRUE(mailer.mails.back().body->find("tour forcé") == std::string::npos);

  // Lifted: the next turn due is generated by the tick again.
  ASSERT_TRUE(DeleteFileQuiet(PausePath(folder.gameRoot())));
  Orders({1, 3});
  NextTurnDue();
  robot.Timer1Timer();
  EXPECT_EQ(runner.commandLines.size(), 2u);
  lines = log.TakeLines();
  EXPECT_NE(lines.find("pause lifted"), std::string::npos) << lines;
  EXPECT_FALSE(records.monitor.pauseText);
}

}  // namespace
}  // namespace ventari
