#include "core/generation.h"

#include <algorithm>
#include <cstdlib>

#include "core/backup.h"
#include "core/cache_makers.h"
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
#include "platform/process.h"
#include "stars/stars_file.h"

namespace ventari {

namespace {

constexpr char kParagraph[] = "\n\r\n\r";
constexpr char kDefaultLeagueSite[] = "http://www.stars-ligue.example/";

// The game generated the turn: the host file went one turn on, in the same game, and every
// human player's turn file is his, of that game and that turn. The game's exit status says
// nothing reliable; its files do.
bool TurnGenerated(const GameSettings& game, const std::string& stem,
                   const stars::FileHeader& before) {
  stars::FileHeader after;
  if (!stars::ReadHostHeader(stem + ".hst", after) || after.gameId != before.gameId ||
      after.turn != before.turn + 1)
    return false;
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);  // row 13 raises the range error
    if (player.isComputer()) continue;
    stars::FileHeader turnFile;
    if (stars::ReadFileHeader(stem + ".m" + std::to_string(n), turnFile) !=
            stars::HeaderRead::kOk ||
        !stars::IsTurnFileFor(turnFile, after, n))
      return false;
  }
  return true;
}

}  // namespace

std::string LeagueSiteAddress() {
  const char* site = std::getenv("VENTARI_LEAGUE_SITE");
  return site && *site ? site : kDefaultLeagueSite;
}

