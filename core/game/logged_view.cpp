#include "core/game/logged_view.h"

#include "platform/event_log.h"

namespace ventari {

namespace {

const char* LoggedName(WindowLine line) {
  switch (line) {
    case WindowLine::Game:
      return "game";
    case WindowLine::Year:
      return "year";
    case WindowLine::Deadline:
      return "deadline";
    default:
      return nullptr;
  }
}

}  // namespace

LoggedView::LoggedView(MonitorView* window, int timerIntervalMs)
    : m_window(window), m_timerIntervalMs(timerIntervalMs) {}

void LoggedView::SetLine(WindowLine line, const std::string& text) {
  if (m_window) m_window->SetLine(line, text);
  const char* name = LoggedName(line);
  if (name == nullptr) return;
  const auto index = static_cast<std::size_t>(line);
  if (m_seen[index] && m_logged[index] == text) return;
  m_seen[index] = true;
  m_logged[index] = text;
  LogEvent("info", std::string(name) + ": " + text);
}

void LoggedView::SetColour(WindowColour colour) {
  if (m_window) m_window->SetColour(colour);
}

int LoggedView::TimerIntervalMs() const {
  return m_window ? m_window->TimerIntervalMs() : m_timerIntervalMs;
}

}  // namespace ventari
