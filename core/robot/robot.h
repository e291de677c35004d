#pragma once
// The three entries of the robot (refresh, tick, generation) and the guard they share: none
// runs inside another one, none acts once the application has been asked to end, and none acts
// on a game folder whose lock another robot holds.

#include <chrono>
#include <optional>
#include <string>

#include "platform/folder_lock.h"

namespace ventari {

class AppControl;
class Dialogs;
class EventSink;
class Generation;
class RefreshCycle;
class StoreGuard;
class SurveillanceTick;
struct ProgramRecords;
struct TurnOutcome;

class Robot {
 public:
  using EventTime = std::chrono::steady_clock::time_point;

  Robot(ProgramRecords& records, AppControl& app, Dialogs& dialogs, RefreshCycle& refresh,
        SurveillanceTick& tick, Generation& generation);
  Robot(const Robot&) = delete;
  Robot& operator=(const Robot&) = delete;

  // The window's FormCreate: one run of the refresh cycle, the game folder's lock, and a turn
  // left by a killed robot taken up.
  void FormCreate();
  // One surveillance tick (timer, activation).
  void Timer1Timer();
  // A look after a file of the game changed: the settings and caches read anew first, so that
  // the tick judges what just changed, not what the last refresh read.
  void FileChanged();
  // One surveillance tick asked for by the host ("rafraîchit").
  void Button2Click();
  // One generation ("génère"). A click made before the last generation ended (queued while the
  // window was frozen) is dropped: one click, one turn.
  void Button1Click(std::optional<EventTime> clickTime = std::nullopt);

  // Hears of each turn and of each failure that ends the robot; null: nobody.
  void SetEvents(EventSink* events) { m_events = events; }
  // Says whether the game's store can be used; no entry acts on a game whose store cannot.
  void SetStoreGuard(StoreGuard* guard) { m_storeGuard = guard; }

  // Lets the game folder go, as the end of the process would.
  void ReleaseGameLock() { m_lock = FolderLock(); }

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
    unsigned m_generationsBefore;
  };

  // Holds the lock on the current game's folder; false (the application ending) when another
  // robot holds it, and false while the game's store cannot be used.
  bool HoldGameLock();
  // A turn left in the journal is taken up; false when there is none or it cannot be used.
  bool ResumeTurn();
  void GenerateOnClick(std::optional<EventTime> clickTime);
  // One tick, and the generation it finds due.
  void Look(bool hostAsked);
  // What follows a generation's end: the refresh of the next turn, or the end of the program.
  void Follow(const TurnOutcome& outcome);
  // After an entry that generated a turn, one tick judges the new turn.
  void JudgeAfterGeneration(unsigned generationsBefore);

  ProgramRecords& m_records;
  AppControl& m_app;
  Dialogs& m_dialogs;
  RefreshCycle& m_refresh;
  SurveillanceTick& m_tick;
  Generation& m_generation;
  FolderLock m_lock;
  EventSink* m_events = nullptr;
  StoreGuard* m_storeGuard = nullptr;
  bool m_busy = false;
  std::optional<EventTime> m_lastGenerationEnd;
};

}  // namespace ventari
