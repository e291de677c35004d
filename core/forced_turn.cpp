#include "core/forced_turn.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "core/late_reminders.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace ventari {

std::optional<ForceSetting> ForceFromEnvironment() {
  const char* text = std::getenv("VENTARI_FORCE_AFTER_HOURS");
  if (text == nullptr) return std::nullopt;
  // Read as the reminders' lead is: by hand, whatever the locale's decimal point.
  const std::optional<double> hours = ParseReminderLead(text);
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
  ReplaceFileContents(LastGenerationPath(gameDir), "turn " + std::to_string(turn) + "\r\n" +
                                                       std::to_string(secondsSinceEpoch) + "\r\n");
}

std::optional<long long> LastGenerationEnd(const std::string& gameDir, int turn,
                                           std::optional<long long> known) {
  TextFileReader file;
  if (!file.open(LastGenerationPath(gameDir)) || file.readLine() != "turn " + std::to_string(turn))
    return known;
  const std::string seconds = file.readLine();
  long long recorded = 0;
  const auto [end, error] =
      std::from_chars(seconds.data(), seconds.data() + seconds.size(), recorded);
  if (error != std::errc() || end != seconds.data() + seconds.size()) return known;
  return std::max(recorded, known.value_or(recorded));
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
  std::string text = "turn " + std::to_string(forced.turn) + "\nhours " + forced.hours + "\n";
  for (int row : forced.rows) text += "row " + std::to_string(row) + "\n";
  ReplaceFileContents(ForcedTurnPath(gameDir), text);
}

std::optional<ForcedTurn> ReadForcedTurn(const std::string& gameDir, int turn) {
  TextFileReader file;
  if (!file.open(ForcedTurnPath(gameDir))) return std::nullopt;
  ForcedTurn forced;
  for (std::string line = file.readLine(); !line.empty(); line = file.readLine()) {
    std::istringstream fields(line);
    std::string label;
    fields >> label;
    if (label == "turn") {
      fields >> forced.turn;
    } else if (label == "hours") {
      fields >> forced.hours;
    } else if (label == "row") {
      int row = 0;
      if (fields >> row) forced.rows.push_back(row);
    }
  }
  if (forced.turn != turn) return std::nullopt;
  return forced;
}

}  // namespace ventari
