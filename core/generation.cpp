#include "core/generation.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/backup.h"
#include "core/cache_makers.h"
#include "core/forced_turn.h"
#include "core/game_checks.h"
#include "core/records.h"
#include "core/refresh.h"
#include "core/turn_journal.h"
#include "mail/mailer.h"
#include "platform/app_control.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/long_wait.h"
#include "platform/process.h"
#include "stars/stars_file.h"

namespace ventari {

namespace {

constexpr char kParagraph[] = "\n\r\n\r";
constexpr char kDefaultLeagueSite[] = "http://www.stars-ligue.example/";

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

}  // namespace

std::string LeagueSiteAddress() {
  const char* site = std::getenv("VENTARI_LEAGUE_SITE");
  return site && *site ? site : kDefaultLeagueSite;
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

std::chrono::seconds GameTimeLimit() {
  return ReadGameTimeLimit(std::getenv("VENTARI_GAME_TIMEOUT")).limit;
}

Generation::Generation(ProgramRecords& records, ProgramRunner& runner, Mailer& mailer,
                       Dialogs& dialogs, AppControl& app, RefreshCycle& refresh,
                       std::string leagueSite, std::chrono::seconds gameTimeLimit)
    : m_records(records),
      m_runner(runner),
      m_mailer(mailer),
      m_dialogs(dialogs),
      m_app(app),
      m_refresh(refresh),
      m_leagueSite(std::move(leagueSite)),
      m_gameTimeLimit(gameTimeLimit) {}

std::string Generation::GameDir() const {
  return m_records.host.repJeu + "/" + m_records.game.gameName;
}

void Generation::Fail(const std::string& text, const std::string& details) {
  const std::string& g = m_records.game.gameName;
  LogEvent("error", "generation failed: " + text + (details.empty() ? "" : ": " + details));
  m_mailer.SendEmail(g + " human host", m_records.game.hostAddress, "ERREUR Ventari : jeu " + g,
                     "impossible de générer" +
                         (details.empty() ? std::string() : std::string(kParagraph) + details),
                     std::nullopt, std::nullopt);
  EndApplication(m_dialogs, m_app, text.c_str());
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

void Generation::Run(const std::optional<ForcedTurn>& forced) {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;
  const std::string& g = game.gameName;
  CheckGameSettings(game);
  const std::string journalPath = JournalPath(GameDir());
  // A turn already under way is finished, never generated a second time.
  if (FileExists(journalPath)) {
    if (Resume()) return;
    LogEvent("warning", "generation refused: the turn journal " + journalPath +
                            " cannot be used; --restore or its deletion lets the robot go on");
    return;
  }

  state.savedDir = GetCurrentDir();
  ScopedWorkingFolder inGame(state.savedDir, host.repJeu + "\\" + g);
  const std::string gameDir = GameDir();
  // Without a whole host file no result could be judged: the game is not run at all.
  stars::FileHeader before;
  if (!stars::ReadCompleteHostHeader(gameDir + "/" + g + ".hst", before)) {
    ++m_finished;
    LogEvent("error", "generation: no whole host file at " + gameDir + "/" + g + ".hst");
    return Fail("Stars! turn not generated !!!");
  }
  if (before.gameOver()) {
    ++m_finished;
    LogEvent("warning", "generation refused: the host file says the game is over");
    return;
  }

  // Who a forced turn leaves out is on disk before the turn: a generation taken up after a
  // restart tells them too. Any other generation leaves nobody out.
  try {
    if (forced) {
      ForcedTurn record = *forced;
      record.turn = before.turn;
      WriteForcedTurn(gameDir, record);
    } else {
      DeleteFileQuiet(ForcedTurnPath(gameDir));
    }
  } catch (const EInOutError& error) {
    ++m_finished;
    return Fail("Stars! turn journal not written " + ForcedTurnPath(gameDir) + ": " + error.what() +
                " !!!");
  }

  TurnJournal journal;
  journal.oldTurn = before.turn;
  journal.yearText = state.yearText;
  try {
    journal.backupDir = MakeGameBackup(gameDir, g, std::to_string(before.year()));
    // The first step on disk before anything of the game's changes.
    Record(journal, /*required=*/true);
  } catch (const BackupError& error) {
    ++m_finished;
    return Fail(error.what());  // the game is not run without a way back
  } catch (const EInOutError& error) {
    ++m_finished;
    return Fail("Stars! turn journal not written " + journalPath + ": " + error.what() + " !!!");
  }
  LogEvent("info", "generation: turn " + std::to_string(before.turn) + " of " + g +
                       " backed up in " + journal.backupDir);
  Drive(journal, Origin::kFresh);
}

bool Generation::JournalPending() const {
  return !m_records.game.gameName.empty() && FileExists(JournalPath(GameDir()));
}

bool Generation::Resume() {
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
      m_dialogs.ShowMessage(problem +
                            ". No turn is generated until it is dealt with: ventari --restore YEAR "
                            "puts the game back as a backup holds it, or delete the journal if "
                            "the turn was finished.");
    }
    return false;
  }
  if (!journal) return true;  // finished meanwhile
  m_journalProblemShown.clear();
  LogEvent("info", "generation: taking up the journal " + journalPath + " of turn " +
                       std::to_string(journal->oldTurn));
  Drive(*journal, Origin::kResumed);
  return true;
}

bool Generation::Stopping() const {
  // Asked to end in the middle: the journal keeps what is left for the next start.
  if (!m_app.EndRequested()) return false;
  LogEvent("info", "generation: stopped between two steps; the journal " + JournalPath(GameDir()) +
                       " keeps the rest for the next start");
  return true;
}

void Generation::Drive(TurnJournal& journal, Origin origin) {
  MonitorState& state = m_records.monitor;
  const std::string& g = m_records.game.gameName;
  const std::string journalPath = JournalPath(GameDir());
  struct Finished {
    unsigned& count;
    ~Finished() { ++count; }
  } finished{m_finished};
  if (origin == Origin::kResumed) state.savedDir = GetCurrentDir();
  ScopedWorkingFolder inGame(state.savedDir, m_records.host.repJeu + "\\" + g);

  if (!journal.restoring && !journal.gameDone) {
    std::string failure;
    if (PlayGame(journal, origin, failure)) {
      journal.gameDone = true;
      Record(journal);
      LogEvent("info", "generation: turn " + std::to_string(journal.oldTurn + 1) + " generated");
    } else {
      journal.restoring = true;
      journal.failure = failure;
      Record(journal);
    }
  }
  if (journal.restoring) {
    // Undone, never distributed: the orders are there again and the next tick generates.
    if (!Restore(journal)) return;
    if (!journal.failure.empty()) return Fail(journal.failure);
    inGame.Back();
    m_refresh.Run();
    return;
  }
  if (Stopping()) return;

  // The deadline read so far belongs to the turn just generated: no tick may act on it again,
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
    LogEvent("info",
             "generation: turn files published in " + m_records.host.publicationDir + "/" + g);
  }
  if (Stopping()) return;
  if (!MailPlayers(journal)) {
    // A player's mail failed: tried again at the next tick, the turn stays open till then.
    if (Stopping()) return;
    inGame.Back();
    m_refresh.Run();
    return;
  }
  if (Stopping()) return;
  if (!journal.reported) Report(journal);
  if (Stopping()) return;
  if (!journal.cachesDeleted) DropCaches(journal);
  if (!DeleteFileQuiet(journalPath)) {
    const int error = errno;
    if (FileExists(journalPath)) {
      LogEvent("error", "generation: the turn journal " + journalPath +
                            " could not be deleted: " + std::strerror(error));
      m_dialogs.ShowMessage("turn journal not deleted: " + journalPath);
    }
  }
  LogEvent("info", "generation: year " + journal.yearText + " done");
  inGame.Back();
  m_refresh.Run();
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

bool Generation::Restore(TurnJournal& journal) {
  try {
    RestoreGameBackup(journal.backupDir, GameDir(), m_records.game.gameName);
  } catch (const BackupError& error) {
    // Shown before any end, so the host can read it; the journal stays and the next start
    // finishes the restore.
    LogEvent("error", std::string("generation: backup not put back: ") + error.what());
    m_dialogs.ShowMessage(error.what());
    if (!journal.failure.empty()) Fail(journal.failure);
    return false;
  }
  DeleteFileQuiet(JournalPath(GameDir()));
  LogEvent("info", "generation: the game's files put back from " + journal.backupDir);
  return true;
}

std::optional<std::string> Generation::Publish() {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  const std::string& g = game.gameName;
  const std::string source = GameDir() + "/" + g;
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

bool Generation::MailPlayers(TurnJournal& journal) {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  const std::string& g = game.gameName;
  const std::string body = "génération faite, votre fichier .M est en attachement." +
                           std::string(kParagraph) + "Prochaine DL dans " +
                           std::to_string(game.hoursToDeadline) + "heures." + kParagraph +
                           "Consultez " + m_leagueSite + game.webFolder +
                           "/travail/ventari.php?jeu=" + g + kParagraph + "Ventari Robot";
  const std::string subject = g + " année " + journal.yearText;
  const std::optional<ForcedTurn> forced = ReadForcedTurn(GameDir(), journal.oldTurn);
  bool allServed = true;
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);  // row 13 raises the range error
    if (player.isComputer() || journal.Mailed(n) || journal.MailTries(n) >= kMailTries) continue;
    // A player left out of a forced turn hears why, once, before his turn.
    if (forced && journal.MailTries(n) == 0 &&
        std::find(forced->rows.begin(), forced->rows.end(), n) != forced->rows.end())
      m_mailer.SendEmail(
          player.name, player.address,
          g + " année " + journal.yearText + " : tour joué sans vos ordres",
          "vos ordres de l'année " + journal.yearText +
              " ne sont pas arrivés avant la date limite plus " + forced->hours + " heures." +
              kParagraph +
              "le tour a été joué sans eux : votre nouveau fichier de tour est joint, comme "
              "d'habitude, au mail du tour." +
              kParagraph + "Consultez " + m_leagueSite + game.webFolder +
              "/travail/ventari.php?jeu=" + g + kParagraph + "Ventari Robot",
          std::nullopt, std::nullopt);
    const std::string name = g + ".m" + std::to_string(n);
    const int result = m_mailer.SendEmail(player.name, player.address, subject, body,
                                          host.publicationDir + "\\" + g + "\\" + name, name);
    if (result == 0) {
      journal.mailed.push_back(n);
    } else {
      journal.mailFailures.push_back(n);
      const int tries = journal.MailTries(n);
      LogEvent("error", "generation: the turn mail of player " + std::to_string(n) + " (" +
                            player.name + ") failed, try " + std::to_string(tries) + " of " +
                            std::to_string(kMailTries) +
                            (tries < kMailTries ? "; tried again at the next tick" : ""));
      if (tries < kMailTries) allServed = false;
    }
    Record(journal);
    if (m_app.EndRequested()) return false;
  }
  return allServed;
}

void Generation::Report(TurnJournal& journal) {
  const GameSettings& game = m_records.game;
  const std::string& g = game.gameName;
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
  m_mailer.SendEmail(g + " human host", game.hostAddress,
                     "Ventari : jeu " + g + " année " + journal.yearText, body, std::nullopt,
                     std::nullopt);
  journal.reported = true;
  Record(journal);
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
    ReplaceFileContents(StaleDeadlineMarkPath(m_records), cache + "\r\n");
  } catch (const EInOutError& error) {
    // This run still knows; only a restart would trust the old deadline again.
    LogEvent("error",
             "generation: " + StaleDeadlineMarkPath(m_records) + " not written: " + error.what());
  }
}

}  // namespace ventari
