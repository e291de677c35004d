#include "core/turn/generation.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/game/cache_makers.h"
#include "core/game/game_checks.h"
#include "core/game/old_records.h"
#include "core/game/records.h"
#include "core/game/turn_record.h"
#include "core/turn/backup.h"
#include "core/turn/forced_turn.h"
#include "core/turn/turn_history.h"
#include "core/turn/turn_journal.h"
#include "mail/mailer.h"
#include "platform/app_control.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/long_wait.h"
#include "platform/process.h"
#include "stars/stars_file.h"

namespace ventari {

namespace {

// The game generated the turn: the host file went one turn on, in the same game, and every
// human player's turn file is his, of that game, that turn and that generation; each of them
// whole. The game's exit status says nothing reliable; its files do.
bool TurnGenerated(const GameSettings& game, const std::string& stem,
                   const stars::FileHeader& before) {
  stars::FileHeader after;
  if (!stars::ReadCompleteHostHeader(stem + ".hst", after) || after.gameId != before.gameId ||
      after.turn != before.turn + 1) {
    LogEvent("warning", "generation: the host file " + stem + ".hst is not the next turn, whole");
    return false;
  }
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);  // row 13 raises the range error
    if (player.isComputer()) continue;
    const std::string path = stem + ".m" + std::to_string(n);
    const stars::GameFileRead turnFile = stars::ReadGameFile(path);
    if (!turnFile.complete() || !stars::IsTurnFileFor(turnFile.header, after, n)) {
      LogEvent("warning", "generation: the turn file " + path + " is not player " +
                              std::to_string(n) + "'s of the new turn, whole");
      return false;
    }
  }
  return true;
}

// What sets a generation's mails apart from those of another generation of the same year: the
// backup's name, unique in the game folder, and the game's id, which a new game under an old
// name does not share.
std::string GenerationRound(const std::string& backupDir, const std::string& game) {
  std::string round = backupDir.substr(backupDir.find_last_of("/\\") + 1);
  stars::FileHeader header;
  if (stars::ReadHostHeader(backupDir + "/" + game + ".hst", header))
    round += "_" + std::to_string(header.gameId);
  return round;
}

}  // namespace

std::string LeagueSiteAddress() {
  const char* site = std::getenv("VENTARI_LEAGUE_SITE");
  return site && *site ? site : kExampleLeagueSite;
}

GameTimeLimitSetting ReadGameTimeLimit(const char* text) {
  GameTimeLimitSetting setting;
  if (text == nullptr || *text == '\0') return setting;
  const std::string value(text);
  const bool digits = value.size() <= 9 && std::all_of(value.begin(), value.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; });
  const long seconds = digits ? std::strtol(text, nullptr, 10) : 0;
  if (seconds >= 1 && seconds <= kLongestGameTimeLimit.count()) {
    setting.limit = std::chrono::seconds(seconds);
    return setting;
  }
  setting.problem = "VENTARI_GAME_TIMEOUT=" + value + " is not a number of seconds from 1 to " +
                    std::to_string(kLongestGameTimeLimit.count()) +
                    ": the game's time limit stays " +
                    std::to_string(kDefaultGameTimeLimit.count()) + " seconds";
  return setting;
}

long long MailRetrySecondsFromEnvironment() {
  const char* text = std::getenv("VENTARI_MAIL_RETRY_SECONDS");
  if (text == nullptr) return kDefaultMailRetrySeconds;
  const std::string value(text);
  const bool digits =
      !value.empty() && value.size() <= 4 &&
      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  const long long seconds = digits ? std::stoll(value) : -1;
  if (seconds >= 0 && seconds <= kLongestMailRetrySeconds) return seconds;
  LogEvent("warning",
           "VENTARI_MAIL_RETRY_SECONDS=" + value + " is not a number of seconds from 0 to " +
               std::to_string(kLongestMailRetrySeconds) + ": a failed mail is tried again after " +
               std::to_string(kDefaultMailRetrySeconds) + " seconds");
  return kDefaultMailRetrySeconds;
}

std::chrono::seconds GameTimeLimit() {
  return ReadGameTimeLimit(std::getenv("VENTARI_GAME_TIMEOUT")).limit;
}

