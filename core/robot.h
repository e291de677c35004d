#pragma once
// The three entries of the robot (refresh, tick, generation) and the guard they share: none
// runs inside another one, and none acts once the application has been asked to end.

#include <string>

namespace ventari {

class AppControl;
class Generation;
class RefreshCycle;
class SurveillanceTick;

class Robot {
 public:
  Robot(AppControl& app, RefreshCycle& refresh, SurveillanceTick& tick, Generation& generation);

  // The window's FormCreate: one run of the refresh cycle.
  void FormCreate();
  // One surveillance tick (timer, activation).
  void Timer1Timer();
  // One surveillance tick asked for by the host ("rafraîchit").
  void Button2Click();
  // One generation ("génère").
  void Button1Click();

  // A refresh, tick or generation is running.
  bool Busy() const { return m_busy; }

 private:
  // Marks the robot busy for one entry; an entry that may not start skips its work.
  class Entry {
   public:
    explicit Entry(Robot& robot);
    ~Entry();
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    bool granted() const { return m_granted; }

   private:
    Robot& m_robot;
    bool m_granted;
  };

  AppControl& m_app;
  RefreshCycle& m_refresh;
  SurveillanceTick& m_tick;
  Generation& m_generation;
  bool m_busy = false;
};

}  // namespace ventari
