// Deadlines from the host's schedule: what VENTARI_SCHEDULE may say, the deadline each form
// gives (across daylight-saving changes), and the cache the robot writes from it.

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "core/game/mail_link.h"
#include "core/game/records.h"
#include "core/turn/refresh.h"
#include "core/turn/schedule.h"
#include "platform/clock.h"
#include "tests/support/fakes.h"
#include "tests/support/scoped_time_zone.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

// Seconds since the epoch of a local time in the zone set by the test.
long long Local(int year, int month, int day, int hour, int minute) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_isdst = -1;
  return static_cast<long long>(std::mktime(&fields));
}

TEST(ScheduleTest, ReadsTheFormsAndNamesTheVariableAndValueOfAnythingElse) {
  struct Case {
    const char* text;
    Schedule::Kind kind;  // kLeague with `bad`: refused
    bool bad;
    unsigned days;
    int hour, minute;
  };
  const Case cases[] = {
      {nullptr, Schedule::Kind::kLeague, false, 0, 0, 0},
      {"", Schedule::Kind::kLeague, false, 0, 0, 0},
      {"league", Schedule::Kind::kLeague, false, 0, 0, 0},
      {"hours", Schedule::Kind::kHours, false, 0, 0, 0},
      {" Hours ", Schedule::Kind::kHours, false, 0, 0, 0},
      {"mon,thu 18:00", Schedule::Kind::kSlots, false, 0b0001001, 18, 0},
      {"sun 00:05", Schedule::Kind::kSlots, false, 0b1000000, 0, 5},
      {"mon,tue,wed,thu,fri,sat,sun 23:59", Schedule::Kind::kSlots, false, 0b1111111, 23, 59},
      {"mon, thu 18:00", Schedule::Kind::kSlots, false, 0b0001001, 18, 0},
      {" Mon ,\tthu  18:00", Schedule::Kind::kSlots, false, 0b0001001, 18, 0},
      {"mon thu 18:00", Schedule::Kind::kLeague, true, 0, 0, 0},
      {"monday 18:00", Schedule::Kind::kLeague, true, 0, 0, 0},
      {"mon,,thu 18:00", Schedule::Kind::kLeague, true, 0, 0, 0},
      {"mon,thu", Schedule::Kind::kLeague, true, 0, 0, 0},
      {"mon 24:00", Schedule::Kind::kLeague, true, 0, 0, 0},
      {"mon 18:60", Schedule::Kind::kLeague, true, 0, 0, 0},
      {"mon 6:00", Schedule::Kind::kLeague, true, 0, 0, 0},
      {"mon 18h00", Schedule::Kind::kLeague, true, 0, 0, 0},
      {"48", Schedule::Kind::kLeague, true, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(unset)");
    const ScheduleReading reading = ReadSchedule(c.text);
    if (c.bad) {
      EXPECT_FALSE(reading.schedule);
      EXPECT_EQ(reading.problem.rfind(std::string("VENTARI_SCHEDULE='") + c.text + "'", 0), 0u)
          << reading.problem;
      continue;
    }
    ASSERT_TRUE(reading.schedule) << reading.problem;
    EXPECT_EQ(reading.schedule->kind, c.kind);
    EXPECT_EQ(reading.schedule->days, c.days);
    EXPECT_EQ(reading.schedule->hour, c.hour);
    EXPECT_EQ(reading.schedule->minute, c.minute);
  }
}

TEST(ScheduleTest, HoursAreRealHoursAndSlotsKeepTheirLocalTimeAcrossDaylightSavingChanges) {
  test::ScopedTimeZone paris("Europe/Paris");  // summer time 29 March to 25 October 2026
  const Schedule hours = *ReadSchedule("hours").schedule;
  const Schedule monThu = *ReadSchedule("mon,thu 18:00").schedule;
  const Schedule sunday = *ReadSchedule("sun 02:30").schedule;
  struct Case {
    const char* what;
    const Schedule& schedule;
    long long from;
    int hours;
    std::string deadline;
  };
  const Case cases[] = {
      {"48 hours from a Tuesday noon", hours, Local(2026, 12, 8, 12, 0), 48, "2026-12-10 12:00:00"},
      {"seconds round up to the next minute", hours, Local(2026, 12, 8, 12, 0) + 1, 48,
       "2026-12-10 12:01:00"},
      {"24 real hours over the spring change: 23 hours of local day", hours,
       Local(2026, 3, 28, 12, 0), 24, "2026-03-29 13:00:00"},
      {"24 real hours over the autumn change", hours, Local(2026, 10, 24, 12, 0), 24,
       "2026-10-25 11:00:00"},
      {"the next slot far enough ahead", monThu, Local(2026, 12, 8, 12, 0), 48,
       "2026-12-10 18:00:00"},
      {"a slot too close is passed over", monThu, Local(2026, 12, 9, 19, 0), 48,
       "2026-12-14 18:00:00"},
      {"a slot exactly at the hours is taken", monThu, Local(2026, 12, 8, 18, 0), 48,
       "2026-12-10 18:00:00"},
      {"no hours: the same day's slot still ahead", monThu, Local(2026, 12, 10, 9, 0), 0,
       "2026-12-10 18:00:00"},
      {"18:00 stays 18:00 after the spring change", monThu, Local(2026, 3, 26, 19, 0), 24,
       "2026-03-30 18:00:00"},
      {"18:00 stays 18:00 after the autumn change", monThu, Local(2026, 10, 22, 19, 0), 24,
       "2026-10-26 18:00:00"},
      {"a slot the spring change skips reads as the hour after it", sunday,
       Local(2026, 3, 27, 12, 0), 24, "2026-03-29 03:30:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DeadlineLine(ScheduledDeadline(c.schedule, c.from, c.hours)), c.deadline);
  }
  // Thursday 19:00 to Monday 18:00 across the autumn change: 95 hours of the clock, 96 real.
  EXPECT_EQ(ScheduledDeadline(monThu, Local(2026, 10, 22, 19, 0), 24) - Local(2026, 10, 22, 19, 0),
            96 * 3600LL);
  // What the turn mail announces: the hours to that deadline, not the game's hours.
  const Schedule league = *ReadSchedule("league").schedule;
  EXPECT_EQ(HoursToNextDeadline(hours, Local(2026, 12, 8, 12, 0) + 1, 48), 48);
  EXPECT_EQ(HoursToNextDeadline(hours, Local(2026, 12, 8, 12, 0), 0), 0);
  EXPECT_EQ(HoursToNextDeadline(monThu, Local(2026, 12, 8, 12, 0), 48), 54);
  EXPECT_EQ(HoursToNextDeadline(monThu, Local(2026, 12, 9, 19, 0), 48), 119);
  EXPECT_EQ(HoursToNextDeadline(monThu, Local(2026, 10, 22, 19, 0), 24), 96);
  EXPECT_EQ(HoursToNextDeadline(league, Local(2026, 12, 9, 19, 0), 48), 48);
}

TEST(ScheduleTest, TheTextsSayTheHoursTheDeadlinesCount) {
  const Schedule hours = *ReadSchedule("hours").schedule;
  const Schedule monThu = *ReadSchedule("mon,thu 18:00").schedule;
  struct Case {
    const Schedule& schedule;
    int hours;
    const char* english;
    const char* french;
  };
  const Case cases[] = {
      // Fewer than none count as none, as the deadlines do.
      {hours, -3, "hours: at the end of each generation (heures -3 in ventari.pla counts as 0)",
       "l'échéance de chaque tour tombe à la fin de sa génération"},
      {monThu, 0, "mon,thu 18:00: the first of these after the end of each generation",
       "l'échéance de chaque tour tombe le premier lundi, jeudi à 18h00 après sa génération"},
      {monThu, -3,
       "mon,thu 18:00: the first of these after the end of each generation (heures -3 in "
       "ventari.pla counts as 0)",
       "l'échéance de chaque tour tombe le premier lundi, jeudi à 18h00 après sa génération"},
      {monThu, 48,
       "mon,thu 18:00: the first of these at least 48 hours after the end of each generation",
       "l'échéance de chaque tour tombe le premier lundi, jeudi à 18h00 au moins 48 heures après "
       "sa génération"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScheduleText(c.schedule, c.hours), c.english);
    EXPECT_EQ(ScheduleFrench(c.schedule, c.hours), c.french);
  }
  EXPECT_EQ(ScheduledDeadline(monThu, Local(2026, 12, 10, 9, 0), -3),
            ScheduledDeadline(monThu, Local(2026, 12, 10, 9, 0), 0));
}

TEST(ScheduleTest, TheCacheIsWrittenFromTheLastGenerationOrFromNow) {
  test::ScopedTimeZone paris("Europe/Paris");
  test::TempDir dir;
  ProgramRecords records;
  records.host.repJeu = dir.path();
  records.game.gameName = "alpha";
  records.game.hoursToDeadline = 48;
  MakeDirPath(dir.path() + "/alpha");
  test::FakeClock clock;
  clock.now = *TryEncodeDateTime({2026, 12, 8, 12, 0, 30});
  ScheduleDeadlineMaker maker(records, clock, *ReadSchedule("hours").schedule);

  ASSERT_TRUE(maker.FetchDeadlineCache());  // a start without a cache: from now
  EXPECT_EQ(test::ReadFile(DeadlineCachePath(records)), "2026-12-10 12:01:00\r\n");
  EXPECT_EQ(ParseDeadline("2026-12-10 12:01:00"), *TryEncodeDateTime({2026, 12, 10, 12, 1, 0}));

  records.monitor.lastGenerationEnd = Local(2026, 12, 7, 9, 15);
  ASSERT_TRUE(maker.FetchDeadlineCache());  // right after a generation: from its end
  EXPECT_EQ(test::ReadFile(DeadlineCachePath(records)), "2026-12-09 09:15:00\r\n");
}

TEST(ScheduleTest, TheMailsLinkToTheLeagueSiteThePublicAddressOrNowhere) {
  struct Case {
    const char* site;
    const char* url;
    const char* schedule;
    std::string paragraph;
  };
  const Case cases[] = {
      // Nothing set: the league's page gives the deadlines, and the example site as always.
      {nullptr, nullptr, nullptr,
       "Consultez http://www.stars-ligue.example/ligue/travail/ventari.php?jeu=alpha\n\r\n\r"},
      {"http://ligue.test/", "https://p.test/alpha/", "hours",
       "Consultez http://ligue.test/ligue/travail/ventari.php?jeu=alpha\n\r\n\r"},
      {nullptr, "https://p.test/alpha/", nullptr, "Consultez https://p.test/alpha/\n\r\n\r"},
      {"", "https://p.test/alpha/", "hours", "Consultez https://p.test/alpha/\n\r\n\r"},
      // No league, no public address: no link.
      {nullptr, nullptr, "hours", ""},
      {nullptr, "", "mon 18:00", ""},
  };
  GameSettings game;
  game.gameName = "alpha";
  game.webFolder = "ligue";
  const auto set = [](const char* name, const char* value) {
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  };
  for (const Case& c : cases) {
    set("VENTARI_LEAGUE_SITE", c.site);
    set("VENTARI_PUBLIC_URL", c.url);
    set("VENTARI_SCHEDULE", c.schedule);
    const ScheduleReading reading = ScheduleFromEnvironment();
    EXPECT_EQ(MailLinkFromEnvironment(!reading.schedule || reading.schedule->fromLeague())
                  .Paragraph(game),
              c.paragraph)
        << (c.site ? c.site : "-") << " " << (c.url ? c.url : "-") << " "
        << (c.schedule ? c.schedule : "-");
  }
  for (const char* name : {"VENTARI_LEAGUE_SITE", "VENTARI_PUBLIC_URL", "VENTARI_SCHEDULE"})
    ::unsetenv(name);
}

}  // namespace
}  // namespace ventari
