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
}

void Robot::Timer1Timer() {
  Entry entry(*this);
  if (!entry.granted()) return;
  m_tick.Run();
}

void Robot::Button2Click() {
  Entry entry(*this);
  if (!entry.granted()) return;
  m_tick.Run(/*hostAsked=*/true);
}

void Robot::Button1Click() {
  Entry entry(*this);
  if (!entry.granted()) return;
  m_generation.Run();
}

}  // namespace ventari