Generation::Generation(ProgramRecords& records, ProgramRunner& runner, Mailer& mailer,
                       Dialogs& dialogs, AppControl& app, const Clock& clock, MailLink link,
                       std::chrono::seconds gameTimeLimit)
    : m_records(records),
      m_runner(runner),
      m_mailer(mailer),
      m_dialogs(dialogs),
      m_app(app),
      m_clock(clock),
      m_link(std::move(link)),
      m_gameTimeLimit(gameTimeLimit) {}

std::string Generation::GameDir() const {
  return m_records.host.repJeu + "/" + m_records.game.gameName;
}

TurnOutcome Generation::Fail(const std::string& text, const std::string& details) {
  const std::string& g = m_records.game.gameName;
  LogEvent("error", "generation failed: " + text + (details.empty() ? "" : ": " + details));
  m_mailer.SendEmail(g + " human host", m_records.game.hostAddress, "ERREUR Ventari : jeu " + g,
                     "impossible de générer" +
                         (details.empty() ? std::string() : std::string(kParagraph) + details),
                     // Each failure is news, even the same one after a restart: an id of its own.
                     std::nullopt, std::nullopt, std::nullopt);
  return {TurnOutcome::Kind::kFailed, text};
}

void Generation::TellUnusableJournal(const std::string& problem) {
  // Once for this problem, across restarts: the game stands still until the host acts.
  const std::string record = GameDir() + "/ventari-journal-told.txt";
  if (TurnRecordHolds(record, problem)) return;
  const std::string& g = m_records.game.gameName;
  KeepingWorkingFolder([&] {
    m_mailer.SendEmail(
        g + " human host", m_records.game.hostAddress, "ERREUR Ventari : jeu " + g,
        "journal du tour inutilisable, aucun tour n'est généré" + std::string(kParagraph) +
            problem + kParagraph +
            "ventari --restore ANNÉE remet la partie comme une sauvegarde la tient ; "
            "ou supprimez le journal si le tour était fini." +
            kParagraph + "le robot Ventari de service.",
        std::nullopt, std::nullopt, std::nullopt);
  });
  try {
    WriteTurnRecord(record, problem);
  } catch (const EInOutError& error) {
    LogEvent("error", "generation: " + record + " not written: " + error.what());
  }
}

std::string Generation::RetryText() const {
  return "; tried again at a look " + std::to_string(m_mailRetrySeconds) +
         " seconds on at the earliest";
}

long long Generation::NowSeconds() const { return EpochSeconds(m_clock.Now()); }

void Generation::GameDone(TurnJournal& journal) {
  journal.gameDone = true;
  Record(journal);
  NoteTurnPlayed(journal.oldTurn);
  NoteGenerationEnd(journal.oldTurn + 1);
  LogEvent("info", "generation: turn " + std::to_string(journal.oldTurn + 1) + " generated");
}

void Generation::NoteTurnPlayed(int played) {
  const MonitorState& state = m_records.monitor;
  // A league date the turn before already played is no deadline of this one.
  std::optional<long long> deadline;
  if (state.deadlineKnown && !DeadlineOfTurnPlayed(state.deadline, state.lastGenerationEnd))
    deadline = EpochSeconds(state.deadline);
  std::vector<int> humans;
  for (int row = 1; row <= m_records.game.playerCount; ++row)
    if (!m_records.game.player(row).isComputer()) humans.push_back(row);
  try {
    RecordTurnPlayed(GameDir(), played, deadline, NowSeconds(),
                     ReadForcedTurn(GameDir(), played).has_value(), humans);
  } catch (const EInOutError& error) {
    LogEvent("error", "generation: the turn played not recorded for its history: " +
                          std::string(error.what()));
  }
}

void Generation::NoteGenerationEnd(int newTurn) {
  // A forced turn's hours count from here too: kept on disk for a robot started again.
  m_records.monitor.lastGenerationEnd = NowSeconds();
  try {
    WriteLastGeneration(GameDir(), newTurn, *m_records.monitor.lastGenerationEnd);
  } catch (const EInOutError& error) {
    LogEvent("error", "generation: its end not recorded: " + std::string(error.what()) +
                          "; a robot started again counts from the deadline");
  }
  // The files an older robot kept its records in were kept until now.
  DropMovedRecords(GameDir());
}

