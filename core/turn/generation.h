#pragma once
// Turn generation: runs the game executable with "-g", publishes the turn files and the host
// file, mails each human player his turn file and the host a report, and drops both caches. The
// turn journal is the plan: a fresh generation records its first step and then runs exactly the
// code that finishes a turn left by a killed robot. It returns how the turn ended; what follows
// (the next turn's refresh, the end of the program) is the robot's to decide.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "core/game/mail_link.h"
#include "core/turn/forced_turn.h"
#include "core/turn/schedule.h"

namespace ventari {

class AppControl;
class Clock;
class Dialogs;
class Mailer;
class ProgramRunner;
struct ProgramRecords;
struct TurnJournal;

inline constexpr std::chrono::seconds kDefaultGameTimeLimit{600};
// A week: longer than any game, and far from what a wait can hold.
inline constexpr std::chrono::seconds kLongestGameTimeLimit{7 * 24 * 3600};
// Tries of one player's turn mail (and of the host's report) in one turn, spaced in time: a
// look that comes sooner (a file arriving) does not spend a try.
inline constexpr int kMailTries = 3;
inline constexpr long long kDefaultMailRetrySeconds = 60;
inline constexpr long long kLongestMailRetrySeconds = 3600;

// VENTARI_MAIL_RETRY_SECONDS: the seconds between two tries of a failed mail, 0 (at the next
// look) to an hour; unset or another value (logged): a minute.
long long MailRetrySecondsFromEnvironment();

// How a generation came to its end.
struct TurnOutcome {
  enum class Kind {
    kNothing,          // nothing done: the game is over
    kJournalUnusable,  // a journal is there that cannot be used (shown once); nothing done
    kDone,             // generated, published, mailed and reported: the turn is over
    kMailsPending,     // generated and published; a mail waits for its next try
    kUndone,           // the game's files put back, the failure (if any) already told
    kFailed,           // the host was sent the failure notice; the robot ends with `failure`
    kStopAsked,        // the robot is ending; the journal keeps the rest for the next start
  };
  Kind kind = Kind::kNothing;
  std::string failure;  // kFailed: the text the robot ends with

  // The game's files show the next turn.
  bool generated() const { return kind == Kind::kDone || kind == Kind::kMailsPending; }
};

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

// Copies every turn file (a computer player's when the game wrote one) and the host file to the
// publication folder, each read back; the failure's text in French, or nothing.
std::optional<std::string> PublishTurnFiles(const ProgramRecords& records);

class Generation {
 public:
  // `clock` spaces the tries of a failed mail.
  Generation(ProgramRecords& records, ProgramRunner& runner, Mailer& mailer, Dialogs& dialogs,
             AppControl& app, const Clock& clock, MailLink link,
             std::chrono::seconds gameTimeLimit = kDefaultGameTimeLimit);

  // One generation (the "génère" button): a backup, the journal, then the turn's steps; a
  // journal already there is taken up instead. Raises the runtime's errors.
  // `forced`: the turn is generated without the orders of its rows (their players are told).
  TurnOutcome Run(const std::optional<ForcedTurn>& forced = std::nullopt);

  // A journal is left in the per-game folder: a robot was killed in the middle, a mail is to be
  // tried again, or the journal is damaged.
  bool JournalPending() const;
  // Takes up that generation from its last recorded step. kJournalUnusable when the journal
  // cannot be used: that is shown once (and the host mailed once), and no generation runs until
  // the host deals with it.
  TurnOutcome Resume();

  // The players whose orders the last turn done went without: left out by a forced turn, or
  // late when the host had it generated.
  struct Without {
    std::vector<std::string> forced;
    std::vector<std::string> late;
  };
  const Without& LastTurnWithout() const { return m_without; }
  // The year the last turn done played, as its mails' subjects name it.
  const std::string& LastYearPlayed() const { return m_lastYearPlayed; }

  // How the next deadline is set (the league's, until told): the turn mail's hours.
  void SetSchedule(const Schedule& schedule) { m_schedule = schedule; }

  // Generations that have come to an end, whichever way (the guard against queued clicks).
  unsigned finishedCount() const { return m_finished; }

 private:
  enum class Origin { kFresh, kResumed };
  enum class MailRound { kServed, kPending, kStopAsked };
  TurnOutcome Start(const std::optional<ForcedTurn>& forced);
  TurnOutcome TakeUp();
  // The one road through a turn, from the journal's last step to its end: every way out of a
  // turn is one of its returns.
  TurnOutcome Drive(TurnJournal& journal, Origin origin);
  // Runs the game (fresh) or waits for the one a killed robot left (resumed); true when the
  // game's files show the next turn.
  bool PlayGame(TurnJournal& journal, Origin origin, std::string& failure);
  // The backup put back and the journal dropped; the problem (shown) when it could not be.
  std::optional<std::string> Restore(TurnJournal& journal);
  // Copies every turn file and the host file, each checked; the failure's text, or nothing.
  std::optional<std::string> Publish();
  // Mails the players not yet served whose next try is due.
  MailRound MailPlayers(TurnJournal& journal);
  // The host's report; false when it failed and is to be tried again later.
  bool Report(TurnJournal& journal);
  // A failed try of `row`'s mail (0: the report) was made less than a minute ago.
  bool TriedLately(const TurnJournal& journal, int row) const;
  long long NowSeconds() const;
  std::string RetryText() const;  // when a failed mail is tried again, for the log
  // Remembers when the generation of `newTurn` ended, here and on disk.
  void NoteGenerationEnd(int newTurn);
  // For the players' history: its deadline, whether forced, who was left out.
  void NoteTurnPlayed(int played);
  // The game ran and its files are right: recorded, noted, logged.
  void GameDone(TurnJournal& journal);
  // The players' mails' last lines: the league page's link and the signature.
  std::string LinkLine() const;
  void DropCaches(TurnJournal& journal);
  // The players the turn went without, judged on the backup taken before the game ran.
  void NameThoseWithout(const TurnJournal& journal);
  // Records the step. Before the game, a failure stops the generation (raised); after it, the
  // turn goes on from memory and the failure is logged.
  void Record(const TurnJournal& journal, bool required = false);
  // The failure notice to the host; the robot ends with `text`.
  TurnOutcome Fail(const std::string& text, const std::string& details = {});
  // The host told, once, that the journal cannot be used.
  void TellUnusableJournal(const std::string& problem);
  bool Stopping() const;
  // Remembers on disk that the deadline cache left behind is the old turn's.
  void MarkDeadlineStale(const std::string& cache);
  std::string GameDir() const;

  ProgramRecords& m_records;
  ProgramRunner& m_runner;
  Mailer& m_mailer;
  Dialogs& m_dialogs;
  AppControl& m_app;
  const Clock& m_clock;
  MailLink m_link;
  std::chrono::seconds m_gameTimeLimit;
  long long m_mailRetrySeconds = MailRetrySecondsFromEnvironment();
  // How the next deadline is set: the turn mail gives the hours to it.
  Schedule m_schedule;
  unsigned m_finished = 0;
  Without m_without;
  std::string m_lastYearPlayed;
  std::string m_journalProblemShown;  // the unusable journal's problem, shown once
  std::string m_takenUpLogged;        // the last take-up logged
  bool m_journalWriteLogged = false;
};

}  // namespace ventari
