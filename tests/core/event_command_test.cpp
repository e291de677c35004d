// The host's event command: what each event says, and that the command never holds the robot
// up: a hanging one is ended with its group, a failing one is logged once, a talkative one
// fills no log.

#include <gtest/gtest.h>
#include <signal.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <string>
#include <thread>

#include "core/players/event_command.h"
#include "core/players/events.h"
#include "tests/support/captured_stderr.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace ventari {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

QJsonObject Parsed(const std::string& line) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
  return document.object();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST(EventCommandTest, EachEventReachesTheCommandAsOneJsonObjectInOrder) {
  test::TempDir dir;
  const std::string heard = dir.file("heard.txt");
  struct Case {
    std::string json;
    const char* expected;  // the object, as JSON
  };
  const Case cases[] = {
      {events::Turn("alpha", "2400", "2401", std::string("2026-12-10 18:00:00"), {"Bob"},
                    {"Zoé \"Z\""}),
       R"({"event": "turn", "game": "alpha", "played": "2400", "year": "2401",
           "deadline": "2026-12-10 18:00:00", "forced": ["Bob"], "late": ["Zoé \"Z\""]})"},
      {events::Turn("alpha", "2401", "2402", std::nullopt, {}, {}),
       R"({"event": "turn", "game": "alpha", "played": "2401", "year": "2402", "deadline": null,
           "forced": [], "late": []})"},
      {events::Orders("alpha", "2401", "Ann", 1),
       R"({"event": "orders", "game": "alpha", "year": "2401", "name": "Ann", "row": 1,
           "correction": false})"},
      {events::Orders("alpha", "2401", "Ann", 1, true),
       R"({"event": "orders", "game": "alpha", "year": "2401", "name": "Ann", "row": 1,
           "correction": true})"},
      {events::Reminder("alpha", "2401", "2026-12-10 18:00:00", {"Ann", "Bob"}),
       R"({"event": "reminder", "game": "alpha", "year": "2401",
           "deadline": "2026-12-10 18:00:00", "late": ["Ann", "Bob"]})"},
      {events::Pause("alpha", "Bob est malade\nreprise lundi"),
       R"({"event": "pause", "game": "alpha", "text": "Bob est malade\nreprise lundi"})"},
      {events::Resume("alpha", "Bob est malade"),
       R"({"event": "resume", "game": "alpha", "text": "Bob est malade"})"},
      {events::Failure("alpha", "Stars! turn not generated !!!"),
       R"({"event": "failure", "game": "alpha", "text": "Stars! turn not generated !!!"})"},
      {events::GameOver("alpha", "2450"),
       R"({"event": "game-over", "game": "alpha", "year": "2450"})"},
      {events::News("alpha", "<b>fin</b> & suite"),
       R"({"event": "news", "game": "alpha", "text": "<b>fin</b> & suite"})"},
  };
  {
    // Each run appends what it read to the file, as one line: the object ends with the input.
    EventCommand command("{ cat; echo; } | tr -d '\\n' >> '" + heard + "'; echo >> '" + heard +
                         "'");
    for (const Case& c : cases) command.Send(c.json);
    command.Finish();
  }
  const std::vector<std::string> lines = Lines(test::ReadFile(heard));
  ASSERT_EQ(lines.size(), std::size(cases));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(cases[i].json);
    EXPECT_EQ(Parsed(lines[i]), Parsed(cases[i].expected));
  }
}

TEST(EventCommandTest, AFailureTellsNoPathOfTheHostsMachine) {
  const std::pair<const char*, const char*> cases[] = {
      {"Stars! turn not generated !!!", "Stars! turn not generated !!!"},
      {"Stars! turn journal not written /home/h/jeux/alpha/ventari-turn.journal: Disk full !!!",
       "Stars! turn journal not written ventari-turn.journal: Disk full !!!"},
      {"Stars! backup not made in /home/h/mes jeux/alpha/backup/2405: No space left on device !!!",
       "Stars! backup not made in 2405: No space left on device !!!"},
      {"publication impossible : /srv/pub/alpha/alpha.m2 : copie différente",
       "publication impossible : alpha.m2 : copie différente"},
      {"fichiers (/srv/pub/alpha/) et /tmp/x", "fichiers (alpha) et x"},
      {"2/3 joueurs, a/b", "2/3 joueurs, a/b"},
  };
  for (const auto& [text, told] : cases)
    EXPECT_EQ(Parsed(events::Failure("alpha", text)).value(QStringLiteral("text")).toString(),
              QString::fromUtf8(told))
        << text;
}