bool Generation::TriedLately(const TurnJournal& journal, int row) const {
  const std::optional<long long> last = journal.LastTry(row);
  return last && NowSeconds() < *last + m_mailRetrySeconds;
}

void Generation::Record(const TurnJournal& journal, bool required) {
  const std::string path = JournalPath(GameDir());
  try {
    WriteJournal(path, journal);
  } catch (const EInOutError& error) {
    if (required) throw;
    // The turn goes on from memory; only a robot killed before its end repeats a step.
    if (!m_journalWriteLogged)
      LogEvent("error", "generation: the turn journal " + path + " not written: " + error.what() +
                            "; the turn goes on without it");
    m_journalWriteLogged = true;
  }
}

TurnOutcome Generation::Run(const std::optional<ForcedTurn>& forced) {
  const TurnOutcome outcome = Start(forced);
  if (outcome.kind != TurnOutcome::Kind::kJournalUnusable) ++m_finished;
  return outcome;
}

TurnOutcome Generation::Start(const std::optional<ForcedTurn>& forced) {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;
  const std::string& g = game.gameName;
  CheckGameSettings(game);
  const std::string journalPath = JournalPath(GameDir());
  // A turn already under way is finished, never generated a second time.
  if (FileExists(journalPath)) {
    const TurnOutcome outcome = TakeUp();
    if (outcome.kind == TurnOutcome::Kind::kJournalUnusable)
      LogEvent("warning", "generation refused: the turn journal " + journalPath +
                              " cannot be used; --restore or its deletion lets the robot go on");
    return outcome;
  }

  state.savedDir = GetCurrentDir();
  ScopedWorkingFolder inGame(state.savedDir, host.repJeu + "\\" + g);
  const std::string gameDir = GameDir();
  // Without a whole host file no result could be judged: the game is not run at all.
  stars::FileHeader before;
  if (!stars::ReadCompleteHostHeader(gameDir + "/" + g + ".hst", before)) {
    LogEvent("error", "generation: no whole host file at " + gameDir + "/" + g + ".hst");
    return Fail("Stars! turn not generated !!!");
  }
  if (before.gameOver()) {
    LogEvent("warning", "generation refused: the host file says the game is over");
    return {};
  }

  // Who a forced turn leaves out is on disk before the turn: a generation taken up after a
  // restart tells them too. Any other generation leaves nobody out.
  try {
    if (forced) {
      ForcedTurn record = *forced;
      record.turn = before.turn;
      WriteForcedTurn(gameDir, record);
    } else {
      ForgetForcedTurn(gameDir, before.turn);
    }
  } catch (const EInOutError& error) {
    return Fail("Stars! turn journal not written: " + std::string(error.what()) + " !!!");
  }

  TurnJournal journal;
  journal.oldTurn = before.turn;
  journal.yearText = state.yearText;
  try {
    journal.backupDir = MakeGameBackup(gameDir, g, std::to_string(before.year()));
    journal.round = GenerationRound(journal.backupDir, g);
    // The first step on disk before anything of the game's changes.
    Record(journal, /*required=*/true);
  } catch (const BackupError& error) {
    return Fail(error.what());  // the game is not run without a way back
  } catch (const EInOutError& error) {
    return Fail("Stars! turn journal not written " + journalPath + ": " + error.what() + " !!!");
  }
  LogEvent("info", "generation: turn " + std::to_string(before.turn) + " of " + g +
                       " backed up in " + journal.backupDir);
  return Drive(journal, Origin::kFresh);
}

bool Generation::JournalPending() const {
  return !m_records.game.gameName.empty() && FileExists(JournalPath(GameDir()));
}

TurnOutcome Generation::Resume() {
  const TurnOutcome outcome = TakeUp();
  if (outcome.kind != TurnOutcome::Kind::kJournalUnusable) ++m_finished;
  return outcome;
}

