#pragma once
// A turn forced past absent players, off unless VENTARI_FORCE_AFTER_HOURS is set: in automatic
// mode, once the deadline has passed by that many hours, the turn is generated without the
// orders still missing. The players left out are recorded in the per-game folder before the
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

// "2026-12-10 18:00", as the deadlines read: the locale's short date would be ambiguous.
std::string ForceTimeText(double localDateTime);

std::string ForcedTurnPath(const std::string& gameDir);
// Replaces the record whole; raises EInOutError.
void WriteForcedTurn(const std::string& gameDir, const ForcedTurn& forced);
// The record when it is that of the generation of `turn`; nothing otherwise.
std::optional<ForcedTurn> ReadForcedTurn(const std::string& gameDir, int turn);

}  // namespace ventari
