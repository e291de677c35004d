#pragma once
// The host's event command (VENTARI_NOTIFY): run through the shell once per event, the event's
// JSON object on its standard input. It must never hold a turn up: it starts after the event's
// mails went, runs beside the robot in a process group of its own, one at a time in order, and
// is ended with its group past its time limit or once it ends (its background jobs go with it).
// Its output goes to the log as "notify: ..."; a failure is logged, not retried. A robot killed
// while it runs takes its group along; a robot that stops gives it a few seconds at most.

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "core/players/events.h"
#include "platform/group_child.h"
#include "platform/ticker.h"

namespace ventari {

inline constexpr std::chrono::seconds kEventCommandLimit{10};
// What the queued events may take together at the robot's end: a service manager waits for a
// stop a bounded time, and the robot has its own end to write after them.
inline constexpr std::chrono::milliseconds kEventStopBudget{3000};

// VENTARI_NOTIFY, or nothing when unset or empty.
std::optional<std::string> EventCommandFromEnvironment();

class EventCommand final : public EventSink {
 public:
  // `ticker`: the event loop's, which polls the running command; without one, Finish() does.
  explicit EventCommand(std::string command, std::chrono::milliseconds limit = kEventCommandLimit,
                        const TickerMaker& ticker = {});
  // Stop(): the last events (a failure that ends the robot) still reach a quick command.
  ~EventCommand() override;
  EventCommand(const EventCommand&) = delete;
  EventCommand& operator=(const EventCommand&) = delete;

  // Queued; started at once when no other runs. Returns without waiting.
  void Send(const std::string& json) override;
  // Nothing runs nor waits.
  bool Idle() const { return !m_child && m_queue.empty(); }
  // One look at the running command: its output, its end, its limit. The ticker calls it;
  // tests may too.
  void Poll();
  // Waits until every queued event has been run (each within its limit).
  void Finish();
  // The robot's end: what is queued runs while `budget` lasts; then the command running is ended
  // with its group and the events left are dropped, each named in the log.
  void Stop(std::chrono::milliseconds budget = kEventStopBudget);

 private:
  void StartNext();
  void ReadOutput(bool all);
  void LogLine(const std::string& line);
  void Ended(int status);
  void StopTicker();
  // Polls until nothing runs nor waits, or until `end`.
  void RunUntil(std::optional<std::chrono::steady_clock::time_point> end);

  std::string m_command;
  std::chrono::milliseconds m_limit;
  std::deque<std::string> m_queue;
  std::optional<GroupChild> m_child;
  std::string m_event;  // the running event's kind, for the log
  std::chrono::steady_clock::time_point m_deadline;
  int m_linesLogged = 0;
  bool m_dropped = false;  // output past what the log takes
  std::unique_ptr<Ticker> m_ticker;
};

}  // namespace ventari