TurnOutcome Generation::TakeUp() {
  CheckGameSettings(m_records.game);
  const std::string journalPath = JournalPath(GameDir());
  std::optional<TurnJournal> journal;
  try {
    journal = ReadJournal(journalPath);
  } catch (const Exception& error) {
    // Shown once: every tick would otherwise raise the same box. The robot goes on watching.
    const std::string problem = error.what();
    if (problem != m_journalProblemShown) {
      m_journalProblemShown = problem;
      LogEvent("error", "generation: " + problem);
      TellUnusableJournal(problem);
      m_dialogs.ShowMessage(problem +
                            ". No turn is generated until it is dealt with: ventari --restore YEAR "
                            "puts the game back as a backup holds it, or delete the journal if "
                            "the turn was finished.");
    }
    return {TurnOutcome::Kind::kJournalUnusable, {}};
  }
  if (!journal) return {};  // finished meanwhile
  m_journalProblemShown.clear();
  // A turn whose only step left is a mail waiting for its next try says nothing until it tries.
  const std::string taken = "generation: taking up the journal " + journalPath + " of turn " +
                            std::to_string(journal->oldTurn);
  if (taken != m_takenUpLogged) LogEvent("info", taken);
  m_takenUpLogged = taken;
  return Drive(*journal, Origin::kResumed);
}

bool Generation::Stopping() const {
  // Asked to end in the middle: the journal keeps what is left for the next start.
  if (!m_app.EndRequested()) return false;
  LogEvent("info", "generation: stopped between two steps; the journal " + JournalPath(GameDir()) +
                       " keeps the rest for the next start");
  return true;
}

TurnOutcome Generation::Drive(TurnJournal& journal, Origin origin) {
  using Kind = TurnOutcome::Kind;
  MonitorState& state = m_records.monitor;
  const std::string journalPath = JournalPath(GameDir());
  if (origin == Origin::kResumed) state.savedDir = GetCurrentDir();
  ScopedWorkingFolder inGame(state.savedDir,
                             m_records.host.repJeu + "\\" + m_records.game.gameName);

  if (!journal.restoring && !journal.gameDone) {
    std::string failure;
    if (PlayGame(journal, origin, failure)) {
      GameDone(journal);
    } else {
      journal.restoring = true;
      journal.failure = failure;
      Record(journal);
    }
  }
  if (journal.restoring) {
    // Undone, never distributed: the orders are there again and the next look generates.
    if (const std::optional<std::string> problem = Restore(journal)) {
      // The robot ends; the journal stays and the next start finishes the restore.
      if (journal.noticeSent)
        return {Kind::kFailed, journal.failure.empty() ? *problem : journal.failure};
      TurnOutcome failed = Fail(journal.failure.empty() ? *problem : journal.failure);
      journal.noticeSent = true;
      Record(journal);
      return failed;
    }
    // A failure already told (a restore finished at this start) is not told twice.
    if (!journal.failure.empty() && !journal.noticeSent) return Fail(journal.failure);
    return {Kind::kUndone, {}};
  }
  if (Stopping()) return {Kind::kStopAsked, {}};

  // The deadline read so far belongs to the turn just generated: no look may act on it again,
  // nor on a cache of it that stays behind.
  state.deadlineKnown = false;
  state.deadlineCacheTrusted = false;
  if (!journal.published) {
    if (const std::optional<std::string> failure = Publish()) {
      // Nobody gets last turn's file as the new one: the journal stays at "not published" and
      // the next start publishes again.
      return Fail("Stars! turn files not published !!!", *failure);
    }
    journal.published = true;
    Record(journal);
    LogEvent("info", "generation: turn files published in " + m_records.host.publicationDir + "/" +
                         m_records.game.gameName);
  }
  if (Stopping()) return {Kind::kStopAsked, {}};
  switch (MailPlayers(journal)) {
    case MailRound::kStopAsked:
      return {Kind::kStopAsked, {}};
    case MailRound::kPending:
      return {Kind::kMailsPending, {}};  // tried again at a later look, a minute on at least
    case MailRound::kServed:
      break;
  }
  if (Stopping()) return {Kind::kStopAsked, {}};
  if (!journal.reported && !Report(journal)) return {Kind::kMailsPending, {}};
  if (Stopping()) return {Kind::kStopAsked, {}};
  if (!journal.cachesDeleted) DropCaches(journal);
  if (!DeleteFileQuiet(journalPath)) {
    const int error = errno;
    if (FileExists(journalPath)) {
      LogEvent("error", "generation: the turn journal " + journalPath +
                            " could not be deleted: " + std::strerror(error));
      m_dialogs.ShowMessage("turn journal not deleted: " + journalPath);
    }
  }
  NoteGenerationEnd(journal.oldTurn + 1);
  LogEvent("info", "generation: year " + journal.yearText + " done");
  m_lastYearPlayed = journal.yearText;
  NameThoseWithout(journal);
  return {Kind::kDone, {}};
}

