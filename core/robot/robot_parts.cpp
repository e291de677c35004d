#include "core/robot/robot_parts.h"

#include <algorithm>

namespace ventari {

RobotParts::RobotParts(const RobotServices& s)
    : m_view(s.window),
      m_refresh(s.records, m_view, s.dialogs, s.app, s.clock, s.deadlineMaker, s.yearMaker,
                &s.mailer),
      m_generation(s.records, s.runner, s.mailer, s.dialogs, s.app, s.clock, s.leagueSite,
                   s.gameTimeLimit),
      m_reminders(s.records, s.mailer, s.clock, s.leagueSite, s.reminderLeadHours),
      m_receipts(s.records, s.mailer, s.clock, s.leagueSite, s.receipts),
      m_news(s.records, s.mailer, s.leagueSite),
      m_opening(s.records, s.mailer, s.clock, s.leagueSite),
      m_status(s.records),
      m_storeGuard(s.records, s.mailer, s.dialogs),
      m_tick(s.records, m_view, s.sound, s.clock, s.mailer, m_refresh, &m_reminders, &s.dialogs,
             &m_receipts, &m_status),
      m_robot(s.records, s.app, s.dialogs, m_refresh, m_tick, m_generation) {
  m_tick.SetForce(s.force);
  m_tick.SetSchedule(s.schedule);
  m_generation.SetSchedule(s.schedule);
  if (s.maildir) {
    m_mailed.emplace(s.records, s.mailer, m_receipts, s.clock, s.leagueSite, *s.maildir);
    m_tick.SetMailedOrders(&*m_mailed);
  }
  m_tick.SetEvents(s.events);
  m_reminders.SetEvents(s.events);
  m_robot.SetEvents(s.events);
  m_robot.SetStoreGuard(&m_storeGuard);
  m_news.SetEvents(s.events);
  m_tick.SetNews(&m_news);
  m_tick.SetOpening(&m_opening);
}

std::optional<std::chrono::milliseconds> RobotParts::LookAgainIn() const {
  const std::optional<std::chrono::milliseconds> refuse = m_receipts.LookAgainIn();
  const std::optional<std::chrono::milliseconds> due = m_tick.DueIn();
  if (!refuse || !due) return refuse ? refuse : due;
  return std::min(*refuse, *due);
}

}  // namespace ventari
