#pragma once
// Deadlines from the host's own schedule, for a game without a league page: VENTARI_SCHEDULE
// "hours" (the game's hours after the end of a generation) or fixed weekly slots
// ("mon,thu 18:00", local time). The robot then writes the deadline cache itself, in the
// league page's format, and never asks the league.

#include <optional>
#include <string>

#include "core/game/cache_makers.h"

namespace ventari {

class Clock;
struct ProgramRecords;

struct Schedule {
  enum class Kind { kLeague, kHours, kSlots };
  Kind kind = Kind::kLeague;
  unsigned days = 0;  // kSlots: bit 0 Monday ... bit 6 Sunday
  int hour = 0;
  int minute = 0;
  std::string text;  // as the host wrote it

  bool fromLeague() const { return kind == Kind::kLeague; }
};

struct ScheduleReading {
  std::optional<Schedule> schedule;  // nothing when the text cannot be read
  std::string problem;               // why, naming the variable and the value
};

// Unset, empty or "league": the league page. "hours", or days mon...sun joined by commas, a
// blank and one time HH:MM.
ScheduleReading ReadSchedule(const char* text);
ScheduleReading ScheduleFromEnvironment();

// The schedule in a few words, for --check and the status page.
std::string ScheduleText(const Schedule& schedule, int hours);

// The deadline of a turn generated at `from` (seconds since the epoch), `hours` being the
// game's hours: `hours` real hours later, up to the next whole minute, or the first slot (a
// local time, whatever the daylight-saving change between) at least that many hours later.
long long ScheduledDeadline(const Schedule& schedule, long long from, int hours);

// The whole hours (to the nearest) from `now` to the deadline the schedule gives a turn generated
// then: what the players' turn mail announces. `hours` with the league's page, which sets its
// own deadline once it sees the new turn.
int HoursToNextDeadline(const Schedule& schedule, long long now, int hours);

// The same for the players' page, in French.
std::string ScheduleFrench(const Schedule& schedule, int hours);

// "2026-12-10 18:00:00", as the league page gives a deadline, in local time.
std::string DeadlineLine(long long secondsSinceEpoch);

// Writes the deadline cache from the schedule, counting from the end of the generation this run
// made (the cache is dropped right after it) or, at a start without a cache, from now.
class ScheduleDeadlineMaker final : public DeadlineCacheMaker {
 public:
  ScheduleDeadlineMaker(ProgramRecords& records, const Clock& clock, Schedule schedule);
  bool FetchDeadlineCache() override;

 private:
  ProgramRecords& m_records;
  const Clock& m_clock;
  Schedule m_schedule;
};

}  // namespace ventari
