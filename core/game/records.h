#pragma once
// The program-wide records: the settings read by the refresh cycle and the values it derives.

#include <memory>
#include <optional>
#include <string>

#include "core/game/settings.h"
#include "platform/datetime.h"

namespace ventari {

struct StatusSnapshot;

struct MonitorState {
  std::string savedDir;
  std::string deadlineText;  // first line of the deadline cache, as read
  std::string yearText;      // first line of the year cache, as read
  std::string lateText;      // written by the tick only
  TDateTime deadline = kZeroDateTime;
  // A deadline of the current turn has been converted; until then no tick acts on it.
  bool deadlineKnown = false;
  // The deadline cache belongs to the current turn: false from a generation until the refresh
  // has fetched the new turn's page.
  bool deadlineCacheTrusted = true;
  // The host's pause and its text, as the last tick saw it; written by the tick only.
  std::optional<std::string> pauseText;
  // When this run last ended a generation, in seconds since the epoch.
  std::optional<long long> lastGenerationEnd;
  // The status page as this robot last published it, for the line its end adds; written by the
  // status publisher only.
  std::shared_ptr<const StatusSnapshot> publishedStatus;
};

struct ProgramRecords {
  HostSettings host;
  GameSettings game;
  MonitorState monitor;
};

// The per-game folder's two caches: repJeu + "/" + gameName + "/nextdl.txt" (the deadline) and
// "/curyear.txt" (the year).
std::string DeadlineCachePath(const ProgramRecords& records);
std::string YearCachePath(const ProgramRecords& records);
// Noted in the game's store when a generation could not delete the deadline cache, so that a
// robot started again does not take the old turn's deadline for the new one; forgotten once the
// new page has been fetched. Each raises EInOutError.
void MarkDeadlineCacheStale(const ProgramRecords& records, const std::string& cache);
bool DeadlineCacheMarkedStale(const ProgramRecords& records);
void ForgetStaleDeadlineCache(const ProgramRecords& records);

// The one instance of the running program. Components take the records by reference, so tests
// give them their own.
ProgramRecords& TheProgramRecords();

}  // namespace ventari