bool Generation::PlayGame(TurnJournal& journal, Origin origin, std::string& failure) {
  const HostSettings& host = m_records.host;
  const std::string& g = m_records.game.gameName;
  const std::string source = GameDir() + "/" + g;
  stars::FileHeader before;
  if (!stars::ReadHostHeader(journal.backupDir + "/" + g + ".hst", before) ||
      before.turn != journal.oldTurn) {
    failure = origin == Origin::kFresh ? "Stars! turn not generated !!!" : "";
    return false;
  }
  if (origin == Origin::kResumed) {
    // A game recorded may still be writing its files: it is waited for, within its limit. With
    // none recorded it never ran its program, and its files say so.
    if (journal.gamePid != 0) {
      const ProcessIdentity game{journal.gamePid, journal.gameStart};
      const LongWait waiting("the game's run (pid " + std::to_string(game.pid) + ")");
      if (!WaitForProcessEnd(game, m_gameTimeLimit)) {
        LogEvent("warning", "generation: the game left running, pid " +
                                std::to_string(journal.gamePid) + ", ran past its time limit");
        EndProcessGroup(game);
      }
    }
    return TurnGenerated(m_records.game, source, before);
  }

  const std::string commandLine =
      host.binariesDir + "\\" + host.executableName + " -g " + QuoteArgument(g + ".hst");
  LogEvent("info", "generation: running " + NativePath(commandLine) + " in " + GameDir());
  std::string journalError;
  std::optional<LongWait> waiting;  // named for a stop asked for meanwhile
  // The game runs only once the journal holds its process: no game nobody waits for.
  const ProgramOutcome outcome =
      m_runner.RunProgramWithin(commandLine, m_gameTimeLimit, [&](const ProcessIdentity& process) {
        journal.gamePid = process.pid;
        journal.gameStart = process.startTime;
        try {
          Record(journal, /*required=*/true);
        } catch (const EInOutError& error) {
          journalError = error.what();
          return false;
        }
        LogEvent("info", "generation: the game runs, pid " + std::to_string(process.pid));
        waiting.emplace("the game's run (pid " + std::to_string(process.pid) + ")");
        return true;
      });
  waiting.reset();
  switch (outcome) {
    case ProgramOutcome::kNotStarted:
      failure = "Stars! EXE unlaunchable !!!";
      return false;
    case ProgramOutcome::kNotReleased:
      failure = "Stars! turn journal not written " + JournalPath(GameDir()) + ": " + journalError +
                " !!!";
      return false;
    case ProgramOutcome::kTimedOut:
      failure = "Stars! EXE ran past its time limit !!!";
      return false;
    case ProgramOutcome::kEnded:
      break;
  }
  if (TurnGenerated(m_records.game, source, before)) return true;
  failure = "Stars! turn not generated !!!";
  return false;
}

std::optional<std::string> Generation::Restore(TurnJournal& journal) {
  try {
    const RestoredFiles files =
        RestoreGameBackup(journal.backupDir, GameDir(), m_records.game.gameName);
    for (const std::string& name : files.kept)
      LogEvent("info", "generation: " + GameDir() + "/" + name +
                           " kept as it is: the order file changed after the backup was taken");
  } catch (const BackupError& error) {
    // Shown before any end, so the host can read it.
    LogEvent("error", std::string("generation: backup not put back: ") + error.what());
    m_dialogs.ShowMessage(error.what());
    return std::string(error.what());
  }
  DeleteFileQuiet(JournalPath(GameDir()));
  LogEvent("info", "generation: the game's files put back from " + journal.backupDir);
  return std::nullopt;
}

