#pragma once
// One robot put together: its refresh cycle, generation, reminders to late players, tick and
// the guard between them, built the same way with a window and without one. What it shows goes
// through the event log on its way to the window.

#include <chrono>
#include <optional>
#include <string>

#include "core/game/logged_view.h"
#include "core/game/store_guard.h"
#include "core/players/late_reminders.h"
#include "core/players/mailed_orders.h"
#include "core/players/news.h"
#include "core/players/opening_turn.h"
#include "core/players/order_receipts.h"
#include "core/players/status_publisher.h"
#include "core/robot/robot.h"
#include "core/robot/tick.h"
#include "core/turn/generation.h"
#include "core/turn/refresh.h"

namespace ventari {

class AppControl;
class Clock;
class DeadlineCacheMaker;
class Dialogs;
class EventSink;
class Mailer;
class ProgramRunner;
class SoundPlayer;
class YearCacheMaker;
struct ProgramRecords;

struct RobotServices {
  ProgramRecords& records;
  MonitorView* window;  // null: no window
  Dialogs& dialogs;
  AppControl& app;
  const Clock& clock;
  DeadlineCacheMaker& deadlineMaker;
  YearCacheMaker& yearMaker;
  Mailer& mailer;
  ProgramRunner& runner;
  SoundPlayer& sound;
  MailLink leagueSite;  // the players' mails' link
  std::chrono::seconds gameTimeLimit;
  std::optional<double> reminderLeadHours;  // nothing: no reminders to late players
  bool receipts;                            // a receipt for each order file version
  std::optional<ForceSetting> force;        // nothing: no turn forced past absent players
  std::optional<std::string> maildir;       // orders by mail from it; nothing: none
  EventSink* events = nullptr;              // the host's event command; null: none
  Schedule schedule{};                      // how the deadlines are set
};

class RobotParts {
 public:
  explicit RobotParts(const RobotServices& services);
  RobotParts(const RobotParts&) = delete;
  RobotParts& operator=(const RobotParts&) = delete;

  Robot& robot() { return m_robot; }
  // When the robot should look at the game again before the next minute (a cut upload that
  // becomes old enough to refuse, the turn falling due); nothing when the minute will do.
  std::optional<std::chrono::milliseconds> LookAgainIn() const;

 private:
  LoggedView m_view;
  RefreshCycle m_refresh;
  Generation m_generation;
  LateReminders m_reminders;
  OrderReceipts m_receipts;
  std::optional<MailedOrders> m_mailed;
  HostNews m_news;
  OpeningTurn m_opening;
  StatusPublisher m_status;
  StoreGuard m_storeGuard;
  SurveillanceTick m_tick;
  Robot m_robot;
};

}  // namespace ventari
