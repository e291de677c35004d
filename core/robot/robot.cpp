#include "core/robot/robot.h"

#include "core/game/cache_makers.h"
#include "core/game/records.h"
#include "core/game/store_guard.h"
#include "core/players/events.h"
#include "core/robot/tick.h"
#include "core/turn/generation.h"
#include "core/turn/refresh.h"
#include "platform/app_control.h"
#include "platform/errors.h"
#include "platform/event_log.h"

namespace ventari {

Robot::Entry::Entry(Robot& robot)
    : m_robot(robot),
      m_granted(!robot.m_busy && !robot.m_app.EndRequested()),
      m_generationsBefore(robot.m_generation.finishedCount()) {
  if (m_granted) m_robot.m_busy = true;
}

Robot::Entry::~Entry() {
  if (!m_granted) return;
  m_robot.m_busy = false;
  if (m_robot.m_generation.finishedCount() != m_generationsBefore)
    m_robot.m_lastGenerationEnd = std::chrono::steady_clock::now();
}

Robot::Robot(ProgramRecords& records, AppControl& app, Dialogs& dialogs, RefreshCycle& refresh,
             SurveillanceTick& tick, Generation& generation)
    : m_records(records),
      m_app(app),
      m_dialogs(dialogs),
      m_refresh(refresh),
      m_tick(tick),
      m_generation(generation) {
  // Nothing of a game is fetched, run or read before its folder is ours.
  m_refresh.SetGameFolderGuard([this] { return HoldGameLock(); });
}

bool Robot::HoldGameLock() {
  const std::string& game = m_records.game.gameName;
  if (game.empty()) return true;  // no game read yet: nothing can act on one
  const std::string folder = m_records.host.repJeu + "/" + game;
  if (m_lock.held() && m_lock.folder() == folder) return !m_storeGuard || m_storeGuard->Usable();
  FolderLock::Held holder;
  FolderLock lock;
  try {
    lock = FolderLock::Acquire(folder, &holder);
  } catch (const EInOutError& error) {
    // A folder where no lock can be made is one where no turn could be recorded either.
    LogEvent("error", "the lock " + LockFilePath(folder) + " cannot be made: " + error.what());
    throw;
  }
  if (!lock.held()) {
    LogEvent("error", "another robot runs on " + folder + ": process " +
                          std::to_string(holder.pid) + " holds " + holder.path);
    EndApplication(m_dialogs, m_app,
                   ("another Ventari robot runs on the game folder " + folder + " (process " +
                    std::to_string(holder.pid) + ") !!!")
                       .c_str());
    return false;
  }
  m_lock = std::move(lock);
  LogEvent("info", "game folder locked: " + LockFilePath(folder));
  return !m_storeGuard || m_storeGuard->Usable();
}

bool Robot::ResumeTurn() {
  if (!m_generation.JournalPending()) return false;
  const TurnOutcome outcome = m_generation.Resume();
  if (outcome.kind == TurnOutcome::Kind::kJournalUnusable) return false;
  Follow(outcome);
  return true;
}

void Robot::Follow(const TurnOutcome& outcome) {
  // Every way out of a turn, and what the robot does next.
  switch (outcome.kind) {
    case TurnOutcome::Kind::kDone:
    case TurnOutcome::Kind::kMailsPending:
    case TurnOutcome::Kind::kUndone:
      // The next turn's deadline and year (or the same turn's again, once undone).
      m_refresh.Run();
      // Every mail of the turn went: the event command hears of it with the new deadline.
      if (outcome.kind == TurnOutcome::Kind::kDone && m_events) {
        const MonitorState& monitor = m_records.monitor;
        m_events->Send(events::Turn(
            m_records.game.gameName, m_generation.LastYearPlayed(), monitor.yearText,
            monitor.deadlineKnown ? std::optional<std::string>(monitor.deadlineText) : std::nullopt,
            m_generation.LastTurnWithout().forced, m_generation.LastTurnWithout().late));
      }
      return;
    case TurnOutcome::Kind::kFailed:
      // The failure notice went to the host.
      if (m_events) m_events->Send(events::Failure(m_records.game.gameName, outcome.failure));
      EndApplication(m_dialogs, m_app, outcome.failure.c_str());
      return;
    case TurnOutcome::Kind::kNothing:
    case TurnOutcome::Kind::kJournalUnusable:
    case TurnOutcome::Kind::kStopAsked:
      return;
  }
}

void Robot::Look(bool hostAsked) {
  if (const std::optional<GenerationDue> due = m_tick.Run(hostAsked))
    Follow(m_generation.Run(due->forced));
}

void Robot::FormCreate() {
  Entry entry(*this);
  if (!entry.granted()) return;
  m_refresh.Run();
  if (m_app.EndRequested() || !HoldGameLock()) return;
  // A generation cut off by a killed robot is finished before any tick.
  ResumeTurn();
}

void Robot::JudgeAfterGeneration(unsigned generationsBefore) {
  if (m_generation.finishedCount() == generationsBefore) return;
  // At once: the window must not show the old turn's state beside the new year. A generation
  // never starts another in the same look: one due again waits for the next look.
  Entry entry(*this);
  if (!entry.granted() || !HoldGameLock()) return;
  if (m_tick.Run()) {
    LogEvent("info", "another generation is due right after this one: left to the next look");
    m_refresh.Run();
  }
}

void Robot::Timer1Timer() {
  const unsigned generationsBefore = m_generation.finishedCount();
  {
    Entry entry(*this);
    if (!entry.granted() || !HoldGameLock()) return;
    if (!ResumeTurn()) Look(/*hostAsked=*/false);
  }
  JudgeAfterGeneration(generationsBefore);
}

void Robot::FileChanged() {
  const unsigned generationsBefore = m_generation.finishedCount();
  {
    Entry entry(*this);
    if (!entry.granted() || !HoldGameLock()) return;
    if (ResumeTurn()) return;
    m_refresh.Run();
    // The settings may name another game now: its folder must be ours first.
    if (m_app.EndRequested() || !HoldGameLock()) return;
    Look(/*hostAsked=*/false);
  }
  JudgeAfterGeneration(generationsBefore);
}

void Robot::Button2Click() {
  const unsigned generationsBefore = m_generation.finishedCount();
  {
    Entry entry(*this);
    if (!entry.granted() || !HoldGameLock()) return;
    if (!ResumeTurn()) Look(/*hostAsked=*/true);
  }
  JudgeAfterGeneration(generationsBefore);
}

void Robot::Button1Click(std::optional<EventTime> clickTime) {
  const unsigned generationsBefore = m_generation.finishedCount();
  GenerateOnClick(clickTime);
  JudgeAfterGeneration(generationsBefore);
}

void Robot::GenerateOnClick(std::optional<EventTime> clickTime) {
  Entry entry(*this);
  if (!entry.granted()) {
    // A box of the running generation (or tick) dispatched the click: it is not a new wish.
    if (m_busy) LogEvent("info", "\"génère\" clicked while the robot was busy: click dropped");
    return;
  }
  if (clickTime && m_lastGenerationEnd && *clickTime < *m_lastGenerationEnd) {
    LogEvent("info", "\"génère\" clicked while the last generation ran: click dropped");
    return;
  }
  if (!HoldGameLock()) return;
  // A turn half distributed is finished, never generated a second time.
  if (m_generation.JournalPending()) {
    if (!ResumeTurn()) LogEvent("warning", "\"génère\" refused: the turn journal cannot be used");
    return;
  }
  Follow(m_generation.Run());
}

}  // namespace ventari