std::optional<std::string> PublishTurnFiles(const ProgramRecords& records) {
  const HostSettings& host = records.host;
  const GameSettings& game = records.game;
  const std::string& g = game.gameName;
  const std::string source = host.repJeu + "/" + g + "/" + g;
  const std::string published = host.publicationDir + "/" + g + "/" + g;
  std::vector<std::string> suffixes;
  for (int n = 1; n <= game.playerCount; ++n) {
    // A computer player's turn file is published when the game wrote one; a human's always is
    // (the game's run was judged by it).
    const bool computer = game.player(n).isComputer();
    const std::string suffix = ".m" + std::to_string(n);
    if (computer && !FileExists(source + suffix)) continue;
    suffixes.push_back(suffix);
  }
  suffixes.push_back(".hst");
  for (const std::string& suffix : suffixes) {
    const std::string target = published + suffix;
    if (!CopyFileOver(source + suffix, target))
      return "publication impossible : " + NativePath(target) + " : " + std::strerror(errno);
    // The copy read back: what the players get is what the game wrote.
    try {
      if (ReadWholeFile(target) != ReadWholeFile(source + suffix))
        return "publication impossible : " + NativePath(target) + " : copie différente";
    } catch (const EInOutError& error) {
      return "publication impossible : " + NativePath(target) + " : " + error.what();
    }
  }
  return std::nullopt;
}

std::optional<std::string> Generation::Publish() { return PublishTurnFiles(m_records); }

Generation::MailRound Generation::MailPlayers(TurnJournal& journal) {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  const std::string& g = game.gameName;
  const std::string link = LinkLine();
  // The hours to the deadline this turn will get: a weekly slot may be days away.
  const int hours = HoursToNextDeadline(m_schedule, NowSeconds(), game.hoursToDeadline);
  const std::string body = "génération faite, votre fichier .M est en attachement." +
                           std::string(kParagraph) + "Prochaine DL dans " + std::to_string(hours) +
                           "heures." + kParagraph + link;
  const std::string subject = g + " année " + journal.yearText;
  const std::optional<ForcedTurn> forced = ReadForcedTurn(GameDir(), journal.oldTurn);
  MailRound round = MailRound::kServed;
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);  // row 13 raises the range error
    if (player.isComputer() || journal.Mailed(n) || journal.MailTries(n) >= kMailTries) continue;
    if (TriedLately(journal, n)) {
      round = MailRound::kPending;
      continue;
    }
    // A player left out of a forced turn hears why, once, before his turn.
    if (forced && journal.MailTries(n) == 0 &&
        std::find(forced->rows.begin(), forced->rows.end(), n) != forced->rows.end())
      m_mailer.SendEmail(player.name, player.address,
                         g + " année " + journal.yearText + " : tour joué sans vos ordres",
                         "vos ordres de l'année " + journal.yearText +
                             " ne sont pas arrivés avant la date limite plus " + forced->hours +
                             " heures." + kParagraph +
                             "le tour a été joué sans eux : votre nouveau fichier de tour est "
                             "joint, comme d'habitude, au mail du tour." +
                             kParagraph + link,
                         std::nullopt, std::nullopt,
                         MailIdentity{g, journal.yearText, n, "forced", false, journal.round});
    const std::string name = g + ".m" + std::to_string(n);
    const int result = m_mailer.SendEmail(
        player.name, player.address, subject, body, host.publicationDir + "\\" + g + "\\" + name,
        name, MailIdentity{g, journal.yearText, n, "turn", false, journal.round});
    if (result == 0) {
      journal.mailed.push_back(n);
    } else {
      journal.mailFailures.push_back({n, NowSeconds()});
      const int tries = journal.MailTries(n);
      LogEvent("error", "generation: the turn mail of player " + std::to_string(n) + " (" +
                            player.name + ") failed, try " + std::to_string(tries) + " of " +
                            std::to_string(kMailTries) + (tries < kMailTries ? RetryText() : ""));
      if (tries < kMailTries) round = MailRound::kPending;
    }
    Record(journal);
    if (m_app.EndRequested()) return MailRound::kStopAsked;
  }
  return round;
}

