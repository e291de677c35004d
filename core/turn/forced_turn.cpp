#include "core/turn/forced_turn.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "core/game/game_store.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ventari {

std::optional<ForceSetting> ForceFromEnvironment() {
  const char* text = std::getenv("VENTARI_FORCE_AFTER_HOURS");
  if (text == nullptr) return std::nullopt;
  // Read as the reminders' lead is: by hand, whatever the locale's decimal point.
  const std::optional<double> hours = ParseHours(text);
  if (!hours) {
    LogEvent("warning", std::string("VENTARI_FORCE_AFTER_HOURS is not a number of hours: '") +
                            text + "'; no turn is forced");
    return std::nullopt;
  }
  return ForceSetting{*hours, text};
}

std::string LastGenerationPath(const std::string& gameDir) {
  return gameDir + "/ventari-last-generation.txt";
}

void WriteLastGeneration(const std::string& gameDir, int turn, long long secondsSinceEpoch) {
  GameStore store(gameDir, GameStore::Access::kWrite);
  store.Run("INSERT OR REPLACE INTO generation(turn, ended_at) VALUES(?, ?)", turn,
            secondsSinceEpoch);
}

std::optional<long long> LastGenerationEnd(const std::string& gameDir, int turn,
                                           std::optional<long long> known) {
  GameStore store(gameDir, GameStore::Access::kRead);
  GameStore::Query query = store.Select("SELECT ended_at FROM generation WHERE turn = ?", turn);
  if (!query.Step()) return known;
  const long long recorded = query.Int(0);
  return std::max(recorded, known.value_or(recorded));
}

bool AnyGenerationRecorded(const std::string& gameDir) {
  GameStore store(gameDir, GameStore::Access::kRead);
  return store.Select("SELECT 1 FROM generation LIMIT 1").Step();
}

void ForgetGenerationsFrom(const std::string& gameDir, int turn) {
  GameStore store(gameDir, GameStore::Access::kWrite);
  store.Transaction([&] {
    store.Run("DELETE FROM generation WHERE turn >= ?", turn);
    // The turns played from there are undone; the orders of `turn` are back with its files.
    store.Run("DELETE FROM turn_played WHERE turn >= ?", turn);
    store.Run("DELETE FROM orders_in WHERE turn > ?", turn);
  });
}

long long ForceAt(double deadline, std::optional<long long> lastGeneration, double hours) {
  const long long from = std::max(EpochSeconds(deadline), lastGeneration.value_or(0));
  return from + std::llround(hours * 3600.0);
}

bool DeadlineOfTurnPlayed(double deadline, std::optional<long long> lastGeneration) {
  return lastGeneration && EpochSeconds(deadline) <= *lastGeneration;
}

std::string HoursText(const std::string& hours) {
  return hours + (hours == "1" ? " hour" : " hours");
}

std::string ForceTimeText(double localDateTime) {
  const DateTimeParts parts = DecodeDateTime(localDateTime);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", parts.year, parts.month, parts.day,
                parts.hour, parts.minute);
  return text;
}

std::string ForcedTurnPath(const std::string& gameDir) { return gameDir + "/ventari-forced.txt"; }

void WriteForcedTurn(const std::string& gameDir, const ForcedTurn& forced) {
  std::string rows;
  for (int row : forced.rows) rows += (rows.empty() ? "" : " ") + std::to_string(row);
  GameStore store(gameDir, GameStore::Access::kWrite);
  store.Run("INSERT OR REPLACE INTO forced_turn(turn, hours, rows) VALUES(?, ?, ?)", forced.turn,
            forced.hours, rows);
}

void ForgetForcedTurn(const std::string& gameDir, int turn) {
  // Written only when there is something to forget: a generation that fails before its backup
  // leaves the game's folder as it was.
  if (!ReadForcedTurn(gameDir, turn)) return;
  GameStore store(gameDir, GameStore::Access::kWrite);
  store.Run("DELETE FROM forced_turn WHERE turn = ?", turn);
}

std::optional<ForcedTurn> ReadForcedTurn(const std::string& gameDir, int turn) {
  GameStore store(gameDir, GameStore::Access::kRead);
  GameStore::Query query = store.Select("SELECT hours, rows FROM forced_turn WHERE turn = ?", turn);
  if (!query.Step()) return std::nullopt;
  ForcedTurn forced{turn, query.Text(0), {}};
  std::istringstream fields(query.Text(1));
  for (int row = 0; fields >> row;) forced.rows.push_back(row);
  return forced;
}

}  // namespace ventari
