#pragma once
// A turn forced past absent players, off unless VENTARI_FORCE_AFTER_HOURS is set: in automatic
// mode, once the deadline has passed by that many hours, the turn is generated without the
// orders still missing. The players left out are recorded in the game's store before the
// generation starts, so that a generation taken up after a restart still tells them.

#include <optional>
#include <string>
#include <vector>

namespace ventari {

struct ForceSetting {
  double hours = 0;
  std::string text;  // as the host wrote it, for the mails
};

// VENTARI_FORCE_AFTER_HOURS: a positive decimal number of hours; nothing when unset, or (logged
// once as a warning) when it is no such number.
std::optional<ForceSetting> ForceFromEnvironment();

struct ForcedTurn {
  int turn = -1;          // the host file's turn before the generation
  std::string hours;      // the setting's text
  std::vector<int> rows;  // the human rows left out
};

// The store's record of the end of each generation: the turn it made and when. The path is
// the file an older robot kept it in.
std::string LastGenerationPath(const std::string& gameDir);
// Records it, replacing any of the same turn; raises EInOutError.
void WriteLastGeneration(const std::string& gameDir, int turn, long long secondsSinceEpoch);
// The end of the generation that made turn `turn`, in seconds since the epoch: the later of the
// record's and `known`, this run's own; nothing when neither is known.
std::optional<long long> LastGenerationEnd(const std::string& gameDir, int turn,
                                           std::optional<long long> known);
// Some generation of this game was recorded.
bool AnyGenerationRecorded(const std::string& gameDir);
// Forgets the generations that made turn `turn` and later ones (a restore went back before
// them); raises EInOutError.
void ForgetGenerationsFrom(const std::string& gameDir, int turn);
// When a turn may be forced, in seconds since the epoch: `hours` real hours after the later of
// the deadline and the last generation.
long long ForceAt(double deadline, std::optional<long long> lastGeneration, double hours);
// The deadline is not later than the last generation: the league page has not moved its date
// since the turn just played.
bool DeadlineOfTurnPlayed(double deadline, std::optional<long long> lastGeneration);
// "1 hour", "1.5 hours", for the log.
std::string HoursText(const std::string& hours);

// "2026-12-10 18:00", as the deadlines read: the locale's short date would be ambiguous.
std::string ForceTimeText(double localDateTime);

std::string ForcedTurnPath(const std::string& gameDir);
// Records who the generation of `forced.turn` leaves out, replacing any record of that turn;
// raises EInOutError.
void WriteForcedTurn(const std::string& gameDir, const ForcedTurn& forced);
// Forgets it: the generation of `turn` leaves nobody out. Raises EInOutError.
void ForgetForcedTurn(const std::string& gameDir, int turn);
// The record of the generation of `turn`; nothing when it leaves nobody out.
std::optional<ForcedTurn> ReadForcedTurn(const std::string& gameDir, int turn);

}  // namespace ventari
