#include "core/robot.h"

#include "core/generation.h"
#include "core/refresh.h"
#include "core/tick.h"
#include "platform/app_control.h"

namespace ventari {

Robot::Entry::Entry(Robot& robot)
    : m_robot(robot), m_granted(!robot.m_busy && !robot.m_app.EndRequested()) {
  if (m_granted) m_robot.m_busy = true;
}

Robot::Entry::~Entry() {
  if (m_granted) m_robot.m_busy = false;
}

Robot::Robot(AppControl& app, RefreshCycle& refresh, SurveillanceTick& tick, Generation& generation)
    : m_app(app), m_refresh(refresh), m_tick(tick), m_generation(generation) {}

void Robot::FormCreate() {
  Entry entry(*this);
  if (!entry.granted()) return;
  m_refresh.Run();
  // A generation cut off by a killed robot is finished before any tick.
  if (!m_app.EndRequested() && m_generation.JournalPending()) m_generation.Resume();
}

void Robot::Timer1Timer() {
  Entry entry(*this);
  if (!entry.granted()) return;
  if (m_generation.JournalPending()) return m_generation.Resume();
  m_tick.Run();
}

void Robot::Button2Click() {
  Entry entry(*this);
  if (!entry.granted()) return;
  if (m_generation.JournalPending()) return m_generation.Resume();
  m_tick.Run(/*hostAsked=*/true);
}

void Robot::Button1Click() {
  Entry entry(*this);
  if (!entry.granted()) return;
  // A turn half distributed is finished, never generated a second time.
  if (m_generation.JournalPending()) return m_generation.Resume();
  m_generation.Run();
}

}  // namespace ventari
