#include "core/generation.h"

#include <cstdlib>

#include "core/cache_makers.h"
#include "core/game_checks.h"
#include "core/records.h"
#include "core/refresh.h"
#include "mail/mailer.h"
#include "platform/dialogs.h"
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

Generation::Generation(ProgramRecords& records, ProgramRunner& runner, Mailer& mailer,
                       Dialogs& dialogs, AppControl& app, RefreshCycle& refresh,
                       std::string leagueSite)
    : m_records(records),
      m_runner(runner),
      m_mailer(mailer),
      m_dialogs(dialogs),
      m_app(app),
      m_refresh(refresh),
      m_leagueSite(std::move(leagueSite)) {}

void Generation::Run() {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;
  const std::string& g = game.gameName;
  const std::string hostName = g + " human host";
  CheckGameSettings(game);

  state.savedDir = GetCurrentDir();
  SetCurrentDir(host.repJeu + "\\" + g);

  const std::string source = host.repJeu + "/" + g + "/" + g;
  // Without a readable host file no result could be judged: the game is not run at all.
  stars::FileHeader before;
  const bool hostRead = stars::ReadHostHeader(source + ".hst", before);
  const bool started =
      hostRead &&
      m_runner.RunProgram(
          host.binariesDir + "\\" + host.executableName + " -g " + QuoteArgument(g + ".hst"), true);
  if (!started || !TurnGenerated(game, source, before)) {
    m_mailer.SendEmail(hostName, game.hostAddress, "ERREUR Ventari : jeu " + g,
                       "impossible de générer", std::nullopt, std::nullopt);
    EndApplication(
        m_dialogs, m_app,
        hostRead && !started ? "Stars! EXE unlaunchable !!!" : "Stars! turn not generated !!!");
    return;
  }

  const std::string published = host.publicationDir + "/" + g + "/" + g;
  for (int n = 1; n <= game.playerCount; ++n) {
    const std::string suffix = ".m" + std::to_string(n);
    CopyFileOver(source + suffix, published + suffix);  // outcome not looked at
  }
  CopyFileOver(source + ".hst", published + ".hst");

  const std::string body = "génération faite, votre fichier .M est en attachement." +
                           std::string(kParagraph) + "Prochaine DL dans " +
                           std::to_string(game.hoursToDeadline) + "heures." + kParagraph +
                           "Consultez " + m_leagueSite + game.webFolder +
                           "/travail/ventari.php?jeu=" + g + kParagraph + "Ventari Robot";
  const std::string subject = g + " année " + state.yearText;
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);  // row 13 raises the range error
    if (player.isComputer()) continue;
    const std::string name = g + ".m" + std::to_string(n);
    m_mailer.SendEmail(player.name, player.address, subject, body,
                       host.publicationDir + "\\" + g + "\\" + name, name);
  }
  m_mailer.SendEmail(hostName, game.hostAddress, "Ventari : jeu " + subject,
                     "génération année " + state.yearText + " faite, fichiers .M envoyés" +
                         kParagraph + "le robot Ventari de service.",
                     std::nullopt, std::nullopt);

  // The deadline read so far belongs to the turn just generated: no tick may act on it again,
  // nor on a cache of it that stays behind.
  state.deadlineKnown = false;
  state.deadlineCacheTrusted = false;
  for (const std::string& cache : {YearCachePath(m_records), DeadlineCachePath(m_records)}) {
    if (!DeleteFileQuiet(cache) && FileExists(cache))
      m_dialogs.ShowMessage("cache file not deleted: " + cache);
  }

  SetCurrentDir(state.savedDir);
  m_refresh.Run();
}

}  // namespace ventari
