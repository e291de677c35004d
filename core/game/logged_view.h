#pragma once
// The window's lines in the event log: passes everything on to the window, if there is one, and
// logs the game, year and deadline lines when they change. The clock and the period change with
// every refresh and are left out, and the tick logs the state itself, once per tick.

#include <array>
#include <string>

#include "core/game/monitor_view.h"

namespace ventari {

class LoggedView final : public MonitorView {
 public:
  // `window` may be null (no window); `timerIntervalMs` is then the interval reported.
  explicit LoggedView(MonitorView* window, int timerIntervalMs = 60000);

  void SetLine(WindowLine line, const std::string& text) override;
  void SetColour(WindowColour colour) override;
  int TimerIntervalMs() const override;

 private:
  MonitorView* m_window;
  int m_timerIntervalMs;
  std::array<std::string, 6> m_logged;
  std::array<bool, 6> m_seen{};
};

}  // namespace ventari
