#pragma once
// Turn generation: runs the game executable with "-g", publishes the turn files and the host
// file, mails each human player his turn file and the host a report, drops both caches and
// refreshes. The turn journal is the plan: a fresh generation records its first step and then
// runs exactly the code that finishes a turn left by a killed robot.

#include <chrono>
#include <optional>
#include <string>

#include "core/forced_turn.h"

namespace ventari {

class AppControl;
class Dialogs;
class Mailer;
class ProgramRunner;
class RefreshCycle;
struct ProgramRecords;
struct TurnJournal;

inline constexpr std::chrono::seconds kDefaultGameTimeLimit{600};
// A week: longer than any game, and far from what a wait can hold.
inline constexpr std::chrono::seconds kLongestGameTimeLimit{7 * 24 * 3600};
// Tries of one player's turn mail in one turn.
inline constexpr int kMailTries = 3;

struct GameTimeLimitSetting {
  std::chrono::seconds limit = kDefaultGameTimeLimit;
  std::string problem;  // a value that was refused, said plainly; empty when none
};

// The game's time limit: VENTARI_GAME_TIMEOUT seconds (1 to a week) when set, else ten minutes.
GameTimeLimitSetting ReadGameTimeLimit(const char* text);
std::chrono::seconds GameTimeLimit();

// The league site address that opens the link line of the players' mails: VENTARI_LEAGUE_SITE
// when set, else the program's own.
std::string LeagueSiteAddress();

class Generation {
 public:
  Generation(ProgramRecords& records, ProgramRunner& runner, Mailer& mailer, Dialogs& dialogs,
             AppControl& app, RefreshCycle& refresh, std::string leagueSite,
             std::chrono::seconds gameTimeLimit = kDefaultGameTimeLimit);

  // One generation (the "génère" button): a backup, the journal, then the turn's steps. Raises
  // the runtime's errors.
  // `forced`: the turn is generated without the orders of its rows (their players are told).
  void Run(const std::optional<ForcedTurn>& forced = std::nullopt);

  // A journal is left in the per-game folder: a robot was killed in the middle, a player's mail
  // is to be tried again, or the journal is damaged.
  bool JournalPending() const;
  // Takes up that generation from its last recorded step. False when the journal cannot be
  // used: that is shown once, and no generation runs until the host deals with it.
  bool Resume();

  // Generations that have come to an end, whichever way (the guard against queued clicks).
  unsigned finishedCount() const { return m_finished; }

 private:
  enum class Origin { kFresh, kResumed };
  // The one road through a turn, from the journal's last step to its end.
  void Drive(TurnJournal& journal, Origin origin);
  // Runs the game (fresh) or waits for the one a killed robot left (resumed); true when the
  // game's files show the next turn.
  bool PlayGame(TurnJournal& journal, Origin origin, std::string& failure);
  // The backup put back and the journal dropped; false (shown) when it could not be.
  bool Restore(TurnJournal& journal);
  // Copies every turn file and the host file, each checked; the failure's text, or nothing.
  std::optional<std::string> Publish();
  // Mails the players not yet served; false when one is to be tried again later.
  bool MailPlayers(TurnJournal& journal);
  void Report(TurnJournal& journal);
  void DropCaches(TurnJournal& journal);
  // Records the step. Before the game, a failure stops the generation (raised); after it, the
  // turn goes on from memory and the failure is logged.
  void Record(const TurnJournal& journal, bool required = false);
  // The failure notice, the message and the end.
  void Fail(const std::string& text, const std::string& details = {});
  bool Stopping() const;
  // Remembers on disk that the deadline cache left behind is the old turn's.
  void MarkDeadlineStale(const std::string& cache);
  std::string GameDir() const;

  ProgramRecords& m_records;
  ProgramRunner& m_runner;
  Mailer& m_mailer;
  Dialogs& m_dialogs;
  AppControl& m_app;
  RefreshCycle& m_refresh;
  std::string m_leagueSite;
  std::chrono::seconds m_gameTimeLimit;
  unsigned m_finished = 0;
  std::string m_journalProblemShown;  // the unusable journal's problem, shown once
  bool m_journalWriteLogged = false;
};

}  // namespace ventari
