#pragma once
// Turn generation: runs the game executable with "-g", publishes the turn files and the host
// file, mails each human player his turn file and the host a report, drops both caches and
// refreshes.

#include <chrono>
#include <string>

namespace ventari {

class AppControl;
class Dialogs;
class Mailer;
class ProgramRunner;
class RefreshCycle;
struct ProgramRecords;
struct TurnJournal;

inline constexpr std::chrono::seconds kDefaultGameTimeLimit{600};

// The game's time limit: VENTARI_GAME_TIMEOUT seconds when set, else ten minutes.
std::chrono::seconds GameTimeLimit();

// The league site address that opens the link line of the players' mails: VENTARI_LEAGUE_SITE
// when set, else the program's own.
std::string LeagueSiteAddress();

class Generation {
 public:
  Generation(ProgramRecords& records, ProgramRunner& runner, Mailer& mailer, Dialogs& dialogs,
             AppControl& app, RefreshCycle& refresh, std::string leagueSite,
             std::chrono::seconds gameTimeLimit = kDefaultGameTimeLimit);

  // One generation (the "génère" button): a backup, the game within its time limit, its files
  // judged, then the turn distributed; a journal records each step. Raises the runtime's errors.
  void Run();

  // A generation's journal is left in the per-game folder: a robot was killed in the middle.
  bool JournalPending() const;
  // Takes up that generation: the game's run judged by its files (or the backup put back), then
  // the steps not yet done. Ends with the refresh.
  void Resume();

 private:
  ProgramRecords& m_records;
  ProgramRunner& m_runner;
  Mailer& m_mailer;
  Dialogs& m_dialogs;
  AppControl& m_app;
  RefreshCycle& m_refresh;
  std::string GameDir() const;
  // The failure notice, the message and the end.
  void Fail(const std::string& text);
  // Puts the backup back and drops the journal; the error's text when it could not.
  std::string Restore(const TurnJournal& journal);
  void Distribute(TurnJournal& journal);
  bool Stopping() const;
  // Remembers on disk that the deadline cache left behind is the old turn's.
  void MarkDeadlineStale(const std::string& cache);

  std::string m_leagueSite;
  std::chrono::seconds m_gameTimeLimit;
};

}  // namespace ventari
