#pragma once
// What the core writes into the main window: five text lines, the state label and the colour.

#include <string>

namespace ventari {

enum class WindowLine {
  Clock,     // Label9
  Game,      // Label5
  Year,      // Label6
  Deadline,  // Label7
  Period,    // Label10
  State,     // Label8
};

enum class WindowColour { InfoBackground, ButtonFace };

class MonitorView {
 public:
  virtual ~MonitorView() = default;
  virtual void SetLine(WindowLine line, const std::string& text) = 0;
  virtual void SetColour(WindowColour colour) = 0;
  // The interval of the one-minute timer, in milliseconds.
  virtual int TimerIntervalMs() const = 0;
};

}  // namespace ventari