TEST(EventCommandTest, AHangingCommandIsEndedWithItsGroupAndTheNextEventStillRuns) {
  test::TempDir dir;
  const std::string pids = dir.file("pids");
  test::CapturedStderr log;
  EventCommand command("read event; case \"$event\" in *turn*) sleep 300 & echo $! > '" + pids +
                           "'; wait;; *) echo \"second: $event\";; esac",
                       500ms);
  const Clock::time_point start = Clock::now();
  command.Send(events::Turn("alpha", "2400", "2401", std::nullopt, {}, {}));
  command.Send(events::Resume("alpha", "x"));
  // Only a look past the limit ends the hanging command: Send made none.
  EXPECT_FALSE(command.Idle());
  std::string said = log.TakeLines();
  EXPECT_EQ(said.find("ran past"), std::string::npos) << "Send waited for the command: " << said;
  command.Finish();
  EXPECT_LT(Clock::now() - start, test::Patience(5s)) << "Finish waited for the sleeper";
  EXPECT_TRUE(command.Idle());
  const int sleeper = test::PidFromFile(pids);
  ASSERT_GT(sleeper, 0);
  // Killed with the group; gone once its new parent has reaped it.
  EXPECT_TRUE(test::WaitUntil([sleeper] { return ::kill(sleeper, 0) != 0; }))
      << "the command's background child outlived it";
  said += log.TakeLines();
  EXPECT_NE(said.find("notify: the command for the turn event ran past"), std::string::npos)
      << said;
  EXPECT_NE(said.find("notify: second: {\"event\":\"resume\""), std::string::npos) << said;
}

TEST(EventCommandTest, AtTheRobotsEndAQuickCommandHearsTheLastEventsAndASlowOneIsCutShort) {
  test::TempDir dir;
  const std::string heard = dir.file("heard.txt");
  test::CapturedStderr log;
  {
    EventCommand quick("cat >> '" + heard + "'");
    quick.Send(events::Orders("alpha", "2401", "Ann", 1));
    quick.Send(events::Orders("alpha", "2401", "Bob", 2));
    quick.Send(events::Failure("alpha", "Stars! turn not generated !!!"));
  }
  EXPECT_EQ(Lines(test::ReadFile(heard)).size(), 3u);
  EXPECT_EQ(log.TakeLines().find("robot's end"), std::string::npos);

  // A command that ignores TERM and leaves a child behind; two more events wait for it.
  const std::string pids = dir.file("pids");
  {
    EventCommand slow("trap '' TERM; sleep 300 & echo $! >> '" + pids + "'; wait");
    slow.Send(events::Turn("alpha", "2400", "2401", std::nullopt, {}, {}));
    slow.Send(events::Orders("alpha", "2402", "Ann", 1));
    slow.Send(events::Failure("alpha", "Stars! turn not generated !!!"));
  }
  const std::string said = log.TakeLines();
  EXPECT_NE(said.find("notify: the command for the turn event ended with its process group at "
                      "the robot's end"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("notify: the orders event dropped at the robot's end"), std::string::npos);
  EXPECT_NE(said.find("notify: the failure event dropped at the robot's end"), std::string::npos);
  EXPECT_EQ(said.find("ran past"), std::string::npos) << said;
  const int sleeper = test::PidFromFile(pids);
  ASSERT_GT(sleeper, 0);
  EXPECT_TRUE(test::WaitUntil([sleeper] { return ::kill(sleeper, 0) != 0; }))
      << "the command's child outlived the stop";
}

TEST(EventCommandTest, AFailureIsLoggedOnceAndALotOfOutputIsCutShort) {
  test::CapturedStderr log;
  {
    EventCommand command("echo 'webhook refused' >&2; exit 3");
    command.Send(events::Resume("alpha", ""));
    command.Finish();
  }
  std::string said = log.TakeLines();
  EXPECT_NE(said.find("info notify: webhook refused"), std::string::npos) << said;
  EXPECT_NE(said.find("notify: the command for the resume event failed, exit status 3; not "
                      "tried again"),
            std::string::npos)
      << said;

  const Clock::time_point start = Clock::now();
  {
    // Far more than a pipe holds: the command must not block on its output.
    EventCommand command(
        "i=0; while [ $i -lt 20000 ]; do echo \"line $i of a long story\"; "
        "i=$((i+1)); done; printf '%0500d' 0",
        test::Patience(20s));
    command.Send(events::Resume("alpha", ""));
    command.Finish();
  }
  EXPECT_LT(Clock::now() - start, test::Patience(15s)) << "the command blocked on its output";
  said = log.TakeLines();
  const std::vector<std::string> lines = Lines(said);
  std::size_t notify = 0;
  for (const std::string& line : lines)
    if (line.find("notify: ") != std::string::npos) ++notify;
  EXPECT_EQ(notify, 21u) << said;  // twenty lines and the word that the rest is not logged
  EXPECT_NE(said.find("notify: line 19 of a long story"), std::string::npos);
  EXPECT_EQ(said.find("notify: line 20 of"), std::string::npos);
  EXPECT_EQ(said.find("ran past"), std::string::npos) << said;
  EXPECT_EQ(said.find("failed"), std::string::npos) << said;
}

}  // namespace
}  // namespace ventari