std::chrono::seconds GameTimeLimit() {
  const char* text = std::getenv("VENTARI_GAME_TIMEOUT");
  if (text && *text) {
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (*end == '\0' && seconds > 0) return std::chrono::seconds(seconds);
  }
  return kDefaultGameTimeLimit;
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

void Generation::Fail(const std::string& text) {
  const std::string& g = m_records.game.gameName;
  LogEvent("error", "generation failed: " + text);
  m_mailer.SendEmail(g + " human host", m_records.game.hostAddress, "ERREUR Ventari : jeu " + g,
                     "impossible de générer", std::nullopt, std::nullopt);
  EndApplication(m_dialogs, m_app, text.c_str());
}

void Generation::Run() {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;
  const std::string& g = game.gameName;
  CheckGameSettings(game);

  state.savedDir = GetCurrentDir();
  SetCurrentDir(host.repJeu + "\\" + g);

  const std::string gameDir = GameDir();
  const std::string source = gameDir + "/" + g;
  // Without a readable host file no result could be judged: the game is not run at all.
  stars::FileHeader before;
  if (!stars::ReadHostHeader(source + ".hst", before)) return Fail("Stars! turn not generated !!!");

  TurnJournal journal;
  journal.oldTurn = before.turn;
  journal.yearText = state.yearText;
  try {
    journal.backupDir = MakeGameBackup(gameDir, g, std::to_string(before.year()));
  } catch (const BackupError& error) {
    return Fail(error.what());  // the game is not run without a way back
  }
  const std::string journalPath = JournalPath(gameDir);
  WriteJournal(journalPath, journal);
  LogEvent("info", "generation: turn " + std::to_string(before.turn) + " of " + g +
                       " backed up in " + journal.backupDir);

  const std::string commandLine =
      host.binariesDir + "\\" + host.executableName + " -g " + QuoteArgument(g + ".hst");
  LogEvent("info", "generation: running " + commandLine + " in " + gameDir);
  const ProgramOutcome outcome =
      m_runner.RunProgramWithin(commandLine, m_gameTimeLimit, [&](const ProcessIdentity& process) {
        journal.gamePid = process.pid;
        journal.gameStart = process.startTime;
        WriteJournal(journalPath, journal);
        LogEvent("info", "generation: the game runs, pid " + std::to_string(process.pid));
      });
  if (outcome != ProgramOutcome::kEnded || !TurnGenerated(game, source, before)) {
    // The next try starts from the same files.
    const std::string restoreError = Restore(journal);
    Fail(outcome == ProgramOutcome::kNotStarted ? "Stars! EXE unlaunchable !!!"
         : outcome == ProgramOutcome::kTimedOut ? "Stars! EXE ran past its time limit !!!"
                                                : "Stars! turn not generated !!!");
    if (!restoreError.empty()) m_dialogs.ShowMessage(restoreError);
    return;
  }
  journal.gameDone = true;
  WriteJournal(journalPath, journal);
  LogEvent("info", "generation: turn " + std::to_string(before.turn + 1) + " generated");
  if (Stopping()) return;
  Distribute(journal);
}

bool Generation::Stopping() const {
  // Asked to end in the middle: the journal keeps what is left for the next start.
  if (!m_app.EndRequested()) return false;
  LogEvent("info", "generation: stopped between two steps; the journal " + JournalPath(GameDir()) +
                       " keeps the rest for the next start");
  return true;
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

std::string Generation::Restore(const TurnJournal& journal) {
  try {
    RestoreGameBackup(journal.backupDir, GameDir(), m_records.game.gameName);
  } catch (const BackupError& error) {
    LogEvent("error", std::string("generation: backup not put back: ") + error.what());
    return error.what();  // the journal stays: the next start tries again
  }
  DeleteFileQuiet(JournalPath(GameDir()));
  LogEvent("info", "generation: the game's files put back from " + journal.backupDir);
  return {};
}

bool Generation::JournalPending() const {
  return !m_records.game.gameName.empty() && FileExists(JournalPath(GameDir()));
}

void Generation::Resume() {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;
  const std::string& g = game.gameName;
  CheckGameSettings(game);
  const std::string journalPath = JournalPath(GameDir());
  std::optional<TurnJournal> journal = ReadJournal(journalPath);
  if (!journal) return;
  LogEvent("info", "generation: taking up the journal " + journalPath + " of turn " +
                       std::to_string(journal->oldTurn));

  state.savedDir = GetCurrentDir();
  SetCurrentDir(host.repJeu + "\\" + g);
  if (!journal->gameDone) {
    // The killed robot's game may still be writing its files: wait for it, within its limit.
    if (journal->gamePid != 0) {
      const ProcessIdentity game{journal->gamePid, journal->gameStart};
      if (!WaitForProcessEnd(game, m_gameTimeLimit)) {
        LogEvent("warning", "generation: the game left running, pid " +
                                std::to_string(journal->gamePid) + ", ran past its time limit");
        EndProcessGroup(game);
      }
    }
    const std::string source = GameDir() + "/" + g;
    stars::FileHeader before;
    const bool generated = stars::ReadHostHeader(journal->backupDir + "/" + g + ".hst", before) &&
                           before.turn == journal->oldTurn && TurnGenerated(game, source, before);
    if (!generated) {
      // Back as before the game ran: the orders are there again and the next tick generates.
      const std::string restoreError = Restore(*journal);
      if (!restoreError.empty()) m_dialogs.ShowMessage(restoreError);
      SetCurrentDir(state.savedDir);
      m_refresh.Run();
      return;
    }
    journal->gameDone = true;
    WriteJournal(journalPath, *journal);
  }
  Distribute(*journal);
}

void Generation::Distribute(TurnJournal& journal) {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;
  const std::string& g = game.gameName;
  const std::string hostName = g + " human host";
  const std::string journalPath = JournalPath(GameDir());
  // The deadline read so far belongs to the turn just generated: no tick may act on it again,
  // nor on a cache of it that stays behind.
  state.deadlineKnown = false;
  state.deadlineCacheTrusted = false;

  const std::string source = GameDir() + "/" + g;
  const std::string published = host.publicationDir + "/" + g + "/" + g;
  if (!journal.published) {
    for (int n = 1; n <= game.playerCount; ++n) {
      const std::string suffix = ".m" + std::to_string(n);
      CopyFileOver(source + suffix, published + suffix);  // outcome not looked at
    }
    CopyFileOver(source + ".hst", published + ".hst");
    journal.published = true;
    WriteJournal(journalPath, journal);
    LogEvent("info", "generation: turn files published in " + host.publicationDir + "/" + g);
  }
  if (Stopping()) return;

  const std::string body = "génération faite, votre fichier .M est en attachement." +
                           std::string(kParagraph) + "Prochaine DL dans " +
                           std::to_string(game.hoursToDeadline) + "heures." + kParagraph +
                           "Consultez " + m_leagueSite + game.webFolder +
                           "/travail/ventari.php?jeu=" + g + kParagraph + "Ventari Robot";
  const std::string subject = g + " année " + journal.yearText;
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);  // row 13 raises the range error
    if (player.isComputer()) continue;
    if (std::find(journal.mailed.begin(), journal.mailed.end(), n) != journal.mailed.end())
      continue;
    const std::string name = g + ".m" + std::to_string(n);
    m_mailer.SendEmail(player.name, player.address, subject, body,
                       host.publicationDir + "\\" + g + "\\" + name, name);
    journal.mailed.push_back(n);
    WriteJournal(journalPath, journal);
    if (Stopping()) return;
  }
  if (!journal.reported) {
    m_mailer.SendEmail(hostName, game.hostAddress, "Ventari : jeu " + subject,
                       "génération année " + journal.yearText + " faite, fichiers .M envoyés" +
                           kParagraph + "le robot Ventari de service.",
                       std::nullopt, std::nullopt);
    journal.reported = true;
    WriteJournal(journalPath, journal);
  }
  if (Stopping()) return;
  if (!journal.cachesDeleted) {
    for (const std::string& cache : {YearCachePath(m_records), DeadlineCachePath(m_records)}) {
      if (DeleteFileQuiet(cache) || !FileExists(cache)) continue;
      if (cache == DeadlineCachePath(m_records)) MarkDeadlineStale(cache);
      m_dialogs.ShowMessage("cache file not deleted: " + cache);
    }
    journal.cachesDeleted = true;
    WriteJournal(journalPath, journal);
  }
  DeleteFileQuiet(journalPath);
  LogEvent("info", "generation: year " + journal.yearText + " done");

  SetCurrentDir(state.savedDir);
  m_refresh.Run();
}

}  // namespace ventari
