#pragma once
// What the robot tells the host's event command: one JSON object per event, with names, rows,
// years and dates, never an address or a path of the host's machine.

#include <optional>
#include <string>
#include <vector>

namespace ventari {

// Hears the robot's events after their mails went; never holds the robot up.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Send(const std::string& json) = 0;
};

namespace events {

// `played`: the year generated, as the turn mails' subjects name it; `year`: the one now played.
std::string Turn(const std::string& game, const std::string& played, const std::string& year,
                 const std::optional<std::string>& deadline, const std::vector<std::string>& forced,
                 const std::vector<std::string>& late);
// `correction`: these orders replace others of the same player that counted in this turn.
std::string Orders(const std::string& game, const std::string& year, const std::string& name,
                   int row, bool correction = false);
std::string Reminder(const std::string& game, const std::string& year, const std::string& deadline,
                     const std::vector<std::string>& late);
std::string Pause(const std::string& game, const std::string& text);
std::string Resume(const std::string& game, const std::string& text);
std::string Failure(const std::string& game, const std::string& text);
std::string GameOver(const std::string& game, const std::string& year);
std::string News(const std::string& game, const std::string& text);

}  // namespace events
}  // namespace ventari