bool Generation::Report(TurnJournal& journal) {
  const GameSettings& game = m_records.game;
  const std::string& g = game.gameName;
  if (TriedLately(journal, 0)) return false;
  std::string unserved;
  for (int n = 1; n <= game.playerCount; ++n)
    if (!game.player(n).isComputer() && !journal.Mailed(n))
      unserved += std::to_string(n) + "(" + game.player(n).name + ")";
  std::string body = "génération année " + journal.yearText + " faite, fichiers .M envoyés";
  if (const std::optional<ForcedTurn> forced = ReadForcedTurn(GameDir(), journal.oldTurn)) {
    std::string leftOut;
    for (int n : forced->rows) leftOut += std::to_string(n) + "(" + game.player(n).name + ")";
    body += kParagraph + ("tour forcé : joué sans les ordres de " + leftOut +
                          ", la date limite passée de plus de " + forced->hours + " heures");
  }
  if (!unserved.empty())
    body += kParagraph + ("sauf à " + unserved + " : fichier .M non envoyé après " +
                          std::to_string(kMailTries) + " essais");
  body += std::string(kParagraph) + "le robot Ventari de service.";
  const int result = m_mailer.SendEmail(
      g + " human host", game.hostAddress, "Ventari : jeu " + g + " année " + journal.yearText,
      body, std::nullopt, std::nullopt,
      MailIdentity{g, journal.yearText, 0, "report", false, journal.round});
  if (result != 0) {
    journal.mailFailures.push_back({0, NowSeconds()});
    const int tries = journal.MailTries(0);
    LogEvent("error", "generation: the host's report failed, try " + std::to_string(tries) +
                          " of " + std::to_string(kMailTries) +
                          (tries < kMailTries ? RetryText() : "; the turn ends without it"));
    if (tries < kMailTries) {
      Record(journal);
      return false;
    }
  }
  journal.reported = true;
  Record(journal);
  return true;
}

std::string Generation::LinkLine() const {
  return m_link.Paragraph(m_records.game) + "Ventari Robot";
}

void Generation::NameThoseWithout(const TurnJournal& journal) {
  m_without = {};
  const GameSettings& game = m_records.game;
  const std::optional<ForcedTurn> forced = ReadForcedTurn(GameDir(), journal.oldTurn);
  const std::string stem = journal.backupDir + "/" + game.gameName;
  stars::FileHeader before;
  if (journal.backupDir.empty() || !stars::ReadCompleteHostHeader(stem + ".hst", before)) return;
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);
    if (player.isComputer()) continue;
    if (forced && std::find(forced->rows.begin(), forced->rows.end(), n) != forced->rows.end()) {
      m_without.forced.push_back(player.name);
    } else if (stars::JudgeOrderFile(stem + ".x" + std::to_string(n), before, n).verdict !=
               stars::OrderVerdict::kIn) {
      m_without.late.push_back(player.name);
    }
  }
}

void Generation::DropCaches(TurnJournal& journal) {
  for (const std::string& cache : {YearCachePath(m_records), DeadlineCachePath(m_records)}) {
    if (DeleteFileQuiet(cache) || !FileExists(cache)) continue;
    if (cache == DeadlineCachePath(m_records)) MarkDeadlineStale(cache);
    m_dialogs.ShowMessage("cache file not deleted: " + cache);
  }
  journal.cachesDeleted = true;
  Record(journal);
}

void Generation::MarkDeadlineStale(const std::string& cache) {
  LogEvent("warning", "generation: the deadline cache " + cache +
                          " could not be deleted; it is not acted on until the host deletes it");
  try {
    MarkDeadlineCacheStale(m_records, cache);
  } catch (const EInOutError& error) {
    // This run still knows; only a restart would trust the old deadline again.
    LogEvent("error",
             std::string("generation: the stale deadline cache not recorded: ") + error.what());
  }
}

}  // namespace ventari
