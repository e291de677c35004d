#include "core/turn/schedule.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/game/records.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ventari {

namespace {

constexpr const char* kDayNames[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

bool TwoDigits(const std::string& text, int limit, int& value) {
  if (text.size() != 2 || text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9')
    return false;
  value = (text[0] - '0') * 10 + (text[1] - '0');
  return value <= limit;
}

// Monday 0 ... Sunday 6, from the C library's Sunday 0.
int WeekdayFromMonday(int tmWeekday) { return (tmWeekday + 6) % 7; }

}  // namespace

ScheduleReading ReadSchedule(const char* text) {
  ScheduleReading reading;
  const std::string given = text ? text : "";
  const std::string value = LowerAscii(Trimmed(given));
  Schedule schedule;
  schedule.text = given;
  if (value.empty() || value == "league") {
    reading.schedule = schedule;
    return reading;
  }
  if (value == "hours") {
    schedule.kind = Schedule::Kind::kHours;
    reading.schedule = schedule;
    return reading;
  }
  const std::string problemStart = "VENTARI_SCHEDULE='" + given + "' cannot be read: ";
  // The time is the last word; the days before it may have blanks after their commas.
  const std::size_t blank = value.find_last_of(" \t");
  if (blank == std::string::npos) {
    reading.problem = problemStart + "give league, hours, or days and a time (mon,thu 18:00)";
    return reading;
  }
  const std::string days = Trimmed(value.substr(0, blank));
  const std::string time = value.substr(blank + 1);
  std::size_t start = 0;
  while (start <= days.size()) {
    const std::size_t comma = std::min(days.find(',', start), days.size());
    const std::string day = Trimmed(days.substr(start, comma - start));
    int found = -1;
    for (int d = 0; d < 7; ++d)
      if (day == kDayNames[d]) found = d;
    if (found < 0) {
      reading.problem =
          problemStart + "'" + day + "' is not a day (mon, tue, wed, thu, fri, " + "sat, sun)";
      return reading;
    }
    schedule.days |= 1u << found;
    start = comma + 1;
  }
  const std::size_t colon = time.find(':');
  if (colon == std::string::npos || !TwoDigits(time.substr(0, colon), 23, schedule.hour) ||
      !TwoDigits(time.substr(colon + 1), 59, schedule.minute)) {
    reading.problem = problemStart + "'" + time + "' is not a time HH:MM";
    return reading;
  }
  schedule.kind = Schedule::Kind::kSlots;
  reading.schedule = schedule;
  return reading;
}

ScheduleReading ScheduleFromEnvironment() { return ReadSchedule(std::getenv("VENTARI_SCHEDULE")); }

std::string ScheduleText(const Schedule& schedule, int hours) {
  // The deadlines count no hours below none (ScheduledDeadline): the text says the same.
  const std::string h = std::to_string(hours) + (hours == 1 ? " hour" : " hours");
  const std::string end =
      "the end of each generation" +
      (hours < 0 ? " (heures " + std::to_string(hours) + " in ventari.pla counts as 0)"
                 : std::string());
  switch (schedule.kind) {
    case Schedule::Kind::kLeague:
      return "the league page";
    case Schedule::Kind::kHours:
      return "hours: " + (hours > 0 ? h + " after " : std::string("at ")) + end;
    case Schedule::Kind::kSlots: {
      std::string days;
      for (int d = 0; d < 7; ++d)
        if (schedule.days & (1u << d))
          days += (days.empty() ? "" : ",") + std::string(kDayNames[d]);
      char time[8];
      std::snprintf(time, sizeof time, "%02d:%02d", schedule.hour, schedule.minute);
      return days + " " + time + ": the first of these " +
             (hours > 0 ? "at least " + h + " " : std::string()) + "after " + end;
    }
  }
  return {};
}

std::string ScheduleFrench(const Schedule& schedule, int hours) {
  static constexpr const char* kFrenchDays[] = {"lundi",    "mardi",  "mercredi", "jeudi",
                                                "vendredi", "samedi", "dimanche"};
  const std::string after =
      hours > 0
          ? std::to_string(hours) + (hours == 1 ? " heure" : " heures") + " après sa génération"
          : "après sa génération";
  switch (schedule.kind) {
    case Schedule::Kind::kLeague:
      return "l'échéance de chaque tour vient de la page de la ligue";
    case Schedule::Kind::kHours:
      return hours > 0 ? "l'échéance de chaque tour tombe " + after
                       : std::string("l'échéance de chaque tour tombe à la fin de sa génération");
    case Schedule::Kind::kSlots: {
      std::string days;
      for (int d = 0; d < 7; ++d)
        if (schedule.days & (1u << d))
          days += (days.empty() ? "" : ", ") + std::string(kFrenchDays[d]);
      char time[8];
      std::snprintf(time, sizeof time, "%02dh%02d", schedule.hour, schedule.minute);
      return "l'échéance de chaque tour tombe le premier " + days + " à " + time +
             (hours > 0 ? " au moins " : " ") + after;
    }
  }
  return {};
}

long long ScheduledDeadline(const Schedule& schedule, long long from, int hours) {
  const long long earliest = from + 3600LL * (hours > 0 ? hours : 0);
  if (schedule.kind != Schedule::Kind::kSlots) return (earliest + 59) / 60 * 60;
  const time_t start = static_cast<time_t>(earliest);
  std::tm day{};
  ::localtime_r(&start, &day);
  // A week and a day covers every slot; the local calendar day moves on, not 24 hours.
  for (int offset = 0; offset <= 8; ++offset) {
    std::tm slot{};
    slot.tm_year = day.tm_year;
    slot.tm_mon = day.tm_mon;
    slot.tm_mday = day.tm_mday + offset;
    slot.tm_hour = 12;  // noon: never skipped by a change, to learn the weekday
    slot.tm_isdst = -1;
    if (std::mktime(&slot) == -1) continue;
    if (!(schedule.days & (1u << WeekdayFromMonday(slot.tm_wday)))) continue;
    slot.tm_hour = schedule.hour;
    slot.tm_min = schedule.minute;
    slot.tm_sec = 0;
    slot.tm_isdst = -1;
    const long long at = static_cast<long long>(std::mktime(&slot));
    if (at >= earliest) return at;
  }
  return (earliest + 59) / 60 * 60;  // no day in the mask: unreachable once read
}

int HoursToNextDeadline(const Schedule& schedule, long long now, int hours) {
  if (schedule.fromLeague()) return hours;
  const long long seconds = ScheduledDeadline(schedule, now, hours) - now;
  return static_cast<int>((seconds + 1800) / 3600);
}

std::string DeadlineLine(long long secondsSinceEpoch) {
  return FormatLocalTime(secondsSinceEpoch, "%Y-%m-%d %H:%M:%S");
}

ScheduleDeadlineMaker::ScheduleDeadlineMaker(ProgramRecords& records, const Clock& clock,
                                             Schedule schedule)
    : m_records(records), m_clock(clock), m_schedule(std::move(schedule)) {}

bool ScheduleDeadlineMaker::FetchDeadlineCache() {
  const std::optional<long long> generated = m_records.monitor.lastGenerationEnd;
  const long long from = generated.value_or(EpochSeconds(m_clock.Now()));
  const std::string line =
      DeadlineLine(ScheduledDeadline(m_schedule, from, m_records.game.hoursToDeadline));
  // Whole or not at all, as a fetched page is written.
  ReplaceFileContents(DeadlineCachePath(m_records), line + "\r\n");
  LogEvent("info",
           "deadline from the schedule (" +
               ScheduleText(m_schedule, m_records.game.hoursToDeadline) + "): " + line +
               (generated ? ", counted from the end of the generation" : ", counted from now"));
  return true;
}

}  // namespace ventari
