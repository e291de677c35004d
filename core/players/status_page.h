#pragma once
// The players' status page in the game's publication folder: status.json for programs and
// index.html for people, both rendered from a snapshot of what the robot sees. The snapshot
// carries no mail address and no host path, so the page cannot leak them.

#include <optional>
#include <string>
#include <vector>

#include "core/turn/turn_history.h"
#include "platform/datetime.h"

namespace ventari {

// The state of the page a robot leaves when it ends.
inline constexpr const char* kStoppedState = "robot arrêté";

enum class PlayerOrders { kIn, kLate, kRefused, kComputer };

struct StatusPlayer {
  int row = 0;       // 1 to 12
  std::string name;  // from the host's settings: untrusted, escaped wherever it is shown
  PlayerOrders orders = PlayerOrders::kLate;
  std::string reason;  // the French verdict when refused, else empty
};

struct StatusSnapshot {
  std::string game;
  std::string year;       // "2405"; empty when unknown
  std::string state;      // the window's French state text: "en retard", "incomplet", ...
  std::string stateNote;  // an extra line such as a pause text; empty when none
  std::string news;       // the host's message to his players, at the top; empty when none
  std::string schedule;   // how the deadlines are set, in French; empty: not shown
  // Local times. Leave the deadline out when it no longer matters (game over).
  std::optional<TDateTime> deadline;
  std::optional<TDateTime> lastGeneration;
  TDateTime updated{};  // the robot's last look
  // Set once the robot has ended: the page then counts no time down.
  std::optional<TDateTime> stoppedSince;
  std::vector<StatusPlayer> players;
  std::vector<PastTurn> history;  // the latest first
};

// UTF-8 JSON, safe to embed in a page: "<", ">" and "&" are written as \u escapes.
std::string StatusJson(const StatusSnapshot& s);
// A French HTML5 page without script, refreshing itself every minute.
std::string StatusHtml(const StatusSnapshot& s);

// Writes <folder>/status.json and <folder>/index.html, each replaced whole, and only when its
// bytes differ from what this object last wrote there (a new object writes both).
class StatusPageWriter {
 public:
  explicit StatusPageWriter(std::string folder);
  // True when a file was written. Raises EInOutError when one cannot be; a file that failed is
  // written again on the next call.
  bool Write(const StatusSnapshot& s);

 private:
  bool WriteIfChanged(const char* name, const std::string& bytes, std::optional<std::string>& last);
  std::string m_folder;
  std::optional<std::string> m_lastJson;
  std::optional<std::string> m_lastHtml;
};

// A local date-time in ISO 8601 with the machine's offset at that date:
// "2026-12-08T18:00:00+01:00". A time skipped by a daylight-saving change reads as the time the
// clocks show then (02:30 becomes 03:30).
std::string IsoLocalWithOffset(TDateTime local);

// A line that says what a state means, in French; null for a state it does not know.
const char* StateMeaning(const std::string& state);

}  // namespace ventari
